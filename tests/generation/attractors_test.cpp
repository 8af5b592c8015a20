#include "generation/attractors.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>

#include "descriptions/hair_params.h"
#include "generation/hair_records.h"
#include "geometry/model_database.h"

namespace {

// A name table, room for models in both lists and an empty attractor table.
class Attractors : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(names_init(64), 1);
        ASSERT_EQ(attractdb_init(), 1);
    }
    void TearDown() override {
        attractdb_done();
        mdldb_cleanup();
        names_done();
    }

    // A plain model placed at p in the chosen list.
    static void Place(const char* name, const kivPoint& p, int which = 0) {
        hair_model* m = NewModel(MODEL_NULL, name, which);
        m->matrix.m[12] = p.x;
        m->matrix.m[13] = p.y;
        m->matrix.m[14] = p.z;
    }
    // A data-point model of n points, point i at base + i * step.
    static void Points(const char* name, int n, const kivPoint& base, const kivPoint& step) {
        hair_model* m = NewModel(MODEL_DPNT, name, 0);
        hair_datapoints* dp = m->datapoints();
        ASSERT_EQ(dp->alloc(n), 1);
        for (int i = 0; i < n; ++i)
            dp->set_point(i, base + step * static_cast<float>(i), kivVector(), kivVector());
    }
    static hair_model* NewModel(int type, const char* name, int which) {
        if (mdldb_capacity(which) == 0) mdldb_init(16, which);
        hair_model* m = mdldb_get_new(which);
        mdldb_set_type(m, type, name);
        return m;
    }

    // A set with one control per (root, middle, tip) triple of names.
    hair_attract* Set(const char* name, std::initializer_list<const char*> models) {
        hair_name* n = names_add(name);
        hair_attract* a = attractdb_add(n);
        names_remove(n);
        const int count = static_cast<int>(models.size() / 3);
        EXPECT_EQ(a->alloc_controls(count), 1);
        auto it = models.begin();
        for (int i = 0; i < count; ++i) {
            hair_name* r = names_add(*it++);
            hair_name* m = names_add(*it++);
            hair_name* t = names_add(*it++);
            EXPECT_EQ(a->set_control(i, r, m, t), 1);
            names_remove(r);
            names_remove(m);
            names_remove(t);
        }
        return a;
    }

    // Three guide curves rising from (x, 0, 0) through (x, 1, 0) to (x, 3, 0).
    void Guide(const std::string& prefix, float x) {
        Place((prefix + "r").c_str(), {x, 0, 0});
        Place((prefix + "m").c_str(), {x, 1, 0});
        Place((prefix + "t").c_str(), {x, 3, 0});
    }

    hair_state hs_;
};

std::string Captured(const std::function<void()>& f) {
    testing::internal::CaptureStdout();
    f();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

void ExpectPoint(const kivPoint& p, float x, float y, float z) {
    EXPECT_NEAR(p.x, x, 1e-5f);
    EXPECT_NEAR(p.y, y, 1e-5f);
    EXPECT_NEAR(p.z, z, 1e-5f);
}

}  // namespace

// --- The table ------------------------------------------------------------------------------

TEST_F(Attractors, SetsChainAfterTheBucketHead) {
    // Three names of one bucket: the newest goes right after the head.
    std::string same[3];
    int found = 0;
    for (int i = 0; found < 3; ++i) {
        const std::string s = "set" + std::to_string(i);
        if (hash_it(ATTRACT_BUCKETS, s.c_str()) == hash_it(ATTRACT_BUCKETS, "set0"))
            same[found++] = s;
    }
    hair_attract* a = Set(same[0].c_str(), {});
    hair_attract* b = Set(same[1].c_str(), {});
    hair_attract* c = Set(same[2].c_str(), {});
    EXPECT_EQ(a->next, c);
    EXPECT_EQ(c->next, b);
    EXPECT_EQ(attractdb_count(), 3);
    EXPECT_EQ(attractdb_get(names_find(same[1].c_str())), b);
    EXPECT_EQ(attractdb_get(nullptr), nullptr);
    EXPECT_FALSE(a->valid_frame);
    // Controls outside the allocation are refused.
    EXPECT_EQ(a->set_control(0, a->name, a->name, a->name), 0);
    EXPECT_EQ(a->alloc_controls(-1), 0);
}

