// Every format written from seeded random pictures (sizes, channel counts,
// runs and noise) and read three ways: by the library's reader, by the
// texture reader, and by a reference decoder in this file that follows the
// format's layout (RLA row 0 first, PIC top row first, SGI by channel then
// row, IFF tiles from the bottom left, PNG top row first). The reference
// decoder is what catches rows flipped, columns and rows swapped or
// channels reordered consistently in both the writer and the reader.
#include "exr_support.h"
#include "image_support.h"
#include "imagefile/exr_file.h"
#include "imagefile/iff_image.h"
#include "imagefile/image_library.h"
#include "imagefile/korvo_image.h"
#include "imagefile/png_file.h"

#include <png.h>

using namespace image_test;

namespace {

Picture rla_reference(const Bytes& b, int w, int h) {
    Picture p{w, h, 4, Bytes(std::size_t(w) * h * 4)};
    for (int y = 0; y < h; ++y) {
        std::size_t pos = be32(b, 740 + 4 * y);
        for (int c = 0; c < 4; ++c) {
            const std::size_t end = pos + 2 + be16(b, pos);
            Bytes row;
            pos += 2;
            EXPECT_TRUE(run_decode(b, pos, w, 1, row, rla_packet) && pos == end)
                << "row " << y << " chan " << c;
            for (int x = 0; x < w && x < int(row.size()); ++x) p.at(x, y, c) = row[x];
        }
    }
    return p;
}

Picture sgi_reference(const Bytes& b, int w, int h) {
    const int ch = be16(b, 10);
    Picture p{w, h, ch, Bytes(std::size_t(w) * h * ch)};
    for (int c = 0; c < ch; ++c)
        for (int y = 0; y < h; ++y) {
            Bytes row;
            // The start of each row, and its length in the table after the starts.
            const std::size_t index = 512 + 4 * (std::size_t(c) * h + y), start = be32(b, index);
            std::size_t pos = start;
            EXPECT_TRUE(run_decode(b, pos, w, 1, row, sgi_packet) &&
                        pos - start == be32(b, index + 4 * std::size_t(ch) * h));
            for (int x = 0; x < w && x < int(row.size()); ++x) p.at(x, y, c) = row[x];
        }
    return p;
}

Picture pic_reference(const Bytes& b, int w, int h) {
    std::size_t pos = 104;
    while (b.at(pos)) pos += 4;
    const int ch = pos == 104 ? 3 : 4;
    Picture p{w, h, ch, Bytes(std::size_t(w) * h * ch)};
    pos += 4;
    for (int y = h - 1; y >= 0; --y) {
        Bytes rgb, matte;
        EXPECT_TRUE(run_decode(b, pos, w, 3, rgb, pic_packet) &&
                    (ch == 3 || run_decode(b, pos, w, 1, matte, pic_packet)));
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < ch; ++c) p.at(x, y, c) = c < 3 ? rgb.at(3 * x + c) : matte.at(x);
    }
    EXPECT_EQ(pos, b.size());
    return p;
}

// The header, and the tiles of the TBMP group, each channel raw or
// run-length coded, in the file's order alpha, blue, green, red.
Picture iff_reference(const Bytes& b, int w, int h) {
    const int ch = be32(b, 32) & kIffFlagAlpha ? 4 : 3;
    Picture p{w, h, ch, Bytes(std::size_t(w) * h * ch)};
    EXPECT_EQ("FOR4", text_at(b, 52, 4));
    // TBHD: width, height, aspect 1/1, bytes 0, the tile count, origin 0 0.
    const uint32_t tiles = (w + 63) / 64 * ((h + 63) / 64);
    EXPECT_EQ(
        (std::vector<uint32_t>{uint32_t(b.size() - 8), 32, uint32_t(w), uint32_t(h), 1, 1, 0, tiles,
                               0, 0}),
        (std::vector<uint32_t>{be32(b, 4), be32(b, 16), be32(b, 20), be32(b, 24), be16(b, 28),
                               be16(b, 30), be16(b, 36), be16(b, 38), be32(b, 44), be32(b, 48)}));
    for (std::size_t pos = 64; pos < b.size();) {
        const std::size_t size = be32(b, pos + 4), data = pos + 16;
        const int x0 = be16(b, pos + 8), y0 = be16(b, pos + 10);
        const int tw = be16(b, pos + 12) - x0 + 1, th = be16(b, pos + 14) - y0 + 1;
        const std::size_t n = std::size_t(tw) * th;
        EXPECT_TRUE(x0 % 64 == 0 && y0 % 64 == 0 && tw <= 64 && th <= 64 &&
                    text_at(b, pos, 4) == "RGBA");
        Bytes planes;
        std::size_t at = data;
        for (int c = 0; c < ch; ++c)  // raw pixels when the size says so
            if (size - 8 == n * ch)
                for (std::size_t i = 0; i < n; ++i) planes.push_back(b.at(data + i * ch + c));
            else
                EXPECT_TRUE(run_decode(b, at, n, 1, planes, iff_packet));
        for (int c = 0; c < ch; ++c)
            for (std::size_t i = 0; i < n; ++i)
                p.at(x0 + int(i) % tw, y0 + int(i) / tw, ch - 1 - c) = planes.at(c * n + i);
        pos += 8 + (size + 3) / 4 * 4;
    }
    return p;
}

