#include "imagefile/pic.h"

#include "image_support.h"

#include <array>

using namespace image_test;

namespace {

// Encodes a row of grey matte bytes (pixel size 1).
std::vector<uint8_t> encode_matte(const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> out;
    const unsigned char* planes[1] = {bytes.data()};
    EXPECT_TRUE(pic_encode_packet(planes, 1, int(bytes.size()), out));
    return out;
}

// Encodes colour pixels given as (r, g, b) triples.
std::vector<uint8_t> encode_colour(const std::vector<std::array<uint8_t, 3>>& pixels) {
    std::vector<uint8_t> r, g, b, out;
    for (const auto& p : pixels) {
        r.push_back(p[0]);
        g.push_back(p[1]);
        b.push_back(p[2]);
    }
    const unsigned char* planes[3] = {r.data(), g.data(), b.data()};
    EXPECT_TRUE(pic_encode_packet(planes, 3, int(pixels.size()), out));
    return out;
}

}  // namespace

TEST(PicEncoder, ExactCodes) {
    EXPECT_EQ(encode_matte({1, 2, 3}), (std::vector<uint8_t>{2, 1, 2, 3}));
    EXPECT_EQ(encode_matte({5, 5}), (std::vector<uint8_t>{129, 5}));
    EXPECT_EQ(encode_matte({1, 2, 2}), (std::vector<uint8_t>{0, 1, 129, 2}));
    EXPECT_EQ(encode_matte({2, 2, 1}), (std::vector<uint8_t>{129, 2, 0, 1}));
    EXPECT_EQ(encode_matte(std::vector<uint8_t>(127, 4)), (std::vector<uint8_t>{254, 4}));
    EXPECT_EQ(encode_matte(std::vector<uint8_t>(128, 4)), (std::vector<uint8_t>{128, 0, 128, 4}));
    EXPECT_EQ(encode_matte(std::vector<uint8_t>(1000, 4)), (std::vector<uint8_t>{128, 3, 0xE8, 4}));
    EXPECT_EQ(encode_colour({{1, 2, 3}, {1, 2, 3}, {1, 2, 3}, {4, 5, 6}}),
              (std::vector<uint8_t>{130, 1, 2, 3, 0, 4, 5, 6}));
    // Pixels equal in one channel only are different pixels.
    EXPECT_EQ(encode_colour({{1, 2, 3}, {1, 2, 4}}), (std::vector<uint8_t>{1, 1, 2, 3, 1, 2, 4}));
}

TEST(PicEncoder, LiteralsHoldAtMost128Pixels) {
    std::vector<uint8_t> bytes(200);
    for (int i = 0; i < 200; ++i) bytes[i] = uint8_t(i);
    const std::vector<uint8_t> code = encode_matte(bytes);
    ASSERT_EQ(code.size(), 202u);
    EXPECT_EQ(code[0], 127);
    EXPECT_EQ(code[129], 71);
}

TEST(PicFile, HeaderPacketsAndTopRowFirst) {
    const std::string path = temp_path(".pic");
    kivImage* image = kivCreateImage(path.c_str(), 0, 2, 3, 8, 1.0f, 4);
    ASSERT_NE(image, nullptr);
    std::memset(image->rows[1], 9, 12);  // the top row: all 9
    ASSERT_EQ(kivCloseImage(image), 1);
    const std::vector<uint8_t> b = read_bytes(path);
    EXPECT_EQ(be32(b, 0), 0x5380F634u);
    EXPECT_EQ(be32(b, 4), 0u);
    EXPECT_EQ(text_at(b, 8, 80), "No comment.");
    EXPECT_EQ(std::string(b.begin() + 88, b.begin() + 92), "PICT");
    EXPECT_EQ(be16(b, 92), 3);
    EXPECT_EQ(be16(b, 94), 2);
    EXPECT_EQ(be32(b, 96), 0x3F800000u);
    EXPECT_EQ(be16(b, 100), 0);
    EXPECT_EQ(be16(b, 102), 0);
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 104, b.end()),
              (std::vector<uint8_t>{1,   8, 2, 0xE0, 0,   8, 2, 0x10,  // packets
                                    130, 9, 9, 9,    130, 9,           // row 1
                                    130, 0, 0, 0,    130, 0}));        // row 0
}

TEST(PicFile, ThreeChannelsHaveOnePacketAndNoMatte) {
    const std::string path = temp_path(".pic");
    write_image(path, 2, 1, 2, 3, Pattern::kFlat, 1);
    const std::vector<uint8_t> b = read_bytes(path);
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 104, b.end()),
              (std::vector<uint8_t>{0, 8, 2, 0xE0, 129, 7, 47, 87}));
    std::remove(path.c_str());
}

