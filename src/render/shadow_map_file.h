// The shadow map file (".smap"): reader and writer.
//
// A map file holds four float maps of lines x cols pixels, one per kind of
// value, in this order: geometry depth, geometry coverage, hair shadow
// depth, hair opacity. It starts with a text header and continues in
// binary:
//
//   "#\n"                                 four comment lines; readers skip
//   "# Hair Renderer Shadow Map\n"        any four lines of at most 1023
//   "# Velmora, Inc.\n"                   characters
//   "#\n"
//   "%d %d %d %f\n"                       lines, cols, encoding, cone
//
// Encoding 1 (written): for each row from 0 to lines - 1, four run-length
// encoded scanlines, one per map in map order. An encoded scanline is a
// sequence of 4-byte big-endian IEEE floats: a count c (integral), then
// either one value repeated c + 1 times (c >= 0) or -c literal values
// (c < 0), until cols values are covered.
//
// Encoding 0 (read only): for each row and each column, the four maps'
// values of that pixel as big-endian floats.
//
// The reader checks the sizes against kSmapMaxSide and kSmapMaxPixels and
// against the bytes the file holds before it allocates anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "descriptions/assign_db.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

// The numbers of the header's fifth line.
struct SmapHeader {
    std::int32_t lines;     // rows of each map (the map size N)
    std::int32_t cols;      // columns of each map (N)
    std::int32_t encoding;  // 1 run-length scanlines; 0 raw pixel-interleaved floats
    float cone;             // view angle override of the light, degrees (0: none)
};

// The four comment lines that start a map file.
extern const char* const kSmapComment[4];

// Largest map side and map area the reader accepts: four maps of
// kSmapMaxPixels floats are 256 MiB.
constexpr int kSmapMaxSide = 8192;
constexpr long long kSmapMaxPixels = 4096LL * 4096LL;

// The number of maps in a file and their order.
enum smap_channel : int {
    SMAP_GEO_DEPTH = 0,
    SMAP_GEO_COVERAGE = 1,
    SMAP_HAIR_DEPTH = 2,
    SMAP_HAIR_OPACITY = 3,
    SMAP_CHANNELS = 4,
};

// Writes the text header with encoding 1. false when the write fails.
bool smWriteHeader(std::FILE* file, int lines, int cols, float cone);

// Run-length encodes n values into buffer (at least n + 1 floats) and
// writes them to file as big-endian floats; count receives the number of
// floats. n = 0 writes nothing. 1, or 0 (with a message) when the scan
// does not cover exactly n values or the write fails.
int smEncodeScanline(const float* values, float* buffer, int n, int* count, std::FILE* file);
// The same codes appended to out as the file's bytes, for rows encoded
// apart from the file (in bands, on other processes) and written later.
int smEncodeScanlineBytes(const float* values, float* buffer, int n, int* count,
                          std::vector<unsigned char>& out);

// The values that n values read back as from their run-length codes: in a
// run of three or more values equal to its first (+0 and -0 compare equal,
// a NaN equals nothing), every value becomes the first. For a map kept in
// memory that must hold what its file would.
void smRunLengthValues(float* values, int n);

// Decodes lines rows of four encoded scanlines of cols values into m0 ...
// m3 (each lines x cols floats, row y at y x cols). 1, or 0 when the file
// ends early. Counts that do not come to exactly cols values print how
// many were found and throw FurEFailed "Bytes mis-matched in SHADOW rle
// buffer."; nothing is written outside the maps.
int smDecodeScanlines(std::FILE* file, float* m0, float* m1, float* m2, float* m3, int lines,
                      int cols);

// Reads the map file at path into map: 1 opened, 0 not (with a message;
// map->encoding is then -1). A map that was open is closed first. A
// corrupt run-length scanline throws FurEFailed with map closed.
int smOpen(const char* path, ShadowMap* map);
// Frees the four maps of an open map and marks it closed. Always 1.
int smClose(ShadowMap* map);

// Hands back one plane of a provided map, of floats values.
using smap_plane_release = void (*)(float* plane, std::size_t floats);

// A map already in memory for the file just written at path: planes hold
// the four maps of lines x cols floats exactly as smOpen would decode them
// from the file, and cone is the cone written in its header. The next
// smOpen of path takes the planes instead of reading the file (the map's
// cone is then the header's, as the file's text gives it back), and
// smClose hands each plane to release. 1, or 0 when path is null or the
// sizes are out of range (nothing is taken). A later map for the same path
// releases the one it replaces.
int smProvideMap(const char* path, int lines, int cols, float cone,
                 float* const planes[SMAP_CHANNELS], smap_plane_release release);
// Releases the provided maps that no smOpen took.
void smForgetProvidedMaps();

KORVO_EXPORT_END
