// Hair descriptions: everything that decides how one kind of hair looks and
// grows, each property a parameter value that may vary over the surface.
//
// Descriptions live in a module-wide list of 53 buckets keyed by interned
// name; the hair description file fills it, the assignment file binds the
// descriptions to models, spawning and shaping evaluate them per hair and
// lighting reads the colours and the light model. The module also keeps
// the world-units factor.
#pragma once

#include <cstdint>

#include "descriptions/param_values.h"
#include "foundation/matrix.h"
#include "foundation/names.h"
#include "descriptions/hair_records.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

// Buckets of the description list.
constexpr int HAIR_PARAMS_BUCKETS = 53;

struct hair_params {
    hair_params* next = nullptr;              // next description of the bucket (owned)
    hair_name* name = nullptr;                // set at creation
    hair_name* area_group = nullptr;          // "area_group"; the own name at creation
    kivMatrix matrix;                         // "matrix"; identity
    bool prim_visibility = true;              // "prim_visibility"
    bool casts_shadows = true;                // "casts_shadows"
    hair_name* reference_equalmap = nullptr;  // "reference_equalmap"; the own name at creation
    std::int32_t light_model = 2;  // 0 ambient, 1 + diffuse, 2 + specular, 3 specular only
    hp_color ambient_base{kivColor(0.0f, 0.0f, 0.0f, 0.0f)};
    hp_color ambient_tip;  // undefined: the base colour
    hp_color diffuse_base{kivColor(0.0f, 0.0f, 0.0f, 0.0f)};
    hp_color diffuse_tip;
    hp_color specular{kivColor(1.0f, 1.0f, 1.0f, 1.0f)};
    hp_scalar sharpness{5.0f};
    hp_scalar density{100.0f};
    hp_scalar equalizer;
    hp_scalar baldness;
    hp_scalar width_base{1.0f};
    hp_scalar width_tip;
    hp_scalar length{1.0f};
    hp_scalar frequency{1.0f};
    hp_scalar opacity_base{1.0f};
    hp_scalar opacity_tip;
    hp_scalar curl_base{0.5f};
    hp_scalar curl_tip{0.5f};
    hp_scalar scraggle{0.0f};
    hp_scalar correlation{0.0f};
    hp_scalar erectness{0.5f};
    hp_scalar polar{0.0f};
    hp_scalar roll{0.5f};
    hp_scalar orient_var{0.0f};
    hp_scalar segments{1.0f};
    hp_scalar attractors{0.0f};
    hp_scalar offset{0.0f};
    hp_scalar custom_equalizer{1.0f};
    std::int32_t equalizer_type = -1;  // "equalmap_type"; 2 uses custom_equalizer
    hp_scalar clump{0.0f};
    hp_scalar clumpfrequency{0.0f};
    hp_scalar clumpshape{0.0f};
    hp_scalar usamples{0.0f};
    hp_scalar vsamples{0.0f};
    hp_scalar spawn_factor{0.0f};
    hp_scalar spawn_segment{0.0f};
    hair_name* spawn_params = nullptr;  // "spawn_params"
    hp_scalar var[HP_NUM_VARS];         // "var[i]"; undefined
    float width_scale = 1.0f;           // root scale of the model being haired
    bool visibility = true;             // set per frame by the scene file

    // A description with every default; area_group and reference_equalmap
    // are n too. The name reference is the caller's (it is not given back).
    explicit hair_params(hair_name* n = nullptr) : name(n), area_group(n), reference_equalmap(n) {}
    // Destroys the descriptions chained after this one.
    ~hair_params();
    hair_params(const hair_params&) = delete;
    hair_params& operator=(const hair_params&) = delete;

    void set_visibility(bool on) { visibility = on; }
};

// --- The description list -------------------------------------------------------

// Creates a description with the defaults and appends it to the chain of
// its bucket (a description of the same name is not looked for).
hair_params* hair_params_list_add(hair_name* name);
// The first description whose name is this very record, or null.
hair_params* hair_params_list_find(hair_name* name);
// The first description of bucket i (0 ... HAIR_PARAMS_BUCKETS - 1), or null.
hair_params* hair_params_list_bucket(int i);
// Number of descriptions added since the list was last cleared.
int hair_params_list_count();
// Destroys every description of every bucket and empties the list.
void hair_params_list_clear();
// Sets visibility on every description of the list.
void hair_params_init_visibility();

// --- World units ------------------------------------------------------------------

void hair_params_set_wunits(float w);
float hair_params_get_wunits();  // 1.0 until set

// --- One description ----------------------------------------------------------------

// Prints hp as hair description text; with all set, every description
// chained after it as well.
void hair_params_dump(const hair_params* hp, int all);
// Every field except next, name and width_scale back to the defaults;
// area_group and reference_equalmap become the own name.
void hair_params_reset(hair_params* hp);
// Copies every field except next, name and width_scale from src.
void hair_params_assign(hair_params* hp, const hair_params* src);
// True when spawn_factor (as a constant) is 0 or less, or spawn_params is set.
bool hair_params_valid(const hair_params* hp);

// --- Evaluation at a hair --------------------------------------------------------------

// hs.vars[i] = var[i] at the hair when defined, else 0. A defined var[9]
// is also printed as a DEBUG line.
void hair_params_eval_vars(const hair_params* hp, hair_state* hs);
// The attributes at the root (tip 0) or the tip of the hair hs. Undefined
// tip values fall back to the base values; widths are times width_scale.
hair_vertex hair_params_eval_vertex(const hair_params* hp, const hair_state* hs, int tip);
// a + (b - a) t for colours, width and opacity; the specular colour is
// a's. A t outside [0, 1] prints a warning and extrapolates.
hair_vertex linterp(const hair_vertex& a, const hair_vertex& b, float t);

KORVO_EXPORT_END
