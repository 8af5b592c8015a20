#include "render/lighting.h"

#include <cstring>

#include "render_support.h"

namespace {

constexpr float kDeg = 0.017453292f;
const kivPoint kP(0, 0, -10);

// Lights (render_test::add_light) are linked to the model being haired,
// "skin", and light hairs of the description "fur".
class Lights : public render_test::RasterTest {
  protected:
    void SetUp() override {
        RasterTest::SetUp();
        hs_.params = fur_;
        defs.model_name = "skin";
    }
    // Diffuse and specular light of the segment at P along T (normal +y).
    std::vector<kivColor> Light(const kivPoint& P, const kivVector& T, int model = 2) {
        hs_.params->light_model = model;
        std::vector<kivColor> out(2, kivColor(9, 9, 9, 9));
        lgtdb_calc_hair_lighting(P, T, kivVector(0, 1, 0), &hs_, out.data(), 0, 0.5f);
        return out;
    }
    hair_state hs_;
};

// c against s × e.
void ExpectColor(const kivColor& c, float s, const kivColor& e, const std::string& what) {
    const float d[] = {c.r - s * e.r, c.g - s * e.g, c.b - s * e.b, c.a - s * e.a};
    for (float x : d) EXPECT_NEAR(x, 0.0f, 1e-5) << what;
}

// p × m for a row vector (w = 1 for points, 0 for directions), in double.
std::vector<double> mul(const std::vector<double>& p, const kivMatrix& m, double w) {
    std::vector<double> r(3);
    for (int j = 0; j < 3; ++j)
        r[j] = p[0] * m.m[j] + p[1] * m.m[4 + j] + p[2] * m.m[8 + j] + w * m.m[12 + j];
    return r;
}

}  // namespace

TEST_F(Lights, SpotConePenumbraDropoffAndFalloff) {
    // A spot at the origin looking down −z with a cone of 20, a point at 5
    // units in the penumbra, without and with the dropoff 0.6 × cos(2 × 22
    // × 22 ÷ 1260)² (the cone and penumbra everywhere: the test below).
    // {penumbra, dropoff, angle, multiplier}
    const float cases[][4] = {{5, 0, 22, 0.6f}, {5, 2, 22, 0.3102845f}};
    hair_light l;
    l.type = LIGHT_SPOT, l.direction = kivVector(0, 0, -1), l.cone = 20;
    for (const auto& c : cases) {
        l.penumbra = c[0], l.dropoff = c[1];
        const kivPoint P(5 * std::sin(c[2] * kDeg), 0, -5 * std::cos(c[2] * kDeg));
        EXPECT_NEAR(l.lighting(P, kivVector(0, 1, 0), 0), c[3], 1e-4) << c[0] << " " << c[2];
    }
    // Falloff codes −1, −2, −3 and linear ranges: {flags, start, end, distance, multiplier}
    const float falloffs[][5] = {
        {1, -1, 0, 2, 0.5f},   {1, -3, 0, 2, 0.125f}, {0, -2, 0, 2, 1},   {1, -4, 0, 2, 1},
        {1, 10, 20, 15, 0.5f}, {1, 10, 20, 20, 0},    {1, 10, 20, 10, 1}, {1, 10, 10, 11, 0},
    };
    for (const auto& c : falloffs) {
        l.flags = static_cast<int>(c[0]), l.falloff_start = c[1], l.falloff_end = c[2];
        EXPECT_FLOAT_EQ(l.falloff_mult(1, c[3]), c[4]) << c[0] << " " << c[1] << " " << c[3];
    }
}

