#include "imagefile/png_file.h"

#include "imagefile/image_file.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

namespace {

bool fail(std::string* error, const char* reason) {
    if (error) *error = reason;
    return false;
}

// A deflate stream expands at most about 1032 to 1, and a byte holds at
// most 8 pixels of a 1-bit picture.
constexpr std::size_t kMaxPixelsPerByte = 8 * 1040;

}  // namespace

bool png_is_signature(const unsigned char* data, std::size_t size) {
    return size >= 8 && png_sig_cmp(data, 0, 8) == 0;
}

bool png_read_rgba(const unsigned char* data, std::size_t size, int& width, int& height,
                   std::vector<unsigned char>& rgbaBottomFirst, std::string* error) {
    if (!data || !png_is_signature(data, size)) return fail(error, "not a PNG picture");
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data, size)) {
        fail(error, image.message);
        png_image_free(&image);
        return false;
    }
    const std::size_t pixels = std::size_t(image.width) * image.height;
    if (image.width == 0 || image.height == 0 || image.width > 65535 || image.height > 65535 ||
        pixels / kMaxPixelsPerByte > size || pixels * 4 > kivMaxImageBytes) {
        png_image_free(&image);
        return fail(error, "the picture is too large for the file");
    }
    // Sixteen-bit values without gamma information are taken as they are
    // encoded, not as linear light.
    image.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
    image.format = PNG_FORMAT_RGBA;
    std::vector<unsigned char> pixelsOut;
    try {
        pixelsOut.resize(pixels * 4);
    } catch (const std::bad_alloc&) {
        png_image_free(&image);
        return fail(error, "out of memory");
    }
    // A negative stride stores the bottom row first.
    const png_int_32 stride = -png_int_32(image.width * 4);
    if (!png_image_finish_read(&image, nullptr, pixelsOut.data(), stride, nullptr)) {
        fail(error, image.message);
        png_image_free(&image);
        return false;
    }
    width = int(image.width);
    height = int(image.height);
    rgbaBottomFirst.swap(pixelsOut);
    return true;
}

bool png_write_rgba(const char* path, int width, int height, const unsigned char* rgbaBottomFirst) {
    if (!path || !rgbaBottomFirst) return false;
    png_pieces png(width, height);
    if (png.count() == 0) return false;
    const std::size_t stride = std::size_t(width) * 4;
    for (int p = 0; p < png.count(); ++p) {
        int row0, row1;
        png.rows(p, row0, row1);
        if (!png.compress(p, rgbaBottomFirst + std::size_t(row0) * stride)) return false;
    }
    return png.write(path);
}

// ---------------------------------------------------------------------------
// Pieces

