#include "maptools/direction_map.h"

#include <cmath>
#include <cstring>
#include <random>

#include "foundation/render_settings.h"
#include "imagefile/image_file.h"
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

DirectionMapStruct record(const char* name, float x, float y, float z) {
    DirectionMapStruct r{{}, {x, y, z}, 3, 2};
    std::strncpy(r.name, name, sizeof r.name - 1);
    return r;
}

using DirectionMaps = MapScene;

}  // namespace

// On flat patches in z = 0 (normal +z, surface direction +y, binormal +x) a
// direction d leans by its angle to the normal (up to 90) and turns by
// -atan2(d.x, d.y) from the surface direction; one file has them in red and
// green, two files in every colour of E and P; the matte is 0.
TEST_F(DirectionMaps, AnglesOnAFlatPatch) {
    Load("flat");
    std::mt19937 rng(4);
    std::uniform_real_distribution<float> u(-1, 1);
    for (int i = 0; i < 20; ++i) {
        const float d[3] = {u(rng), u(rng), u(rng)},
                    length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
        const double lean = std::fmin(90, std::acos(d[2] / length) * 180 / M_PI),
                     polar = -std::atan2(d[0], d[1]) * 180 / M_PI;
        const int e = int((lean / 90 * 0.5 + 0.5) * 255), p = int((polar + 180) / 360 * 255);
        captured([&] {
            mdldb_calc_dir_map(Path("m").c_str(), d, 2, 3, 0),
                mdldb_calc_dir_map(Path("m").c_str(), d, 2, 3, 1);
        });
        for (const auto& [file, channel, want] : {std::tuple{"m_a.rla", 0, e},
                                                  {"m_a.rla", 1, p},
                                                  {"m_a.rla", 3, 0},
                                                  {"mE_a.rla", 2, e},
                                                  {"mP_a.rla", 0, p}})
            for (int byte : Bytes(Path(file), 3, 2, channel))
                EXPECT_NEAR(want, byte, 1) << file << " " << channel << " " << i;
    }
}

// The record of a model by name wins over "default" in either order; a zero
// direction or no record skips a model with a warning; an excluded model is
// named, one without hair skipped silently; a polygon model gets half a degree.
TEST_F(DirectionMaps, RecordsChooseTheDirectionPerModel) {
    Load("flat");
    const std::vector<DirectionMapStruct> records = {record("default", 0, 0, 1),
                                                     record("b", 0, 1, 1), record("c", 0, 0, 0),
                                                     record("d", 0, 1, 1)};
    EXPECT_EQ("  - Creating orient files " + Path("mE_a.rla") + " " + Path("mP_a.rla") +
                  " (3x2)\n" + "  - Creating orient files " + Path("mE_b.rla") + " " +
                  Path("mP_b.rla") +
                  " (3x2)\nWARNING: Skipping model with no definition (c).\nWARNING: Model (e) "
                  "excluded from computation.\n  - Creating orient files " +
                  Path("mE_q.rla") + " " + Path("mP_q.rla") + " (3x2)\n",
              captured([&] { mdldb_calc_dir_map(Path("m").c_str(), records.data(), 4, 1); }));
    EXPECT_EQ(std::vector<int>(6, 127), Bytes(Path("mE_a.rla"), 3, 2, 0));
    EXPECT_EQ(std::vector<int>(6, 191), Bytes(Path("mE_b.rla"), 3, 2, 0));
    EXPECT_EQ(std::vector<int>(6, 128), Bytes(Path("mE_q.rla"), 3, 2, 0));
    EXPECT_EQ(std::vector<int>(6, 127), Bytes(Path("mP_q.rla"), 3, 2, 0));
    const std::vector<DirectionMapStruct> reversed = {record("b", 0, 0, 1),
                                                      record("default", 0, 1, 1)};
    captured([&] { mdldb_calc_dir_map(Path("m").c_str(), reversed.data(), 2, 1); });
    EXPECT_EQ(std::vector<int>(6, 127), Bytes(Path("mE_b.rla"), 3, 2, 0));
    EXPECT_NE(std::string::npos, captured([&] {
                                     mdldb_calc_dir_map(Path("m").c_str(), records.data(), 0, 1);
                                 }).find("WARNING: Skipping model with no definition (q).\n"));
}

// On the unit sphere the normal is the position: the lean towards +y at map
// row r and column c is the angle at u = c / (w - 1), v = r / (h - 1).
TEST_F(DirectionMaps, MapAxesFollowUAndVOnASphere) {
    std::filesystem::copy_file(KORVO_TEST_DATA "/e2e/ball.0001.kiv", Path("ball.0001.kiv"));
    Load("ball");
    const kivNurbSurface* s = mdldb_get_index(0, 0)->nurbs();
    const float up[3] = {0, 1, 0};
    captured([&] { mdldb_calc_dir_map(Path("m").c_str(), up, 7, 9, 0); });
    const std::vector<int> lean = Bytes(Path("m_ball.rla"), 9, 7, 0);
    for (int i = 0; i < 63 && lean.size() == 63; ++i) {
        kivVector frame[4];
        s->calc_posnrmdir(i % 9 / 8.0f, i / 9 / 6.0f, frame);
        const double y = std::fmax(-1.0, std::fmin(1.0, frame[0].y / frame[0].length()));
        EXPECT_NEAR(int((std::fmin(90.0, std::acos(y) * 180 / M_PI) / 90 * 0.5 + 0.5) * 255),
                    lean[i], 1)
            << i;
    }
}
