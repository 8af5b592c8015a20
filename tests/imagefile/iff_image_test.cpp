#include "imagefile/iff_image.h"

#include "imagefile/image_library.h"
#include "imagefile/image_support.h"

using namespace image_test;

namespace {

// One chunk as the test parses it: tag, size, offset of the data in the file.
struct Chunk {
    std::string tag;
    std::size_t size, data;
};

// Reads the chunks between begin and end, checking sizes and zero padding.
std::vector<Chunk> chunks(const Bytes& b, std::size_t begin, std::size_t end) {
    std::vector<Chunk> list;
    for (std::size_t pos = begin; pos < end;
         pos = list.back().data + (list.back().size + 3) / 4 * 4) {
        list.push_back({text_at(b, pos, 4), be32(b, pos + 4), pos + 8});
        const Chunk& c = list.back();
        EXPECT_LE(c.data + (c.size + 3) / 4 * 4, end) << c.tag;
        for (std::size_t i = c.data + c.size; i < c.data + (c.size + 3) / 4 * 4; ++i)
            EXPECT_EQ(0, b.at(i)) << "padding of " << c.tag;
    }
    return list;
}

// The TBHD header and the tile chunks of a file.
std::pair<Chunk, std::vector<Chunk>> parse(const Bytes& b) {
    EXPECT_EQ("FOR4", text_at(b, 0, 4));
    EXPECT_EQ(b.size() - 8, be32(b, 4));
    EXPECT_EQ("CIMG", text_at(b, 8, 4));
    const auto top = chunks(b, 12, b.size());
    EXPECT_EQ(2u, top.size());
    EXPECT_TRUE(top[0].tag == "TBHD" && top[0].size == 32 && top[1].tag == "FOR4");
    EXPECT_EQ("TBMP", text_at(b, top[1].data, 4));
    return {top[0], chunks(b, top[1].data + 4, top[1].data + top[1].size)};
}

// Writes a picture through the host image library: rows bottom first, four
// bytes a pixel blue, green, red, matte (type 3) or one float (type 7).
void write_il(const std::string& path, int width, int height, int type, const void* data) {
    ILimage* image = ILopen(path.c_str(), "w");
    ASSERT_NE(nullptr, image);
    EXPECT_EQ(4, ILsetsize(image, width, height) + ILsetbpp(image, 1) + ILsettype(image, type) +
                     ILctrl(image, 0x10000, 0));
    Bytes row(std::size_t(width) * 4);
    for (int y = 0; y < height; ++y) {
        const auto* p = static_cast<const unsigned char*>(data) + std::size_t(y) * width * 4;
        for (int x = 0; x < width * 4; x += 4)
            row[x] = p[x + 2], row[x + 1] = p[x + 1], row[x + 2] = p[x], row[x + 3] = p[x + 3];
        EXPECT_EQ(1, type == 3 ? ILwriteline(image, row.data(), 0) : ILwriteline(image, 0, p));
    }
    EXPECT_EQ(0, ILwriteline(image, row.data(), row.data())) << "all rows are written";
    EXPECT_EQ(1, ILclose(image));
}

Bytes picture(int width, int height, bool noise, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes rgba(std::size_t(width) * height * 4);
    for (std::size_t i = 0; i < rgba.size(); ++i)
        rgba[i] = noise ? uint8_t(rng()) : uint8_t(10 * (i % 4) + 1 + (i / 4) / 500);
    return rgba;
}

}  // namespace

