// The exact bytes the writers choose: run-length codes where a format
// allows several, header fields at their offsets, and the header dumps.
#include "image_support.h"
#include "imagefile/iff_image.h"
#include "imagefile/image_library.h"
#include "imagefile/pic.h"
#include "imagefile/rla.h"
#include "imagefile/sgi.h"

#include <unistd.h>

#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <tuple>

using namespace image_test;

namespace {

// The bytes of the run-length table: numbers, v*n for n bytes v, a..b for
// the bytes a to b (modulo 256).
Bytes parse_bytes(const std::string& text) {
    Bytes out;
    std::istringstream in(text);
    for (std::string t; in >> t;) {
        const std::size_t star = t.find('*'), dots = t.find("..");
        const long v = std::stol(t, nullptr, 0);
        if (star != std::string::npos)
            out.insert(out.end(), std::stoul(t.substr(star + 1)), uint8_t(v));
        for (long k = v; dots != std::string::npos && k <= std::stol(t.substr(dots + 2)); ++k)
            out.push_back(uint8_t(k));
        if (star == std::string::npos && dots == std::string::npos) out.push_back(uint8_t(v));
    }
    return out;
}

}  // namespace

// run_length.txt holds every encoder's exact code for runs, literals and
// the packet limits around them.
TEST(RunLengthCodes, ExactBytesOfEveryEncoder) {
    using Encode = std::function<bool(const Bytes&, Bytes&)>;
    const std::map<std::string, Encode> encoders = {
        {"rla", [](const Bytes& in,
                   Bytes& out) { return rla_encode_channel(in.data(), int(in.size()), 0, out); }},
        {"sgi", [](const Bytes& in,
                   Bytes& out) { return sgi_encode_row(in.data(), int(in.size()), out); }},
        {"pic",
         [](const Bytes& in, Bytes& out) {
             const unsigned char* planes[1] = {in.data()};
             return pic_encode_packet(planes, 1, int(in.size()), out);
         }},
        {"iff", [](const Bytes& in, Bytes& out) {
             iff_rle_encode(in.data(), in.size(), out);
             return true;
         }}};
    std::ifstream table(std::string(KORVO_TEST_DATA) + "/imagefile/run_length.txt");
    int cases = 0;
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line[0] == '#') continue;
        ++cases;
        const std::size_t colon = line.find(':'), arrow = line.find("->");
        Bytes out;
        EXPECT_TRUE(encoders.at(line.substr(0, colon))(
            parse_bytes(line.substr(colon + 1, arrow - colon - 1)), out));
        EXPECT_EQ(parse_bytes(line.substr(arrow + 2)), out) << line;
    }
    EXPECT_EQ(29, cases);
    // PIC colour pixels are whole pixels: equal in one channel only is not a repeat.
    const unsigned char p0[] = {1, 1, 1, 4}, p1[] = {2, 2, 2, 5}, p2[] = {3, 3, 4, 6};
    const unsigned char* planes[3] = {p0, p1, p2};
    Bytes out;
    ASSERT_TRUE(pic_encode_packet(planes, 3, 4, out));
    EXPECT_EQ((Bytes{129, 1, 2, 3, 1, 1, 2, 4, 4, 5, 6}), out);
}

TEST(RlaLayout, HeaderFieldsAtTheirOffsets) {
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
        char host[256] = "";
        gethostname(host, sizeof host - 1);
        std::ifstream table(std::string(KORVO_TEST_DATA) + "/imagefile/rla_header.txt");
        int fields = 0;
        for (std::string line; std::getline(table, line);) {
            std::istringstream in(line);
            std::size_t at = 0, size = 0;
            std::string values;
            if (line[0] == '#' || !std::getline(in >> at >> size >> std::ws, values)) continue;
            const std::size_t bar = values.find('|');
            std::string want = depth ? values.substr(0, bar) : values.substr(bar + 1);
            if (want == "$NAME") want = file.path.substr(0, 127);
            if (want == "$HOST") want = std::string(host).substr(0, 31);
            ++fields;
            EXPECT_EQ(want, size == 2 ? std::to_string(be16(b, at)) : text_at(b, at, size)) << at;
        }
        EXPECT_EQ(40, fields);
        const std::string date = text_at(b, 528, 20);
        ASSERT_GE(date.size(), 10u) << date;
        EXPECT_NE('0', date[4]) << "the day has no leading zero: " << date;
    }
}

