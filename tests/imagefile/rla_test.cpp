#include "imagefile/rla.h"

#include "foundation/fur_exception.h"
#include "image_support.h"

#include <unistd.h>

#include <cmath>

using namespace image_test;

namespace {

std::vector<uint8_t> encode(const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> out;
    EXPECT_TRUE(rla_encode_channel(bytes.data(), int(bytes.size()), 0, out));
    return out;
}

// An independent decoder of the code, for property checks.
std::vector<uint8_t> decode(const std::vector<uint8_t>& code) {
    std::vector<uint8_t> out;
    std::size_t q = 2;
    while (q < code.size()) {
        const int n = int8_t(code[q++]);
        if (n >= 0) {
            out.insert(out.end(), std::size_t(n) + 1, code.at(q++));
        } else {
            out.insert(out.end(), code.begin() + q, code.begin() + q + std::size_t(-n));
            q += std::size_t(-n);
        }
    }
    return out;
}

}  // namespace

TEST(RlaEncoder, ExactCodesOfShortRows) {
    EXPECT_EQ(encode({1, 2, 3}), (std::vector<uint8_t>{0, 4, 0xFD, 1, 2, 3}));
    EXPECT_EQ(encode({5, 5}), (std::vector<uint8_t>{0, 3, 0xFE, 5, 5}));
    EXPECT_EQ(encode({5, 5, 5}), (std::vector<uint8_t>{0, 2, 2, 5}));
    EXPECT_EQ(encode({9}), (std::vector<uint8_t>{0, 2, 0xFF, 9}));
    // Pairs stay in literals; a run of three or more ends the literal.
    EXPECT_EQ(encode({1, 1, 2, 2, 3}), (std::vector<uint8_t>{0, 6, 0xFB, 1, 1, 2, 2, 3}));
    EXPECT_EQ(encode({1, 2, 7, 7, 7, 7}), (std::vector<uint8_t>{0, 5, 0xFE, 1, 2, 3, 7}));
    EXPECT_EQ(encode({7, 7, 7, 1}), (std::vector<uint8_t>{0, 4, 2, 7, 0xFF, 1}));
}

TEST(RlaEncoder, LongRunsSplitAt128) {
    EXPECT_EQ(encode(std::vector<uint8_t>(200, 42)), (std::vector<uint8_t>{0, 4, 127, 42, 71, 42}));
    EXPECT_EQ(encode(std::vector<uint8_t>(128, 1)), (std::vector<uint8_t>{0, 2, 127, 1}));
    EXPECT_EQ(encode(std::vector<uint8_t>(129, 1)), (std::vector<uint8_t>{0, 4, 127, 1, 0xFF, 1}));
    EXPECT_EQ(encode(std::vector<uint8_t>(130, 1)),
              (std::vector<uint8_t>{0, 5, 127, 1, 0xFE, 1, 1}));
}

TEST(RlaEncoder, LiteralsSplitAt128) {
    std::vector<uint8_t> bytes(300);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i % 2 ? i : 255 - i);
    const std::vector<uint8_t> code = encode(bytes);
    ASSERT_EQ(code.size(), 2u + 3 + 300);
    EXPECT_EQ(be16(code, 0), 303);
    EXPECT_EQ(code[2], 0x80);        // -128
    EXPECT_EQ(code[2 + 129], 0x80);  // -128
    EXPECT_EQ(code[2 + 258], uint8_t(-44));
    EXPECT_EQ(decode(code), bytes);
}

TEST(RlaEncoder, RoundTripsRowsOfManyLengthsAndKinds) {
    std::mt19937 rng(17);
    for (int length : {1, 2, 3, 127, 128, 129, 130, 200, 255, 256, 257, 1000}) {
        for (int kind = 0; kind < 4; ++kind) {
            std::vector<uint8_t> bytes(length);
            for (int i = 0; i < length; ++i) {
                switch (kind) {
                    case 0:
                        bytes[i] = uint8_t(rng());
                        break;
                    case 1:
                        bytes[i] = uint8_t(rng() % 2);
                        break;  // short runs
                    case 2:
                        bytes[i] = uint8_t((i / 50) * 3);
                        break;  // long runs
                    case 3:
                        bytes[i] = uint8_t(i % 3 == 0 ? 1 : i);
                        break;
                }
            }
            const std::vector<uint8_t> code = encode(bytes);
            EXPECT_EQ(be16(code, 0), code.size() - 2) << length << " " << kind;
            EXPECT_EQ(decode(code), bytes) << length << " " << kind;
            EXPECT_LE(code.size(), 2 + bytes.size() + (bytes.size() + 127) / 128 + 1);
        }
    }
}

