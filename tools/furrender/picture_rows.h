// The pictures of a frame, resolved in bands of pixel rows.
//
// When a frame writes only pictures that are resolved pixel by pixel (a PNG
// picture, a flat OpenEXR picture with or without Z, an OpenEXR depth
// image), a worker that drew a band of z-buffer rows resolves the band's
// pixel rows itself and hands back those values instead of its pixel
// records: the first process resolves its own band while the workers do
// theirs, then only copies rows and resolves the rows no band drew. A band
// must then hold whole pixels: its z-buffer rows are cut on multiples of
// the sub-pixel factor.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "korvofur/korvofur.h"
#include "options.h"
#include "tool_options.h"

namespace furrender {

// Whether a file name ends in ".exr" (any case).
bool is_exr(const std::string& path);

// Whether the outputs of a run can be resolved by the workers' rows: only
// pictures resolved pixel by pixel, nothing that reads the fragment lists
// afterwards (deep image, IFF and RLA passes, fragment counts) and no tile.
bool picture_in_rows(const options& o);

class picture_rows {
  public:
    // The pictures o asks for, of f x f samples a pixel; fr the windows of
    // its OpenEXR files. Nothing is resolved yet.
    picture_rows(const options& o, const exr_frame& fr);

    // The z-buffer's pixel rows whose first sample row lies in band b (all
    // of their samples, when the bands are cut on whole pixels).
    korvo_tools::row_band pixel_rows(const korvo_tools::row_band& b) const;

    // In a worker: resolves the rows of its band of every picture from
    // cam's z-buffer (and the surfaces, when given) and writes them to f.
    bool save(std::FILE* f, hair_camera& cam, const surface_layer* surfaces,
              const korvo_tools::row_band& b) const;
    // In the first process, within its band's work: resolves the rows of
    // its own band b.
    bool resolve(hair_camera& cam, const surface_layer* surfaces, const korvo_tools::row_band& b);
    // In the first process: reads what save wrote for band b. False when it
    // is not that band's rows.
    bool load(std::FILE* f, const korvo_tools::row_band& b);

    // Resolves every row not resolved yet. False when a picture does not
    // fit the z-buffer (with the library's "ERROR:" line).
    bool finish(hair_camera& cam, const surface_layer* surfaces);

    // The finished pictures: the 8-bit one (premultiplied RGBA, row 0 at
    // the bottom first, the whole output), the OpenEXR picture and depth
    // (over the data window); empty when not asked for.
    std::vector<unsigned char>& rgba8() { return planes_[kRgba8].bytes; }
    const std::vector<float>& rgba() const { return planes_[kRgba].floats; }
    const std::vector<float>& depth() const { return planes_[kDepth].floats; }

  private:
    enum kind { kRgba8, kRgba, kDepth, kKinds };
    // One picture: the z-buffer pixel rows first ... last - 1 it holds,
    // values a row, and which rows are resolved.
    struct plane {
        bool on = false;
        bool is_float = false;  // floats (kRgba, kDepth), else bytes
        int first = 0, last = 0;
        std::size_t row_values = 0;
        std::vector<unsigned char> bytes;  // kRgba8
        std::vector<float> floats;         // kRgba, kDepth
        std::vector<char> done;
        std::size_t value_size() const { return is_float ? sizeof(float) : 1; }
        unsigned char* row(int r);
    };

    // Resolves the pixel rows r0 ... r1 - 1 of picture k (within its rows)
    // into out.
    bool fill(int k, hair_camera& cam, const surface_layer* surfaces, int r0, int r1,
              unsigned char* out) const;
    // The rows of picture k within the pixel rows of band b.
    korvo_tools::row_band rows_of(int k, const korvo_tools::row_band& b) const;

    int factor_, cols_, lines_;
    exr_frame frame_;
    plane planes_[kKinds];
};

}  // namespace furrender