// libpng reads the rows top first; a negative stride puts them bottom first.
Picture png_reference(const Bytes& b, int, int) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    EXPECT_TRUE(png_image_begin_read_from_memory(&image, b.data(), b.size()));
    image.format = PNG_FORMAT_RGBA;
    Picture p{int(image.width), int(image.height), 4, Bytes(PNG_IMAGE_SIZE(image))};
    EXPECT_TRUE(png_image_finish_read(&image, nullptr, p.px.data(), -4 * p.w, nullptr));
    return p;
}

// The picture through the host image library, rows bottom first, four bytes
// a pixel blue, green, red, matte.
bool iff_write_il(const std::string& path, const Picture& p) {
    ILimage* image = ILopen(path.c_str(), "w");
    if (!image) return false;
    ILsetsize(image, p.w, p.h), ILsetbpp(image, 1), ILsettype(image, 3), ILctrl(image, 0x10000, 0);
    Bytes row(std::size_t(p.w) * 4);
    for (int y = 0; y < p.h; ++y) {
        for (int x = 0; x < p.w; ++x)
            for (int c = 0; c < 4; ++c) row[4 * x + c] = p.at(x, y, c < 3 ? 2 - c : 3);
        if (!ILwriteline(image, row.data(), nullptr)) return false;
    }
    return ILclose(image) == 1;
}

// IFF pictures without alpha are written by the encoder (run-length coded
// for odd widths).
bool iff_write_rgb(const std::string& path, const Picture& p) {
    Bytes bytes;
    return iff_encode({p.w, p.h, 3, with_channels(p, 4).px, {}}, p.w % 2, bytes) &&
           (write_bytes(path, bytes), true);
}

Picture iff_read(const std::string& path) {
    IffImage image;
    if (!iff_read_file(path.c_str(), image)) return {};
    return with_channels(Picture{image.width, image.height, 4, image.rgba}, image.channels);
}

bool png_write(const std::string& path, const Picture& p) {
    return png_write_rgba(path.c_str(), p.w, p.h, p.px.data());
}

Picture png_read(const std::string& path) {
    const Bytes b = read_bytes(path);
    Picture p{0, 0, 4, {}};
    return png_read_rgba(b.data(), b.size(), p.w, p.h, p.px) ? p : Picture{};
}

// A format's writer and reader (the front end's by the extension when
// null) and the reference decoder of its files.
struct Format {
    const char* ext;
    std::vector<int> channels;
    Picture (*reference)(const Bytes&, int w, int h);
    bool (*write)(const std::string&, const Picture&) = nullptr;
    Picture (*read)(const std::string&) = nullptr;
};

const Format kFormats[] = {
    {".rla", {3, 4}, rla_reference},
    {".pic", {3, 4}, pic_reference},
    {".rgb", {1, 2, 3, 4}, sgi_reference},
    {".iff", {4}, iff_reference, iff_write_il, iff_read},
    {".iff", {3}, iff_reference, iff_write_rgb, iff_read},
    {".png", {4}, png_reference, png_write, png_read},
};

// What the texture reader gives for a picture: grey becomes red, green
// and blue; a missing alpha is 255.
Picture as_texture(const Picture& p) {
    Picture q = with_channels(p, 4);
    for (std::size_t i = 0; p.ch < 3 && i < q.px.size(); i += 4) {
        q.px[i + 3] = p.ch == 2 ? q.px[i + 1] : 255;
        q.px[i + 1] = q.px[i + 2] = q.px[i];
    }
    return q;
}

}  // namespace

