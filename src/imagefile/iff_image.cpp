#include "imagefile/iff_image.h"

#include "imagefile/image_io.h"

#include <algorithm>
#include <cstring>

using kiv_io::Cursor;
using kiv_io::get_u16;
using kiv_io::get_u32;

namespace {

// ---------------------------------------------------------------------------
// Writing chunks

void put_tag(std::vector<uint8_t>& out, const char* tag) {
    out.insert(out.end(), tag, tag + 4);
}

// Starts a chunk (or a FOR4 group) and returns where its size goes.
std::size_t begin_chunk(std::vector<uint8_t>& out, const char* tag) {
    put_tag(out, tag);
    kiv_io::put_u32(out, 0);
    return out.size() - 4;
}

// Fills in the chunk's size and pads it to a multiple of 4.
void end_chunk(std::vector<uint8_t>& out, std::size_t sizeAt) {
    kiv_io::set_u32(out.data() + sizeAt, uint32_t(out.size() - sizeAt - 4));
    while (out.size() % 4 != 0) out.push_back(0);
}

struct Tile {
    int xmin, ymin, xmax, ymax;
    int width() const { return xmax - xmin + 1; }
    int height() const { return ymax - ymin + 1; }
};

void put_tile_bounds(std::vector<uint8_t>& out, const Tile& t) {
    kiv_io::put_u16(out, unsigned(t.xmin));
    kiv_io::put_u16(out, unsigned(t.ymin));
    kiv_io::put_u16(out, unsigned(t.xmax));
    kiv_io::put_u16(out, unsigned(t.ymax));
}

// The file's channel order within a pixel, as indices into RGBA.
const int kOrderRgba[4] = {3, 2, 1, 0};  // alpha, blue, green, red
const int kOrderRgb[3] = {2, 1, 0};      // blue, green, red

void put_colour_tile(std::vector<uint8_t>& out, const IffImage& image, const Tile& t,
                     bool runLength) {
    const int* order = image.channels == 4 ? kOrderRgba : kOrderRgb;
    const int channels = image.channels;
    const std::size_t pixels = std::size_t(t.width()) * t.height();
    // Gather each channel of the tile, rows from ymin, pixels from xmin.
    std::vector<unsigned char> planes(pixels * channels);
    std::size_t i = 0;
    for (int y = t.ymin; y <= t.ymax; ++y) {
        for (int x = t.xmin; x <= t.xmax; ++x, ++i) {
            const unsigned char* p = &image.rgba[(std::size_t(y) * image.width + x) * 4];
            for (int c = 0; c < channels; ++c) planes[c * pixels + i] = p[order[c]];
        }
    }
    std::vector<uint8_t> code;
    if (runLength)
        for (int c = 0; c < channels; ++c) iff_rle_encode(&planes[c * pixels], pixels, code);

    const std::size_t at = begin_chunk(out, "RGBA");
    put_tile_bounds(out, t);
    if (runLength && code.size() < planes.size()) {
        out.insert(out.end(), code.begin(), code.end());
    } else {
        for (std::size_t k = 0; k < pixels; ++k)
            for (int c = 0; c < channels; ++c) out.push_back(planes[c * pixels + k]);
    }
    end_chunk(out, at);
}

void put_depth_tile(std::vector<uint8_t>& out, const IffImage& image, const Tile& t) {
    const std::size_t at = begin_chunk(out, "ZBUF");
    put_tile_bounds(out, t);
    for (int y = t.ymin; y <= t.ymax; ++y)
        for (int x = t.xmin; x <= t.xmax; ++x)
            kiv_io::put_f32(out, image.depth[std::size_t(y) * image.width + x]);
    end_chunk(out, at);
}

}  // namespace

void iff_rle_encode(const unsigned char* bytes, std::size_t n, std::vector<uint8_t>& out) {
    auto run_of_three = [&](std::size_t j) {
        return j + 2 < n && bytes[j] == bytes[j + 1] && bytes[j] == bytes[j + 2];
    };
    std::size_t i = 0;
    while (i < n) {
        if (run_of_three(i)) {
            std::size_t j = i + 3;
            while (j < n && j - i < 128 && bytes[j] == bytes[i]) ++j;
            out.push_back(uint8_t(0x80 | (j - i - 1)));
            out.push_back(bytes[i]);
            i = j;
        } else {
            std::size_t j = i + 1;
            while (j < n && j - i < 128 && !run_of_three(j)) ++j;
            out.push_back(uint8_t(j - i - 1));
            out.insert(out.end(), bytes + i, bytes + j);
            i = j;
        }
    }
}

