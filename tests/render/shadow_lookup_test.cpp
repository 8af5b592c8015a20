// The shadow lookup against a brute-force filter in double precision, over
// seeded random maps and points: kernel sizes, windows over the map border
// and off it, occluders from next to the light to behind the point (the
// darkness blend and the kernel choice), and points with no place on the map.
#include <cstring>
#include <limits>

#include "korvofur/korvofur.h"
#include "render_support.h"

namespace {

// Maps of the light's darkness 0.7 and the object's 0.35.
struct lookup_entry : render_test::map_entry {
    lookup_entry(int cols, int lines, int lgt_filter, int obj_filter)
        : map_entry(cols, lines, lgt_filter, obj_filter) {
        e.params.lgt_darkness = 0.7f, e.params.obj_darkness = 0.35f;
    }
};

// The filter written out from its definition in double precision: its own
// Gaussian weights, every window pixel visited with bounds checks. Only the
// kernel choice uses the float ratio, so that a ratio on a kernel boundary
// picks the same kernel.
double reference(const ShadowMapInfo& e, const kivPoint& P, double s) {
    const MapParams& p = e.params;
    const ShadowMap& m = p.map;
    double d = std::sqrt(double(P.x) * P.x + double(P.y) * P.y + double(P.z) * P.z);
    if (d < 1e-5) d = 0.0;
    float sx, sy, u, v;
    smCalcShadowScreenPoint(const_cast<ShadowMapInfo*>(&e), P, sx, sy, u, v);
    const int R = std::max(p.lgt_filter_size / 2, p.obj_filter_size / 2);
    const int cx = static_cast<int>(sx), cy = static_cast<int>(sy);
    const bool one = p.lgt_filter_size / 2 == p.obj_filter_size / 2;
    auto weight = [&](int n, int dy, int dx) {  // 2^(-2 d^2) at (i, j) / (n / 2) - 1, normalised
        auto g = [&](int i) { return n == 1 ? 0.0 : i / (n * 0.5) - 1.0; };
        double sum = 0.0;
        for (int i = 0; i < n * n; ++i)
            sum += std::pow(2.0, -2.0 * (g(i / n) * g(i / n) + g(i % n) * g(i % n)));
        const int h = n / 2, i = dy + h, j = dx + h;
        if (i < 0 || j < 0 || i >= n || j >= n) return 0.0;
        return std::pow(2.0, -2.0 * (g(i) * g(i) + g(j) * g(j))) / sum;
    };
    double S = 0.0, D = 0.0;
    for (int y = cy - R; y <= cy + R; ++y) {
        for (int x = cx - R; x <= cx + R; ++x) {
            const bool on = x >= 0 && y >= 0 && x < m.cols && y < m.lines;
            auto at = [&](int c) { return on ? double(m.maps[c][y * m.cols + x]) : 0.0; };
            const double g = at(SMAP_GEO_DEPTH), gc = at(SMAP_GEO_COVERAGE);
            const double h = at(SMAP_HAIR_DEPTH), ho = at(SMAP_HAIR_OPACITY);
            const double nearest = g == 0 ? h : h == 0 ? g : std::min(g, h);
            const double w = std::min(nearest / d, 1.0);
            const float wf = std::min(static_cast<float>(nearest) / static_cast<float>(d), 1.0f);
            const int j = one ? 0 : std::min(int(e.kernel_count * wf), e.kernel_count - 1);
            double o = 0.0;
            if (g != 0 && g < d - s * p.geo_epsilon) o = gc;
            if (h != 0 && h < d - s * p.high_hair_epsilon) {
                o += ho;
            } else if (h != 0 && h < d - s * p.low_hair_epsilon) {
                o += ho * (d - s * p.low_hair_epsilon - h) /
                     (s * (p.high_hair_epsilon - p.low_hair_epsilon));
            }
            const double k = weight(e.kernels[j].size, y - cy, x - cx);
            S += k * std::min(o, 1.0);
            D += k * ((1.0 - w) * p.lgt_darkness + w * p.obj_darkness);
        }
    }
    S = std::min(S, 1.0);
    return (1.0 - S) * D + (1.0 - D);
}

// Fills the maps at random: about a third of the pixels without geometry,
// half without hair, depths between 1 and 12 (points lie near 10).
void fill_random(lookup_entry& m, std::mt19937& rng) {
    std::uniform_real_distribution<float> depth(1.0f, 12.0f), amount(0.0f, 1.0f);
    for (std::size_t i = 0; i < m.maps[0].size(); ++i) {
        const bool geo = amount(rng) > 0.33f, hair = amount(rng) > 0.5f;
        m.maps[SMAP_GEO_DEPTH][i] = geo ? depth(rng) : 0.0f;
        m.maps[SMAP_GEO_COVERAGE][i] = geo ? amount(rng) : 0.0f;
        m.maps[SMAP_HAIR_DEPTH][i] = hair ? depth(rng) : 0.0f;
        m.maps[SMAP_HAIR_OPACITY][i] = hair ? amount(rng) : 0.0f;
    }
}

// n seeded light-space points over the map at distance about 10 (inside,
// over its border rows and columns, and a few pixels off it) and root
// scales for them.
void scatter(const lookup_entry& m, int n, std::mt19937& rng, std::vector<kivPoint>& P,
             std::vector<float>& s) {
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    const ShadowMap& map = m.e.params.map;
    P.clear(), s.clear();
    for (int i = 0; i < n; ++i) {
        // Where on the map, from its middle as a fraction of its size.
        const float x = (-6.0f + (map.cols + 12.0f) * u(rng)) / map.cols - 0.5f,
                    y = (-6.0f + (map.lines + 12.0f) * u(rng)) / map.lines - 0.5f,
                    z = -(9.0f + 2.0f * u(rng));
        P.push_back(kivPoint(x * -z / 0.5f, y * -z / 0.5f, z));
        s.push_back(0.5f + 1.5f * u(rng));
    }
}

}  // namespace

