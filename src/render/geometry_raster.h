// The geometry rasteriser's steps that motion blur shares with the still
// geometry z-buffer (geometry_occlusion.cpp): the near-plane clip of a
// camera-space polygon and the facing test of a projected one.
#pragma once

#include "foundation/vector_types.h"
#include "render/scan_convert.h"

// The geometry rasteriser's steps, shared with motion blur.
namespace geom_raster {

// The near plane: a camera-space point is in front when z <= kNear.
constexpr float kNear = -1e-5f;

// A projected geometry vertex: window-relative pixel column and row, and
// the camera-space position as the interpolated values.
using geom_vertex = scan::vertex<3>;

// Facing test of a projected polygon, which may lose a repeated vertex and
// have its order reversed: 0 drawable, 1 facing away, 2 degenerate. flag1
// makes the polygon double-sided, flag2 reverses its facing.
int facing(int& n, geom_vertex* v, bool flag1, bool flag2);

// Clips a camera-space polygon of n (at most 4) points to the near plane:
// points in front are kept, a point behind with one neighbour in front
// moves along that edge onto the plane, one with two such neighbours
// becomes two points, one between points behind is dropped. out needs room
// for 8; returns the count, 0 when every point lies behind.
int clip_near(int n, const kivPoint* in, kivPoint* out);

}  // namespace geom_raster