// A 2 x 3 file with depth made the active part of a 4 x 6 window: its rows
// land at the active window's place, the rest stays zero. Depth is written
// as big-endian floats and read back as the file's bytes.
TEST(RlaLayout, ActiveWindowInsideALargerWindow) {
    TempFile file(".rla");
    std::mt19937 rng(5);
    kivImage* image = kivCreateImage(file.c_str(), 1, 2, 3, 8, 1.0f, 5);
    ASSERT_NE(nullptr, image);
    const Picture written = random_picture(24, 2, 1, rng);  // two rows of 24 bytes
    for (int y = 0; y < 2; ++y) std::memcpy(image->rows[y], written.px.data() + 24 * y, 24);
    ASSERT_EQ(1, kivCloseImage(image));
    Bytes b = read_bytes(file.path);
    const uint16_t fields[8] = {10, 15, 20, 23, 12, 14, 21, 22};
    for (int i = 0; i < 8; ++i)
        b[2 * i] = uint8_t(fields[i] >> 8), b[2 * i + 1] = uint8_t(fields[i]);
    write_bytes(file.path, b);
    // Rows 1 and 2, columns 2 to 4: the colour planes, and the depth as the
    // file's big-endian bytes.
    image = kivOpenImageChecked(file.c_str(), 1);
    ASSERT_NE(nullptr, image);
    ASSERT_TRUE(image->cols == 6 && image->lines == 4 && image->channels == 5);
    for (int y = 0; y < 4; ++y) {
        Bytes expected(48, 0);
        for (int x = 2; x <= 4 && y >= 1 && y <= 2; ++x) {
            for (int c = 0; c < 4; ++c) expected[c * 6 + x] = written.at(c * 3 + x - 2, y - 1, 0);
            for (int k = 0; k < 4; ++k)
                expected[24 + 4 * x + k] = written.at(12 + 4 * (x - 2) + 3 - k, y - 1, 0);
        }
        EXPECT_EQ(expected, Bytes(image->rows[y], image->rows[y] + 48)) << "row " << y;
    }
    kivCloseImage(image);
}

TEST(SgiLayout, HeaderTablesAndVerbatimStorage) {
    TempFile file(std::string(100, 'q') + ".rgb");  // the name field keeps 79 characters
    Picture p{3, 2, 3, {}};
    for (int i = 0; i < 18; ++i) p.px.push_back(uint8_t(40 * (i % 3) + 7));
    ASSERT_TRUE(write_front_end(file.path, 0, p));
    const Bytes b = read_bytes(file.path);
    EXPECT_EQ((std::vector<uint32_t>{474, 1, 1, 3, 3, 2, 3, 0, 255, 0}),
              (std::vector<uint32_t>{be16(b, 0), b[2], b[3], be16(b, 4), be16(b, 6), be16(b, 8),
                                     be16(b, 10), be32(b, 12), be32(b, 16), be32(b, 20)}));
    EXPECT_EQ(file.path.substr(0, 79), text_at(b, 24, 80));
    EXPECT_EQ(Bytes(512 - 103, 0), Bytes(b.begin() + 103, b.begin() + 512));
    EXPECT_EQ(512u + 8 * 6 + 12, b.size()) << "six rows, each a run of 3: 2 bytes";
    // Verbatim storage: each channel's rows in turn; dimension 1 is one row,
    // dimension 2 one channel, whatever the other sizes say.
    const std::tuple<int, int, int, int, Bytes, Picture> cases[] = {
        {3, 2, 2, 2, {1, 2, 3, 4, 5, 6, 7, 8}, {2, 2, 2, {1, 5, 2, 6, 3, 7, 4, 8}}},
        {1, 3, 9, 9, {1, 2, 3}, {3, 1, 1, {1, 2, 3}}},
        {2, 1, 2, 9, {1, 2}, {1, 2, 1, {1, 2}}}};
    for (const auto& [dimension, x, y, z, rest, expected] : cases) {
        Bytes f(512, 0);
        f[0] = 0x01, f[1] = 0xDA, f[3] = 1, f[5] = uint8_t(dimension);
        f[7] = uint8_t(x), f[9] = uint8_t(y), f[11] = uint8_t(z);
        f.insert(f.end(), rest.begin(), rest.end());
        write_bytes(file.path, f);
        EXPECT_EQ(expected, read_front_end(file.path)) << "dimension " << dimension;
    }
}

