#include "render/camera.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>

#include "descriptions/hair_params.h"
#include "foundation/fur_exception.h"
#include "foundation/render_settings.h"
#include "descriptions/hair_records.h"
#include "generation/hair_spawning.h"

namespace {

// Releases the hair rasteriser's segment work arrays; installed by it.
void (*g_work_release)() = nullptr;

// The camera database: slot 0 for the current time, slot 1 for the second
// time sample.
hair_camera g_cameras[2];

// f × n without overflow.
int scaled(int f, int n) {
    const long long v = static_cast<long long>(f) * n;
    return static_cast<int>(std::clamp<long long>(v, INT_MIN, INT_MAX));
}

}  // namespace

void hair_camera_set_work_release(void (*release)()) {
    g_work_release = release;
}

int camera_subpixel_factor() {
    return defs.subpixel_factor > 1 ? defs.subpixel_factor : 1;
}

// ---------------------------------------------------------------------------
// cam_window

cam_window::cam_window(int low_x, int low_y, int high_x, int high_y)
    : lowx(low_x), lowy(low_y), highx(high_x), highy(high_y), diagonal(0.0f) {
    set_diagonal();
}

void cam_window::set_diagonal() {
    const double l = static_cast<double>(highy) - lowy + 1.0;
    const double c = static_cast<double>(highx) - lowx + 1.0;
    diagonal = static_cast<float>(std::sqrt(l * l + c * c));
}

bool cam_window::contained(int lines, int cols) const {
    return lowx >= 0 && lowx < cols && highx >= 0 && highx < cols && lowy >= 0 && lowy < lines &&
           highy >= 0 && highy < lines && lowx < highx && lowy < highy;
}

int cam_window::is_clipped(float x1, float y1, float x2, float y2) const {
    const float lx = static_cast<float>(lowx), hx = static_cast<float>(highx);
    const float ly = static_cast<float>(lowy), hy = static_cast<float>(highy);
    if ((x1 < lx && x2 < lx) || (x1 > hx && x2 > hx)) return 1;
    if ((y1 < ly && y2 < ly) || (y1 > hy && y2 > hy)) return 1;
    return 0;
}

int cam_window::is_mb_clipped(float x0, float y0, float x1, float y1, float x2, float y2, float x3,
                              float y3) const {
    float lx = 0.0f, hx = static_cast<float>(highx - lowx);
    float ly = 0.0f, hy = static_cast<float>(highy - lowy);
    if (defs.region_on) {
        lx = static_cast<float>(defs.region[0]);
        ly = static_cast<float>(defs.region[1]);
        hx = static_cast<float>(defs.region[2]);
        hy = static_cast<float>(defs.region[3]);
    }
    if (x0 < lx && x1 < lx && x2 < lx && x3 < lx) return 1;
    if (x0 > hx && x1 > hx && x2 > hx && x3 > hx) return 1;
    if (y0 < ly && y1 < ly && y2 < ly && y3 < ly) return 1;
    if (y0 > hy && y1 > hy && y2 > hy && y3 > hy) return 1;
    return 0;
}

// ---------------------------------------------------------------------------
// Construction

// --- The default hair sink -------------------------------------------------

namespace {

// Hair spawning hands every shaped hair to the camera's rasteriser.
void zbuffer_sink(hair_camera* cam, control_hair* hair, hair_state* state) {
    cam->zbuff_hair(hair, state);
}

[[maybe_unused]] const bool g_sink_registered = mdldb_register_default_hair_sink(zbuffer_sink);

}  // namespace

hair_camera::hair_camera()
    : flags(0),
      depth_range(),
      focal(0.0f),
      aperture(0.0f),
      frustum{0.0f, 0.0f, 0.0f, 0.0f},
      fov(0.0f),
      aspect(0.0f),
      clip{0.0f, 0.0f},
      pixel_scale(0.0f),
      lines(0),
      cols(0),
      window(),
      arr(nullptr),
      matrix(),
      owns_arr_(false) {}

hair_camera::hair_camera(const hair_camera& other)
    : flags(other.flags),
      xscale(other.xscale),
      yscale(other.yscale),
      depth_range(other.depth_range),
      focal(other.focal),
      aperture(other.aperture),
      frustum{other.frustum[0], other.frustum[1], other.frustum[2], other.frustum[3]},
      fov(other.fov),
      aspect(other.aspect),
      clip{other.clip[0], other.clip[1]},
      pixel_scale(other.pixel_scale),
      lines(other.lines),
      cols(other.cols),
      window(other.window),
      arr(other.arr),
      matrix(other.matrix),
      owns_arr_(false) {}

