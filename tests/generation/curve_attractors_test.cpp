#include "generation/curve_attractors.h"

#include <cmath>

#include "descriptions/hair_params.h"
#include "descriptions/hair_records.h"
#include "geometry/polygon_mesh.h"
#include "test_support.h"

namespace {

// Curves registered in the host, a name table and an empty set table.
class CurveAttractors : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(names_init(64) == 1 && curveAttractdb_init() == 1); }
    void TearDown() override {
        curveAttractdb_done();
        korvo_curve_registry_clear();
        names_done();
    }

    // A straight curve from a to b with the reference direction dir.
    static void Register(const char* name, const KorvoPoint& a, const KorvoPoint& b,
                         const KorvoVector& dir, const kivPolygons* mesh = nullptr) {
        KorvoCurveDesc d;
        d.curve.degree = 1, d.curve.knots = {0, 0, 1, 1}, d.curve.cvs = {a, b};
        d.direction = dir, d.mesh = mesh;
        ASSERT_EQ(korvo_curve_register(name, d), 1);
    }

    // A set whose controls name these curves; with closest_nb > 1 a global
    // set of radius 5.
    static hair_curveAttract* Set(const char* name, std::initializer_list<const char*> curves,
                                  int closest = 1) {
        hair_curveAttract* c = curveAttractdb_add(names_add(name));
        names_remove(c->name);
        EXPECT_EQ(c->alloc_controls(static_cast<int>(curves.size())), 1);
        int i = 0;
        for (const char* curve : curves) {
            hair_name* cn = names_add(curve);
            EXPECT_EQ(c->set_control(i++, cn), 1), names_remove(cn);
        }
        c->len_end_interp = hp_scalar(2.0f);
        if (closest > 1) c->closest_nb = closest, c->type = 1, c->radius = hp_scalar(5.0f);
        return c;
    }
    // The pull at p of the chosen curves, for a step to next at length s of L.
    kivVector Pull(const kivPoint& p, const kivPoint& next, float s, float L = 2.0f) {
        kivVector pull;
        EXPECT_TRUE(curveAttractdb_pull(work_, p, next, s, L, remembered_, pull));
        return pull;
    }

    hair_state hs_;
    hair_curveAttract_work work_;
    KorvoPointArray remembered_;
};

}  // namespace

// Hairs outside the radius (1) or too short get nothing; a global set pulls towards its curve.
TEST_F(CurveAttractors, GlobalPullTowardsTheCurveScaledWithTheHair) {
    Register("up", {0, 0, 0}, {0, 0, 2}, {0, 0, 1});
    hair_curveAttract* c = Set("set", {"up"});
    EXPECT_EQ(curveAttractdb_setup_hair(&c, 1, hs_, {1.5f, 0, 0}, 2.0f, work_), 0);
    EXPECT_EQ(curveAttractdb_setup_hair(&c, 1, hs_, {0.5f, 0, 0}, 0.2f, work_), 0);
    EXPECT_EQ(curveAttractdb_setup_hair(&c, 1, hs_, {0.5f, 0, 0}, 2.0f, work_), 1);
    work_.reset();
    c->type = 1;
    ASSERT_EQ(curveAttractdb_choose(c, hs_, {0.1f, 0, 0}, work_), 1);
    EXPECT_TRUE(work_.curves[0].weight == 1.0 && work_.type == 1);
    // f = 1/2: the curve's point (0, 0, 1); weight 1/2, influence 5.
    expect_near(Pull({1, 0, 1}, {1, 0, 2}, 1.0f), kivVector(-2.5f, 0, 0), 1e-5f);
    kivVector pull;  // nothing past the end of the stretch, nor at the root
    EXPECT_FALSE(curveAttractdb_pull(work_, {1, 0, 1}, {1, 0, 2}, 2.5f, 3.0f, remembered_, pull) ||
                 curveAttractdb_pull(work_, {1, 0, 1}, {1, 0, 2}, 0.0f, 2.0f, remembered_, pull));
    // Power and lengths scale with the description's width scale.
    c->power = hp_scalar(1.5f);
    hair_params hp;
    hp.width_scale = 2.0f, hs_.params = &hp;
    work_.reset();
    ASSERT_EQ(curveAttractdb_choose(c, hs_, {0, 0, 0}, work_), 1);
    const hair_curveAttract_curve& r = work_.curves[0];
    EXPECT_EQ((std::vector<float>{3, 0.66f, 4}),
              (std::vector<float>{r.power, r.len_threshold, r.len_end_interp}));
    c->influence = hp_scalar(0.0f);
    EXPECT_FALSE(curveAttractdb_applies(c, hs_, 2.0f));
}

