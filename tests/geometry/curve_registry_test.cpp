#include "geometry/curve_registry.h"

#include <cmath>

#include "geometry_support.h"
#include "geometry/polygon_mesh.h"
#include "host/random48.h"
#include "test_support.h"

namespace {

KorvoNurbsCurve Line(const KorvoPoint& a, const KorvoPoint& b) {
    KorvoNurbsCurve c;
    c.degree = 1, c.knots = {0, 0, 1, 1}, c.cvs = {a, b};
    return c;
}

// Curves registered for one test, each under its name, from one description.
class CurveRegistry : public testing::Test {
  protected:
    void SetUp() override { d_.curve = Line({0, 0, 0}, {0, 0, 1}); }
    void TearDown() override { korvo_curve_registry_clear(); }

    // Registers d_ under name and returns its reference direction (zero if none).
    KorvoVector Direction(const char* name) {
        EXPECT_EQ(korvo_curve_register(name, d_), 1);
        KorvoVector dir;
        const bool found = korvo_curve_find(name).referenceDirection(dir);
        EXPECT_EQ(found, !dir.isZero()) << name;
        return dir;
    }

    KorvoCurveDesc d_;
};

// One quad at height -1 over [-10, 10]^2 with texture coordinates 0 ... 1
// and, on request, vertex normals tilted towards +x on one side.
void Quad(kivPolygons& m, bool normals) {
    m.set_nb_verts(4), m.set_nb_texs(4), m.set_nb_polys(1);
    const float xy[4][2] = {{-10, -10}, {10, -10}, {10, 10}, {-10, 10}};
    for (int i = 0; i < 4; ++i)
        m.set_vert(i, kivPoint(xy[i][0], xy[i][1], -1)),
            m.set_tex(i, kivPoint((xy[i][0] + 10) / 20, (xy[i][1] + 10) / 20, 0));
    if (normals)
        m.set_nb_norms(2), m.set_norm(0, kivVector(0, 0, 1)), m.set_norm(1, kivVector(1, 0, 1));
    m.set_poly(0, kivPoly{4, {0, 1, 2, 3}, {0, 0, 1, 1}, {0, 1, 2, 3}});
}

}  // namespace

// Rational spans over any domain; decreasing knots, a wrong knot count, an
// empty domain, a weight 0 or degree 0 are inconsistent. Registering replaces
// a curve, unregistering removes it once, and a path found before keeps its
// curve through both.
TEST_F(CurveRegistry, CurvesEvaluateRegisterAndOutliveRemoval) {
    KorvoNurbsCurve c;
    c.degree = 2, c.knots = {0, 0, 0, 1, 1, 1}, c.cvs = {{0, 0, 0}, {1, 2, 0, 2}, {2, 0, 0}};
    expect_near(c.evaluate(0.5), KorvoPoint(1, 4.0 / 3, 0), 1e-9);  // (1.5, 2, 0) / 1.5
    KorvoNurbsCurve d = Line({0, 0, 0}, {1, 0, 0});
    d.cvs.push_back({1, 1, 0}), d.knots = {2, 2, 3, 4, 4};
    expect_near(d.evaluate(3.5), KorvoPoint(1, 0.5, 0), 1e-9);
    EXPECT_TRUE(c.valid() && d.valid());
    const std::vector<double> knots[3] = {{0, 1, 0, 1}, {0, 0, 1}, {0, 0, 0, 0}};
    for (int i = 0; i < 5; ++i) {
        c = Line({0, 0, 0}, {1, 0, 0});
        i < 3 ? void(c.knots = knots[i]) : i == 3 ? void(c.cvs[0].w = 0) : void(c.degree = 0);
        EXPECT_FALSE(c.valid()) << i;
    }
    d_.curve = Line({1, 2, 3, 2}, {1, 2, 5});
    ASSERT_EQ(korvo_curve_register("curve1", d_), 1);
    EXPECT_FALSE(korvo_curve_find("curve2").isValid());
    KorvoDagPath path = korvo_curve_find("curve1");
    EXPECT_STREQ(path.partialPathName(), "curve1");
    EXPECT_EQ(path.firstControlVertex(), KorvoPoint(1, 2, 3, 1));
    d_.curve = Line({0, 0, 0}, {0, 0, 9});
    ASSERT_EQ(korvo_curve_register("curve1", d_), 1);
    expect_near(korvo_curve_find("curve1").pointAtParam(1), KorvoPoint(0, 0, 9), 1e-9);
    EXPECT_EQ(korvo_curve_unregister("curve1") * 2 + korvo_curve_unregister("curve1"), 2);
    expect_near(path.pointAtParam(1), KorvoPoint(1, 2, 5), 1e-9);
    d_.curve.knots.pop_back();
    EXPECT_EQ(korvo_curve_register("bad", d_) + korvo_curve_register(nullptr, d_), 0);
}

