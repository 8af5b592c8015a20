// OpenEXR output passes of a camera: the flat picture (half-float R, G, B,
// A, optionally a float Z), the depth image as a float Z channel, and the
// deep image built from the fragment lists.
//
// Like the other output passes they read the z-buffer after the last hair
// and reduce the f × f samples under each output pixel (f the sub-pixel
// factor of defs). The data window of the file may be a part of the whole
// image (a crop or a render region); the z-buffer's output pixel (0, 0)
// lies at frame.origin of the whole image.
//
// Deep pixels: every fragment that the colour resolve of a sample
// composites (list entries and overflow accumulators) becomes a sample at
// its depth, carrying what it adds to the sample's resolved colour times
// the sample's share of the pixel (1 ÷ f²); geometry has already hidden
// what lies behind it. The samples of a pixel are sorted by depth, samples
// at the same depth are combined, and each is then divided by the
// transmission of the samples in front of it, so that compositing them
// front to back with "over" gives back exactly the sum: the flat picture.
// With a surface layer, the shaded surface of each sample is one more
// sample at the geometry's depth.
#pragma once

#include <vector>

#include "imagefile/exr_file.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

class hair_camera;
class surface_layer;

// Where the written pixels lie.
struct exr_frame {
    exr_windows windows;  // whole image and data window
    int origin_x = 0;     // image position of the z-buffer's output pixel (0, 0)
    int origin_y = 0;     //
    // The whole output of defs (image cols × image lines) at the origin.
    static exr_frame whole_output();
};

// The flat picture; with_z adds the Z channel of render_exr_depth. surfaces
// may be null (the hair alone). 1, or 0 with an "ERROR:" line.
int render_exr(hair_camera& cam, const char* file, const exr_frame& frame, bool with_z,
               const surface_layer* surfaces);

// Rows Y0 ... Y1 - 1 (image rows within the data window) of the flat
// picture, 4 floats a pixel, into rgba, and of the depth into depth (either
// may be null), row Y0 first, data-window columns: the rows of one band,
// resolved by the process that drew it, for a file written with
// exr_write_flat. 0 (with an "ERROR:" line) when the window does not fit or
// the rows lie outside it.
int render_exr_rows(hair_camera& cam, const exr_frame& frame, const surface_layer* surfaces, int Y0,
                    int Y1, float* rgba, float* depth);

// The depth image: per pixel the nearest distance from the eye of hair or
// geometry over its samples, 0 where there is none.
int render_exr_depth(hair_camera& cam, const char* file, const exr_frame& frame);

// The deep image. 1, or 0 with an "ERROR:" line.
int render_deep_exr(hair_camera& cam, const char* file, const exr_frame& frame,
                    const surface_layer* surfaces);

// The hair composited over the shaded surfaces as 8-bit premultiplied RGBA,
// bottom row first, over the whole output of defs (as render_rgba). 0,
// with rgba empty, when the output does not fit the z-buffer.
int render_rgba_over_surfaces(hair_camera& cam, const surface_layer& surfaces,
                              std::vector<unsigned char>& rgba);

// Rows row0 ... row1 - 1 of that picture (the hair alone when surfaces is
// null, as render_rgba gives it), row row0 first at rgba, defs.image_cols
// pixels a row: the rows of one band, resolved by the process that drew it.
// 0 when the output does not fit the z-buffer or the rows lie outside it.
int render_rgba_rows(hair_camera& cam, const surface_layer* surfaces, int row0, int row1,
                     unsigned char* rgba);

KORVO_EXPORT_END
