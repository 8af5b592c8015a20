// OpenEXR output: flat images with half-float R, G, B, A and an optional
// float Z channel, and deep scanline images whose pixels hold any number of
// samples, each with float R, G, B, A, Z and ZBack. Deep colour is stored
// in float rather than half so that flattening many thin samples keeps the
// flat picture's precision.
//
// The files go through the OpenEXR library. Rows are given bottom row first,
// as the renderer produces them (row 0 at the bottom); OpenEXR counts y from
// the top, so row r of an image h rows high is y = h - 1 - r, and the deep
// file is written in decreasing y order so that rows can stream bottom first.
//
// The display window is the whole image; the data window is the rectangle
// of it that holds pixels (a crop or a render region, else the whole image).
#pragma once

#include <cstdint>
#include <string>
#include <vector>
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

// A rectangle of pixels, inclusive, in image rows (row 0 at the bottom).
struct exr_box {
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    int cols() const { return x1 - x0 + 1; }
    int lines() const { return y1 - y0 + 1; }
};

// The two windows of an OpenEXR image.
struct exr_windows {
    int width = 0;   // display window: the whole image
    int height = 0;  //
    exr_box data;    // data window: the pixels that are stored
    // A whole image of width × height without crop.
    static exr_windows whole(int width, int height);
    // Whether the data window is non-empty and lies inside the display window.
    bool valid() const;
};

// A flat image in memory: planes over the data window, bottom row first.
struct exr_flat_image {
    exr_windows windows;
    const float* rgba = nullptr;  // 4 floats a pixel (premultiplied), or null for none
    const float* z = nullptr;     // 1 float a pixel, or null for no Z channel
};

// Writes a flat OpenEXR image: R, G, B, A as half floats when rgba is given,
// Z as a float channel when z is given, ZIP compression. 1 on success; 0
// with an "ERROR:" line on standard output otherwise.
int exr_write_flat(const char* path, const exr_flat_image& image);

// A flat image read back: its windows and planes over the data window,
// bottom row first, as exr_write_flat takes them.
struct exr_flat_planes {
    exr_windows windows;
    std::vector<float> rgba;  // 4 floats a pixel, empty when the file has no R, G, B, A
    std::vector<float> z;     // 1 float a pixel, empty when the file has no Z
};

// The most pixels a data window read by exr_read_flat may hold.
constexpr long long kExrMaxReadPixels = 1LL << 27;

// Reads a flat OpenEXR image with the channels exr_write_flat writes (R, G,
// B, A and/or Z; other channels are ignored). 1 on success; 0 with the
// reason in error for an unreadable, deep or too large file, or one with
// neither colour nor depth.
int exr_read_flat(const char* path, exr_flat_planes& out, std::string& error);

// One deep sample as the writer takes it: premultiplied colour and alpha,
// the sample's front and back distance.
struct exr_deep_sample {
    float r, g, b, a;
    float z, zback;
};

// Writes a deep scanline OpenEXR image row by row, bottom row first. The
// channels are R, G, B, A (float), Z and ZBack (float); each pixel's
// samples are stored in the order given (the caller sorts them by depth).
class exr_deep_writer {
  public:
    exr_deep_writer();
    ~exr_deep_writer();
    exr_deep_writer(const exr_deep_writer&) = delete;
    exr_deep_writer& operator=(const exr_deep_writer&) = delete;

    // Creates the file. 1, or 0 with an "ERROR:" line.
    int open(const char* path, const exr_windows& windows);
    // The next row of the data window: counts[i] samples for its pixel i,
    // their samples one pixel after the other in samples. 1, or 0 with an
    // "ERROR:" line (the file is then closed and incomplete).
    int write_row(const std::uint32_t* counts, const exr_deep_sample* samples);
    // Finishes the file; 1 when every row was written.
    int close();

  private:
    struct impl;
    impl* impl_;
};

// A deep image read back: its windows, every pixel's sample count and the
// samples, pixel after pixel, both over the data window bottom row first,
// as exr_deep_writer takes them row by row.
struct exr_deep_planes {
    exr_windows windows;
    std::vector<std::uint32_t> counts;
    std::vector<exr_deep_sample> samples;
};

// The most samples exr_read_deep reads from one image.
constexpr long long kExrMaxDeepSamples = 1LL << 27;

// Reads a deep scanline OpenEXR image with the channels exr_deep_writer
// writes (R, G, B, A, Z and ZBack). 1 on success; 0 with the reason in
// error for an unreadable or flat file, missing channels, or more pixels
// or samples than the caps.
int exr_read_deep(const char* path, exr_deep_planes& out, std::string& error);

KORVO_EXPORT_END
