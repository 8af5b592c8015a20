// The image front end's rules (names, sizes, channels, handles), the RLA
// object the renderer writes with, and the texture reader's choices.
#include "foundation/fur_exception.h"
#include "image_support.h"
#include "imagefile/image_formats.h"
#include "imagefile/korvo_image.h"
#include "imagefile/png_file.h"

#include <tuple>

using namespace image_test;

TEST(ImageFrontEnd, ExtensionRuleIsExactAndCaseSensitive) {
    EXPECT_EQ(kivFormatRla * 100 + kivFormatPic * 10 + kivFormatRgb,
              kivFormatFromExtension("a.rla") * 100 + kivFormatFromExtension("d.x/a.pic") * 10 +
                  kivFormatFromExtension(".rgb"));
    for (const char* name : {"a.RLA", "a.Pic", "a.rlax", "a.rl", "rla", "", "a.sgi"})
        EXPECT_EQ(0, kivFormatFromExtension(name)) << name;
    EXPECT_EQ(0, kivFormatFromExtension(nullptr));
    for (const char* name : {"picture.RLA", "picture", static_cast<const char*>(nullptr)})
        EXPECT_EQ(nullptr, kivCreateImage(name, 0, 2, 2, 8, 1.0f, 4));
    EXPECT_EQ(nullptr, kivCreateImage("picture.rla", 4, 2, 2, 8, 1.0f, 4));
    // A given type overrides the name, for writing and for reading.
    TempFile file(".RLA");
    const Picture p{1, 1, 4, {1, 2, 3, 4}};
    ASSERT_TRUE(write_front_end(file.path, kivFormatRla, p));
    EXPECT_EQ(nullptr, kivOpenImage(file.c_str(), 0)) << "upper case is not an extension";
    EXPECT_EQ(p, read_front_end(file.path, kivFormatRla));
}

// Each format's largest size and channel count is created and written; one
// more is refused with a "Sorry." message, and so are bits other than 8.
TEST(ImageFrontEnd, SizesAndChannelsAreTheHeaderFieldLimits) {
    // Extension, channels, fewest and most channels, most lines and columns.
    const std::tuple<const char*, int, int, int, int, int> limits[] = {
        {".rla", 4, 3, 5, 32767, 32767},
        {".rla", 5, 3, 5, 32767, 16383},
        {".pic", 3, 3, 4, 65535, 65535},
        {".rgb", 1, 1, 4, 65535, 65535}};
    for (const auto& [ext, channels, minChannels, maxChannels, maxLines, maxCols] : limits) {
        SCOPED_TRACE(std::string(ext) + " " + std::to_string(channels));
        TempFile file(ext);
        const auto create = [&](int lines, int cols, int n, int bits = 8) {
            kivImage* image = nullptr;
            const std::string printed = captured(
                [&] { image = kivCreateImage(file.c_str(), 0, lines, cols, bits, 1.0f, n); });
            if (image) return kivCloseImage(image) == 1;
            EXPECT_EQ(0u, printed.rfind("Sorry. ", 0)) << printed;
            if (bits != 8) {
                EXPECT_EQ("Sorry. Only 8 bit images are currently supported.\n", printed);
            }
            return false;
        };
        EXPECT_TRUE(create(maxLines, 1, channels) && !create(maxLines + 1, 1, channels));
        EXPECT_TRUE(create(1, maxCols, channels) && !create(1, maxCols + 1, channels));
        EXPECT_TRUE(create(1, 1, maxChannels) && create(1, 1, minChannels));
        EXPECT_FALSE(create(1, 1, maxChannels + 1) || create(1, 1, minChannels - 1));
        EXPECT_FALSE(create(0, 1, channels) || create(1, -1, channels));
        for (int bits : {1, 16, 32}) EXPECT_FALSE(create(1, 1, channels, bits));
    }
    EXPECT_EQ("Sorry. Only 4 channels or less are allowed for .pic images.\n",
              captured([] { EXPECT_EQ(nullptr, kivCreateImage("x.rla", 2, 2, 2, 8, 1.0f, 5)); }));
}