TEST(RlaFile, HeaderFieldsAtTheirOffsets) {
    const std::string path = temp_path(".rla");
    kivImage* image = kivCreateImage(path.c_str(), 0, 3, 5, 8, 2.2f, 5);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(kivCloseImage(image), 1);
    const std::vector<uint8_t> b = read_bytes(path);
    ASSERT_GE(b.size(), 740u + 12);
    const uint16_t shorts[14] = {0, 4, 0, 2, 0, 4, 0, 2, 1, 0, 3, 1, 1, 0xFFFE};
    for (int i = 0; i < 14; ++i) EXPECT_EQ(be16(b, 2 * i), shorts[i]) << "offset " << 2 * i;
    EXPECT_EQ(text_at(b, 28, 16), "2.200000");
    EXPECT_EQ(text_at(b, 44, 24), "0.670 0.330");
    EXPECT_EQ(text_at(b, 68, 24), "0.210 0.710");
    EXPECT_EQ(text_at(b, 92, 24), "0.140 0.080");
    EXPECT_EQ(text_at(b, 116, 24), "0.310 0.316");
    EXPECT_EQ(be32(b, 140), 0u);
    EXPECT_EQ(text_at(b, 144, 128), path.substr(0, 127));
    EXPECT_EQ(text_at(b, 272, 128), "This image created by Velmora, Inc.");
    EXPECT_EQ(text_at(b, 400, 64), "img_lib");
    char host[256] = "";
    gethostname(host, sizeof host - 1);
    EXPECT_EQ(text_at(b, 464, 32), std::string(host).substr(0, 31));
    EXPECT_EQ(text_at(b, 496, 32), "Unknown");
    const std::string date = text_at(b, 528, 20);
    ASSERT_GE(date.size(), 10u) << date;
    EXPECT_NE(date[4], '0') << "the day has no leading zero: " << date;
    EXPECT_EQ(text_at(b, 548, 24), "user");
    EXPECT_EQ(std::string(b.begin() + 572, b.begin() + 580), "1.666667");
    EXPECT_EQ(text_at(b, 580, 32), "rgb");
    EXPECT_EQ(be16(b, 612), 0);
    EXPECT_EQ(text_at(b, 614, 12), "0");
    EXPECT_EQ(text_at(b, 626, 32), "");
    EXPECT_EQ(be16(b, 658), 8);
    EXPECT_EQ(be16(b, 660), 0);
    EXPECT_EQ(be16(b, 662), 8);
    EXPECT_EQ(be16(b, 664), 4);
    EXPECT_EQ(be16(b, 666), 32);
    EXPECT_EQ(text_at(b, 668, 32), "depth");
    EXPECT_EQ(be32(b, 736), 0u);
}

TEST(RlaFile, NoDepthHeaderAndLongNameAndRatio) {
    const std::string path = temp_path(std::string(150, 'n') + ".rla");
    kivImage* image = kivCreateImage(path.c_str(), 0, 7, 2, 8, 1.0f, 4);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(kivCloseImage(image), 1);
    const std::vector<uint8_t> b = read_bytes(path);
    ASSERT_GE(b.size(), 740u);
    EXPECT_EQ(be16(b, 24), 0);
    EXPECT_EQ(be16(b, 664), 0);
    EXPECT_EQ(be16(b, 666), 8);
    EXPECT_EQ(text_at(b, 668, 32), "");
    EXPECT_EQ(text_at(b, 144, 128), path.substr(0, 127));
    EXPECT_EQ(std::string(b.begin() + 572, b.begin() + 580), "0.285714");
    std::remove(path.c_str());
}

