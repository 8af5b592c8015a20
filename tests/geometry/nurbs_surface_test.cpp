// Rational surfaces against an independent double-precision evaluation:
// the recursive basis, central differences for the directions.
#include "geometry/nurbs_surface.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "foundation/fur_exception.h"
#include "geometry_support.h"
#include "host/korvo_quaternion.h"
#include "test_support.h"

namespace {

using Knots = std::vector<float>;

// A control net with plain (not premultiplied) points and their weights.
struct Net {
    int nu, nv, ku, kv;
    Knots uk, vk;
    std::vector<kivPoint4> pts;  // point (i, j) at nu * j + i
};

std::unique_ptr<kivNurbSurface> build(const Net& n) {
    auto s = std::make_unique<kivNurbSurface>(n.nu, n.nv, n.ku, n.kv);
    EXPECT_EQ(1, s->set_uknots(int(n.uk.size()), n.uk.data()) &
                     s->set_vknots(int(n.vk.size()), n.vk.data()));
    for (int i = 0; i < n.nu * n.nv; ++i) s->set_vert(i, n.pts[i]);
    return s;
}

// k knots at lo, the inner ones, k knots at hi.
Knots clamped(int k, const Knots& inner, float lo = 0, float hi = 1) {
    Knots t(k, lo);
    t.insert(t.end(), inner.begin(), inner.end());
    t.insert(t.end(), k, hi);
    return t;
}

Net randomNet(int nu, int nv, int ku, int kv, Knots uk, Knots vk, unsigned seed, bool rational) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> c(-2.0f, 2.0f), w(0.4f, 2.5f);
    Net n{nu, nv, ku, kv, std::move(uk), std::move(vk), {}};
    for (int i = 0; i < nu * nv; ++i)
        n.pts.emplace_back(c(rng), c(rng), c(rng), rational ? w(rng) : 1);
    return n;
}

// The textbook recursion on half-open intervals, 0/0 taken as 0.
double basis(const Knots& T, int i, int k, double t) {
    if (k == 1) return (T[i] <= t && t < T[i + 1]) ? 1.0 : 0.0;
    const double d1 = double(T[i + k - 1]) - T[i], d2 = double(T[i + k]) - T[i + 1];
    return (d1 > 0 ? (t - T[i]) / d1 * basis(T, i, k - 1, t) : 0.0) +
           (d2 > 0 ? (T[i + k] - t) / d2 * basis(T, i + 1, k - 1, t) : 0.0);
}

KorvoPoint refPoint(const Net& n, double u, double v) {
    double x = 0, y = 0, z = 0, w = 0;
    for (int j = 0; j < n.nv; ++j)
        for (int i = 0; i < n.nu; ++i) {
            const double b = basis(n.uk, i, n.ku, u) * basis(n.vk, j, n.kv, v);
            const kivPoint4& p = n.pts[n.nu * j + i];
            x += b * p.w * p.x, y += b * p.w * p.y, z += b * p.w * p.z, w += b * p.w;
        }
    return {x / w, y / w, z / w};
}

// calc_posnrmdir at random (s, t) against the reference: position, the unit
// directions along u (out[3]) and v (out[2]) and their normal, away from knots.
void expectMatchesReference(const Net& n, int samples, unsigned seed) {
    const auto s = build(n);
    float u0, ul, v0, vl;
    s->get_domain(u0, ul, v0, vl);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> r(0.0f, 1.0f);
    const auto at = [](double t) { return [t](float k) { return std::fabs(k - t) < 2e-3; }; };
    for (int k = 0; k < samples; ++k) {
        const float a = r(rng), b = r(rng);
        const double u = u0 + double(a) * ul, v = v0 + double(b) * vl, h = 1e-5;
        kivVector f[4];
        s->calc_posnrmdir(a, b, f);
        const KorvoPoint P = refPoint(n, u, v);
        const std::string where = "seed " + std::to_string(seed) + " sample " + std::to_string(k);
        expect_near(f[0], P, 3e-5f, where);
        if (std::any_of(n.uk.begin(), n.uk.end(), at(u)) ||
            std::any_of(n.vk.begin(), n.vk.end(), at(v)))
            continue;
        const KorvoVector du = (refPoint(n, u + h, v) - refPoint(n, u - h, v)).normal(),
                          dv = (refPoint(n, u, v + h) - refPoint(n, u, v - h)).normal();
        const KorvoVector nrm = (du ^ dv).normal();
        expect_near(f[3], du, 2e-3f, where + " u"), expect_near(f[2], dv, 2e-3f, where + " v");
        expect_near(f[1], nrm, 3e-3f, where + " normal");
    }
}

}  // namespace

