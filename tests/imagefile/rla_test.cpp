#include "imagefile/rla.h"

#include "foundation/fur_exception.h"
#include "image_support.h"

#include <unistd.h>

#include <tuple>

using namespace image_test;

namespace {

Bytes encode(const Bytes& bytes) {
    Bytes out;
    EXPECT_TRUE(rla_encode_channel(bytes.data(), int(bytes.size()), 0, out));
    return out;
}

}  // namespace

TEST(RlaEncoder, ExactCodes) {
    const std::pair<Bytes, Bytes> cases[] = {
        {{1, 2, 3}, {0, 4, 0xFD, 1, 2, 3}},
        {{5, 5}, {0, 3, 0xFE, 5, 5}},
        {{5, 5, 5}, {0, 2, 2, 5}},
        {{9}, {0, 2, 0xFF, 9}},
        // Pairs stay in literals; a run of three or more ends the literal.
        {{1, 1, 2, 2, 3}, {0, 6, 0xFB, 1, 1, 2, 2, 3}},
        {{1, 2, 7, 7, 7, 7}, {0, 5, 0xFE, 1, 2, 3, 7}},
        {{7, 7, 7, 1}, {0, 4, 2, 7, 0xFF, 1}},
        // Runs split at 128.
        {Bytes(200, 42), {0, 4, 127, 42, 71, 42}},
        {Bytes(128, 1), {0, 2, 127, 1}},
        {Bytes(129, 1), {0, 4, 127, 1, 0xFF, 1}},
        {Bytes(130, 1), {0, 5, 127, 1, 0xFE, 1, 1}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].second, encode(cases[i].first)) << i;
    // Literals split at 128 too.
    Bytes bytes(300);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i % 2 ? i : 255 - i);
    const Bytes code = encode(bytes);
    ASSERT_EQ(2u + 3 + 300, code.size());
    EXPECT_EQ(303, be16(code, 0));  // then -128, -128 and -44
    EXPECT_TRUE(code[2] == 0x80 && code[2 + 129] == 0x80 && code[2 + 258] == uint8_t(-44));
}

TEST(RlaFile, HeaderFieldsAtTheirOffsets) {
    // Without depth, 4 and 3 channels alike announce one matte channel.
    for (int channels : {5, 4, 3}) {
        const bool depth = channels == 5;
        // A name longer than the field keeps its first 127 characters.
        TempFile file(depth ? ".rla" : std::string(150, 'n') + ".rla");
        kivImage* image =
            kivCreateImage(file.c_str(), 0, depth ? 3 : 7, depth ? 5 : 2, 8, 2.2f, channels);
        ASSERT_NE(nullptr, image);
        ASSERT_EQ(1, kivCloseImage(image));
        const Bytes b = read_bytes(file.path);
        ASSERT_GE(b.size(), 740u + 12);
        const uint16_t withDepth[14] = {0, 4, 0, 2, 0, 4, 0, 2, 1, 0, 3, 1, 1, 0xFFFE};
        const uint16_t noDepth[14] = {0, 1, 0, 6, 0, 1, 0, 6, 1, 0, 3, 1, 0, 0xFFFE};
        for (int i = 0; i < 14; ++i)
            EXPECT_EQ((depth ? withDepth : noDepth)[i], be16(b, 2 * i))
                << channels << " channels, offset " << 2 * i;
        // {offset, aux type, aux bits}
        const int shorts[][2] = {
            {612, 0}, {658, 8}, {660, 0}, {662, 8}, {664, depth ? 4 : 0}, {666, depth ? 32 : 8}};
        for (const auto& s : shorts) EXPECT_EQ(s[1], be16(b, s[0])) << "offset " << s[0];
        char host[256] = "";
        gethostname(host, sizeof host - 1);
        // {offset, field size, text}
        const std::tuple<int, int, std::string> texts[] = {
            {28, 16, "2.200000"},
            {44, 24, "0.670 0.330"},
            {68, 24, "0.210 0.710"},
            {92, 24, "0.140 0.080"},
            {116, 24, "0.310 0.316"},
            {144, 128, file.path.substr(0, 127)},
            {272, 128, "This image created by Velmora, Inc."},
            {400, 64, "img_lib"},
            {464, 32, std::string(host).substr(0, 31)},
            {496, 32, "Unknown"},
            {548, 24, "user"},
            {580, 32, "rgb"},
            {614, 12, "0"},
            {626, 32, ""},
            {668, 32, depth ? "depth" : ""}};
        for (const auto& [at, size, text] : texts) EXPECT_EQ(text, text_at(b, at, size)) << at;
        EXPECT_EQ(depth ? "1.666667" : "0.285714", std::string(b.begin() + 572, b.begin() + 580));
        EXPECT_EQ(0u, be32(b, 140) | be32(b, 736));
        const std::string date = text_at(b, 528, 20);
        ASSERT_GE(date.size(), 10u) << date;
        EXPECT_NE('0', date[4]) << "the day has no leading zero: " << date;
    }
}

