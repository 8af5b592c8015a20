// PIC image files.
//
// A 104-byte big-endian header, a chain of 4-byte channel packets, then the
// scanlines from the top row of the picture (row lines - 1) down to row 0.
// Each packet names the channels it carries (a mask) and how they are
// stored; a scanline holds the data of every packet in turn: here one
// colour packet (red, green, blue: 3 bytes a pixel) and optionally one
// matte packet (1 byte a pixel).
//
// Uncompressed packets hold cols pixels. Mixed run-length packets are a
// sequence of codes, a "pixel" being the packet's bytes for one pixel:
//   n < 128   n + 1 literal pixels follow;
//   n = 128   a 2-byte count m, then one pixel repeated m times;
//   n > 128   one pixel repeated n - 127 times.
#pragma once

#include "imagefile/image_io.h"

#include <cstdint>
#include <vector>

constexpr int kPicHeaderSize = 104;
constexpr uint32_t kPicMagic = 0x5380F634;

// Channel mask bits of a packet.
constexpr uint8_t kPicRed = 0x80;
constexpr uint8_t kPicGreen = 0x40;
constexpr uint8_t kPicBlue = 0x20;
constexpr uint8_t kPicMatte = 0x10;

// One channel packet.
struct PicPacket {
    uint8_t chained;  // 1 when another packet follows, else 0
    uint8_t size;     // bits per channel value (8)
    uint8_t type;     // 0 uncompressed, otherwise run-length (2 mixed)
    uint8_t channel;  // mask of the channels carried
};

struct PicHeader {
    uint32_t magic;    // 0: kPicMagic
    float version;     // 4: format version
    char comment[80];  // 8: free text
    char id[4];        // 88: "PICT"
    uint16_t width;    // 92: width in pixels
    uint16_t height;   // 94: height in rows
    float ratio;       // 96: pixel aspect ratio
    uint16_t fields;   // 100: field flags
    uint16_t pad;      // 102: reserved, 0

    // Not part of the header: the channel packets that follow it.
    std::vector<PicPacket> packets;
};

// Fills the header and packets of a new image of 3 or 4 channels.
void pic_make_header(PicHeader& h, int lines, int cols, int channels);

void pic_pack_header(const PicHeader& h, uint8_t* out);
void pic_unpack_header(const uint8_t* in, PicHeader& h);

// Appends the mixed run-length code of one packet's row: pixelSize planes
// of cols bytes (3 for the colour packet, 1 for the matte packet). False,
// after printing, when the encoder's bookkeeping fails.
bool pic_encode_packet(const unsigned char* const* planes, int pixelSize, int cols,
                       std::vector<uint8_t>& out);

// Reads a PIC file held in memory into the image.
kiv_io::ReadResult pic_read(const uint8_t* data, std::size_t size, kivImage* image);

// Writes a created image to its path. 1 on success, 0 after printing the
// failure.
int pic_write(const kivImage* image);

void pic_dump_header(const PicHeader& h);