TEST(PicFile, RoundTripsThreeAndFourChannels) {
    unsigned seed = 0;
    for (int channels : {3, 4}) {
        for (int cols : {1, 2, 127, 128, 129, 200, 1000}) {
            for (Pattern p : {Pattern::kNoise, Pattern::kFlat, Pattern::kStripes, Pattern::kMixed,
                              Pattern::kRamps}) {
                const std::string path = temp_path(".pic");
                const int lines = 1 + int(seed % 4);
                auto written = write_image(path, 0, lines, cols, channels, p, ++seed);
                kivImage* image = kivOpenImage(path.c_str(), 0);
                ASSERT_NE(image, nullptr);
                EXPECT_EQ(image->format, kivFormatPic);
                EXPECT_EQ(image->channels, channels);
                EXPECT_EQ(copy_rows(image), written) << channels << " " << cols << " " << seed;
                kivCloseImage(image);
                std::remove(path.c_str());
            }
        }
    }
}

TEST(PicFile, FiveChannelsAreRefused) {
    for (int type : {0, 2}) {
        kivImage* image = nullptr;
        const std::string out = captured(
            [&] { image = kivCreateImage(temp_path(".pic").c_str(), type, 2, 2, 8, 1.0f, 5); });
        EXPECT_EQ(image, nullptr);
        EXPECT_EQ(out, "Sorry. Only 4 channels or less are allowed for .pic images.\n");
    }
}

namespace {

std::vector<uint8_t> pic_file(int cols, int lines, const std::vector<uint8_t>& rest) {
    std::vector<uint8_t> b(104, 0);
    b[0] = 0x53;
    b[1] = 0x80;
    b[2] = 0xF6;
    b[3] = 0x34;
    b[93] = uint8_t(cols);
    b[95] = uint8_t(lines);
    for (uint8_t v : rest) b.push_back(v);
    return b;
}

}  // namespace

TEST(PicFile, ReadsUncompressedPackets) {
    const std::string path = temp_path(".pic");
    // 2 x 1 with matte, uncompressed: RGB RGB then M M.
    write_bytes(path, pic_file(2, 1, {1, 8, 0, 0xE0, 0, 8, 0, 0x10, 1, 2, 3, 4, 5, 6, 7, 8}));
    kivImage* image = kivOpenImage(path.c_str(), 0);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(copy_rows(image), (std::vector<std::vector<uint8_t>>{{1, 4, 2, 5, 3, 6, 7, 8}}));
    const std::string out = captured([&] { kivDumpHeader(image); });
    EXPECT_EQ(out,
              "PIC HEADER:\n\n  Version: 0.000000\n  Comment: \n  Width:   2\n  Height:  1\n"
              "\n  Channels:\n"
              "    #0\n    chained: 1\n    type: uncompressed\n    channel: RED GREEN BLUE\n"
              "    #1\n    chained: 0\n    type: uncompressed\n    channel: MATTE \n");
    kivCloseImage(image);
    std::remove(path.c_str());
}

TEST(PicFileDeathTest, CorruptRunLengthEndsTheProcess) {
    struct Case {
        std::vector<uint8_t> rest;
        const char* message;
    };
    const Case cases[] = {
        // A colour repeat of 3 in a row of 2.
        {{0, 8, 2, 0xE0, 130, 1, 2, 3}, "RGB: byteindex 3 != cols 2\n"},
        // Colour fine, then a matte repeat of 3.
        {{1, 8, 2, 0xE0, 0, 8, 2, 0x10, 129, 1, 2, 3, 130, 7}, "MATTE: byteindex 3 != cols 2\n"},
    };
    int i = 0;
    for (const Case& c : cases) {
        const std::string path = temp_path(std::to_string(i) + ".pic");
        const std::string out = temp_path(std::to_string(i++) + ".out");
        write_bytes(path, pic_file(2, 1, c.rest));
        EXPECT_EXIT(
            {
                std::freopen(out.c_str(), "w", stdout);
                kivOpenImage(path.c_str(), 0);
                std::_Exit(3);
            },
            testing::ExitedWithCode(0), "");
        const std::vector<uint8_t> text = read_bytes(out);
        EXPECT_EQ(std::string(text.begin(), text.end()), c.message);
        kivImage* image = nullptr;
        EXPECT_EQ(captured([&] { image = kivOpenImageChecked(path.c_str(), 0); }), c.message);
        EXPECT_EQ(image, nullptr);
        std::remove(out.c_str());
        std::remove(path.c_str());
    }
}