// Filter size pairs: one kernel, growing and shrinking sets of kernels, a
// window wider than the small map, an even size made by hand; kernels laid
// out on the window or not; counts that leave a few points over after the
// fours. Each point looked up alone at four lanes matches the reference;
// many at once, and alone at eight lanes where the processor has them (the
// big map takes the wide windows whole), give its bits.
TEST(ShadowLookup, MatchesADoublePrecisionFilterAloneOrManyAtOnce) {
    const int sizes[][2] = {{1, 1}, {3, 3}, {3, 7}, {7, 3}, {1, 9}, {5, 15}, {21, 3}, {4, 4}};
    std::mt19937 rng(20261206);
    std::vector<kivPoint> P;
    std::vector<float> s;
    for (const auto& fs : sizes) {
        for (int cols : {13, 40}) {
            lookup_entry m(cols, cols - 2, fs[0], fs[1]);
            for (int laid_out = 0; laid_out < 2; ++laid_out) {
                ASSERT_TRUE(!laid_out || smMakeWindowWeights(&m.e));
                for (int n : {0, 3, 4, 61}) {
                    fill_random(m, rng);
                    scatter(m, n, rng, P, s);
                    std::vector<float> one(n), many(n + 1, -7.0f), wide(n);
                    ASSERT_EQ(smLookupLanes(4), 4);
                    for (int i = 0; i < n; ++i) one[i] = smCalcShadowMultForPoint(&m.e, P[i], s[i]);
#if defined(__x86_64__) && defined(__GNUC__)
                    ASSERT_EQ(smLookupLanes(8), __builtin_cpu_supports("avx2") ? 8 : 4);
#else
                    smLookupLanes(8);
#endif
                    smCalcShadowMultForPoints(&m.e, n, P.data(), s.data(), many.data());
                    for (int i = 0; i < n; ++i)
                        wide[i] = smCalcShadowMultForPoint(&m.e, P[i], s[i]);
                    EXPECT_EQ(many[n], -7.0f);
                    for (int i = 0; i < n; ++i) {
                        ASSERT_NEAR(one[i], reference(m.e, P[i], s[i]), 2e-5)
                            << fs[0] << "/" << fs[1] << " on " << cols << " point " << i;
                        ASSERT_TRUE(!std::memcmp(&many[i], &one[i], 4) &&
                                    !std::memcmp(&wide[i], &one[i], 4))
                            << fs[0] << "/" << fs[1] << " on " << cols << " point " << i;
                    }
                }
            }
        }
    }
}

