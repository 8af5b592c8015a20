#include "render/lighting.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "descriptions/assign_db.h"
#include "descriptions/hair_params.h"
#include "render/render_support.h"
#include "render/shadow_map.h"

namespace {

constexpr float kDeg = 0.017453292f;
const kivPoint kP(0, 0, -10);

// A name table, a "fur" description and a light list (of 4, made on the
// first Make); lights are linked to the model being haired, "skin".
class Lights : public render_test::SettingsTest {
  protected:
    void SetUp() override {
        SettingsTest::SetUp();
        ASSERT_EQ(names_init(64), 1);
        hs_.params = hair_params_list_add(names_add("fur"));
        defs.model_name = "skin";
    }
    void TearDown() override {
        lgtdb_cleanup();
        hair_params_list_clear();
        names_done();
        SettingsTest::TearDown();
    }

    static hair_light* Make(int type, const kivColor& c = kivColor(1, 1, 1),
                            std::vector<const char*> links = {"skin"}) {
        if (lgtdb_count() == 0) lgtdb_init(4, 0);
        hair_light* l = lgtdb_get_new(0);
        l->type = type;
        l->color = c;
        l->direction = kivVector(0, 1, 0);
        l->set_link_count(static_cast<int>(links.size()));
        for (const char* n : links) l->add_link(names_add(n));
        return l;
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

bool has_nan_component(const kivColor& c) {
    return std::isnan(c.r) || std::isnan(c.g) || std::isnan(c.b) || std::isnan(c.a);
}

// c against (r, g, b, a) = s × (rgb, a).
void ExpectColor(const kivColor& c, float s, const kivColor& e, const std::string& what) {
    const float d[] = {c.r - s * e.r, c.g - s * e.g, c.b - s * e.b, c.a - s * e.a};
    for (float x : d) EXPECT_NEAR(x, 0.0f, 1e-5) << what;
}

}  // namespace

// --- Intensity -------------------------------------------------------------------------------

TEST_F(Lights, SpotConePenumbraDropoffAndFalloff) {
    // A spot at the origin looking down -z with a cone of 20, points at 5
    // units, with the edges of the cone and the penumbra (outside or inside
    // the cone); the last case has the dropoff 0.6 x cos(2 x 22 x 22 / 1260)^2.
    // {penumbra, dropoff, angle, multiplier}
    const float cases[][4] = {{5, 0, 22, 0.6f},      {5, 0, 25, 0},  {5, 0, 20, 1},
                              {-5, 0, 17, 0.6f},     {-5, 0, 15, 1}, {-5, 0, 20, 0},
                              {5, 2, 22, 0.3102845f}};
    hair_light l;
    l.type = LIGHT_SPOT;
    l.direction = kivVector(0, 0, -1);
    l.cone = 20;
    for (const auto& c : cases) {
        l.penumbra = c[0];
        l.dropoff = c[1];
        const kivPoint P(5 * std::sin(c[2] * kDeg), 0, -5 * std::cos(c[2] * kDeg));
        EXPECT_NEAR(l.lighting(P, kivVector(0, 1, 0), 0), c[3], 1e-4) << c[0] << " " << c[2];
    }
    // The dropoff constant is 22 / 1260 per degree, not pi / 180.
    l.dropoff = 3;
    EXPECT_NEAR(l.dropoff_mult(1, 30), 0.12473f, 2e-5);
    // Back-face culling: a light pointing along the root normal gives 0.
    defs.backface = true;
    EXPECT_EQ(l.lighting(kivPoint(0, 0, -5), kivVector(0, 0, -1), 0), 0.0f);
    EXPECT_GT(l.lighting(kivPoint(0, 0, -5), kivVector(0, 0, 1), 0), 0.0f);

    // Falloff codes -1, -2, -3 and linear ranges: {flags, start, end, distance, multiplier}
    const float falloffs[][5] = {
        {1, -1, 0, 2, 0.5f}, {1, -2, 0, 2, 0.25f},  {1, -3, 0, 2, 0.125f}, {0, -2, 0, 2, 1},
        {1, -4, 0, 2, 1},    {1, 10, 20, 15, 0.5f}, {1, 10, 20, 20, 0},    {1, 10, 20, 25, 0},
        {1, 10, 20, 10, 1},  {1, 10, 20, 3, 1},     {0, 10, 20, 25, 1},    {1, 10, 10, 11, 0},
    };
    for (const auto& c : falloffs) {
        l.flags = static_cast<int>(c[0]);
        l.falloff_start = c[1];
        l.falloff_end = c[2];
        EXPECT_FLOAT_EQ(l.falloff_mult(1, c[3]), c[4]) << c[0] << " " << c[1] << " " << c[3];
    }
}

// --- Area lights -------------------------------------------------------------------------------

TEST_F(Lights, AreaSamplePositionsNearestSampleAndIntensity) {
    // Sample i x nv + j at s = i / (nu - 1), u = j / (nv - 1), or 0.5 for
    // one sample; the disc has rings of radius s, one ring of radius 0.5;
    // unknown shapes keep the previous point.
    // Shape, usamples, vsamples, sample index and its light-space point.
    const float R = AREA_RECT, P = AREA_POINT, D = AREA_DISC, S = AREA_SPHERE, c1 = 0.4330127f;
    const float cases[][7] = {{R, 2, 2, 1, -1, 1, 0},      {R, 3, 2, 3, 0, 1, 0},
                              {R, 1, 1, 0, 0, 0, 0},       {P, 2, 2, 3, 0, 0, 0},
                              {D, 1, 4, 1, -0.25f, c1, 0}, {D, 2, 4, 4, 1, 0, 0},
                              {S, 4, 2, 1, 0, 0, -1},      {S, 4, 2, 2, -c1, -0.8660254f, -0.25f},
                              {7, 2, 2, 3, 0, 0, 0}};
    hair_light* l = Make(LIGHT_POINT_AREA);
    l->matrix = kivMatrix(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 10, 20, 30, 1);
    lgtdb_xform(kivMatrix(), 0);
    for (const auto& c : cases) {
        l->area_shape = static_cast<int>(c[0]);
        l->area_usamples = static_cast<int>(c[1]);
        l->area_vsamples = static_cast<int>(c[2]);
        lgtdb_calc_simple_area_lights(0);
        ASSERT_EQ(l->samples_size, l->area_usamples * l->area_vsamples);
        const kivPoint expected(c[4] + 10, c[5] + 20, c[6] + 30);
        EXPECT_EQ(kivVector(l->samples[static_cast<int>(c[3])], expected).length(), 0.0f)
            << c[0] << " " << c[1] << " " << c[3];
    }

    // Light vectors go to the nearest sample: to sample 3 (1, 1), to sample
    // 1 (-1, 1), and to sample 0 when all four are as near.
    l->matrix = kivMatrix();
    l->area_matrix = kivMatrix();
    l->type = LIGHT_SPOT_AREA;
    l->area_shape = AREA_RECT;
    l->area_usamples = l->area_vsamples = 2;
    lgtdb_calc_simple_area_lights(0);
    const float nearest[][6] = {
        {0.9f, 0.8f, 5, 0.1f, 0.2f, -5}, {-2, 0.5f, 0, 1, 0.5f, 0}, {0, 0, 5, -1, -1, -5}};
    for (const auto& c : nearest) {
        const kivVector L = l->light_vector(kivPoint(c[0], c[1], c[2]));
        EXPECT_EQ((L - kivVector(c[3], c[4], c[5])).length(), 0.0f) << c[0];
    }
    // Intensity: a 1 x 2 rectangle at (0, -1, 0) and (0, 1, 0), facing -z.
    l->type = LIGHT_POINT_AREA;
    l->area_usamples = 1;
    l->area_vsamples = 2;
    l->direction = kivVector(0, 0, -1);
    lgtdb_calc_simple_area_lights(0);
    // Both samples face the point; |V . N| with N along -z is 1 / sqrt(2).
    EXPECT_NEAR(l->lighting(kivPoint(0, 0, -1), kivVector(0, 0, 1), 0), 0.7071068f, 1e-5);
    // Behind the light: nothing, though both count in the divisor.
    EXPECT_EQ(l->lighting(kivPoint(0, 0, 1), kivVector(0, 0, 1), 0), 0.0f);
    // A spot area light averages the spot factor over its samples.
    l->type = LIGHT_SPOT_AREA;
    l->cone = 30;
    EXPECT_NEAR(l->lighting(kivPoint(0, 1, -1), kivVector(0, 1, 0), 0), 0.5f, 1e-5);
}

// --- Hair terms --------------------------------------------------------------------------------

TEST_F(Lights, DiffuseAcrossTheTangentAndSpecularSignRule) {
    hair_light* l = Make(LIGHT_POINT, kivColor(0.5f, 1, 0.25f));
    l->position = kivPoint(0, 10, -10);
    const kivColor c(0.5f, 1, 0.25f, 1);
    ExpectColor(l->diffuse(kP, kivVector(0, 1, 0), 2), 0, c, "along");
    ExpectColor(l->diffuse(kP, kivVector(1, 0, 0), 2), 2, c, "across");
    ExpectColor(l->diffuse(kP, kivVector(0, 0.6f, 0.8f), 1), 0.8f, c, "between");
    l->type = LIGHT_POINT_AREA;  // no angle term
    ExpectColor(l->diffuse(kP, kivVector(0, 1, 0), 2), 2, c, "point area");

    // Specular: the eye looks at Q = (5, 0, -10); T along x: -T . E = 0.447.
    l->type = LIGHT_POINT;
    l->color = kivColor(1, 0.5f, 0.25f);
    const kivColor s(1, 0.5f, 0.25f, 1);
    const kivPoint Q(5, 0, -10);
    const kivVector T(1, 0, 0);
    l->position = Q + kivPoint(-1, 0, 1);  // T . L < 0: opposite signs
    ExpectColor(l->specular(Q, T, 1, 2), 0, s, "opposite");
    l->position = Q + kivPoint(1, 0, 1);  // cos(63.43 - 45 degrees)^2 = 0.9
    ExpectColor(l->specular(Q, T, 2, 2), 1.8f, s, "same side");
    // Both negative: the same angles.
    ExpectColor(l->specular(Q, kivVector(-1, 0, 0), 1, 1), 0.9486833f, s, "both negative");
}

// --- Segments ----------------------------------------------------------------------------------

TEST_F(Lights, LinksDecideWhichHairsALightLights) {
    // Link names, link_count (-1: one per name; empty entries end the
    // list) and how many times the light lights "skin".
    struct Case {
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
    for (const Case& c : cases) {
        hair_light* l = Make(LIGHT_INFINITE, quarter, c.links);
        if (c.link_count >= 0) l->set_link_count(c.link_count);
        const kivColor d = Light(kP, kivVector(1, 0, 0), 1)[0];
        ExpectColor(d, 0.25f * c.times, kivColor(1, 1, 1, 4), std::to_string(c.times));
        lgtdb_cleanup();
    }
    // No model name, no light.
    Make(LIGHT_INFINITE);
    defs.model_name = nullptr;
    ExpectColor(Light(kP, kivVector(1, 0, 0), 1)[0], 0, quarter, "no model");
}

// A spot light with a non-integer dropoff gives NaN beyond 45 degrees off
// its axis: it contributes nothing, the other lights still light the hair,
// and verbose mode says so once.
TEST_F(Lights, LightWithoutANumberContributesNothing) {
    const kivColor quarter(0.25f, 0.25f, 0.25f, 1);
    Make(LIGHT_INFINITE, quarter);
    hair_light* spot = Make(LIGHT_SPOT);
    spot->name = names_add("spot");
    spot->cone = 80, spot->penumbra = 0, spot->dropoff = 2.5f;
    // The hair at kP lies 60 degrees off the spot's axis (+y).
    spot->position = kP - kivVector(std::sin(60 * kDeg), std::cos(60 * kDeg), 0) * 5.0f;
    ASSERT_TRUE(std::isnan(spot->lighting(kP, kivVector(0, 1, 0), 0)));
    opt_flags = 3;
    std::vector<kivColor> out;
    const std::string said = captured([&] {
        out = Light(kP, kivVector(1, 0, 0), 2);
        Light(kP, kivVector(1, 0, 0), 2);
    });
    ExpectColor(out[0], 0.25f, kivColor(1, 1, 1, 4), "the infinite light alone");
    EXPECT_FALSE(has_nan_component(out[1]));
    EXPECT_EQ("WARNING: light spot gives a value that is not a number; it contributes nothing\n",
              said);
    // At 30 degrees the same light is a number and lights the hair.
    spot->position = kP - kivVector(std::sin(30 * kDeg), std::cos(30 * kDeg), 0) * 5.0f;
    EXPECT_GT(Light(kP, kivVector(1, 0, 0), 1)[0].r, 0.25f + 1e-3f);
}

TEST_F(Lights, LightModelsAndTheShadowPass) {
    hair_light* l = Make(LIGHT_POINT, kivColor(1, 0.5f, 0.25f));
    l->position = kivPoint(0, 10, -10);
    const kivVector T(0.6f, 0, 0.8f);  // sharpness 5: specular 0.6^5
    const float s = std::pow(0.6f, 5.0f);
    const kivColor c(1, 0.5f, 0.25f, 1);
    // {light model, diffuse and specular scale}
    const float cases[][3] = {{0, 0, 0}, {1, 1, 0}, {2, 1, s}, {3, 0, s}, {4, 0, 0}};
    for (const auto& m : cases) {
        const std::vector<kivColor> out = Light(kP, T, static_cast<int>(m[0]));
        ExpectColor(out[0], m[1], c, "diffuse " + std::to_string(m[0]));
        ExpectColor(out[1], m[2], c, "specular " + std::to_string(m[0]));
    }
    // During the shadow pass nothing is written.
    defs.shadows.shadow_pass = 1;
    ExpectColor(Light(kP, T, 1)[0], 9, kivColor(1, 1, 1, 1), "shadow pass");
}

TEST_F(Lights, ClampingFromTheEnvironment) {
    // The flag is never cleared, so it is set in a child process only.
    EXPECT_EXIT(
        {
            setenv("KORVO_FUR_LIGHT_CLAMPING", "", 1);
            for (int i = 0; i < 2; ++i) Make(LIGHT_INFINITE, kivColor(0.85f, 0.5f, 0.6f));
            const kivColor d = Light(kP, kivVector(1, 0, 0), 1)[0];
            std::exit(
                d.r == 1.0f && std::fabs(d.g - 1.0f) < 1e-6 && d.b == 1.0f && d.a == 2.0f ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
    // Here the sum stays unclamped.
    for (int i = 0; i < 2; ++i) Make(LIGHT_INFINITE, kivColor(0.85f, 0.5f, 0.6f));
    EXPECT_FLOAT_EQ(Light(kP, kivVector(1, 0, 0), 1)[0].r, 1.7f);
}

// --- Lists ---------------------------------------------------------------------------------------

TEST_F(Lights, ListsMotionBlurListAndXform) {
    ASSERT_EQ(lgtdb_init(2, 0), 1);
    lgtdb_get_new(0)->name = names_add("a");
    EXPECT_EQ(captured([] { EXPECT_EQ(lgtdb_init(3, 1), 0); }),
              "ERROR: 3 motion blur lights, 2 lights\n");
    // Growing keeps the records handed out, with their names.
    ASSERT_EQ(lgtdb_init(2, 0), 1);
    EXPECT_EQ(std::to_string(lgtdb_count()) + lgtdb_get_index(0, 0)->name->name, "4a");
    EXPECT_EQ(lgtdb_get_new(0), lgtdb_get_index(1, 0));
    // The motion-blur list gets count records and restarts the fill index.
    ASSERT_EQ(lgtdb_init(1, 1), 1);
    EXPECT_EQ(lgtdb_get_new(1), lgtdb_get_index(0, 1));
    for (int i = 0; i < 4; ++i) EXPECT_EQ(lgtdb_get_new(1) == nullptr, i == 3) << i;
    EXPECT_EQ(lgtdb_init(2, 1), 1) << "an existing list is kept";

    // A quarter turn about z, then a move by (1, 2, 3): positions and
    // directions (not a point light's), and matrix x M for area lights.
    const kivMatrix M(0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1);
    const int types[] = {LIGHT_SPOT, LIGHT_POINT, LIGHT_INFINITE, LIGHT_POINT_AREA};
    for (int i = 0; i < 4; ++i) {
        hair_light* l = lgtdb_get_index(i, 0);
        l->type = types[i];
        l->position = kivPoint(1, 0, 0);
        l->direction = kivVector(2, 0, 0);
        l->matrix = kivMatrix(2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1);
    }
    lgtdb_xform(M, 0);
    for (int i = 0; i < 4; ++i) {
        const hair_light* l = lgtdb_get_index(i, 0);
        EXPECT_EQ(kivVector(l->position), kivVector(1, 3, 3)) << i;
        EXPECT_EQ(l->direction, i == 1 ? kivVector(2, 0, 0) : kivVector(0, 1, 0)) << i;
    }
    const kivMatrix& A = lgtdb_get_index(3, 0)->area_matrix;
    EXPECT_EQ((std::vector<float>{A.m[1], A.m[12], lgtdb_get_index(0, 0)->area_matrix.m[1]}),
              (std::vector<float>{2, 1, 0}));
    lgtdb_cleanup();
    EXPECT_TRUE(lgtdb_count() == 0 && !lgtdb_get_new(0) && !lgtdb_get_index(0, 1));
}

// --- Exclusion, checks, shadows, dump --------------------------------------------------------

TEST_F(Lights, ShadowHooksChecksExclusionAndDump) {
    ASSERT_EQ(assdb_init(16), 1);
    hair_light* key = Make(LIGHT_SPOT, kivColor(1, 0.5f, 0));
    key->name = names_add("key");
    key->direction = kivVector(0, 0, 0);
    key->cone = 20;
    key->penumbra = 10;
    key->flags = LIGHT_HAS_FALLOFF;
    key->falloff_start = -2;
    key->matrix = kivMatrix(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 5, 0, 1);
    hair_light* fill = Make(LIGHT_POINT);
    fill->name = names_add("fill");
    MapParams params;
    init_mapparams(&params);
    assdb_set_shadmap_params(key->name, params);

    // Shadow entries: view angle (the light's, or the map's cone),
    // projection scale, and the matrix from world or camera space.
    ShadowMapInfo entries[2];
    entries[1].params.map.cone = 45;
    defs.shadows.entries = entries;
    defs.shadows.count = 2;
    const kivMatrix world = lgtdb_get_new_shadow_matrix("key", 0, 0, kivMatrix());
    defs.shadows.use_shadows = 1;
    const kivMatrix camera(1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, -10, 1);
    const kivMatrix used = lgtdb_get_new_shadow_matrix("key", 1, 0, camera);
    EXPECT_EQ((std::vector<float>{world.m[13], world.m[14], used.m[13], used.m[14],
                                  entries[0].params.angle, entries[1].params.angle}),
              (std::vector<float>{-5, 0, -5, 10, 30, 45}));
    EXPECT_NEAR(entries[0].proj_scale, 0.5f / std::tan(30 * kDeg), 1e-5);
    EXPECT_NEAR(entries[1].proj_scale, 0.5f, 1e-5);
    EXPECT_TRUE(entries[0].light == key && entries[1].light == key);
    lgtdb_set_smap_index("key", 1, 0);
    EXPECT_EQ(key->smap_index, 1);

    // Excluded from the hair render (not from the shadow pass), fill
    // becomes a null light.
    assdb_exclude_hair_render(fill->name);
    const std::string out = captured([&] {
        EXPECT_EQ(lgtdb_get_shadowmap_light("fill", 0, 0), 0);
        EXPECT_EQ(lgtdb_get_shadowmap_light("none", 0, 0), 0);
        lgtdb_check_defs(0);
        lgtdb_check_exclude(1);
        EXPECT_EQ(fill->type, LIGHT_POINT);
        lgtdb_check_exclude(0);
        EXPECT_TRUE(fill->type == LIGHT_NULL && !fill->name && key->type == LIGHT_SPOT);
        lgtdb_dump(0);
        lgtdb_dump(1);
    });
    EXPECT_EQ(
        out,
        "***** Only spot light shadow maps are currently supported.\n***** Could not find "
        "light named: none.\nWARNING: light (fill) not defined in .hair file!\nnb_lights 4\n"
        "light spot \"key\" {\n    color 1.000000 0.500000 0.000000\n    position 0.000000 "
        "0.000000 0.000000\n    direction 0.000000 0.000000 0.000000\n    angles 20.000000 "
        "10.000000\n    falloff -2.000000 0.000000\n}\nlight null \"noname\" { }\nlight null "
        "\"noname\" { }\nlight null \"noname\" { }\nnb_lights 4\nERROR: invalid light list\n");
    assdb_done();
}
