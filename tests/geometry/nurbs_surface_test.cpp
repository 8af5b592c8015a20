#include "geometry/nurbs_surface.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "foundation/fur_exception.h"

// Access to the private point evaluator.
class kivNurbSurfaceProbe {
  public:
    static void calc_point(const kivNurbSurface& s, float u, float v, kivPoint* P, kivVector* D) {
        s.calc_point(u, v, P, D);
    }
};

namespace {

// A control net given with plain (not premultiplied) points and weights.
struct Net {
    int nu, nv, ku, kv;
    std::vector<float> uknots, vknots;
    std::vector<kivPoint4> pts;  // (x, y, z, w), point (i, j) at nu * j + i
};

std::unique_ptr<kivNurbSurface> Build(const Net& net) {
    auto s = std::make_unique<kivNurbSurface>(net.nu, net.nv, net.ku, net.kv);
    EXPECT_EQ(s->set_uknots(static_cast<int>(net.uknots.size()), net.uknots.data()), 1);
    EXPECT_EQ(s->set_vknots(static_cast<int>(net.vknots.size()), net.vknots.data()), 1);
    for (int i = 0; i < net.nu * net.nv; ++i) EXPECT_EQ(s->set_vert(i, net.pts[i]), 1);
    return s;
}

std::vector<float> ClampedKnots(int n, int k, const std::vector<float>& inner, float lo = 0,
                                float hi = 1) {
    std::vector<float> t(k, lo);
    t.insert(t.end(), inner.begin(), inner.end());
    t.insert(t.end(), k, hi);
    EXPECT_EQ(static_cast<int>(t.size()), n + k);
    return t;
}

Net RandomNet(int nu, int nv, int ku, int kv, std::vector<float> uk, std::vector<float> vk,
              unsigned seed, bool rational) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> coord(-2.0f, 2.0f);
    std::uniform_real_distribution<float> weight(0.4f, 2.5f);
    Net net{nu, nv, ku, kv, std::move(uk), std::move(vk), {}};
    for (int i = 0; i < nu * nv; ++i) {
        net.pts.emplace_back(coord(rng), coord(rng), coord(rng), rational ? weight(rng) : 1.0f);
    }
    return net;
}

// --- Independent evaluation in double precision ---------------------------------

// The textbook recursive definition, half-open intervals, 0/0 taken as 0.
double RefBasis(const std::vector<float>& T, int i, int k, double t) {
    if (k == 1) return (T[i] <= t && t < T[i + 1]) ? 1.0 : 0.0;
    double a = 0.0, b = 0.0;
    const double d1 = static_cast<double>(T[i + k - 1]) - T[i];
    const double d2 = static_cast<double>(T[i + k]) - T[i + 1];
    if (d1 > 0.0) a = (t - T[i]) / d1 * RefBasis(T, i, k - 1, t);
    if (d2 > 0.0) b = (T[i + k] - t) / d2 * RefBasis(T, i + 1, k - 1, t);
    return a + b;
}

kivPoint RefPoint(const Net& net, double u, double v) {
    double x = 0, y = 0, z = 0, w = 0;
    for (int j = 0; j < net.nv; ++j) {
        const double bv = RefBasis(net.vknots, j, net.kv, v);
        if (bv == 0.0) continue;
        for (int i = 0; i < net.nu; ++i) {
            const double b = RefBasis(net.uknots, i, net.ku, u) * bv;
            const kivPoint4& p = net.pts[net.nu * j + i];
            x += b * p.w * p.x;
            y += b * p.w * p.y;
            z += b * p.w * p.z;
            w += b * p.w;
        }
    }
    return kivPoint(static_cast<float>(x / w), static_cast<float>(y / w),
                    static_cast<float>(z / w));
}

// Bernstein polynomial i of degree n and its derivative.
double Bernstein(int n, int i, double t) {
    double c = 1.0;
    for (int m = 1; m <= i; ++m) c = c * (n - i + m) / m;
    return c * std::pow(t, i) * std::pow(1.0 - t, n - i);
}
double BernsteinDeriv(int n, int i, double t) {
    if (n == 0) return 0.0;
    const double a = i > 0 ? Bernstein(n - 1, i - 1, t) : 0.0;
    const double b = i < n ? Bernstein(n - 1, i, t) : 0.0;
    return n * (a - b);
}