// Points in every direction around a spot, half of them at the edge of its
// cone of full strength give or take a little: the multiplier is that of
// the cone and penumbra worked out from the angle, bit for bit.
TEST_F(Lights, SpotMultiplierMatchesTheAngleEverywhere) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> u(-1, 1);
    hair_light l;
    l.type = LIGHT_SPOT, l.direction = kivVector(0.3f, -0.2f, -1);
    const float shapes[][2] = {{20, 5}, {20, -5}, {30, 0}, {0.5f, 0}, {0, 4}, {170, 20}};
    for (const auto& sh : shapes) {
        l.cone = sh[0], l.penumbra = sh[1];
        const double cone = l.cone, pen = l.penumbra, inner = pen >= 0 ? cone : l.cone + l.penumbra;
        const double outer = pen >= 0 ? l.cone + l.penumbra : cone;
        for (int i = 0; i < 4000; ++i) {
            const float a = static_cast<float>(inner * kDeg) * (1 + 1e-4f * u(rng));
            kivVector D =
                i % 2 ? kivVector(std::sin(a), 0, -std::cos(a)) : kivVector(u(rng), u(rng), u(rng));
            const kivPoint P(D.x, D.y, D.z);
            D.norm();  // as the light measures the way to P
            const double c = double(D * l.direction) /
                             std::sqrt(double(D.sqrd_length()) * l.direction.sqrd_length());
            const double angle =
                acosf(static_cast<float>(std::min(1.0, std::max(-1.0, c)))) * 57.29578;
            const double m = angle >= outer ? 0
                             : angle > inner
                                 ? (angle - cone) / pen * (pen >= 0 ? -1 : 1) + (pen >= 0 ? 1 : 0)
                                 : 1;
            ASSERT_EQ(l.calc_spot_light_mult(kivPoint(0, 0, 0), P, kivVector(0, 1, 0)), float(m))
                << sh[0] << " " << sh[1] << " " << i;
        }
    }
}

// Light space → world (the light's matrix) → camera (lgtdb_xform's M):
// positions move, directions turn, area samples go through both.
TEST_F(Lights, LightsAndAreaSamplesGoToCameraSpace) {
    const kivMatrix M(0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1);  // quarter turn, move
    const kivMatrix L(2, 0, 0, 0, 0, 0, 2, 0, 0, -2, 0, 0, 10, 20, 30, 1);
    const int types[] = {LIGHT_SPOT, LIGHT_POINT, LIGHT_INFINITE, LIGHT_POINT_AREA};
    for (int type : types) {
        hair_light* l = render_test::add_light(type);
        l->position = kivPoint(1, 0, 5), l->direction = kivVector(2, 0, 1), l->matrix = L;
        l->area_shape = AREA_RECT, l->area_usamples = l->area_vsamples = 2;
    }
    lgtdb_xform(M, 0);
    lgtdb_calc_simple_area_lights(0);
    const std::vector<double> p = mul({1, 0, 5}, M, 1), d = mul({2, 0, 1}, M, 0);
    for (int i = 0; i < 4; ++i) {
        const hair_light* l = lgtdb_get_index(i, 0);
        expect_near(l->position, kivVector(p[0], p[1], p[2]), 1e-5f, "position");
        const double n = i == 1 ? 1 : std::sqrt(5.0);  // a point light keeps its direction
        expect_near(l->direction,
                    i == 1 ? kivVector(2, 0, 1) : kivVector(d[0] / n, d[1] / n, d[2] / n), 1e-5f,
                    "direction");
    }
    // Sample i × 2 + j of the 2 × 2 rectangle lies at (2i − 1, 2j − 1, 0).
    const hair_light* area = lgtdb_get_index(3, 0);
    ASSERT_EQ(area->samples_size, 4);
    for (int s = 0; s < 4; ++s) {
        const std::vector<double> q =
            mul(mul({2.0 * (s / 2) - 1, 2.0 * (s % 2) - 1, 0}, L, 1), M, 1);
        expect_near(area->samples[s], kivVector(q[0], q[1], q[2]), 1e-4f, std::to_string(s));
    }
}

TEST_F(Lights, LinksAndTheLightModelDecideWhatAHairGets) {
    // Link names, link_count (−1: one per name) and how many times the
    // light lights "skin".
    const struct {
        std::vector<const char*> links;
        int link_count;
        float times;
    } cases[] = {{{}, 0, 0},
                 {{"rock"}, -1, 0},
                 {{"skin"}, -1, 1},
                 {{"skin", "skin"}, -1, 2},
                 {{"rock", "skin"}, -1, 1},
                 {{"skin"}, 3, 1}};
    const kivColor quarter(0.25f, 0.25f, 0.25f, 1);
    for (const auto& c : cases) {
        hair_light* l = render_test::add_light(LIGHT_INFINITE, quarter, c.links);
        if (c.link_count >= 0) l->set_link_count(c.link_count);
        ExpectColor(Light(kP, kivVector(1, 0, 0), 1)[0], 0.25f * c.times, kivColor(1, 1, 1, 4),
                    std::to_string(c.times));
        lgtdb_cleanup();
    }
    render_test::add_light(LIGHT_INFINITE);
    defs.model_name = nullptr;
    ExpectColor(Light(kP, kivVector(1, 0, 0), 1)[0], 0, quarter, "no model");
    lgtdb_cleanup();

    // Each light model's share of diffuse and specular light.
    defs.model_name = "skin";
    hair_light* l = render_test::add_light(LIGHT_POINT, kivColor(1, 0.5f, 0.25f));
    l->position = kivPoint(0, 10, -10);
    const kivVector T(0.6f, 0, 0.8f);  // sharpness 5: specular 0.6^5
    const float s = std::pow(0.6f, 5.0f);
    const kivColor c(1, 0.5f, 0.25f, 1);
    // {light model, diffuse and specular scale}
    const float models[][3] = {{0, 0, 0}, {1, 1, 0}, {2, 1, s}, {3, 0, s}, {4, 0, 0}};
    for (const auto& m : models) {
        const std::vector<kivColor> out = Light(kP, T, static_cast<int>(m[0]));
        ExpectColor(out[0], m[1], c, "diffuse " + std::to_string(m[0]));
        ExpectColor(out[1], m[2], c, "specular " + std::to_string(m[0]));
    }
    defs.shadows.shadow_pass = 1;  // nothing is written
    ExpectColor(Light(kP, T, 1)[0], 9, kivColor(1, 1, 1, 1), "shadow pass");
}

