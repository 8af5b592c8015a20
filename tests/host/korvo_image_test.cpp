#include "host/korvo_image.h"

#include "host/iff_image.h"
#include "host/image_library.h"
#include "imagefile/image_support.h"
#include "imagefile/png_file.h"

#include <filesystem>

using namespace image_test;

namespace {

// Reads a picture; empty on failure.
std::vector<unsigned char> read_picture(const std::string& path, unsigned& w, unsigned& h) {
    KorvoImage image;
    std::vector<unsigned char> pixels;
    if (image.readFromFile(path.c_str(), KorvoImage::kByte).error()) {
        EXPECT_EQ(image.pixels(), nullptr);
        return pixels;
    }
    image.getSize(w, h);
    pixels.assign(image.pixels(), image.pixels() + std::size_t(w) * h * 4);
    return pixels;
}

// The RGBA a front-end image's rows describe, row 0 first.
std::vector<unsigned char> expected_rgba(const std::vector<std::vector<uint8_t>>& rows, int cols,
                                         int channels) {
    std::vector<unsigned char> rgba;
    for (const auto& row : rows) {
        for (int x = 0; x < cols; ++x) {
            for (int c = 0; c < 3; ++c) rgba.push_back(row[(channels >= 3 ? c : 0) * cols + x]);
            rgba.push_back(channels >= 4 ? row[3 * cols + x] : channels == 2 ? row[cols + x] : 255);
        }
    }
    return rgba;
}

}  // namespace

TEST(KorvoImage, ReadsFrontEndFormatsByContentNotName) {
    struct Case {
        int type, channels;
    };
    const Case cases[] = {{kivFormatRla, 4}, {kivFormatRla, 3}, {kivFormatRla, 5},
                          {kivFormatPic, 3}, {kivFormatPic, 4}, {kivFormatRgb, 1},
                          {kivFormatRgb, 2}, {kivFormatRgb, 3}, {kivFormatRgb, 4}};
    for (const Case& c : cases) {
        // The name's extension says nothing: the first bytes decide.
        const std::string path = temp_path(".tex");
        auto rows = write_image(path, c.type, 3, 5, c.channels, Pattern::kNoise, unsigned(c.type));
        unsigned w = 0, h = 0;
        const auto pixels = read_picture(path, w, h);
        EXPECT_EQ(w, 5u) << c.type << " " << c.channels;
        EXPECT_EQ(h, 3u);
        EXPECT_EQ(pixels, expected_rgba(rows, 5, c.channels)) << c.type << " " << c.channels;
        std::remove(path.c_str());
    }
}

TEST(KorvoImage, ReadsIffFromTheImageLibrary) {
    const std::string path = temp_path(".dat");
    ILimage* il = ILopen(path.c_str(), "w");
    ASSERT_NE(il, nullptr);
    ILsetsize(il, 2, 2);
    ILsetbpp(il, 1);
    ILsettype(il, 3);
    ILctrl(il, 0x10000, 0);
    const unsigned char bottom[8] = {1, 2, 3, 4, 5, 6, 7, 8};  // blue, green, red, matte
    const unsigned char top[8] = {9, 10, 11, 12, 13, 14, 15, 16};
    ILwriteline(il, bottom, 0);
    ILwriteline(il, top, 0);
    ILclose(il);
    unsigned w = 0, h = 0;
    EXPECT_EQ(read_picture(path, w, h),
              (std::vector<unsigned char>{3, 2, 1, 4, 7, 6, 5, 8, 11, 10, 9, 12, 15, 14, 13, 16}));
    std::remove(path.c_str());
}

TEST(KorvoImage, ReadsRgbIffAndPngBottomRowFirst) {
    IffImage rgb;
    rgb.width = 1;
    rgb.height = 2;
    rgb.channels = 3;
    rgb.rgba = {1, 2, 3, 255, 4, 5, 6, 255};
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(iff_encode(rgb, false, bytes));
    const std::string path = temp_path(".iff");
    write_bytes(path, bytes);
    unsigned w = 0, h = 0;
    EXPECT_EQ(read_picture(path, w, h), rgb.rgba);

    const std::string png = temp_path(".png");
    const unsigned char rgba[8] = {255, 0, 0, 128, 0, 0, 255, 255};  // bottom red, top blue
    ASSERT_TRUE(png_write_rgba(png.c_str(), 1, 2, rgba));
    EXPECT_EQ(read_picture(png, w, h), std::vector<unsigned char>(rgba, rgba + 8));
    EXPECT_EQ(h, 2u);
    std::remove(png.c_str());
    std::remove(path.c_str());
}