// A rational Bezier patch on [0, 1]^2 directly from its Bernstein form:
// position and the partial derivatives (quotient rule).
void BezierFrame(const Net& net, double u, double v, kivPoint& P, kivVector& Du, kivVector& Dv) {
    const int n = net.nu - 1, m = net.nv - 1;
    double A[3] = {0, 0, 0}, Au[3] = {0, 0, 0}, Av[3] = {0, 0, 0}, W = 0, Wu = 0, Wv = 0;
    for (int j = 0; j <= m; ++j) {
        for (int i = 0; i <= n; ++i) {
            const kivPoint4& p = net.pts[net.nu * j + i];
            const double b = Bernstein(n, i, u) * Bernstein(m, j, v);
            const double bu = BernsteinDeriv(n, i, u) * Bernstein(m, j, v);
            const double bv = Bernstein(n, i, u) * BernsteinDeriv(m, j, v);
            const double c[3] = {p.x * p.w, p.y * p.w, p.z * p.w};
            for (int k = 0; k < 3; ++k) {
                A[k] += b * c[k];
                Au[k] += bu * c[k];
                Av[k] += bv * c[k];
            }
            W += b * p.w;
            Wu += bu * p.w;
            Wv += bv * p.w;
        }
    }
    double p[3], du[3], dv[3];
    for (int k = 0; k < 3; ++k) {
        p[k] = A[k] / W;
        du[k] = (Au[k] * W - A[k] * Wu) / (W * W);
        dv[k] = (Av[k] * W - A[k] * Wv) / (W * W);
    }
    P = kivPoint(float(p[0]), float(p[1]), float(p[2]));
    Du = kivVector(float(du[0]), float(du[1]), float(du[2]));
    Dv = kivVector(float(dv[0]), float(dv[1]), float(dv[2]));
}

void ExpectNear(const kivPoint& a, const kivPoint& b, float tol, const std::string& what) {
    EXPECT_NEAR(a.x, b.x, tol) << what;
    EXPECT_NEAR(a.y, b.y, tol) << what;
    EXPECT_NEAR(a.z, b.z, tol) << what;
}
void ExpectNear(const kivVector& a, const kivVector& b, float tol, const std::string& what) {
    ExpectNear(kivPoint(a), kivPoint(b), tol, what);
}

kivPoint Eval(const kivNurbSurface& s, float u, float v) {
    kivPoint P;
    kivNurbSurfaceProbe::calc_point(s, u, v, &P, nullptr);
    return P;
}

// Central differences of the position, times the span lengths su and sv.
void FiniteDiff(const kivNurbSurface& s, float u, float v, float su, float sv, kivVector* D) {
    const float h = 1e-3f;
    const kivPoint pu = Eval(s, u + h, v) - Eval(s, u - h, v);
    const kivPoint pv = Eval(s, u, v + h) - Eval(s, u, v - h);
    D[0] = kivVector(pu) * (su / (2 * h));
    D[1] = kivVector(pv) * (sv / (2 * h));
}

// Length of the knot span holding t (t strictly inside the domain).
float SpanLength(const std::vector<float>& T, float t) {
    for (std::size_t i = 0; i + 1 < T.size(); ++i) {
        if (T[i] <= t && t < T[i + 1]) return T[i + 1] - T[i];
    }
    return 0.0f;
}

}  // namespace

// --- Evaluation against independent computations -------------------------------------

TEST(NurbsEvaluation, RationalBezierPatchMatchesBernsteinForm) {
    for (int trial = 0; trial < 8; ++trial) {
        const Net net = RandomNet(4, 4, 4, 4, ClampedKnots(4, 4, {}), ClampedKnots(4, 4, {}),
                                  100 + trial, true);
        const auto s = Build(net);
        std::mt19937 rng(trial);
        std::uniform_real_distribution<float> t(0.0f, 1.0f);
        for (int k = 0; k < 20; ++k) {
            const float u = t(rng), v = t(rng);
            kivPoint P, R;
            kivVector D[2], Ru, Rv;
            kivNurbSurfaceProbe::calc_point(*s, u, v, &P, D);
            BezierFrame(net, u, v, R, Ru, Rv);
            const std::string at =
                "trial " + std::to_string(trial) + " sample " + std::to_string(k);
            ExpectNear(P, R, 2e-5f, at);
            ExpectNear(D[0], Ru, 5e-4f, at + " du");
            ExpectNear(D[1], Rv, 5e-4f, at + " dv");
        }
    }
}

TEST(NurbsEvaluation, DerivativesAreScaledBySpanLength) {
    // The same Bezier patch over the domain [2, 5] x [-1, 0.5]: positions
    // agree at mapped parameters and the derivatives are per unit of span.
    Net net = RandomNet(3, 4, 3, 4, ClampedKnots(3, 3, {}, 2, 5), ClampedKnots(4, 4, {}, -1, 0.5f),
                        7, true);
    const auto s = Build(net);
    Net unit = net;
    unit.uknots = ClampedKnots(3, 3, {});
    unit.vknots = ClampedKnots(4, 4, {});
    for (int i = 0; i < 10; ++i) {
        const float a = 0.05f + 0.09f * i, b = 0.93f - 0.08f * i;
        kivPoint P, R;
        kivVector D[2], Ru, Rv;
        kivNurbSurfaceProbe::calc_point(*s, 2 + 3 * a, -1 + 1.5f * b, &P, D);
        BezierFrame(unit, a, b, R, Ru, Rv);
        ExpectNear(P, R, 2e-5f, "sample " + std::to_string(i));
        ExpectNear(D[0], Ru, 5e-4f, "du sample " + std::to_string(i));
        ExpectNear(D[1], Rv, 5e-4f, "dv sample " + std::to_string(i));
    }
}

