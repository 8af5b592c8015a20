// Shaded scene surfaces under the hair.
//
// The geometry z-buffer (geometry_occlusion.h) records only how near the
// scene's surfaces are and how much of each sample they cover. The surface
// layer adds what they look like: it scan-converts the visible polygons and
// NURBS surfaces of the scene once more, a band of rows at a time, keeps per
// z-buffer sample the nearest surface point with its interpolated normal,
// and shades it diffuse
// (Lambert) under the scene's lights, each light lighting the models it is
// linked to, with the lights' falloff, cone and shadow multipliers. The
// output passes (exr_output.h) put the shaded surface at the geometry's
// depth, behind the hair in front of it.
//
// Build the layer after the models and lights are in place for the frame,
// while the models still hold their geometry: mdldb_zbuffer releases that
// of models without hair, the hair pass every model's, unless the frame
// keeps it (defs.tiles). Built after the hair, the layer can leave out the
// samples that the hair in front of them hides completely.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/vector_types.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

class hair_camera;
class hair_zbuffer;
struct hair_light;

// The colour of one model's surface.
struct surface_color {
    std::string model;
    kivColor color;
};

class surface_layer {
  public:
    // The colour of surfaces that no surface_color names.
    static constexpr float kDefaultGrey = 0.5f;

    // Scan-converts and shades the surfaces of model list which as the
    // camera sees them (its z-buffer must exist). colors gives model colours
    // by name. With skip_hidden, a surface whose samples in a pixel the hair
    // already in the z-buffer hides completely (hair_zbuffer::hides_geometry)
    // is not shaded there: its samples keep their model and get colour 0,
    // which adds to the resolved picture what their shaded colour would
    // have. A hidden sample of a surface shaded in its pixel may get 0 or
    // the surface's colour; it adds nothing either way. A pixel of
    // unit × unit samples (aligned on the grid) is shaded once per surface
    // it shows, as renderers shade: the sample of that surface nearest the
    // pixel's centre is lit, and the pixel's other samples on the same
    // surface (same model, near its tangent plane, similar normal) take its
    // colour; coverage and depth stay those of each sample. A unit of 1
    // lights every sample. 1, or 0 when the camera has no z-buffer or
    // memory runs out.
    int build(const hair_camera& cam, int which, const std::vector<surface_color>& colors,
              bool skip_hidden = false, int unit = 1);
    // Like build, but the layer holds one band of rows at a time: the
    // render region's rows are shaded band after band (each a multiple of
    // unit rows, so that whole pixels of unit × unit samples lie in one
    // band, and about band_samples samples), and rows(row0, row1) is called
    // while the layer holds rows row0 ... row1 - 1, which the next band
    // replaces; color() answers for those rows only. A frame whose pixels
    // are resolved right away needs a band's worth of samples, not the
    // grid's. Each band's samples come out as build shades them. False
    // from rows stops the build, which then returns 0; afterwards the layer
    // is empty.
    int build_rows(const hair_camera& cam, int which, const std::vector<surface_color>& colors,
                   bool skip_hidden, int unit, const std::function<bool(int, int)>& rows);
    // Drops the samples.
    void clear();
    // Rows row0 ... row1 - 1 of a built layer into a stream, and read back
    // into the same rows of a layer of the same size: a process that shaded
    // a band of rows hands them over this way. False when the rows are
    // outside the grid, the stream fails or is short, or a sample names a
    // model below -1.
    bool save_rows(std::FILE* f, int row0, int row1) const;
    bool load_rows(std::FILE* f, int row0, int row1);

    int lines() const { return lines_; }
    int cols() const { return cols_; }
    // The shaded colour (r, g, b) of z-buffer sample (row, col), null where
    // no surface was drawn, outside the grid or outside the rows held.
    const float* color(int row, int col) const {
        row -= first_row_;
        if (row < 0 || col < 0 || row >= held_rows_ || col >= cols_) return nullptr;
        const std::size_t i = static_cast<std::size_t>(row) * cols_ + col;
        return model_[i] == 0 ? nullptr : &rgb_[i * 3];
    }

    // Samples drawn and shaded at a time: the surfaces are drawn and shaded
    // in bands of whole rows of about this many samples, so that the
    // nearest points of one band only are held. 0 draws the whole grid at
    // once. Bands give the same layer as the whole grid.
    static constexpr std::size_t kBandSamples = std::size_t{1} << 17;
    void set_band_samples(std::size_t n) { band_samples_ = n; }