TEST_F(Attractors, DumpListsCompleteControlsOnly) {
    hair_attract* a = Set("fur", {"r", "m", "t"});
    ASSERT_EQ(a->alloc_controls(2), 1);
    a->set_control(0, names_find("fur"), names_find("fur"), names_find("fur"));
    a->type = 1;
    const std::string out = Captured([] { attractdb_dump(); });
    EXPECT_EQ(out.rfind("\n*** attract database ***\n   has a hash table of 13 buckets\n", 0), 0u);
    EXPECT_NE(out.find("   attractor fur {\n      valid_frame = 0\n      closest_nb = 1\n"
                       "      type = global\n      influence = 1.000000 ;\n"),
              std::string::npos);
    EXPECT_NE(out.find("      nb_controls = 2\n      control 0 = fur fur fur\n"
                       "      has next is false\n   }\n"),
              std::string::npos);
}

// --- Gathering guide points ----------------------------------------------------------------------

TEST_F(Attractors, FrameInitGathersPlacementsAndDataPoints) {
    Guide("a", 2);
    Points("pr", 3, {0, 0, 0}, {1, 0, 0});
    Points("pm", 3, {0, 1, 0}, {1, 0, 0});
    Points("pt", 3, {0, 2, 0}, {1, 0, 0});
    hair_attract* a = Set("set", {"ar", "am", "at", "pr", "pm", "pt"});
    ASSERT_EQ(attractdb_frame_init(0), 1);
    EXPECT_TRUE(a->valid_frame);
    const hair_datapoints* roots = a->points[0][0];
    ASSERT_EQ(roots->count, 4);
    ExpectPoint(roots->positions[0], 2, 0, 0);
    ExpectPoint(roots->positions[3], 2, 0, 0);
    ExpectPoint(a->points[0][1]->positions[2], 1, 1, 0);
    ExpectPoint(a->points[0][2]->positions[3], 2, 2, 0);
}

TEST_F(Attractors, InconsistentControlsWarnAndContributeNothing) {
    Guide("g", 0);
    Points("five", 5, {0, 0, 0}, {1, 0, 0});
    Points("four", 4, {0, 0, 0}, {1, 0, 0});
    hair_attract* a = Set("set", {"gr", "gm", "gt", "five", "five", "gt", "five", "four", "five",
                                  "gr", "nowhere", "gt"});
    const std::string out = Captured([] { EXPECT_EQ(attractdb_frame_init(0), 1); });
    EXPECT_EQ(out,
              "WARNING: attractor references inconsistent model types: gt\n"
              "WARNING: attractor references inconsistent datapoint models: four\n"
              "WARNING: attractor references inexistent model: nowhere\n");
    EXPECT_TRUE(a->controls[0].valid);
    EXPECT_FALSE(a->controls[1].valid);
    EXPECT_FALSE(a->controls[3].valid);
    EXPECT_EQ(a->points[0][0]->count, 1);
    EXPECT_TRUE(a->valid_frame);
}

TEST_F(Attractors, SecondListMustHoldAsManyCurves) {
    Guide("a", 0);
    Guide("b", 1);
    Place("ar", {0, 0, 5}, 1);
    Place("am", {0, 1, 5}, 1);
    Place("at", {0, 3, 5}, 1);
    hair_attract* a = Set("set", {"ar", "am", "at", "br", "bm", "bt"});
    ASSERT_EQ(attractdb_frame_init(0), 1);
    const std::string out = Captured([] { EXPECT_EQ(attractdb_frame_init(1), 0); });
    EXPECT_EQ(out,
              "WARNING: attractor references inexistent model: br\n"
              "WARNING: invalid hair attractor (set)\n");
    EXPECT_FALSE(a->valid_frame);
}

TEST_F(Attractors, TimeSampleOneUsesTheSecondList) {
    Guide("a", 0);
    Place("ar", {0, 0, 5}, 1);
    Place("am", {0, 1, 5}, 1);
    Place("at", {0, 3, 5}, 1);
    hair_attract* a = Set("set", {"ar", "am", "at"});
    a->type = 1;
    ASSERT_EQ(attractdb_frame_init(0), 1);
    ASSERT_EQ(attractdb_frame_init(1), 1);
    hs_.sample = 1;
    hair_attract_curve c;
    ASSERT_TRUE(attractdb_build_curve(a, hs_, {0, 0, 5}, c));
    ExpectPoint(c.T, 0, 3, 5);
}

