// End-to-end tests of the outputs for other programs: OpenEXR and deep
// OpenEXR images, curve files and the shaded surfaces, from furrender run
// as a program on the ball scene of tests/data/e2e.
#include <algorithm>

#include "e2e/e2e_support.h"
#include "exr_support.h"
#include "test_support.h"

// The crop of an .exr render is its data window inside the whole image;
// the shaded ball fills its outline under the hair; the deep image of the
// same render flattens to the picture; the curve file holds as many curves
// as the render drew hairs.
TEST(Pipeline, ExrDeepCurvesAndSurfacesOfOneRenderAgree) {
    const scratch d;
    const run_result r = run_in(d.dir, "furrender",
                                scene("ball") +
                                    "--subpixel 2 --crop 30,20,120,100 --near 1 --far 20 "
                                    "--surfaces --out f.exr --deep d.exr --export-curves c.usda");
    ASSERT_EQ(r.status, 0) << r.err;

    const exr_test::flat f = exr_test::read_flat(d / "f.exr");
    EXPECT_TRUE(f.win.display_w == 160 && f.win.display_h == 120);
    EXPECT_TRUE(f.win.x0 == 30 && f.win.x1 == 120 && f.win.y0 == 19 && f.win.y1 == 99);
    EXPECT_EQ(f.types.count("Z"), 1u);
    const exr_test::flat g = exr_test::composite_deep(d / "d.exr");
    const exr_test::deep deep = exr_test::read_deep(d / "d.exr");
    const std::string text = slurp(d / "c.usda");
    int covered = 0;
    for (int y = 20; y <= 100; ++y)
        for (int x = 30; x <= 120; ++x) {
            for (const char* c : {"R", "G", "B", "A"})
                ASSERT_NEAR(g.at(c, x, y), f.at(c, x, y), 1.0f / 255.0f) << c << x << "," << y;
            covered += f.at("A", x, y) > 0.0f;
            // Nothing there, no samples; else a depth in the Z channel.
            ASSERT_EQ(deep.at(x, y).empty(), f.at("A", x, y) == 0.0f) << x << "," << y;
            if (f.at("A", x, y) > 0.0f) {
                ASSERT_GT(f.at("Z", x, y), 1.0f);
            }
        }
    EXPECT_GT(covered, 1000);
    EXPECT_EQ(f.at("A", 80, 60), 1.0f);

    // One curve per hair the library reports drawn.
    const std::size_t at = r.out.find("--- rendered ");
    ASSERT_NE(at, std::string::npos);
    const std::size_t open = text.find("curveVertexCounts = [");
    const std::string counts = text.substr(open, text.find(']', open) - open);
    EXPECT_EQ(std::count(counts.begin(), counts.end(), ',') + 1,
              std::atol(r.out.c_str() + at + 13));
}