TEST(RlaFile, OffsetTableAndScanlineRecords) {
    TempFile file(".rla");
    kivImage* image = kivCreateImage(file.c_str(), 1, 2, 3, 8, 1.0f, 5);
    ASSERT_NE(nullptr, image);
    // Row 0: red 1 2 3, green 5 5 5, blue 5 5 6, matte 0 0 0, then depth.
    const uint8_t planes[4][3] = {{1, 2, 3}, {5, 5, 5}, {5, 5, 6}, {0, 0, 0}};
    const float depth[3] = {1.0f, -2.5f, 1e6f};
    std::memcpy(image->rows[0], planes, sizeof planes);
    std::memcpy(image->rows[0] + 12, depth, sizeof depth);
    ASSERT_EQ(1, kivCloseImage(image));
    const Bytes b = read_bytes(file.path);
    const uint32_t first = be32(b, 740), second = be32(b, 744);
    EXPECT_EQ(740u + 8, first);
    const Bytes expected = {0,    4,    0xFD, 1, 2,    3,  // red: literal
                            0,    2,    2,    5,           // green: run of 3
                            0,    4,    0xFD, 5, 5,    6,  // blue: literal
                            0,    2,    2,    0,           // matte: run of 3
                            0,    12,                      // depth: 3 big-endian floats, raw
                            0x3F, 0x80, 0,    0, 0xC0, 0x20, 0, 0, 0x49, 0x74, 0x24, 0x00};
    EXPECT_EQ(expected, Bytes(b.begin() + first, b.begin() + second));
    EXPECT_EQ(4u * 4 + 2 + 12, b.size() - second) << "the last record ends the file";
}

TEST(RlaFile, ReadsActiveWindowInsideLargerWindow) {
    // Rewrite a 2 x 3 file's header so that it is the active part of a
    // 4 x 6 window: the rows land inside the window, the rest stays zero.
    TempFile file(".rla");
    const Rows written = write_image(file.path, 1, 2, 3, 4, Pattern::kNoise, 5);
    Bytes b = read_bytes(file.path);
    const uint16_t fields[8] = {10, 15, 20, 23, 12, 14, 21, 22};
    for (int i = 0; i < 8; ++i)
        b[2 * i] = uint8_t(fields[i] >> 8), b[2 * i + 1] = uint8_t(fields[i]);
    write_bytes(file.path, b);
    Rows expected(4, Bytes(24, 0));
    for (int y = 1; y <= 2; ++y)
        for (int c = 0; c < 4; ++c)
            for (int x = 2; x <= 4; ++x) expected[y][c * 6 + x] = written[y - 1][c * 3 + x - 2];
    EXPECT_EQ(expected, read_rows(file.path, 1));
}

TEST(RlaFileDeathTest, CorruptRunLengthEndsTheProcess) {
    // A one-row, four-pixel file whose red code "run of 4" becomes "run of 3".
    TempFile file(".rla");
    write_image(file.path, 1, 1, 4, 4, Pattern::kFlat, 1);
    Bytes b = read_bytes(file.path);
    ASSERT_EQ(3, b[be32(b, 740) + 2]);
    b[be32(b, 740) + 2] = 2;
    write_bytes(file.path, b);
    expect_fatal_open(file.path,
                      "HEY! I don't have 4 bytes in my rle buffer. I have 3 bytes.\n"
                      "     Other info:  line=0, chan=0\n");
}

