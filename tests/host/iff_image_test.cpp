#include "host/iff_image.h"

#include "host/image_library.h"
#include "imagefile/image_support.h"

#include <cmath>

using namespace image_test;

namespace {

// One chunk as the test parses it.
struct Chunk {
    std::string tag;
    std::size_t size;
    std::size_t data;  // offset of the data in the file
};

// Reads the chunks between begin and end, checking sizes and zero padding.
std::vector<Chunk> chunks(const std::vector<uint8_t>& b, std::size_t begin, std::size_t end) {
    std::vector<Chunk> list;
    std::size_t pos = begin;
    while (pos < end) {
        Chunk c{std::string(b.begin() + pos, b.begin() + pos + 4), be32(b, pos + 4), pos + 8};
        EXPECT_LE(c.data + c.size, end) << c.tag;
        const std::size_t padded = (c.size + 3) / 4 * 4;
        for (std::size_t i = c.data + c.size; i < c.data + padded; ++i)
            EXPECT_EQ(b.at(i), 0) << "padding of " << c.tag;
        list.push_back(c);
        pos = c.data + padded;
    }
    EXPECT_EQ(pos, end);
    return list;
}

// Writes a colour picture through the host image library: rows bottom
// first, four bytes a pixel blue, green, red, matte.
void write_colour(const std::string& path, int width, int height,
                  const std::vector<unsigned char>& rgba) {
    ILimage* image = ILopen(path.c_str(), "w");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(ILsetsize(image, width, height), 1);
    EXPECT_EQ(ILsetbpp(image, 1), 1);
    EXPECT_EQ(ILsettype(image, 3), 1);
    EXPECT_EQ(ILctrl(image, 0x10000, 0), 1);
    std::vector<unsigned char> row(std::size_t(width) * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned char* p = &rgba[(std::size_t(y) * width + x) * 4];
            unsigned char* q = &row[std::size_t(x) * 4];
            q[0] = p[2];
            q[1] = p[1];
            q[2] = p[0];
            q[3] = p[3];
        }
        EXPECT_EQ(ILwriteline(image, row.data(), 0), 1);
    }
    EXPECT_EQ(ILclose(image), 1);
}

std::vector<unsigned char> picture(int width, int height, bool noise, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<unsigned char> rgba(std::size_t(width) * height * 4);
    for (std::size_t i = 0; i < rgba.size(); ++i)
        rgba[i] = noise ? uint8_t(rng()) : uint8_t(10 * (i % 4) + 1 + (i / 4) / 500);
    return rgba;
}

}  // namespace

TEST(IffImage, ColourFileParsedChunkByChunk) {
    const std::string path = temp_path(".iff");
    const int width = 130, height = 70;  // 3 x 2 tiles, the last ones partial
    const auto rgba = picture(width, height, false, 1);
    write_colour(path, width, height, rgba);
    const std::vector<uint8_t> b = read_bytes(path);

    ASSERT_GE(b.size(), 12u);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "FOR4");
    EXPECT_EQ(be32(b, 4), b.size() - 8);
    EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 12), "CIMG");
    const auto top = chunks(b, 12, b.size());
    ASSERT_EQ(top.size(), 2u);
    ASSERT_EQ(top[0].tag, "TBHD");
    ASSERT_EQ(top[0].size, 32u);
    const std::size_t h = top[0].data;
    EXPECT_EQ(be32(b, h), 130u);
    EXPECT_EQ(be32(b, h + 4), 70u);
    EXPECT_EQ(be16(b, h + 8), 1);
    EXPECT_EQ(be16(b, h + 10), 1);
    EXPECT_EQ(be32(b, h + 12), 3u);  // RGBA
    EXPECT_EQ(be16(b, h + 16), 0);
    EXPECT_EQ(be16(b, h + 18), 6);
    EXPECT_EQ(be32(b, h + 20), 1u);  // run-length
    EXPECT_EQ(be32(b, h + 24), 0u);
    EXPECT_EQ(be32(b, h + 28), 0u);
    ASSERT_EQ(top[1].tag, "FOR4");
    EXPECT_EQ(std::string(b.begin() + top[1].data, b.begin() + top[1].data + 4), "TBMP");

    const auto tiles = chunks(b, top[1].data + 4, top[1].data + top[1].size);
    ASSERT_EQ(tiles.size(), 6u);
    const int bounds[6][4] = {{0, 0, 63, 63},  {64, 0, 127, 63},  {128, 0, 129, 63},
                              {0, 64, 63, 69}, {64, 64, 127, 69}, {128, 64, 129, 69}};
    for (int t = 0; t < 6; ++t) {
        EXPECT_EQ(tiles[t].tag, "RGBA");
        for (int k = 0; k < 4; ++k) EXPECT_EQ(be16(b, tiles[t].data + 2 * k), bounds[t][k]) << t;
    }
    // The first tile is flat per channel up to pixel 500: every channel
    // codes as runs of 128, alpha first, then blue, green and red.
    const std::size_t code = tiles[0].data + 8;
    EXPECT_LT(tiles[0].size, 8u + 64 * 64 * 4);
    EXPECT_EQ(b[code], 0xFF);
    EXPECT_EQ(b[code + 1], 31);  // alpha of the first pixel
    IffImage back;
    std::string error;
    ASSERT_TRUE(iff_read_file(path.c_str(), back, &error)) << error;
    EXPECT_EQ(back.width, width);
    EXPECT_EQ(back.channels, 4);
    EXPECT_EQ(back.rgba, rgba);
    EXPECT_TRUE(back.depth.empty());
    std::remove(path.c_str());
}

