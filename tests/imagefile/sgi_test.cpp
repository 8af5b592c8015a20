#include "imagefile/sgi.h"

#include "image_support.h"

using namespace image_test;

namespace {

Bytes encode(const Bytes& bytes) {
    Bytes out;
    EXPECT_TRUE(sgi_encode_row(bytes.data(), int(bytes.size()), out));
    return out;
}

// A hand-made SGI file: header fields as given, then the rest.
Bytes sgi_file(int storage, int dimension, int x, int y, int z, const Bytes& rest) {
    Bytes b(512, 0);
    b[0] = 0x01, b[1] = 0xDA, b[2] = uint8_t(storage), b[3] = 1;
    b[5] = uint8_t(dimension), b[7] = uint8_t(x), b[9] = uint8_t(y), b[11] = uint8_t(z);
    for (uint8_t v : rest) b.push_back(v);
    return b;
}

}  // namespace

TEST(SgiEncoder, ExactCodes) {
    const std::pair<Bytes, Bytes> cases[] = {
        {{1, 2, 3}, {0x83, 1, 2, 3}},
        {{5, 5}, {2, 5}},
        {{5, 5, 5}, {3, 5}},
        {{9}, {0x81, 9}},
        // A literal ends before a pair of equal bytes, which starts a run.
        {{1, 2, 2, 3}, {0x81, 1, 2, 2, 0x81, 3}},
        {{4, 4, 1, 2}, {2, 4, 0x82, 1, 2}},
        {Bytes(200, 6), {127, 6, 73, 6}},
        {Bytes(128, 6), {127, 6, 0x81, 6}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].second, encode(cases[i].first)) << i;
    // Literals split at 127.
    Bytes bytes(200);
    for (int i = 0; i < 200; ++i) bytes[i] = uint8_t(i);
    const Bytes code = encode(bytes);
    ASSERT_EQ(202u, code.size());
    EXPECT_TRUE(code[0] == (0x80 | 127) && code[128] == (0x80 | 73));
    EXPECT_EQ(Bytes(bytes.begin() + 127, bytes.end()), Bytes(code.begin() + 129, code.end()));
}

TEST(SgiFile, HeaderAndTables) {
    // A name longer than the field keeps its first 79 characters.
    TempFile file(std::string(100, 'q') + ".rgb");
    write_image(file.path, 0, 2, 3, 3, Pattern::kFlat, 1);
    const Bytes b = read_bytes(file.path);
    EXPECT_EQ((std::vector<uint32_t>{474, 1, 1, 3, 3, 2, 3}),
              (std::vector<uint32_t>{be16(b, 0), b[2], b[3], be16(b, 4), be16(b, 6), be16(b, 8),
                                     be16(b, 10)}));
    EXPECT_EQ((std::vector<uint32_t>{0, 255, 0}),
              (std::vector<uint32_t>{be32(b, 12), be32(b, 16), be32(b, 20)}));
    EXPECT_EQ(file.path.substr(0, 79), text_at(b, 24, 80));
    EXPECT_EQ(Bytes(512 - 103, 0), Bytes(b.begin() + 103, b.begin() + 512));
    // Six rows (3 channels x 2 rows), each a run of 3: 2 bytes.
    const std::size_t data = 512 + 8 * 6;
    for (int index = 0; index < 6; ++index) {
        EXPECT_EQ(data + 2 * index, be32(b, 512 + 4 * index)) << index;
        EXPECT_EQ(2u, be32(b, 512 + 24 + 4 * index)) << index;
        EXPECT_EQ(3, b[data + 2 * index]);
        EXPECT_EQ(40 * (index / 2) + 7, b[data + 2 * index + 1]);
    }
    EXPECT_EQ(data + 12, b.size());
}

TEST(SgiFile, ReadsVerbatimStorageAndShortHeaders) {
    TempFile file(".rgb");
    // 2 x 2, two channels: channel 0 rows {1 2} {3 4}, channel 1 {5 6} {7 8}.
    write_bytes(file.path, sgi_file(0, 3, 2, 2, 2, {1, 2, 3, 4, 5, 6, 7, 8}));
    kivImage* image = kivOpenImage(file.c_str(), 0);
    ASSERT_NE(nullptr, image);
    EXPECT_EQ(2, image->channels);
    EXPECT_EQ((Rows{{1, 2, 5, 6}, {3, 4, 7, 8}}), copy_rows(image));
    EXPECT_EQ(
        "RGB HEADER:\n\n  Name: \n  Width: 2\n  Height: 2\n  NumChans: 2\n  Compressed: No\n  \n",
        captured([&] { kivDumpHeader(image); }));
    kivCloseImage(image);
    // Dimension 1: one row whatever ysize says; dimension 2: one channel.
    int channels = 0, channels2 = 0;
    write_bytes(file.path, sgi_file(0, 1, 3, 9, 9, {1, 2, 3}));
    EXPECT_EQ((Rows{{1, 2, 3}}), read_rows(file.path, 0, nullptr, &channels));
    write_bytes(file.path, sgi_file(0, 2, 1, 2, 9, {1, 2}));
    EXPECT_EQ((Rows{{1}, {2}}), read_rows(file.path, 0, nullptr, &channels2));
    EXPECT_TRUE(channels == 1 && channels2 == 1);
}

TEST(SgiFile, ShortOrOverlongRowFailsWithMessage) {
    TempFile file(".rgb");
    // One channel, one row of 4: tables, then "3 x 9" and a zero count; then a run of 5.
    const std::pair<Bytes, const char*> cases[] = {
        {{0, 0, 2, 8, 0, 0, 0, 3, 3, 9, 0}, "***** ERROR: I did't read 4 bytes, I read 3 bytes!\n"},
        {{0, 0, 2, 8, 0, 0, 0, 2, 5, 9}, "***** ERROR: I did't read 4 bytes, I read 5 bytes!\n"},
    };
    for (const auto& [rest, message] : cases) {
        write_bytes(file.path, sgi_file(1, 3, 4, 1, 1, rest));
        kivImage* image = nullptr;
        EXPECT_EQ(message, captured([&] { image = kivOpenImage(file.c_str(), 0); }));
        EXPECT_EQ(nullptr, image);
    }
}
