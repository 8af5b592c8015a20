// The host's image reader: a picture read from a file as 8-bit pixels.
//
// Pixels are four bytes (red, green, blue, alpha), rows one after another
// starting with the bottom row of the picture, so that texture coordinate
// v = 0 is the bottom. The format is found from the file's first bytes,
// whatever its name: IFF, RLA, SGI RGB, PIC or PNG. Pictures without alpha
// get alpha 255; one-channel pictures are grey (two channels: grey and
// alpha). A missing, unreadable or corrupt file is a failed read.
#pragma once

#include "host/korvo_string.h"
#include "imagefile/image_formats.h"

#include <cstddef>
#include <vector>

class KorvoImage {
  public:
    enum KorvoPixelType { kUnknown = 0, kByte = 1, kFloat = 2 };

    KorvoImage();

    // Reads the file; on failure the image is empty. Only byte pixels are
    // available: other types fail with kInvalidParameter.
    KorvoStatus readFromFile(const KorvoString& pathName, KorvoPixelType type = kByte);
    // The size of the picture read (0 x 0 before a successful read).
    KorvoStatus getSize(unsigned int& width, unsigned int& height) const;
    // The pixels, or null before a successful read.
    unsigned char* pixels();
    const unsigned char* pixels() const;
    KorvoPixelType pixelType() const { return pixels_.empty() ? kUnknown : kByte; }

  private:
    unsigned int width_;
    unsigned int height_;
    std::vector<unsigned char> pixels_;
};

namespace korvo_host {

// The format of a file from its first bytes (the RLA header has no magic
// number: its windows and channel counts must be consistent).
PictureFormat picture_format_of(const unsigned char* data, std::size_t size);

}  // namespace korvo_host
