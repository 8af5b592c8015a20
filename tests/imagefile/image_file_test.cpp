#include "imagefile/image_file.h"

#include "image_support.h"

#include <sys/stat.h>

using namespace image_test;

namespace {

bool exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

}  // namespace

TEST(ImageFrontEnd, ExtensionRuleIsExactAndCaseSensitive) {
    EXPECT_EQ(kivFormatFromExtension("a.rla"), kivFormatRla);
    EXPECT_EQ(kivFormatFromExtension("dir.x/a.pic"), kivFormatPic);
    EXPECT_EQ(kivFormatFromExtension(".rgb"), kivFormatRgb);
    for (const char* bad : {"a.RLA", "a.Pic", "a.rlax", "a.rl", "rla", "", "a.sgi", "a.rgba"})
        EXPECT_EQ(kivFormatFromExtension(bad), 0) << bad;
    EXPECT_EQ(kivFormatFromExtension(nullptr), 0);

    EXPECT_EQ(kivCreateImage("picture.RLA", 0, 2, 2, 8, 1.0f, 4), nullptr);
    EXPECT_EQ(kivCreateImage("picture", 0, 2, 2, 8, 1.0f, 4), nullptr);
    EXPECT_EQ(kivCreateImage("picture.rla", 4, 2, 2, 8, 1.0f, 4), nullptr);
    EXPECT_EQ(kivCreateImage(nullptr, 1, 2, 2, 8, 1.0f, 4), nullptr);
}

TEST(ImageFrontEnd, GivenTypeOverridesTheName) {
    const std::string path = temp_path(".RLA");
    auto written = write_image(path, kivFormatRla, 2, 3, 4, Pattern::kNoise, 3);
    EXPECT_EQ(kivOpenImage(path.c_str(), 0), nullptr) << "upper case is not an extension";
    kivImage* image = kivOpenImage(path.c_str(), kivFormatRla);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(copy_rows(image), written);
    kivCloseImage(image);
    std::remove(path.c_str());
}

TEST(ImageFrontEnd, OnlyEightBitsAreSupported) {
    for (int bits : {1, 16, 32}) {
        kivImage* image = nullptr;
        const std::string out = captured(
            [&] { image = kivCreateImage(temp_path(".rla").c_str(), 0, 2, 2, bits, 1.0f, 4); });
        EXPECT_EQ(image, nullptr);
        EXPECT_EQ(out, "Sorry. Only 8 bit images are currently supported.\n");
    }
}

TEST(ImageFrontEnd, RefusesSizesAndChannelsTheFormatCannotStore) {
    struct Case {
        const char* ext;
        int lines, cols, channels;
    };
    const Case cases[] = {{".rla", 0, 2, 4},     {".rla", 2, -1, 4},   {".rla", 40000, 2, 4},
                          {".rla", 2, 20000, 5}, {".rla", 2, 2, 2},    {".rla", 2, 2, 6},
                          {".pic", 2, 2, 2},     {".rgb", 2, 2, 5},    {".rgb", 2, 2, 0},
                          {".rgb", 2, 70000, 1}, {".pic", 70000, 2, 3}};
    for (const Case& c : cases) {
        kivImage* image = nullptr;
        const std::string out = captured([&] {
            image =
                kivCreateImage(temp_path(c.ext).c_str(), 0, c.lines, c.cols, 8, 1.0f, c.channels);
        });
        EXPECT_EQ(image, nullptr) << c.ext << " " << c.lines << " " << c.cols << " " << c.channels;
        EXPECT_EQ(out.rfind("Sorry. ", 0), 0u) << out;
    }
}

TEST(ImageFrontEnd, CreatedImageIsZeroedAndWrittenOnlyAtClose) {
    const std::string path = temp_path(".rla");
    std::remove(path.c_str());
    kivImage* image = kivCreateImage(path.c_str(), 0, 3, 4, 8, 1.0f, 5);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->magic, kivImageMagic);
    EXPECT_EQ(image->writing, 1);
    EXPECT_EQ(image->format, kivFormatRla);
    EXPECT_EQ(image->channels, 5);
    EXPECT_STREQ(image->path, path.c_str());
    for (const auto& row : copy_rows(image)) {
        EXPECT_EQ(row.size(), 32u);
        for (uint8_t b : row) EXPECT_EQ(b, 0);
    }
    EXPECT_FALSE(exists(path));
    EXPECT_EQ(kivCloseImage(image), 1);
    EXPECT_TRUE(exists(path));
    std::remove(path.c_str());
}

