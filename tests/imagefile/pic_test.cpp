#include "imagefile/pic.h"

#include "image_support.h"

using namespace image_test;

namespace {

// Encodes one (matte) or three (colour) channel planes.
Bytes encode(const Rows& planes) {
    const unsigned char* data[3];
    for (std::size_t c = 0; c < planes.size(); ++c) data[c] = planes[c].data();
    Bytes out;
    EXPECT_TRUE(pic_encode_packet(data, int(planes.size()), int(planes[0].size()), out));
    return out;
}

// A hand-made PIC header for cols x lines, then the rest.
Bytes pic_file(int cols, int lines, const Bytes& rest) {
    Bytes b(104, 0);
    b[0] = 0x53, b[1] = 0x80, b[2] = 0xF6, b[3] = 0x34;
    b[93] = uint8_t(cols), b[95] = uint8_t(lines);
    for (uint8_t v : rest) b.push_back(v);
    return b;
}

}  // namespace

TEST(PicEncoder, ExactCodes) {
    Bytes ramp(200);
    for (int i = 0; i < 200; ++i) ramp[i] = uint8_t(i);
    const std::pair<Bytes, Bytes> cases[] = {
        {{1, 2, 3}, {2, 1, 2, 3}},
        {{5, 5}, {129, 5}},
        {{1, 2, 2}, {0, 1, 129, 2}},
        {{2, 2, 1}, {129, 2, 0, 1}},
        {Bytes(127, 4), {254, 4}},
        {Bytes(128, 4), {128, 0, 128, 4}},  // long repeats: a 16-bit count
        {Bytes(1000, 4), {128, 3, 0xE8, 4}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].second, encode({cases[i].first})) << i;
    // Literals hold at most 128 pixels.
    const Bytes code = encode({ramp});
    ASSERT_EQ(202u, code.size());
    EXPECT_TRUE(code[0] == 127 && code[129] == 71);
    // Colour pixels (here 1 2 3 three times, then 4 5 6) are given as planes.
    EXPECT_EQ((Bytes{130, 1, 2, 3, 0, 4, 5, 6}),
              encode({{1, 1, 1, 4}, {2, 2, 2, 5}, {3, 3, 3, 6}}));
    // Pixels equal in one channel only are different pixels.
    EXPECT_EQ((Bytes{1, 1, 2, 3, 1, 2, 4}), encode({{1, 1}, {2, 2}, {3, 4}}));
}

TEST(PicFile, HeaderPacketsAndTopRowFirst) {
    TempFile file(".pic");
    kivImage* image = kivCreateImage(file.c_str(), 0, 2, 3, 8, 1.0f, 4);
    ASSERT_NE(nullptr, image);
    std::memset(image->rows[1], 9, 12);  // the top row: all 9
    ASSERT_EQ(1, kivCloseImage(image));
    const Bytes b = read_bytes(file.path);
    EXPECT_TRUE(be32(b, 0) == 0x5380F634u && be32(b, 4) == 0u);
    EXPECT_EQ("No comment.", text_at(b, 8, 80));
    EXPECT_EQ("PICT", std::string(b.begin() + 88, b.begin() + 92));
    EXPECT_EQ((std::vector<int>{3, 2, 0x3F80, 0, 0, 0}),
              (std::vector<int>{be16(b, 92), be16(b, 94), be16(b, 96), be16(b, 98), be16(b, 100),
                                be16(b, 102)}));
    EXPECT_EQ((Bytes{1,   8, 2, 0xE0, 0,   8, 2, 0x10,  // packets: chained colour, then matte
                     130, 9, 9, 9,    130, 9,           // row 1
                     130, 0, 0, 0,    130, 0}),         // row 0
              Bytes(b.begin() + 104, b.end()));
    // Three channels: one packet and no matte.
    write_image(file.path, 2, 1, 2, 3, Pattern::kFlat, 1);
    const Bytes c = read_bytes(file.path);
    EXPECT_EQ((Bytes{0, 8, 2, 0xE0, 129, 7, 47, 87}), Bytes(c.begin() + 104, c.end()));
}