TEST(RlaFile, OffsetTableAndScanlineRecords) {
    const std::string path = temp_path(".rla");
    kivImage* image = kivCreateImage(path.c_str(), 1, 2, 3, 8, 1.0f, 5);
    ASSERT_NE(image, nullptr);
    // Row 0: red 1 2 3, green 5 5 5, blue 5 5, 6, matte 0 0 0, depth.
    const uint8_t planes[4][3] = {{1, 2, 3}, {5, 5, 5}, {5, 5, 6}, {0, 0, 0}};
    for (int c = 0; c < 4; ++c) std::memcpy(image->rows[0] + 3 * c, planes[c], 3);
    const float depth[3] = {1.0f, -2.5f, 1e6f};
    std::memcpy(image->rows[0] + 12, depth, sizeof depth);
    ASSERT_EQ(kivCloseImage(image), 1);

    const std::vector<uint8_t> b = read_bytes(path);
    const uint32_t first = be32(b, 740);
    const uint32_t second = be32(b, 744);
    EXPECT_EQ(first, 740u + 8);
    const std::vector<uint8_t> record0(b.begin() + first, b.begin() + second);
    const std::vector<uint8_t> expected = {0,    4,    0xFD, 1,    2,    3,  // red: literal
                                           0,    2,    2,    5,              // green: run of 3
                                           0,    4,    0xFD, 5,    5,    6,  // blue: literal
                                           0,    2,    2,    0,              // matte: run of 3
                                           0,    12,                         // depth: 3 floats, raw
                                           0x3F, 0x80, 0,    0,    0xC0, 0x20,
                                           0,    0,    0x49, 0x74, 0x24, 0x00};
    EXPECT_EQ(record0, expected);
    // The last record ends the file.
    EXPECT_EQ(b.size() - second, 4u * 4 + 2 + 12);
}

TEST(RlaFile, RoundTripsEveryPatternWithAndWithoutDepth) {
    int seed = 0;
    for (int channels : {3, 4, 5}) {
        for (int cols : {1, 2, 127, 128, 129, 200, 301}) {
            for (Pattern p :
                 {Pattern::kNoise, Pattern::kFlat, Pattern::kStripes, Pattern::kMixed}) {
                const std::string path = temp_path(".rla");
                const int lines = 1 + seed % 4;
                auto written = write_image(path, 0, lines, cols, channels, p, unsigned(++seed));
                kivImage* image = kivOpenImage(path.c_str(), 0);
                ASSERT_NE(image, nullptr) << cols << " " << channels;
                EXPECT_EQ(image->format, kivFormatRla);
                EXPECT_EQ(image->channels, channels);
                EXPECT_EQ(image->cols, cols);
                EXPECT_EQ(image->lines, lines);
                EXPECT_EQ(copy_rows(image), written) << cols << " " << channels << " " << seed;
                kivCloseImage(image);
                std::remove(path.c_str());
            }
        }
    }
}

TEST(RlaFile, ReadsActiveWindowInsideLargerWindow) {
    // Rewrite a 2 x 3 file's header so that it is the active part of a
    // 4 x 6 window: the rows land inside the window, the rest stays zero.
    const std::string path = temp_path(".rla");
    auto written = write_image(path, 1, 2, 3, 4, Pattern::kRamps, 5);
    std::vector<uint8_t> b = read_bytes(path);
    const uint16_t fields[8] = {10, 15, 20, 23, 12, 14, 21, 22};
    for (int i = 0; i < 8; ++i) {
        b[2 * i] = uint8_t(fields[i] >> 8);
        b[2 * i + 1] = uint8_t(fields[i]);
    }
    write_bytes(path, b);
    kivImage* image = kivOpenImage(path.c_str(), 1);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->cols, 6);
    EXPECT_EQ(image->lines, 4);
    for (int y = 0; y < 4; ++y) {
        for (int c = 0; c < 4; ++c) {
            for (int x = 0; x < 6; ++x) {
                const bool active = y >= 1 && y <= 2 && x >= 2 && x <= 4;
                const uint8_t want = active ? written[y - 1][c * 3 + x - 2] : 0;
                EXPECT_EQ(image->rows[y][c * 6 + x], want) << y << " " << c << " " << x;
            }
        }
    }
    kivCloseImage(image);
    std::remove(path.c_str());
}

