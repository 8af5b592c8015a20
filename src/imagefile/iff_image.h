// IFF image files: the tiled chunk format of the host's image tools.
//
// Every chunk is a 4-character tag, a 32-bit big-endian size of the data
// that follows, the data, then zero padding to a multiple of 4 bytes. A
// file is one group:
//
//   FOR4 <size> CIMG
//     TBHD <32>   width u32, height u32, pixel aspect numerator u16 and
//                 denominator u16, flags u32 (1 RGB, 2 alpha, 4 depth),
//                 bytes u16 (0 for 8-bit channels), number of tiles u16,
//                 compression u32 (0 none, 1 run-length), x and y origin u32
//     FOR4 <size> TBMP
//       RGBA <size>  one colour tile: xmin, ymin, xmax, ymax u16
//                    (inclusive), then its pixels
//       ZBUF <size>  one depth tile: the same bounds, then one big-endian
//                    32-bit float per pixel
//       ...
//
// Tiles are 64 x 64 pixels (smaller at the right and top edges), ordered by
// tile row then tile column from (0, 0); row 0 is the bottom of the
// picture. A colour tile's pixels are either raw (for each row from ymin,
// each pixel from xmin: alpha, blue, green, red; without alpha just blue,
// green, red) or run-length coded, each channel separately (alpha, blue,
// green, red) as the tile's w x h bytes: a control byte c; with its high
// bit set the next byte is repeated (c & 0x7F) + 1 times, otherwise c + 1
// literal bytes follow. A tile is coded only when the code is smaller than
// its raw bytes, so a tile whose data is exactly the raw size is raw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

constexpr int kIffTileSize = 64;

// TBHD flags.
constexpr uint32_t kIffFlagRgb = 1;
constexpr uint32_t kIffFlagAlpha = 2;
constexpr uint32_t kIffFlagDepth = 4;

// A picture as the IFF reader gives it and the writer takes it.
struct IffImage {
    int width = 0;
    int height = 0;
    // Colour channels: 0 (none), 3 (RGB) or 4 (RGBA).
    int channels = 0;
    // width * height pixels of red, green, blue, alpha, bottom row first;
    // alpha 255 for RGB pictures. Empty without colour.
    std::vector<unsigned char> rgba;
    // width * height depth values, bottom row first. Empty without depth.
    std::vector<float> depth;
};

// Appends the run-length code of n bytes of one tile channel.
void iff_rle_encode(const unsigned char* bytes, std::size_t n, std::vector<uint8_t>& out);

// Encodes a picture as an IFF file. Colour tiles are run-length coded when
// runLength is set and the code is smaller; depth tiles are raw. False
// when the picture cannot be stored (no pixels, inconsistent buffers, more
// than 65535 tiles).
bool iff_encode(const IffImage& image, bool runLength, std::vector<uint8_t>& out);

// Decodes an IFF file held in memory: 8-bit RGB or RGBA tiles, raw or
// run-length, and depth tiles. False, with the reason in error, for
// anything else or any inconsistency.
bool iff_decode(const uint8_t* data, std::size_t size, IffImage& image,
                std::string* error = nullptr);

// Reads an IFF file. False when it cannot be read or decoded.
bool iff_read_file(const char* path, IffImage& image, std::string* error = nullptr);

// Whether the bytes start like an IFF image ("FOR4" .... "CIMG").
bool iff_is_signature(const uint8_t* data, std::size_t size);

KORVO_EXPORT_END