TEST(IffImage, ColourFileParsedChunkByChunk) {
    TempFile file(".iff");
    const int width = 130, height = 70;  // 3 x 2 tiles, the last ones partial
    const Bytes rgba = picture(width, height, false, 1);
    write_il(file.path, width, height, 3, rgba.data());
    const Bytes b = read_bytes(file.path);
    const auto [header, tiles] = parse(b);
    const std::size_t h = header.data;
    // width, height, aspect 1/1, flags RGBA, bytes 0, 6 tiles, run-length, origin 0 0
    EXPECT_EQ((std::vector<uint32_t>{130, 70, 1, 1, 3, 0, 6, 1, 0, 0}),
              (std::vector<uint32_t>{be32(b, h), be32(b, h + 4), be16(b, h + 8), be16(b, h + 10),
                                     be32(b, h + 12), be16(b, h + 16), be16(b, h + 18),
                                     be32(b, h + 20), be32(b, h + 24), be32(b, h + 28)}));
    ASSERT_EQ(6u, tiles.size());
    const int bounds[6][4] = {{0, 0, 63, 63},  {64, 0, 127, 63},  {128, 0, 129, 63},
                              {0, 64, 63, 69}, {64, 64, 127, 69}, {128, 64, 129, 69}};
    for (int t = 0; t < 6; ++t) {
        EXPECT_EQ("RGBA", tiles[t].tag);
        for (int k = 0; k < 4; ++k) EXPECT_EQ(bounds[t][k], be16(b, tiles[t].data + 2 * k)) << t;
    }
    // The first tile is flat per channel up to pixel 500: every channel
    // codes as runs of 128, alpha first (31), then blue, green and red.
    EXPECT_LT(tiles[0].size, 8u + 64 * 64 * 4);
    EXPECT_EQ(0xFF, b[tiles[0].data + 8]);
    EXPECT_EQ(31, b[tiles[0].data + 9]);
    IffImage back;
    std::string error;
    ASSERT_TRUE(iff_read_file(file.c_str(), back, &error)) << error;
    EXPECT_TRUE(back.width == width && back.channels == 4 && back.depth.empty());
    EXPECT_EQ(rgba, back.rgba);
    // Noise does not compress: the tile is stored raw, alpha, blue, green, red.
    const Bytes noise = picture(3, 2, true, 4);
    write_il(file.path, 3, 2, 3, noise.data());
    const Bytes n = read_bytes(file.path);
    const auto raw = parse(n).second;
    ASSERT_EQ(1u, raw.size());
    ASSERT_EQ(8u + 3 * 2 * 4, raw[0].size);
    for (int i = 0; i < 6 * 4; ++i)
        EXPECT_EQ(noise[i / 4 * 4 + 3 - i % 4], n[raw[0].data + 8 + i]) << i;
}

TEST(IffImage, RoundTripsRawAndRunLengthTilesOfManySizes) {
    unsigned seed = 0;
    for (auto [width, height] :
         {std::pair<int, int>{1, 1}, {64, 64}, {65, 1}, {1, 129}, {200, 90}}) {
        for (int variant = 0; variant < 8; ++variant) {
            IffImage image, back;
            image.width = width, image.height = height, image.channels = variant & 4 ? 4 : 3;
            image.rgba = picture(width, height, variant & 1, ++seed);
            if (image.channels == 3)
                for (std::size_t i = 3; i < image.rgba.size(); i += 4) image.rgba[i] = 255;
            Bytes bytes;
            ASSERT_TRUE(iff_encode(image, variant & 2, bytes));
            std::string error;
            ASSERT_TRUE(iff_decode(bytes.data(), bytes.size(), back, &error)) << error;
            EXPECT_EQ(image.channels, back.channels);
            EXPECT_EQ(image.rgba, back.rgba) << width << "x" << height << " variant " << variant;
        }
    }
    // The run-length code of one channel.
    Bytes out;
    iff_rle_encode(Bytes(200, 7).data(), 200, out);
    const Bytes mixed = {1, 2, 2, 3, 3, 3, 4};
    iff_rle_encode(mixed.data(), mixed.size(), out);
    EXPECT_EQ((Bytes{0xFF, 7, 0x80 | 71, 7, 2, 1, 2, 2, 0x82, 3, 0, 4}), out);
}