TEST(ShadowLookup, PointsWithNoPlaceOnTheMapAreLit) {
    // Far off the map, on the light's plane (an infinite projection) or at
    // the light itself: nothing is read, and an empty window lets the light
    // through.
    lookup_entry m(16, 16, 3, 7);
    std::mt19937 rng(7);
    fill_random(m, rng);
    const float inf = std::numeric_limits<float>::infinity();
    for (const kivPoint& P : {kivPoint(1e9f, 0.0f, -1.0f), kivPoint(-1e30f, 1e30f, -1.0f),
                              kivPoint(1.0f, 1.0f, 0.0f), kivPoint(inf, 0.0f, -1.0f), kivPoint()}) {
        EXPECT_NEAR(smCalcShadowMultForPoint(&m.e, P, 1.0f), 1.0f, 1e-6f)
            << P.x << "," << P.y << "," << P.z;
    }
}

TEST(ShadowLookup, ARatioOnAKernelBoundaryTakesTheNextKernel) {
    // Kernels 3, 5 and 7; hair a third of the way to a point at distance 3
    // gives count x w = 1 exactly: the 5 x 5 kernel, which reaches a pixel
    // two columns over that the 3 x 3 one misses.
    lookup_entry m(9, 9, 3, 7);
    m.maps[SMAP_HAIR_DEPTH][4 * 9 + 6] = 1.0f;
    m.maps[SMAP_HAIR_OPACITY][4 * 9 + 6] = 1.0f;
    const kivPoint P(0.0f, 0.0f, -3.0f);
    EXPECT_LT(smCalcShadowMultForPoint(&m.e, P, 1.0f), 0.99f);
    EXPECT_NEAR(smCalcShadowMultForPoint(&m.e, P, 1.0f), reference(m.e, P, 1.0), 2e-5);
}

TEST(ShadowLookup, ALightLitAtManyPointsGivesTheBitsOfOnePointAtATime) {
    // A spot at the origin looking down -z, shadowed by entry 0, whose cone
    // leaves some of the points dark.
    SettingsGuard guard;
    lookup_entry m(40, 30, 3, 7);
    std::mt19937 rng(11);
    fill_random(m, rng);
    defs.shadows.entries = &m.e, defs.shadows.count = 1, defs.shadows.use_shadows = 1;
    hair_light spot;
    spot.type = LIGHT_SPOT, spot.direction = kivVector(0, 0, -1), spot.cone = 28;
    spot.penumbra = 5, spot.smap_index = 0;
    std::vector<kivPoint> P;
    std::vector<float> s, many(101);
    scatter(m, 101, rng, P, s);
    const std::vector<kivVector> N(P.size(), kivVector(0, 0, 1));
    spot.lighting_many(101, P.data(), N.data(), s.data(), 0.5f, many.data());
    int dark = 0, shadowed = 0;
    for (int i = 0; i < 101; ++i) {
        defs.root_scale = s[i];
        const float one = spot.lighting(P[i], N[i], 0.5f);
        ASSERT_EQ(std::memcmp(&many[i], &one, sizeof one), 0) << i;
        dark += one == 0.0f;
        shadowed += one > 0.0f && one < spot.unshadowed(P[i], N[i]);
    }
    EXPECT_GT(dark, 5);
    EXPECT_GT(shadowed, 5);
}
