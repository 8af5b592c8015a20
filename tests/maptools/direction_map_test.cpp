#include "maptools/direction_map.h"

#include <cmath>
#include <random>

#include "maptools/maptools_support.h"

namespace {

// One channel (0 red ... 3 matte) of an RLA map of the test, row 0 first.
std::vector<int> Bytes(const std::string& path, int w, int h, int channel) {
    rx_rla in(path.c_str());
    std::vector<int> bytes;
    EXPECT_TRUE(in.Cols() == w && in.Lines() == h && in.getgamma() == defs.gamma) << path;
    for (int y = 0; y < h && in.Cols() == w && in.Lines() == h; ++y)
        for (int x = 0; x < w; ++x) bytes.push_back(in.readscan(y)[channel * w + x]);
    return bytes;
}

class DirectionMaps : public MapScene {
  protected:
    std::string Records(const std::vector<DirectionMapStruct>& r) {  // two files each
        return captured([&] { mdldb_calc_dir_map("m", r.data(), int(r.size()), 1); });
    }
    int Level(const char* file) {  // the red byte of a flat 3 x 2 map, else -1
        const std::vector<int> bytes = Bytes(file, 3, 2, 0);
        return bytes == std::vector<int>(6, bytes.at(0)) ? bytes[0] : -1;
    }
};

}  // namespace

// On flat patches in z = 0 (normal +z, surface direction +y, binormal +x) a
// direction d leans by its angle to the normal (up to 90) and turns by
// -atan2(d.x, d.y) from the surface direction; one file has them in red and
// green (first and last pixel), the matte is 0.
// The record of a model by name wins over "default" in either order; a zero
// direction or no record skips a model with a warning; an excluded model is
// named, one without hair skipped silently; a polygon model gets half a degree.
TEST_F(DirectionMaps, AnglesAndRecordsOnFlatPatches) {
    Load("flat");
    std::mt19937 rng(4);
    std::uniform_real_distribution<float> u(-1, 1);
    for (int i = 0; i < 20; ++i) {
        const float d[3] = {u(rng), u(rng), u(rng)}, length = std::hypot(d[0], d[1], d[2]);
        const double lean = std::fmin(90, std::acos(d[2] / length) * 180 / M_PI),
                     polar = -std::atan2(d[0], d[1]) * 180 / M_PI;
        const int want[] = {int((lean / 90 * 0.5 + 0.5) * 255), int((polar + 180) / 360 * 255), 0};
        captured([&] { mdldb_calc_dir_map("m", d, 2, 3, 0); });
        for (int k = 0; k < 6; ++k)  // red, green and matte
            EXPECT_NEAR(want[k / 2], Bytes("m_a.rla", 3, 2, k / 2 + (k > 3)).at(k % 2 * 5), 1)
                << i << " " << k;
    }
    EXPECT_EQ(slurp("records.printed"), Records({{"a", {0, 1, 1}, 3, 2},
                                                 {"default", {0, 0, 1}, 3, 2},
                                                 {"b", {0, 1, 1}, 3, 2},
                                                 {"c", {0, 0, 0}, 3, 2},
                                                 {"d", {0, 1, 1}, 3, 2}}));
    EXPECT_EQ((std::vector<int>{191, 191, 128, 127}),
              (std::vector<int>{Level("mE_a.rla"), Level("mE_b.rla"), Level("mE_q.rla"),
                                Level("mP_q.rla")}));
}

// On the unit sphere the normal is the position: the lean towards +y at map
// row r and column c is the angle at u = c / (w - 1), v = r / (h - 1).
TEST_F(DirectionMaps, MapAxesFollowUAndVOnASphere) {
    std::filesystem::copy_file(KORVO_TEST_DATA "/e2e/ball.0001.kiv", "ball.0001.kiv");
    Load("ball");
    const kivNurbSurface* s = mdldb_get_index(0, 0)->nurbs();
    const float up[3] = {0, 1, 0};
    captured([&] { mdldb_calc_dir_map("m", up, 7, 9, 0); });
    const std::vector<int> lean = Bytes("m_ball.rla", 9, 7, 0);
    for (int i = 0; i < 63 && lean.size() == 63; ++i) {
        kivVector frame[4];
        s->calc_posnrmdir(i % 9 / 8.0f, i / 9 / 6.0f, frame);
        const double y = std::fmax(-1.0, std::fmin(1.0, frame[0].y / frame[0].length()));
        const double degrees = std::fmin(90.0, std::acos(y) * 180 / M_PI);
        EXPECT_NEAR(int((degrees / 90 * 0.5 + 0.5) * 255), lean[i], 1) << i;
    }
}
