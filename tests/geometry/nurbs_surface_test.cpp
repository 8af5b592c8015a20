#include "geometry/nurbs_surface.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "foundation/fur_exception.h"
#include "test_support.h"

// Access to the private point evaluator.
class kivNurbSurfaceProbe {
  public:
    static void calc_point(const kivNurbSurface& s, float u, float v, kivPoint* P, kivVector* D) {
        s.calc_point(u, v, P, D);
    }
};

namespace {

using Knots = std::vector<float>;

// A control net given with plain (not premultiplied) points and weights.
struct Net {
    int nu, nv, ku, kv;
    Knots uknots, vknots;
    std::vector<kivPoint4> pts;  // (x, y, z, w), point (i, j) at nu * j + i
};

std::unique_ptr<kivNurbSurface> build(const Net& net) {
    auto s = std::make_unique<kivNurbSurface>(net.nu, net.nv, net.ku, net.kv);
    EXPECT_EQ(1, s->set_uknots(static_cast<int>(net.uknots.size()), net.uknots.data()));
    EXPECT_EQ(1, s->set_vknots(static_cast<int>(net.vknots.size()), net.vknots.data()));
    for (int i = 0; i < net.nu * net.nv; ++i) EXPECT_EQ(1, s->set_vert(i, net.pts[i]));
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
    std::uniform_real_distribution<float> coord(-2.0f, 2.0f), weight(0.4f, 2.5f);
    Net net{nu, nv, ku, kv, std::move(uk), std::move(vk), {}};
    for (int i = 0; i < nu * nv; ++i)
        net.pts.emplace_back(coord(rng), coord(rng), coord(rng), rational ? weight(rng) : 1.0f);
    return net;
}

// A net of the given points; the orders follow from the knot counts.
Net flatNet(int nu, int nv, const Knots& uk, const Knots& vk, std::vector<kivPoint4> pts) {
    const int ku = static_cast<int>(uk.size()) - nu, kv = static_cast<int>(vk.size()) - nv;
    return Net{nu, nv, ku, kv, uk, vk, std::move(pts)};
}

// --- Independent evaluation in double precision ---------------------------------

// The textbook recursive definition, half-open intervals, 0/0 taken as 0.
double refBasis(const Knots& T, int i, int k, double t) {
    if (k == 1) return (T[i] <= t && t < T[i + 1]) ? 1.0 : 0.0;
    const double d1 = double(T[i + k - 1]) - T[i], d2 = double(T[i + k]) - T[i + 1];
    return (d1 > 0.0 ? (t - T[i]) / d1 * refBasis(T, i, k - 1, t) : 0.0) +
           (d2 > 0.0 ? (T[i + k] - t) / d2 * refBasis(T, i + 1, k - 1, t) : 0.0);
}

// The surface point in double precision: {x, y, z}.
std::vector<double> refPoint(const Net& net, double u, double v) {
    double x = 0, y = 0, z = 0, w = 0;
    for (int j = 0; j < net.nv; ++j) {
        for (int i = 0; i < net.nu; ++i) {
            const double b =
                refBasis(net.uknots, i, net.ku, u) * refBasis(net.vknots, j, net.kv, v);
            const kivPoint4& p = net.pts[net.nu * j + i];
            x += b * p.w * p.x, y += b * p.w * p.y, z += b * p.w * p.z, w += b * p.w;
        }
    }
    return {x / w, y / w, z / w};
}

// (f(t + h) - f(t - h)) / 2h times the length of the knot span holding t,
// which is how the evaluator scales its derivatives.
kivVector refDerivative(const std::vector<double>& lo, const std::vector<double>& hi,
                        const Knots& T, double t, double h) {
    double span = 0;
    for (std::size_t i = 0; i + 1 < T.size(); ++i)
        if (T[i] <= t && t < T[i + 1]) span = T[i + 1] - T[i];
    const double f = span / (2 * h);
    return kivVector(float((hi[0] - lo[0]) * f), float((hi[1] - lo[1]) * f),
                     float((hi[2] - lo[2]) * f));
}

kivPoint eval(const kivNurbSurface& s, float u, float v) {
    kivPoint P;
    kivNurbSurfaceProbe::calc_point(s, u, v, &P, nullptr);
    return P;
}

// Evaluates at n samples spread over the domain and compares the point with
// the recursive basis and, away from knots and the domain's ends, the
// derivatives with central differences of it.
void expectMatchesReference(const Net& net, int n, unsigned seed, float u0, float u1, float v0,
                            float v1) {
    const auto s = build(net);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> tu(u0, u1), tv(v0, v1);
    const double h = 1e-5;
    auto clear = [](const Knots& T, float t, float lo, float hi) {
        bool ok = t - lo > 2e-3f && hi - t > 2e-3f;
        for (float k : T) ok = ok && std::fabs(k - t) > 2e-3f;
        return ok;
    };
    for (int k = 0; k < n; ++k) {
        const float u = tu(rng), v = tv(rng);
        const std::string at = "seed " + std::to_string(seed) + " sample " + std::to_string(k);
        kivPoint P;
        kivVector D[2];
        kivNurbSurfaceProbe::calc_point(*s, u, v, &P, D);
        const std::vector<double> R = refPoint(net, u, v);
        expect_near(P, kivPoint(float(R[0]), float(R[1]), float(R[2])), 3e-5f, at);
        if (!clear(net.uknots, u, u0, u1) || !clear(net.vknots, v, v0, v1)) continue;
        const float tol = 1e-4f * (1.0f + std::sqrt(D[0].sqrd_length() + D[1].sqrd_length()));
        expect_near(
            D[0], refDerivative(refPoint(net, u - h, v), refPoint(net, u + h, v), net.uknots, u, h),
            tol, at + " du");
        expect_near(
            D[1], refDerivative(refPoint(net, u, v - h), refPoint(net, u, v + h), net.vknots, v, h),
            tol, at + " dv");
    }
}

}  // namespace

