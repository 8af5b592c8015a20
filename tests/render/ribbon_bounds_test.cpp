// The screen reach of a hair before it is lit: every sample the rasteriser
// writes for a hair lies in the box of its points, and the box decides
// whether the hair can reach the samples drawn (the window within the
// render region).
#include "render/ribbon_bounds.h"

#include "generation/hair_shaping.h"
#include "render_support.h"

namespace {

// The small camera of RasterTest: the camera-space point (x, y, -10) lands
// on pixel (x + 32, y + 24).
class RibbonBounds : public render_test::RasterTest {};

TEST_F(RibbonBounds, HoldEverySampleTheHairDraws) {
    hair_zbuffer& zb = *cam_.zbuffer();
    std::mt19937 rng(20);
    std::uniform_real_distribution<float> px(-20.0f, 84.0f), step(-12.0f, 12.0f),
        depth(-40.0f, -2.0f), width(0.02f, 4.0f);
    long long drawn = 0;
    for (int h = 0; h < 300; ++h) {
        const int n = 2 + h % 5;
        control_hair hair(n);
        float x = px(rng), y = px(rng) * 0.75f, z = depth(rng);
        hair_raster::ribbon_bounds box(cam_);
        for (int k = 0; k < n; ++k) {
            hair.points[k] = at(x, y, z);
            // Wide and short ribbons too: their root and tip grow.
            hair.vertices[k].width = (k == 0 && h % 3 == 0) || h % 4 == 1 ? 6.0f : width(rng);
            box.add(hair.points[k], hair.vertices[k].width);
            // Every fourth hair is short and wide: its ends grow the most.
            const float f = h % 4 == 1 ? 0.1f : 1.0f;
            x += step(rng) * f, y += step(rng) * f, z = std::min(-1.0f, z + step(rng) * 0.2f * f);
        }
        ASSERT_TRUE(box.bounded());
        zb.clear(), draw(hair);
        for (int r = 0; r < zb.lines(); ++r)
            for (int c = 0; c < zb.cols(); ++c) {
                if (zb.record(r, c) == nullptr) continue;
                ++drawn;
                ASSERT_TRUE(c >= std::floor(box.x0()) && c <= std::floor(box.x1()) &&
                            r >= std::floor(box.y0()) && r <= std::floor(box.y1()))
                    << "hair " << h << " drew sample (" << c << ", " << r << ") outside its box";
            }
    }
    EXPECT_GT(drawn, 1000);  // the hairs did reach the window
}

TEST_F(RibbonBounds, MissOnlyWhatLiesOutsideTheWindowAndRegion) {
    // {x0, y0, x1, y1, width, region on, missed}: a thin hair across pixels
    // (20, 10) to (30, 14), and beyond the window on each side; just off the
    // window, where a ribbon 4 pixels wide reaches into it, a thin one does
    // not, nor does the wide one further off; with rows 30 to 40 as render
    // region, the first hair below it and two reaching into it.
    const float cases[][7] = {{20, 10, 30, 14, 0.1f, 0, 0},   {-30, 10, -20, 14, 0.1f, 0, 1},
                              {70, 10, 80, 14, 0.1f, 0, 1},   {20, -20, 30, -10, 0.1f, 0, 1},
                              {20, 50, 30, 60, 0.1f, 0, 1},   {-9, 10, -4, 14, 4, 0, 0},
                              {-9, 10, -4, 14, 0.1f, 0, 1},   {-12, 10, -8, 14, 4, 0, 1},
                              {20, 10, 30, 14, 0.1f, 1, 1},   {20, 10, 30, 29.5f, 0.1f, 1, 0},
                              {20, 45, 30, 41.2f, 0.1f, 1, 0}};
    defs.region[0] = 0, defs.region[1] = 30, defs.region[2] = 63, defs.region[3] = 40;
    for (const auto& c : cases) {
        defs.region_on = c[5] != 0;
        hair_raster::ribbon_bounds b(cam_);
        b.add(at(c[0], c[1]), c[4]), b.add(at(c[2], c[3]), c[4]);
        EXPECT_EQ(b.misses_drawn_samples(), c[6] != 0) << &c - cases;
    }
    // A point behind the camera leaves the hair unbounded: never skipped.
    hair_raster::ribbon_bounds behind(cam_);
    behind.add(at(20, 10, -10.0f), 0.1f), behind.add(kivPoint(0.0f, 0.0f, 5.0f), 0.1f);
    EXPECT_TRUE(!behind.bounded() && !behind.misses_drawn_samples());
}

// Hairs grown in front of the camera through a description matrix that
// scales, shears and moves them, with a band of rows as render region: a
// hair that skips_unshaped_hair refuses is one the rasteriser's own test
// skips once it is shaped, and the band makes it refuse many.
TEST_F(RibbonBounds, UnshapedHairIsSkippedOnlyWhenItsShapeCannotReachTheBand) {
    ASSERT_TRUE(hair_shape_prepare(12));
    hair_params& hp = *fur_;
    hair_state hs;
    hs.params = fur_, hs.dir2 = {1, 0, 0}, hp.segments = hp_scalar(12.0f);
    std::mt19937 rng(9);
    std::uniform_real_distribution<float> u(0.0f, 1.0f), c(-1.0f, 1.0f);
    defs.region_on = 1, defs.region[0] = 0, defs.region[2] = 63;
    int skipped = 0, reached = 0;
    for (int i = 0; i < 400; ++i) {
        for (int k = 0; k < 9; ++k)
            hp.matrix[k / 3][k % 3] =
                k % 4 ? (k % 3 == 2 ? 0.02f : 0.3f) * c(rng) : 0.3f + 3 * u(rng);
        hp.matrix[3][2] = -20.0f;
        hs.pos = kivPoint(c(rng) * 60 / hp.matrix[0][0], c(rng) * 45 / hp.matrix[1][1], c(rng));
        hs.normal = kivVector(c(rng), c(rng), c(rng)), hs.normal.norm();
        hs.dir = hs.normal ^ kivVector(0.6f, 0, 0.8f), hs.dir.norm();
        // Every other hair is short and wide.
        hp.length = hp_scalar(i % 2 ? 0.1f + 0.4f * u(rng) : 0.5f + 4.0f * u(rng));
        hp.width_base = hp_scalar(i % 2 ? 4.0f + 6.0f * u(rng) : 0.05f + 0.5f * u(rng));
        hp.erectness = hp_scalar(c(rng)), hp.offset = hp_scalar(c(rng));
        hp.curl_base = hp_scalar(u(rng)), hp.scraggle = hp_scalar(u(rng));
        // A band of 8 rows that starts 1 to 8 rows below or above the root.
        float x = 0.0f, y = 0.0f;
        ASSERT_TRUE(cam_.project(hs.pos * hp.matrix, x, y));
        const int gap = 1 + static_cast<int>(rng() % 8);
        defs.region[1] = static_cast<int>(y) + (i % 4 < 2 ? gap : -gap - 7);
        defs.region[3] = defs.region[1] + 7;
        const bool skip = cam_.skips_unshaped_hair(hs);
        control_hair* h = hair_shape(&hs, nullptr, 0, 0.0f);
        hair_raster::ribbon_bounds box(cam_);
        for (int k = 0; h && k < h->count; ++k)
            box.add(h->points[k] * hp.matrix, h->vertices[k].width);
        EXPECT_FALSE(skip && !box.misses_drawn_samples()) << "hair " << i << " refused";
        skipped += skip, reached += !box.misses_drawn_samples();
    }
    EXPECT_TRUE(skipped > 40 && reached > 100) << skipped << " " << reached;
}

// One bound made for a band's pass refuses, hair by hair, what the
// camera's test refuses, taken point by point through ribbon_bounds, while
// the hairs alternate between two descriptions whose matrices change now
// and then.
TEST_F(RibbonBounds, PassBoundRefusesWhatThePointByPointTestRefuses) {
    hair_params* descriptions[2] = {fur_, hair_params_list_add(names_add("other"))};
    defs.region_on = 1, defs.region[0] = 0, defs.region[1] = 36, defs.region[2] = 63;
    defs.region[3] = 43;
    // Hairs refused; whose centre misses the band but corners reach it;
    // whose cube crosses the camera plane.
    int skipped = 0, near = 0, crossing = 0;
    // The centre's box, then the corners' (a sample more), as ribbon_bounds takes them.
    const auto refused = [&](const kivMatrix& m, const kivPoint& c, float radius, float w) {
        const kivPoint centre = c * m * cam_.get_matrix();
        hair_raster::ribbon_bounds box(cam_);
        box.add(centre, 0.0f);
        if (!box.misses_drawn_samples()) return false;
        ++near;
        for (int k = 0; k < 8; ++k) {
            kivVector d;
            for (int i = 0; i < 3; ++i)
                d = d + kivVector(m[i][0], m[i][1], m[i][2]) * cam_.get_matrix() * radius *
                            ((k >> i & 1) ? 1.0f : -1.0f);
            box.add(centre + kivPoint(d), w);
        }
        box.widen(1.0f);
        const bool missed = box.misses_drawn_samples();
        crossing += !box.bounded(), near -= missed, skipped += missed;
        return missed;
    };
    unshaped_hair_bound bound(cam_);
    std::mt19937 rng(4);
    std::uniform_real_distribution<float> u(0.0f, 1.0f), c(-1.0f, 1.0f);
    hair_state hs;
    for (int i = 0; i < 400; ++i) {
        hair_params& hp = *descriptions[i % 3 == 0];
        for (int k = 0; k < 9 && i % 7 < 2; ++k)
            hp.matrix[k / 3][k % 3] = k % 4 ? 0.2f * c(rng) : 0.5f + 2 * u(rng);
        hp.matrix[3][2] = i % 11 ? -6.0f : -1.5f;  // some hairs cross the camera plane
        hs.params = &hp, hs.pos = kivPoint(c(rng) * 12, c(rng) * 10, c(rng)), hs.dir2 = {1, 0, 0};
        hs.normal = kivVector(c(rng), c(rng), c(rng)), hs.normal.norm();
        hs.dir = hs.normal ^ kivVector(0.6f, 0, 0.8f), hs.dir.norm();
        hp.length = hp_scalar(0.2f + 3.0f * u(rng)), hp.width_base = hp_scalar(0.5f * u(rng));
        kivPoint centre;
        float radius = 0.0f, width = 0.0f;
        ASSERT_TRUE(hair_shape_reach(hs, centre, radius, width));
        ASSERT_EQ(bound.skips(hp, centre, radius, width), refused(hp.matrix, centre, radius, width))
            << "hair " << i;
    }
    EXPECT_TRUE(skipped > 80 && skipped < 320 && near > 40 && crossing > 20)
        << skipped << " " << near << " " << crossing;
}

}  // namespace
