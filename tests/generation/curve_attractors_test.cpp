#include "generation/curve_attractors.h"

#include <gtest/gtest.h>

#include <cmath>

#include "descriptions/hair_params.h"
#include "generation/hair_records.h"
#include "geometry/polygon_mesh.h"

namespace {

// Curves registered in the host, a name table and an empty set table.
class CurveAttractors : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(names_init(64), 1);
        ASSERT_EQ(curveAttractdb_init(), 1);
    }
    void TearDown() override {
        curveAttractdb_done();
        korvo_curve_registry_clear();
        names_done();
    }

    // A straight curve from a to b with the reference direction dir.
    static void Register(const char* name, const KorvoPoint& a, const KorvoPoint& b,
                         const KorvoVector& dir, const kivPolygons* mesh = nullptr) {
        KorvoCurveDesc d;
        d.curve.degree = 1;
        d.curve.knots = {0, 0, 1, 1};
        d.curve.cvs = {a, b};
        d.direction = dir;
        d.mesh = mesh;
        ASSERT_EQ(korvo_curve_register(name, d), 1);
    }

    // A set whose controls name these curves.
    static hair_curveAttract* Set(const char* name, std::initializer_list<const char*> curves) {
        hair_name* n = names_add(name);
        hair_curveAttract* c = curveAttractdb_add(n);
        names_remove(n);
        EXPECT_EQ(c->alloc_controls(static_cast<int>(curves.size())), 1);
        int i = 0;
        for (const char* curve : curves) {
            hair_name* cn = names_add(curve);
            EXPECT_EQ(c->set_control(i++, cn), 1);
            names_remove(cn);
        }
        return c;
    }

    hair_state hs_;
    hair_curveAttract_work work_;
    KorvoPointArray remembered_;
};

void ExpectVector(const kivVector& v, float x, float y, float z) {
    EXPECT_NEAR(v.x, x, 1e-5f);
    EXPECT_NEAR(v.y, y, 1e-5f);
    EXPECT_NEAR(v.z, z, 1e-5f);
}

}  // namespace

TEST_F(CurveAttractors, ControlsResolveFromTheRegistry) {
    Register("up", {1, 2, 3}, {1, 2, 5}, {0, 0, 5});
    hair_curveAttract* c = Set("set", {"up", "missing"});
    EXPECT_EQ(c->valid, 1);
    EXPECT_EQ(c->nb_controls, 2);
    const hair_curveAttract_control& up = c->controls[0];
    EXPECT_TRUE(up.valid);
    EXPECT_STREQ(up.path.partialPathName(), "up");
    EXPECT_EQ(up.root, KorvoPoint(1, 2, 3));
    EXPECT_EQ(up.direction, KorvoVector(0, 0, 1));
    // An unknown curve stays invalid, with zero root and direction.
    const hair_curveAttract_control& missing = c->controls[1];
    EXPECT_FALSE(missing.valid);
    EXPECT_EQ(missing.root, KorvoPoint());
    EXPECT_TRUE(missing.direction.isZero());
    EXPECT_EQ(c->set_control(2, c->name), 0);
    EXPECT_EQ(curveAttractdb_get(names_find("set")), c);
    EXPECT_EQ(curveAttractdb_count(), 1);
    EXPECT_EQ(curveAttractdb_frame_init(), 1);
}

TEST_F(CurveAttractors, DirectionFromTheSurfaceUnderTheCurve) {
    kivPolygons mesh;
    mesh.set_nb_verts(3);
    mesh.set_nb_texs(3);
    mesh.set_vert(0, kivPoint(0, 0, 0));
    mesh.set_vert(1, kivPoint(0, 1, 0));
    mesh.set_vert(2, kivPoint(0, 0, 1));
    for (int i = 0; i < 3; ++i) mesh.set_tex(i, kivPoint(i == 1, i == 2, 0));
    mesh.set_nb_polys(1);
    mesh.set_poly(0, kivPoly{3, {0, 1, 2}, {0, 0, 0}, {0, 1, 2}});
    KorvoCurveDesc d;
    d.curve.degree = 1;
    d.curve.knots = {0, 0, 1, 1};
    d.curve.cvs = {{0, 0.25, 0.25}, {1, 0.25, 0.25}};
    d.mesh = &mesh;
    d.u = d.v = 0.25;
    ASSERT_EQ(korvo_curve_register("on_wall", d), 1);
    hair_curveAttract* c = Set("set", {"on_wall"});
    EXPECT_EQ(c->controls[0].direction, KorvoVector(1, 0, 0));
}

