// Homogeneous clipping of convex polygons against an axis-aligned box.
//
// A clip polygon carries up to 12 vertices of ten double fields: the
// homogeneous screen position (sx, sy, sz, sw), a world position (x, y, z)
// and a colour (r, g, b). The mask says which fields are live; clipping
// interpolates only those. The box is x0*sw <= sx <= x1*sw,
// y0*sw <= sy <= y1*sw, z0*sw <= sz <= z1*sw.
#pragma once

#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

// Maximum number of vertices of a clip polygon.
constexpr int CLIP_MAX_VERTICES = 12;

// Field indices (0..9) in vertex order, for clip_half_space and clip_vertex::field.
enum clip_field {
    CLIP_FIELD_SX = 0,
    CLIP_FIELD_SY,
    CLIP_FIELD_SZ,
    CLIP_FIELD_SW,
    CLIP_FIELD_X,
    CLIP_FIELD_Y,
    CLIP_FIELD_Z,
    CLIP_FIELD_R,
    CLIP_FIELD_G,
    CLIP_FIELD_B,
    CLIP_FIELD_COUNT
};

// Mask bits: bit k marks field k as live.
enum clip_mask_bits {
    CLIP_SX = 1,
    CLIP_SY = 2,
    CLIP_SZ = 4,
    CLIP_SW = 8,
    CLIP_X = 16,
    CLIP_Y = 32,
    CLIP_Z = 64,
    CLIP_R = 128,
    CLIP_G = 256,
    CLIP_B = 512
};

struct clip_vertex {
    double sx, sy, sz, sw;  // homogeneous screen position
    double x, y, z;         // world position
    double r, g, b;         // colour

    // Field k (0..9) in the order above.
    double& field(int k) { return this->*kFields[k]; }
    double field(int k) const { return this->*kFields[k]; }

  private:
    static constexpr double clip_vertex::*kFields[CLIP_FIELD_COUNT] = {
        &clip_vertex::sx, &clip_vertex::sy, &clip_vertex::sz, &clip_vertex::sw, &clip_vertex::x,
        &clip_vertex::y,  &clip_vertex::z,  &clip_vertex::r,  &clip_vertex::g,  &clip_vertex::b};
};

struct clip_poly {
    int n;     // vertex count, 0..CLIP_MAX_VERTICES
    int mask;  // live fields (clip_mask_bits)
    clip_vertex v[CLIP_MAX_VERTICES];
};

struct clip_box {
    double x0, x1;
    double y0, y1;
    double z0, z1;
};

// Clips p against the box, in place. Returns 2 when every vertex is inside
// (p unchanged), 0 when nothing is left (p.n becomes 0; also for a vertex
// count outside 0..12), and 1 when p now holds the clipped polygon.
int clip_polygon(clip_poly& p, const clip_box& box);

// One half-space step: copies into dst the part of src where
// sign * v.field(field) - k * v.sw <= 0, interpolating the masked fields
// of the vertices created on the boundary. dst keeps at most 12 vertices.
void clip_half_space(const clip_poly& src, clip_poly& dst, int field, double sign, double k);

KORVO_EXPORT_END
