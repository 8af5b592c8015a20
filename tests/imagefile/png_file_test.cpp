#include "imagefile/png_file.h"

#include "image_support.h"

#include <png.h>

using namespace image_test;

namespace {

std::vector<unsigned char> random_rgba(int width, int height, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<unsigned char> rgba(std::size_t(width) * height * 4);
    for (unsigned char& b : rgba) b = uint8_t(rng());
    return rgba;
}

bool read_png_file(const std::string& path, int& w, int& h, std::vector<unsigned char>& rgba) {
    std::vector<uint8_t> bytes = read_bytes(path);
    return png_read_rgba(bytes.data(), bytes.size(), w, h, rgba);
}

}  // namespace

TEST(PngFile, RoundTripsRgbaPictures) {
    for (auto size : {std::pair<int, int>{1, 1}, {7, 3}, {64, 65}, {200, 1}}) {
        const std::string path = temp_path(".png");
        const auto rgba = random_rgba(size.first, size.second, unsigned(size.first));
        ASSERT_TRUE(png_write_rgba(path.c_str(), size.first, size.second, rgba.data()));
        int w = 0, h = 0;
        std::vector<unsigned char> back;
        ASSERT_TRUE(read_png_file(path, w, h, back));
        EXPECT_EQ(w, size.first);
        EXPECT_EQ(h, size.second);
        EXPECT_EQ(back, rgba);
        std::remove(path.c_str());
    }
}

TEST(PngFile, WritesTheTopRowFirst) {
    const std::string path = temp_path(".png");
    // Two rows: the bottom row (first in memory) red, the top row blue.
    const unsigned char rgba[] = {255, 0, 0, 255, 0, 0, 255, 255};
    ASSERT_TRUE(png_write_rgba(path.c_str(), 1, 2, rgba));
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, path.c_str()));
    image.format = PNG_FORMAT_RGBA;
    unsigned char rows[8];
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, rows, 4, nullptr));
    EXPECT_EQ(rows[2], 255) << "the file's first row is the top: blue";
    EXPECT_EQ(rows[4], 255) << "the file's second row is the bottom: red";
    std::remove(path.c_str());
}

TEST(PngFile, ReadsGreyPicturesAsOpaqueRgba) {
    const std::string path = temp_path(".png");
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = 2;
    image.height = 1;
    image.format = PNG_FORMAT_GRAY;
    const unsigned char grey[] = {10, 200};
    ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, grey, 0, nullptr));
    int w = 0, h = 0;
    std::vector<unsigned char> rgba;
    ASSERT_TRUE(read_png_file(path, w, h, rgba));
    EXPECT_EQ(rgba, (std::vector<unsigned char>{10, 10, 10, 255, 200, 200, 200, 255}));
    std::remove(path.c_str());
}

TEST(PngFile, RefusesBadArgumentsAndDamagedData) {
    const unsigned char pixel[4] = {1, 2, 3, 4};
    EXPECT_FALSE(png_write_rgba(nullptr, 1, 1, pixel));
    EXPECT_FALSE(png_write_rgba(temp_path(".png").c_str(), 0, 1, pixel));
    EXPECT_FALSE(png_write_rgba(temp_path(".png").c_str(), 1, 1, nullptr));
    EXPECT_FALSE(png_write_rgba(temp_path("_no_dir/x.png").c_str(), 1, 1, pixel));

    const std::string path = temp_path(".png");
    const auto rgba = random_rgba(9, 5, 3);
    ASSERT_TRUE(png_write_rgba(path.c_str(), 9, 5, rgba.data()));
    const std::vector<uint8_t> bytes = read_bytes(path);
    int w, h;
    std::vector<unsigned char> back;
    std::string error;
    // A cut file fails, unless only the end marker is missing: then all the
    // pixels are there.
    int failures = 0;
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        if (png_read_rgba(bytes.data(), length, w, h, back, &error)) {
            EXPECT_EQ(back, rgba) << length;
            EXPECT_GE(length, bytes.size() - 12) << "the end chunk is 12 bytes";
        } else {
            ++failures;
        }
    }
    EXPECT_GE(failures, int(bytes.size()) - 12);
    EXPECT_FALSE(error.empty());
    std::mt19937 rng(8);
    for (int i = 0; i < 300; ++i) {
        std::vector<uint8_t> damaged = bytes;
        damaged[8 + rng() % (damaged.size() - 8)] ^= uint8_t(1 + rng() % 255);
        if (png_read_rgba(damaged.data(), damaged.size(), w, h, back)) {
            EXPECT_EQ(back.size(), std::size_t(w) * h * 4);
        }
    }
    std::remove(path.c_str());
}