// --- Evaluation against independent computations -------------------------------------

// Single-span rational patches over the unit domain and over [2, 5] x [-1, 0.5], then
// rational and plain non-uniform clamped nets (derivatives per unit of span).
TEST(NurbsEvaluation, RationalAndNonUniformNetsMatchRecursiveBasis) {
    for (int trial = 0; trial < 10; ++trial) {
        const bool unit = trial < 8;
        const float u0 = unit ? 0 : 2, u1 = unit ? 1 : 5, v0 = unit ? 0 : -1, v1 = unit ? 1 : 0.5f;
        const int nu = unit ? 4 : 3;
        expectMatchesReference(randomNet(nu, 4, nu, 4, clamped(nu, {}, u0, u1),
                                         clamped(4, {}, v0, v1), 100 + trial, true),
                               20, trial, u0, u1, v0, v1);
    }
    const Knots uk = clamped(4, {0.2f, 0.25f, 0.9f}, 0, 1.5f);
    const Knots vk = clamped(3, {0.1f, 0.7f, 1.6f}, -0.5f, 2.0f);
    for (int trial = 0; trial < 4; ++trial)
        expectMatchesReference(randomNet(7, 6, 4, 3, uk, vk, 200 + trial, trial % 2 == 1), 30,
                               trial, 0, 1.5f, -0.5f, 2.0f);
}

TEST(NurbsEvaluation, ClosedPeriodicSurfaceMatchesRecursiveBasisAndCloses) {
    // Seven control points along u of which the last three repeat the first
    // three, on a uniform unclamped knot vector: a closed cubic ring.
    Knots uk;
    for (int i = -3; i <= 7; ++i) uk.push_back(static_cast<float>(i));
    Net net = randomNet(7, 4, 4, 2, uk, {0, 0, 0.4f, 0.8f, 1, 1}, 9, true);
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 3; ++i) net.pts[7 * j + 4 + i] = net.pts[7 * j + i];
    expectMatchesReference(net, 25, 1, 0, 4, 0, 1);
    const auto s = build(net);
    s->set_closed(1, 0);
    float domain[4];
    s->get_domain(domain[0], domain[1], domain[2], domain[3]);
    EXPECT_EQ((std::vector<float>{0, 4, 0, 1}), std::vector<float>(domain, domain + 4));
    // The seam: both ends of the domain give the same point and tangent.
    for (float v : {0.0f, 0.3f, 0.77f}) {
        kivVector a[4], b[4];
        s->calc_posnrmdir(0.0f, v, a);
        s->calc_posnrmdir(1.0f, v, b);
        expect_near(a[0], b[0], 2e-5f, "seam position");
        expect_near(a[3], b[3], 2e-4f, "seam direction");
    }
}