// --- The curve of a hair
// ----------------------------------------------------------------------------

TEST_F(Attractors, SingleCurveMovesToTheRootOfALocalSet) {
    Guide("a", 1);
    hair_attract* a = Set("set", {"ar", "am", "at"});
    a->influence = hp_scalar(2.0f);
    a->len_end_interp = hp_scalar(3.0f);
    ASSERT_EQ(attractdb_frame_init(0), 1);
    hair_attract_curve c;
    ASSERT_TRUE(attractdb_build_curve(a, hs_, {0.5f, 0, 0}, c));
    ExpectPoint(c.R, 0.5f, 0, 0);
    ExpectPoint(c.M, 0.5f, 1, 0);
    ExpectPoint(c.T, 0.5f, 3, 0);
    EXPECT_FLOAT_EQ(c.len_rm, 1.0f);
    EXPECT_FLOAT_EQ(c.len_mt, 2.0f);
    // f = 0.5 / 3; the target lies halfway up R -> M, at (0.5, 0.5, 0).
    kivVector pull;
    ASSERT_TRUE(attractdb_curve_pull(c, {1.5f, 0.5f, 0}, 0.5f, 3.0f, pull));
    EXPECT_NEAR(pull.x, -2.0f / 6.0f, 1e-6f);
    EXPECT_NEAR(pull.y, 0.0f, 1e-6f);
    // Past the middle: along M -> T. f = 2/3, r = 1/3: the target is M + (T - M) / 2.
    ASSERT_TRUE(attractdb_curve_pull(c, {0.5f, 0, 0}, 0.75f * 3 - 0.25f, 3.0f, pull));
    EXPECT_NEAR(pull.y, 2.0f * (2.0f / 3.0f), 1e-5f);
    // A global set stays where its guide is.
    a->type = 1;
    ASSERT_TRUE(attractdb_build_curve(a, hs_, {0.5f, 0, 0}, c));
    ExpectPoint(c.R, 1, 0, 0);
}

TEST_F(Attractors, TwoCurvesWeighByDistance) {
    Guide("a", 1);
    Guide("b", -3);
    hair_attract* a = Set("set", {"ar", "am", "at", "br", "bm", "bt"});
    a->closest_nb = 2;
    a->type = 1;
    a->radius = hp_scalar(5.0f);
    ASSERT_EQ(attractdb_frame_init(0), 1);
    hair_attract_curve c;
    ASSERT_TRUE(attractdb_build_curve(a, hs_, {0, 0, 0}, c));
    // 0.75 * 1 + 0.25 * (-3) = 0.
    ExpectPoint(c.R, 0, 0, 0);
    ExpectPoint(c.T, 0, 3, 0);
}

TEST_F(Attractors, ThreeCurvesWeighCountMinusOne) {
    Place("r1", {1, 0, 0});
    Place("r2", {0, 2, 0});
    Place("r3", {0, 0, 3});
    Place("far", {0, 0, -4});
    hair_attract* a =
        Set("set", {"r1", "r1", "r1", "far", "far", "far", "r2", "r2", "r2", "r3", "r3", "r3"});
    a->closest_nb = 3;
    a->type = 1;
    a->radius = hp_scalar(5.0f);
    ASSERT_EQ(attractdb_frame_init(0), 1);
    hair_attract_curve c;
    ASSERT_TRUE(attractdb_build_curve(a, hs_, {0, 0, 0}, c));
    // The farther -4 gives way to 2 and 3: S = 6, weights 5/6, 4/6, 3/6 (sum 2).
    ExpectPoint(c.R, 5.0f / 6, 8.0f / 6, 9.0f / 6);
}

TEST_F(Attractors, NoGuideWithinTheRadiusGivesNoCurve) {
    Guide("a", 2);
    hair_attract* a = Set("set", {"ar", "am", "at"});
    ASSERT_EQ(attractdb_frame_init(0), 1);
    hair_attract_curve c;
    EXPECT_FALSE(attractdb_build_curve(a, hs_, {0.9f, 0, 0}, c));
    hair_attract* sets[1] = {a};
    hair_attract_curve table[1];
    EXPECT_EQ(attractdb_setup_hair(sets, 1, hs_, {0.9f, 0, 0}, 3.0f, table, 1), 0);
    EXPECT_EQ(attractdb_setup_hair(sets, 1, hs_, {1.1f, 0, 0}, 3.0f, table, 1), 1);
}