TEST(ImageRoundTrip, EveryFormatReadsBackWhatItWroteInItsDocumentedLayout) {
    std::mt19937 rng(2024);
    for (const Format& f : kFormats) {
        for (int ch : f.channels) {
            for (int trial = 0; trial < 6; ++trial) {
                // A single column, a single row, small pictures, then larger ones; the
                // last spans two IFF tiles each way.
                const int base = trial == 5 ? 65 : 1, spread = trial < 3 ? 9 : 36;
                const int w = trial == 0 ? 1 : base + int(rng() % spread);
                const int h = trial == 1 ? 1 : base + int(rng() % spread);
                const Picture p = random_picture(w, h, ch, rng);
                // An RLA file always has a matte (opaque when not given).
                const Picture kept = with_channels(p, f.ext == std::string(".rla") ? 4 : ch);
                TempFile file(f.ext);
                SCOPED_TRACE(std::string(f.ext) + " " + std::to_string(w) + "x" +
                             std::to_string(h) + "x" + std::to_string(ch));
                ASSERT_TRUE(f.write ? f.write(file.path, p) : write_front_end(file.path, 0, p));
                const auto read = [&] {
                    return f.read ? f.read(file.path) : read_front_end(file.path);
                };
                EXPECT_EQ(kept, read());
                EXPECT_EQ(kept, f.reference(read_bytes(file.path), w, h));
                KorvoImage texture;
                ASSERT_FALSE(texture.readFromFile(file.c_str()).error());
                unsigned tw = 0, th = 0;
                texture.getSize(tw, th);
                ASSERT_TRUE(tw == unsigned(w) && th == unsigned(h));
                EXPECT_EQ(as_texture(kept).px,
                          Bytes(texture.pixels(), texture.pixels() + 4 * w * h));
                if (trial != 5) continue;
                // Cut short (PNG's end chunk holds no pixels), the file is refused.
                const Bytes bytes = read_bytes(file.path);
                const std::size_t tail = f.ext == std::string(".png") ? 13 : 1;
                for (std::size_t n : {std::size_t(0), std::size_t(3), std::size_t(100),
                                      bytes.size() / 2, bytes.size() - tail}) {
                    if (n >= bytes.size()) continue;
                    write_bytes(file.path, Bytes(bytes.begin(), bytes.begin() + n));
                    captured([&] {
                        EXPECT_EQ(0, read().w) << n;
                        EXPECT_TRUE(KorvoImage().readFromFile(file.c_str()).error()) << n;
                    });
                }
            }
        }
    }
}

// Flat OpenEXR: random windows with crops touching each edge of the image.
// OpenEXR counts y from the top, so row r of the data window is stored at
// y = height - 1 - r. (The library's own reader is checked end to end by
// the assembly of bands.)
TEST(ImageRoundTrip, OpenExrDataWindowAndRowsAtTheirPlace) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 12; ++trial) {
        // Trials 0 to 3 put the data window's left, bottom, right or top on the image's edge.
        exr_windows win = exr_windows::whole(1 + int(rng() % 40), 1 + int(rng() % 30));
        exr_box& d = win.data;
        d.x0 = trial % 4 == 0 ? 0 : int(rng() % win.width);
        d.y0 = trial % 4 == 1 ? 0 : int(rng() % win.height);
        d.x1 = trial % 4 == 2 ? win.width - 1 : d.x0 + int(rng() % (win.width - d.x0));
        d.y1 = trial % 4 == 3 ? win.height - 1 : d.y0 + int(rng() % (win.height - d.y0));
        const std::size_t n = std::size_t(d.cols()) * d.lines();
        std::vector<float> rgba(4 * n), z(n);
        for (float& v : rgba) v = float(rng() % 256) / 64.0f;  // exact in half floats
        for (float& v : z) v = float(rng()) / 997.0f;
        const bool colour = trial % 3 != 1, depth = trial % 3 != 0;
        TempFile file(".exr");
        ASSERT_EQ(1, exr_write_flat(file.c_str(), {win, colour ? rgba.data() : nullptr,
                                                   depth ? z.data() : nullptr}));

        const exr_test::flat f = exr_test::read_flat(file.path);
        ASSERT_TRUE(f.win.display_w == win.width && f.win.display_h == win.height);
        ASSERT_TRUE(f.win.x0 == d.x0 && f.win.x1 == d.x1 && f.win.y0 == win.height - 1 - d.y1 &&
                    f.win.y1 == win.height - 1 - d.y0);
        for (int r = d.y0; r <= d.y1; ++r)
            for (int x = d.x0; x <= d.x1; ++x) {
                const std::size_t i = std::size_t(r - d.y0) * d.cols() + (x - d.x0);
                for (int c = 0; colour && c < 4; ++c)
                    ASSERT_EQ(rgba[4 * i + c], f.at(std::string(1, "RGBA"[c]), x, r))
                        << x << "," << r;
                ASSERT_TRUE(!depth || z[i] == f.at("Z", x, r)) << "depth at " << x << "," << r;
            }
    }
    // A window outside the image, or nothing to write, is refused.
    exr_windows bad = exr_windows::whole(4, 4);
    bad.data.x1 = 4;
    const float pixels[100] = {};
    const std::string printed = captured([&] {
        EXPECT_EQ(0, exr_write_flat(temp_path(".exr").c_str(), {bad, pixels, nullptr}) +
                         exr_write_flat(temp_path(".exr").c_str(),
                                        {exr_windows::whole(1, 1), nullptr, nullptr}));
    });
    EXPECT_EQ(0u, printed.rfind("ERROR:", 0)) << printed;
}
