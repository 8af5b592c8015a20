#include "generation/attractors.h"

#include "descriptions/hair_params.h"
#include "descriptions/hair_records.h"
#include "geometry/model_database.h"
#include "test_support.h"

namespace {

// A name table, room for models in both lists and an empty attractor table.
class Attractors : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(names_init(64) == 1 && attractdb_init() == 1); }
    void TearDown() override {
        attractdb_done();
        mdldb_cleanup();
        names_done();
    }

    static hair_model* NewModel(int type, const char* name) {
        if (mdldb_capacity(0) == 0) mdldb_init(16, 0);
        hair_model* m = mdldb_get_new(0);
        mdldb_set_type(m, type, name);
        return m;
    }
    // A plain model placed at p.
    static void Place(const std::string& name, const kivPoint& p) {
        float* m = NewModel(MODEL_NULL, name.c_str())->matrix.m;
        m[12] = p.x, m[13] = p.y, m[14] = p.z;
    }
    // A data-point model of n points, point i at (i, y, 0).
    static void Points(const char* name, float y, int n = 3) {
        hair_datapoints* dp = NewModel(MODEL_DPNT, name)->datapoints();
        ASSERT_EQ(dp->alloc(n), 1);
        for (int i = 0; i < n; ++i) dp->set_point(i, {float(i), y, 0}, kivVector(), kivVector());
    }
    // Three guide curves rising from (x, 0, 0) through (x, 1, 0) to (x, 3, 0).
    static void Guide(const std::string& prefix, float x) {
        Place(prefix + "r", {x, 0, 0}), Place(prefix + "m", {x, 1, 0}),
            Place(prefix + "t", {x, 3, 0});
    }

    // A set with one control per (root, middle, tip) triple of names.
    static hair_attract* Set(const char* name, std::initializer_list<const char*> models) {
        hair_attract* a = attractdb_add(names_add(name));
        names_remove(a->name);
        const int count = static_cast<int>(models.size() / 3);
        EXPECT_EQ(a->alloc_controls(count), 1);
        auto it = models.begin();
        for (int i = 0; i < count; ++i, it += 3) {
            hair_name* n[3] = {names_add(it[0]), names_add(it[1]), names_add(it[2])};
            EXPECT_EQ(a->set_control(i, n[0], n[1], n[2]), 1);
            for (hair_name* k : n) names_remove(k);
        }
        return a;
    }
    // The curve a set gives a hair rooted at root (the set gathered first).
    hair_attract_curve Curve(hair_attract* a, const kivPoint& root) {
        hair_attract_curve c;
        EXPECT_EQ(attractdb_frame_init(0), 1);
        EXPECT_TRUE(attractdb_build_curve(a, hs_, root, c));
        return c;
    }

    hair_state hs_;
};

}  // namespace

TEST_F(Attractors, FrameInitGathersPlacementsAndDataPointsAndWarns) {
    Guide("a", 2);
    Points("pr", 0), Points("pm", 1), Points("pt", 2);
    hair_attract* a = Set("set", {"ar", "am", "at", "pr", "pm", "pt"});
    ASSERT_EQ(attractdb_frame_init(0), 1);
    ASSERT_TRUE(a->valid_frame && a->points[0][0]->count == 4);
    expect_near(a->points[0][0]->positions[0], kivPoint(2, 0, 0), 1e-5f),
        expect_near(a->points[0][0]->positions[3], kivPoint(2, 0, 0), 1e-5f);
    expect_near(a->points[0][1]->positions[2], kivPoint(1, 1, 0), 1e-5f),
        expect_near(a->points[0][2]->positions[3], kivPoint(2, 2, 0), 1e-5f);
    // Inconsistent controls warn and contribute nothing.
    Points("four", 0, 4);
    hair_attract* b =
        Set("bad", {"ar", "am", "at", "pr", "pr", "at", "pr", "four", "pr", "ar", "nowhere", "at"});
    EXPECT_EQ(captured([] { EXPECT_EQ(attractdb_frame_init(0), 1); }),
              "WARNING: attractor references inconsistent model types: at\n"
              "WARNING: attractor references inconsistent datapoint models: four\n"
              "WARNING: attractor references inexistent model: nowhere\n");
    EXPECT_TRUE(b->controls[0].valid && b->valid_frame);
    EXPECT_FALSE(b->controls[1].valid || b->controls[3].valid);
    EXPECT_EQ(b->points[0][0]->count, 1);
}

