// Exact pixel coverage of screen polygons drawn through the camera's
// entry points (zbuff_hair_poly for hair, zbuff_poly for geometry), against
// the double-precision reference of render_support.h, with the render
// region and the crop window at their edges.
#include <cstdint>
#include <cstring>

#include "render_support.h"
#include "render/scan_convert.h"

using render_test::pixel_area;
using render_test::pt;

namespace {

// A random convex polygon, counter-clockwise with y up, by kind: a
// triangle, a quad, an axis-aligned rectangle, a thin ribbon at any angle,
// a sub-pixel quad, a triangle with corners on pixel lines. Some reach
// past the window's edges.
std::vector<pt> random_polygon(std::mt19937& rng, int kind) {
    auto r = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };
    const double cx = r(-2, 66), cy = r(-2, 50), t = r(0, 6.2832), dx = cos(t), dy = sin(t);
    std::vector<pt> p;
    if (kind == 0 || kind == 5) {
        for (int k = 0; k < 3; ++k) {
            const unsigned m = kind == 5 ? rng() % 3 : 3;
            const double x = cx + r(-8, 8), y = cy + r(-8, 8);
            p.push_back({m != 1 ? std::round(x) : x, m != 0 ? std::round(y) : y});
        }
    } else if (kind == 1 || kind == 4) {
        double a[4], s = kind == 4 ? 0.45 : 12, rx = r(0.02, s), ry = r(0.02, s);
        for (double& x : a) x = r(0, 6.2832);
        std::sort(a, a + 4);
        for (double x : a) p.push_back({cx + rx * cos(x), cy + ry * sin(x)});
    } else {
        const double l = r(0.1, 20), w = kind == 2 ? r(0.1, 12) : r(0.05, 0.5);
        const double c = kind == 2 ? 1 : dx, sn = kind == 2 ? 0 : dy;
        for (int k = 0; k < 4; ++k) {
            const double u = (k == 1 || k == 2) * l, v = (k >= 2) * w;
            p.push_back({cx + u * c - v * sn, cy + u * sn + v * c});
        }
    }
    for (pt& q : p) q = {double(float(q.x)), double(float(q.y))};
    if (render_test::signed_area(p) < 0) std::reverse(p.begin(), p.end());
    std::rotate(p.begin(), p.begin() + rng() % p.size(), p.end());
    return p;
}

class Coverage : public render_test::RasterTest {
  protected:
    // Draws p as one hair polygon at depth 5, white but for the first
    // vertex's red of 0.25, and as geometry.
    void draw_both(const std::vector<pt>& p) {
        motion_blur_pnt v[4];
        kivPoint g[4];
        for (size_t k = 0; k < p.size(); ++k) {
            v[k].x = float(p[k].x), v[k].y = float(p[k].y), v[k].z = 5.0f;
            v[k].set_color(kivColor(k ? 1 : 0.25f, 1, 1, 1));
            g[k] = at(v[k].x, v[k].y);
        }
        cam_.clear_arr();
        cam_.zbuff_hair_poly(static_cast<int>(p.size()), v, 0xFFFFFFFFu);
        hair_ = picture(cam_);
        cam_.clear_arr();
        cam_.zbuff_poly(static_cast<int>(p.size()), g, true, false);
    }
    // Every pixel of both drawings against the area of the expected
    // polygons in it, nothing outside the region when it is on.
    void check(const std::vector<std::vector<pt>>& expected, int i, bool geo = true) {
        for (int r = 0; r < 48; ++r)
            for (int c = 0; c < 64; ++c) {
                const bool in = !defs.region_on || (c >= defs.region[0] && c <= defs.region[2] &&
                                                    r >= defs.region[1] && r <= defs.region[3]);
                double a = 0;
                for (const auto& e : expected) a += in ? pixel_area(e, c, r) : 0.0;
                ASSERT_NEAR(hair_[r * 64 + c].a, std::min(1.0, a), 1e-4)
                    << i << " at " << c << "," << r;
                if (geo) {
                    ASSERT_NEAR(geometry(r, c), std::min(1.0, a), 1e-4)
                        << i << " at " << c << "," << r;
                }
            }
    }
    std::vector<kivColor> hair_;
};

}  // namespace