// --- Exact conics ------------------------------------------------------------------

// An octant of the unit sphere: longitude arc along u times latitude arc
// along v (from the equator to the pole), weights multiplied. Directions
// are the unit u (longitude) and v (meridian) tangents.
TEST(NurbsConics, SphereOctantLiesOnTheSphereWithOutwardNormals) {
    const float c[3][2] = {{1, 0}, {1, 1}, {0, 1}}, w[3] = {1, 0.70710678f, 1};
    Net net{3, 3, 3, 3, clamped(3, {}), clamped(3, {}), {}};
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 3; ++i)
            net.pts.emplace_back(c[j][0] * c[i][0], c[j][0] * c[i][1], c[j][1], w[i] * w[j]);
    const auto s = build(net);
    for (int k = 0; k < 110; ++k) {  // the pole (v = 1) has no normal
        kivVector f[4];
        s->calc_posnrmdir((k % 11) / 10.0f, (k / 11) / 10.0f, f);
        const float x = f[0].x, y = f[0].y, z = f[0].z, r = std::hypot(x, y);
        EXPECT_NEAR(1.0f, f[0].length(), 1e-6f) << k;
        expect_near(f[1], f[0], 3e-6f, std::to_string(k) + " normal");
        expect_near(f[2], kivVector(-x * z / r, -y * z / r, r), 3e-6f, std::to_string(k) + " v");
        expect_near(f[3], kivVector(-y / r, x / r, 0), 3e-6f, std::to_string(k) + " u");
    }
    // At the pole the u derivative vanishes: the normal is reported as zero.
    kivVector pole[4];
    s->calc_posnrmdir(0.5f, 1.0f, pole);
    expect_near(pole[0], kivVector(0, 0, 1), 1e-6f, "pole");
    EXPECT_EQ(kivVector(0, 0, 0), pole[1]);
}

// --- Edge cases of the basis -----------------------------------------------------------

TEST(NurbsEvaluation, EndOfDomainGivesTheLastEdge) {
    // Clamped in both directions: the surface interpolates its boundary
    // control points, so the far corner is the last control point and the
    // far edge at u = end is the last column's curve.
    const Net net =
        randomNet(5, 4, 3, 3, clamped(3, {0.2f, 0.7f}, 0, 2), clamped(3, {2.0f}, 1, 3), 12, true);
    const auto s = build(net);
    expect_near(eval(*s, 2, 3), net.pts.back(), 2e-6f, "corner");
    expect_near(eval(*s, 2, 1), net.pts[4], 2e-6f, "u end");
    for (float v : {1.2f, 1.9f, 2.6f}) {
        expect_near(eval(*s, 2, v), eval(*s, 2 - 1e-4f, v), 2e-3f, "approaching the edge");
        kivVector D[2];
        kivPoint P;
        kivNurbSurfaceProbe::calc_point(*s, 2, v, &P, D);
        EXPECT_GT(D[0].length(), 0.0f);
    }
}

TEST(NurbsEvaluation, CoincidentKnotsInterpolateAndNeverDivideByZero) {
    // A double interior knot in a quadratic direction makes the surface pass
    // through the control points of that knot.
    Net net = randomNet(5, 2, 3, 2, {0, 0, 0, 0.5f, 0.5f, 1, 1, 1}, {0, 0, 1, 1}, 3, true);
    const auto s = build(net);
    expect_near(eval(*s, 0.5f, 0), net.pts[2], 2e-6f, "double knot, v = 0");
    expect_near(eval(*s, 0.5f, 1), net.pts[7], 2e-6f, "double knot, v = 1");
    expectMatchesReference(net, 20, 2, 0, 1, 0, 1);
    // Knots closer than 1e-5 count as coincident: ratio 1, finite results.
    net.uknots = {0, 0, 0, 0.5f, 0.500004f, 1, 1, 1};
    kivPoint P;
    kivVector D[2];
    kivNurbSurfaceProbe::calc_point(*build(net), 0.500002f, 0.25f, &P, D);
    EXPECT_TRUE(std::isfinite(D[0].x) && std::isfinite(D[1].y));
    expect_near(P, eval(*s, 0.5f, 0.25f), 1e-4f, "near-coincident knots");
}

// --- Set-up and refusals -------------------------------------------------------------------