TEST(PicLayout, HeaderPacketsAndTopRowFirst) {
    TempFile file(".pic");
    kivImage* image = kivCreateImage(file.c_str(), 0, 2, 3, 8, 1.0f, 4);
    ASSERT_NE(nullptr, image);
    std::memset(image->rows[1], 9, 12);  // the top row: all 9
    ASSERT_EQ(1, kivCloseImage(image));
    const Bytes b = read_bytes(file.path);
    EXPECT_TRUE(be32(b, 0) == 0x5380F634u && be32(b, 4) == 0u);
    EXPECT_EQ("No comment.PICT", text_at(b, 8, 80) + std::string(b.begin() + 88, b.begin() + 92));
    EXPECT_EQ((std::vector<int>{3, 2, 0x3F80, 0, 0, 0}),
              (std::vector<int>{be16(b, 92), be16(b, 94), be16(b, 96), be16(b, 98), be16(b, 100),
                                be16(b, 102)}));
    EXPECT_EQ((Bytes{1, 8, 2, 0xE0, 0, 8, 2, 0x10, 130, 9, 9, 9, 130, 9, 130, 0, 0, 0, 130, 0}),
              Bytes(b.begin() + 104, b.end()));
    // Uncompressed packets (type 0): RGB RGB, then M M.
    Bytes u(b.begin(), b.begin() + 104);
    u[93] = 2, u[95] = 1;
    for (uint8_t v : {1, 8, 0, 0xE0, 0, 8, 0, 0x10, 1, 2, 3, 4, 5, 6, 7, 8}) u.push_back(v);
    write_bytes(file.path, u);
    EXPECT_EQ((Picture{2, 1, 4, {1, 2, 3, 7, 4, 5, 6, 8}}), read_front_end(file.path));
}

// The host image library refuses what it cannot write; rows never written
// stay zero; a handle closed without a size leaves no file.
TEST(ImageLibrary, RefusesWhatItCannotWrite) {
    EXPECT_TRUE(!ILopen(temp_path("_no_dir/x.iff").c_str(), "w") &&
                !ILopen(temp_path(".iff").c_str(), "r") && !ILopen(nullptr, "w"));
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
    expected.resize(24, 0);
    EXPECT_EQ(expected, back.rgba);
    std::remove(file.c_str());
    EXPECT_EQ(0, ILclose(ILopen(file.c_str(), "w")));
    EXPECT_TRUE(read_bytes(file.path).empty());
}

// rla_dump.txt: the dump of a 3 x 2 RLA header and its offset table.
TEST(ImageDumps, RlaHeaderAndOffsetTable) {
    TempFile rla(".rla");
    ASSERT_TRUE(write_front_end(rla.path, 0, Picture{3, 2, 4, Bytes(24, 1)}));
    kivImage* image = kivOpenImageChecked(rla.c_str(), 0);
    ASSERT_NE(nullptr, image);
    const Bytes dump = read_bytes(std::string(KORVO_TEST_DATA) + "/imagefile/rla_dump.txt");
    std::string want(dump.begin(), dump.end());
    want.replace(want.find("$NAME"), 5, rla.path);
    EXPECT_EQ(want, captured([&] { EXPECT_EQ(1, kivDumpHeader(image)); }));
    kivCloseImage(image);
}