TEST_F(Coverage, PolygonsCoverTheirExactAreaInsideTheRegion) {
    // First a polygon larger than the window, limited to regions at its
    // first and last rows and columns, one pixel, and past the window; then
    // random polygons, every other one limited to a random region
    // (inclusive bounds, sometimes past the window).
    const std::vector<pt> big = {{-5, -5}, {70, -5}, {70, 53}, {-5, 53}};
    const int edges[][4] = {{0, 0, 63, 47}, {0, 0, 0, 47},    {63, 47, 63, 47},
                            {5, 7, 5, 7},   {60, 40, 90, 90}, {-9, -9, 2, 1}};
    std::mt19937 rng(90210);
    for (int i = 0; i < 246; ++i) {
        const std::vector<pt> p = i < 6 ? big : random_polygon(rng, i % 6);
        const int x0 = int(rng() % 70) - 3, y0 = int(rng() % 54) - 3;
        const int random[4] = {x0, y0, x0 + int(rng() % 20), y0 + int(rng() % 20)};
        defs.region_on = i < 6 || i % 2;
        std::copy(i < 6 ? edges[i] : random, (i < 6 ? edges[i] : random) + 4, defs.region);
        draw_both(p);
        check({p}, i);
    }
}

TEST_F(Coverage, ZigzagAndSubPixelHairPolygons) {
    // Zigzag quads, edges alternating in x, then in y, are drawn as two
    // triangles as the split makes them from the lowest vertex and its
    // opposite.
    const std::vector<pt> zigzags[][3] = {
        {{{2, 2}, {10, 2}, {2, 10}, {10, 10}},
         {{2, 2}, {10, 2}, {10, 10}},
         {{10, 10}, {10, 2}, {2, 10}}},
        {{{3, 12}, {3, 4}, {13, 12}, {13, 4}},
         {{3, 4}, {13, 12}, {13, 4}},
         {{3, 4}, {13, 4}, {3, 12}}},
    };
    for (int i = 0; i < 2; ++i) {
        draw_both(zigzags[i][0]);
        check({zigzags[i][1], zigzags[i][2]}, i, false);
    }
    // A polygon inside one pixel adds one fragment with its area and the
    // colour of its first vertex.
    draw_both({{5.2, 6.1}, {5.8, 6.3}, {5.4, 6.9}});
    EXPECT_NEAR(hair_[6 * 64 + 5].r, 0.25f * 0.22f, 2.0 / 65535);  // area 0.22
}

// The polygon p cut to pixel (col, row) by the pixel's four edges in
// turn, in double precision; points closer than 1e-9 kept once.
std::vector<pt> cut_to_pixel(std::vector<pt> p, int col, int row) {
    const double lo[2] = {double(col), double(row)};
    for (int e = 0; e < 4; ++e) {
        const int axis = e % 2;
        const double bound = lo[axis] + (e >= 2 ? 1.0 : 0.0), sign = e >= 2 ? -1.0 : 1.0;
        auto inside = [&](const pt& q) { return sign * ((axis ? q.y : q.x) - bound) >= 0; };
        std::vector<pt> out;
        for (size_t i = 0; i < p.size(); ++i) {
            const pt a = p[i], b = p[(i + 1) % p.size()];
            if (inside(a)) out.push_back(a);
            if (inside(a) != inside(b)) {
                const double t =
                    (bound - (axis ? a.y : a.x)) / ((axis ? b.y : b.x) - (axis ? a.y : a.x));
                out.push_back(
                    {axis ? a.x + t * (b.x - a.x) : bound, axis ? bound : a.y + t * (b.y - a.y)});
            }
        }
        p.clear();
        for (const pt& q : out)
            if (p.empty() || std::hypot(q.x - p.back().x, q.y - p.back().y) > 1e-9) p.push_back(q);
        while (p.size() > 1 && std::hypot(p.back().x - p[0].x, p.back().y - p[0].y) <= 1e-9)
            p.pop_back();
    }
    return p;
}