TEST(NurbsEvaluation, NonUniformClampedSurfaceMatchesRecursiveBasis) {
    const std::vector<float> uk = ClampedKnots(7, 4, {0.2f, 0.25f, 0.9f}, 0, 1.5f);
    const std::vector<float> vk = ClampedKnots(6, 3, {0.1f, 0.7f, 1.6f}, -0.5f, 2.0f);
    for (int trial = 0; trial < 4; ++trial) {
        const Net net = RandomNet(7, 6, 4, 3, uk, vk, 200 + trial, trial % 2 == 1);
        const auto s = Build(net);
        std::mt19937 rng(trial);
        std::uniform_real_distribution<float> tu(0.0f, 1.5f), tv(-0.5f, 2.0f);
        for (int k = 0; k < 30; ++k) {
            const float u = tu(rng), v = tv(rng);
            const std::string at =
                "trial " + std::to_string(trial) + " sample " + std::to_string(k);
            ExpectNear(Eval(*s, u, v), RefPoint(net, u, v), 3e-5f, at);
        }
    }
}

TEST(NurbsEvaluation, DerivativesMatchFiniteDifferences) {
    const std::vector<float> uk = ClampedKnots(6, 4, {0.3f, 0.45f}, 0, 1);
    const std::vector<float> vk = ClampedKnots(5, 3, {0.6f, 1.1f}, 0, 2);
    const Net net = RandomNet(6, 5, 4, 3, uk, vk, 31, true);
    const auto s = Build(net);
    std::mt19937 rng(5);
    std::uniform_real_distribution<float> tu(0.01f, 0.99f), tv(0.01f, 1.99f);
    for (int k = 0; k < 40; ++k) {
        const float u = tu(rng), v = tv(rng);
        // Stay clear of knots, where the span length changes.
        bool near_knot = false;
        for (float t : uk) near_knot = near_knot || std::fabs(t - u) < 2e-3f;
        for (float t : vk) near_knot = near_knot || std::fabs(t - v) < 2e-3f;
        if (near_knot) continue;
        kivPoint P;
        kivVector D[2], F[2];
        kivNurbSurfaceProbe::calc_point(*s, u, v, &P, D);
        FiniteDiff(*s, u, v, SpanLength(uk, u), SpanLength(vk, v), F);
        const float scale = 1.0f + std::sqrt(D[0].sqrd_length() + D[1].sqrd_length());
        ExpectNear(D[0], F[0], 2e-3f * scale, "du sample " + std::to_string(k));
        ExpectNear(D[1], F[1], 2e-3f * scale, "dv sample " + std::to_string(k));
    }
}

TEST(NurbsEvaluation, ClosedPeriodicSurfaceMatchesRecursiveBasisAndCloses) {
    // Seven control points along u of which the last three repeat the first
    // three, on a uniform unclamped knot vector: a closed cubic ring.
    std::vector<float> uk;
    for (int i = -3; i <= 7; ++i) uk.push_back(static_cast<float>(i));
    Net net = RandomNet(7, 4, 4, 2, uk, {0, 0, 0.4f, 0.8f, 1, 1}, 9, true);
    for (int j = 0; j < 4; ++j) {
        for (int i = 0; i < 3; ++i) net.pts[7 * j + 4 + i] = net.pts[7 * j + i];
    }
    const auto s = Build(net);
    s->set_closed(1, 0);
    float us, ul, vs, vl;
    s->get_domain(us, ul, vs, vl);
    EXPECT_EQ(us, 0.0f);
    EXPECT_EQ(ul, 4.0f);
    EXPECT_EQ(vs, 0.0f);
    EXPECT_EQ(vl, 1.0f);
    for (int k = 0; k < 25; ++k) {
        const float u = 0.16f * k, v = 0.039f * k;
        ExpectNear(Eval(*s, u, v), RefPoint(net, u, v), 3e-5f, "sample " + std::to_string(k));
    }
    // The seam: both ends of the domain give the same point and tangent.
    for (float v : {0.0f, 0.3f, 0.77f}) {
        kivVector a[4], b[4];
        s->calc_posnrmdir(0.0f, v, a);
        s->calc_posnrmdir(1.0f, v, b);
        ExpectNear(a[0], b[0], 2e-5f, "seam position");
        ExpectNear(a[3], b[3], 2e-4f, "seam direction");
    }
}

// --- Exact conics ------------------------------------------------------------------

