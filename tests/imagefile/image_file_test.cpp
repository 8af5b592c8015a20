#include "imagefile/image_file.h"

#include "image_support.h"

using namespace image_test;

namespace {

// What an RLA reader gives back for rows written with this many channels:
// a 3-channel file carries an opaque matte, and depth comes back as the
// file's big-endian bytes.
Rows rla_as_read(Rows rows, int channels, int cols) {
    for (Bytes& row : rows) {
        if (channels == 3) row.resize(4 * std::size_t(cols), 255);
        if (channels != 5) continue;
        for (std::size_t at = 4 * std::size_t(cols); at + 4 <= row.size(); at += 4) {
            std::swap(row[at], row[at + 3]);
            std::swap(row[at + 1], row[at + 2]);
        }
    }
    return rows;
}

}  // namespace

// Every format, every channel count it stores, rows of 1 to 1000 pixels and every
// kind of picture read back byte for byte (depth included).
TEST(ImageFrontEnd, RoundTripsEveryFormatChannelCountAndPattern) {
    struct Case {
        const char* ext;
        int format;
        std::vector<int> channels;
    };
    const Case cases[] = {{".rla", kivFormatRla, {3, 4, 5}},
                          {".pic", kivFormatPic, {3, 4}},
                          {".rgb", kivFormatRgb, {1, 2, 3, 4}}};
    unsigned seed = 0;
    for (const Case& c : cases) {
        for (int channels : c.channels) {
            for (int cols : {1, 2, 126, 127, 128, 129, 200, 301, 1000}) {
                for (Pattern p :
                     {Pattern::kNoise, Pattern::kFlat, Pattern::kStripes, Pattern::kMixed}) {
                    TempFile file(c.ext);
                    const int lines = 1 + int(seed % 4);
                    Rows expected = write_image(file.path, 0, lines, cols, channels, p, ++seed);
                    int expectedChannels = channels;
                    if (c.format == kivFormatRla) {
                        expected = rla_as_read(expected, channels, cols);
                        expectedChannels = std::max(channels, 4);
                    }
                    int format = 0, readChannels = 0;
                    EXPECT_EQ(expected, read_rows(file.path, 0, &format, &readChannels))
                        << c.ext << " " << channels << " " << cols << " " << seed;
                    EXPECT_EQ(c.format, format);
                    EXPECT_EQ(expectedChannels, readChannels);
                }
            }
        }
    }
}

TEST(ImageFrontEnd, ExtensionRuleIsExactAndCaseSensitive) {
    EXPECT_EQ(kivFormatRla, kivFormatFromExtension("a.rla"));
    EXPECT_EQ(kivFormatPic, kivFormatFromExtension("dir.x/a.pic"));
    EXPECT_EQ(kivFormatRgb, kivFormatFromExtension(".rgb"));
    for (const char* bad : {"a.RLA", "a.Pic", "a.rlax", "a.rl", "rla", "", "a.sgi", "a.rgba"})
        EXPECT_EQ(0, kivFormatFromExtension(bad)) << bad;
    EXPECT_EQ(0, kivFormatFromExtension(nullptr));
    EXPECT_EQ(nullptr, kivCreateImage("picture.RLA", 0, 2, 2, 8, 1.0f, 4));
    EXPECT_EQ(nullptr, kivCreateImage("picture", 0, 2, 2, 8, 1.0f, 4));
    EXPECT_EQ(nullptr, kivCreateImage("picture.rla", 4, 2, 2, 8, 1.0f, 4));
    EXPECT_EQ(nullptr, kivCreateImage(nullptr, 1, 2, 2, 8, 1.0f, 4));
    // A given type overrides the name.
    TempFile file(".RLA");
    const Rows written = write_image(file.path, kivFormatRla, 2, 3, 4, Pattern::kNoise, 3);
    EXPECT_EQ(nullptr, kivOpenImage(file.c_str(), 0)) << "upper case is not an extension";
    EXPECT_EQ(written, read_rows(file.path, kivFormatRla));
}

TEST(ImageFrontEnd, RefusesBitsSizesAndChannelsTheFormatCannotStore) {
    struct Case {
        const char* ext;
        int lines, cols, bits, channels;
    };
    const Case cases[] = {
        {".rla", 2, 2, 1, 4},     {".rla", 2, 2, 16, 4},   {".rla", 2, 2, 32, 4},
        {".rla", 0, 2, 8, 4},     {".rla", 2, -1, 8, 4},   {".rla", 40000, 2, 8, 4},
        {".rla", 2, 20000, 8, 5}, {".rla", 2, 2, 8, 2},    {".rla", 2, 2, 8, 6},
        {".pic", 2, 2, 8, 2},     {".rgb", 2, 2, 8, 5},    {".rgb", 2, 2, 8, 0},
        {".rgb", 2, 70000, 8, 1}, {".pic", 70000, 2, 8, 3}};
    for (const Case& c : cases) {
        kivImage* image = nullptr;
        const std::string out = captured([&] {
            image = kivCreateImage(temp_path(c.ext).c_str(), 0, c.lines, c.cols, c.bits, 1.0f,
                                   c.channels);
        });
        EXPECT_EQ(nullptr, image) << c.ext << " " << c.lines << " " << c.cols << " " << c.channels;
        if (c.bits != 8)
            EXPECT_EQ("Sorry. Only 8 bit images are currently supported.\n", out);
        else
            EXPECT_EQ(0u, out.rfind("Sorry. ", 0)) << out;
    }
}

