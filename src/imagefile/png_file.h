// PNG pictures through libpng: a reader giving 8-bit RGBA pixels and a
// writer of 8-bit RGBA pictures.
//
// PNG stores its rows top first; the library keeps rows bottom first (row 0
// is the bottom of the picture). Both functions convert: the reader returns
// rows bottom first and the writer takes them bottom first.
#pragma once

#include <cstddef>
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
// first as an 8-bit RGBA PNG file (top row first, as PNG stores them).
// False when the arguments are unusable or the file cannot be written.
bool png_write_rgba(const char* path, int width, int height, const unsigned char* rgbaBottomFirst);

KORVO_EXPORT_END
