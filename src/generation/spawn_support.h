// Steps shared by the rendering and the export walks of hair spawning.
// Internal to the generation directory.
#pragma once

#include <vector>

#include "descriptions/hair_records.h"
#include "generation/hair_spawning.h"
#include "geometry/model_database.h"

namespace spawn_detail {

// The model's name for messages ("" for an unnamed model).
inline const char* model_label(const hair_model* m) {
    return m->name && m->name->name ? m->name->name : "";
}

// A count from a double: truncated, 0 for negative values and NaN, and at
// most two thousand million.
int safe_count(double x);

// Whether hp is drawn in this pass (its visibility, and its casts_shadows
// in a shadow pass or its prim_visibility otherwise).
bool description_visible(const hair_params* hp, bool shadow_pass);

// The hair descriptions of a model for a walk: n and list from the
// assignment table, n = 0 when KORVO_FUR_OLD_BEHAVIOR is set and the
// model's surface is hidden from this pass.
void model_descriptions(const hair_model* m, bool shadow_pass, int& n, hair_params**& list);

// The model's root scale into hp's width_scale and into its spawn
// description's; returns the spawn description (null when hp has none or
// it does not exist) and its spawn factor (0 without one).
hair_params* spawn_description(hair_params* hp, float root_scale, float& factor);

// The equalizer value at hs: the custom equalizer for type 2, else the
// equalizer when hp has one. False when there is no equalizer test.
bool equalizer_value(const hair_params* hp, const hair_state& hs, float& e);

// Whether hs's hair is bald: hp has a baldness value and it is below r4.
bool is_bald(const hair_params* hp, const hair_state& hs, double r4);

// The point of a shaped hair where a child sprouts: spawn_segment at hs,
// truncated, within 1 ... count - 1.
int spawn_point(const hair_params* hp, const hair_state& hs, const control_hair& hair);

// Fetches the model's attractor sets, and its curve attractor sets for hp,
// for shaping.
void fetch_model_attractors(const hair_model* m);
void fetch_curve_attractors(const hair_model* m, const hair_params* hp);

// Builds the clump centres of assignment hp on model m into out, with hs
// as the scratch hair (its params and sample are set here); poly is
// scratch as well.
void build_clump_centres(const hair_model* m, hair_params* hp, hair_state& hs, hair_poly& poly,
                         std::vector<clump_centre>& out);

// The square root of twice the model's area: the clump radius.
float clump_radius(hair_model* m);

}  // namespace spawn_detail