  private:
    // The nearest surface point of each sample, before shading.
    struct point {
        float depth;     // distance from the eye
        float coverage;  // area of the sample that the point's piece covers
        float p[3];      // camera-space position
        float n[3];      // camera-space normal (not unit)
    };
    // A projected triangle of a model (surface_shading.cpp).
    struct triangle;
    // What shading needs of each model: its colour, its root scale and how
    // many times each light lights it.
    struct model_table {
        std::vector<kivColor> colors;
        std::vector<unsigned char> linked;  // models x lights
        std::vector<float> root_scales;
        int lights = 0;
    };
    static bool same_surface(const point& s, const float* p);
    static bool one_surface(const point& a, const point& b);
    static model_table tables(int which, const std::vector<surface_color>& colors);
    // The triangles of every drawn model, in model and polygon order, into
    // tris; when there are more than cap, everything is drawn into the whole
    // grid (points_) instead, as it comes, and tris is left empty.
    void project_models(const hair_camera& cam, int which, std::size_t cap,
                        std::vector<triangle>& tris);
    // The model and colour blocks for rows first ... first + rows - 1 (the
    // model rows of the render region zeroed); throws std::bad_alloc.
    void hold_rows(int first, int rows);
    // build and build_rows: with rows, the blocks hold one band at a time
    // (bands of a multiple of unit rows) and rows is called after each.
    int build_bands(const hair_camera& cam, int which, const std::vector<surface_color>& colors,
                    bool skip_hidden, int unit, const std::function<bool(int, int)>* rows);
    void draw_triangle(const triangle& t, int row0, int row1, point* band);
    // Shades rows row0 ... row1 - 1 (whole pixels of unit rows) from their
    // points, band[0] being the first sample of row0; samples that hiding
    // hides are left at 0.
    void shade(int which, const model_table& t, const point* band, int row0, int row1, int unit,
               hair_zbuffer* hiding);
    // For each sample of those rows (an index into band), in from the
    // sample whose colour it takes: the first of its surface in its pixel
    // (itself, or -1 where no surface is drawn); in state whether it is lit
    // (kLit: a first sample with a sample of its surface in view) and
    // whether hiding hides it (kHidden; asked only until its surface is lit).
    void pick_lit(const point* band, int row0, int row1, int unit, hair_zbuffer* hiding,
                  std::vector<std::int32_t>& from, std::vector<unsigned char>& state) const;
    // shade's work on rows whose samples pick_lit has sorted into from and
    // state.
    void shade_rows(int which, const model_table& t, const point* band, int row0, int row1,
                    const std::vector<std::int32_t>& from, const std::vector<unsigned char>& state);
    // The samples of one row (models + 1 as stored, points P, normals N) that light l of
    // table t lights and faces, into the b arrays: position, normal, root
    // scale, facing (cosine to the light), times linked, column. Returns
    // how many.
    int gather_lit(const hair_light& light, const model_table& t, int l, const std::int32_t* models,
                   const kivPoint* P, const kivVector* N, kivPoint* bp, kivVector* bn, float* scale,
                   float* facing, float* times, int* at) const;

    int lines_ = 0;
    int cols_ = 0;
    int first_row_ = 0;  // the first row the blocks hold
    int held_rows_ = 0;  // rows the blocks hold: the grid's, or a band's
    std::size_t band_samples_ = kBandSamples;
    bool whole_ = false;         // drawing into the whole grid
    std::vector<point> points_;  // the band's (or the grid's) points while drawing
    // Per sample its model + 1 (0 for none) and its shaded colour (3
    // floats, zero where nothing was shaded). Both blocks come zeroed from
    // calloc, so that the pages of rows that no surface reaches, or that
    // another process shades, are never touched (a frame's worth is tens of
    // megabytes).
    struct free_block {
        void operator()(void* p) const { std::free(p); }
    };
    std::unique_ptr<std::int32_t[], free_block> model_;
    std::unique_ptr<float[], free_block> rgb_;
    std::size_t samples_ = 0;  // samples both blocks have room for (at least held_rows_ × cols_)
};

KORVO_EXPORT_END
