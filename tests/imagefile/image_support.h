// Helpers shared by the image file tests.
#pragma once

#include "imagefile/image_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace image_test {

// A file name under the test temporary directory, unique to the test.
inline std::string temp_path(const std::string& suffix) {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : name)
        if (c == '/') c = '_';
    return testing::TempDir() + "korvo_" + name + suffix;
}

inline std::vector<uint8_t> read_bytes(const std::string& path) {
    std::vector<uint8_t> bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return bytes;
    int c;
    while ((c = std::fgetc(f)) != EOF) bytes.push_back(uint8_t(c));
    std::fclose(f);
    return bytes;
}

inline void write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

inline uint32_t be32(const std::vector<uint8_t>& b, std::size_t at) {
    return (uint32_t(b.at(at)) << 24) | (uint32_t(b.at(at + 1)) << 16) |
           (uint32_t(b.at(at + 2)) << 8) | b.at(at + 3);
}
inline uint16_t be16(const std::vector<uint8_t>& b, std::size_t at) {
    return uint16_t((b.at(at) << 8) | b.at(at + 1));
}
inline std::string text_at(const std::vector<uint8_t>& b, std::size_t at, std::size_t n) {
    std::string s(reinterpret_cast<const char*>(b.data() + at), n);
    return s.substr(0, s.find('\0'));
}

// Kinds of test pictures.
enum class Pattern { kNoise, kFlat, kStripes, kRamps, kMixed };

// Fills every channel of every row of an image with a pattern. Depth
// values (5 channels) are distinct floats.
inline void fill_image(kivImage* image, Pattern pattern, unsigned seed) {
    std::mt19937 rng(seed);
    const int cols = image->cols;
    for (int y = 0; y < image->lines; ++y) {
        unsigned char* row = image->rows[y];
        for (int c = 0; c < image->channels && c < 4; ++c) {
            for (int x = 0; x < cols; ++x) {
                unsigned char v = 0;
                switch (pattern) {
                    case Pattern::kNoise:
                        v = uint8_t(rng());
                        break;
                    case Pattern::kFlat:
                        v = uint8_t(40 * c + 7);
                        break;
                    case Pattern::kStripes:
                        v = uint8_t(((x / 3) % 2) * 200 + c);
                        break;
                    case Pattern::kRamps:
                        v = uint8_t(x + y * 3 + c);
                        break;
                    case Pattern::kMixed:
                        // Long runs, short runs and noise in one row.
                        v = x < cols / 3 ? 9 : (x % 7 < 2 ? 4 : uint8_t(rng() % 4));
                        break;
                }
                row[std::size_t(c) * cols + x] = v;
            }
        }
        if (image->channels == 5) {
            float* depth = reinterpret_cast<float*>(row + 4 * std::size_t(cols));
            for (int x = 0; x < cols; ++x) depth[x] = -1.5f * float(x + 1) / float(y + 2) + 0.25f;
        }
    }
}

// Copies all rows of an image, to compare after the handle is closed.
inline std::vector<std::vector<uint8_t>> copy_rows(const kivImage* image) {
    const std::size_t bytes =
        std::size_t(image->cols) * (image->channels == 5 ? 8 : image->channels);
    std::vector<std::vector<uint8_t>> rows;
    for (int y = 0; y < image->lines; ++y)
        rows.emplace_back(image->rows[y], image->rows[y] + bytes);
    return rows;
}

// Creates, fills and writes an image; returns its rows as written.
inline std::vector<std::vector<uint8_t>> write_image(const std::string& path, int type, int lines,
                                                     int cols, int channels, Pattern pattern,
                                                     unsigned seed) {
    kivImage* image = kivCreateImage(path.c_str(), type, lines, cols, 8, 1.7f, channels);
    EXPECT_NE(image, nullptr) << path;
    if (!image) return {};
    fill_image(image, pattern, seed);
    auto rows = copy_rows(image);
    EXPECT_EQ(kivCloseImage(image), 1);
    return rows;
}

// Runs f with standard output captured and returns what it printed.
template <typename F>
std::string captured(F f) {
    testing::internal::CaptureStdout();
    f();
    return testing::internal::GetCapturedStdout();
}

}  // namespace image_test