// p as the scan converter takes it: the box of its pixels and its two
// chains, vertex k carrying values set(v[k]); false when degenerate.
template <int K, class Set>
bool chains_of(const std::vector<pt>& p, Set set, int* box, scan::vertex<K>* left, int& nl,
               scan::vertex<K>* right, int& nr) {
    const int n = static_cast<int>(p.size());
    scan::vertex<K> v[4];
    int order[4];
    for (int k = 0; k < n; ++k) {
        v[k].x = float(p[k].x), v[k].y = float(p[k].y);
        set(v[k]);
        const int x = scan::pixel_floor(v[k].x), y = scan::pixel_floor(v[k].y);
        box[0] = k ? std::min(box[0], x) : x, box[1] = k ? std::min(box[1], y) : y;
        box[2] = k ? std::max(box[2], x) : x, box[3] = k ? std::max(box[3], y) : y;
    }
    scan::sort_by_y(n, v, order);
    return scan::split_chains(n, v, order, false, left, nl, right, nr);
}

// The pieces of random polygons as fill_widest gives them (column, row,
// coverage and values, as raw bits), each checked on the way: its coverage
// is the exact area, and its first two values, which the vertices carry
// their own positions in, the average of the cut polygon's vertices, a
// point the reference clipper finds too, wherever the polygon's vertices
// and edges fall (inside a pixel, on its lines). The other K − 2 values
// are random.
template <int K>
std::vector<std::uint32_t> widest_pieces(std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> value(-3.0f, 40.0f);
    scan::limits lim;
    lim.cols = 64;
    lim.lines = 48;
    std::vector<std::uint32_t> out;
    for (int i = 0; i < 300; ++i) {
        const std::vector<pt> p = random_polygon(rng, i % 6);
        scan::vertex<K> left[4], right[4];
        int box[4] = {}, nl = 0, nr = 0;
        auto values = [&](scan::vertex<K>& q) {
            for (float& x : q.v) x = value(rng);
            q.v[0] = q.x, q.v[1] = q.y;
        };
        const bool split = chains_of(p, values, box, left, nl, right, nr);
        EXPECT_TRUE(split || render_test::signed_area(p) == 0) << "only flat ones are refused";
        if (!split) continue;
        scan::fill_widest<K>(box, nl, left, nr, right, lim, K,
                             [&](int col, int row, float coverage, const float* avg) {
                                 const std::vector<pt> q = cut_to_pixel(p, col, row);
                                 ASSERT_GE(q.size(), 3u) << i << " at " << col << "," << row;
                                 double x = 0, y = 0;
                                 for (const pt& a : q) x += a.x / q.size(), y += a.y / q.size();
                                 ASSERT_NEAR(avg[0], x, 2e-4) << i << " at " << col << "," << row;
                                 ASSERT_NEAR(avg[1], y, 2e-4) << i << " at " << col << "," << row;
                                 ASSERT_NEAR(coverage, std::min(1.0, pixel_area(p, col, row)),
                                             1e-4);
                                 std::uint32_t bits[K + 1];
                                 std::memcpy(bits, &coverage, 4);
                                 std::memcpy(bits + 1, avg, 4 * K);
                                 out.insert(out.end(), {std::uint32_t(col), std::uint32_t(row)});
                                 out.insert(out.end(), bits, bits + K + 1);
                             });
    }
    return out;
}

