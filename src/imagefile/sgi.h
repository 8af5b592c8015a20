// SGI RGB image files.
//
// A 512-byte big-endian header, then the pixel data stored channel by
// channel: all rows of the first channel (row 0 is the bottom of the
// picture), then all rows of the next. With verbatim storage each row is
// xsize bytes. With run-length storage the header is followed by two tables
// of ysize * zsize 4-byte values, index channel * ysize + row: the file
// offset of each row's code, then its length in bytes, and the codes.
//
// Run-length code: a count byte; with its high bit set (count & 0x7F)
// literal bytes follow, otherwise the next byte is repeated count times. A
// zero count ends a row; our writer writes none, and the reader stops as
// soon as a row is full.
#pragma once

#include "imagefile/image_io.h"

#include <cstdint>
#include <vector>

constexpr int kSgiHeaderSize = 512;
constexpr uint16_t kSgiMagic = 474;

struct SgiHeader {
    uint16_t magic;      // 0: kSgiMagic
    uint8_t storage;     // 2: 0 verbatim, 1 run-length
    uint8_t bpc;         // 3: bytes per channel value (1)
    uint16_t dimension;  // 4: 1 one row, 2 one channel, 3 several channels
    uint16_t xsize;      // 6: width in pixels
    uint16_t ysize;      // 8: height in rows
    uint16_t zsize;      // 10: number of channels
    uint32_t pixmin;     // 12: smallest pixel value (0)
    uint32_t pixmax;     // 16: largest pixel value (255)
    uint32_t dummy;      // 20: reserved, 0
    char imagename[80];  // 24: the image's name, NUL-terminated
    uint32_t colormap;   // 104: 0 for a normal image
                         // 108 ... 511: reserved, 0
};

// Fills the header of a new run-length image.
void sgi_make_header(SgiHeader& h, const char* path, int lines, int cols, int channels);

void sgi_pack_header(const SgiHeader& h, uint8_t* out);
void sgi_unpack_header(const uint8_t* in, SgiHeader& h);

// Appends the run-length code of one row of n bytes (no terminating zero
// count). False, after printing, when the encoder's bookkeeping fails.
bool sgi_encode_row(const unsigned char* data, int n, std::vector<uint8_t>& out);

// Reads an SGI file held in memory into the image.
kiv_io::ReadResult sgi_read(const uint8_t* data, std::size_t size, kivImage* image);

// Writes a created image to its path, run-length coded. 1 on success, 0
// after printing the failure.
int sgi_write(const kivImage* image);

void sgi_dump_header(const SgiHeader& h);