namespace {

const float kHalfRoot2 = 0.70710678f;

// A quarter of the unit cylinder about z, from (1, 0) to (0, 1), z in [0, 2].
Net QuarterCylinder() {
    Net net{3, 2, 3, 2, {0, 0, 0, 1, 1, 1}, {0, 0, 1, 1}, {}};
    for (float z : {0.0f, 2.0f}) {
        net.pts.emplace_back(1, 0, z, 1);
        net.pts.emplace_back(1, 1, z, kHalfRoot2);
        net.pts.emplace_back(0, 1, z, 1);
    }
    return net;
}

// An octant of the unit sphere: longitude arc along u times latitude arc
// along v (from the equator to the pole), weights multiplied.
Net SphereOctant() {
    const float c[3][2] = {{1, 0}, {1, 1}, {0, 1}};
    const float w[3] = {1, kHalfRoot2, 1};
    Net net{3, 3, 3, 3, {0, 0, 0, 1, 1, 1}, {0, 0, 0, 1, 1, 1}, {}};
    for (int j = 0; j < 3; ++j) {
        const float r = c[j][0], z = c[j][1];
        for (int i = 0; i < 3; ++i) net.pts.emplace_back(r * c[i][0], r * c[i][1], z, w[i] * w[j]);
    }
    return net;
}

}  // namespace

TEST(NurbsConics, QuarterCylinderLiesOnTheCylinderWithOutwardNormals) {
    const auto s = Build(QuarterCylinder());
    for (int j = 0; j <= 10; ++j) {
        for (int i = 0; i <= 10; ++i) {
            kivVector f[4];
            s->calc_posnrmdir(i / 10.0f, j / 10.0f, f);
            const std::string at = std::to_string(i) + "," + std::to_string(j);
            EXPECT_NEAR(std::hypot(f[0].x, f[0].y), 1.0f, 1e-6f) << at;
            EXPECT_NEAR(f[0].z, 0.2f * j, 1e-6f) << at;
            EXPECT_GE(f[0].x, -1e-7f) << at;
            EXPECT_GE(f[0].y, -1e-7f) << at;
            ExpectNear(f[1], kivVector(f[0].x, f[0].y, 0), 2e-6f, at + " normal");
            EXPECT_NEAR(f[1].length(), 1.0f, 1e-6f) << at;
            ExpectNear(f[2], kivVector(0, 0, 1), 1e-6f, at + " v direction");
            ExpectNear(f[3], kivVector(-f[0].y, f[0].x, 0), 2e-6f, at + " u direction");
        }
    }
}

TEST(NurbsConics, SphereOctantLiesOnTheSphereWithOutwardNormals) {
    const auto s = Build(SphereOctant());
    for (int j = 0; j <= 9; ++j) {  // the pole (v = 1) has no normal
        for (int i = 0; i <= 10; ++i) {
            kivVector f[4];
            s->calc_posnrmdir(i / 10.0f, j / 10.0f, f);
            const std::string at = std::to_string(i) + "," + std::to_string(j);
            EXPECT_NEAR(f[0].length(), 1.0f, 1e-6f) << at;
            ExpectNear(f[1], f[0], 3e-6f, at + " normal");
            EXPECT_NEAR(f[1] * f[2], 0.0f, 1e-6f) << at;
            EXPECT_NEAR(f[1] * f[3], 0.0f, 1e-6f) << at;
        }
    }
    // At the pole the u derivative vanishes: the normal is reported as zero.
    kivVector pole[4];
    s->calc_posnrmdir(0.5f, 1.0f, pole);
    ExpectNear(pole[0], kivVector(0, 0, 1), 1e-6f, "pole");
    EXPECT_EQ(pole[1], kivVector(0, 0, 0));
}

// --- Edge cases of the basis -----------------------------------------------------------

TEST(NurbsEvaluation, BilinearPatchAveragesCornersAndHasTheQuadArea) {
    Net net{2, 2, 2, 2, {0, 0, 1, 1}, {0, 0, 1, 1}, {}};
    net.pts = {{0, 0, 0, 1}, {2, 0, 1, 1}, {0, 3, 0, 1}, {2, 3, -1, 1}};
    const auto s = Build(net);
    ExpectNear(Eval(*s, 0.5f, 0.5f), kivPoint(1, 1.5f, 0), 1e-6f, "centre");
    float total, smallest, largest;
    ASSERT_EQ(s->get_area(total, smallest, largest), 1);
    const float quad = kivPolygons::getQuadArea(kivPoint(0, 0, 0), kivPoint(2, 0, 1),
                                                kivPoint(2, 3, -1), kivPoint(0, 3, 0));
    EXPECT_FLOAT_EQ(total, quad);
    EXPECT_FLOAT_EQ(smallest, quad);
    EXPECT_FLOAT_EQ(largest, quad);
}