TEST_F(Attractors, SingleCurveMovesToTheRootOfALocalSetAndScalesWithTheHair) {
    Guide("a", 1);
    hair_attract* a = Set("set", {"ar", "am", "at"});
    a->influence = hp_scalar(2.0f), a->len_end_interp = hp_scalar(3.0f);
    hair_attract_curve c = Curve(a, {0.5f, 0, 0});
    expect_near(c.R, kivPoint(0.5f, 0, 0), 1e-5f), expect_near(c.M, kivPoint(0.5f, 1, 0), 1e-5f),
        expect_near(c.T, kivPoint(0.5f, 3, 0), 1e-5f);
    // f = 0.5 / 3; the target lies halfway up R -> M, at (0.5, 0.5, 0).
    kivVector pull;
    ASSERT_TRUE(attractdb_curve_pull(c, {1.5f, 0.5f, 0}, 0.5f, 3.0f, pull));
    expect_near(pull, kivVector(-2.0f / 6.0f, 0, 0), 1e-6f);
    // Past the middle: along M -> T. f = 2/3, r = 1/3: the target is M + (T - M) / 2.
    ASSERT_TRUE(attractdb_curve_pull(c, {0.5f, 0, 0}, 0.75f * 3 - 0.25f, 3.0f, pull));
    EXPECT_NEAR(pull.y, 2.0f * (2.0f / 3.0f), 1e-5f);
    // Power 2 weighs the pull by f^2, power -1 by 1 - f.
    for (const float power : {2.0f, -1.0f}) {
        c.power = power;
        ASSERT_TRUE(attractdb_curve_pull(c, {1.5f, 0.5f, 0}, 0.5f, 3.0f, pull));
        EXPECT_NEAR(pull.x, -2.0f * (power > 0 ? 1 / 36.0f : 5 / 6.0f), 1e-6f) << power;
    }
    // A global set stays where its guide is.
    a->type = 1;
    expect_near(Curve(a, {0.5f, 0, 0}).R, kivPoint(1, 0, 0), 1e-5f);
    // Lengths scale with the description's width scale.
    a->power = hp_scalar(3.0f);
    hair_params hp;
    hp.width_scale = 2.0f, hs_.params = &hp;
    c = Curve(a, {0, 0, 0});
    EXPECT_EQ((std::vector<float>{0.66f, 6, 3}),
              (std::vector<float>{c.len_threshold, c.len_end_interp, c.power}));
    EXPECT_FALSE(attractdb_curve_pull(c, {1, 0, 0}, 0.5f, 0.66f, pull) ||  // the threshold
                 attractdb_curve_pull(c, {1, 0, 0}, 6.5f, 7.0f, pull));    // past the end
    // No guide root within the radius, hairs shorter than the threshold, influence 0.
    EXPECT_EQ(attractdb_setup_hair(&a, 1, hs_, {-0.1f, 0, 0}, 3.0f, &c, 1), 0);
    EXPECT_EQ(attractdb_setup_hair(&a, 1, hs_, {0.1f, 0, 0}, 3.0f, &c, 1), 1);
    EXPECT_TRUE(attractdb_applies(a, hs_, 0.33f) && !attractdb_applies(a, hs_, 0.3f));
}

// Blend weights (S - d) / S over the chosen curves, S the sum of their distances.
TEST_F(Attractors, SeveralCurvesWeighByDistance) {
    // Two curves at distances 1 and 3: 0.75 * 1 + 0.25 * (-3) = 0.
    Guide("a", 1), Guide("b", -3);
    hair_attract* a = Set("two", {"ar", "am", "at", "br", "bm", "bt"});
    // Three of four: -4 gives way to 1, 2 and 3; S = 6, weights 5/6, 4/6, 3/6 (sum 2).
    Place("r1", {1, 0, 0}), Place("r2", {0, 2, 0}), Place("r3", {0, 0, 3});
    Place("far", {0, 0, -4});
    hair_attract* b =
        Set("three", {"r1", "r1", "r1", "far", "far", "far", "r2", "r2", "r2", "r3", "r3", "r3"});
    for (hair_attract* s : {a, b}) s->type = 1, s->radius = hp_scalar(5.0f);
    a->closest_nb = 2, b->closest_nb = 3;
    const hair_attract_curve two = Curve(a, {0, 0, 0});
    expect_near(two.R, kivPoint(0, 0, 0), 1e-5f), expect_near(two.T, kivPoint(0, 3, 0), 1e-5f);
    expect_near(Curve(b, {0, 0, 0}).R, kivPoint(5.0f / 6, 8.0f / 6, 9.0f / 6), 1e-5f);
    // Mixed sets each build their own curve: the local one moves to the root,
    // the global one stays; a set the hair is too short for builds none.
    hair_attract* local = Set("local", {"br", "bm", "bt"});
    local->radius = hp_scalar(5.0f), local->len_threshold = hp_scalar(0.5f);
    b->len_threshold = hp_scalar(2.0f);
    hair_attract* sets[3] = {a, local, b};
    hair_attract_curve c[3];
    ASSERT_EQ(attractdb_frame_init(0), 1);
    ASSERT_EQ(attractdb_setup_hair(sets, 3, hs_, {0, 0, 0}, 3.0f, c, 3), 3);
    expect_near(c[0].T, kivPoint(0, 3, 0), 1e-5f), expect_near(c[1].R, kivPoint(0, 0, 0), 1e-5f),
        expect_near(c[1].T, kivPoint(0, 3, 0), 1e-5f);
    expect_near(c[2].R, kivPoint(5.0f / 6, 8.0f / 6, 9.0f / 6), 1e-5f);
    ASSERT_EQ(attractdb_setup_hair(sets, 3, hs_, {0, 0, 0}, 1.0f, c, 3), 2);
    expect_near(c[1].R, kivPoint(0, 0, 0), 1e-5f), expect_near(c[1].M, kivPoint(0, 1, 0), 1e-5f);
}