TEST(RxRla, WritesScanlinesAndReadsThemBack) {
    TempFile file(".rla");
    {
        rx_rla out(file.c_str(), 3, 5, 8, 2.2f, 1);
        EXPECT_EQ(53, out.Cols() * 10 + out.Lines());
        u_char_buf scan(5);
        for (int y = 0; y < 3; ++y) {
            for (int i = 0; i < 5; ++i) {
                scan.rgbm(i, uint8_t(10 * y + i));
                scan(3, i) = 200;
                scan.fz(i) = float(y) + 0.5f * i;
            }
            out.writescan(scan.address(), y);
        }
        EXPECT_EQ(0u, read_bytes(file.path).size()) << "nothing is written before the close";
    }
    rx_rla in(file.c_str());
    EXPECT_EQ((std::vector<int>{5, 3, 1, 1, 8, 5}),
              (std::vector<int>{in.Cols(), in.Lines(), in.has_depth(), in.mattes(), in.bits(),
                                in.number_of_scans()}));
    EXPECT_FLOAT_EQ(2.2f, in.getgamma());
    for (int y = 0; y < 3; ++y) {
        const unsigned char* row = in.readscan(y);
        ASSERT_NE(nullptr, row);
        for (int i = 0; i < 5; ++i) {
            // Depth comes back as the file's big-endian bytes.
            const Bytes stored(row + 20 + 4 * i, row + 24 + 4 * i);
            const uint32_t bits = be32(stored, 0);
            float z;
            std::memcpy(&z, &bits, 4);
            EXPECT_TRUE(row[i] == 10 * y + i && row[5 + i] == row[i] && row[10 + i] == row[i] &&
                        row[15 + i] == 200);
            EXPECT_EQ(float(y) + 0.5f * i, z);
        }
    }
    EXPECT_TRUE(!in.readscan(3) && !in.readscan(-1));
}

TEST(RxRla, FailuresThrowWithTheirMessages) {
    TempFile file(".rla"), missing("_missing.rla");
    std::string out;
    EXPECT_EQ("Creating the image",
              thrown<FurEFailed>([&] { rx_rla bad(file.c_str(), 3, 3, 16, 1.0f, 0); }, &out));
    EXPECT_EQ("Sorry. Only 8 bit images are currently supported.\nFATAL: Create image.\n", out);
    EXPECT_EQ("Error opening image " + missing.path,
              thrown<FurEFailed>([&] { rx_rla bad(missing.c_str()); }, &out));
    EXPECT_EQ("FATAL: Open image: " + missing.path, out);
    rx_rla image(file.c_str(), 2, 2, 8, 1.0f, 0);
    u_char_buf scan(2);
    EXPECT_EQ("Writing image file",
              thrown<FurEFailed>([&] { image.writescan(scan.address(), 2); }, &out));
    EXPECT_EQ("scanline write error at scan 2\n", out);
}

// Copies of an image and of a scanline buffer share one image or one set of planes.
TEST(RxRla, CopiesShareOneImageWrittenOnce) {
    TempFile file(".rla");
    {
        rx_rla a(file.c_str(), 1, 2, 8, 1.0f, 0), b(a), c;
        c = b;
        a = c;
        EXPECT_EQ(c.image(), b.image());
        u_char_buf scan(2);
        scan.rgbm(1, 77);
        c.writescan(scan.address(), 0);
    }
    rx_rla in(file.c_str());
    EXPECT_EQ(77, in.readscan(0)[1]);
    EXPECT_EQ(4, in.number_of_scans());

    u_char_buf a(4);
    void** planes = a.address();
    a.fz(1) = 2.5f;
    EXPECT_EQ(2.5f, static_cast<float*>(planes[4])[1]);
    u_char_buf b(1);
    b = a;
    EXPECT_EQ(4, b.length());
    b(0, 0) = 5;
    EXPECT_EQ(5, a(0, 0)) << "arrays are shared after assignment";
    EXPECT_EQ(planes[4], u_char_buf(b).address()[4]);
}