TEST(NurbsEvaluation, ScalingAllWeightsChangesNothing) {
    const std::vector<float> uk = ClampedKnots(5, 3, {0.3f, 0.6f});
    const std::vector<float> vk = ClampedKnots(4, 4, {});
    const Net net = RandomNet(5, 4, 3, 4, uk, vk, 77, true);
    Net scaled = net;
    for (kivPoint4& p : scaled.pts) p.w *= 3.5f;
    const auto a = Build(net);
    const auto b = Build(scaled);
    // set_vert premultiplies: a point of weight 2 is stored as (2x, 2y, 2z, 2).
    kivNurbSurface c(4, 4, 2, 2);
    c.set_vert(5, kivPoint4(1, -2, 3, 2));
    const kivPoint4* stored = c.points_lookup(1, 1);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->x, 2.0f);
    EXPECT_EQ(stored->y, -4.0f);
    EXPECT_EQ(stored->z, 6.0f);
    EXPECT_EQ(stored->w, 2.0f);
    for (int k = 0; k <= 20; ++k) {
        const float u = k / 20.0f, v = 1.0f - k / 20.0f;
        kivVector fa[4], fb[4];
        a->calc_posnrmdir(u, v, fa);
        b->calc_posnrmdir(u, v, fb);
        for (int m = 0; m < 4; ++m) ExpectNear(fa[m], fb[m], 3e-5f, "sample " + std::to_string(k));
    }
}

TEST(NurbsEvaluation, EndOfDomainGivesTheLastEdge) {
    // Clamped in both directions: the surface interpolates its boundary
    // control points, so the far corner is the last control point and the
    // far edge at u = end is the last column's curve.
    const Net net = RandomNet(5, 4, 3, 3, ClampedKnots(5, 3, {0.2f, 0.7f}, 0, 2),
                              ClampedKnots(4, 3, {2.0f}, 1, 3), 12, true);
    const auto s = Build(net);
    const kivPoint4& last = net.pts.back();
    ExpectNear(Eval(*s, 2, 3), kivPoint(last.x, last.y, last.z), 2e-6f, "corner");
    const kivPoint4& first_last = net.pts[4];
    ExpectNear(Eval(*s, 2, 1), kivPoint(first_last.x, first_last.y, first_last.z), 2e-6f, "u end");
    // Approaching the end continuously.
    for (float v : {1.2f, 1.9f, 2.6f}) {
        ExpectNear(Eval(*s, 2, v), Eval(*s, 2 - 1e-4f, v), 2e-3f, "edge");
        kivVector D[2];
        kivPoint P;
        kivNurbSurfaceProbe::calc_point(*s, 2, v, &P, D);
        EXPECT_GT(D[0].length(), 0.0f);
    }
}

TEST(NurbsEvaluation, CoincidentKnotsInterpolateAndNeverDivideByZero) {
    // A double interior knot in a quadratic direction makes the surface pass
    // through the control points of that knot.
    Net net = RandomNet(5, 2, 3, 2, {0, 0, 0, 0.5f, 0.5f, 1, 1, 1}, {0, 0, 1, 1}, 3, true);
    const auto s = Build(net);
    for (float v : {0.0f, 1.0f}) {
        const kivPoint4& p = net.pts[5 * static_cast<int>(v) + 2];
        ExpectNear(Eval(*s, 0.5f, v), kivPoint(p.x, p.y, p.z), 2e-6f, "double knot");
    }
    for (int k = 0; k < 20; ++k) {
        const float u = k / 20.0f;
        ExpectNear(Eval(*s, u, 0.3f), RefPoint(net, u, 0.3f), 3e-5f, "u " + std::to_string(u));
    }
    // Knots closer than 1e-5 count as coincident: ratio 1, finite results.
    net.uknots = {0, 0, 0, 0.5f, 0.500004f, 1, 1, 1};
    const auto t = Build(net);
    kivPoint P;
    kivVector D[2];
    kivNurbSurfaceProbe::calc_point(*t, 0.500002f, 0.25f, &P, D);
    EXPECT_TRUE(std::isfinite(P.x) && std::isfinite(P.y) && std::isfinite(P.z));
    EXPECT_TRUE(std::isfinite(D[0].x) && std::isfinite(D[1].y));
    ExpectNear(P, Eval(*s, 0.5f, 0.25f), 1e-4f, "near-coincident knots");
}

// --- Set-up and refusals -------------------------------------------------------------------

TEST(NurbsSetup, AllocListsNeedsFourPointsEachWay) {
    kivNurbSurface s;
    s.set_order(3, 3);
    s.set_nb_verts(3, 5);
    EXPECT_EQ(s.alloc_lists(), 0);
    EXPECT_EQ(s.cvs, nullptr);
    s.set_nb_verts(5, 3);
    EXPECT_EQ(s.alloc_lists(), 0);
    s.set_nb_verts(4, 5);
    ASSERT_EQ(s.alloc_lists(), 1);
    ASSERT_NE(s.cvs, nullptr);
    EXPECT_EQ(s.get_nb_uknots(), 7);
    EXPECT_EQ(s.get_nb_vknots(), 8);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(s.cvs[i].w, 0.0f) << i;
    // Allocating again replaces the lists.
    s.set_nb_verts(6, 6);
    EXPECT_EQ(s.alloc_lists(), 1);
    EXPECT_EQ(s.set_vert(35, kivPoint4(1, 1, 1, 1)), 1);
    EXPECT_EQ(s.set_vert(36, kivPoint4(1, 1, 1, 1)), 0);
    EXPECT_EQ(s.set_vert(-1, kivPoint4(1, 1, 1, 1)), 0);
}