TEST(NurbsSetup, AllocListsKnotSettersAndLookupRefuseBadSizes) {
    kivNurbSurface s;
    s.set_order(3, 3);
    for (auto [nu, nv] : {std::pair<int, int>{3, 5}, {5, 3}}) {
        s.set_nb_verts(nu, nv);
        EXPECT_EQ(0, s.alloc_lists()) << "four points each way at least";
        EXPECT_EQ(nullptr, s.cvs);
    }
    s.set_nb_verts(4, 5);
    ASSERT_EQ(1, s.alloc_lists());
    EXPECT_EQ(78, s.get_nb_uknots() * 10 + s.get_nb_vknots());
    for (int i = 0; i < 20; ++i) EXPECT_EQ(0.0f, s.cvs[i].w) << i;
    const Knots uk = {0, 0, 0, 0.5f, 1, 1, 1}, other(9, 9.0f);
    ASSERT_EQ(1, s.set_uknots(7, uk.data()));
    EXPECT_EQ(0, s.set_uknots(6, other.data()) + s.set_uknots(8, other.data()) +
                     s.set_vknots(7, other.data()) + s.set_vknots(9, other.data()));
    EXPECT_EQ(uk, Knots(s.uknots, s.uknots + 7));
    EXPECT_EQ(0, kivNurbSurface().set_uknots(0, other.data()));
    EXPECT_EQ(s.cvs + 19, s.points_lookup(3, 4));
    EXPECT_EQ(s.cvs + 6, s.points_lookup(2, 1));
    for (auto [i, j] : {std::pair<int, int>{4, 0}, {0, 5}, {-1, 0}})
        EXPECT_EQ(nullptr, s.points_lookup(i, j)) << i << " " << j;
    // Allocating again replaces the lists.
    s.set_nb_verts(6, 6);
    EXPECT_EQ(1, s.alloc_lists());
    EXPECT_EQ(1, s.set_vert(35, kivPoint4(1, -2, 3, 2)));
    const kivPoint4& stored = s.cvs[35];  // premultiplied by the weight
    EXPECT_EQ((std::vector<float>{2, -4, 6, 2}),
              (std::vector<float>{stored.x, stored.y, stored.z, stored.w}));
    EXPECT_EQ(0, s.set_vert(36, kivPoint4(1, 1, 1, 1)) + s.set_vert(-1, kivPoint4(1, 1, 1, 1)));
    // A failed construction throws.
    EXPECT_EQ("FATAL: Memory allocation failed\n",
              captured([] { EXPECT_THROW(kivNurbSurface(-4, 4, 2, 2), FurEFailed); }));
}

TEST(NurbsSetup, DomainTessStepsAndUnusableSurfaces) {
    kivNurbSurface s(6, 4, 4, 2);
    const Knots uk = {0, 0, 0, 0, 1, 2, 3, 3, 3, 3}, vk = {-1, -1, 0, 4, 5, 5};
    s.set_uknots(10, uk.data());
    s.set_vknots(6, vk.data());
    float d[4];
    s.get_domain(d[0], d[1], d[2], d[3]);
    EXPECT_EQ((std::vector<float>{0, 3, -1, 6}), std::vector<float>(d, d + 4));
    s.set_tess_steps(3);
    EXPECT_EQ(99, s.utess * 10 + s.vtess);
    // A surface with nothing allocated evaluates to zero and refuses all work.
    kivNurbSurface none;
    kivVector f[4];
    std::fill(f, f + 4, kivVector(1, 1, 1));
    none.calc_posnrmdir(0.5f, 0.5f, f);
    for (const kivVector& v : f) EXPECT_EQ(kivVector(0, 0, 0), v);
    none.utess = none.vtess = 2;
    EXPECT_EQ(nullptr, none.tess_uniform(nullptr));
    int map[4] = {};
    EXPECT_EQ(0, none.get_area(d[0], d[1], d[2]) + none.fill_area_map(0, 0, 0, 2, 2, 2, map) +
                     none.print_area_info(stdout));
    // An order above the number of control points cannot be evaluated.
    kivNurbSurface t(3, 3, 4, 2);
    t.utess = t.vtess = 1;
    EXPECT_EQ(nullptr, t.tess_uniform(nullptr));
}

