// Helpers shared by the image file tests.
#pragma once

#include "imagefile/image_file.h"
#include "test_support.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace image_test {

using Bytes = std::vector<uint8_t>;
using Rows = std::vector<Bytes>;

// A temporary file, removed when it goes out of scope.
struct TempFile {
    const std::string path;
    explicit TempFile(const std::string& suffix) : path(temp_path(suffix)) {}
    ~TempFile() { std::remove(path.c_str()); }
    const char* c_str() const { return path.c_str(); }
};

inline Bytes read_bytes(const std::string& path) {
    Bytes bytes;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return bytes;
    for (int c; (c = std::fgetc(f)) != EOF;) bytes.push_back(uint8_t(c));
    std::fclose(f);
    return bytes;
}

inline void write_bytes(const std::string& path, const Bytes& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

inline uint32_t be32(const Bytes& b, std::size_t at) {
    return (uint32_t(b.at(at)) << 24) | (uint32_t(b.at(at + 1)) << 16) |
           (uint32_t(b.at(at + 2)) << 8) | b.at(at + 3);
}
inline uint16_t be16(const Bytes& b, std::size_t at) {
    return uint16_t((b.at(at) << 8) | b.at(at + 1));
}
inline std::string text_at(const Bytes& b, std::size_t at, std::size_t n) {
    std::string s(reinterpret_cast<const char*>(b.data() + at), n);
    return s.substr(0, s.find('\0'));
}

// Kinds of test pictures: noise, one value per channel, runs of three, and
// long runs, pairs and noise of four values in one row.
enum class Pattern { kNoise, kFlat, kStripes, kMixed };

inline uint8_t pattern_value(Pattern p, int x, int c, int cols, std::mt19937& rng) {
    if (p == Pattern::kNoise) return uint8_t(rng());
    if (p == Pattern::kFlat) return uint8_t(40 * c + 7);
    if (p == Pattern::kStripes) return uint8_t(((x / 3) % 2) * 200 + c);
    return x < cols / 3 ? 9 : (x % 7 < 2 ? 4 : uint8_t(rng() % 4));
}

// Fills every channel of every row of an image with a pattern. Depth
// values (5 channels) are distinct floats.
inline void fill_image(kivImage* image, Pattern pattern, unsigned seed) {
    std::mt19937 rng(seed);
    const int cols = image->cols;
    for (int y = 0; y < image->lines; ++y) {
        unsigned char* row = image->rows[y];
        for (int c = 0; c < image->channels && c < 4; ++c)
            for (int x = 0; x < cols; ++x)
                row[c * cols + x] = pattern_value(pattern, x, c, cols, rng);
        if (image->channels != 5) continue;
        float* depth = reinterpret_cast<float*>(row + 4 * std::size_t(cols));
        for (int x = 0; x < cols; ++x) depth[x] = -1.5f * float(x + 1) / float(y + 2) + 0.25f;
    }
}

// Copies all rows of an image, to compare after the handle is closed.
inline Rows copy_rows(const kivImage* image) {
    const std::size_t bytes =
        std::size_t(image->cols) * (image->channels == 5 ? 8 : image->channels);
    Rows rows;
    for (int y = 0; y < image->lines; ++y)
        rows.emplace_back(image->rows[y], image->rows[y] + bytes);
    return rows;
}

// Creates, fills and writes an image; returns its rows as written.
inline Rows write_image(const std::string& path, int type, int lines, int cols, int channels,
                        Pattern pattern, unsigned seed) {
    kivImage* image = kivCreateImage(path.c_str(), type, lines, cols, 8, 1.7f, channels);
    EXPECT_NE(image, nullptr) << path;
    if (!image) return {};
    fill_image(image, pattern, seed);
    Rows rows = copy_rows(image);
    EXPECT_EQ(kivCloseImage(image), 1);
    return rows;
}

// Opens a file through the front end (the open that fails on corrupt run-length data
// instead of ending the process) and returns its rows; empty when the open fails.
inline Rows read_rows(const std::string& path, int type = 0, int* format = nullptr,
                      int* channels = nullptr) {
    kivImage* image = kivOpenImageChecked(path.c_str(), type);
    if (!image) return {};
    Rows rows = copy_rows(image);
    if (format) *format = image->format;
    if (channels) *channels = image->channels;
    kivCloseImage(image);
    return rows;
}

// Expects a message on standard output from the open that ends the process, and
// the same message and a failure from the checked open.
inline void expect_fatal_open(const std::string& path, const std::string& message) {
    TempFile out(".out");
    EXPECT_EXIT(
        {
            std::freopen(out.c_str(), "w", stdout);
            kivOpenImage(path.c_str(), 0);
            std::_Exit(3);
        },
        testing::ExitedWithCode(0), "");
    const Bytes text = read_bytes(out.path);
    EXPECT_EQ(message, std::string(text.begin(), text.end()));
    kivImage* image = nullptr;
    EXPECT_EQ(message, captured([&] { image = kivOpenImageChecked(path.c_str(), 0); }));
    EXPECT_EQ(nullptr, image);
}

}  // namespace image_test
