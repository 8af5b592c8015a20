// RLA image files.
//
// An RLA file is a 740-byte header, a table of scanline offsets and the
// scanline records. All integers are big-endian. The header describes a
// window (the whole picture) and an active window (the part stored), the
// numbers of colour, matte and auxiliary channels and, as fixed-size
// NUL-padded text fields, the gamma, chromaticities, names and formats.
//
// The offset table holds one 4-byte file offset per active scanline,
// scanline 0 (the bottom of the window) first. A scanline record holds, for
// each channel in order (red, green, blue, matte, then depth), a 2-byte byte
// count followed by that many bytes: the run-length code of the channel's
// bytes for channels 0 ... 3, and for the depth channel the 4-byte floats
// themselves, big-endian and not encoded (count = 4 * width).
//
// Run-length code: a signed count byte n; n >= 0: the next byte repeated
// n + 1 times; n < 0: the next -n bytes literally.
#pragma once

#include "imagefile/image_io.h"

#include <cstdint>
#include <vector>

constexpr int kRlaHeaderSize = 740;
constexpr uint16_t kRlaRevision = 0xFFFE;  // written in the revision field

// The RLA header. Text fields are NUL-padded and need not be terminated
// when read from a file.
struct RlaHeader {
    int16_t windowLeft;    // 0: left column of the picture
    int16_t windowRight;   // 2: right column (inclusive)
    int16_t windowBottom;  // 4: bottom scanline
    int16_t windowTop;     // 6: top scanline (inclusive)
    int16_t activeLeft;    // 8: left column of the stored part
    int16_t activeRight;   // 10: right column of the stored part
    int16_t activeBottom;  // 12: first stored scanline
    int16_t activeTop;     // 14: last stored scanline
    int16_t frame;         // 16: frame number
    int16_t storageType;   // 18: colour channel type (0: 8-bit integers)
    int16_t numChan;       // 20: colour channels
    int16_t numMatte;      // 22: matte channels
    int16_t numAux;        // 24: auxiliary channels (1: depth)
    uint16_t revision;     // 26: format revision
    char gamma[16];        // 28: gamma as text
    char redPri[24];       // 44: red primary chromaticity
    char greenPri[24];     // 68: green primary
    char bluePri[24];      // 92: blue primary
    char whitePt[24];      // 116: white point
    int32_t jobNum;        // 140: job number
    char name[128];        // 144: file name
    char desc[128];        // 272: description
    char program[64];      // 400: program that wrote the file
    char machine[32];      // 464: host name of the computer
    char user[32];         // 496: user name
    char date[20];         // 528: date of writing
    char aspect[24];       // 548: aspect name
    char aspectRatio[8];   // 572: width / height as text, not terminated
    char chan[32];         // 580: colour channel format ("rgb")
    int16_t field;         // 612: field rendering flag
    char time[12];         // 614: render time
    char filter[32];       // 626: filter name
    int16_t chanBits;      // 658: bits per colour channel
    int16_t matteType;     // 660: matte channel type
    int16_t matteBits;     // 662: bits per matte channel
    int16_t auxType;       // 664: auxiliary channel type (4: float)
    int16_t auxBits;       // 666: bits per auxiliary channel
    char aux[32];          // 668: auxiliary channel format ("depth")
    char space[36];        // 700: unused
    int32_t next;          // 736: offset of a following image (0)

    // Not part of the header: the scanline offset table that follows it in
    // the file, filled when a file is read.
    std::vector<int32_t> offsets;
};

// Fills the header of a new image: lines x cols, 8 bits, the gamma; a
// depth channel when depth is set; always one matte channel.
void rla_make_header(RlaHeader& h, const char* path, int lines, int cols, float gamma,
                     bool depth);

// Packs the header into its 740 bytes and back.
void rla_pack_header(const RlaHeader& h, uint8_t* out);
void rla_unpack_header(const uint8_t* in, RlaHeader& h);

// Whether the first bytes of a file look like an RLA header: consistent
// windows and channel counts.
bool rla_looks_like_header(const uint8_t* data, std::size_t size);

// Appends one channel of cols bytes as its 2-byte count and run-length
// code. chan is only used in the message printed when the encoder's
// bookkeeping fails, in which case it returns false.
bool rla_encode_channel(const unsigned char* data, int cols, int chan, std::vector<uint8_t>& out);

// Reads an RLA file held in memory into the image (header, rows, sizes).
kiv_io::ReadResult rla_read(const uint8_t* data, std::size_t size, kivImage* image);

// Writes a created image to its path. 1 on success, 0 after printing the
// failure.
int rla_write(const kivImage* image);

// Prints the header and its offset table to standard output.
void rla_dump_header(const RlaHeader& h);
