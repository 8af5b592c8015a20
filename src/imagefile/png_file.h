// PNG pictures: a reader giving 8-bit RGBA pixels (through libpng) and a
// writer of 8-bit RGBA pictures that compresses them in pieces.
//
// PNG stores its rows top first; the library keeps rows bottom first (row 0
// is the bottom of the picture). Both functions convert: the reader returns
// rows bottom first and the writer takes them bottom first.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

// Whether the bytes start with the PNG signature.
bool png_is_signature(const unsigned char* data, std::size_t size);

// Decodes a PNG file held in memory into width * height pixels of red,
// green, blue, alpha (alpha 255 where the file has none), bottom row first.
// Any bit depth and colour type is converted to 8-bit RGBA. False, with the
// reason in error, when the data is not a readable PNG picture or claims
// more pixels than its size can hold.
bool png_read_rgba(const unsigned char* data, std::size_t size, int& width, int& height,
                   std::vector<unsigned char>& rgbaBottomFirst, std::string* error = nullptr);

// Writes width * height pixels of red, green, blue, alpha given bottom row
// first as an 8-bit RGBA PNG file (top row first, as PNG stores them),
// through png_pieces: the bytes are those of any banded compression of the
// same pixels. False when the arguments are unusable or the file cannot be
// written.
bool png_write_rgba(const char* path, int width, int height, const unsigned char* rgbaBottomFirst);

// The file png_pieces writes:
//
//   signature    89 50 4E 47 0D 0A 1A 0A
//   "IHDR"       width, height, bit depth 8, colour type 6 (RGBA),
//                compression 0, filter method 0, no interlace
//   "sRGB"       rendering intent 0 (perceptual)
//   "IDAT"       one chunk a piece, top piece first; the first starts with
//                the two-byte zlib header, the last ends with the Adler-32
//                of all the filtered rows (big-endian)
//   "IEND"
//
// Chunks are a big-endian length, the type, the data and the CRC-32 of type
// and data. The picture's rows, top first, are cut into pieces of
// kPngPieceRows rows (the last may be shorter). Each piece is filtered on
// its own (every row takes the filter whose bytes, read as signed, add up
// to the least; the first row of a piece only None or Sub, which need no
// row above) and raw-deflated on its own at kPngLevel, ending on a sync
// flush (the last piece on the final block). The pieces depend only on the
// pixels, so processes that resolved different bands of rows compress the
// pieces inside their bands and the file comes out the same.
constexpr int kPngPieceRows = 32;
// The deflate level: on the demo picture it gives a file 1 % smaller than
// libpng's default writer in a third of the time.
constexpr int kPngLevel = 4;

class png_pieces {
  public:
    // A picture of width x height pixels (1 ... 65535 each); count() is 0
    // for other sizes.
    png_pieces(int width, int height);

    int width() const { return width_; }
    int height() const { return height_; }
    int count() const { return static_cast<int>(pieces_.size()); }
    // The rows of piece p as the library counts them (row 0 at the bottom):
    // row0 ... row1 - 1.
    void rows(int p, int& row0, int& row1) const;
    // The pieces lying wholly within the rows r0 ... r1 - 1 (row 0 at the
    // bottom): p0 ... p1 - 1, none when p0 == p1.
    void within(int r0, int r1, int& p0, int& p1) const;

    // Filters and deflates piece p from its rows, bottom row first at
    // lowest, width x 4 bytes a row. False when p is not a piece or zlib
    // fails (out of memory).
    bool compress(int p, const unsigned char* lowest);
    bool compressed(int p) const;

    // Pieces p0 ... p1 - 1 over a stream between processes: save writes
    // them (all compressed), load reads what save wrote. False when a piece
    // is missing, the stream ends early or holds other pieces.
    bool save(std::FILE* f, int p0, int p1) const;
    bool load(std::FILE* f, int p0, int p1);

    // Writes the PNG file. False when a piece is not compressed or the
    // file cannot be written.
    bool write(const char* path) const;

  private:
    struct piece {
        std::vector<unsigned char> deflated;  // raw deflate data, sync-flushed
        std::uint32_t adler = 1;              // Adler-32 of the filtered rows
        bool done = false;
    };
    // Bytes of piece p's filtered rows (a filter byte a row).
    std::size_t filtered_size(int p) const;

    int width_ = 0, height_ = 0;
    std::vector<piece> pieces_;
};

KORVO_EXPORT_END