TEST_F(CurveAttractors, UnknownCurvesAreNeverChosen) {
    hair_curveAttract* c = Set("set", {"missing"});
    EXPECT_TRUE(curveAttractdb_applies(c, hs_, 1.0f));
    EXPECT_EQ(curveAttractdb_choose(c, hs_, {0, 0, 0}, work_), 0);
    EXPECT_EQ(work_.type, -1);
}

TEST_F(CurveAttractors, HairsOutsideTheRadiusOrTooShortGetNothing) {
    Register("up", {0, 0, 0}, {0, 0, 2}, {0, 0, 1});
    hair_curveAttract* sets[1] = {Set("set", {"up"})};
    EXPECT_EQ(curveAttractdb_setup_hair(sets, 1, hs_, {1.5f, 0, 0}, 2.0f, work_), 0);
    EXPECT_EQ(curveAttractdb_setup_hair(sets, 1, hs_, {0.5f, 0, 0}, 0.2f, work_), 0);
    EXPECT_EQ(curveAttractdb_setup_hair(sets, 1, hs_, {0.5f, 0, 0}, 2.0f, work_), 1);
    sets[0]->influence = hp_scalar(0.0f);
    EXPECT_FALSE(curveAttractdb_applies(sets[0], hs_, 2.0f));
}

TEST_F(CurveAttractors, GlobalPullTowardsTheCurve) {
    Register("up", {0, 0, 0}, {0, 0, 2}, {0, 0, 1});
    hair_curveAttract* c = Set("set", {"up"});
    c->type = 1;
    c->len_end_interp = hp_scalar(2.0f);
    ASSERT_EQ(curveAttractdb_choose(c, hs_, {0.1f, 0, 0}, work_), 1);
    const hair_curveAttract_curve& r = work_.curves[0];
    EXPECT_EQ(r.weight, 1.0);
    EXPECT_EQ(r.influence, 5.0f);
    EXPECT_EQ(work_.type, 1);
    // f = 1/2: the curve's point (0, 0, 1); weight 1/2, influence 5.
    kivVector pull;
    ASSERT_TRUE(curveAttractdb_pull(work_, {1, 0, 1}, {1, 0, 2}, 1.0f, 2.0f, remembered_, pull));
    ExpectVector(pull, -2.5f, 0, 0);
    EXPECT_FALSE(curveAttractdb_pull(work_, {1, 0, 1}, {1, 0, 2}, 2.5f, 3.0f, remembered_, pull))
        << "past the end of the stretch";
    EXPECT_FALSE(curveAttractdb_pull(work_, {1, 0, 1}, {1, 0, 2}, 0.0f, 2.0f, remembered_, pull))
        << "no weight at the root";
}

TEST_F(CurveAttractors, LocalPullTurnsTheStep) {
    Register("slant", {0, 0, 0}, {2, 0, 2}, {0, 0, 1});
    hair_curveAttract* c = Set("set", {"slant"});
    c->len_end_interp = hp_scalar(2.0f);
    ASSERT_EQ(curveAttractdb_choose(c, hs_, {0, 0, 0}, work_), 1);
    // The curve leaves its root at 45 degrees from its reference direction:
    // a step along z turns by 45 degrees about y.
    kivVector step;
    const float h = std::sqrt(0.5f);
    ASSERT_TRUE(curveAttractdb_pull(work_, {0, 0, 0}, {0, 0, 1}, 1.0f, 2.0f, remembered_, step));
    ExpectVector(step, h, 0, h);
    ASSERT_EQ(remembered_.length(), 1u);
    EXPECT_EQ(remembered_[0], KorvoPoint(1, 0, 1));
    ASSERT_TRUE(curveAttractdb_pull(work_, {0, 0, 0}, {0, 0, 2}, 2.0f, 2.0f, remembered_, step));
    ExpectVector(step, 2 * h, 0, 2 * h);
    // An influence of 0.5 turns half as far (influence 1 and above turn fully).
    c->influence = hp_scalar(0.5f);
    work_.reset();
    remembered_.clear();
    ASSERT_EQ(curveAttractdb_choose(c, hs_, {0, 0, 0}, work_), 1);
    ASSERT_TRUE(curveAttractdb_pull(work_, {0, 0, 0}, {0, 0, 1}, 1.0f, 2.0f, remembered_, step));
    ExpectVector(step, std::sin(0.3926991f), 0, std::cos(0.3926991f));
}

