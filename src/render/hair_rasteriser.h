// The hair rasteriser: hair_camera::zbuff_hair turns one shaped hair into
// camera-facing ribbons, one four-cornered screen polygon per segment, and
// scan-converts them with exact pixel coverage into the camera's fragment
// lists (zbuff_hair_poly, do_poly_fill; declared in camera.h).
//
// Before zbuff_hair: the camera has its z-buffer (init_zbuffer), the
// geometry has been z-buffered (geometry_occlusion.h), defs.hair_id holds
// the id of the hair (hair spawning counts it up once per hair) and the
// hair_state names the hair's description (its matrix and light model).
//
// The segments of a hair are set up in a module-wide work array shared by
// all cameras. It only grows, to exactly the largest segment count seen;
// every camera's destructor releases it.
#pragma once

struct follicle;

// Segments the work array holds now.
int hair_segment_capacity();
// Releases the work array; the capacity becomes 0.
void hair_segment_release();
// The segment records of the last hair drawn (camera space, then pixels).
const follicle* hair_segment_records();