TEST(ImageFrontEnd, CreatedImageIsZeroedScanlinesCopyChannelByChannel) {
    TempFile file(".rla");
    kivImage* image = kivCreateImage(file.c_str(), 0, 2, 3, 8, 1.0f, 5);
    ASSERT_NE(nullptr, image);
    EXPECT_EQ((std::vector<int>{kivImageMagic, 1, kivFormatRla, 5}),
              (std::vector<int>{image->magic, image->writing, image->format, image->channels}));
    EXPECT_EQ(Rows(2, Bytes(24, 0)), copy_rows(image));
    unsigned char planes[4][3], back[4][3] = {};
    float depth[3] = {1.5f, 2.5f, 3.5f}, backDepth[3] = {};
    void* chans[5] = {planes[0], planes[1], planes[2], planes[3], depth};
    void* backChans[5] = {back[0], back[1], back[2], back[3], backDepth};
    for (int c = 0; c < 4; ++c)
        for (int x = 0; x < 3; ++x) planes[c][x] = uint8_t(10 * c + x);
    EXPECT_EQ(1, kivWriteScanline(image, 1, chans));
    float stored;  // channel planes, then the depth floats
    std::memcpy(&stored, image->rows[1] + 12 + 4, 4);
    EXPECT_TRUE(image->rows[1][3 * 3 + 2] == 32 && stored == 2.5f);
    EXPECT_EQ(1, kivReadScanline(image, 1, backChans));
    EXPECT_TRUE(!std::memcmp(back, planes, sizeof planes) && !std::memcmp(backDepth, depth, 12));
    // Out of range scanlines and unusable arguments.
    void* missing[5] = {back[0], back[1], nullptr, back[3], backDepth};
    EXPECT_EQ(0, kivReadScanline(image, 2, backChans) + kivReadScanline(image, -1, backChans) +
                     kivWriteScanline(image, 2, chans) + kivReadScanline(image, 0, nullptr) +
                     kivReadScanline(image, 0, missing) + kivReadScanline(nullptr, 0, backChans));
    // A handle whose magic is wrong is refused by every call.
    image->magic = 1;
    EXPECT_EQ(0, kivReadScanline(image, 0, backChans) + kivWriteScanline(image, 0, chans) +
                     kivCloseImage(image) + kivDumpHeader(image));
    image->magic = kivImageMagic;
    EXPECT_TRUE(read_bytes(file.path).empty()) << "written only at the close";
    EXPECT_EQ(1, kivCloseImage(image));
    EXPECT_FALSE(read_bytes(file.path).empty());
    EXPECT_EQ(0, kivCloseImage(nullptr));
}

TEST(ImageFrontEnd, FailedWriteIsReportedAndTheHandleFreed) {
    const std::string path = temp_path("_no_such_dir/x.rla");
    kivImage* image = kivCreateImage(path.c_str(), 0, 1, 1, 8, 1.0f, 4);
    ASSERT_NE(nullptr, image);
    int result = 0;
    EXPECT_EQ("***** IMGLIB FATAL ERROR: Unable to write file successfully: " + path + "\n",
              captured([&] { result = kivCloseImage(image); }));
    EXPECT_EQ(1, result);
    image = kivCreateImage("", kivFormatRgb, 1, 1, 8, 1.0f, 3);
    ASSERT_NE(nullptr, image);
    EXPECT_EQ("***** IMGLIB FATAL ERROR: Unable to write file successfully: \n",
              captured([&] { kivCloseImage(image); }));
}

TEST(ImageFrontEnd, OpenFailsForMissingAndForeignFiles) {
    EXPECT_EQ(nullptr, kivOpenImage(temp_path("_missing.rla").c_str(), 0));
    EXPECT_EQ(nullptr, kivOpenImage(nullptr, 1));
    EXPECT_EQ(nullptr, kivOpenImage(testing::TempDir().c_str(), 1)) << "a directory";
    EXPECT_EQ(nullptr, kivOpenImage(std::string(2000, 'a').c_str(), 1));
    TempFile file(".pic");
    write_bytes(file.path, Bytes(300, 0x41));
    const std::string out = captured([&] {
        for (int type : {1, 2, 3}) EXPECT_EQ(nullptr, kivOpenImage(file.c_str(), type)) << type;
    });
    EXPECT_NE(std::string::npos, out.find("Unable to read PIC file")) << out;
}

TEST(ImageFrontEnd, RlaHeaderDump) {
    TempFile rla(".rla");
    write_image(rla.path, 0, 2, 3, 4, Pattern::kFlat, 1);
    kivImage* image = kivOpenImageChecked(rla.c_str(), 0);
    ASSERT_NE(nullptr, image);
    EXPECT_EQ("RLA HEADER:\n\n  Name: " + rla.path +
                  "\n  Width: (2-0+1) -> 3\n  Height: (1-0+1) -> 2\n"
                  "  Active Width: (2-0+1) -> 3\n  Active Height: (1-0+1) -> 2\n"
                  "  ColorChannelType: 0\n  NumOfColorChannels: 3\n"
                  "  NumOfMatteChannels: 1\n  NumOfAuxChannels: 0\n"
                  "  NumOfChannelBits: 8\n  \n  Scanline Offset Table:\n    748\n    764\n  \n",
              captured([&] { EXPECT_EQ(1, kivDumpHeader(image)); }));
    kivCloseImage(image);
}