TEST(ImageFrontEnd, ScanlinesCopyChannelByChannelWithinTheImage) {
    TempFile file(".rla");
    kivImage* image = kivCreateImage(file.c_str(), 0, 2, 3, 8, 1.0f, 5);
    ASSERT_NE(nullptr, image);
    for (int y = 0; y < 2; ++y) EXPECT_EQ(Bytes(24, 0), Bytes(image->rows[y], image->rows[y] + 24));
    unsigned char planes[4][3] = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}, {10, 11, 12}}, back[4][3] = {};
    float depth[3] = {1.5f, 2.5f, 3.5f}, backDepth[3] = {};
    void* chans[5] = {planes[0], planes[1], planes[2], planes[3], depth};
    void* backChans[5] = {back[0], back[1], back[2], back[3], backDepth};
    EXPECT_EQ(1, kivWriteScanline(image, 1, chans));
    float stored;  // the channel planes, then the depth floats
    std::memcpy(&stored, image->rows[1] + 12 + 4, 4);
    EXPECT_TRUE(image->rows[1][2 * 3 + 1] == 8 && stored == 2.5f);
    EXPECT_EQ(Bytes(24, 0), Bytes(image->rows[0], image->rows[0] + 24)) << "row 0 untouched";
    EXPECT_EQ(1, kivReadScanline(image, 1, backChans));
    EXPECT_TRUE(!std::memcmp(back, planes, sizeof planes) && !std::memcmp(backDepth, depth, 12));
    void* missing[5] = {back[0], back[1], nullptr, back[3], backDepth};
    EXPECT_EQ(0, kivReadScanline(image, 2, backChans) + kivReadScanline(image, -1, backChans) +
                     kivWriteScanline(image, 2, chans) + kivWriteScanline(image, -1, chans) +
                     kivReadScanline(image, 0, nullptr) + kivReadScanline(image, 0, missing) +
                     kivReadScanline(nullptr, 0, backChans) + kivCloseImage(nullptr));
    image->magic = 1;  // a handle whose magic is wrong is refused by every call
    EXPECT_EQ(0, kivReadScanline(image, 0, backChans) + kivWriteScanline(image, 0, chans) +
                     kivCloseImage(image) + kivDumpHeader(image));
    image->magic = kivImageMagic;
    EXPECT_TRUE(read_bytes(file.path).empty()) << "written only at the close";
    EXPECT_EQ(1, kivCloseImage(image));
    EXPECT_FALSE(read_bytes(file.path).empty());
}

// Writes and opens that fail; PNG writes with unusable arguments too.
TEST(ImageFrontEnd, FailedWritesAndOpensAreReported) {
    const std::string path = temp_path("_no_such_dir/x.rla");
    for (const auto& [name, type] : {std::pair<std::string, int>{path, 0}, {"", kivFormatRgb}}) {
        kivImage* image = kivCreateImage(name.c_str(), type, 1, 1, 8, 1.0f, 4);
        ASSERT_NE(nullptr, image);
        int result = 0;
        EXPECT_EQ("***** IMGLIB FATAL ERROR: Unable to write file successfully: " + name + "\n",
                  captured([&] { result = kivCloseImage(image); }));
        EXPECT_EQ(1, result) << "the handle is freed whatever the write gave";
    }
    // Missing, no name, a directory, a name too long for the handle.
    for (const std::string& name :
         {temp_path("_missing.rla"), testing::TempDir(), std::string(2000, 'a')})
        EXPECT_EQ(nullptr, kivOpenImage(name.c_str(), 1)) << name;
    EXPECT_EQ(nullptr, kivOpenImage(nullptr, 1));
    TempFile file(".pic");
    write_bytes(file.path, Bytes(300, 0x41));
    const std::string out = captured([&] {
        for (int type : {1, 2, 3}) EXPECT_EQ(nullptr, kivOpenImage(file.c_str(), type)) << type;
    });
    EXPECT_NE(std::string::npos, out.find("Unable to read PIC file")) << out;
    const unsigned char pixel[4] = {1, 2, 3, 4};
    EXPECT_FALSE(png_write_rgba(nullptr, 1, 1, pixel) ||
                 png_write_rgba(file.c_str(), 0, 1, pixel) ||
                 png_write_rgba(file.c_str(), 1, 1, nullptr) ||
                 png_write_rgba(temp_path("_no_dir/x.png").c_str(), 1, 1, pixel));
}

