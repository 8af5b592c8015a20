// The shaded surface layer: bands of rows give the layer of the whole grid,
// and samples are lit diffusely by the lights in front of them.
#include <cstring>

#include "render/surface_shading.h"
#include "render_support.h"

namespace {

using render_test::add_light;

class Surfaces : public render_test::RasterTest {
  protected:
    // A model of n x n flat quads between the corners a (low x, low y) and b,
    // camera space being world space.
    static hair_model* grid(const char* name, const kivPoint& a, const kivPoint& b, int n) {
        hair_model* m = mdldb_get_new(0);
        mdldb_set_type(m, MODEL_POLY, name);
        kivPolygons* p = m->polygons();
        p->set_nb_verts((n + 1) * (n + 1));
        for (int j = 0; j <= n; ++j)
            for (int i = 0; i <= n; ++i) {
                const float s = static_cast<float>(i) / n, t = static_cast<float>(j) / n;
                p->set_vert(j * (n + 1) + i, kivPoint(a.x + s * (b.x - a.x), a.y + t * (b.y - a.y),
                                                      a.z + t * (b.z - a.z)));
            }
        p->set_nb_polys(n * n);
        for (int j = 0; j < n; ++j)
            for (int i = 0; i < n; ++i) {
                const int v = j * (n + 1) + i;
                p->set_poly(j * n + i, kivPoly{4, {v, v + 1, v + n + 2, v + n + 1}, {}, {}});
            }
        return m;
    }

    // The layer's samples as bytes: a flag for drawn, then r, g, b.
    static std::vector<float> samples(const surface_layer& s) {
        std::vector<float> out;
        for (int r = 0; r < s.lines(); ++r)
            for (int c = 0; c < s.cols(); ++c) {
                const float* rgb = s.color(r, c);
                out.push_back(rgb != nullptr);
                for (int k = 0; k < 3; ++k) out.push_back(rgb ? rgb[k] : 0.0f);
            }
        return out;
    }

    std::vector<float> shade(std::size_t band_samples, const std::vector<surface_color>& colors) {
        surface_layer s;
        s.set_band_samples(band_samples);
        EXPECT_EQ(s.build(cam_, 0, colors), 1);
        EXPECT_EQ(s.lines(), 48);
        EXPECT_EQ(s.cols(), 64);
        return samples(s);
    }

    // Every band size gives the bytes of the whole grid.
    void expect_bands_match(const char* what) {
        const std::vector<surface_color> colors = {{"floor", kivColor(0.4f, 0.3f, 0.2f)}};
        const std::vector<float> whole = shade(0, colors);
        int drawn = 0, lit = 0;
        for (std::size_t i = 0; i < whole.size(); i += 4) {
            drawn += whole[i] != 0.0f;
            lit += whole[i + 1] > 0.0f;
        }
        EXPECT_GT(drawn, 200) << what;
        EXPECT_GT(lit, 100) << what;
        for (std::size_t band : {std::size_t{64}, std::size_t{7 * 64 + 5}, std::size_t{1000}}) {
            const std::vector<float> got = shade(band, colors);
            ASSERT_EQ(got.size(), whole.size());
            for (std::size_t i = 0; i < got.size(); ++i)
                ASSERT_EQ(std::memcmp(&got[i], &whole[i], sizeof(float)), 0)
                    << what << " band " << band << " sample " << i / 4 % 64 << "," << i / 256;
        }
    }

    void two_lights() {
        // A point light, and a spot whose cone leaves part of the floor dark,
        // lighting the floor twice.
        hair_light* point = add_light(LIGHT_POINT, kivColor(0.3f, 0.5f, 0.7f), {"floor", "card"});
        point->position = kivPoint(-3, 4, 2);
        hair_light* spot =
            add_light(LIGHT_SPOT, kivColor(1, 0.9f, 0.8f), {"floor", "card", "floor"});
        spot->position = kivPoint(2, 1, 0);
        spot->direction = kivVector(0, -0.2f, -1);
        spot->direction.norm();
        spot->cone = 30, spot->penumbra = 10;
    }
};

TEST_F(Surfaces, BandsOfRowsGiveTheWholeGrid) {
    ASSERT_EQ(mdldb_init(3, 0), 1);
    // A tilted floor, a card in front of part of it and one behind it.
    grid("floor", at(-4, 2, -12), at(70, 44, -8), 6);
    grid("card", at(20, 10, -7), at(40, 30, -7), 1);
    grid("behind", at(0, 0, -20), at(64, 48, -20), 2);
    two_lights();
    expect_bands_match("plain");

    // Within a render region as well.
    defs.region_on = 1;
    const int region[4] = {5, 3, 50, 40};
    std::memcpy(defs.region, region, sizeof region);
    expect_bands_match("region");
}

TEST_F(Surfaces, AFineMeshFallsBackToTheWholeGridWithTheSameResult) {
    // More triangles than the grid has room for: the layer stops listing
    // them part way and draws into the whole grid.
    ASSERT_EQ(mdldb_init(1, 0), 1);
    grid("floor", at(-4, -4, -12), at(70, 52, -8), 40);
    two_lights();
    expect_bands_match("fine");
}

TEST_F(Surfaces, LambertUnderAnInfiniteLightFromTheSideFacingTheEye) {
    ASSERT_EQ(mdldb_init(2, 0), 1);
    // A quad facing the eye and one facing away (its corners run the other
    // way): both show the side towards the eye.
    grid("card", at(4, 4), at(24, 24), 1);
    grid("back", at(50, 4), at(30, 24), 1);
    const kivColor c(0.5f, 0.25f, 1.0f);
    hair_light* l = add_light(LIGHT_INFINITE, kivColor(0.8f, 0.6f, 0.4f), {"card", "back", "back"});
    l->direction = kivVector(0, 3, 4);  // unnormalised: the shading takes the unit vector
    surface_layer s;
    ASSERT_EQ(s.build(cam_, 0, {{"card", c}, {"back", c}}), 1);
    for (int col : {6, 15, 40}) {
        const float* rgb = s.color(12, col);
        ASSERT_NE(rgb, nullptr) << col;
        const float times = col < 25 ? 1.0f : 2.0f;
        EXPECT_NEAR(rgb[0], 0.8f * 0.8f * 0.5f * times, 1e-5) << col;
        EXPECT_NEAR(rgb[1], 0.6f * 0.8f * 0.25f * times, 1e-5) << col;
        EXPECT_NEAR(rgb[2], 0.4f * 0.8f * 1.0f * times, 1e-5) << col;
    }
    EXPECT_EQ(s.color(12, 60), nullptr);
    EXPECT_EQ(s.color(40, 6), nullptr);

    // A light behind the surfaces leaves them black but drawn.
    l->direction = kivVector(0, 0, -1);
    ASSERT_EQ(s.build(cam_, 0, {}), 1);
    for (int col : {6, 40}) {
        const float* rgb = s.color(12, col);
        ASSERT_NE(rgb, nullptr);
        EXPECT_EQ(rgb[0] + rgb[1] + rgb[2], 0.0f) << col;
    }
}

}  // namespace