namespace {

// A one-row, four-pixel RLA file of zeros whose red code is "run of 3".
std::string short_run_file(const std::string& path) {
    write_image(path, 1, 1, 4, 4, Pattern::kFlat, 1);
    std::vector<uint8_t> b = read_bytes(path);
    const uint32_t record = be32(b, 740);
    EXPECT_EQ(b[record + 2], 3);  // run of 4 ...
    b[record + 2] = 2;            // ... becomes a run of 3
    write_bytes(path, b);
    return path;
}

}  // namespace

TEST(RlaFileDeathTest, CorruptRunLengthEndsTheProcess) {
    const std::string path = short_run_file(temp_path(".rla"));
    const std::string out = temp_path(".out");
    EXPECT_EXIT(
        {
            std::freopen(out.c_str(), "w", stdout);
            kivOpenImage(path.c_str(), 0);
            std::_Exit(3);
        },
        testing::ExitedWithCode(0), "");
    std::vector<uint8_t> text = read_bytes(out);
    EXPECT_EQ(std::string(text.begin(), text.end()),
              "HEY! I don't have 4 bytes in my rle buffer. I have 3 bytes.\n"
              "     Other info:  line=0, chan=0\n");
    std::remove(out.c_str());
    std::remove(path.c_str());
}

TEST(RlaFile, CheckedOpenFailsOnCorruptRunLength) {
    const std::string path = short_run_file(temp_path(".rla"));
    kivImage* image = nullptr;
    const std::string out = captured([&] { image = kivOpenImageChecked(path.c_str(), 0); });
    EXPECT_EQ(image, nullptr);
    EXPECT_NE(out.find("HEY! I don't have 4 bytes in my rle buffer. I have 3 bytes.\n"),
              std::string::npos);
    std::remove(path.c_str());
}

TEST(RlaFile, DepthReadsBackAsNativeFloats) {
    const std::string path = temp_path(".rla");
    auto written = write_image(path, 1, 3, 4, 5, Pattern::kNoise, 9);
    kivImage* image = kivOpenImage(path.c_str(), 1);
    ASSERT_NE(image, nullptr);
    float depth[4];
    unsigned char planes[4][4];
    void* chans[5] = {planes[0], planes[1], planes[2], planes[3], depth};
    ASSERT_EQ(kivReadScanline(image, 2, chans), 1);
    for (int x = 0; x < 4; ++x) EXPECT_FLOAT_EQ(depth[x], -1.5f * float(x + 1) / 4.0f + 0.25f);
    kivCloseImage(image);
    std::remove(path.c_str());
}

// ---------------------------------------------------------------------------
// rx_rla and u_char_buf

TEST(RxRla, WritesScanlinesAndReadsThemBack) {
    const std::string path = temp_path(".rla");
    {
        rx_rla out(path.c_str(), 3, 5, 8, 2.2f, 1);
        EXPECT_EQ(out.Cols(), 5);
        EXPECT_EQ(out.Lines(), 3);
        EXPECT_EQ(out.bits(), 8);
        EXPECT_FLOAT_EQ(out.getgamma(), 2.2f);
        u_char_buf scan(5);
        for (int y = 0; y < 3; ++y) {
            for (int i = 0; i < 5; ++i) {
                scan.rgbm(i, uint8_t(10 * y + i));
                scan(3, i) = 200;
                scan.fz(i) = float(y) + 0.5f * i;
            }
            out.writescan(scan.address(), y);
        }
        EXPECT_EQ(read_bytes(path).size(), 0u) << "nothing is written before the close";
    }
    rx_rla in(path.c_str());
    EXPECT_EQ(in.Cols(), 5);
    EXPECT_EQ(in.Lines(), 3);
    EXPECT_EQ(in.has_depth(), 1);
    EXPECT_EQ(in.mattes(), 1);
    EXPECT_EQ(in.bits(), 8);
    EXPECT_FLOAT_EQ(in.getgamma(), 2.2f);
    EXPECT_EQ(in.number_of_scans(), 5);
    for (int y = 0; y < 3; ++y) {
        const unsigned char* row = in.readscan(y);
        ASSERT_NE(row, nullptr);
        for (int i = 0; i < 5; ++i) {
            for (int c = 0; c < 3; ++c) EXPECT_EQ(row[c * 5 + i], 10 * y + i);
            EXPECT_EQ(row[15 + i], 200);
            float z;
            std::memcpy(&z, row + 20 + 4 * i, 4);
            EXPECT_FLOAT_EQ(z, float(y) + 0.5f * i);
        }
    }
    EXPECT_EQ(in.readscan(3), nullptr);
    EXPECT_EQ(in.readscan(-1), nullptr);
    std::remove(path.c_str());
}

