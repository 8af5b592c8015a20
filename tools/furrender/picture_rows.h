// The pictures of a frame, resolved in bands of pixel rows.
//
// When a frame writes only pictures that are resolved pixel by pixel (a PNG
// picture, a flat OpenEXR picture with or without Z, an OpenEXR depth
// image), a worker that drew a band of z-buffer rows resolves the band's
// pixel rows itself and hands back those values instead of its pixel
// records: the first process resolves its own band while the workers do
// theirs, then only copies rows and resolves the rows no band drew. A band
// must then hold whole pixels: its z-buffer rows are cut on multiples of
// the sub-pixel factor. The PNG picture's pixels are made final (straight
// alpha, or over the background) as their rows are resolved, and each
// process compresses the PNG pieces (png_pieces) that lie wholly in its
// band as soon as their rows are resolved, within the work the processes
// share; the first process compresses the pieces that straddle two bands.
#pragma once

#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <utility>
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

// An allocator whose new elements are left uninitialised: every row of a
// picture is written before it is read, and a worker writes only its
// band's rows, so the pages of the other rows are never touched.
template <class T>
struct uninitialised : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = uninitialised<U>;
    };
    uninitialised() = default;
    template <class U>
    uninitialised(const uninitialised<U>&) noexcept {}
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... A>
    void construct(U* p, A&&... a) {
        ::new (static_cast<void*>(p)) U(std::forward<A>(a)...);
    }
};
template <class T>
using picture_vector = std::vector<T, uninitialised<T>>;

class picture_rows {
  public:
    // The pictures o asks for, of f x f samples a pixel; fr the windows of
    // its OpenEXR files. Nothing is resolved yet.
    picture_rows(const options& o, const exr_frame& fr);

    // The z-buffer's pixel rows whose first sample row lies in band b (all
    // of their samples, when the bands are cut on whole pixels).
    korvo_tools::row_band pixel_rows(const korvo_tools::row_band& b) const;

    // Resolves the rows of every picture within band b that are not
    // resolved yet, from cam's z-buffer (and the surfaces, when given), and
    // compresses the PNG pieces whose rows are then all resolved: a process
    // whose surfaces are shaded a band of rows at a time
    // (surface_layer::build_rows) resolves each band's pixels while the
    // layer holds it, and one that takes shared rows unit by unit
    // compresses its pieces before it hands them over. b must hold whole
    // pixels.
    bool resolve_rows(hair_camera& cam, const surface_layer* surfaces,
                      const korvo_tools::row_band& b);
    // In a worker: resolves the rows of its band of every picture not
    // resolved yet and writes them to f, with the PNG pieces lying wholly
    // in the band compressed.
    bool save(std::FILE* f, hair_camera& cam, const surface_layer* surfaces,
              const korvo_tools::row_band& b);
    // In the first process, within its band's work: resolves the rows of
    // its own band b not resolved yet (resolve_rows).
    bool resolve(hair_camera& cam, const surface_layer* surfaces, const korvo_tools::row_band& b);
    // In the first process: reads what save wrote for band b. False when it
    // is not that band's rows.
    bool load(std::FILE* f, const korvo_tools::row_band& b);

    // Resolves every row not resolved yet. False when a picture does not
    // fit the z-buffer (with the library's "ERROR:" line).
    bool finish(hair_camera& cam, const surface_layer* surfaces);

    // Writes the finished PNG picture to path. False when there is none or
    // the file cannot be written.
    bool write_png(const std::string& path) const;
    // The finished OpenEXR picture and depth (over the data window); empty
    // when not asked for.
    const picture_vector<float>& rgba() const { return planes_[kRgba].floats; }
    const picture_vector<float>& depth() const { return planes_[kDepth].floats; }

  private:
    enum kind { kRgba8, kRgba, kDepth, kKinds };
    // One picture: the z-buffer pixel rows first ... last - 1 it holds,
    // values a row, and which rows are resolved.
    struct plane {
        bool on = false;
        bool is_float = false;  // floats (kRgba, kDepth), else bytes
        int first = 0, last = 0;
        std::size_t row_values = 0;
        picture_vector<unsigned char> bytes;  // kRgba8
        picture_vector<float> floats;         // kRgba, kDepth
        std::vector<char> done;
        std::size_t value_size() const { return is_float ? sizeof(float) : 1; }
        unsigned char* row(int r);
    };

    // Resolves the pixel rows r0 ... r1 - 1 of picture k (within its rows)
    // into out.
    bool fill(int k, hair_camera& cam, const surface_layer* surfaces, int r0, int r1,
              unsigned char* out) const;
    // Resolves the rows of picture k within r that are not resolved yet,
    // run by run.
    bool fill_missing(int k, hair_camera& cam, const surface_layer* surfaces,
                      const korvo_tools::row_band& r);
    // The rows of picture k within the pixel rows of band b.
    korvo_tools::row_band rows_of(int k, const korvo_tools::row_band& b) const;
    // Compresses the PNG pieces not compressed yet that reach the pixel
    // rows r and whose rows are all resolved.
    bool compress_completed(const korvo_tools::row_band& r);

    int factor_, cols_, lines_;
    exr_frame frame_;
    bool over_background_;
    float background_[3];
    png_pieces png_;
    plane planes_[kKinds];
};

}  // namespace furrender
