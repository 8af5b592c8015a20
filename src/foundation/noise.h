// Three-dimensional gradient noise on a 256-entry lattice.
//
// Four table sets are built when the library is loaded, each from the
// library's own random() seeded with 1, so all four hold the same values.
// Set 4 serves noise3; sets 1, 2 and 3 serve the x, y and z components of
// dnoise3. Values lie roughly in [-1, 1] and vary smoothly with position.
#pragma once

#include "foundation/vector_types.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

// Noise at p (table set 4 at p + (0.1234, 0.434343, 0.555)).
double noise3(const kivVector& p);
// Noise along a line: noise3 of (float(t), 0, 0).
double noise3(double t);
// A vector of three noise values at p, each with its own offset:
// x from set 1 at p + (0.1234, 0.434343, 0.555) (so float(noise3(p)) == x),
// y from set 2 at p + (0.34555, -2.64, 0.1), z from set 3 at
// p + (0.4321, 0.777, 0.41412).
kivVector dnoise3(const kivVector& p);

// dnoise3 along a line parallel to the x axis: y and z are fixed when the
// line is made and at(x) is dnoise3(kivVector(x, y, z)) bit for bit. The
// lattice work of y and z is done once, and the gradient terms of the last
// lattice cell of x are kept for the next points in that cell: the eight
// points of a hair cost about two thirds of eight dnoise3 calls. Copyable.
class dnoise3_line {
  public:
    dnoise3_line(float y, float z);
    kivVector at(float x);

    // One lattice coordinate: its cell, the next cell and the offsets from
    // both (noise.cpp fills it).
    struct axis {
        int b0 = 0, b1 = 0;
        double r0 = 0.0, r1 = 0.0;
    };

  private:
    // One corner of the cell: its gradient's x, and the y and z terms of
    // its dot product (offset times gradient), which do not change along x.
    struct corner {
        double gx, ty, tz;
    };
    // One component (table set) of the vector.
    struct component {
        const int* perm;     // the table set's permutation
        const float* grad;   // and its gradients, three floats each
        double px0, py, pz;  // x's offset, and y and z with theirs
        axis ay, az;
        double sy, sz;  // the y and z weights of the cell's upper corners
        int cell = -1;  // the x cell whose corners are held, -1 for none
        corner c[8];    // lower z layer (y0x0, y0x1, y1x0, y1x1), then upper
    };
    component k_[3];

    static double eval(component& k, double px);
};

KORVO_EXPORT_END
