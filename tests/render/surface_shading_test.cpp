// The shaded surface layer: bands of rows give the layer of the whole grid;
// the samples the hair hides are left black; a pixel is lit once for each
// surface it shows.
#include <algorithm>
#include <cstring>

#include "render/surface_shading.h"
#include "render_support.h"

namespace {

using render_test::add_fragment;
using render_test::add_light;

class Surfaces : public render_test::RasterTest {
  protected:
    // A model of n x n flat quads from corner a (low x, low y) to b, z
    // changing with y; camera space is world space.
    static void grid(const char* name, const kivPoint& a, const kivPoint& b, int n) {
        std::vector<kivPoint> pts;
        std::vector<face> quads;
        for (int v = 0; v < (n + 1) * (n + 1); ++v) {
            const float s = float(v % (n + 1)) / n, t = float(v / (n + 1)) / n;
            pts.push_back({a.x + (b.x - a.x) * s, a.y + (b.y - a.y) * t, a.z + (b.z - a.z) * t});
        }
        for (int q = 0; q < n * n; ++q) {
            const int v = q + q / n;
            quads.push_back({4, {v, v + 1, v + n + 2, v + n + 1}});
        }
        poly_model(name, pts, quads);
    }

    // Drawn or not and r, g, b of every sample, built with bands of the size
    // and pixels of unit x unit samples.
    std::vector<float> shade(std::size_t band_samples, bool skip_hidden = false, int unit = 1) {
        surface_layer s;
        s.set_band_samples(band_samples);
        EXPECT_EQ(s.build(cam_, 0, colors_, skip_hidden, unit), 1);
        std::vector<float> out;
        for (int i = 0; i < 48 * 64; ++i) {
            const float* rgb = s.color(i / 64, i % 64);
            out.insert(out.end(),
                       {rgb ? 1.0f : 0.0f, rgb ? rgb[0] : 0, rgb ? rgb[1] : 0, rgb ? rgb[2] : 0});
        }
        return out;
    }

    // Every band size gives the bytes of the whole grid, which has lit
    // samples, for every size of pixel.
    void expect_bands_match(const char* what) {
        for (int unit : {1, 2, 3}) expect_bands_match(what, unit);
    }
    void expect_bands_match(const char* what, int unit) {
        const std::vector<float> whole = shade(0, false, unit);
        int lit = 0;
        for (std::size_t i = 0; i < whole.size(); i += 4) lit += whole[i + 1] > 0.0f;
        EXPECT_GT(lit, 100) << what;
        for (std::size_t band : {64, 7 * 64 + 5, 1000}) {
            const std::vector<float> got = shade(band, false, unit);
            for (std::size_t i = 0; i < got.size(); ++i)
                ASSERT_EQ(std::memcmp(&got[i], &whole[i], sizeof(float)), 0)
                    << what << " band " << band << " unit " << unit << " sample " << i / 4 % 64
                    << "," << i / 256;
        }
        // Held a band at a time, the layer answers for the band's rows only,
        // as the whole grid; the bands hold whole units and cover the rows.
        const int lo = defs.region_on ? defs.region[1] : 0,
                  hi = defs.region_on ? defs.region[3] + 1 : 48;
        if (unit > 1) {
            surface_layer s;
            s.set_band_samples(1000);
            int next = lo / unit * unit;
            auto band = [&](int row0, int row1) {
                EXPECT_TRUE(row0 == next && row0 % unit == 0 && (row1 % unit == 0 || row1 == 48));
                for (int i = 0, r = 0; i < 48 * 64; r = ++i / 64) {
                    const float* rgb = s.color(r, i % 64);
                    const bool held = r >= row0 && r < row1 && whole[i * 4] == 1.0f;
                    EXPECT_TRUE(held ? rgb && !std::memcmp(rgb, &whole[i * 4 + 1], 12) : !rgb) << i;
                }
                return (next = row1) > 0;
            };
            EXPECT_EQ(s.build_rows(cam_, 0, colors_, false, unit, band), 1);
            EXPECT_EQ(next, std::min(48, (hi + unit - 1) / unit * unit)) << what;
        }
    }