namespace {

// The Paeth predictor from its left (a), upper (b) and upper-left (c) bytes.
inline int paeth(int a, int b, int c) {
    const int p = a + b - c;
    const int pa = std::abs(p - a), pb = std::abs(p - b), pc = std::abs(p - c);
    const int bc = pb <= pc ? b : c;
    return pa <= pb && pa <= pc ? a : bc;
}

// The sum of the filtered bytes read as signed, the choice's measure.
unsigned long cost(const unsigned char* f, std::size_t n) {
    unsigned long s = 0;
    for (std::size_t i = 0; i < n; ++i) s += static_cast<unsigned>(std::abs(int(int8_t(f[i]))));
    return s;
}

// The filters of a row of n bytes, 4 bytes a pixel; above is the row above
// it in the piece (null for the piece's first row, which takes None or
// Sub). Writes the filter byte and the filtered row into out (n + 1 bytes)
// through the scratch rows (5 x n bytes).
void filter_row(const unsigned char* row, const unsigned char* above, std::size_t n,
                unsigned char* scratch, unsigned char* out) {
    unsigned char* f[5];
    for (int t = 0; t < 5; ++t) f[t] = scratch + t * n;
    // Each filter in a loop of its own (the compiler runs them on vectors);
    // the first pixel has no left neighbour.
    const std::size_t left = n < 4 ? n : 4;
    std::memcpy(f[0], row, n);
    std::memcpy(f[1], row, left);
    for (std::size_t i = 4; i < n; ++i) f[1][i] = static_cast<unsigned char>(row[i] - row[i - 4]);
    const int types = above ? 5 : 2;
    if (above) {
        for (std::size_t i = 0; i < n; ++i) f[2][i] = static_cast<unsigned char>(row[i] - above[i]);
        for (std::size_t i = 0; i < left; ++i)
            f[3][i] = static_cast<unsigned char>(row[i] - (above[i] >> 1));
        for (std::size_t i = 4; i < n; ++i)
            f[3][i] = static_cast<unsigned char>(row[i] - ((row[i - 4] + above[i]) >> 1));
        for (std::size_t i = 0; i < left; ++i)
            f[4][i] = static_cast<unsigned char>(row[i] - above[i]);
        for (std::size_t i = 4; i < n; ++i)
            f[4][i] =
                static_cast<unsigned char>(row[i] - paeth(row[i - 4], above[i], above[i - 4]));
    }
    // The first filter of least cost.
    int best = 0;
    unsigned long least = cost(f[0], n);
    for (int t = 1; t < types; ++t) {
        const unsigned long c = cost(f[t], n);
        if (c < least) {
            least = c;
            best = t;
        }
    }
    out[0] = static_cast<unsigned char>(best);
    std::memcpy(out + 1, f[best], n);
}

void put_be32(unsigned char* out, std::uint32_t v) {
    out[0] = static_cast<unsigned char>(v >> 24);
    out[1] = static_cast<unsigned char>(v >> 16);
    out[2] = static_cast<unsigned char>(v >> 8);
    out[3] = static_cast<unsigned char>(v);
}

// A chunk whose data is the concatenation of up to three spans.
struct span {
    const unsigned char* data;
    std::size_t size;
};
bool write_chunk(std::FILE* f, const char* type, std::initializer_list<span> data) {
    std::size_t length = 0;
    for (const span& s : data) length += s.size;
    if (length > 0x7FFFFFFFu) return false;
    unsigned char head[8];
    put_be32(head, static_cast<std::uint32_t>(length));
    std::memcpy(head + 4, type, 4);
    uLong crc = crc32(0L, head + 4, 4);
    bool ok = std::fwrite(head, 1, 8, f) == 8;
    for (const span& s : data) {
        if (s.size == 0) continue;
        crc = crc32(crc, s.data, static_cast<uInt>(s.size));
        ok = ok && std::fwrite(s.data, 1, s.size, f) == s.size;
    }
    unsigned char tail[4];
    put_be32(tail, static_cast<std::uint32_t>(crc));
    return ok && std::fwrite(tail, 1, 4, f) == 4;
}

// What save writes before each piece's data.
struct piece_header {
    std::uint32_t index;  // the piece
    std::uint32_t adler;  // Adler-32 of its filtered rows
    std::uint64_t size;   // bytes of deflate data that follow
};

}  // namespace

png_pieces::png_pieces(int width, int height) {
    if (width < 1 || height < 1 || width > 65535 || height > 65535) return;
    width_ = width;
    height_ = height;
    pieces_.resize(std::size_t((height + kPngPieceRows - 1) / kPngPieceRows));
}

void png_pieces::rows(int p, int& row0, int& row1) const {
    // Piece p holds the rows kPngPieceRows x p ... counted from the top.
    row1 = height_ - p * kPngPieceRows;
    row0 = std::max(0, row1 - kPngPieceRows);
}

void png_pieces::within(int r0, int r1, int& p0, int& p1) const {
    r0 = std::max(r0, 0);
    r1 = std::min(r1, height_);
    // The first piece ends (from the top) at or below row r1 - 1; the last
    // one wholly above r0 is the one before the piece holding row r0 - 1
    // (every piece when r0 is the bottom).
    p0 = (height_ - r1 + kPngPieceRows - 1) / kPngPieceRows;
    p1 = r0 == 0 ? count() : (height_ - r0) / kPngPieceRows;
    if (r0 >= r1 || p1 < p0) p1 = p0;
}

std::size_t png_pieces::filtered_size(int p) const {
    int row0, row1;
    rows(p, row0, row1);
    return std::size_t(row1 - row0) * (std::size_t(width_) * 4 + 1);
}