TEST(NurbsSetup, CopyIsDeepAndAssignmentShares) {
    const auto a = build(randomNet(4, 4, 4, 4, clamped(4, {}), clamped(4, {}), 5, true));
    a->set_closed(1, 0);
    a->set_ref_equal_map("maps/eq.rla");
    kivNurbSurface b(*a);
    EXPECT_TRUE(a->cvs != b.cvs && a->uknots != b.uknots && a->vknots != b.vknots);
    EXPECT_TRUE(b.uclosed == 1 && !std::strcmp("maps/eq.rla", b.get_ref_equal_map()));
    EXPECT_EQ(0, std::memcmp(a->cvs, b.cvs, 16 * sizeof(kivPoint4)) +
                     std::memcmp(a->vknots, b.vknots, 8 * sizeof(float)));
    kivNurbSurface c;
    c = *a;
    EXPECT_TRUE(a->cvs == c.cvs && a->vknots == c.vknots);
    // New lists for a, or the end of a, leave c's shared arrays alive.
    const auto same = [](const kivPoint4& p, const kivPoint4& q) {
        return p.x == q.x && p.y == q.y && p.z == q.z && p.w == q.w;
    };
    const kivPoint4 first = c.cvs[0];
    ASSERT_EQ(1, a->alloc_lists());
    EXPECT_TRUE(a->cvs != c.cvs && same(a->cvs[0], kivPoint4(0, 0, 0, 0)));
    EXPECT_TRUE(same(first, c.cvs[0]) && first.w != 0.0f);
    kivNurbSurface d;
    {
        kivNurbSurface e(*a);
        d = e;
    }
    EXPECT_EQ(1, d.set_vert(15, kivPoint4(1, 2, 3, 1)));
    EXPECT_TRUE(same(kivPoint4(1, 2, 3, 1), *d.points_lookup(3, 3)));
}

TEST(NurbsSetup, XformTransformsTheSurface) {
    const Net net = randomNet(5, 4, 3, 3, clamped(3, {0.3f, 0.6f}), clamped(3, {0.5f}), 21, true);
    const auto s = build(net), original = build(net);
    const kivMatrix m(0, 2, 0, 0, -1, 0, 0, 0, 0, 0, 3, 0, 5, -1, 2, 1);
    s->xform(m);
    for (int k = 0; k <= 10; ++k) {
        const float u = k / 10.0f, v = (k * 7 % 11) / 10.0f;
        expect_near(eval(*s, u, v), eval(*original, u, v) * m, 1e-5f, std::to_string(k));
    }
}

TEST(NurbsTessellation, GridFollowsTheSurfaceRowByRow) {
    const auto s = build(
        randomNet(6, 5, 4, 3, clamped(4, {1.6f, 2.0f}, 1, 3), clamped(3, {0.4f, 0.6f}), 44, true));
    s->set_tess_steps(2);  // 6 x 6 steps
    ASSERT_EQ(66, s->utess * 10 + s->vtess);
    kivPolygons mesh;
    ASSERT_EQ(&mesh, s->tess_uniform(&mesh));
    ASSERT_EQ((std::vector<int>{49, 49, 49, 72}),
              (std::vector<int>{mesh.nb_verts, mesh.nb_norms, mesh.nb_texs, mesh.nb_polys}));
    for (int k = 0; k < 49; ++k) {
        const float u = (k % 7) / 6.0f, v = (k / 7) / 6.0f;
        kivVector f[4];
        s->calc_posnrmdir(u, v, f);
        expect_near(mesh.verts[k], f[0], 1e-5f, "vertex " + std::to_string(k));
        expect_near(mesh.norms[k], f[1], 1e-5f, "normal " + std::to_string(k));
        expect_near(mesh.texs[k], kivPoint(u, v, 0), 1e-7f, "tex " + std::to_string(k));
    }
    // Cell (i, j) with lower left vertex b = 7 j + i is split into (b, b + 1, b + 7) and
    // (b + 1, b + 8, b + 7); normals and texture coordinates use the vertex indices.
    for (int t = 0; t < 72; ++t) {
        const kivPoly& p = mesh.polys[t];
        const int b = t / 12 * 7 + t / 2 % 6, second = t % 2;
        const std::vector<int> want = {b + second, b + 1 + 7 * second, b + 7};
        EXPECT_EQ(want, std::vector<int>(p.verts, p.verts + p.nb_verts)) << t;
        EXPECT_EQ(want, std::vector<int>(p.norms, p.norms + 3)) << t;
        EXPECT_EQ(want, std::vector<int>(p.texs, p.texs + 3)) << t;
    }
}