TEST_F(CurveAttractors, TwoControlsWeighAndOffsetFromTheSurface) {
    // The surface lies one unit below the roots.
    kivPolygons floor;
    floor.set_nb_verts(4);
    const float xy[4][2] = {{-10, -10}, {10, -10}, {10, 10}, {-10, 10}};
    for (int i = 0; i < 4; ++i) floor.set_vert(i, kivPoint(xy[i][0], xy[i][1], -1));
    floor.set_nb_polys(1);
    floor.set_poly(0, kivPoly{4, {0, 1, 2, 3}, {0, 0, 0, 0}, {0, 0, 0, 0}});
    Register("near", {1, 0, 0}, {1, 0, 2}, {0, 0, 1}, &floor);
    Register("far", {-3, 0, 0}, {-3, 0, 2}, {0, 0, 1});
    hair_curveAttract* c = Set("set", {"far", "near"});
    c->closest_nb = 2;
    c->radius = hp_scalar(5.0f);
    c->type = 1;
    c->len_end_interp = hp_scalar(2.0f);
    ASSERT_EQ(curveAttractdb_choose(c, hs_, {0, 0, 0}, work_), 2);
    // Distances 3 and 1: weights 0.25 and 0.75, in the order the controls were met.
    EXPECT_DOUBLE_EQ(work_.curves[0].weight, 0.25);
    EXPECT_DOUBLE_EQ(work_.curves[1].weight, 0.75);
    EXPECT_DOUBLE_EQ(work_.curves[1].share, 0.75);
    // The weighted root average is (0, 0, 0); the offset is measured from
    // of the surface of the first chosen control, which has none: no offset.
    EXPECT_TRUE(work_.curves[0].offset.isZero());

    // With the surface on the first chosen control the offset is (0, 0, 1).
    hair_curveAttract* d = Set("set2", {"near", "far"});
    d->closest_nb = 2;
    d->radius = hp_scalar(5.0f);
    d->type = 1;
    d->len_end_interp = hp_scalar(2.0f);
    work_.reset();
    ASSERT_EQ(curveAttractdb_choose(d, hs_, {0, 0, 0}, work_), 2);
    const KorvoVector& off = work_.curves[1].offset;
    EXPECT_NEAR(off.x, 0, 1e-9);
    EXPECT_NEAR(off.z, 1, 1e-9);
    // f = 1/2: (P1 - offset - p) 0.75 + (P2 - offset - p) 0.25 from p = (0, 1, 0.5)
    // is (0, -1, -0.5); normalised, times 1/2 and 5.
    kivVector pull;
    ASSERT_TRUE(curveAttractdb_pull(work_, {0, 1, 0.5f}, {0, 1, 1}, 1.0f, 2.0f, remembered_, pull));
    const float n = std::sqrt(1.25f);
    ExpectVector(pull, 0, -2.5f / n, -1.25f / n);
}

TEST_F(CurveAttractors, OppositeTurnsOfEqualSharesCancel) {
    Register("right", {1, 0, 0}, {2, 0, 1}, {0, 0, 1});
    Register("left", {-1, 0, 0}, {-2, 0, 1}, {0, 0, 1});
    hair_curveAttract* c = Set("set", {"right", "left"});
    c->closest_nb = 2;
    c->radius = hp_scalar(2.0f);
    ASSERT_EQ(curveAttractdb_choose(c, hs_, {0, 0, 0}, work_), 2);
    kivVector step;
    ASSERT_TRUE(curveAttractdb_pull(work_, {0, 0, 0}, {0, 0, 1}, 0.5f, 1.0f, remembered_, step));
    ExpectVector(step, 0, 0, 1);
    EXPECT_EQ(remembered_.length(), 2u);
}

TEST_F(CurveAttractors, PowerAndLengthsScaleWithWidthScale) {
    Register("up", {0, 0, 0}, {0, 0, 2}, {0, 0, 1});
    hair_curveAttract* c = Set("set", {"up"});
    c->power = hp_scalar(1.5f);
    hair_params hp;
    hp.width_scale = 2.0f;
    hs_.params = &hp;
    ASSERT_EQ(curveAttractdb_choose(c, hs_, {0, 0, 0}, work_), 1);
    const hair_curveAttract_curve& r = work_.curves[0];
    EXPECT_FLOAT_EQ(r.power, 3.0f);
    EXPECT_FLOAT_EQ(r.len_threshold, 0.66f);
    EXPECT_FLOAT_EQ(r.len_end_interp, 2.0f);
}