bool png_pieces::compress(int p, const unsigned char* lowest) {
    if (p < 0 || p >= count() || lowest == nullptr) return false;
    int row0, row1;
    rows(p, row0, row1);
    const std::size_t n = std::size_t(width_) * 4;
    std::vector<unsigned char> filtered, scratch;
    piece& out = pieces_[std::size_t(p)];
    try {
        filtered.resize(filtered_size(p));
        scratch.resize(5 * n);
        out.deflated.resize(deflateBound(nullptr, uLong(filtered.size())) + 64);
    } catch (const std::bad_alloc&) {
        return false;
    }
    // Rows top first: the piece's top row is row1 - 1.
    for (int r = row1 - 1, k = 0; r >= row0; --r, ++k) {
        const unsigned char* row = lowest + std::size_t(r - row0) * n;
        filter_row(row, r + 1 < row1 ? row + n : nullptr, n, scratch.data(),
                   filtered.data() + std::size_t(k) * (n + 1));
    }
    out.adler = static_cast<std::uint32_t>(
        adler32(adler32(0L, nullptr, 0), filtered.data(), uInt(filtered.size())));

    // Raw deflate on its own; the last piece ends the stream.
    z_stream z;
    std::memset(&z, 0, sizeof z);
    if (deflateInit2(&z, kPngLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return false;
    z.next_in = filtered.data();
    z.avail_in = uInt(filtered.size());
    z.next_out = out.deflated.data();
    z.avail_out = uInt(out.deflated.size());
    const bool last = p == count() - 1;
    const int status = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
    const bool ok =
        (last ? status == Z_STREAM_END : status == Z_OK) && z.avail_in == 0 && z.avail_out > 0;
    out.deflated.resize(out.deflated.size() - z.avail_out);
    deflateEnd(&z);
    out.done = ok;
    return ok;
}

bool png_pieces::compressed(int p) const {
    return p >= 0 && p < count() && pieces_[std::size_t(p)].done;
}

bool png_pieces::save(std::FILE* f, int p0, int p1) const {
    for (int p = p0; p < p1; ++p) {
        if (!compressed(p)) return false;
        const piece& c = pieces_[std::size_t(p)];
        const piece_header h{std::uint32_t(p), c.adler, c.deflated.size()};
        if (std::fwrite(&h, sizeof h, 1, f) != 1 ||
            std::fwrite(c.deflated.data(), 1, c.deflated.size(), f) != c.deflated.size())
            return false;
    }
    return true;
}

bool png_pieces::load(std::FILE* f, int p0, int p1) {
    for (int p = p0; p < p1; ++p) {
        piece_header h;
        if (p < 0 || p >= count() || std::fread(&h, sizeof h, 1, f) != 1 ||
            h.index != std::uint32_t(p) ||
            h.size > deflateBound(nullptr, uLong(filtered_size(p))) + 64)
            return false;
        piece& c = pieces_[std::size_t(p)];
        try {
            c.deflated.resize(std::size_t(h.size));
        } catch (const std::bad_alloc&) {
            return false;
        }
        c.adler = h.adler;
        c.done = std::fread(c.deflated.data(), 1, c.deflated.size(), f) == c.deflated.size();
        if (!c.done) return false;
    }
    return true;
}

bool png_pieces::write(const char* path) const {
    if (path == nullptr || count() == 0) return false;
    std::uint32_t adler = 1;
    for (int p = 0; p < count(); ++p) {
        if (!compressed(p)) return false;
        adler = static_cast<std::uint32_t>(
            adler32_combine(adler, pieces_[std::size_t(p)].adler, z_off_t(filtered_size(p))));
    }
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr) return false;
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    unsigned char ihdr[13] = {0, 0, 0, 0, 0, 0, 0, 0, 8, 6, 0, 0, 0};
    put_be32(ihdr, std::uint32_t(width_));
    put_be32(ihdr + 4, std::uint32_t(height_));
    const unsigned char srgb = 0;
    // The zlib header: deflate with a 32 KiB window, the level's flag, and
    // the check bits that make it a multiple of 31.
    unsigned header = 0x7800u | (1u << 6);
    header += 31 - header % 31;
    const unsigned char zhead[2] = {static_cast<unsigned char>(header >> 8),
                                    static_cast<unsigned char>(header)};
    unsigned char ztail[4];
    put_be32(ztail, adler);

    bool ok = std::fwrite(signature, 1, 8, f) == 8 && write_chunk(f, "IHDR", {{ihdr, 13}}) &&
              write_chunk(f, "sRGB", {{&srgb, 1}});
    for (int p = 0; p < count() && ok; ++p) {
        const std::vector<unsigned char>& d = pieces_[std::size_t(p)].deflated;
        const bool first = p == 0, last = p == count() - 1;
        ok = write_chunk(f, "IDAT",
                         {{zhead, first ? 2u : 0u}, {d.data(), d.size()}, {ztail, last ? 4u : 0u}});
    }
    ok = ok && write_chunk(f, "IEND", {});
    return std::fclose(f) == 0 && ok;
}