// A local set turns the step as its curve turns from its reference
// direction (45 degrees here), an influence of 0.5 half as far.
TEST_F(CurveAttractors, LocalPullTurnsTheStep) {
    Register("slant", {0, 0, 0}, {2, 0, 2}, {0, 0, 1});
    hair_curveAttract* c = Set("set", {"slant"});
    c->influence = hp_scalar(0.5f);
    ASSERT_EQ(curveAttractdb_choose(c, hs_, {0, 0, 0}, work_), 1);
    const float a = std::acos(-1.0f) / 8;  // half of 45 degrees
    expect_near(Pull({0, 0, 0}, {0, 0, 1}, 1.0f), kivVector(std::sin(a), 0, std::cos(a)), 1e-5f);
    EXPECT_TRUE(remembered_.length() == 1 && remembered_[0] == KorvoPoint(1, 0, 1));
}

TEST_F(CurveAttractors, TwoControlsWeighAndOffsetFromTheSurface) {
    // The surface lies one unit below the roots.
    kivPolygons floor;
    floor.set_nb_verts(3), floor.set_nb_polys(1);
    floor.set_vert(0, {-10, -10, -1}), floor.set_vert(1, {30, -10, -1}),
        floor.set_vert(2, {-10, 30, -1});
    floor.set_poly(0, kivPoly{3, {0, 1, 2}, {0, 0, 0}, {0, 0, 0}});
    Register("near", {1, 0, 0}, {1, 0, 2}, {0, 0, 1}, &floor);
    Register("far", {-3, 0, 0}, {-3, 0, 2}, {0, 0, 1});
    // Distances 1 and 3: weights 0.75 and 0.25, in the order the controls
    // were met; the offset comes from the surface of the first chosen control.
    ASSERT_EQ(curveAttractdb_choose(Set("set", {"far", "near"}, 2), hs_, {0, 0, 0}, work_), 2);
    EXPECT_TRUE(work_.curves[0].weight == 0.25 && work_.curves[0].offset.isZero());
    work_.reset();
    ASSERT_EQ(curveAttractdb_choose(Set("set2", {"near", "far"}, 2), hs_, {0, 0, 0}, work_), 2);
    expect_near(work_.curves[1].offset, KorvoVector(0, 0, 1), 1e-9);
    // f = 1/2: (P1 - offset - p) 0.75 + (P2 - offset - p) 0.25 from p = (0, 1, 0.5)
    // is (0, -1, -0.5); normalised, times 1/2 and 5.
    const float n = std::sqrt(1.25f);
    expect_near(Pull({0, 1, 0.5f}, {0, 1, 1}, 1.0f), kivVector(0, -2.5f / n, -1.25f / n), 1e-5f);
}

// Mixed local and global sets: every set that applies adds its controls and
// the last one that applies decides the type, even when it finds no control
// within its radius; a set the hair is too short for decides nothing.
TEST_F(CurveAttractors, TheLastSetThatAppliesDecidesTheType) {
    Register("up", {0, 0, 0}, {0, 0, 2}, {0, 0, 1});
    Register("side", {0.5f, 0, 0}, {0.5f, 0, 2}, {0, 0, 1});
    hair_curveAttract* global = Set("global", {"up", "side"}, 2);
    hair_curveAttract* local = Set("local", {"side"});
    hair_curveAttract* far = Set("far", {"side"});
    hair_curveAttract* tall = Set("tall", {"up"});
    far->radius = hp_scalar(0.1f), tall->type = 1, tall->len_threshold = hp_scalar(5.0f);
    const struct {
        std::vector<hair_curveAttract*> sets;
        int records, type;
    } cases[] = {{{global, local}, 3, 0},
                 {{local, global}, 3, 1},
                 {{global, far}, 2, 0},
                 {{local, tall}, 1, 0},
                 {{tall}, 0, -1}};
    for (const auto& k : cases) {
        const int n = int(k.sets.size());
        EXPECT_EQ(curveAttractdb_setup_hair(k.sets.data(), n, hs_, {0, 0, 0}, 2.0f, work_),
                  k.records);
        EXPECT_EQ(int(work_.curves.size()), k.records);
        EXPECT_EQ(work_.type, k.type) << k.sets.size() << " " << k.records;
    }
}
