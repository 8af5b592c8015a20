#include "imagefile/sgi.h"

#include "image_support.h"

using namespace image_test;

namespace {

std::vector<uint8_t> encode(const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> out;
    EXPECT_TRUE(sgi_encode_row(bytes.data(), int(bytes.size()), out));
    return out;
}

}  // namespace

TEST(SgiEncoder, ExactCodes) {
    EXPECT_EQ(encode({1, 2, 3}), (std::vector<uint8_t>{0x83, 1, 2, 3}));
    EXPECT_EQ(encode({5, 5}), (std::vector<uint8_t>{2, 5}));
    EXPECT_EQ(encode({5, 5, 5}), (std::vector<uint8_t>{3, 5}));
    EXPECT_EQ(encode({9}), (std::vector<uint8_t>{0x81, 9}));
    // A literal ends before a pair of equal bytes, which starts a run.
    EXPECT_EQ(encode({1, 2, 2, 3}), (std::vector<uint8_t>{0x81, 1, 2, 2, 0x81, 3}));
    EXPECT_EQ(encode({4, 4, 1, 2}), (std::vector<uint8_t>{2, 4, 0x82, 1, 2}));
    EXPECT_EQ(encode(std::vector<uint8_t>(200, 6)), (std::vector<uint8_t>{127, 6, 73, 6}));
    EXPECT_EQ(encode(std::vector<uint8_t>(128, 6)), (std::vector<uint8_t>{127, 6, 0x81, 6}));
}

TEST(SgiEncoder, LiteralsSplitAt127) {
    std::vector<uint8_t> bytes(200);
    for (int i = 0; i < 200; ++i) bytes[i] = uint8_t(i);
    const std::vector<uint8_t> code = encode(bytes);
    ASSERT_EQ(code.size(), 202u);
    EXPECT_EQ(code[0], 0x80 | 127);
    EXPECT_EQ(code[128], 0x80 | 73);
    EXPECT_EQ(std::vector<uint8_t>(code.begin() + 129, code.end()),
              std::vector<uint8_t>(bytes.begin() + 127, bytes.end()));
}

TEST(SgiFile, HeaderAndTables) {
    const std::string path = temp_path(".rgb");
    auto rows = write_image(path, 0, 2, 3, 3, Pattern::kFlat, 1);
    const std::vector<uint8_t> b = read_bytes(path);
    EXPECT_EQ(be16(b, 0), 474);
    EXPECT_EQ(b[2], 1);
    EXPECT_EQ(b[3], 1);
    EXPECT_EQ(be16(b, 4), 3);
    EXPECT_EQ(be16(b, 6), 3);
    EXPECT_EQ(be16(b, 8), 2);
    EXPECT_EQ(be16(b, 10), 3);
    EXPECT_EQ(be32(b, 12), 0u);
    EXPECT_EQ(be32(b, 16), 255u);
    EXPECT_EQ(be32(b, 20), 0u);
    EXPECT_EQ(text_at(b, 24, 80), path.substr(0, 79));
    EXPECT_EQ(be32(b, 104), 0u);
    for (std::size_t i = 108; i < 512; ++i) ASSERT_EQ(b[i], 0) << i;
    // Six rows (3 channels x 2 rows), each a run of 3: 2 bytes.
    const std::size_t data = 512 + 8 * 6;
    for (int index = 0; index < 6; ++index) {
        EXPECT_EQ(be32(b, 512 + 4 * index), data + 2 * index) << index;
        EXPECT_EQ(be32(b, 512 + 24 + 4 * index), 2u) << index;
        const int channel = index / 2;
        EXPECT_EQ(b[data + 2 * index], 3);
        EXPECT_EQ(b[data + 2 * index + 1], 40 * channel + 7);
    }
    EXPECT_EQ(b.size(), data + 12);
}

TEST(SgiFile, NameKeepsAtMost79Characters) {
    const std::string path = temp_path(std::string(100, 'q') + ".rgb");
    write_image(path, 0, 1, 1, 1, Pattern::kFlat, 1);
    const std::vector<uint8_t> b = read_bytes(path);
    EXPECT_EQ(text_at(b, 24, 80), path.substr(0, 79));
    EXPECT_EQ(b[24 + 79], 0);
    std::remove(path.c_str());
}

