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

// Runs the converter as the rasterisers do (sort, chains, fill) and
// collects the coverages; every pixel must come once with its value 0.25.
std::map<std::pair<int, int>, float> convert(const std::vector<pt>& p, int* box, bool& ok) {
    scan::vertex<1> v[4], l[4], r[4];
    int order[4], nl = 0, nr = 0;
    const int n = static_cast<int>(p.size());
    for (int i = 0; i < n; ++i) v[i] = {float(p[i].x), float(p[i].y), {0.25f}};
    std::map<std::pair<int, int>, float> out;
    scan::sort_by_y(n, v, order);
    if (!scan::split_chains(n, v, order, false, l, nl, r, nr)) return out;
    scan::limits lim;
    lim.cols = lim.lines = 64;
    scan::fill<1>(box, nl, l, nr, r, lim, 1, [&](int c, int row, float cov, const float* val) {
        ok = ok && out.count({row, c}) == 0 && std::fabs(val[0] - 0.25f) < 1e-5f;
        out[{row, c}] = cov;
    });
    return out;
}

}  // namespace

TEST(ScanConvert, CoverageIsTheExactAreaInEveryPixel) {
    std::mt19937 rng(90210);
    for (int i = 0; i < 3000; ++i) {
        const std::vector<pt> p = random_polygon(rng, i % 6);
        int box[4] = {64, 64, 0, 0};  // whole pixels, as the rasterisers give it
        for (const pt& q : p) {
            box[0] = std::min(box[0], int(q.x)), box[1] = std::min(box[1], int(q.y));
            box[2] = std::max(box[2], int(q.x)), box[3] = std::max(box[3], int(q.y));
        }
        bool ok = true;
        const auto cov = convert(p, box, ok);
        EXPECT_TRUE(ok) << i;
        double sum = 0;
        for (const auto& [pix, c] : cov) sum += c;
        EXPECT_NEAR(sum, raster_test::area(p), 1e-5 * (cov.size() + 1)) << i;
        // Each pixel against the reference; wholly covered ones exactly 1.
        for (int row = box[1] - 1; row <= box[3] + 1; ++row)
            for (int col = box[0] - 1; col <= box[2] + 1; ++col) {
                const auto it = cov.find({row, col});
                const float c = it == cov.end() ? 0.0f : it->second;
                EXPECT_TRUE(c >= 0 && c <= 1.0f) << i;
                EXPECT_NEAR(c, pixel_area(p, col, row), 1e-4) << i << " at " << col << "," << row;
                const double m = 1e-4;
                if (raster_test::box_area(p, col - m, row - m, col + 1 + m, row + 1 + m) >=
                    (1 + 2 * m) * (1 + 2 * m) - 1e-9) {
                    EXPECT_EQ(c, 1.0f) << i;
                }
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

TEST_F(HairPolygon, RectangleFromEveryStartingVertex) {
    const std::vector<pt> rect = {{10.25, 5.5}, {14.75, 5.5}, {14.75, 8.5}, {10.25, 8.5}};
    for (int s = 0; s < 8; ++s) {
        std::vector<pt> p = rect;
        if (s >= 4) std::reverse(p.begin(), p.end());
        std::rotate(p.begin(), p.begin() + s % 4, p.end());
        check(p, {rect}, s);
        EXPECT_EQ(color(6, 12).a, 1.0f) << s;
    }
}

TEST_F(HairPolygon, ZigzagQuadIsDrawnAsTwoTriangles) {
    // Edges alternating in x, then in y; the triangles as the split makes
    // them from the lowest vertex o and its opposite c.
    const std::vector<pt> cases[][3] = {
        {{{2, 2}, {10, 2}, {2, 10}, {10, 10}},
         {{2, 2}, {10, 2}, {10, 10}},
         {{10, 10}, {10, 2}, {2, 10}}},
        {{{3, 12}, {3, 4}, {13, 12}, {13, 4}},
         {{3, 4}, {13, 12}, {13, 4}},
         {{3, 4}, {13, 4}, {3, 12}}},
    };
    for (int i = 0; i < 2; ++i) check(cases[i][0], {cases[i][1], cases[i][2]}, i);
}

TEST_F(HairPolygon, SubPixelPolygonAddsOneFragmentWithItsAreaAndFirstColour) {
    const std::vector<pt> tri = {{5.2, 6.1}, {5.8, 6.3}, {5.4, 6.9}};
    const kivColor colors[3] = {{1, 0.5f, 0.25f, 1}, {0, 0, 0, 1}, {0, 0, 0, 1}};
    check(tri, {tri}, 0, colors);
    const double a = raster_test::area(tri);
    EXPECT_NEAR(color(6, 5).b, 0.25 * a, 2.0 / 65535);
    float depth = 0, alpha = 0;
    zb().resolve_depth(zb().record(6, 5), depth, alpha);
    EXPECT_NEAR(depth, 5.0f, 1e-5f);
}