TEST(ImageFrontEnd, ScanlineCopiesChannelByChannel) {
    kivImage* image = kivCreateImage(temp_path(".rla").c_str(), 0, 2, 3, 8, 1.0f, 5);
    ASSERT_NE(image, nullptr);
    unsigned char planes[4][3];
    float depth[3] = {1.5f, 2.5f, 3.5f};
    void* chans[5] = {planes[0], planes[1], planes[2], planes[3], depth};
    for (int c = 0; c < 4; ++c)
        for (int x = 0; x < 3; ++x) planes[c][x] = uint8_t(10 * c + x);
    EXPECT_EQ(kivWriteScanline(image, 1, chans), 1);
    EXPECT_EQ(image->rows[1][0], 0);
    EXPECT_EQ(image->rows[1][3 * 3 + 2], 32);
    float stored;
    std::memcpy(&stored, image->rows[1] + 12 + 4, 4);
    EXPECT_EQ(stored, 2.5f);

    unsigned char back[4][3] = {};
    float backDepth[3] = {};
    void* backChans[5] = {back[0], back[1], back[2], back[3], backDepth};
    EXPECT_EQ(kivReadScanline(image, 1, backChans), 1);
    EXPECT_EQ(std::memcmp(back, planes, sizeof planes), 0);
    EXPECT_EQ(std::memcmp(backDepth, depth, sizeof depth), 0);

    // Out of range scanlines and unusable arguments.
    EXPECT_EQ(kivReadScanline(image, 2, backChans), 0);
    EXPECT_EQ(kivReadScanline(image, -1, backChans), 0);
    EXPECT_EQ(kivWriteScanline(image, 2, chans), 0);
    EXPECT_EQ(kivReadScanline(image, 0, nullptr), 0);
    void* missing[5] = {back[0], back[1], nullptr, back[3], backDepth};
    EXPECT_EQ(kivReadScanline(image, 0, missing), 0);
    EXPECT_EQ(kivReadScanline(nullptr, 0, backChans), 0);

    // A handle whose magic is wrong is refused by every call.
    const int32_t magic = image->magic;
    image->magic = 1;
    EXPECT_EQ(kivReadScanline(image, 0, backChans), 0);
    EXPECT_EQ(kivWriteScanline(image, 0, chans), 0);
    EXPECT_EQ(kivCloseImage(image), 0);
    EXPECT_EQ(kivDumpHeader(image), 0);
    image->magic = magic;
    const std::string path = image->path;
    EXPECT_EQ(kivCloseImage(image), 1);
    std::remove(path.c_str());
    EXPECT_EQ(kivCloseImage(nullptr), 0);
}

TEST(ImageFrontEnd, FailedWriteIsReportedAndTheHandleFreed) {
    const std::string path = temp_path("_no_such_dir/x.rla");
    kivImage* image = kivCreateImage(path.c_str(), 0, 1, 1, 8, 1.0f, 4);
    ASSERT_NE(image, nullptr);
    int result = 0;
    std::string out = captured([&] { result = kivCloseImage(image); });
    EXPECT_EQ(result, 1);
    EXPECT_EQ(out, "***** IMGLIB FATAL ERROR: Unable to write file successfully: " + path + "\n");

    image = kivCreateImage("", kivFormatRgb, 1, 1, 8, 1.0f, 3);
    ASSERT_NE(image, nullptr);
    out = captured([&] { kivCloseImage(image); });
    EXPECT_EQ(out, "***** IMGLIB FATAL ERROR: Unable to write file successfully: \n");
}

TEST(ImageFrontEnd, OpenFailsForMissingAndForeignFiles) {
    EXPECT_EQ(kivOpenImage(temp_path("_missing.rla").c_str(), 0), nullptr);
    EXPECT_EQ(kivOpenImage(nullptr, 1), nullptr);
    EXPECT_EQ(kivOpenImage(testing::TempDir().c_str(), 1), nullptr) << "a directory";
    const std::string path = temp_path(".pic");
    write_bytes(path, std::vector<uint8_t>(300, 0x41));
    std::string out = captured([&] {
        for (int type : {1, 2, 3}) EXPECT_EQ(kivOpenImage(path.c_str(), type), nullptr) << type;
    });
    EXPECT_NE(out.find("Unable to read PIC file"), std::string::npos) << out;
    std::remove(path.c_str());
    EXPECT_EQ(kivOpenImage(std::string(2000, 'a').c_str(), 1), nullptr);
}

TEST(ImageFrontEnd, RlaHeaderDump) {
    const std::string path = temp_path(".rla");
    write_image(path, 0, 2, 3, 4, Pattern::kFlat, 1);
    kivImage* image = kivOpenImage(path.c_str(), 0);
    ASSERT_NE(image, nullptr);
    const std::string out = captured([&] { EXPECT_EQ(kivDumpHeader(image), 1); });
    EXPECT_EQ(out, "RLA HEADER:\n\n  Name: " + path +
                       "\n"
                       "  Width: (2-0+1) -> 3\n  Height: (1-0+1) -> 2\n"
                       "  Active Width: (2-0+1) -> 3\n  Active Height: (1-0+1) -> 2\n"
                       "  ColorChannelType: 0\n  NumOfColorChannels: 3\n"
                       "  NumOfMatteChannels: 1\n  NumOfAuxChannels: 0\n"
                       "  NumOfChannelBits: 8\n  \n  Scanline Offset Table:\n"
                       "    748\n    764\n  \n");
    kivCloseImage(image);
    std::remove(path.c_str());
}

TEST(ImageFrontEnd, PicHeaderDumpOfCreatedImage) {
    kivImage* image = kivCreateImage(temp_path(".pic").c_str(), 0, 2, 3, 8, 1.0f, 3);
    ASSERT_NE(image, nullptr);
    const std::string out = captured([&] { kivDumpHeader(image); });
    EXPECT_EQ(out,
              "PIC HEADER:\n\n  Version: 0.000000\n  Comment: No comment.\n  Width:   3\n"
              "  Height:  2\n\n  Channels:\n    #0\n    chained: 0\n    type: rle\n"
              "    channel: RED GREEN BLUE\n");
    const std::string path = image->path;
    kivCloseImage(image);
    std::remove(path.c_str());
}
