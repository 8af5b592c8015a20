// The camera and the owner of the z-buffer that hairs and geometry are
// rasterised into.
//
// The scene reader gives the camera some of focal length, film aperture,
// field of view and film-plane frustum; set_image_params fixes the image
// size (times the sub-pixel factor of defs), the crop window and the depth
// range; init_zbuffer completes the missing parameters, sets up the
// film-plane to pixel mapping and creates the z-buffer (fragment_list.h).
// Pixel columns run left to right and rows bottom to top; pixel (i, j)
// covers [i, i + 1) × [j, j + 1). The camera looks down its −z axis.
//
// The rasterisers, the geometry occlusion, motion blur and shadow maps are
// member functions implemented in their own files; the output passes are in
// output_passes.cpp.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/fscale.h"
#include "foundation/matrix.h"
#include "foundation/vector_types.h"
#include "render/fragment_list.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

struct control_hair;
struct follicle;
struct hair_params;
struct hair_state;
struct motion_blur_pnt;

// ---------------------------------------------------------------------------
// cam_window: an inclusive rectangle of z-buffer pixels.
class cam_window {
  public:
    std::int32_t lowx, lowy, highx, highy;
    float diagonal;  // sqrt(Lines()² + Cols()²)

    cam_window() : cam_window(0, 0, 0, 0) {}
    cam_window(int low_x, int low_y, int high_x, int high_y);
    cam_window(const cam_window&) = default;
    cam_window& operator=(const cam_window&) = default;

    int get_lowx() const { return lowx; }
    int get_lowy() const { return lowy; }
    int get_highx() const { return highx; }
    int get_highy() const { return highy; }
    int Cols() const { return highx - lowx + 1; }
    int Lines() const { return highy - lowy + 1; }
    float diagonal_length() const { return diagonal; }
    // Recomputes the diagonal from the corners.
    void set_diagonal();

    // Whether the window lies inside an image of lines × cols and is more
    // than one pixel wide and high.
    bool contained(int lines, int cols) const;
    // 1 when the box (x1, y1) … (x2, y2) lies wholly outside the window.
    int is_clipped(float x1, float y1, float x2, float y2) const;
    // 1 when four window-relative corners lie wholly on one side of
    // 0 … highx − lowx, 0 … highy − lowy (or of the defs render region
    // when it is on).
    int is_mb_clipped(float x0, float y0, float x1, float y1, float x2, float y2, float x3,
                      float y3) const;
};

// ---------------------------------------------------------------------------
// hair_camera
class hair_camera {
  public:
    // Bits of flags: which parameters were given.
    enum : std::int32_t {
        kAperture = 1,
        kFocal = 2,
        kFov = 4,
        kAspect = 8,
        kClip = 16,
        kFrustum = 32,
    };

    hair_camera();
    // Copies share the z-buffer; only the camera that created it frees it.
    hair_camera(const hair_camera& other);
    hair_camera& operator=(const hair_camera& other);
    // Deletes the z-buffer and releases the hair rasteriser's work arrays.
    ~hair_camera();

    // --- Parameters ------------------------------------------------------------
    void set_aperture(float a);
    void set_focal(float f);
    float get_focal() const { return focal; }
    // In degrees when degrees is non-zero, else in radians.
    void set_fov(float value, int degrees);
    void set_aspect(float a);
    void set_clip(float near_dist, float far_dist);
    void set_frustum(float left, float right, float bottom, float top);
    void set_matrix(const kivMatrix& m);
    kivMatrix& get_matrix() { return matrix; }
    const kivMatrix& get_matrix() const { return matrix; }
    // A shadow-map camera for a light cone of angle degrees: aperture 1,
    // fov twice the angle, flags exactly aperture and fov.
    void set_shadow_params(float angle);
    // Image size (times the sub-pixel factor), crop window (an all-zero or
    // one pixel wide window means the whole image) and depth range. Throws
    // FurEBadParameter "Illegal crop window" for a window outside the image.
    void set_image_params(int image_lines, int image_cols, const cam_window& crop,
                          const zcalc& depth);
    // Completes the parameters and creates the z-buffer: 1, or 0 (with a
    // message) when the camera is incomplete or memory runs out.
    int init_zbuffer();
    // 1 when the depth range is not empty (near ≠ far).
    int hasdepth() const { return depth_range.near != depth_range.far ? 1 : 0; }