TEST(KorvoImage, RecognisesFormatsFromFirstBytes) {
    using korvo_host::picture_format_of;
    using korvo_host::PictureFormat;
    const uint8_t pic[] = {0x53, 0x80, 0xF6, 0x34};
    const uint8_t sgi[] = {0x01, 0xDA, 0, 0};
    const uint8_t png[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const uint8_t iff[] = {'F', 'O', 'R', '4', 0, 0, 0, 4, 'C', 'I', 'M', 'G'};
    EXPECT_EQ(picture_format_of(pic, 4), PictureFormat::kPic);
    EXPECT_EQ(picture_format_of(sgi, 4), PictureFormat::kSgi);
    EXPECT_EQ(picture_format_of(png, 8), PictureFormat::kPng);
    EXPECT_EQ(picture_format_of(png, 7), PictureFormat::kUnknown);
    EXPECT_EQ(picture_format_of(iff, 12), PictureFormat::kIff);
    EXPECT_EQ(picture_format_of(iff, 11), PictureFormat::kUnknown);
    std::vector<uint8_t> text(800, ' ');
    EXPECT_EQ(picture_format_of(text.data(), text.size()), PictureFormat::kUnknown);
    EXPECT_EQ(picture_format_of(nullptr, 0), PictureFormat::kUnknown);
}

TEST(KorvoImage, MissingUnknownAndWrongTypeAreFailedReads) {
    KorvoImage image;
    EXPECT_TRUE(image.readFromFile(temp_path("_missing.rla").c_str()).error());
    EXPECT_TRUE(image.readFromFile(testing::TempDir().c_str()).error());
    const std::string path = temp_path(".rla");
    write_image(path, kivFormatRla, 2, 2, 4, Pattern::kFlat, 1);
    EXPECT_EQ(image.readFromFile(path.c_str(), KorvoImage::kFloat).statusCode(),
              KorvoStatus::kInvalidParameter);
    ASSERT_FALSE(image.readFromFile(path.c_str()).error());
    EXPECT_EQ(image.pixelType(), KorvoImage::kByte);
    // A failed read leaves the image empty.
    write_bytes(path, std::vector<uint8_t>(2000, 'x'));
    EXPECT_TRUE(image.readFromFile(path.c_str()).error());
    unsigned w = 1, h = 1;
    image.getSize(w, h);
    EXPECT_EQ(w, 0u);
    EXPECT_EQ(h, 0u);
    EXPECT_EQ(image.pixels(), nullptr);
    std::remove(path.c_str());
}

TEST(KorvoImage, DamagedFilesOfEveryFormatAreFailedReads) {
    // Valid small files of each format, then every truncation and random
    // flips: the read fails or gives a consistent picture, never crashes.
    std::vector<std::string> files;
    for (const char* ext : {".rla", ".rgb", ".pic"}) {
        files.push_back(temp_path(ext));
        write_image(files.back(), 0, 3, 7, ext[1] == 'p' ? 4 : 3, Pattern::kMixed, 2);
    }
    files.push_back(temp_path(".png"));
    const std::vector<unsigned char> rgba(7 * 3 * 4, 90);
    png_write_rgba(files.back().c_str(), 7, 3, rgba.data());
    files.push_back(temp_path(".iff"));
    ILimage* il = ILopen(files.back().c_str(), "w");
    ILsetsize(il, 7, 3);
    ILsettype(il, 3);
    for (int y = 0; y < 3; ++y) ILwriteline(il, rgba.data(), 0);
    ILclose(il);

    std::mt19937 rng(5);
    const std::string damagedPath = temp_path(".bad");
    captured([&] {
        for (const std::string& file : files) {
            const std::vector<uint8_t> bytes = read_bytes(file);
            unsigned w = 0, h = 0;
            ASSERT_FALSE(read_picture(file, w, h).empty()) << file;
            for (std::size_t length = 0; length + 12 < bytes.size(); ++length) {
                write_bytes(damagedPath,
                            std::vector<uint8_t>(bytes.begin(), bytes.begin() + length));
                EXPECT_TRUE(read_picture(damagedPath, w, h).empty()) << file << " " << length;
            }
            for (int i = 0; i < 300; ++i) {
                std::vector<uint8_t> damaged = bytes;
                damaged[rng() % damaged.size()] ^= uint8_t(1 + rng() % 255);
                write_bytes(damagedPath, damaged);
                const auto pixels = read_picture(damagedPath, w, h);
                if (!pixels.empty()) {
                    EXPECT_EQ(pixels.size(), std::size_t(w) * h * 4);
                }
            }
        }
    });
    for (const std::string& file : files) std::remove(file.c_str());
    std::remove(damagedPath.c_str());
}

TEST(KorvoImage, BrokenFilesFromTheDataFolderAreFailedReads) {
    const std::filesystem::path folder = std::filesystem::path(KORVO_TEST_DATA) / "imagefile";
    int tried = 0;
    captured([&] {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            if (entry.path().extension() == ".md") continue;
            ++tried;
            KorvoImage image;
            EXPECT_TRUE(image.readFromFile(entry.path().c_str()).error()) << entry.path();
        }
    });
    EXPECT_GE(tried, 30);
}
