// Shadow multipliers (filter kernels, lookups in hand-made maps,
// auto-shading) and the .smap format: exact run-length codes, round trips
// and damaged files.
#include <arpa/inet.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <random>

#include "korvofur/korvofur.h"
#include "render/shadow_map_file.h"
#include "render_support.h"

TEST(AutoShade, RootTipAndLightAngleFollowTheirCurves) {
    ShadowMapInfo e;
    init_autoparams(&e.auto_params);  // self_shade 0.5, darkness 1, factor 2, back darkness 1
    hair_light light;
    light.direction = kivVector(0.0f, -1.0f, 0.0f);
    e.light = &light;
    const kivVector facing(0.0f, 1.0f, 0.0f), away(0.0f, -1.0f, 0.0f), side(1.0f, 0.0f, 0.0f);

    // Along the hair, lit from the front: dark to self_shade, then a ramp.
    const float t[] = {0.0f, 0.25f, 0.5f, 0.75f, 1.0f}, f[] = {0.0f, 0.0f, 0.0f, 0.5f, 1.0f};
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(smCalcAutoShadeMult(&e, facing, t[i]), f[i], 1e-6f);
    e.auto_params.self_shade = 0.0f;
    EXPECT_EQ(smCalcAutoShadeMult(&e, facing, 0.0f), 1.0f);
    e.auto_params.self_shade = 1.0f;
    e.auto_params.self_shade_darkness = 0.3f;
    EXPECT_NEAR(smCalcAutoShadeMult(&e, facing, 1.0f), 0.7f, 1e-6f);

    // Across the angle: full from the front, 1 - back darkness from behind,
    // and a smooth step between (p = 1/2 at a right angle gives g = 1/2).
    e.auto_params.self_shade = 0.0f;
    e.auto_params.back_shadow_darkness = 0.8f;
    EXPECT_NEAR(smCalcAutoShadeMult(&e, away, 1.0f), 0.2f, 1e-6f);
    EXPECT_NEAR(smCalcAutoShadeMult(&e, side, 1.0f), 0.2f * 0.5f + 0.5f, 1e-6f);
    // The same normal under another darkness, then another factor.
    e.auto_params.back_shadow_darkness = 0.4f;
    EXPECT_NEAR(smCalcAutoShadeMult(&e, side, 1.0f), 0.6f * 0.5f + 0.5f, 1e-6f);
    e.auto_params.back_shadow_factor = 3.0f;  // p = 1 - 3/8, g = 2p^3 - 3p^2 + 1
    EXPECT_NEAR(smCalcAutoShadeMult(&e, side, 1.0f), 0.6f * (1 - 0.31640625f) + 0.31640625f, 1e-6f);
}

// Light space onto a map of 9 lines × 12 columns seen with a 90 degree
// view: x ÷ −z and y ÷ −z of −1 … 1 span the columns and the lines.
TEST(ShadowLookup, LightSpacePointsLandOnTheirMapPixels) {
    render_test::map_entry m(12, 9, 3, 3);
    const float points[][5] = {{0, 0, -4, 6, 4.5f},
                               {2, 0, -4, 9, 4.5f},
                               {0, -3, -6, 6, 2.25f},
                               {1, 1, -2, 9, 6.75f},
                               {-9, 0, -3, -12, 4.5f}};
    for (const auto& p : points) {
        float sx, sy, u, v;
        smCalcShadowScreenPoint(&m.e, kivPoint(p[0], p[1], p[2]), sx, sy, u, v);
        EXPECT_NEAR(sx, p[3], 1e-5) << p[0] << "," << p[1];
        EXPECT_NEAR(sy, p[4], 1e-5) << p[0] << "," << p[1];
        EXPECT_NEAR(u, std::max(0.0f, p[3] / 12), 1e-6);
        EXPECT_NEAR(v, p[4] / 9, 1e-6);
    }
}

namespace {

std::vector<float> be_floats(const std::string& bytes) {
    std::vector<float> out(bytes.size() / 4);
    for (std::size_t i = 0; i < out.size(); ++i) {
        std::uint32_t u;
        std::memcpy(&u, bytes.data() + 4 * i, 4);
        u = ntohl(u);
        std::memcpy(&out[i], &u, 4);
    }
    return out;
}

// The floats that one encoded scanline writes.
std::vector<float> encode(const std::vector<float>& values) {
    std::vector<float> buffer(values.size() + 1);
    int count = -1, ok = 0;
    const std::string bytes = file_text([&](FILE* f) {
        ok = smEncodeScanline(values.data(), buffer.data(), static_cast<int>(values.size()), &count,
                              f);
    });
    EXPECT_EQ(ok, 1);
    EXPECT_EQ(static_cast<std::size_t>(count) * 4, bytes.size());
    return be_floats(bytes);
}

ShadowMap closed_map() {
    return ShadowMap{-1, 0, 0, 0.0f, {nullptr, nullptr, nullptr, nullptr}};
}

}  // namespace