hair_camera& hair_camera::operator=(const hair_camera& other) {
    if (this == &other) return *this;
    // A camera given a copy of itself keeps its own z-buffer.
    const bool keep = owns_arr_ && arr == other.arr;
    if (owns_arr_ && !keep) delete arr;
    flags = other.flags;
    xscale = other.xscale;
    yscale = other.yscale;
    depth_range = other.depth_range;
    focal = other.focal;
    aperture = other.aperture;
    std::copy(other.frustum, other.frustum + 4, frustum);
    fov = other.fov;
    aspect = other.aspect;
    std::copy(other.clip, other.clip + 2, clip);
    pixel_scale = other.pixel_scale;
    lines = other.lines;
    cols = other.cols;
    window = other.window;
    arr = other.arr;
    matrix = other.matrix;
    owns_arr_ = keep;
    return *this;
}

hair_camera::~hair_camera() {
    if (owns_arr_) delete arr;
    if (g_work_release != nullptr) g_work_release();
}

// ---------------------------------------------------------------------------
// Parameters

void hair_camera::set_aperture(float a) {
    aperture = a;
    flags |= kAperture;
}

void hair_camera::set_focal(float f) {
    focal = f;
    flags |= kFocal;
}

void hair_camera::set_fov(float value, int degrees) {
    fov = degrees ? value * 0.01745329f : value;
    flags |= kFov;
}

void hair_camera::set_aspect(float a) {
    aspect = a;
    flags |= kAspect;
}

void hair_camera::set_clip(float near_dist, float far_dist) {
    clip[0] = near_dist;
    clip[1] = far_dist;
    flags |= kClip;
}

void hair_camera::set_frustum(float left, float right, float bottom, float top) {
    frustum[0] = left;
    frustum[1] = right;
    frustum[2] = bottom;
    frustum[3] = top;
    flags |= kFrustum;
}

void hair_camera::set_matrix(const kivMatrix& m) {
    matrix = m;
}

void hair_camera::set_shadow_params(float angle) {
    aperture = 1.0f;
    fov = angle * 0.03490658f;
    flags = kAperture | kFov;
}

void hair_camera::set_image_params(int image_lines, int image_cols, const cam_window& crop,
                                   const zcalc& depth) {
    const int f = camera_subpixel_factor();
    lines = scaled(f, image_lines);
    cols = scaled(f, image_cols);
    if (crop.Lines() == 1 || crop.Cols() == 1) {
        window = cam_window(0, 0, cols - 1, lines - 1);
    } else {
        window = cam_window(scaled(f, crop.lowx), scaled(f, crop.lowy), scaled(f, crop.highx),
                            scaled(f, crop.highy));
        if (!window.contained(lines, cols)) {
            furFail<FurEBadParameter>("Illegal crop window", "illegal crop window\n");
        }
        window.set_diagonal();
    }
    depth_range = depth;
}

int hair_camera::init_zbuffer() {
    if (lines <= 0 || cols <= 0) {
        std::printf("ERROR: camera has no image size (set_image_params was not called)\n");
        return 0;
    }
    auto has = [this](std::int32_t bits) { return (flags & bits) == bits; };
    const float r = static_cast<float>(cols) / static_cast<float>(lines);

    // Complete the parameters from the pair that was given.
    if (has(kAperture | kFocal) || has(kFocal | kFrustum)) {
        // Nothing to derive.
    } else if (has(kFocal | kFov)) {
        aperture = r * 2.0f * focal * std::tan(fov * 0.5f);
    } else if (has(kAperture | kFov)) {
        focal = aperture * 0.5f / (std::tan(fov * 0.5f) * r);
    } else {
        std::printf("ERROR: camera params need at least 2 of (focal, fov, aperture)\n");
        return 0;
    }

    // A film plane of no width or height, or without a number for its size,
    // maps every point to NaN and every hair would vanish without a word.
    const bool frustum_ok = !(flags & kFrustum) ||
                            (std::isfinite(frustum[1] - frustum[0]) && frustum[1] != frustum[0] &&
                             std::isfinite(frustum[3] - frustum[2]) && frustum[3] != frustum[2]);
    if (!frustum_ok) {
        std::printf("ERROR: camera frustum (%f,%f,%f,%f) has no width or height\n", frustum[0],
                    frustum[1], frustum[2], frustum[3]);
        return 0;
    }
    if ((flags & kFrustum) && !(flags & kAperture)) aperture = frustum[1] - frustum[0];
    if (!std::isfinite(aperture) || aperture == 0.0f || !std::isfinite(focal)) {
        std::printf("ERROR: camera aperture %f and focal length %f give no film plane\n", aperture,
                    focal);
        return 0;
    }

    // Film plane to pixels.
    const float fc = static_cast<float>(cols), fl = static_cast<float>(lines);
    if (flags & kFrustum) {
        xscale = kivFscale(frustum[0], frustum[1], 0.0f, fc);
        yscale = kivFscale(frustum[2], frustum[3], 0.0f, fl);
    } else {
        const float h = aperture * fl / fc;
        xscale = kivFscale(-aperture * 0.5f, aperture * 0.5f, 0.0f, fc);
        yscale = kivFscale(-h * 0.5f, h * 0.5f, 0.0f, fl);
    }
    pixel_scale = hair_params_get_wunits() * focal * fc / aperture;

    // The z-buffer of the crop window.
    if (owns_arr_) delete arr;
    arr = hair_zbuffer::create(window.Lines(), window.Cols(), defs.list_size);
    owns_arr_ = arr != nullptr;
    if (arr == nullptr) {
        std::printf("ERROR: cannot allocate a z-buffer of %d x %d pixels\n", window.Cols(),
                    window.Lines());
        return 0;
    }
    return 1;
}