    // --- Read access -------------------------------------------------------------
    int get_flags() const { return flags; }
    float get_aperture() const { return aperture; }
    float get_fov() const { return fov; }
    float get_aspect() const { return aspect; }
    const float* get_frustum() const { return frustum; }
    const float* get_clip() const { return clip; }
    float get_pixel_scale() const { return pixel_scale; }
    int get_lines() const { return lines; }
    int get_cols() const { return cols; }
    const cam_window& get_window() const { return window; }
    const zcalc& get_depth_range() const { return depth_range; }
    const kivFscale& get_xscale() const { return xscale; }
    const kivFscale& get_yscale() const { return yscale; }
    // The z-buffer (null before init_zbuffer).
    hair_zbuffer* zbuffer() const { return arr; }

    // --- Projection and clipping ---------------------------------------------------
    // The pixel column and row of a camera-space point in front of the camera
    // (p.z < 0): the point on the film plane, p × (−focal ÷ p.z), mapped to
    // pixels. false, leaving x and y alone, when p.z is not negative.
    bool project(const kivPoint& p, float& x, float& y) const;
    int is_clipped(float x1, float y1, float x2, float y2) const {
        return window.is_clipped(x1, y1, x2, y2);
    }
    int is_mb_clipped(float x0, float y0, float x1, float y1, float x2, float y2, float x3,
                      float y3) const {
        return window.is_mb_clipped(x0, y0, x1, y1, x2, y2, x3, y3);
    }

    // --- Z-buffer -------------------------------------------------------------------
    // Deletes the z-buffer and resets flags, focal, aperture, fov, lines,
    // cols and the matrix.
    void clear();
    // Empties every pixel and releases the fragment storage.
    void clear_arr();
    // Sorts and compresses the motion-blurred geometry of every pixel; runs
    // after all geometry and before any hair.
    void post_mb_zbuffer();
    // The parameters on standard output.
    void dump() const;

    // --- Output passes (output_passes.cpp) --------------------------------------------
    // The hair image: RLA with a depth channel when hasdepth(), else an IFF
    // through the host image library.
    void render(const char* file);
    // The same hair image in memory: image lines × image cols pixels of
    // premultiplied red, green, blue and matte bytes, bottom row first.
    // 0, with rgba empty, when the output does not fit the z-buffer.
    int render_rgba(std::vector<unsigned char>& rgba);
    // The depth image of hair and geometry: −1 ÷ distance, 0 where empty.
    void render_z(const char* file);
    // A grey picture of the geometry depth with its coverage as matte.
    void render_zbuff(const char* file);
    // The atmosphere image.
    void render_atm(const char* file);
    // Interactive inspection on standard input; they return at its end.
    void debug_pixels();
    void debug_zbuffer();

    // --- Implemented by the hair rasteriser --------------------------------------------
    void zbuff_hair(control_hair* hair, hair_state* state);
    // Whether the hair of hs, not yet shaped, is one zbuff_hair would skip
    // once shaped: the cube its points can lie in (hair_shape_reach), taken
    // through the description's matrix and the camera's as zbuff_hair takes
    // the points, has every corner in front of the camera, and their box
    // (padded with the largest width, and a sample more) misses the samples
    // drawn. That box holds every inner point's: a projected coordinate less
    // or plus its padding is a ratio of linear functions of the point, whose
    // extremes over the cube lie at corners. False when the reach is
    // unbounded. For a hair filter.
    bool skips_unshaped_hair(const hair_state& hs) const;
    void zbuff_hair_poly(int n, motion_blur_pnt* v, unsigned int timeslices);
    // --- Implemented by the geometry occlusion ----------------------------------------
    void zbuff_poly(int n, kivPoint* points, bool flag1, bool flag2);
    // --- Implemented by motion blur ----------------------------------------------------
    void zbuff_motion_hair(control_hair* hair0, control_hair* hair1, hair_state* state);
    void do_motion_polys(motion_blur_pnt* quad0, motion_blur_pnt* quad1);
    void zbuff_motion_blur_poly(int n, kivPoint* p0, kivPoint* p1, hair_camera* cam1, bool flag1,
                                bool flag2, int level);
    // --- Implemented by the shadow-map pass ---------------------------------------------
    void render_shadow_map(const char* file, int debug);
    // Resolves the rows row0 ... row1 - 1 of the current shadow map entry
    // and appends their encoded scanlines, the bytes the map file holds for
    // them, to out: a band's share of render_shadow_map. False (with a
    // message) when the camera does not fit the entry.
    bool encode_shadow_rows(int row0, int row1, std::vector<unsigned char>& out);
    // The same rows resolved into maps (the four maps of the current entry,
    // N x N floats each, row y at y x N) as the map file gives them back
    // (smRunLengthValues), for a map that is never written. False (with a
    // message) as encode_shadow_rows.
    bool resolve_shadow_rows(int row0, int row1, float* const maps[4]);