// Every pixel a polygon covers receives the average of its cut polygon's
// vertices, and vertices held in eight lanes (where the processor has
// AVX2) give the pieces of four lanes to the bit, for the hair's five
// values, the geometry's three and the surfaces' six.
TEST(ScanConvert, PiecesCarryTheAverageOfTheirCutPolygonsAndEightLanesTheBitsOfFour) {
    const bool avx2 = __builtin_cpu_supports("avx2");
    ASSERT_EQ(scan::use_lanes(4), 4);
    const std::vector<std::uint32_t> four[3] = {widest_pieces<5>(7), widest_pieces<3>(8),
                                                widest_pieces<6>(9)};
    ASSERT_EQ(scan::use_lanes(8), avx2 ? 8 : 4);
    const std::vector<std::uint32_t> eight[3] = {widest_pieces<5>(7), widest_pieces<3>(8),
                                                 widest_pieces<6>(9)};
    for (int k = 0; k < 3; ++k) {
        EXPECT_GT(four[k].size(), 20000u) << k;
        EXPECT_TRUE(four[k] == eight[k]) << k;
    }
}

// A crop window makes image pixel (x, y) the z-buffer's (x − lowx, y − lowy),
// and the camera's matrix takes world points to camera space: a cropped
// camera turned by C, given world points, draws the window of the picture
// drawn in camera space, for hairs and geometry alike.
TEST_F(Coverage, CropAndCameraMatrixGiveTheCameraSpacePictureShifted) {
    // C takes (x, y, z) to (z + 2, y, −x − 10); world() undoes it.
    const kivMatrix C(0, 0, -1, 0, 0, 1, 0, 0, 1, 0, 0, 0, 2, 0, -10, 1);
    auto world = [](const kivPoint& p) { return kivPoint(-p.z - 10, p.y, p.x - 2); };
    std::mt19937 rng(5);
    for (int i = 0; i < 12; ++i) {
        const int lx = int(rng() % 30), ly = int(rng() % 20);
        const cam_window crop(lx, ly, lx + 2 + int(rng() % 30), ly + 2 + int(rng() % 25));
        hair_camera cropped;
        small_camera(cropped, crop, C);
        // A hair with its points inside the crop window (the segment test
        // treats points outside it as unseen) and a triangle reaching out.
        std::uniform_real_distribution<float> u(0, 1);
        float x[3], y[3];
        for (int k = 0; k < 3; ++k)
            x[k] = lx + 0.5f + (crop.Cols() - 1) * u(rng),
            y[k] = ly + 0.5f + (crop.Lines() - 1) * u(rng);
        const float w = 0.3f + u(rng);
        for (hair_camera* cam : {&cam_, &cropped}) {
            auto to = [&](const kivPoint& p) { return cam == &cam_ ? p : world(p); };
            cam->clear_arr();
            control_hair h =
                make_hair({at(x[0], y[0]), at(x[1], y[1], -12), at(x[2], y[2], -9)}, {w, 1, 0.5f});
            for (int k = 0; k < 3; ++k) h.points[k] = to(h.points[k]);
            draw(h, nullptr, kivVector(0, 0, 1), cam);
            kivPoint g[3] = {to(at(x[0], y[0], -20)), to(at(x[0] + 9, y[0] - 4, -30)),
                             to(at(x[0] + 2, y[0] + 7, -15))};
            cam->zbuff_poly(3, g, true, false);
        }
        hair_zbuffer& z = *cropped.zbuffer();
        for (int r = 0; r < z.lines(); ++r)
            for (int c = 0; c < z.cols(); ++c) {
                float d0, c0, d1, c1;
                zb().geometry_depth(r + ly, c + lx, d0, c0);
                z.geometry_depth(r, c, d1, c1);
                ASSERT_NEAR(c0, c1, 1e-4) << i << " at " << c << "," << r;
                ASSERT_NEAR(d0, d1, 1e-3) << i << " at " << c << "," << r;
                ASSERT_NEAR(color(r + ly, c + lx).a, z.resolve_color(z.record(r, c)).a, 1e-4)
                    << i << " at " << c << "," << r;
            }
    }
}
