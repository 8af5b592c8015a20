// The texture-map cache: images that parameter values read at the surface
// coordinates of a hair, each read from disk on first use and kept until it
// is evicted (least recently used first) or the cache is released.
//
// Names that start with '$' are expanded first: $F is the frame number as
// four digits, $f the frame number, $M and $m the name of the model being
// haired with every '|' and ':' turned into '_'. Channel codes are the bits
// 1 red, 2 green, 4 blue and 8 alpha (matte).
#pragma once

#include <vector>

#include "foundation/vector_types.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

// --- Cache -----------------------------------------------------------------

// Builds an empty cache that holds up to n images (n >= 1). Returns 1, or 0
// when n is below 1 or memory runs out. A cache that exists is released.
int tmap_init(int n);
// Releases every image and the cache.
void tmap_done();

// One channel (code 1, 2, 4 or 8) of the image at (u, v), 0 ... 1. A u or v
// outside [0, 1] gives 0 without reading anything. Throws FurEFailed when
// the image cannot be read or the channel does not exist.
float tmap_lookup_chan(const char* name, int channel, double u, double v);
// The channels of mask (bits 1, 2, 4, 8) of the image at (u, v), stored in
// that order into the first components of the result; the others stay 0.
kivColor tmap_lookup_chans(const char* name, int mask, double u, double v);

// --- Image reader ------------------------------------------------------------

// An image as the cache receives it: 8-bit red, green, blue and alpha per
// pixel, row by row, the row at v = 0 first.
struct tmap_image {
    unsigned int width = 0;
    unsigned int height = 0;
    std::vector<unsigned char> pixels;  // width * height * 4 bytes
};

// Reads the file at path into image; false when it cannot be read.
using tmap_reader = bool (*)(const char* path, tmap_image& image);

// Installs the reader the cache uses from now on and returns the previous
// one; null reinstalls the default reader (the host's image reader).
tmap_reader tmap_set_reader(tmap_reader reader);
// The default reader.
bool tmap_default_reader(const char* path, tmap_image& image);

KORVO_EXPORT_END