TEST(NurbsSetup, KnotSettersRefuseWrongCounts) {
    kivNurbSurface s(4, 5, 3, 2);
    const std::vector<float> uk = {0, 0, 0, 0.5f, 1, 1, 1};
    const std::vector<float> vk = {0, 0, 0.25f, 0.5f, 0.75f, 1, 1};
    ASSERT_EQ(s.set_uknots(7, uk.data()), 1);
    ASSERT_EQ(s.set_vknots(7, vk.data()), 1);
    const std::vector<float> other = {9, 9, 9, 9, 9, 9, 9, 9};
    EXPECT_EQ(s.set_uknots(6, other.data()), 0);
    EXPECT_EQ(s.set_uknots(8, other.data()), 0);
    EXPECT_EQ(s.set_vknots(6, other.data()), 0);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(s.uknots[i], uk[i]) << i;
    for (int i = 0; i < 7; ++i) EXPECT_EQ(s.vknots[i], vk[i]) << i;
    kivNurbSurface empty;
    EXPECT_EQ(empty.set_uknots(0, other.data()), 0);
}

TEST(NurbsSetup, DomainTessStepsAndLookup) {
    kivNurbSurface s(6, 4, 4, 2);
    const std::vector<float> uk = {0, 0, 0, 0, 1, 2, 3, 3, 3, 3};
    const std::vector<float> vk = {-1, -1, 0, 4, 5, 5};
    s.set_uknots(10, uk.data());
    s.set_vknots(6, vk.data());
    float us, ul, vs, vl;
    s.get_domain(us, ul, vs, vl);
    EXPECT_EQ(us, 0.0f);
    EXPECT_EQ(ul, 3.0f);
    EXPECT_EQ(vs, -1.0f);
    EXPECT_EQ(vl, 6.0f);
    s.set_tess_steps(3);
    EXPECT_EQ(s.utess, 9);
    EXPECT_EQ(s.vtess, 9);
    EXPECT_EQ(s.points_lookup(5, 3), s.cvs + 23);
    EXPECT_EQ(s.points_lookup(2, 1), s.cvs + 8);
    EXPECT_EQ(s.points_lookup(6, 0), nullptr);
    EXPECT_EQ(s.points_lookup(0, 4), nullptr);
    EXPECT_EQ(s.points_lookup(-1, 0), nullptr);
}

TEST(NurbsSetup, CopyIsDeepAndAssignmentShares) {
    const Net net = RandomNet(4, 4, 4, 4, ClampedKnots(4, 4, {}), ClampedKnots(4, 4, {}), 5, true);
    const auto a = Build(net);
    a->set_closed(1, 0);
    a->set_ref_equal_map("maps/eq.rla");
    kivNurbSurface b(*a);
    EXPECT_NE(b.cvs, a->cvs);
    EXPECT_NE(b.uknots, a->uknots);
    EXPECT_EQ(b.uclosed, 1);
    EXPECT_STREQ(b.get_ref_equal_map(), "maps/eq.rla");
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(b.cvs[i].x, a->cvs[i].x);
        EXPECT_EQ(b.cvs[i].w, a->cvs[i].w);
    }
    b.cvs[0].x += 1.0f;
    b.uknots[0] = -7;
    EXPECT_NE(a->cvs[0].x, b.cvs[0].x);
    EXPECT_EQ(a->uknots[0], 0.0f);

    kivNurbSurface c;
    c = *a;
    EXPECT_EQ(c.cvs, a->cvs);
    EXPECT_EQ(c.vknots, a->vknots);
    c.cvs = nullptr;  // only one of two sharing surfaces may free the arrays
    c.uknots = nullptr;
    c.vknots = nullptr;
}

TEST(NurbsSetup, FailedConstructionThrows) {
    testing::internal::CaptureStdout();
    EXPECT_THROW(kivNurbSurface(-4, 4, 2, 2), FurEFailed);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "FATAL: Memory allocation failed\n");
}

TEST(NurbsSetup, UnusableSurfacesEvaluateToZeroAndRefuseWork) {
    kivNurbSurface s;  // nothing allocated
    kivVector f[4] = {kivVector(1, 1, 1), kivVector(1, 1, 1), kivVector(1, 1, 1),
                      kivVector(1, 1, 1)};
    s.calc_posnrmdir(0.5f, 0.5f, f);
    for (const kivVector& v : f) EXPECT_EQ(v, kivVector(0, 0, 0));
    s.utess = s.vtess = 2;
    EXPECT_EQ(s.tess_uniform(nullptr), nullptr);
    float a, b, c;
    EXPECT_EQ(s.get_area(a, b, c), 0);
    int map[4] = {};
    EXPECT_EQ(s.fill_area_map(0, 0, 0, 2, 2, 2, map), 0);
    EXPECT_EQ(s.print_area_info(stdout), 0);
    // An order above the number of control points cannot be evaluated.
    kivNurbSurface t(3, 3, 4, 2);
    t.utess = t.vtess = 1;
    EXPECT_EQ(t.tess_uniform(nullptr), nullptr);
}

