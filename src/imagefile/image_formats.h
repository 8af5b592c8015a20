// The image formats the library reads and writes, one table row each.
//
// The image front end (kivOpenImage, kivCreateImage, kivCloseImage,
// kivDumpHeader, kivFormatFromExtension) and the texture reader
// (KorvoImage) both find a format here: the front end by its format number
// or file extension, the texture reader by the file's first bytes. A new
// format is one new row (and its reader and writer module).
//
// Rows with a front-end number (RLA, PIC, SGI RGB) hold the picture in a
// kivImage and give its header hooks and size limits; the others (IFF,
// PNG) are read straight to RGBA. Every row can write an 8-bit RGBA
// picture, which the round-trip tests use.
#pragma once

#include "imagefile/image_io.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvo_host {

// The picture formats KorvoImage recognises.
enum class PictureFormat { kUnknown, kIff, kRla, kSgi, kPic, kPng };

}  // namespace korvo_host

// One image format.
struct ImageFormat {
    const char* name;                   // short name for messages and tests
    korvo_host::PictureFormat picture;  // the texture reader's id
    int frontEnd;                       // kivFormatRla ...; 0 outside the front end
    const char* extension;              // file-name ending, with the dot
    // Whether the bytes start like a file of this format. RLA has no magic
    // number: its header's windows and channel counts must be consistent.
    bool (*detect)(const uint8_t* data, std::size_t size);

    // --- Front end only (null or 0 otherwise) ---
    int minChannels, maxChannels;  // channel counts kivCreateImage accepts
    // Printed instead of the general message when there are too many
    // channels; null for the general one.
    const char* tooManyChannels;
    int maxLines;                  // rows a header can store
    int (*maxCols)(int channels);  // columns a header can store
    kiv_io::ReadResult (*read)(const uint8_t* data, std::size_t size, kivImage* image);
    void* (*makeHeader)(const char* path, int lines, int cols, float gamma, int channels);
    void (*deleteHeader)(void* header);
    void (*dumpHeader)(const void* header);
    int (*write)(const kivImage* image);  // writes image->path at close

    // --- Texture reading outside the front end (null for front-end rows,
    // which the texture reader opens through the front end) ---
    // Decodes to RGBA, bottom row first, alpha 255 when absent.
    bool (*decodeRgba)(const uint8_t* data, std::size_t size, unsigned& width, unsigned& height,
                       std::vector<unsigned char>& rgba);

    // Writes a width x height RGBA picture (bottom row first) to path.
    bool (*writeRgba)(const char* path, int width, int height, const unsigned char* rgba);
};

// Every row, in detection order (formats with a magic number first, RLA
// last).
const ImageFormat* image_formats_begin();
const ImageFormat* image_formats_end();

// The row of a front-end number (kivFormatRla ...), or null.
const ImageFormat* image_format_of_type(int frontEnd);
// The row whose extension ends path, or null.
const ImageFormat* image_format_of_path(const char* path);
// The first row whose detection accepts the bytes, or null.
const ImageFormat* image_format_of_bytes(const uint8_t* data, std::size_t size);
