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

#include "descriptions/hair_fields.h"
#include "descriptions/param_values.h"
#include "foundation/matrix.h"
#include "foundation/names.h"
#include "descriptions/hair_records.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

// Buckets of the description list.
constexpr int HAIR_PARAMS_BUCKETS = 53;

struct hair_params {
    hair_params* next = nullptr;  // next description of the bucket (owned)
    hair_name* name = nullptr;    // set at creation
    // The listed fields, with their defaults (see hair_fields.h).
    // clang-format off
#define KORVO_HAIR_MEMBER(ID, member, dumped, ...) member{__VA_ARGS__};
#define KORVO_HAIR_COLOR(ID, member, dumped, ...) \
    hp_color KORVO_HAIR_MEMBER(ID, member, dumped, __VA_ARGS__)
#define KORVO_HAIR_SCALAR(ID, member, dumped, ...) \
    hp_scalar KORVO_HAIR_MEMBER(ID, member, dumped, __VA_ARGS__)
#define KORVO_HAIR_NAME(ID, member, dumped, ...) \
    hair_name* KORVO_HAIR_MEMBER(ID, member, dumped, __VA_ARGS__)
#define KORVO_HAIR_INT(member, dumped, ...) std::int32_t member{__VA_ARGS__};
#define KORVO_HAIR_KEPT(type, member, ...) type member{__VA_ARGS__};
    KORVO_HAIR_FIELDS(KORVO_HAIR_COLOR, KORVO_HAIR_SCALAR, KORVO_HAIR_NAME, KORVO_HAIR_INT,
                      KORVO_HAIR_KEPT)
#undef KORVO_HAIR_MEMBER
#undef KORVO_HAIR_COLOR
#undef KORVO_HAIR_SCALAR
#undef KORVO_HAIR_NAME
#undef KORVO_HAIR_INT
#undef KORVO_HAIR_KEPT
    // clang-format on
    hp_scalar var[HP_NUM_VARS];  // "var[i]"; undefined
    float width_scale = 1.0f;    // root scale of the model being haired

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