TEST(IffImage, DepthFileHasRawZbufTiles) {
    TempFile file(".iff");
    const int width = 66, height = 2;
    std::vector<float> depth;
    for (int i = 0; i < width * height; ++i)
        depth.push_back(-1.0f / float(1 + i % width + 100 * (i / width)));
    write_il(file.path, width, height, 7, depth.data());
    const Bytes b = read_bytes(file.path);
    const auto [header, tiles] = parse(b);
    // Flags depth, two tiles, raw.
    EXPECT_EQ((std::vector<uint32_t>{4, 2, 0}),
              (std::vector<uint32_t>{be32(b, header.data + 12), be16(b, header.data + 18),
                                     be32(b, header.data + 20)}));
    ASSERT_EQ(2u, tiles.size());
    EXPECT_TRUE(tiles[0].tag == "ZBUF" && tiles[0].size == 8u + 64 * 2 * 4 &&
                tiles[1].size == 8u + 2 * 2 * 4);
    uint32_t bits;
    std::memcpy(&bits, &depth[width], 4);
    EXPECT_EQ(bits, be32(b, tiles[0].data + 8 + 64 * 4)) << "row 1 follows row 0 in the tile";
    IffImage back;
    ASSERT_TRUE(iff_read_file(file.c_str(), back));
    EXPECT_TRUE(back.channels == 0 && back.depth == depth);
}

TEST(ImageLibrary, RefusesWhatItCannotWrite) {
    EXPECT_EQ(nullptr, ILopen(temp_path("_no_dir/x.iff").c_str(), "w"));
    EXPECT_EQ(nullptr, ILopen(temp_path(".iff").c_str(), "r"));
    EXPECT_EQ(nullptr, ILopen(nullptr, "w"));
    EXPECT_EQ(0,
              ILsetsize(nullptr, 1, 1) + ILwriteline(nullptr, nullptr, nullptr) + ILclose(nullptr));
    TempFile file(".iff");
    ILimage* image = ILopen(file.c_str(), "w");
    ASSERT_NE(nullptr, image);
    // No size, more than 65535 tiles, two bytes a channel, an unknown type.
    EXPECT_EQ(0, ILsetsize(image, 0, 5) + ILsetsize(image, 20000, 20000) + ILsetbpp(image, 2) +
                     ILsettype(image, 5));
    EXPECT_EQ(1, ILsetsize(image, 2, 3));
    const unsigned char row[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(0, ILwriteline(image, nullptr, row)) << "a colour image needs a colour row";
    EXPECT_EQ(1, ILwriteline(image, row, nullptr));
    EXPECT_EQ(0, ILsettype(image, 7)) << "too late to change";
    EXPECT_EQ(1, ILclose(image));
    IffImage back;
    ASSERT_TRUE(iff_read_file(file.c_str(), back));
    Bytes expected = {3, 2, 1, 4, 7, 6, 5, 8};
    expected.resize(24, 0);  // rows never written stay zero
    EXPECT_EQ(expected, back.rgba);
    // A handle closed without a size leaves no file behind.
    std::remove(file.c_str());
    EXPECT_EQ(0, ILclose(ILopen(file.c_str(), "w")));
    EXPECT_EQ(nullptr, std::fopen(file.c_str(), "rb"));
}

TEST(IffImage, TruncatedAndDamagedFilesFailCleanly) {
    IffImage image, back;
    image.width = 70, image.height = 3, image.channels = 4;
    image.rgba = picture(70, 3, false, 3);
    image.depth.assign(70 * 3, 2.0f);
    Bytes bytes;
    ASSERT_TRUE(iff_encode(image, true, bytes));
    ASSERT_TRUE(iff_decode(bytes.data(), bytes.size(), back));
    EXPECT_TRUE(image.rgba == back.rgba && image.depth == back.depth);
    for (std::size_t length = 0; length < bytes.size(); ++length) {
        const Bytes cut(bytes.begin(), bytes.begin() + length);  // the sanitizer sees its end
        EXPECT_FALSE(iff_decode(cut.data(), cut.size(), back)) << length;
        EXPECT_EQ(0, back.width);
    }
    std::mt19937 rng(99);
    int decoded = 0;
    for (int i = 0; i < 2000; ++i) {
        Bytes damaged = bytes;
        const std::size_t limit = rng() % 2 ? 80 : damaged.size();
        damaged[rng() % limit] ^= uint8_t(1 + rng() % 255);
        if (!iff_decode(damaged.data(), damaged.size(), back)) continue;
        ++decoded;
        EXPECT_EQ(back.channels ? std::size_t(back.width) * back.height * 4 : 0u, back.rgba.size());
    }
    EXPECT_GT(decoded, 0);
}
