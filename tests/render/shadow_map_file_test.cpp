// The .smap format: exact run-length codes, round trips, raw files and
// damaged files.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "foundation/fur_exception.h"
#include "render/shadow_map_file.h"
#include "test_support.h"

namespace {

std::vector<float> be_floats(const std::string& bytes) {
    std::vector<float> out;
    for (std::size_t i = 0; i + 4 <= bytes.size(); i += 4) {
        const auto* b = reinterpret_cast<const unsigned char*>(bytes.data() + i);
        const std::uint32_t u = (std::uint32_t(b[0]) << 24) | (std::uint32_t(b[1]) << 16) |
                                (std::uint32_t(b[2]) << 8) | b[3];
        float f;
        std::memcpy(&f, &u, 4);
        out.push_back(f);
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
    const struct {
        std::vector<float> in, codes;
    } cases[] = {
        {{5, 5, 5}, {2, 5}},
        {{7, 7, 7, 7, 7, 7}, {5, 7}},
        {{1, 2, 3}, {-3, 1, 2, 3}},
        {{5, 5}, {-2, 5, 5}},
        {{4}, {-1, 4}},
        {{1, 2, 9, 9, 9, 9, 3}, {-2, 1, 2, 3, 9, -1, 3}},
        {{0, 0, 0, 1, 1, 1}, {2, 0, 2, 1}},
        {{8, 8, 1, 1, 1, 6, 6}, {-2, 8, 8, 2, 1, -2, 6, 6}},
    };
    for (const auto& c : cases) EXPECT_EQ(encode(c.in), c.codes) << c.in.size();

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
        // Runs of repeated depths broken by noise, as a rendered map has.
        std::vector<float> maps[SMAP_CHANNELS];
        for (auto& m : maps) {
            m.resize(static_cast<std::size_t>(lines) * cols);
            float run = 0.0f;
            for (float& v : m) {
                if (rng() % 4 == 0) run = std::uniform_real_distribution<float>(0, 50)(rng);
                v = rng() % 3 == 0 ? std::uniform_real_distribution<float>(-1, 1)(rng) : run;
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
        EXPECT_EQ(map.lines, lines);
        EXPECT_EQ(map.cols, cols);
        EXPECT_EQ(map.encoding, 1);
        EXPECT_FLOAT_EQ(map.cone, 12.5f);
        for (int c = 0; c < SMAP_CHANNELS; ++c)
            EXPECT_EQ(std::vector<float>(map.maps[c], map.maps[c] + lines * cols), maps[c]) << c;
        EXPECT_EQ(smClose(&map), 1);
        EXPECT_EQ(map.encoding, -1);
        EXPECT_EQ(map.maps[0], nullptr);
    }
    std::remove(path.c_str());
}

// Each file of tests/data/render/broken says in its header what it guards.
TEST(SmapFile, DamagedFilesAreRefusedWithTheirReason) {
    const std::string dir = std::string(KORVO_TEST_DATA) + "/render/broken/";
    const struct {
        const char* file;
        const char* message;  // printed; empty when the file throws
    } cases[] = {
        {"huge.smap", "out of range"},
        {"negative.smap", "out of range"},
        {"short.smap", "data too short"},
        {"short_raw.smap", "data too short"},
        {"truncated.smap", "ends early"},
        {"no_sizes.smap", "Could not determine map dimensions"},
        {"two_lines.smap", "Could not determine map dimensions"},
        {"run_overrun.smap", ""},
        {"literal_overrun.smap", ""},
        {"nan_count.smap", ""},
    };
    for (const auto& c : cases) {
        ShadowMap map = closed_map();
        std::string printed;
        const std::string what = thrown<FurEFailed>(
            [&] { EXPECT_EQ(smOpen((dir + c.file).c_str(), &map), 0); }, &printed);
        if (*c.message) {
            EXPECT_EQ(what, "no exception") << c.file;
            EXPECT_NE(printed.find(c.message), std::string::npos) << c.file << ": " << printed;
        } else {
            EXPECT_EQ(what, "Bytes mis-matched in SHADOW rle buffer.") << c.file;
            EXPECT_NE(printed.find("HEY MAN! I don't have 4 bytes"), std::string::npos) << printed;
        }
        EXPECT_EQ(map.encoding, -1) << c.file;
        for (float* m : map.maps) EXPECT_EQ(m, nullptr) << c.file;
    }
    ShadowMap map = closed_map();
    EXPECT_EQ(captured([&] { smOpen((dir + "missing.smap").c_str(), &map); }),
              "***** Error opening file: " + dir + "missing.smap.\n");
    EXPECT_EQ(captured([] { smOpen("x", nullptr); }), "***** Shadow map structure is NULL.\n");
}
