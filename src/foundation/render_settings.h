// The render settings record `defs` and the verbosity bits `opt_flags`.
//
// The caller fills the settings before each frame; the library gives them
// their defaults at load time and writes only the work-in-progress fields
// (model_name, geometry_id, hair_id, hair_random, root_scale, pixel_x,
// pixel_y). Callers address the record by layout: field order and widths
// are part of the interface and must not change.
#pragma once

#include <cstdint>
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

struct ShadowMapInfo;

// The shadow state of a render; `defs.shadows` is the one the renderer uses.
struct ShadowMapList {
    std::int32_t shadow_pass;  // non-zero while shadow maps are being created
    std::int32_t use_shadows;  // non-zero when lighting looks shadows up
    std::int32_t count;        // number of entries
    std::int32_t current;      // index of the entry whose map is being rendered
    char caller_bytes[512];    // the caller's; not used by the library
    ShadowMapInfo* entries;    // count entries, one per shadowing light (owned)
};

struct defaults {
    std::int32_t host_ints[4] = {1, 1, 1, -1};   // the caller's
    const char* image_format = "iff";            // the caller's image format word
    const char* output_dir = "test_hair";        // directory of the OBJ model files
    std::int32_t image_lines = 486;              // rows of the output images
    std::int32_t image_cols = 720;               // columns of the output images
    float gamma = 1.7f;                          // gamma written into RLA headers
    float host_floats[3] = {0.86f, 1.0f, 0.5f};  // the caller's
    std::int32_t host_codes[3] = {11, 5, 113};   // the caller's
    std::int32_t motion_blur = 0;                // non-zero: time slices in the fragment lists
    float shutter = 1.0f;              // where the shutter closes between time samples 0 and 1
    float motion_step = 1.0f;          // step deciding how many motion copies a polygon gets
    std::int32_t list_size = 5;        // hair fragments per pixel list
    std::int32_t tess_factor = 1;      // NURBS tessellation multiplier
    ShadowMapList shadows{};           // shadow state of the render
    std::int32_t host_int2 = 0;        // the caller's
    std::int32_t subpixel_factor = 1;  // z-buffer samples per pixel along each axis
    std::int32_t merge_mode = 0;       // how two fragments of one hair merge
    float merge_exponent = 1.0f;       // exponent of merge mode 2
    std::int32_t host_int3 = 0;        // the caller's
    std::int32_t region_on = 0;        // non-zero limits rasterisation to the region
    std::int32_t region[4] = {-1, -1, -1, -1};  // low x, low y, high x, high y (pixels)
    std::int32_t tiles[2] = {1, 1};             // render tile counts
    std::int32_t frame = 0;                     // current frame number
    // --- Work in progress, written by the library ---
    const char* model_name = nullptr;  // model being z-buffered or haired
    std::int32_t geometry_id = 0;      // counter of models z-buffered
    std::int32_t hair_id = 1;          // counter of hairs shaped; never reset
    float hair_random = 0.0f;          // the current hair's fourth random number
    float root_scale = 1.0f;           // root scale of the model being haired
    std::int32_t pixel_x = 0;          // pixel column an output pass is resolving
    std::int32_t pixel_y = 0;          // pixel row an output pass is resolving
    bool backface = false;             // lighting ignores lights behind the root surface
};

extern defaults defs;
// Verbosity bits: 0 and 1 together print warnings and information about
// optional data; 0, 1 and 2 together print progress lines as well.
extern int opt_flags;

// True when warnings and information lines about optional data are printed.
inline bool opt_warnings() {
    return (opt_flags & 3) == 3;
}
// True when progress lines are printed.
inline bool opt_progress() {
    return (opt_flags & 7) == 7;
}

KORVO_EXPORT_END
