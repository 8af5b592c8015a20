#include "imagefile/korvo_image.h"

#include "imagefile/iff_image.h"
#include "imagefile/image_support.h"
#include "imagefile/png_file.h"

#include <filesystem>

using namespace image_test;

namespace {

// Reads a picture; empty on failure, which must leave the image empty too.
Bytes read_picture(const std::string& path, unsigned& w, unsigned& h) {
    KorvoImage image;
    if (image.readFromFile(path.c_str(), KorvoImage::kByte).error()) {
        image.getSize(w, h);
        EXPECT_EQ(0u, w | h);
        EXPECT_EQ(nullptr, image.pixels());
        return {};
    }
    image.getSize(w, h);
    return Bytes(image.pixels(), image.pixels() + std::size_t(w) * h * 4);
}

}  // namespace

TEST(KorvoImage, ReadsFrontEndFormatsByContentNotName) {
    const std::pair<int, int> cases[] = {{kivFormatRla, 4}, {kivFormatRla, 3}, {kivFormatRla, 5},
                                         {kivFormatPic, 3}, {kivFormatPic, 4}, {kivFormatRgb, 1},
                                         {kivFormatRgb, 2}, {kivFormatRgb, 3}, {kivFormatRgb, 4}};
    for (const auto& [type, channels] : cases) {
        // The name's extension says nothing: the first bytes decide.
        TempFile file(".tex");
        const Rows rows =
            write_image(file.path, type, 3, 5, channels, Pattern::kNoise, unsigned(type));
        // Grey files give grey RGB; files without alpha give 255.
        Bytes expected;
        for (const Bytes& row : rows) {
            for (int x = 0; x < 5; ++x) {
                for (int c = 0; c < 3; ++c)
                    expected.push_back(row[(channels >= 3 ? c : 0) * 5 + x]);
                expected.push_back(channels >= 4 ? row[15 + x] : channels == 2 ? row[5 + x] : 255);
            }
        }
        unsigned w = 0, h = 0;
        EXPECT_EQ(expected, read_picture(file.path, w, h)) << type << " " << channels;
        EXPECT_EQ(5u, w);
        EXPECT_EQ(3u, h);
    }
}

TEST(KorvoImage, ReadsIffAndPngBottomRowFirst) {
    TempFile iff(".dat"), png(".png");
    // Two rows of an IFF picture, the bottom one (read first) 1 2 3 / 4 5 6.
    IffImage rgb;
    rgb.width = 1, rgb.height = 2, rgb.channels = 3;
    rgb.rgba = {1, 2, 3, 255, 4, 5, 6, 255};
    Bytes bytes;
    ASSERT_TRUE(iff_encode(rgb, true, bytes));
    write_bytes(iff.path, bytes);
    unsigned w = 0, h = 0;
    EXPECT_EQ(rgb.rgba, read_picture(iff.path, w, h));
    // A depth-only picture has no colours to give.
    rgb.channels = 0;
    rgb.depth = {1.0f, 2.0f};
    ASSERT_TRUE(iff_encode(rgb, false, bytes));
    write_bytes(iff.path, bytes);
    EXPECT_TRUE(read_picture(iff.path, w, h).empty());

    const unsigned char rgba[8] = {255, 0, 0, 128, 0, 0, 255, 255};  // bottom red, top blue
    ASSERT_TRUE(png_write_rgba(png.c_str(), 1, 2, rgba));
    EXPECT_EQ(Bytes(rgba, rgba + 8), read_picture(png.path, w, h));
    EXPECT_EQ(2u, h);
}

TEST(KorvoImage, RecognisesFormatsFromFirstBytes) {
    using korvo_host::PictureFormat;
    const Bytes iff = {'F', 'O', 'R', '4', 0, 0, 0, 4, 'C', 'I', 'M', 'G'};
    const Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const std::pair<Bytes, PictureFormat> cases[] = {
        {{0x53, 0x80, 0xF6, 0x34}, PictureFormat::kPic},
        {{0x01, 0xDA, 0, 0}, PictureFormat::kSgi},
        {png, PictureFormat::kPng},
        {Bytes(png.begin(), png.end() - 1), PictureFormat::kUnknown},
        {iff, PictureFormat::kIff},
        {Bytes(iff.begin(), iff.end() - 1), PictureFormat::kUnknown},
        {Bytes(800, ' '), PictureFormat::kUnknown},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(cases[i].second,
                  korvo_host::picture_format_of(cases[i].first.data(), cases[i].first.size()))
            << i;
    EXPECT_EQ(PictureFormat::kUnknown, korvo_host::picture_format_of(nullptr, 0));
}

TEST(KorvoImage, MissingUnknownAndWrongTypeAreFailedReads) {
    KorvoImage image;
    EXPECT_TRUE(image.readFromFile(temp_path("_missing.rla").c_str()).error());
    EXPECT_TRUE(image.readFromFile(testing::TempDir().c_str()).error());
    TempFile file(".rla");
    write_image(file.path, kivFormatRla, 2, 2, 4, Pattern::kFlat, 1);
    EXPECT_EQ(KorvoStatus::kInvalidParameter,
              image.readFromFile(file.c_str(), KorvoImage::kFloat).statusCode());
    ASSERT_FALSE(image.readFromFile(file.c_str()).error());
    EXPECT_EQ(KorvoImage::kByte, image.pixelType());
    write_bytes(file.path, Bytes(2000, 'x'));
    unsigned w = 1, h = 1;
    EXPECT_TRUE(read_picture(file.path, w, h).empty());
}

TEST(KorvoImage, BrokenFilesFromTheDataFolderAreFailedReads) {
    int tried = 0;
    captured([&] {
        for (const auto& entry : std::filesystem::directory_iterator(
                 std::filesystem::path(KORVO_TEST_DATA) / "imagefile")) {
            if (entry.path().extension() == ".md") continue;
            ++tried;
            unsigned w = 1, h = 1;
            EXPECT_TRUE(read_picture(entry.path(), w, h).empty()) << entry.path();
        }
    });
    EXPECT_GE(tried, 30);
}
