#include "readers/guide_curves.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>

#include "geometry/curve_registry.h"
#include "test_support.h"

namespace {

const std::string kData = KORVO_TEST_DATA "/readers/";

class GuideCurves : public testing::Test {
  protected:
    void TearDown() override { korvo_curve_registry_clear(); }
};

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
        expect_near(up.pointAtParam(f), expected, 1e-9f, std::to_string(f));
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
