// Pixel maps of the host's foundation library and their background fill.
//
// A TpixelMap holds width x height pixels of four bytes each: red, green,
// blue, then alpha (coverage), row after row from the first. A pixel with
// alpha 0 is empty; any other alpha marks it covered.
#pragma once

#include <cstdint>
#include <vector>
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

class TpixelMap {
  public:
    // A map of that size with every byte 0 (all pixels empty).
    TpixelMap(std::uint16_t width, std::uint16_t height);

    std::uint16_t getWidth() const { return width_; }
    std::uint16_t getHeight() const { return height_; }

    // The first byte of the first pixel; pixel (x, y) starts 4 * (y * width + x)
    // bytes further. Null for a map without pixels.
    std::uint8_t* getPixel() { return pixels_.empty() ? nullptr : pixels_.data(); }
    const std::uint8_t* getPixel() const { return pixels_.empty() ? nullptr : pixels_.data(); }

  private:
    std::uint16_t width_;
    std::uint16_t height_;
    std::vector<std::uint8_t> pixels_;
};

class TfillBackground {
  public:
    // Fills the empty pixels from the covered pixels around them. The covered
    // region grows one ring per pass: every empty pixel with covered
    // 8-neighbours takes their average (all four bytes, rounded), and counts
    // as covered from the next pass on, until no pixel changes. Covered pixels
    // keep their values; a map without any covered pixel stays as it is.
    static void fillBackground(TpixelMap& map);
};

KORVO_EXPORT_END