TEST(PicFile, FiveChannelsAreRefused) {
    kivImage* image = nullptr;
    EXPECT_EQ("Sorry. Only 4 channels or less are allowed for .pic images.\n", captured([&] {
                  image = kivCreateImage(temp_path(".pic").c_str(), 0, 2, 2, 8, 1.0f, 5);
              }));
    EXPECT_EQ(nullptr, image);
}

TEST(PicFile, ReadsUncompressedPackets) {
    TempFile file(".pic");
    // 2 x 1 with matte, uncompressed: RGB RGB then M M.
    write_bytes(file.path, pic_file(2, 1, {1, 8, 0, 0xE0, 0, 8, 0, 0x10, 1, 2, 3, 4, 5, 6, 7, 8}));
    kivImage* image = kivOpenImageChecked(file.c_str(), 0);
    ASSERT_NE(nullptr, image);
    EXPECT_EQ((Rows{{1, 4, 2, 5, 3, 6, 7, 8}}), copy_rows(image));
    EXPECT_EQ(
        "PIC HEADER:\n\n  Version: 0.000000\n  Comment: \n  Width:   2\n  Height:  1\n"
        "\n  Channels:\n"
        "    #0\n    chained: 1\n    type: uncompressed\n    channel: RED GREEN BLUE\n"
        "    #1\n    chained: 0\n    type: uncompressed\n    channel: MATTE \n",
        captured([&] { kivDumpHeader(image); }));
    kivCloseImage(image);
}

TEST(PicFileDeathTest, CorruptRunLengthEndsTheProcess) {
    const std::pair<Bytes, const char*> cases[] = {
        // A colour repeat of 3 in a row of 2.
        {{0, 8, 2, 0xE0, 130, 1, 2, 3}, "RGB: byteindex 3 != cols 2\n"},
        // Colour fine, then a matte repeat of 3.
        {{1, 8, 2, 0xE0, 0, 8, 2, 0x10, 129, 1, 2, 3, 130, 7}, "MATTE: byteindex 3 != cols 2\n"},
    };
    for (const auto& [rest, message] : cases) {
        TempFile file(".pic");
        write_bytes(file.path, pic_file(2, 1, rest));
        expect_fatal_open(file.path, message);
    }
}

// A valid file of 160 KB whose long repeats claim 16000 x 16000 RGBA (1 GiB
// of rows) is refused before the rows are allocated; the same code for a
// picture within the allowance reads.
TEST(PicFile, PictureFarLargerThanItsFileIsRefused) {
    auto flat = [](int cols, int lines) {
        Bytes rest = {1, 8, 2, 0xE0, 0, 8, 2, 0x10};
        const uint8_t hi = uint8_t(cols >> 8), lo = uint8_t(cols);
        for (int y = 0; y < lines; ++y)
            for (uint8_t v : {uint8_t(128), hi, lo, uint8_t(1), uint8_t(2), uint8_t(3),
                              uint8_t(128), hi, lo, uint8_t(4)})
                rest.push_back(v);
        Bytes b = pic_file(0, 0, rest);
        b[92] = hi, b[93] = lo, b[94] = uint8_t(lines >> 8), b[95] = uint8_t(lines);
        return b;
    };
    TempFile file(".pic");
    write_bytes(file.path, flat(16000, 16000));
    kivImage* image = nullptr;
    const std::string out = captured([&] { image = kivOpenImageChecked(file.c_str(), 0); });
    EXPECT_EQ(nullptr, image);
    EXPECT_NE(std::string::npos, out.find("too large")) << out;
    if (image) kivCloseImage(image);

    write_bytes(file.path, flat(300, 200));
    image = kivOpenImageChecked(file.c_str(), 0);
    ASSERT_NE(nullptr, image);
    EXPECT_TRUE(image->cols == 300 && image->lines == 200 && image->channels == 4);
    EXPECT_TRUE(image->rows[199][0] == 1 && image->rows[0][3 * 300 + 299] == 4);
    kivCloseImage(image);
}
