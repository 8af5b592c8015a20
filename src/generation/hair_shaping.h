// Hair shaping: growing one hair from its root frame into control points.
//
// The work records are module-wide: two control hairs (one per time sample)
// sized for the largest segment count of the loaded descriptions, and the
// per-hair table of active attractor curves. They are prepared when the hair
// descriptions are loaded and released with them.
#pragma once

#include "generation/hair_records.h"

// Prepares the work records for hairs of up to max_segments segments (two
// control hairs of max_segments + 1 points and the active-attractor table
// sized for every attractor curve loaded). Returns false when memory runs
// out; the records are then released.
bool hair_shape_prepare(int max_segments);

// Frees the work records; shaping then has no room until the next prepare.
void hair_shape_release();

// The control hair of time sample 0 or 1 (null before prepare).
control_hair* hair_shape_work_hair(int sample);

// The number of points the work hairs were prepared for (0 when released).
int hair_shape_capacity();
