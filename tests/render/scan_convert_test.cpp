#include "render/scan_convert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>

#include "raster_support.h"

using raster_test::pixel_area;
using raster_test::pt;

namespace {

// A random convex polygon by kind: a triangle, a quad, an axis-aligned
// rectangle, a thin ribbon, a sub-pixel quad, a triangle with corners on
// pixel lines.
std::vector<pt> random_polygon(std::mt19937& rng, int kind) {
    auto r = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };
    const double cx = r(21, 43), cy = r(21, 43), t = r(0, 6.2832), dx = cos(t), dy = sin(t);
    std::vector<pt> p;
    if (kind == 0 || kind == 5) {
        for (int k = 0; k < 3; ++k) {
            const unsigned m = kind == 5 ? rng() % 3 : 3;
            p.push_back({m != 1 ? std::round(r(1, 63)) : r(1, 63),
                         m != 0 ? std::round(r(1, 63)) : r(1, 63)});
        }
    } else if (kind == 1 || kind == 4) {
        double a[4], s = kind == 4 ? 0.45 : 12, rx = r(0.02, s), ry = r(0.02, s);
        for (double& x : a) x = r(0, 6.2832);
        std::sort(a, a + 4);
        for (double x : a) p.push_back({cx + rx * cos(x), cy + ry * sin(x)});
    } else {  // a rectangle: axis-aligned, or a thin ribbon at any angle
        const double l = r(0.1, 20), w = kind == 2 ? r(0.1, 12) : r(0.05, 0.5);
        const double c = kind == 2 ? 1 : dx, sn = kind == 2 ? 0 : dy;
        for (int k = 0; k < 4; ++k) {
            const double u = (k == 1 || k == 2) * l, v = (k >= 2) * w;
            p.push_back({cx + u * c - v * sn, cy + u * sn + v * c});
        }
    }
    if (rng() % 2) std::reverse(p.begin(), p.end());
    std::rotate(p.begin(), p.begin() + rng() % p.size(), p.end());
    for (pt& q : p) q = {double(float(q.x)), double(float(q.y))};
    return p;
}

}  // namespace

TEST(ScanConvert, CoverageIsTheExactAreaInEveryPixel) {
    std::mt19937 rng(90210);
    for (int i = 0; i < 3000; ++i) {
        // Converted as the rasterisers do: sort, chains, fill, with the box
        // in whole pixels. Every pixel must come once, with the value 0.25.
        const std::vector<pt> p = random_polygon(rng, i % 6);
        const int n = static_cast<int>(p.size());
        scan::vertex<1> v[4], l[4], r[4];
        int order[4], nl = 0, nr = 0, box[4] = {64, 64, 0, 0};
        for (int k = 0; k < n; ++k) {
            v[k] = {float(p[k].x), float(p[k].y), {0.25f}};
            box[0] = std::min(box[0], int(p[k].x)), box[1] = std::min(box[1], int(p[k].y));
            box[2] = std::max(box[2], int(p[k].x)), box[3] = std::max(box[3], int(p[k].y));
        }
        scan::sort_by_y(n, v, order);
        ASSERT_TRUE(scan::split_chains(n, v, order, false, l, nl, r, nr)) << i;
        const scan::limits lim{64, 64};
        std::map<std::pair<int, int>, float> cov;
        double sum = 0;
        scan::fill<1>(box, nl, l, nr, r, lim, 1, [&](int c, int row, float a, const float* val) {
            EXPECT_TRUE(cov.count({row, c}) == 0 && std::fabs(val[0] - 0.25f) < 1e-5f) << i;
            cov[{row, c}] = a, sum += a;
        });
        EXPECT_NEAR(sum, raster_test::area(p), 1e-5 * (cov.size() + 1)) << i;
        // Each pixel against the reference; wholly covered ones exactly 1.
        for (int row = box[1] - 1; row <= box[3] + 1; ++row)
            for (int col = box[0] - 1; col <= box[2] + 1; ++col) {
                const auto it = cov.find({row, col});
                const float c = it == cov.end() ? 0.0f : it->second;
                EXPECT_TRUE(c >= 0 && c <= 1.0f) << i;
                EXPECT_NEAR(c, pixel_area(p, col, row), 1e-4) << i << " at " << col << "," << row;
                const double m = 1e-4, inside = raster_test::box_area(p, col - m, row - m,
                                                                      col + 1 + m, row + 1 + m);
                EXPECT_TRUE(c == 1.0f || inside < (1 + 2 * m) * (1 + 2 * m) - 1e-9) << i;
            }
    }
}

// --- Through the hair polygon entry -----------------------------------------------------

class HairPolygon : public raster_test::RasterTest {
  protected:
    // Draws a polygon at depth 5 as one hair (white unless colours are
    // given) and compares every pixel's alpha with the area that the
    // expected polygons cover in it (same-hair pieces add up to 1).
    void check(const std::vector<pt>& p, const std::vector<std::vector<pt>>& expected, int i,
               const kivColor* colors = nullptr) {
        motion_blur_pnt v[4];
        for (size_t k = 0; k < p.size(); ++k) {
            v[k].x = float(p[k].x), v[k].y = float(p[k].y), v[k].z = 5.0f;
            v[k].set_color(colors ? colors[k] : kivColor(1, 1, 1, 1));
        }
        cam_.clear_arr();
        cam_.zbuff_hair_poly(static_cast<int>(p.size()), v, 0xFFFFFFFFu);
        for (int r = 0; r < 48; ++r)
            for (int c = 0; c < 64; ++c) {
                double a = 0;
                for (const auto& e : expected) a += pixel_area(e, c, r);
                EXPECT_NEAR(color(r, c).a, std::min(1.0, a), 3.0 / 65535)
                    << i << " at " << c << "," << r;
            }
    }
};

TEST_F(HairPolygon, ZigzagAndSubPixelPolygonsFillTheirExactArea) {
    // Zigzag quads, edges alternating in x, then in y, are drawn as two
    // triangles as the split makes them from the lowest vertex o and its
    // opposite c.
    const std::vector<pt> zigzags[][3] = {
        {{{2, 2}, {10, 2}, {2, 10}, {10, 10}},
         {{2, 2}, {10, 2}, {10, 10}},
         {{10, 10}, {10, 2}, {2, 10}}},
        {{{3, 12}, {3, 4}, {13, 12}, {13, 4}},
         {{3, 4}, {13, 12}, {13, 4}},
         {{3, 4}, {13, 4}, {3, 12}}},
    };
    for (int i = 0; i < 2; ++i) check(zigzags[i][0], {zigzags[i][1], zigzags[i][2]}, 10 + i);
    // A polygon inside one pixel adds one fragment with its area and the
    // colour of its first vertex.
    const std::vector<pt> tri = {{5.2, 6.1}, {5.8, 6.3}, {5.4, 6.9}};
    const kivColor colors[3] = {{1, 0.5f, 0.25f, 1}, {0, 0, 0, 1}, {0, 0, 0, 1}};
    check(tri, {tri}, 20, colors);
    EXPECT_NEAR(color(6, 5).b, 0.25 * raster_test::area(tri), 2.0 / 65535);
}