// The direction given, else the surface normal at the root (NURBS surface,
// mesh vertex normals or face normal), then the start position direction.
TEST_F(CurveRegistry, ReferenceDirectionFromVectorSurfaceOrStartPosition) {
    d_.direction = KorvoVector(0, 3, 4);
    expect_near(Direction("given"), KorvoVector(0, 0.6, 0.8), 1e-9);
    d_.direction = KorvoVector();
    EXPECT_TRUE(Direction("bare").isZero());
    kivNurbSurface patch;
    Patch(patch, 1.0f);
    d_.nurbs = &patch, d_.u = 0.0, d_.v = 0.5;
    kivVector frame[4];
    patch.calc_posnrmdir(0.0f, 0.5f, frame);  // the bent patch tilts its normal
    expect_near(Direction("nurbs"), KorvoVector(frame[1].x, frame[1].y, frame[1].z), 1e-6);
    // The start position direction wins only when it is in use.
    d_.use_start_position = true, d_.fur_direction = KorvoVector(2, 0, 0);
    expect_near(Direction("start1"), KorvoVector(1, 0, 0), 1e-9);
    d_.use_start_position = false;
    // Halfway between the mesh normals (0, 0, 1) and (1, 0, 1) of the two sides.
    kivPolygons mesh, flat;
    Quad(mesh, true), Quad(flat, false);
    d_.nurbs = nullptr, d_.mesh = &mesh, d_.u = d_.v = 0.5;
    expect_near(Direction("mesh"), KorvoVector(0.5, 0, 1).normal(), 1e-9);
    // Without normals the face normal; outside the texture space nothing.
    d_.mesh = &flat;
    expect_near(Direction("flat"), KorvoVector(0, 0, 1), 1e-9);
    d_.u = 1.5;
    EXPECT_TRUE(Direction("outside").isZero());
}

TEST_F(CurveRegistry, ClosestPointsOnMeshesAndPatches) {
    kivPolygons mesh;
    Quad(mesh, false);
    d_.mesh = &mesh;
    ASSERT_EQ(korvo_curve_register("mesh", d_), 1);
    KorvoPoint k, j;
    ASSERT_TRUE(korvo_curve_find("mesh").closestPoint({3, 4, 5}, k) &&
                korvo_curve_find("mesh").closestPoint({30, 4, -7}, j));
    expect_near(k, KorvoPoint(3, 4, -1), 1e-9), expect_near(j, KorvoPoint(10, 4, -1), 1e-9);
    // A bent patch: no sample of a fine grid is closer than the answer
    // by more than the tolerance.
    kivNurbSurface patch;
    Patch(patch, 0.8f), d_.nurbs = &patch;
    ASSERT_EQ(korvo_curve_register("patch", d_), 1);
    const KorvoDagPath path = korvo_curve_find("patch");
    korvo_host::srand48(3);
    kivVector frame[4];
    for (int i = 0; i < 12; ++i) {
        const KorvoPoint p(korvo_host::drand48() * 3 - 0.5, korvo_host::drand48() * 1.5 - 0.25,
                           korvo_host::drand48() * 2 - 0.5);
        ASSERT_TRUE(path.closestPoint(p, k)) << i;
        double best = 1e30;
        for (int a = 0; a < 201 * 101; ++a) {
            patch.calc_posnrmdir((a % 201) / 200.0f, (a / 201) / 100.0f, frame);
            best = std::min(best, p.distanceTo(KorvoPoint(frame[0].x, frame[0].y, frame[0].z)));
        }
        EXPECT_LE(p.distanceTo(k), best + 1e-3) << i;
        EXPECT_GE(p.distanceTo(k), best - 2e-2) << i << ": the answer lies on the surface";
    }
}