bool iff_encode(const IffImage& image, bool runLength, std::vector<uint8_t>& out) {
    const bool colour = image.channels == 3 || image.channels == 4;
    const bool depth = !image.depth.empty();
    const std::size_t pixels = std::size_t(image.width) * image.height;
    if (image.width < 1 || image.height < 1 || image.width > 65535 || image.height > 65535)
        return false;
    if ((!colour && !depth) || (colour && image.rgba.size() != pixels * 4) ||
        (depth && image.depth.size() != pixels) || (image.channels != 0 && !colour))
        return false;
    const int tilesX = (image.width + kIffTileSize - 1) / kIffTileSize;
    const int tilesY = (image.height + kIffTileSize - 1) / kIffTileSize;
    if (long(tilesX) * tilesY > 65535) return false;

    out.clear();
    const std::size_t form = begin_chunk(out, "FOR4");
    put_tag(out, "CIMG");
    const std::size_t header = begin_chunk(out, "TBHD");
    kiv_io::put_u32(out, uint32_t(image.width));
    kiv_io::put_u32(out, uint32_t(image.height));
    kiv_io::put_u16(out, 1);
    kiv_io::put_u16(out, 1);
    uint32_t flags = 0;
    if (colour) flags |= image.channels == 4 ? kIffFlagRgb | kIffFlagAlpha : kIffFlagRgb;
    if (depth) flags |= kIffFlagDepth;
    kiv_io::put_u32(out, flags);
    kiv_io::put_u16(out, 0);
    kiv_io::put_u16(out, unsigned(tilesX * tilesY));
    kiv_io::put_u32(out, colour && runLength ? 1 : 0);
    kiv_io::put_u32(out, 0);
    kiv_io::put_u32(out, 0);
    end_chunk(out, header);

    const std::size_t bitmap = begin_chunk(out, "FOR4");
    put_tag(out, "TBMP");
    for (int ty = 0; ty < tilesY; ++ty) {
        for (int tx = 0; tx < tilesX; ++tx) {
            Tile t{tx * kIffTileSize, ty * kIffTileSize, 0, 0};
            t.xmax = std::min(t.xmin + kIffTileSize, image.width) - 1;
            t.ymax = std::min(t.ymin + kIffTileSize, image.height) - 1;
            if (colour) put_colour_tile(out, image, t, runLength);
            if (depth) put_depth_tile(out, image, t);
        }
    }
    end_chunk(out, bitmap);
    end_chunk(out, form);
    return true;
}

// ---------------------------------------------------------------------------
// Reading

namespace {

bool fail(std::string* error, const char* reason) {
    if (error) *error = reason;
    return false;
}

// Decodes one channel of n bytes from the cursor into dst (stride apart).
bool rle_decode(Cursor& in, std::size_t n, unsigned char* dst) {
    std::size_t p = 0;
    while (p < n) {
        uint8_t c;
        if (!in.byte(c)) return false;
        const std::size_t count = std::size_t(c & 0x7F) + 1;
        if (count > n - p) return false;
        if (c & 0x80) {
            uint8_t v;
            if (!in.byte(v)) return false;
            std::memset(dst + p, v, count);
        } else {
            const uint8_t* bytes = in.take(count);
            if (!bytes) return false;
            std::memcpy(dst + p, bytes, count);
        }
        p += count;
    }
    return true;
}

struct Header {
    uint32_t width = 0, height = 0, flags = 0;
    uint16_t bytes = 0, tiles = 0;
    bool seen = false;
};

bool read_tile_bounds(Cursor& in, const IffImage& image, Tile& t) {
    uint16_t v[4];
    for (uint16_t& value : v)
        if (!in.u16(value)) return false;
    t = {v[0], v[1], v[2], v[3]};
    return t.xmin <= t.xmax && t.ymin <= t.ymax && t.xmax < image.width && t.ymax < image.height;
}

bool read_colour_tile(Cursor in, IffImage& image, std::string* error) {
    Tile t;
    if (!read_tile_bounds(in, image, t))
        return fail(error, "a colour tile lies outside the picture");
    const int channels = image.channels;
    const int* order = channels == 4 ? kOrderRgba : kOrderRgb;
    const std::size_t pixels = std::size_t(t.width()) * t.height();
    std::vector<unsigned char> planes(pixels * channels);
    if (in.remaining() == pixels * channels) {
        const uint8_t* raw = in.take(pixels * channels);
        for (std::size_t k = 0; k < pixels; ++k)
            for (int c = 0; c < channels; ++c) planes[c * pixels + k] = raw[k * channels + c];
    } else {
        for (int c = 0; c < channels; ++c)
            if (!rle_decode(in, pixels, &planes[c * pixels]))
                return fail(error, "a colour tile's run-length code is corrupt");
    }
    std::size_t i = 0;
    for (int y = t.ymin; y <= t.ymax; ++y) {
        for (int x = t.xmin; x <= t.xmax; ++x, ++i) {
            unsigned char* p = &image.rgba[(std::size_t(y) * image.width + x) * 4];
            for (int c = 0; c < channels; ++c) p[order[c]] = planes[c * pixels + i];
        }
    }
    return true;
}

bool read_depth_tile(Cursor in, IffImage& image, std::string* error) {
    Tile t;
    if (!read_tile_bounds(in, image, t))
        return fail(error, "a depth tile lies outside the picture");
    const std::size_t pixels = std::size_t(t.width()) * t.height();
    const uint8_t* raw = in.remaining() == 4 * pixels ? in.take(4 * pixels) : nullptr;
    if (!raw) return fail(error, "a depth tile has the wrong size");
    for (int y = t.ymin; y <= t.ymax; ++y)
        for (int x = t.xmin; x <= t.xmax; ++x, raw += 4)
            image.depth[std::size_t(y) * image.width + x] = kiv_io::get_f32(raw);
    return true;
}

// Walks the chunks between begin and end, calling visit(tag, data cursor).
template <typename Visit>
bool walk_chunks(const uint8_t* data, std::size_t begin, std::size_t end, Visit visit,
                 std::string* error) {
    std::size_t pos = begin;
    while (pos < end) {
        if (end - pos < 8) return fail(error, "a chunk header is truncated");
        const uint8_t* tag = data + pos;
        const std::size_t size = get_u32(data + pos + 4);
        if (size > end - pos - 8) return fail(error, "a chunk is larger than its group");
        if (!visit(tag, data + pos + 8, size)) return false;
        pos += 8 + size;
        pos += (4 - pos % 4) % 4;
    }
    return true;
}

bool start_picture(const Header& h, std::size_t fileSize, IffImage& image, std::string* error) {
    if (!h.seen) return fail(error, "the TBHD header is missing");
    if (h.width < 1 || h.height < 1 || h.width > 65535 || h.height > 65535)
        return fail(error, "the picture's size is invalid");
    const uint32_t colour = h.flags & (kIffFlagRgb | kIffFlagAlpha);
    if (colour == kIffFlagAlpha) return fail(error, "alpha-only pictures are not supported");
    if (h.bytes != 0) return fail(error, "only 8-bit channels are supported");
    const std::size_t pixels = std::size_t(h.width) * h.height;
    const bool depth = (h.flags & kIffFlagDepth) != 0;
    if (!colour && !depth) return fail(error, "the picture has neither colour nor depth");
    if (!kiv_io::plausible_size(pixels, colour && depth ? 8 : 4, fileSize, 128))
        return fail(error, "the picture is too large for the file");
    image.width = int(h.width);
    image.height = int(h.height);
    image.channels = colour == 0 ? 0 : (colour & kIffFlagAlpha) ? 4 : 3;
    image.rgba.clear();
    image.depth.clear();
    if (colour) image.rgba.assign(pixels * 4, 0);
    if (image.channels == 3)
        for (std::size_t i = 0; i < pixels; ++i) image.rgba[4 * i + 3] = 255;
    if (depth) image.depth.assign(pixels, 0.0f);
    return true;
}

}  // namespace

