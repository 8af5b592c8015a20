#include "imagefile/png_file.h"

#include "image_support.h"

#include <png.h>

using namespace image_test;

namespace {

Bytes random_rgba(int width, int height, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes rgba(std::size_t(width) * height * 4);
    for (unsigned char& b : rgba) b = uint8_t(rng());
    return rgba;
}

}  // namespace

TEST(PngFile, RoundTripsRgbaPictures) {
    for (auto [width, height] : {std::pair<int, int>{1, 1}, {7, 3}, {64, 65}, {200, 1}}) {
        TempFile file(".png");
        const Bytes rgba = random_rgba(width, height, unsigned(width));
        ASSERT_TRUE(png_write_rgba(file.c_str(), width, height, rgba.data()));
        const Bytes bytes = read_bytes(file.path);
        int w = 0, h = 0;
        Bytes back;
        ASSERT_TRUE(png_read_rgba(bytes.data(), bytes.size(), w, h, back));
        EXPECT_TRUE(width == w && height == h);
        EXPECT_EQ(rgba, back);
    }
}

TEST(PngFile, WritesTheTopRowFirstAndReadsGreyAsOpaque) {
    TempFile file(".png");
    // Two rows: the bottom row (first in memory) red, the top row blue.
    const unsigned char rgba[] = {255, 0, 0, 255, 0, 0, 255, 255};
    ASSERT_TRUE(png_write_rgba(file.c_str(), 1, 2, rgba));
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, file.c_str()));
    image.format = PNG_FORMAT_RGBA;
    unsigned char rows[8];
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, rows, 4, nullptr));
    EXPECT_EQ((Bytes{0, 0, 255, 255, 255, 0, 0, 255}), Bytes(rows, rows + 8)) << "blue first";

    image.width = 2, image.height = 1, image.format = PNG_FORMAT_GRAY;
    const unsigned char grey[] = {10, 200};
    ASSERT_TRUE(png_image_write_to_file(&image, file.c_str(), 0, grey, 0, nullptr));
    const Bytes bytes = read_bytes(file.path);
    int w = 0, h = 0;
    Bytes back;
    ASSERT_TRUE(png_read_rgba(bytes.data(), bytes.size(), w, h, back));
    EXPECT_EQ((Bytes{10, 10, 10, 255, 200, 200, 200, 255}), back);
}

TEST(PngFile, RefusesBadArgumentsAndDamagedData) {
    const unsigned char pixel[4] = {1, 2, 3, 4};
    TempFile file(".png");
    EXPECT_FALSE(png_write_rgba(nullptr, 1, 1, pixel));
    EXPECT_FALSE(png_write_rgba(file.c_str(), 0, 1, pixel));
    EXPECT_FALSE(png_write_rgba(file.c_str(), 1, 1, nullptr));
    EXPECT_FALSE(png_write_rgba(temp_path("_no_dir/x.png").c_str(), 1, 1, pixel));
    const Bytes rgba = random_rgba(9, 5, 3);
    ASSERT_TRUE(png_write_rgba(file.c_str(), 9, 5, rgba.data()));
    const Bytes bytes = read_bytes(file.path);
    int w, h;
    Bytes back;
    std::string error;
    // A cut file fails, unless only the 12-byte end chunk is missing: then all the pixels are
    // there.
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        const Bytes cut(bytes.begin(), bytes.begin() + length);  // the sanitizer sees its end
        const bool read = png_read_rgba(cut.data(), cut.size(), w, h, back, &error);
        EXPECT_EQ(length >= bytes.size() - 12, read) << length;
        if (!read) continue;
        EXPECT_EQ(rgba, back) << length;
    }
    EXPECT_FALSE(error.empty());
    std::mt19937 rng(8);
    for (int i = 0; i < 300; ++i) {
        Bytes damaged = bytes;
        damaged[8 + rng() % (damaged.size() - 8)] ^= uint8_t(1 + rng() % 255);
        if (!png_read_rgba(damaged.data(), damaged.size(), w, h, back)) continue;
        EXPECT_EQ(std::size_t(w) * h * 4, back.size()) << i;
    }
}