// ---------------------------------------------------------------------------
// Projection and visibility

bool hair_camera::project(const kivPoint& p, float& x, float& y) const {
    if (!(p.z < 0.0f)) return false;
    const kivPoint film = p * (-focal / p.z);
    to_pixels(x, y, film);
    return true;
}

void hair_camera::prefetch_segment_end(const kivPoint& p) const {
    const float px = p.x - static_cast<float>(window.lowx);
    const float py = p.y - static_cast<float>(window.lowy);
    if (arr == nullptr || !(px > -1.0f && px < static_cast<float>(window.Cols()) && py > -1.0f &&
                            py < static_cast<float>(window.Lines())))
        return;
    arr->prefetch_visibility(arr->index(static_cast<int>(py), static_cast<int>(px)));
}

int hair_camera::is_follicle_visible(int segment, const follicle* f, int& state) const {
    const int previous = state;
    // Where a point falls: outside the window, or hidden by geometry there.
    auto test = [this](const kivPoint& p, float distance, bool& hidden) {
        const float px = p.x - static_cast<float>(window.lowx);
        const float py = p.y - static_cast<float>(window.lowy);
        // Pixels are truncated towards zero: −1 < px < Cols() is inside.
        if (!(px > -1.0f && px < static_cast<float>(window.Cols()) && py > -1.0f &&
              py < static_cast<float>(window.Lines())))
            return false;
        hidden = arr != nullptr &&
                 !arr->is_visible_at(arr->index(static_cast<int>(py), static_cast<int>(px)),
                                     distance, 0xFFFFFFFFu);
        return true;
    };

    // The end point decides the state.
    if (f->zdepth[1] < 0.0f) {
        state = 2;
        return 0;
    }
    bool hidden = false;
    bool end_visible = false;
    if (!test(f->p2, f->zdepth[1], hidden)) {
        state = 1;
    } else if (hidden) {
        state = 3;
    } else {
        state = 0;
        end_visible = true;
    }

    // The first segment also looks at the root.
    if (segment == 0) {
        if (f->zdepth[0] < 0.0f) return 0;
        bool root_hidden = false;
        if (!test(f->p1, f->zdepth[0], root_hidden)) return end_visible ? 1 : 0;
        return !root_hidden || end_visible ? 1 : 0;
    }
    return previous != 0 && !end_visible ? 0 : 1;
}

// ---------------------------------------------------------------------------
// Z-buffer

void hair_camera::clear() {
    if (owns_arr_) delete arr;
    arr = nullptr;
    owns_arr_ = false;
    flags = 0;
    focal = aperture = fov = 0.0f;
    lines = cols = 0;
    matrix.identity();
}

void hair_camera::clear_arr() {
    if (arr != nullptr) arr->clear();
}

void hair_camera::post_mb_zbuffer() {
    if (arr == nullptr) return;
    for (int row = 0; row < arr->lines(); ++row) {
        for (int col = 0; col < arr->cols(); ++col) arr->post_mb(arr->record(row, col), true);
    }
}

void hair_camera::dump() const {
    const int f = camera_subpixel_factor();
    const float* m = matrix.m;
    std::printf("camera {\n");
    std::printf("    flags = %d\n", flags);
    std::printf("    aperture = %f (%f,%f,%f,%f)\n", aperture, frustum[0], frustum[1], frustum[2],
                frustum[3]);
    std::printf("    focal = %f\n", focal);
    std::printf("    fov = %f\n", fov);
    std::printf("    aspect = %f\n", aspect);
    std::printf("    clip = %f %f\n", clip[0], clip[1]);
    std::printf("    lines = %d\n", lines / f);
    std::printf("    cols = %d\n", cols / f);
    std::printf("    window (ll, ur) = %d %d %d %d\n", window.lowx / f, window.lowy / f,
                window.highx / f, window.highy / f);
    std::printf("    matrix = %f %f %f %f\n", m[0], m[4], m[8], m[12]);
    for (int r = 1; r < 4; ++r)
        std::printf("             %f %f %f %f\n", m[r], m[r + 4], m[r + 8], m[r + 12]);
    if (arr != nullptr) std::printf("    arr is allocated\n");
    std::printf("}\n");
}

// ---------------------------------------------------------------------------
// Camera database

int camdb_init(int) {
    return 1;
}

hair_camera* camdb_get(int n) {
    return &g_cameras[n != 0 ? 1 : 0];
}

void camdb_cleanup() {
    g_cameras[0].clear();
    g_cameras[1].clear();
}