// The shadow matrix takes world points (shadow pass) or camera points (use
// of the maps) to the light's space, where the light sits at the origin
// looking down −z; the view angle is the cone and penumbra or the map's.
TEST_F(Lights, ShadowMatricesTakePointsIntoTheLightsSpace) {
    hair_light* key = render_test::add_light(LIGHT_SPOT, kivColor(1, 0.5f, 0));
    key->name = names_add("key");
    key->cone = 20, key->penumbra = 10;
    key->matrix = kivMatrix(0, 0, 1, 0, 0, 1, 0, 0, -1, 0, 0, 0, 4, 5, 6, 1);  // light → world
    MapParams params;
    init_mapparams(&params);
    assdb_set_shadmap_params(key->name, params);
    ShadowMapInfo entries[2];
    entries[1].params.map.cone = 45;
    defs.shadows.entries = entries, defs.shadows.count = 2;
    const kivMatrix C(0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 1, -2, -10, 1);  // world → camera
    const kivMatrix world = lgtdb_get_new_shadow_matrix("key", 0, 0, C);
    defs.shadows.use_shadows = 1;
    const kivMatrix camera = lgtdb_get_new_shadow_matrix("key", 1, 0, C);
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> u(-20, 20);
    for (int i = 0; i < 20; ++i) {
        const std::vector<double> light = {u(rng), u(rng), u(rng)};
        const std::vector<double> w = mul(light, key->matrix, 1), c = mul(w, C, 1);
        const std::vector<double> a = mul(w, world, 1), b = mul(c, camera, 1);
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(a[k], light[k], 1e-3) << i;
            EXPECT_NEAR(b[k], light[k], 1e-3) << i;
        }
    }
    EXPECT_EQ(entries[0].params.angle * 100 + entries[1].params.angle, 3045.0f);
    EXPECT_NEAR(entries[0].proj_scale, 0.5f / std::tan(30 * kDeg), 1e-5);
    EXPECT_TRUE(entries[0].light == key && entries[1].light == key);
}

// Light model 2 gives each light's own diffuse() and specular(), bit for
// bit: spot, point and infinite lights, points near the light and far.
TEST_F(Lights, ModelTwoIsTheLightsOwnDiffuseAndSpecular) {
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> u(-1.0f, 1.0f);
    for (int type : {LIGHT_SPOT, LIGHT_POINT, LIGHT_INFINITE}) {
        hair_light* l = render_test::add_light(type, kivColor(1, 0.5f, 0.25f));
        l->position = kivPoint(1, 2, -3), l->direction = kivVector(0.6f, -0.8f, 0), l->cone = 70;
        for (int i = 0; i < 400; ++i) {
            kivVector T(u(rng), u(rng), u(rng));
            T.norm();
            const kivPoint P = l->position + kivPoint(u(rng), u(rng), u(rng)) * (i % 4 ? 6 : 2e-5f);
            const float I = l->lighting(P, kivVector(0, 1, 0), 0.5f), e = fur_->sharpness.eval(hs_);
            kivColor want[2] = {l->diffuse(P, T, I), l->specular(P, T, I, e)};
            if (!(I > 0.0f) || std::isnan(want[0].r + want[0].g + want[1].r + want[1].g))
                want[0] = want[1] = kivColor();
            ASSERT_EQ(std::memcmp(Light(P, T, 2).data(), want, sizeof want), 0) << type << " " << i;
        }
        lgtdb_cleanup();
    }
}