TEST(NurbsSetup, XformTransformsTheSurface) {
    const Net net = RandomNet(5, 4, 3, 3, ClampedKnots(5, 3, {0.3f, 0.6f}),
                              ClampedKnots(4, 3, {0.5f}), 21, true);
    const auto s = Build(net);
    const auto original = Build(net);
    kivMatrix m(0, 2, 0, 0, -1, 0, 0, 0, 0, 0, 3, 0, 5, -1, 2, 1);
    s->xform(m);
    for (int k = 0; k <= 10; ++k) {
        const float u = k / 10.0f, v = (k * 7 % 11) / 10.0f;
        ExpectNear(Eval(*s, u, v), Eval(*original, u, v) * m, 1e-5f, "sample " + std::to_string(k));
    }
}

// --- Tessellation ----------------------------------------------------------------------

TEST(NurbsTessellation, OneStepGivesFourVerticesAndTwoTriangles) {
    Net net{2, 2, 2, 2, {0, 0, 1, 1}, {0, 0, 1, 1}, {}};
    net.pts = {{0, 0, 0, 1}, {1, 0, 0, 1}, {0, 1, 0, 1}, {1, 1, 0, 1}};
    const auto s = Build(net);
    s->utess = s->vtess = 1;
    kivPolygons mesh;
    ASSERT_EQ(s->tess_uniform(&mesh), &mesh);
    ASSERT_EQ(mesh.nb_verts, 4);
    ASSERT_EQ(mesh.nb_norms, 4);
    ASSERT_EQ(mesh.nb_texs, 4);
    ASSERT_EQ(mesh.nb_polys, 2);
    const int expected[2][3] = {{0, 1, 2}, {1, 3, 2}};
    for (int t = 0; t < 2; ++t) {
        EXPECT_EQ(mesh.polys[t].nb_verts, 3);
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(mesh.polys[t].verts[c], expected[t][c]);
            EXPECT_EQ(mesh.polys[t].norms[c], expected[t][c]);
            EXPECT_EQ(mesh.polys[t].texs[c], expected[t][c]);
        }
    }
    ExpectNear(mesh.verts[3], kivPoint(1, 1, 0), 0, "vertex 3");
    ExpectNear(mesh.texs[1], kivPoint(1, 0, 0), 0, "texture 1");
    ExpectNear(mesh.norms[2], kivVector(0, 0, 1), 0, "normal 2");
}

TEST(NurbsTessellation, GridFollowsTheSurfaceRowByRow) {
    const Net net = RandomNet(6, 5, 4, 3, ClampedKnots(6, 4, {1.6f, 2.0f}, 1, 3),
                              ClampedKnots(5, 3, {0.4f, 0.6f}), 44, true);
    const auto s = Build(net);
    s->set_tess_steps(2);  // 6 x 6 steps
    ASSERT_EQ(s->utess, 6);
    ASSERT_EQ(s->vtess, 6);
    std::unique_ptr<kivPolygons> mesh(s->tess_uniform(nullptr));
    ASSERT_NE(mesh, nullptr);
    ASSERT_EQ(mesh->nb_verts, 49);
    ASSERT_EQ(mesh->nb_polys, 72);
    for (int j = 0; j <= 6; ++j) {
        for (int i = 0; i <= 6; ++i) {
            const int k = j * 7 + i;
            kivVector f[4];
            s->calc_posnrmdir(i / 6.0f, j / 6.0f, f);
            ExpectNear(mesh->verts[k], kivPoint(f[0]), 1e-5f, "vertex " + std::to_string(k));
            ExpectNear(mesh->norms[k], f[1], 1e-5f, "normal " + std::to_string(k));
            ExpectNear(mesh->texs[k], kivPoint(i / 6.0f, j / 6.0f, 0), 1e-7f, "tex");
        }
    }
    // Cell (i, j) = (2, 3) is the fourth row's third cell.
    const kivPoly& a = mesh->polys[2 * (3 * 6 + 2)];
    const kivPoly& b = mesh->polys[2 * (3 * 6 + 2) + 1];
    EXPECT_EQ(a.verts[0], 23);
    EXPECT_EQ(a.verts[1], 24);
    EXPECT_EQ(a.verts[2], 30);
    EXPECT_EQ(b.verts[0], 24);
    EXPECT_EQ(b.verts[1], 31);
    EXPECT_EQ(b.verts[2], 30);
}

// --- Areas -------------------------------------------------------------------------------

