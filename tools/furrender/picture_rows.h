// The 8-bit picture of a frame, resolved in bands of pixel rows.
//
// When the hair picture is the only image a frame writes (a PNG), a worker
// that drew a band of z-buffer rows resolves the band's pixel rows itself
// and hands back those bytes (4 a pixel) instead of its pixel records: the
// first process then only copies rows and resolves the rows no worker
// drew. A band must then hold whole pixels: its z-buffer rows are cut on
// multiples of the sub-pixel factor.
#pragma once

#include <cstdio>
#include <vector>

#include "korvofur/korvofur.h"
#include "options.h"
#include "tool_options.h"

namespace furrender {

// Whether the outputs of a run can be resolved by the workers' rows: a PNG
// picture and no other image or pass that reads the fragment lists.
bool picture_in_rows(const options& o);

class picture_rows {
  public:
    // The picture of o's output (its crop, when given): cols x lines pixels
    // of f x f samples, none resolved yet.
    explicit picture_rows(const options& o);

    int cols() const { return cols_; }
    int lines() const { return lines_; }

    // The pixel rows whose first sample row lies in the z-buffer rows of
    // band b (all of their samples, when the bands are cut on whole pixels).
    korvo_tools::row_band pixel_rows(const korvo_tools::row_band& b) const;

    // In a worker: resolves the pixel rows of its band from cam's z-buffer
    // (and the surfaces, when given) and writes them to f. False when that
    // fails.
    bool save(std::FILE* f, hair_camera& cam, const surface_layer* surfaces,
              const korvo_tools::row_band& b) const;
    // In the first process, within its band's work: resolves the pixel rows
    // of its own band b. False when that fails.
    bool resolve(hair_camera& cam, const surface_layer* surfaces, const korvo_tools::row_band& b);
    // In the first process: reads what save wrote for band b. False when it
    // is not that band's rows.
    bool load(std::FILE* f, const korvo_tools::row_band& b);

    // Resolves every row not read from a worker, and gives the picture:
    // premultiplied RGBA, row 0 (the bottom) first. False when the output
    // does not fit the z-buffer.
    bool finish(hair_camera& cam, const surface_layer* surfaces, std::vector<unsigned char>& rgba);

  private:
    void make_room();  // the picture's rows, on first use

    int cols_, lines_, factor_;
    std::vector<unsigned char> rgba_;
    std::vector<char> done_;  // a row read from a worker
};

}  // namespace furrender