// The renderer's RLA object: scanlines written into memory, the file at the
// end of its life; depth reads back as the file's big-endian bytes. Failures
// throw with their messages.
TEST(RxRla, WritesScanlinesReadsThemBackAndThrowsOnFailure) {
    TempFile file(".rla"), missing("_missing.rla");
    {
        rx_rla out(file.c_str(), 3, 5, 8, 2.2f, 1);
        u_char_buf scan(5);
        for (int y = 0; y < 3; ++y) {
            for (int i = 0; i < 5; ++i) scan.rgbm(i, uint8_t(10 * y + i)), scan.fz(i) = y + 0.5f;
            scan(3, 4) = 200;
            out.writescan(scan.address(), y);
        }
        EXPECT_EQ(0u, read_bytes(file.path).size()) << "nothing is written before the end";
        std::string printed;
        EXPECT_EQ("Writing image file",
                  thrown<FurEFailed>([&] { out.writescan(scan.address(), 3); }, &printed));
        EXPECT_EQ("scanline write error at scan 3\n", printed);
    }
    rx_rla in(file.c_str());
    EXPECT_EQ((std::vector<int>{5, 3, 1, 1, 8, 5}),
              (std::vector<int>{in.Cols(), in.Lines(), in.has_depth(), in.mattes(), in.bits(),
                                in.number_of_scans()}));
    EXPECT_FLOAT_EQ(2.2f, in.getgamma());
    const unsigned char* row = in.readscan(2);
    ASSERT_NE(nullptr, row);
    // Red, green, blue and matte of pixel 4, then its depth as big-endian bytes.
    EXPECT_EQ((Bytes{24, 24, 24, 200, 0x40, 0x20, 0, 0}),
              (Bytes{row[4], row[9], row[14], row[19], row[36], row[37], row[38], row[39]}));
    EXPECT_TRUE(!in.readscan(3) && !in.readscan(-1));
    std::string out;
    EXPECT_EQ("Creating the image",
              thrown<FurEFailed>([&] { rx_rla bad(file.c_str(), 3, 3, 16, 1.0f, 0); }, &out));
    EXPECT_EQ("Sorry. Only 8 bit images are currently supported.\nFATAL: Create image.\n", out);
    EXPECT_EQ("Error opening image " + missing.path,
              thrown<FurEFailed>([&] { rx_rla bad(missing.c_str()); }, &out));
    EXPECT_EQ("FATAL: Open image: " + missing.path, out);
}

// The texture reader goes by the first bytes, not the name, and reads only
// byte pixels.
TEST(TextureReader, FindsTheFormatFromTheFirstBytes) {
    using korvo_host::PictureFormat;
    // A signature cut by one byte is not one; RLA has none to check.
    const Bytes iff = {'F', 'O', 'R', '4', 0, 0, 0, 4, 'C', 'I', 'M', 'G'};
    const Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    for (const Bytes& b : {iff, png, Bytes{0x53, 0x80, 0xF6}, Bytes{0x01}, Bytes(800, ' ')})
        EXPECT_EQ(PictureFormat::kUnknown, korvo_host::picture_format_of(b.data(), b.size() - 1));
    EXPECT_EQ(PictureFormat::kUnknown, korvo_host::picture_format_of(nullptr, 0));
    EXPECT_EQ(nullptr, image_format_of_path("picture.tif"));
    // A file named as another format reads by its bytes; float pixels are refused.
    TempFile named(".tex");
    ASSERT_TRUE(write_front_end(named.path, kivFormatPic, Picture{1, 1, 3, {1, 2, 3}}));
    KorvoImage image;
    EXPECT_EQ(KorvoStatus::kInvalidParameter,
              image.readFromFile(named.c_str(), KorvoImage::kFloat).statusCode());
    ASSERT_FALSE(image.readFromFile(named.c_str()).error());
    EXPECT_EQ(KorvoImage::kByte, image.pixelType());
    EXPECT_EQ((Bytes{1, 2, 3, 255}), Bytes(image.pixels(), image.pixels() + 4));
    EXPECT_TRUE(image.readFromFile(temp_path("_missing.rla").c_str()).error() &&
                image.readFromFile(testing::TempDir().c_str()).error());
}