bool iff_is_signature(const uint8_t* data, std::size_t size) {
    return size >= 12 && std::memcmp(data, "FOR4", 4) == 0 && std::memcmp(data + 8, "CIMG", 4) == 0;
}

bool iff_decode(const uint8_t* data, std::size_t size, IffImage& image, std::string* error) {
    image = IffImage();
    if (!iff_is_signature(data, size)) return fail(error, "not an IFF image");
    const std::size_t formSize = get_u32(data + 4);
    if (formSize < 4 || formSize > size - 8) return fail(error, "the file is truncated");
    Header h;
    bool bitmapSeen = false;
    auto visitTile = [&](const uint8_t* tag, const uint8_t* body, std::size_t n) {
        Cursor in(body, n);
        if (std::memcmp(tag, "RGBA", 4) == 0 && image.channels != 0)
            return read_colour_tile(in, image, error);
        if (std::memcmp(tag, "ZBUF", 4) == 0 && !image.depth.empty())
            return read_depth_tile(in, image, error);
        return true;  // other chunks are skipped
    };
    auto visitTop = [&](const uint8_t* tag, const uint8_t* body, std::size_t n) {
        if (std::memcmp(tag, "TBHD", 4) == 0) {
            if (n < 32) return fail(error, "the TBHD header is truncated");
            h.width = get_u32(body);
            h.height = get_u32(body + 4);
            h.flags = get_u32(body + 12);
            h.bytes = get_u16(body + 16);
            h.tiles = get_u16(body + 18);
            h.seen = true;
            return true;
        }
        if (std::memcmp(tag, "FOR4", 4) == 0 && n >= 4 && std::memcmp(body, "TBMP", 4) == 0) {
            if (bitmapSeen) return fail(error, "the file holds two TBMP groups");
            if (!start_picture(h, size, image, error)) return false;
            bitmapSeen = true;
            const std::size_t begin = std::size_t(body + 4 - data);
            return walk_chunks(data, begin, begin + n - 4, visitTile, error);
        }
        return true;
    };
    if (!walk_chunks(data, 12, 8 + formSize, visitTop, error)) {
        image = IffImage();
        return false;
    }
    if (!bitmapSeen) {
        image = IffImage();
        return fail(error, "the TBMP tiles are missing");
    }
    return true;
}

bool iff_read_file(const char* path, IffImage& image, std::string* error) {
    std::vector<uint8_t> bytes;
    if (!path || !kiv_io::read_file(path, bytes)) return fail(error, "cannot read the file");
    return iff_decode(bytes.data(), bytes.size(), image, error);
}
