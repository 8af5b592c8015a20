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

KORVO_EXPORT_END
