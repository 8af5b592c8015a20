// The atmosphere: an optional depth fog for the hair image.
//
// The fog grows linearly with the distance from the eye between a start
// and an end depth. Its colour, range and transparency are parameter
// values that may vary over the image; the atmosphere pass evaluates them
// for every sub-pixel (atmosdb_init_eval) and then asks for the fog that
// the sub-pixel's hair fragments and the geometry behind them produce
// (atmosdb_eval).
#pragma once

#include "descriptions/param_values.h"
#include "foundation/vector_types.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

class hair_atmos {
  public:
    // --- Values evaluated at the current sub-pixel ----------------------------
    float start = 0.0f;                      // start depth, never below 0
    float end = 1000.0f;                     // end depth, never below 0
    kivColor color{1.0f, 1.0f, 1.0f, 1.0f};  // fog colour
    float transparency = 0.0f;               // the fog is multiplied by 1 − transparency

    // --- Parameters from the hair description file ---------------------------
    hp_scalar start_param{0.0f};
    hp_scalar end_param{1000.0f};
    hp_color color_param{kivColor(1.0f, 1.0f, 1.0f, 1.0f)};
    hp_scalar transparency_param{0.0f};
};

// Records the atmosphere (not owned). A second one is ignored with
// "WARNING: atmosphere already defined, ignoring subsequent def.". 1 when
// recorded, 0 when ignored or null.
int atmosdb_init(hair_atmos* atmos);
// 1 when an atmosphere is recorded.
int atmosdb_is_defined();
// Forgets the recorded atmosphere (its owner deletes it).
void atmosdb_done();
// Evaluates the parameters at the screen position (u, v) with the random
// numbers seeded from it. 0 when no atmosphere is recorded, else 1.
int atmosdb_init_eval(double u, double v);
// The fog of one sub-pixel, premultiplied by its alpha: n fragments front
// to back (depth and coverage weight each), then the background geometry's
// depth (0 for none) and weight. Zero without an atmosphere.
kivColor atmosdb_eval(int n, const float* depths, const float* weights, float bg_depth,
                      float bg_weight);

KORVO_EXPORT_END