TEST(SmapFile, RunLengthCodesAreExact) {
    const float nan = std::nanf("");
    // Runs of two or more repeats as (count − 1, value), literals as
    // (−count, values…); a pair of repeats stays literal.
    EXPECT_EQ(encode({1, 2, 9, 9, 9, 9, 3, 5, 5, 8, 8, 8, 4}),
              (std::vector<float>{-2, 1, 2, 3, 9, -3, 3, 5, 5, 2, 8, -1, 4}));
    EXPECT_EQ(encode({7, 7, 7, 7, 7, 7}), (std::vector<float>{5, 7}));

    // A NaN never equals anything: three of them stay literal.
    const std::vector<float> nans = encode({nan, nan, nan});
    ASSERT_EQ(nans.size(), 4u);
    EXPECT_EQ(nans[0], -3.0f);
    EXPECT_TRUE(std::isnan(nans[1]) && std::isnan(nans[3]));
    EXPECT_TRUE(encode({}).empty());
}

TEST(SmapFile, RandomMapsRoundTripAndStayWithinTheBuffer) {
    std::mt19937 rng(16);
    const std::string path = temp_path(".smap");
    for (const auto& size : {std::pair<int, int>{1, 1}, {3, 17}, {40, 33}, {64, 64}}) {
        const int lines = size.first, cols = size.second;
        // Runs of repeated depths broken by noise, as a rendered map has, and
        // by zeros of the other sign and NaNs, which the codes do not keep
        // apart from a run's first value or join into runs.
        const float nan = std::numeric_limits<float>::quiet_NaN();
        std::vector<float> maps[SMAP_CHANNELS];
        for (auto& m : maps) {
            m.resize(static_cast<std::size_t>(lines) * cols);
            float run = 0.0f;
            for (float& v : m) {
                if (rng() % 4 == 0)
                    run = rng() % 4 ? std::uniform_real_distribution<float>(0, 50)(rng) : 0.0f;
                const unsigned k = rng() % 8;
                v = k < 2    ? std::uniform_real_distribution<float>(-1, 1)(rng)
                    : k == 2 ? -run
                    : k == 3 ? nan
                             : run;
            }
        }
        std::FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_TRUE(smWriteHeader(f, lines, cols, 12.5f));
        std::vector<float> buffer(cols + 1);
        for (int y = 0; y < lines; ++y) {
            for (auto& m : maps) {
                int count = 0;
                ASSERT_EQ(smEncodeScanline(&m[y * cols], buffer.data(), cols, &count, f), 1);
                EXPECT_LE(count, cols + 1);
            }
        }
        std::fclose(f);

        ShadowMap map = closed_map();
        ASSERT_EQ(smOpen(path.c_str(), &map), 1);
        EXPECT_TRUE(map.lines == lines && map.cols == cols && map.encoding == 1 &&
                    map.cone == 12.5f);
        // The bits read back are the values' as smRunLengthValues gives them.
        for (int c = 0; c < SMAP_CHANNELS; ++c) {
            for (int y = 0; y < lines; ++y) smRunLengthValues(&maps[c][y * cols], cols);
            EXPECT_EQ(std::memcmp(map.maps[c], maps[c].data(), maps[c].size() * 4), 0) << c;
        }
        EXPECT_TRUE(smClose(&map) == 1 && map.encoding == -1 && map.maps[0] == nullptr);
    }
    std::remove(path.c_str());
}

namespace {

// The planes a provided map hands back, with their sizes.
std::vector<std::pair<float*, std::size_t>> g_released;
void release_plane(float* plane, std::size_t floats) {
    g_released.push_back({plane, floats});
    delete[] plane;
}

}  // namespace