TEST(IffImage, NoisyTilesAreStoredRawInAlphaBlueGreenRedOrder) {
    const std::string path = temp_path(".iff");
    const auto rgba = picture(3, 2, true, 4);
    write_colour(path, 3, 2, rgba);
    const std::vector<uint8_t> b = read_bytes(path);
    const auto top = chunks(b, 12, b.size());
    const auto tiles = chunks(b, top[1].data + 4, top[1].data + top[1].size);
    ASSERT_EQ(tiles.size(), 1u);
    ASSERT_EQ(tiles[0].size, 8u + 3 * 2 * 4) << "noise does not compress";
    const std::size_t data = tiles[0].data + 8;
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(b[data + 4 * i + 0], rgba[4 * i + 3]) << i;
        EXPECT_EQ(b[data + 4 * i + 1], rgba[4 * i + 2]) << i;
        EXPECT_EQ(b[data + 4 * i + 2], rgba[4 * i + 1]) << i;
        EXPECT_EQ(b[data + 4 * i + 3], rgba[4 * i + 0]) << i;
    }
    IffImage back;
    ASSERT_TRUE(iff_read_file(path.c_str(), back));
    EXPECT_EQ(back.rgba, rgba);
    std::remove(path.c_str());
}

TEST(IffImage, RoundTripsRawAndRunLengthTilesOfManySizes) {
    unsigned seed = 0;
    for (auto size : {std::pair<int, int>{1, 1}, {64, 64}, {65, 1}, {1, 129}, {200, 90}}) {
        for (bool noise : {false, true}) {
            for (bool runLength : {false, true}) {
                for (int channels : {3, 4}) {
                    IffImage image;
                    image.width = size.first;
                    image.height = size.second;
                    image.channels = channels;
                    image.rgba = picture(size.first, size.second, noise, ++seed);
                    if (channels == 3)
                        for (std::size_t i = 3; i < image.rgba.size(); i += 4) image.rgba[i] = 255;
                    std::vector<uint8_t> bytes;
                    ASSERT_TRUE(iff_encode(image, runLength, bytes));
                    IffImage back;
                    std::string error;
                    ASSERT_TRUE(iff_decode(bytes.data(), bytes.size(), back, &error)) << error;
                    EXPECT_EQ(back.channels, channels);
                    EXPECT_EQ(back.rgba, image.rgba) << size.first << "x" << size.second << " "
                                                     << noise << runLength << channels;
                }
            }
        }
    }
}

TEST(IffImage, RunLengthCodeOfOneChannel) {
    std::vector<uint8_t> out;
    iff_rle_encode(std::vector<uint8_t>(200, 7).data(), 200, out);
    EXPECT_EQ(out, (std::vector<uint8_t>{0xFF, 7, 0x80 | 71, 7}));
    out.clear();
    const std::vector<uint8_t> mixed = {1, 2, 2, 3, 3, 3, 4};
    iff_rle_encode(mixed.data(), mixed.size(), out);
    EXPECT_EQ(out, (std::vector<uint8_t>{2, 1, 2, 2, 0x82, 3, 0, 4}));
}