TEST(RxRla, FailuresThrowWithTheirMessages) {
    std::string out = captured([] {
        EXPECT_THROW(
            {
                try {
                    rx_rla bad(temp_path(".rla").c_str(), 3, 3, 16, 1.0f, 0);
                } catch (const FurEFailed& e) {
                    EXPECT_STREQ(e.message().asChar(), "Creating the image");
                    throw;
                }
            },
            FurEFailed);
    });
    EXPECT_EQ(out, "Sorry. Only 8 bit images are currently supported.\nFATAL: Create image.\n");

    const std::string missing = temp_path("_missing.rla");
    out = captured([&] {
        try {
            rx_rla bad(missing.c_str());
            ADD_FAILURE() << "no exception";
        } catch (const FurEFailed& e) {
            EXPECT_EQ(std::string(e.message().asChar()), "Error opening image " + missing);
        }
    });
    EXPECT_EQ(out, "FATAL: Open image: " + missing);

    const std::string path = temp_path(".rla");
    rx_rla image(path.c_str(), 2, 2, 8, 1.0f, 0);
    u_char_buf scan(2);
    out = captured([&] {
        try {
            image.writescan(scan.address(), 2);
            ADD_FAILURE() << "no exception";
        } catch (const FurEFailed& e) {
            EXPECT_STREQ(e.message().asChar(), "Writing image file");
        }
    });
    EXPECT_EQ(out, "scanline write error at scan 2\n");
}

TEST(RxRla, CopiesShareOneImageWrittenOnce) {
    const std::string path = temp_path(".rla");
    {
        rx_rla a(path.c_str(), 1, 2, 8, 1.0f, 0);
        rx_rla b(a);
        rx_rla c;
        EXPECT_EQ(c.Cols(), 0);
        c = b;
        a = c;
        EXPECT_EQ(c.image(), b.image());
        u_char_buf scan(2);
        scan.rgbm(1, 77);
        c.writescan(scan.address(), 0);
    }
    rx_rla in(path.c_str());
    EXPECT_EQ(in.readscan(0)[1], 77);
    EXPECT_EQ(in.number_of_scans(), 4);
    std::remove(path.c_str());
}

TEST(UCharBuf, ZeroedPlanesAndSharedCopies) {
    u_char_buf a(4);
    EXPECT_EQ(a.length(), 4);
    void** planes = a.address();
    for (int c = 0; c < 4; ++c)
        for (int i = 0; i < 4; ++i) EXPECT_EQ(a(c, i), 0);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(a.z(i), 0);
    a.rgbm(2, 9);
    for (int c = 0; c < 4; ++c) EXPECT_EQ(static_cast<unsigned char*>(planes[c])[2], 9);
    a.fz(1) = 2.5f;
    EXPECT_EQ(static_cast<float*>(planes[4])[1], 2.5f);
    a.z2(3) = 7;
    EXPECT_EQ(a.z2(3), 7);
    a.fz2(0) = -1.0f;
    EXPECT_EQ(a.fz2(0), -1.0f);
    u_char_buf b(1);
    b = a;
    EXPECT_EQ(b.length(), 4);
    b(0, 0) = 5;
    EXPECT_EQ(a(0, 0), 5) << "arrays are shared after assignment";
    u_char_buf c(b);
    EXPECT_EQ(c.address()[4], planes[4]);
}
