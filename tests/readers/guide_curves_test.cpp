#include "readers/guide_curves.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "descriptions/hair_params.h"
#include "foundation/names.h"
#include "generation/curve_attractors.h"
#include "generation/hair_shaping.h"
#include "geometry/curve_registry.h"

namespace {

const std::string kData = KORVO_TEST_DATA "/readers/";

class GuideCurves : public testing::Test {
  protected:
    void TearDown() override { korvo_curve_registry_clear(); }
};

double distance(const KorvoPoint& a, const KorvoPoint& b) {
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) +
                     (a.z - b.z) * (a.z - b.z));
}

}  // namespace

// Curves in file order; registered, they run over 0 ... 1 by arc length and
// start in the direction of their first segment.
TEST_F(GuideCurves, RegisteredCurvesFollowTheirArcLength) {
    std::vector<guide_curve> curves;
    std::string error;
    ASSERT_TRUE(guide_curves_read((kData + "guides.obj").c_str(), curves, error)) << error;
    ASSERT_EQ(curves.size(), 2u);
    EXPECT_EQ(curves[0].name + " " + curves[1].name, "up side");
    ASSERT_EQ(curves[1].points.size(), 2u);  // vertex numbers counted back
    EXPECT_EQ(curves[1].points[1], KorvoPoint(5, 3, 0));
    ASSERT_TRUE(guide_curves_register(curves, error)) << error;
    const KorvoDagPath up = korvo_curve_find("up");
    ASSERT_TRUE(up.isValid());
    EXPECT_EQ(up.domainEnd(), 1.0);
    const double total = 1.0 + std::sqrt(2.0);
    for (double f : {0.0, 0.2, 1.0 / total, 0.5, 0.9, 1.0}) {
        const double along = f * total;
        const KorvoPoint expected = along <= 1.0 ? KorvoPoint(0, 0, along)
                                                 : KorvoPoint((along - 1.0) / std::sqrt(2.0), 0,
                                                              1.0 + (along - 1.0) / std::sqrt(2.0));
        EXPECT_LT(distance(up.pointAtParam(f), expected), 1e-9) << f;
    }
    KorvoVector dir;
    ASSERT_TRUE(up.referenceDirection(dir));
    EXPECT_NEAR(dir.z, 1.0, 1e-12);
    ASSERT_TRUE(korvo_curve_find("side").referenceDirection(dir));
    EXPECT_NEAR(dir.y, 1.0, 1e-12);
}

// Every damaged file names itself, the line and the reason given in its
// "# expect N: text" comment, and registers nothing.
TEST_F(GuideCurves, DamagedFilesNameTheirLineAndReason) {
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kData + "broken")) {
        const std::string path = entry.path().string();
        std::ifstream in(path);
        std::string guards, expect;
        std::getline(in, guards);
        std::getline(in, expect);
        ASSERT_EQ(guards.compare(0, 10, "# guards: "), 0) << path;
        ASSERT_EQ(expect.compare(0, 9, "# expect "), 0) << path;
        std::string error;
        EXPECT_EQ(guide_curves_load(path.c_str(), error), -1) << path;
        EXPECT_EQ(error, path + ":" + expect.substr(9)) << path;
        EXPECT_FALSE(korvo_curve_find("c").isValid()) << path;
        ++files;
    }
    EXPECT_GE(files, 16);
    std::string error;
    EXPECT_EQ(guide_curves_load((kData + "none.obj").c_str(), error), -1);
    EXPECT_EQ(error.compare(0, kData.size() + 25, kData + "none.obj: cannot open: No"), 0) << error;
    EXPECT_EQ(guide_curves_load((kData + "broken").c_str(), error), -1);
    EXPECT_EQ(error, kData + "broken: not a regular file");
}

// A hair grown next to a guide curve bends along it: its tip ends nearer the
// curve's end than the same hair grown without the curve.
TEST_F(GuideCurves, HairGrownNearACurveFollowsIt) {
    std::string error;
    ASSERT_EQ(guide_curves_load((kData + "guides.obj").c_str(), error), 2) << error;
    ASSERT_EQ(names_init(64), 1);
    ASSERT_EQ(curveAttractdb_init(), 1);
    ASSERT_TRUE(hair_shape_prepare(8));

    hair_name* set_name = names_add("comb");
    hair_curveAttract* set = curveAttractdb_add(set_name);
    names_remove(set_name);
    ASSERT_EQ(set->alloc_controls(1), 1);
    hair_name* curve_name = names_add("up");
    ASSERT_EQ(set->set_control(0, curve_name), 1);
    names_remove(curve_name);
    set->radius = hp_scalar(1.0f);
    set->len_end_interp = hp_scalar(10.0f);
    ASSERT_TRUE(set->controls[0].valid);

    // An upright hair of the curve's length beside its root.
    hair_params hp;
    hp.erectness = hp_scalar(0.0f);
    hp.attractors = hp_scalar(1.0f);
    hp.length = hp_scalar(static_cast<float>(1.0 + std::sqrt(2.0)));
    hp.segments = hp_scalar(8.0f);
    hair_state hs;
    hs.params = &hp;
    hs.pos = {0.1f, 0.0f, 0.0f};
    hs.normal = {0, 0, 1};
    hs.dir = {0, 1, 0};
    hs.dir2 = {1, 0, 0};
    auto tip_gap = [&](bool with_curve) {
        hair_shape_set_curve_attractors(with_curve ? &set : nullptr, with_curve ? 1 : 0);
        const control_hair* h = hair_shape(&hs, nullptr, 0, 0.0f);
        EXPECT_NE(h, nullptr);
        if (h == nullptr) return 0.0;
        const kivPoint& tip = h->points[h->count - 1];
        return distance(KorvoPoint(tip.x, tip.y, tip.z), KorvoPoint(1.1, 0, 2));
    };
    const double plain = tip_gap(false), combed = tip_gap(true);
    EXPECT_GT(plain, 0.5);
    EXPECT_LT(combed, 0.25 * plain);

    hair_shape_set_curve_attractors(nullptr, 0);
    hair_shape_release();
    curveAttractdb_done();
    names_done();
}
