// Damaged files of every format: truncated at every length, bytes flipped
// at random, and the hand-made broken files of tests/data/imagefile. Every
// one must give a clean failure (or, for a flip that leaves the file
// readable, a consistent image): never a crash or an out-of-bounds access.
#include "imagefile/image_file.h"

#include "image_support.h"

#include <filesystem>

using namespace image_test;

namespace {

struct Sample {
    const char* ext;
    int lines, cols, channels;
    Pattern pattern;
};

const Sample kSamples[] = {
    {".rla", 3, 9, 4, Pattern::kMixed},   {".rla", 2, 5, 5, Pattern::kNoise},
    {".rla", 4, 3, 3, Pattern::kFlat},    {".rgb", 3, 9, 3, Pattern::kMixed},
    {".rgb", 2, 6, 1, Pattern::kNoise},   {".pic", 3, 9, 3, Pattern::kMixed},
    {".pic", 3, 7, 4, Pattern::kStripes},
};

void expect_consistent(kivImage* image) {
    ASSERT_EQ(image->magic, kivImageMagic);
    ASSERT_GE(image->cols, 1);
    ASSERT_GE(image->lines, 1);
    ASSERT_NE(image->rows, nullptr);
    // Touch every byte of every row: the sanitizer checks the sizes.
    unsigned sum = 0;
    for (const auto& row : copy_rows(image))
        for (uint8_t b : row) sum += b;
    (void)sum;
}

}  // namespace

TEST(CorruptImages, EveryTruncationFailsCleanly) {
    int n = 0;
    for (const Sample& s : kSamples) {
        const std::string good = temp_path(std::to_string(n++) + s.ext);
        write_image(good, 0, s.lines, s.cols, s.channels, s.pattern, 11);
        const std::vector<uint8_t> bytes = read_bytes(good);
        ASSERT_GT(bytes.size(), 0u);
        const std::string cut = temp_path("_cut" + std::string(s.ext));
        const std::string out = captured([&] {
            for (std::size_t length = 0; length < bytes.size(); ++length) {
                write_bytes(cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + length));
                // Truncation is a read failure, never corrupt run-length
                // data: even the open that ends the process on such data
                // must just fail.
                kivImage* image = kivOpenImage(cut.c_str(), 0);
                EXPECT_EQ(image, nullptr) << s.ext << " length " << length;
                if (image) kivCloseImage(image);
            }
        });
        kivImage* image = kivOpenImage(good.c_str(), 0);
        ASSERT_NE(image, nullptr) << good << out.substr(0, 0);
        expect_consistent(image);
        kivCloseImage(image);
        std::remove(cut.c_str());
        std::remove(good.c_str());
    }
}

TEST(CorruptImages, RandomByteFlipsFailCleanlyOrReadConsistently) {
    std::mt19937 rng(2024);
    int n = 0;
    for (const Sample& s : kSamples) {
        const std::string good = temp_path(std::to_string(n++) + s.ext);
        write_image(good, 0, s.lines, s.cols, s.channels, s.pattern, 5);
        const std::vector<uint8_t> bytes = read_bytes(good);
        const std::string bad = temp_path("_bad" + std::string(s.ext));
        int opened = 0;
        captured([&] {
            for (int i = 0; i < 400; ++i) {
                std::vector<uint8_t> damaged = bytes;
                const int flips = 1 + int(rng() % 3);
                for (int f = 0; f < flips; ++f) {
                    // Half of the flips hit the header, where sizes live.
                    const std::size_t limit =
                        rng() % 2 ? std::min<std::size_t>(damaged.size(), 120) : damaged.size();
                    damaged[rng() % limit] ^= uint8_t(1 + rng() % 255);
                }
                write_bytes(bad, damaged);
                kivImage* image = kivOpenImageChecked(bad.c_str(), 0);
                if (image) {
                    ++opened;
                    expect_consistent(image);
                    kivCloseImage(image);
                }
            }
        });
        EXPECT_GT(opened, 0) << s.ext << ": flips in pixel data leave files readable";
        std::remove(bad.c_str());
        std::remove(good.c_str());
    }
}

TEST(CorruptImages, BrokenFilesFromTheDataFolderFail) {
    const std::filesystem::path folder = std::filesystem::path(KORVO_TEST_DATA) / "imagefile";
    int tried = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string path = entry.path().string();
        const int format = kivFormatFromExtension(path.c_str());
        if (format == 0) continue;
        ++tried;
        kivImage* image = nullptr;
        captured([&] { image = kivOpenImageChecked(path.c_str(), 0); });
        EXPECT_EQ(image, nullptr) << path;
        if (image) kivCloseImage(image);
    }
    EXPECT_GE(tried, 10);
}