TEST_F(Attractors, ShortHairsZeroInfluenceAndUngatheredSetsDoNotApply) {
    Guide("a", 0);
    hair_attract* a = Set("set", {"ar", "am", "at"});
    EXPECT_FALSE(attractdb_applies(a, hs_, 3.0f)) << "not gathered";
    ASSERT_EQ(attractdb_frame_init(0), 1);
    EXPECT_TRUE(attractdb_applies(a, hs_, 0.33f));
    EXPECT_FALSE(attractdb_applies(a, hs_, 0.3f));
    a->influence = hp_scalar(0.0f);
    EXPECT_FALSE(attractdb_applies(a, hs_, 3.0f));
}

TEST_F(Attractors, LengthsScaleWithTheDescriptionWidthScale) {
    Guide("a", 0);
    hair_attract* a = Set("set", {"ar", "am", "at"});
    a->power = hp_scalar(3.0f);
    ASSERT_EQ(attractdb_frame_init(0), 1);
    hair_params hp;
    hp.width_scale = 2.0f;
    hs_.params = &hp;
    hair_attract_curve c;
    ASSERT_TRUE(attractdb_build_curve(a, hs_, {0, 0, 0}, c));
    EXPECT_FLOAT_EQ(c.len_threshold, 0.66f);
    EXPECT_FLOAT_EQ(c.len_end_interp, 2.0f);
    EXPECT_FLOAT_EQ(c.power, 3.0f);
    kivVector pull;
    EXPECT_FALSE(attractdb_curve_pull(c, {1, 0, 0}, 0.5f, 0.66f, pull)) << "threshold";
    EXPECT_FALSE(attractdb_curve_pull(c, {1, 0, 0}, 2.5f, 3.0f, pull)) << "past the end";
}

// --- Pulls
// -------------------------------------------------------------------------------------------

TEST_F(Attractors, PowerShapesThePullAlongTheHair) {
    hair_attract_curve c;
    c.valid = 1;
    c.R = {0, 0, 0};
    c.M = {0, 1, 0};
    c.T = {0, 2, 0};
    c.len_rm = c.len_mt = 1.0f;
    c.influence = 1.0f;
    c.len_end_interp = 4.0f;
    const kivPoint p(1, 0.5f, 0);  // the target at f = 0.25 is (0, 0.5, 0)
    kivVector pull;
    c.power = -1.0f;
    ASSERT_TRUE(attractdb_curve_pull(c, p, 1.0f, 4.0f, pull));
    EXPECT_NEAR(pull.x, -0.75f, 1e-6f);
    EXPECT_FALSE(attractdb_curve_pull(c, p, 4.0f, 4.0f, pull)) << "1 - f is 0 at the tip";
    c.power = 2.0f;
    ASSERT_TRUE(attractdb_curve_pull(c, p, 1.0f, 4.0f, pull));
    EXPECT_NEAR(pull.x, -0.0625f, 1e-6f);
    EXPECT_FALSE(attractdb_curve_pull(c, p, 0.0f, 4.0f, pull)) << "f^2 is 0 at the root";
}

TEST_F(Attractors, PullsOfSeveralCurvesAdd) {
    hair_attract_curve c[3];
    for (int i = 0; i < 2; ++i) {
        c[i].valid = 1;
        c[i].R = c[i].M = c[i].T = kivPoint(i == 0 ? 1.0f : 0.0f, i == 1 ? 1.0f : 0.0f, 0);
        c[i].influence = 0.5f;
        c[i].len_end_interp = 1.0f;
    }
    kivVector sum;
    ASSERT_TRUE(attractdb_pull(c, 3, {0, 0, 0}, 1.0f, 1.0f, sum));
    EXPECT_NEAR(sum.x, 0.5f, 1e-6f);
    EXPECT_NEAR(sum.y, 0.5f, 1e-6f);
    EXPECT_FALSE(attractdb_pull(c + 2, 1, {0, 0, 0}, 1.0f, 1.0f, sum));
}