  protected:
    // Film-plane point to pixels: x = xscale of p.x, y = yscale of p.y.
    void to_pixels(float& x, float& y, const kivPoint& p) const {
        x = xscale.n_to_r(p.x);
        y = yscale.n_to_r(p.y);
    }
    // Whether a hair segment (ends in pixels, eye distances set) is worth
    // rasterising; state carries what the previous segment's end showed:
    // 0 visible, 1 outside the window, 2 behind the camera, 3 hidden.
    int is_follicle_visible(int segment, const follicle* f, int& state) const;
    // Starts loading what is_follicle_visible reads of the sample under a
    // segment end p (in pixels); nothing outside the window.
    void prefetch_segment_end(const kivPoint& p) const;

    // Implemented by the rasterisers.
    void do_poly_fill(int* box, int nleft, motion_blur_pnt* left, int nright,
                      motion_blur_pnt* right, unsigned int timeslices);
    void ysort_and_draw(int n, void* vertices, int* box, unsigned int timeslices);
    void do_poly_z_fill(int* box, int nleft, void* left, int nright, void* right,
                        unsigned int timeslices);

    // --- Fields -------------------------------------------------------------------
    std::int32_t flags;  // which parameters were given
    kivFscale xscale;    // film x to pixel column (0 … cols)
    kivFscale yscale;    // film y to pixel row (0 … lines)
    zcalc depth_range;   // depth quantisation of depth files
    float focal;         // focal length, in film-plane units
    float aperture;      // horizontal film width
    float frustum[4];    // left, right, bottom, top of the film window
    float fov;           // vertical field of view, radians
    float aspect;        // stored and dumped only
    float clip[2];       // near and far; stored and dumped only
    float pixel_scale;   // world units × focal × cols ÷ aperture
    std::int32_t lines;  // z-buffer rows of the whole image
    std::int32_t cols;   // z-buffer columns of the whole image
    cam_window window;   // crop window in z-buffer pixels
    hair_zbuffer* arr;   // the z-buffer, Lines() × Cols() of the window
    kivMatrix matrix;    // world to camera

  private:
    bool owns_arr_;  // this camera created arr (copies share it)
    // The output passes refuse to read beyond the z-buffer.
    bool output_fits(const char* pass) const;
    // The colour resolve of output row r reduced from its sub-pixel samples:
    // image cols pixels of red, green, blue and matte bytes.
    void reduce_color_row(int r, unsigned char* rgba);
};

// The hair rasteriser keeps module-wide segment work arrays that every
// camera's destructor releases; the rasteriser installs the function that
// does it (null installs nothing).
void hair_camera_set_work_release(void (*release)());

// hair_camera::skips_unshaped_hair for the hairs of a pass, from their
// reach (hair_shape_reach): made for a camera, it takes the camera's
// matrix and the samples drawn (the window within the render region) as
// they are then, and keeps the description's axes through the camera's
// matrix for the last description matrix met (a pass meets the hairs
// description by description). The test is the camera's, step for step:
// it refuses the same hairs.
class unshaped_hair_bound {
  public:
    explicit unshaped_hair_bound(const hair_camera& cam);
    // Whether a hair of description hp whose reach, in hp's space, is the
    // cube of half edge radius about centre, with widths up to width,
    // misses the samples drawn.
    bool skips(const hair_params& hp, const kivPoint& centre, float radius, float width);

  private:
    // The box of window-relative samples so far.
    struct box {
        float x0, y0, x1, y1;
    };
    // Adds a camera-space point padded for width to b (first: b is set);
    // false when the point leaves the hair unbounded.
    bool add(const kivPoint& p, float width, box& b, bool first) const;
    // Adds the cube's eight corners, centre ± each axis, padded for width.
    bool add_corners(const kivPoint& centre, const kivVector* axis, float width, box& b) const;
    // Whether b misses the samples drawn.
    bool misses(const box& b) const;

    bool drawn_;                     // the camera has a z-buffer
    float col_lo_, col_end_;         // the columns drawn, window-relative: lo ... end - 1
    float row_lo_, row_end_;         // the rows drawn
    float focal_, scale_, lx_, ly_;  // projection; half the pixel scale; window corner
    kivFscale xscale_, yscale_;      // film plane to pixels
    kivMatrix view_;                 // world to camera
    bool has_axes_ = false;          // axis_ was made
    kivMatrix description_;          // from this description matrix
    kivVector axis_[3];              // its rows through view_
};

// The sub-pixel factor of defs, at least 1.
int camera_subpixel_factor();

// --- Camera database: slot 0 for the current time, slot 1 for the second
// time sample of motion blur.
int camdb_init(int n);
// Slot 1 for any non-zero n, else slot 0.
hair_camera* camdb_get(int n);
// Clears both cameras.
void camdb_cleanup();

KORVO_EXPORT_END
