// Damaged files of every format: a few fixed truncations of a good file and
// the hand-made broken files of tests/data/imagefile. Every one must give a
// clean failure, never a crash or an out-of-bounds access. Random byte flips
// and truncation at every length are the fuzz targets' work (fuzz/).
#include "imagefile/image_file.h"

#include "image_support.h"

#include <filesystem>

using namespace image_test;

TEST(CorruptImages, FixedTruncationsFailCleanly) {
    struct Sample {
        const char* ext;
        int lines, cols, channels;
        Pattern pattern;
    };
    const Sample samples[] = {
        {".rla", 3, 9, 4, Pattern::kMixed},
        {".rla", 2, 5, 5, Pattern::kNoise},
        {".rgb", 3, 9, 3, Pattern::kMixed},
        {".pic", 3, 7, 4, Pattern::kStripes},
    };
    for (const Sample& s : samples) {
        TempFile good(s.ext), bad(std::string("_bad") + s.ext);
        write_image(good.path, 0, s.lines, s.cols, s.channels, s.pattern, 11);
        const Bytes bytes = read_bytes(good.path);
        ASSERT_GT(bytes.size(), 16u);
        // Empty, inside the header, just past it, half way, one byte short.
        const std::size_t lengths[] = {0, 3, 100, bytes.size() / 2, bytes.size() - 1};
        for (std::size_t length : lengths) {
            if (length >= bytes.size()) continue;
            write_bytes(bad.path, Bytes(bytes.begin(), bytes.begin() + length));
            kivImage* image = nullptr;
            captured([&] { image = kivOpenImageChecked(bad.c_str(), 0); });
            EXPECT_EQ(nullptr, image) << s.ext << " length " << length;
            if (image) kivCloseImage(image);
        }
        EXPECT_FALSE(read_rows(good.path).empty()) << good.path;
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