TEST(SgiFile, RoundTripsOneToFourChannels) {
    unsigned seed = 0;
    for (int channels = 1; channels <= 4; ++channels) {
        for (int cols : {1, 126, 127, 128, 129, 200, 257}) {
            for (Pattern p :
                 {Pattern::kNoise, Pattern::kFlat, Pattern::kStripes, Pattern::kMixed}) {
                const std::string path = temp_path(".rgb");
                const int lines = 1 + int(seed % 3);
                auto written = write_image(path, 0, lines, cols, channels, p, ++seed);
                kivImage* image = kivOpenImage(path.c_str(), 0);
                ASSERT_NE(image, nullptr);
                EXPECT_EQ(image->format, kivFormatRgb);
                EXPECT_EQ(image->channels, channels);
                EXPECT_EQ(copy_rows(image), written) << channels << " " << cols;
                kivCloseImage(image);
                std::remove(path.c_str());
            }
        }
    }
}

namespace {

// A hand-made SGI file: header fields as given, then the rest.
std::vector<uint8_t> sgi_file(int storage, int dimension, int x, int y, int z,
                              const std::vector<uint8_t>& rest) {
    std::vector<uint8_t> b(512, 0);
    b[0] = 0x01;
    b[1] = 0xDA;
    b[2] = uint8_t(storage);
    b[3] = 1;
    b[5] = uint8_t(dimension);
    b[7] = uint8_t(x);
    b[9] = uint8_t(y);
    b[11] = uint8_t(z);
    for (uint8_t v : rest) b.push_back(v);
    return b;
}

}  // namespace

TEST(SgiFile, ReadsVerbatimStorageChannelByChannel) {
    const std::string path = temp_path(".rgb");
    // 2 x 2, two channels: channel 0 rows {1 2} {3 4}, channel 1 {5 6} {7 8}.
    write_bytes(path, sgi_file(0, 3, 2, 2, 2, {1, 2, 3, 4, 5, 6, 7, 8}));
    kivImage* image = kivOpenImage(path.c_str(), 0);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->channels, 2);
    EXPECT_EQ(copy_rows(image), (std::vector<std::vector<uint8_t>>{{1, 2, 5, 6}, {3, 4, 7, 8}}));
    std::string out = captured([&] { kivDumpHeader(image); });
    EXPECT_EQ(out,
              "RGB HEADER:\n\n  Name: \n  Width: 2\n  Height: 2\n  NumChans: 2\n"
              "  Compressed: No\n  \n");
    kivCloseImage(image);
    std::remove(path.c_str());
}

TEST(SgiFile, ShortOrOverlongRowFailsWithMessage) {
    const std::string path = temp_path(".rgb");
    // One channel, one row of 4: tables, then "3 x 9" and a zero count.
    std::vector<uint8_t> rest = {0, 0, 2, 8, 0, 0, 0, 3, 3, 9, 0};
    write_bytes(path, sgi_file(1, 3, 4, 1, 1, rest));
    kivImage* image = nullptr;
    std::string out = captured([&] { image = kivOpenImage(path.c_str(), 0); });
    EXPECT_EQ(image, nullptr);
    EXPECT_EQ(out, "***** ERROR: I did't read 4 bytes, I read 3 bytes!\n");

    rest = {0, 0, 2, 8, 0, 0, 0, 2, 5, 9};  // a run of 5 in a row of 4
    write_bytes(path, sgi_file(1, 3, 4, 1, 1, rest));
    out = captured([&] { image = kivOpenImage(path.c_str(), 0); });
    EXPECT_EQ(image, nullptr);
    EXPECT_EQ(out, "***** ERROR: I did't read 4 bytes, I read 5 bytes!\n");
    std::remove(path.c_str());
}

TEST(SgiFile, ReadsOneDimensionalAndTwoDimensionalHeaders) {
    const std::string path = temp_path(".rgb");
    // Dimension 1: one row whatever ysize says; dimension 2: one channel.
    write_bytes(path, sgi_file(0, 1, 3, 9, 9, {1, 2, 3}));
    kivImage* image = kivOpenImage(path.c_str(), 0);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->lines, 1);
    EXPECT_EQ(image->channels, 1);
    kivCloseImage(image);
    write_bytes(path, sgi_file(0, 2, 1, 2, 9, {1, 2}));
    image = kivOpenImage(path.c_str(), 0);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->lines, 2);
    EXPECT_EQ(image->channels, 1);
    kivCloseImage(image);
    std::remove(path.c_str());
}