// --- Areas -------------------------------------------------------------------------------

TEST(NurbsArea, ClosedDirectionsSampleFewerPoints) {
    Knots uk;
    for (int i = 0; i < 9; ++i) uk.push_back(static_cast<float>(i));
    const auto s = build(randomNet(5, 4, 4, 2, uk, {0, 0, 0.3f, 0.9f, 1, 1}, 61, false));
    for (int closed = 0; closed < 2; ++closed) {
        s->set_closed(closed, 0);
        const int nu = closed ? 3 : 5;
        // Quad areas of the sample grid from calc_posnrmdir positions.
        auto at = [&](int i, int j) {
            kivVector f[4];
            s->calc_posnrmdir(float(i) / (nu - 1), j / 3.0f, f);
            return kivPoint(f[0]);
        };
        double expected = 0;
        for (int j = 0; j + 1 < 4; ++j)
            for (int i = 0; i + 1 < nu; ++i)
                expected += kivPolygons::getQuadArea(at(i, j), at(i + 1, j), at(i + 1, j + 1),
                                                     at(i, j + 1));
        float total, smallest, largest;
        ASSERT_EQ(1, s->get_area(total, smallest, largest));
        EXPECT_NEAR(expected, total, 1e-4 * expected) << "closed " << closed;
        EXPECT_LE(smallest, largest);
    }
}

TEST(NurbsArea, AreaMapOfUniformAndNonUniformSurfaces) {
    // A flat 4 x 4 grid of equal cells: every sample stands for the same area.
    const Knots k = {0, 0, 1, 2, 3, 3};
    const float even[4] = {0, 1, 2, 3}, widening[4] = {0, 1, 3, 7};
    for (const float* xs : {even, widening}) {
        std::vector<kivPoint4> pts;
        for (int j = 0; j < 16; ++j) pts.emplace_back(xs[j % 4], float(j / 4), 0, 1);
        const auto s = build(flatNet(4, 4, k, k, pts));
        const int w = 10, h = 7, stride = 12;
        std::vector<int> map(stride * h, -1);
        ASSERT_EQ(1, s->fill_area_map(0, 0, 0, w, h, stride, map.data()));
        // Widening columns: cell areas 1, 2, 4 give sample means 1, 1.5, 3, 4 (of 4).
        const int level[4] = {area_map_level(0.25), area_map_level(1.5 / 4),
                              area_map_level(3.0 / 4), 255};
        for (int py = 0; py < h; ++py) {
            for (int x = 0; x < stride; ++x) {
                const int at = map[py * stride + x];
                const int want = x >= w ? -1 : xs == even ? 255 : x % 3 == 0 ? level[x / 3] : at;
                EXPECT_EQ(want, at) << x << "," << py;
                // Levels never fall along u.
                EXPECT_GE(at, x > 0 && x < w ? map[py * stride + x - 1] : at) << x << "," << py;
            }
        }
        EXPECT_EQ(xs == even ? 255 : 73, map[0]);
    }
}

TEST(NurbsArea, PrintAreaInfoOfAUnitSquare) {
    const auto s = build(flatNet(2, 2, {0, 0, 1, 1}, {0, 0, 1, 1},
                                 {{0, 0, 0, 1}, {1, 0, 0, 1}, {0, 2, 0, 1}, {1, 2, 0, 1}}));
    s->utess = 2;
    s->vtess = 4;
    EXPECT_EQ(
        "of 8 U tess segments (dist): min = 0.500000, max = 0.500000, avg = 0.500000\n"
        "of 8 U tess segments (uv): min = 0.500000, max = 0.500000, avg = 0.500000\n"
        "of 8 V tess segments (dist): min = 0.500000, max = 0.500000, avg = 0.500000\n"
        "of 8 V tess segments (uv): min = 0.250000, max = 0.250000, avg = 0.250000\n"
        "of 4 U iso curves: min = 1.000000, max = 1.000000, avg = 1.000000\n"
        "of 2 V iso curves: min = 2.000000, max = 2.000000, avg = 2.000000\n",
        file_text([&](FILE* f) { EXPECT_EQ(1, s->print_area_info(f)); }));
}
