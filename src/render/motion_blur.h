// Motion blur: hairs and geometry that move while the shutter is open.
//
// A motion-blurred frame is read twice: the scene at shutter open fills
// camera slot 0 and model list 0, the scene at shutter close camera slot 1
// and model list 1, and spawning grows every hair at both times. Instead
// of rendering sub-frames, each moving polygon is drawn as a short run of
// copies along its screen path, each copy tagged with the set of the 32
// time slices it stands for (a 32-bit mask, bit 0 the earliest). The
// fragment lists use the masks to decide, slice by slice, how much of a
// hair fragment moving geometry hides; the copies of a hair share its
// alpha so that the whole path adds up to one hair.
//
// The members of hair_camera implemented here (declared in camera.h):
//
// - zbuff_motion_hair (hair0, hair1, state): one hair at shutter open and
//   at shutter close, both already in the camera space of their own time.
//   With defs.shutter s ≠ 1 the close positions are taken s of the way
//   from open to close; with s ≤ 0 the hair is drawn as a still one.
//   Lighting is computed at shutter open only, with state's normal as
//   given (already in camera space).
// - do_motion_polys (A, B): one ribbon polygon moving from A to B, drawn
//   as n copies (2 when it moves less than a pixel, else one more than
//   the pixels it moves, at most twice the crop window's diagonal), one
//   every defs.motion_step copies, each with its share of A's alpha.
// - zbuff_motion_blur_poly (n, p0, p1, cam1, flag1, flag2, level): one
//   geometry polygon moving from p0 (world space, shutter open) to p1
//   (world space, shutter close, seen by cam1). Near-plane clipping, the
//   window test and the facing test apply to both ends; polygons that move
//   more than twice the window diagonal are subdivided (up to 11 levels).
//
// Per frame: every geometry polygon through zbuff_motion_blur_poly
// (mdldb_motion_blur_zbuffer), then post_mb_zbuffer, then every hair
// through zbuff_motion_hair (mdldb_motion_blur_hair), then the output
// passes. defs.motion_blur must be on for the fragment lists to use the
// slices.
#pragma once

#include <cstdint>

// The time slices of copy j out of n copies of a moving polygon. For n up
// to 32 the copies split the 32 slices into n contiguous, nearly equal
// runs; above 32 each copy stands for the single slice it falls in. 0 for
// j outside 0 … n − 1.
std::uint32_t timeslice_mask(int j, int n);

// Every time slice: what a polygon drawn without motion blur carries.
constexpr std::uint32_t kAllTimeslices = 0xFFFFFFFFu;

// Subdivision levels of a geometry polygon that moves too far.
constexpr int kMaxMotionSubdivision = 11;