TEST(NurbsArea, ClosedDirectionsSampleFewerPoints) {
    std::vector<float> uk;
    for (int i = 0; i < 9; ++i) uk.push_back(static_cast<float>(i));
    const Net net = RandomNet(5, 4, 4, 2, uk, {0, 0, 0.3f, 0.9f, 1, 1}, 61, false);
    const auto s = Build(net);
    for (int closed = 0; closed < 2; ++closed) {
        s->set_closed(closed, 0);
        const int nu = closed ? 3 : 5;
        // Quad areas of the sample grid from calc_posnrmdir positions.
        double expected = 0;
        for (int j = 0; j + 1 < 4; ++j) {
            for (int i = 0; i + 1 < nu; ++i) {
                kivVector a[4], b[4], c[4], d[4];
                s->calc_posnrmdir(float(i) / (nu - 1), j / 3.0f, a);
                s->calc_posnrmdir(float(i + 1) / (nu - 1), j / 3.0f, b);
                s->calc_posnrmdir(float(i + 1) / (nu - 1), (j + 1) / 3.0f, c);
                s->calc_posnrmdir(float(i) / (nu - 1), (j + 1) / 3.0f, d);
                expected += kivPolygons::getQuadArea(a[0], b[0], c[0], d[0]);
            }
        }
        float total, smallest, largest;
        ASSERT_EQ(s->get_area(total, smallest, largest), 1);
        EXPECT_NEAR(total, expected, 1e-4 * expected) << "closed " << closed;
        EXPECT_LE(smallest, largest);
    }
}

TEST(NurbsArea, UniformSurfaceFillsTheWholeMapAt255) {
    // A flat 4 x 4 grid of equal cells: every sample stands for the same area.
    Net net{4, 4, 2, 2, {0, 0, 1, 2, 3, 3}, {0, 0, 1, 2, 3, 3}, {}};
    for (int j = 0; j < 4; ++j) {
        for (int i = 0; i < 4; ++i) net.pts.emplace_back(float(i), float(j), 0, 1);
    }
    const auto s = Build(net);
    const int w = 13, h = 9;
    std::vector<int> map(w * h, -1);
    ASSERT_EQ(s->fill_area_map(0, 0, 0, w, h, w, map.data()), 1);
    for (int k = 0; k < w * h; ++k) EXPECT_EQ(map[k], 255) << k;
}

TEST(NurbsArea, NonUniformSurfaceMapsLevelsByArea) {
    // Columns of the grid widen along u, so cells grow along u.
    Net net{4, 4, 2, 2, {0, 0, 1, 2, 3, 3}, {0, 0, 1, 2, 3, 3}, {}};
    const float xs[4] = {0, 1, 3, 7};
    for (int j = 0; j < 4; ++j) {
        for (int i = 0; i < 4; ++i) net.pts.emplace_back(xs[i], float(j), 0, 1);
    }
    const auto s = Build(net);
    const int w = 10, h = 7, stride = 12;
    std::vector<int> map(stride * h, -1);
    ASSERT_EQ(s->fill_area_map(0, 0, 0, w, h, stride, map.data()), 1);
    // Sample levels: cell areas 1, 2, 4 give sample means 1, 1.5, 3, 4 (of 4).
    const int sample_level[4] = {area_map_level(0.25), area_map_level(1.5 / 4),
                                 area_map_level(3.0 / 4), 255};
    const int px[4] = {0, 3, 6, 9};
    for (int py = 0; py < h; ++py) {
        for (int i = 0; i < 4; ++i) EXPECT_EQ(map[py * stride + px[i]], sample_level[i]) << py;
        for (int x = 1; x < w; ++x) EXPECT_GE(map[py * stride + x], map[py * stride + x - 1]);
        for (int x = w; x < stride; ++x) EXPECT_EQ(map[py * stride + x], -1) << "padding";
    }
    EXPECT_EQ(map[0], 73);
}

TEST(NurbsArea, PrintAreaInfoOfAUnitSquare) {
    Net net{2, 2, 2, 2, {0, 0, 1, 1}, {0, 0, 1, 1}, {}};
    net.pts = {{0, 0, 0, 1}, {1, 0, 0, 1}, {0, 2, 0, 1}, {1, 2, 0, 1}};
    const auto s = Build(net);
    s->utess = 2;
    s->vtess = 4;
    const std::string path = testing::TempDir() + "NurbsArea_PrintAreaInfo.txt";
    FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(s->print_area_info(f), 1);
    std::fclose(f);
    f = std::fopen(path.c_str(), "r");
    ASSERT_NE(f, nullptr);
    char buffer[2048] = {};
    const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, f);
    std::fclose(f);
    std::remove(path.c_str());
    EXPECT_EQ(std::string(buffer, n),
              "of 8 U tess segments (dist): min = 0.500000, max = 0.500000, avg = 0.500000\n"
              "of 8 U tess segments (uv): min = 0.500000, max = 0.500000, avg = 0.500000\n"
              "of 8 V tess segments (dist): min = 0.500000, max = 0.500000, avg = 0.500000\n"
              "of 8 V tess segments (uv): min = 0.250000, max = 0.250000, avg = 0.250000\n"
              "of 4 U iso curves: min = 1.000000, max = 1.000000, avg = 1.000000\n"
              "of 2 V iso curves: min = 2.000000, max = 2.000000, avg = 2.000000\n");
}