// Single-span rational patches, non-uniform clamped nets over offset domains,
// a closed ring (unclamped, the last three points repeat the first three), a
// double interior knot and knots closer than 1e-5 (counted as coincident).
TEST(NurbsEvaluation, RandomNetsMatchTheRecursiveBasis) {
    for (unsigned t = 0; t < 8; ++t)
        expectMatchesReference(
            randomNet(4, 4, 4, 4, clamped(4, {}, 2, 5), clamped(4, {}, -1, 0.5f), 100 + t, true),
            20, t);
    const Knots uk = clamped(4, {0.2f, 0.25f, 0.9f}, 0, 1.5f),
                vk = clamped(3, {0.1f, 0.7f, 1.6f}, -0.5f, 2);
    for (unsigned t = 0; t < 4; ++t)
        expectMatchesReference(randomNet(7, 6, 4, 3, uk, vk, 200 + t, t % 2), 30, t);
    // The end of the domain is the last span: the far corner is the last control point.
    const Net last = randomNet(7, 6, 4, 3, uk, vk, 300, true);
    kivVector f[4], g[4];
    build(last)->calc_posnrmdir(1, 1, f);
    expect_near(f[0], last.pts.back(), 2e-6f, "corner");
    Knots ring;
    for (int i = -3; i <= 7; ++i) ring.push_back(float(i));
    Net net = randomNet(7, 4, 4, 2, ring, {0, 0, 0.4f, 0.8f, 1, 1}, 9, true);
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 3; ++i) net.pts[7 * j + 4 + i] = net.pts[7 * j + i];
    expectMatchesReference(net, 25, 1);
    Net twice = randomNet(5, 2, 3, 2, {0, 0, 0, 0.5f, 0.5f, 1, 1, 1}, {0, 0, 1, 1}, 3, true);
    expectMatchesReference(twice, 20, 2);
    const auto s = build(twice);
    s->calc_posnrmdir(0.5f, 0, f);  // a double knot interpolates its control point
    expect_near(f[0], twice.pts[2], 2e-6f);
    twice.uk = {0, 0, 0, 0.5f, 0.500004f, 1, 1, 1};
    build(twice)->calc_posnrmdir(0.500002f, 0.25f, f);
    s->calc_posnrmdir(0.5f, 0.25f, g);
    EXPECT_TRUE(std::isfinite(f[2].x) && std::isfinite(f[3].y));
    expect_near(f[0], g[0], 1e-4f, "near-coincident knots");
}

// Knot counts that do not match, points out of range and a negative size
// are refused.
TEST(NurbsSetup, InconsistentSizesAreRefused) {
    kivNurbSurface s(6, 4, 3, 3);
    const Knots bad(10, 9.0f);
    EXPECT_EQ(0, s.set_uknots(8, bad.data()) + s.set_uknots(10, bad.data()) +
                     s.set_vknots(6, bad.data()) + s.set_vert(24, kivPoint4(1, 1, 1, 1)) +
                     s.set_vert(-1, kivPoint4(1, 1, 1, 1)));
    EXPECT_EQ("FATAL: Memory allocation failed\n",
              captured([] { EXPECT_THROW(kivNurbSurface(-4, 4, 2, 2), FurEFailed); }));
}

// The sample grid has nb - order + 2 points along a closed direction.
TEST(NurbsArea, AreaSumsTheSampleGridsQuads) {
    Knots uk;
    for (int i = 0; i < 9; ++i) uk.push_back(float(i));
    const auto s = build(randomNet(5, 4, 4, 2, uk, {0, 0, 0.3f, 0.9f, 1, 1}, 61, false));
    for (int closed = 0; closed < 2; ++closed) {
        s->set_closed(closed, 0);
        const int nu = closed ? 3 : 5;
        const auto at = [&](int i, int j) {
            kivVector f[4];
            s->calc_posnrmdir(float(i) / (nu - 1), j / 3.0f, f);
            return kivPoint(f[0]);
        };
        double expected = 0, least = 1e30, most = 0;
        for (int j = 0; j < 3; ++j)
            for (int i = 0; i + 1 < nu; ++i) {
                const double a = kivPolygons::getQuadArea(at(i, j), at(i + 1, j), at(i + 1, j + 1),
                                                          at(i, j + 1));
                expected += a, least = std::min(least, a), most = std::max(most, a);
            }
        float total, smallest, largest;
        ASSERT_EQ(1, s->get_area(total, smallest, largest));
        EXPECT_NEAR(expected, total, 1e-4 * expected) << closed;
        EXPECT_NEAR(least, smallest, 1e-4 * least);
        EXPECT_NEAR(most, largest, 1e-4 * most);
    }
}

// Columns of cell areas 1, 2, 4 give sample means 1, 1.5, 3 and 4 (of 4);
// levels between samples are interpolated, never falling along u.
TEST(NurbsArea, AreaMapOfUniformAndWideningSurfaces) {
    const Knots k = {0, 0, 1, 2, 3, 3};
    const float even[4] = {0, 1, 2, 3}, widening[4] = {0, 1, 3, 7};
    for (const float* xs : {even, widening}) {
        Net net{4, 4, 2, 2, k, k, {}};
        for (int j = 0; j < 16; ++j) net.pts.emplace_back(xs[j % 4], float(j / 4), 0, 1);
        const int w = 10, h = 7, stride = 12;
        std::vector<int> map(stride * h, -1);
        ASSERT_EQ(1, build(net)->fill_area_map(0, 0, 0, w, h, stride, map.data()));
        const int level[4] = {area_map_level(0.25), area_map_level(1.5 / 4),
                              area_map_level(3.0 / 4), 255};
        for (int py = 0; py < h; ++py)
            for (int x = 0; x < stride; ++x) {
                const int at = map[py * stride + x], on = x % 3 == 0 ? level[x / 3] : at;
                EXPECT_EQ(x >= w ? -1 : xs == even ? 255 : on, at) << x << "," << py;
                EXPECT_GE(at, x > 0 && x < w ? map[py * stride + x - 1] : at) << x << "," << py;
            }
    }
}

// The statistics of a 1 x 2 rectangle cut into 2 x 4 cells, kept exactly
// in tests/data/geometry.
TEST(NurbsArea, PrintAreaInfoOfARectangle) {
    Net rect{2, 2, 2, 2, {0, 0, 1, 1}, {0, 0, 1, 1}, {}};
    rect.pts = {{0, 0, 0, 1}, {1, 0, 0, 1}, {0, 2, 0, 1}, {1, 2, 0, 1}};
    const auto s = build(rect);
    s->utess = 2, s->vtess = 4;
    EXPECT_EQ(Expected("area_info.txt"),
              file_text([&](FILE* f) { EXPECT_EQ(1, s->print_area_info(f)); }));
}
