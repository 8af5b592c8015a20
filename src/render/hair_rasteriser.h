// The hair rasteriser: hair_camera::zbuff_hair turns one shaped hair into
// camera-facing ribbons, one four-cornered screen polygon per segment, and
// scan-converts them with exact pixel coverage into the camera's fragment
// lists (zbuff_hair_poly, do_poly_fill; declared in camera.h). While the
// hair pass has a polygon queue open on the z-buffer (hair_poly_queue.h),
// zbuff_hair_poly queues the polygon instead and the queue draws it later
// through draw_poly.
//
// Before zbuff_hair: the camera has its z-buffer (init_zbuffer), the
// geometry has been z-buffered (geometry_occlusion.h), defs.hair_id holds
// the id of the hair (hair spawning counts it up once per hair) and the
// hair_state names the hair's description (its matrix and light model).
//
// The segments of a hair are set up in module-wide work arrays shared by
// all cameras, one per time sample of motion blur. They share one
// capacity, only grow, to exactly the largest segment count seen, and
// every camera's destructor releases them.
#pragma once

#include <cstdint>

#include "descriptions/hair_records.h"
#include "foundation/vector_types.h"
// The camera's class comes from its exported declaration (a forward
// declaration here, outside the export block, would hide it).
#include "render/camera.h"

// Segments the work arrays hold now.
int hair_segment_capacity();
// Releases both work arrays; the capacity becomes 0.
void hair_segment_release();
// The segment records of the last hair drawn (camera space, then pixels)
// for time sample 0, or for time sample 1 of a motion-blurred hair.
const follicle* hair_segment_records(int sample = 0);

namespace scan {
struct limits;
}

// The steps of zbuff_hair, shared with the motion-blurred hair.
namespace hair_raster {

// Draws the hair polygon v of n corners (3 or 4, not self-intersecting;
// box its pixel bounding box) into zb within lim (its emit_lo included):
// what zbuff_hair_poly draws there, bit for bit.
void draw_poly(hair_zbuffer& zb, const int* box, int n, const motion_blur_pnt* v,
               std::uint32_t timeslices, const scan::limits& lim);

// Makes both work arrays hold at least n segments; false, with the
// capacity 0, when memory runs out.
bool reserve_segments(int n);
// The work array of time sample 0 or 1.
follicle* segments(int sample);
// Segment record f from the camera-space points a → b and their
// attributes: lighting position and unit tangent, near-plane clipping at
// z = −1e-5, eye distances (both −1 when the segment lies behind the
// camera). false, with a verbose warning, for a segment of length 0.
bool setup_segment(follicle& f, const kivPoint& a, const kivPoint& b, const hair_vertex& va,
                   const hair_vertex& vb);
// The light arriving at segment i of n_seg for the camera-space root
// normal.
void light_segment(follicle& f, const kivVector& normal, const hair_state* state, int i, int n_seg);
// Projects segment i of seg to pixels; its root takes the previous
// segment's projected end when there is one.
void project_segment(const hair_camera& cam, follicle* seg, int i);

// The ribbon polygon of a hair: four corners root-left, root-right,
// tip-right, tip-left in window-relative pixels; the tip corners of one
// segment become the root corners of the next, so build is called for
// every segment in order.
struct ribbon {
    ribbon(float pixel_scale, const cam_window& window, int light_model, bool colour);
    // The polygon of segment i of the n_seg segments of seg. Without
    // colour the corners are transparent black.
    void build(const follicle* seg, int n_seg, int i);

    motion_blur_pnt quad[4];
    float pixel_scale;
    float lx, ly;       // the crop window's low corner
    int light_model;    // of the hair's description
    bool colour;        // corners take the lit vertex colours
    float back = 0.0f;  // how far the root corners moved back (segment 0)
};

}  // namespace hair_raster