    std::vector<surface_color> colors_ = {{"floor", kivColor(0.4f, 0.3f, 0.2f)}};
};

TEST_F(Surfaces, BandsOfRowsGiveTheWholeGrid) {
    ASSERT_EQ(mdldb_init(4, 0), 1);
    // A tilted floor, a card in front of part of it, one behind; a point
    // light and a spot whose cone leaves part of the floor dark, linked twice.
    grid("floor", at(-4, 2, -12), at(70, 44, -8), 6);
    grid("card", at(20, 10, -7), at(40, 30, -7), 1);
    grid("behind", at(0, 0, -20), at(64, 48, -20), 2);
    add_light(LIGHT_POINT, kivColor(0.3f, 0.5f, 0.7f), {"floor", "card"})->position =
        kivPoint(-3, 4, 2);
    hair_light* spot = add_light(LIGHT_SPOT, kivColor(1, 0.9f, 0.8f), {"floor", "card", "floor"});
    spot->position = kivPoint(2, 1, 0), spot->direction = kivVector(0, -0.196f, -0.98f);
    spot->cone = 30, spot->penumbra = 10;
    expect_bands_match("plain");

    // Hair of alpha 1 hides the surface behind it, 0.9999 (65528) does not:
    // a hidden sample keeps its model and gets colour 0, or in a pixel
    // where its surface shows elsewhere maybe that surface's colour; the
    // others keep theirs, in pixels of any size. Where the hair hides every
    // sample, nothing is lit.
    std::vector<float> lit[3];
    for (int unit = 1; unit <= 3; ++unit) lit[unit - 1] = shade(1000, false, unit);
    for (bool all : {false, true}) {
        for (int i = 0; i < 48 * 64; ++i)
            add_fragment(zb(), i / 64, i % 64, 1, 1.0f,
                         kivColor(1, 1, 1, all || i % 3 == 0 ? 1.0f : 0.9999f));
        for (int unit = 1; unit <= 3; ++unit) {
            const std::vector<float> got = shade(1000, true, unit), &was = lit[unit - 1];
            for (std::size_t i = 0; i < got.size(); ++i) {
                const bool hidden = i % 4 && (all || i / 4 % 3 == 0);
                ASSERT_TRUE(got[i] == (hidden ? 0.0f : was[i]) ||
                            (hidden && !all && got[i] == was[i]))
                    << "sample " << i / 4 << " unit " << unit << " all " << all;
            }
        }
    }

    defs.region_on = 1;
    const int region[4] = {5, 3, 50, 40};
    std::memcpy(defs.region, region, sizeof region);
    expect_bands_match("region");

    // More triangles than the grid has room for: the layer stops listing
    // them part way and draws into the whole grid.
    defs.region_on = 0;
    grid("floor", at(-4, -4, -12), at(70, 52, -8), 40);
    expect_bands_match("fine");
    // And within a region, whose rows alone are shaded and handed on.
    defs.region_on = 1;
    expect_bands_match("fine, region");
}

// In pixels of 2 x 2 and 3 x 3 samples, every sample takes the colour that a
// sample of its pixel on its surface gets lit alone, and the samples of a
// pixel on the flat floor alone share one. The floor is red, the card in
// front of it green, and the two faces of the step (one model) blue, the
// far face from column 55 on; their edges cross pixels.
TEST_F(Surfaces, APixelIsLitOncePerSurfaceItShows) {
    ASSERT_EQ(mdldb_init(4, 0), 1);
    grid("floor", at(-4, 2, -12), at(70, 44, -8), 6);
    grid("card", at(21, 11, -7), at(41, 31, -7), 1);
    poly_model("step",
               {at(45, 29, -6), at(55, 29, -6), at(55, 41, -6), at(45, 41, -6), at(55, 29, -9),
                at(70, 29, -9), at(70, 41, -9), at(55, 41, -9)},
               {{4, {0, 1, 2, 3}}, {4, {4, 5, 6, 7}}});
    colors_ = {
        {"floor", kivColor(1, 0, 0)}, {"card", kivColor(0, 1, 0)}, {"step", kivColor(0, 0, 1)}};
    add_light(LIGHT_POINT, kivColor(1, 1, 1), {"floor", "card", "step"})->position = at(30, 20, -2);
    const std::vector<float> alone = shade(0);
    auto surface = [&](int i) {
        const float* c = &alone[i * 4 + 1];
        return c[0] > 0 ? 0 : c[1] > 0 ? 1 : c[2] > 0 ? 2 + (i % 64 >= 55) : -1;
    };
    for (int unit : {2, 3}) {
        const std::vector<float> got = shade(0, false, unit);
        int shared = 0;
        for (int pr = 0; pr < 48; pr += unit) {
            for (int pc = 0; pc < 64; pc += unit) {
                std::vector<int> px;
                for (int r = pr; r < std::min(pr + unit, 48); ++r)
                    for (int c = pc; c < std::min(pc + unit, 64); ++c) px.push_back(r * 64 + c);
                bool floor_only = true, same = true;
                for (int i : px) {
                    bool found = surface(i) < 0;
                    for (int j : px)
                        found = found || (surface(j) == surface(i) &&
                                          !std::memcmp(&got[i * 4], &alone[j * 4], 16));
                    ASSERT_TRUE(found) << "unit " << unit << " sample " << i % 64 << "," << i / 64;
                    floor_only = floor_only && surface(i) == 0;
                    same = same && !std::memcmp(&got[i * 4], &got[px[0] * 4], 16);
                }
                shared += floor_only && same;
                EXPECT_TRUE(!floor_only || same) << "unit " << unit << " pixel " << pc << "," << pr;
            }
        }
        EXPECT_GT(shared, 100) << unit;
    }
}

}  // namespace