TEST(IffImage, DepthFileHasRawZbufTiles) {
    const std::string path = temp_path(".iff");
    const int width = 66, height = 2;
    ILimage* image = ILopen(path.c_str(), "w");
    ASSERT_NE(image, nullptr);
    ILsetsize(image, width, height);
    ILsetbpp(image, 1);
    EXPECT_EQ(ILsettype(image, 7), 1);
    ILctrl(image, 0x10000, 0);
    std::vector<float> rows[2];
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) rows[y].push_back(-1.0f / float(1 + x + 100 * y));
        EXPECT_EQ(ILwriteline(image, 0, rows[y].data()), 1);
    }
    EXPECT_EQ(ILwriteline(image, 0, rows[0].data()), 0) << "all rows are written";
    EXPECT_EQ(ILclose(image), 1);

    const std::vector<uint8_t> b = read_bytes(path);
    const auto top = chunks(b, 12, b.size());
    EXPECT_EQ(be32(b, top[0].data + 12), 4u);  // depth
    EXPECT_EQ(be16(b, top[0].data + 18), 2);
    EXPECT_EQ(be32(b, top[0].data + 20), 0u);  // raw
    const auto tiles = chunks(b, top[1].data + 4, top[1].data + top[1].size);
    ASSERT_EQ(tiles.size(), 2u);
    EXPECT_EQ(tiles[0].tag, "ZBUF");
    EXPECT_EQ(tiles[0].size, 8u + 64 * 2 * 4);
    EXPECT_EQ(tiles[1].size, 8u + 2 * 2 * 4);
    uint32_t bits;
    std::memcpy(&bits, &rows[1][0], 4);
    EXPECT_EQ(be32(b, tiles[0].data + 8 + 64 * 4), bits) << "row 1 follows row 0 in the tile";

    IffImage back;
    ASSERT_TRUE(iff_read_file(path.c_str(), back));
    EXPECT_EQ(back.channels, 0);
    ASSERT_EQ(back.depth.size(), std::size_t(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) EXPECT_EQ(back.depth[y * width + x], rows[y][x]);
    std::remove(path.c_str());
}

TEST(ImageLibrary, RefusesWhatItCannotWrite) {
    EXPECT_EQ(ILopen(temp_path("_no_dir/x.iff").c_str(), "w"), nullptr);
    EXPECT_EQ(ILopen(temp_path(".iff").c_str(), "r"), nullptr);
    EXPECT_EQ(ILopen(nullptr, "w"), nullptr);
    EXPECT_EQ(ILsetsize(nullptr, 1, 1), 0);
    EXPECT_EQ(ILwriteline(nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(ILclose(nullptr), 0);

    const std::string path = temp_path(".iff");
    ILimage* image = ILopen(path.c_str(), "w");
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(ILsetsize(image, 0, 5), 0);
    EXPECT_EQ(ILsetsize(image, 20000, 20000), 0) << "more than 65535 tiles";
    EXPECT_EQ(ILsetbpp(image, 2), 0);
    EXPECT_EQ(ILsettype(image, 5), 0);
    EXPECT_EQ(ILsetsize(image, 2, 3), 1);
    const unsigned char row[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(ILwriteline(image, nullptr, row), 0) << "a colour image needs a colour row";
    EXPECT_EQ(ILwriteline(image, row, nullptr), 1);
    EXPECT_EQ(ILsettype(image, 7), 0) << "too late to change";
    // Rows never written stay zero.
    EXPECT_EQ(ILclose(image), 1);
    IffImage back;
    ASSERT_TRUE(iff_read_file(path.c_str(), back));
    EXPECT_EQ(back.rgba, (std::vector<unsigned char>{3, 2, 1, 4, 7, 6, 5, 8, 0, 0, 0, 0,
                                                     0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

    // A handle closed without a size leaves no file behind.
    image = ILopen(path.c_str(), "w");
    EXPECT_EQ(ILclose(image), 0);
    EXPECT_TRUE(read_bytes(path).empty());
    EXPECT_EQ(std::fopen(path.c_str(), "rb"), nullptr);
}

TEST(IffImage, TruncatedAndDamagedFilesFailCleanly) {
    IffImage image;
    image.width = 70;
    image.height = 3;
    image.channels = 4;
    image.rgba = picture(70, 3, false, 3);
    image.depth.assign(70 * 3, 2.0f);
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(iff_encode(image, true, bytes));
    IffImage back;
    ASSERT_TRUE(iff_decode(bytes.data(), bytes.size(), back));
    EXPECT_EQ(back.rgba, image.rgba);
    EXPECT_EQ(back.depth, image.depth);
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + length);
        EXPECT_FALSE(iff_decode(cut.data(), cut.size(), back)) << length;
        EXPECT_EQ(back.width, 0);
    }
    std::mt19937 rng(99);
    int decoded = 0;
    for (int i = 0; i < 2000; ++i) {
        std::vector<uint8_t> damaged = bytes;
        const std::size_t limit = rng() % 2 ? 80 : damaged.size();
        damaged[rng() % limit] ^= uint8_t(1 + rng() % 255);
        if (iff_decode(damaged.data(), damaged.size(), back)) {
            ++decoded;
            EXPECT_EQ(back.rgba.size(),
                      back.channels ? std::size_t(back.width) * back.height * 4 : 0u);
        }
    }
    EXPECT_GT(decoded, 0);
}
