// Damaged files of every format: truncated at every length, bytes flipped
// at random, and the hand-made broken files of tests/data/imagefile. Every
// one must give a clean failure (or, for a flip that leaves the file
// readable, a consistent image): never a crash or an out-of-bounds access.
#include "imagefile/image_file.h"

#include "image_support.h"

#include <filesystem>

using namespace image_test;

TEST(CorruptImages, TruncationsAndByteFlipsFailCleanly) {
    struct Sample {
        const char* ext;
        int lines, cols, channels;
        Pattern pattern;
    };
    const Sample samples[] = {
        {".rla", 3, 9, 4, Pattern::kMixed},   {".rla", 2, 5, 5, Pattern::kNoise},
        {".rla", 4, 3, 3, Pattern::kFlat},    {".rgb", 3, 9, 3, Pattern::kMixed},
        {".rgb", 2, 6, 1, Pattern::kNoise},   {".pic", 3, 9, 3, Pattern::kMixed},
        {".pic", 3, 7, 4, Pattern::kStripes},
    };
    std::mt19937 rng(2024);
    for (const Sample& s : samples) {
        TempFile good(s.ext), bad(std::string("_bad") + s.ext);
        write_image(good.path, 0, s.lines, s.cols, s.channels, s.pattern, 11);
        const Bytes bytes = read_bytes(good.path);
        ASSERT_GT(bytes.size(), 0u);
        int opened = 0;
        captured([&] {
            // Truncation is a read failure, never corrupt run-length data: even
            // the open that ends the process on such data must just fail.
            for (std::size_t length = 0; length < bytes.size(); ++length) {
                write_bytes(bad.path, Bytes(bytes.begin(), bytes.begin() + length));
                kivImage* image = kivOpenImage(bad.c_str(), 0);
                EXPECT_EQ(nullptr, image) << s.ext << " length " << length;
                if (image) kivCloseImage(image);
            }
            for (int i = 0; i < 400; ++i) {
                Bytes damaged = bytes;
                for (int f = 0, flips = 1 + int(rng() % 3); f < flips; ++f) {
                    // Half of the flips hit the header, where sizes live.
                    const std::size_t limit =
                        rng() % 2 ? std::min<std::size_t>(damaged.size(), 120) : damaged.size();
                    damaged[rng() % limit] ^= uint8_t(1 + rng() % 255);
                }
                write_bytes(bad.path, damaged);
                kivImage* image = kivOpenImageChecked(bad.c_str(), 0);
                if (!image) continue;
                ++opened;
                EXPECT_EQ(kivImageMagic, image->magic);
                EXPECT_TRUE(image->cols >= 1 && image->lines >= 1 && image->rows);
                // Touch every byte of every row: the sanitizer checks the sizes.
                unsigned sum = 0;
                for (const Bytes& row : copy_rows(image))
                    for (uint8_t b : row) sum += b;
                (void)sum;
                kivCloseImage(image);
            }
        });
        EXPECT_FALSE(read_rows(good.path).empty()) << good.path;
        EXPECT_GT(opened, 0) << s.ext << ": flips in pixel data leave files readable";
    }
}

TEST(CorruptImages, BrokenFilesFromTheDataFolderFail) {
    int tried = 0;
    for (const auto& entry : std::filesystem::directory_iterator(
             std::filesystem::path(KORVO_TEST_DATA) / "imagefile")) {
        const std::string path = entry.path().string();
        if (kivFormatFromExtension(path.c_str()) == 0) continue;
        ++tried;
        kivImage* image = nullptr;
        captured([&] { image = kivOpenImageChecked(path.c_str(), 0); });
        EXPECT_EQ(nullptr, image) << path;
        if (image) kivCloseImage(image);
    }
    EXPECT_GE(tried, 10);
}