TEST(SmapFile, AProvidedMapOpensAsItsFileWould) {
    const std::string path = temp_path(".smap");
    constexpr int n = 4;
    const float cone = 0.1234567f;  // the header's "%f" keeps six decimals
    const float row[n] = {0.5f, 0.5f, 0.5f, -2.0f};
    std::FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(f != nullptr && smWriteHeader(f, n, n, cone));
    float buffer[n + 1];
    for (int i = 0, count = 0; i < n * SMAP_CHANNELS; ++i)
        ASSERT_EQ(smEncodeScanline(row, buffer, n, &count, f), 1);
    std::fclose(f);
    const auto planes = [&] {
        std::array<float*, SMAP_CHANNELS> p;
        for (float*& m : p) {
            m = new float[n * n];
            for (int i = 0; i < n * n; ++i) m[i] = row[i % n];
        }
        return p;
    };
    // The first open takes the planes themselves, the second reads the file
    // alike; closing hands the planes back once each.
    g_released.clear();
    const std::array<float*, SMAP_CHANNELS> mine = planes();
    ASSERT_EQ(smProvideMap(path.c_str(), n, n, cone, mine.data(), release_plane), 1);
    ShadowMap provided = closed_map(), read = closed_map();
    ASSERT_TRUE(smOpen(path.c_str(), &provided) == 1 && smOpen(path.c_str(), &read) == 1);
    EXPECT_TRUE(std::equal(mine.begin(), mine.end(), provided.maps));
    EXPECT_TRUE(provided.lines == read.lines && provided.cols == read.cols &&
                provided.encoding == read.encoding && provided.cone == read.cone &&
                provided.cone != cone);
    for (int c = 0; c < SMAP_CHANNELS; ++c)
        EXPECT_TRUE(std::equal(read.maps[c], read.maps[c] + n * n, provided.maps[c]));
    smClose(&read), smClose(&provided);
    ASSERT_EQ(g_released.size(), 4u);
    for (int c = 0; c < SMAP_CHANNELS; ++c)
        EXPECT_EQ(g_released[c], std::make_pair(mine[c], std::size_t(n * n)));
    // A later map for the path releases the earlier; those no open took go
    // when forgotten, and the file is read again. Out of range, none is taken.
    const std::array<float*, SMAP_CHANNELS> first = planes(), second = planes();
    smProvideMap(path.c_str(), n, n, cone, first.data(), release_plane);
    smProvideMap(path.c_str(), n, n, cone, second.data(), release_plane);
    smForgetProvidedMaps();
    ASSERT_EQ(g_released.size(), 12u);
    EXPECT_TRUE(g_released[4].first == first[0] && g_released[8].first == second[0]);
    EXPECT_TRUE(smOpen(path.c_str(), &read) == 1 && smClose(&read) == 1);
    EXPECT_EQ(smProvideMap(path.c_str(), kSmapMaxSide + 1, 1, cone, mine.data(), release_plane), 0);
    EXPECT_EQ(smProvideMap(nullptr, n, n, cone, mine.data(), release_plane), 0);
    EXPECT_EQ(g_released.size(), 12u);
    std::remove(path.c_str());
}

// Each file of tests/data/render/broken says in its header what it guards;
// "expected" there holds each file's message.
TEST(SmapFile, DamagedFilesAreRefusedWithTheirReason) {
    const std::string dir = std::string(KORVO_TEST_DATA) + "/render/broken/";
    std::ifstream expected(dir + "expected");
    std::string file, message;
    int files = 0;
    while (expected >> file && std::getline(expected >> std::ws, message)) {
        ShadowMap map = closed_map();
        std::string printed;
        const std::string what =
            thrown<FurEFailed>([&] { EXPECT_EQ(smOpen((dir + file).c_str(), &map), 0); }, &printed);
        if (message != "throws") {
            EXPECT_EQ(what, "no exception") << file;
            EXPECT_NE(printed.find(message), std::string::npos) << file << ": " << printed;
        } else {
            EXPECT_EQ(what, "Bytes mis-matched in SHADOW rle buffer.") << file;
            EXPECT_NE(printed.find("HEY MAN! I don't have 4 bytes"), std::string::npos) << printed;
        }
        EXPECT_EQ(map.encoding, -1) << file;
        for (float* m : map.maps) EXPECT_EQ(m, nullptr) << file;
        ++files;
    }
    EXPECT_EQ(files, 10);
    ShadowMap map = closed_map();
    EXPECT_EQ(captured([&] { smOpen((dir + "missing.smap").c_str(), &map); }),
              "***** Error opening file: " + dir + "missing.smap.\n");
    EXPECT_EQ(captured([] { smOpen("x", nullptr); }), "***** Shadow map structure is NULL.\n");
}
