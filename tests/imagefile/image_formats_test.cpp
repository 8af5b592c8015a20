#include "imagefile/image_formats.h"

#include "imagefile/korvo_image.h"
#include "image_support.h"

#include <random>
#include <set>
#include <string>

using namespace image_test;

// Every row writes a picture that is found again from its first bytes and
// its name, and reads back through the texture reader pixel for pixel.
// 70 x 3 pixels of runs and noise: IFF needs two tiles, the run-length
// coders see both kinds of packet.
TEST(ImageFormats, EveryRowRoundTripsAndIsFoundByItsMagicAndName) {
    const int width = 70, height = 3;
    std::mt19937 rng(15);
    Bytes rgba(std::size_t(width) * height * 4);
    for (std::size_t i = 0; i < rgba.size(); ++i)
        rgba[i] = i % 280 < 120 ? uint8_t(i % 4 * 60 + 3) : uint8_t(rng());

    std::set<std::string> extensions;
    int rows = 0;
    for (const ImageFormat* f = image_formats_begin(); f != image_formats_end(); ++f, ++rows) {
        SCOPED_TRACE(f->name);
        EXPECT_TRUE(extensions.insert(f->extension).second) << "extension used twice";
        TempFile file(f->extension);
        ASSERT_TRUE(f->writeRgba(file.c_str(), width, height, rgba.data()));

        const Bytes bytes = read_bytes(file.path);
        EXPECT_EQ(f, image_format_of_bytes(bytes.data(), bytes.size()));
        EXPECT_EQ(f->picture, korvo_host::picture_format_of(bytes.data(), bytes.size()));
        EXPECT_EQ(f, image_format_of_path(file.c_str()));
        EXPECT_EQ(f->frontEnd, kivFormatFromExtension(file.c_str()));
        if (f->frontEnd) {
            EXPECT_EQ(f, image_format_of_type(f->frontEnd));
        }

        KorvoImage image;
        ASSERT_FALSE(image.readFromFile(file.c_str()).error());
        unsigned w = 0, h = 0;
        image.getSize(w, h);
        EXPECT_EQ(unsigned(width), w);
        EXPECT_EQ(unsigned(height), h);
        ASSERT_NE(nullptr, image.pixels());
        EXPECT_EQ(rgba, Bytes(image.pixels(), image.pixels() + rgba.size()));
    }
    EXPECT_EQ(5, rows);
    EXPECT_EQ(nullptr, image_format_of_type(0));
    EXPECT_EQ(nullptr, image_format_of_path("picture.tif"));
    EXPECT_EQ(nullptr, image_format_of_path(nullptr));
}

// The largest pictures the front end's headers can describe: RLA keeps
// sizes in signed 16-bit fields (and a depth row's byte count in 16 bits),
// PIC and SGI in unsigned ones. The largest size is created and written,
// one more is refused with a message, and so is one channel too many.
TEST(ImageFormats, FrontEndLimitsAreTheHeaderFieldLimits) {
    struct Limit {
        const char* ext;
        int channels, maxChannels, maxLines, maxCols;
    };
    const Limit limits[] = {{".rla", 4, 5, 32767, 32767},
                            {".rla", 5, 5, 32767, 16383},
                            {".pic", 3, 4, 65535, 65535},
                            {".rgb", 1, 4, 65535, 65535}};
    for (const Limit& l : limits) {
        SCOPED_TRACE(std::string(l.ext) + " " + std::to_string(l.channels));
        TempFile file(l.ext);
        const auto create = [&](int lines, int cols, int channels) {
            kivImage* image = nullptr;
            const std::string printed = captured(
                [&] { image = kivCreateImage(file.c_str(), 0, lines, cols, 8, 1.0f, channels); });
            const bool made = image != nullptr;
            if (made) {
                EXPECT_EQ(1, kivCloseImage(image));
            } else {
                EXPECT_EQ(0u, printed.rfind("Sorry. ", 0)) << printed;
            }
            return made;
        };
        EXPECT_TRUE(create(l.maxLines, 1, l.channels));
        EXPECT_FALSE(create(l.maxLines + 1, 1, l.channels));
        EXPECT_TRUE(create(1, l.maxCols, l.channels));
        EXPECT_FALSE(create(1, l.maxCols + 1, l.channels));
        EXPECT_TRUE(create(1, 1, l.maxChannels));
        EXPECT_FALSE(create(1, 1, l.maxChannels + 1));
    }
}
