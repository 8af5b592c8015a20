// The assignment database: what binds hair to models and settings to lights.
//
// One record per model or light, keyed by interned name, says which hair
// descriptions, attractors and curve attractors apply to a model, its
// density multipliers, and whether it is left out of the hair render or of
// the shadow-map render; for a light it holds the shadow-map settings
// (MapParams) or the auto-shading settings (AutoParams) of the hair
// description file's light blocks. The assignment file (assdb_readfile, readers/assign_file.h)
// and those light blocks fill it; spawning, the model drivers, lighting
// and the shadow-map code read it.
//
// Assignment lists hold their items in reverse file order (new nodes go
// to the head) and every reader returns them in that order.
#pragma once

#include <cstdint>

#include "foundation/names.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

struct hair_params;
struct hair_attract;
struct hair_curveAttract;
struct kivImage;

// ---------------------------------------------------------------------------
// Per-light settings.

// Auto-shading settings of a light (defaults by init_autoparams).
struct AutoParams {
    float self_shade;            // fraction of the hair, from the root, fully self-shaded (0.5)
    float self_shade_darkness;   // darkness of that part (1.0)
    float back_shadow_factor;    // exponent of the back-shadow curve (2.0)
    float back_shadow_darkness;  // darkness with the light behind the surface (1.0)
};

// One shadow map, opened or about to be made.
struct ShadowMap {
    std::int32_t encoding;  // -1 not open, 0 raw floats, 1 run-length encoded
    std::int32_t lines;     // height in pixels ("map_size"; 1024)
    std::int32_t cols;      // width in pixels ("map_size"; 1024)
    float cone;             // view angle override in degrees ("shadow_cone"; 0: the light's)
    // Geometry depth, geometry coverage, hair shadow depth, hair opacity:
    // lines x cols floats each, pixel (x, y) at cols * y + x (owned).
    float* maps[4];
};

// Shadow-map settings of a light (defaults by init_mapparams).
struct MapParams {
    float angle;                   // view angle in degrees, filled at shadow set-up
    std::int32_t lgt_filter_size;  // filter width near the light; odd (3)
    std::int32_t obj_filter_size;  // filter width near the object; odd (3)
    float lgt_darkness;            // darkness of occluders near the light (1.0)
    float obj_darkness;            // darkness of occluders near the object (1.0)
    float low_hair_epsilon;        // start of the hair self-shadow ramp (0.3)
    float high_hair_epsilon;       // end of the hair self-shadow ramp (2.0)
    float geo_epsilon;             // depth bias of geometry occluders (0.5)
    float threshold;               // hair opacity that counts as a shadow surface (0)
    char* shadow_projector;        // projector image file name, or null
    kivImage* projector;           // the projector image, opened at set-up, or null
    ShadowMap map;                 // the light's map
};

// Every field of p to its default.
void init_mapparams(MapParams* p);
void init_autoparams(AutoParams* p);

// ---------------------------------------------------------------------------
// The records.

// Flag bits of assign_entry.
enum assign_flags : std::uint32_t {
    ASSIGN_SHADOW_LIGHT = 1u,     // a light with shadow-map settings
    ASSIGN_AUTOSHADE_LIGHT = 2u,  // a light with auto-shading settings
    ASSIGN_EXCLUDE_SMAP = 4u,     // left out of the shadow-map render
    ASSIGN_EXCLUDE_HAIR = 8u,     // left out of the hair render
};

// One assignment of a list.
struct assign_node {
    void* item;          // the hair_params, hair_attract or hair_curveAttract
    assign_node* next;   // the assignment made before this one
    float density_mult;  // a hair description's multiplier by area group
    bool has_mult;       // density_mult was set
};

// One model or light.
struct assign_entry {
    hair_name* name;  // one reference held
    std::int16_t nb_hair;
    std::int16_t nb_attract;
    std::int16_t nb_curve_attract;
    float density_mult;  // the model's multiplier; 1.0 on creation
    // A model's hair-description list (assign_node*); a light's MapParams
    // (ASSIGN_SHADOW_LIGHT) or AutoParams (ASSIGN_AUTOSHADE_LIGHT), owned.
    void* hair_list;
    assign_node* attract_list;
    assign_node* curve_attract_list;
    std::uint32_t flags;  // assign_flags
};

// Nodes per block of the node pool.
constexpr int ASSIGN_NODE_BLOCK = 170;

// --- Table and file -------------------------------------------------------------------

// Allocates the table for size records (it holds size - 1 of them),
// releasing an earlier table first. 1, or 0 when size is below 1 or
// memory runs out.
int assdb_init(int size);
// Destroys every record, the table, the node pool and the result arrays.
void assdb_done();

// Reading the hair description file again destroys the descriptions that
// assignments point to. Before it, assdb_release_descriptions makes every
// hair assignment keep its description's name instead of the pointer (the
// lists read as empty meanwhile); after it, assdb_resolve_descriptions
// points each one at the new description of that name, and drops (with the
// warning of a missing description) those whose name the new file lacks.
// A model thus gets the descriptions the new file gives its names.
void assdb_release_descriptions();
void assdb_resolve_descriptions();
// Prints the table.
void assdb_dump();
// The record of a name, or null; nothing is created.
const assign_entry* assdb_find(const hair_name* name);

// --- Writers --------------------------------------------------------------------------
// Each finds the record of the name or creates it: a full table prints
// "assignment table exceeded, use -hash option" and throws FurEFailed.
// Items are named by their text; an item that does not exist gives a
// warning and nothing is assigned (0). A null name does nothing (0).

int assdb_assign_hair(const char* description, hair_name* model);
// assdb_assign_attract and assdb_assign_curve_attract: readers/assign_file.h.

int assdb_exclude_smap_render(hair_name* name);
int assdb_exclude_hair_render(hair_name* name);
// Without a group the model's own multiplier; with one, the multiplier of
// every hair description assigned to the model whose area_group is that
// group.
int assdb_set_density_mult(hair_name* model, float mult, const char* group);
// A copy of the settings becomes the light's (with its own copy of the
// projector file name; the projector image pointer is kept as given and is
// not the table's). A light has one kind of settings: the other kind is
// dropped. A record with hair descriptions cannot be a light (warning, 0).
int assdb_set_shadmap_params(hair_name* light, const MapParams& params);
int assdb_set_autoshade_params(hair_name* light, const AutoParams& params);

// --- Readers --------------------------------------------------------------------------

bool assdb_has_model_hair(const hair_name* name);
bool assdb_has_model_attract(const hair_name* name);
bool assdb_has_model_curve_attract(const hair_name* name);
// The model's hair descriptions in list order, in an array of the table's
// valid until the next call of the same reader; n = 0 without a record.
void assdb_get_model_hair(const hair_name* name, int* n, hair_params*** list);
void assdb_get_model_attract(const hair_name* name, int* n, hair_attract*** list);
// The model's curve attractor sets whose names end with the name of the
// description (an empty or missing description name matches every set).
void assdb_get_model_curve_attract(const hair_name* name, int* n, hair_curveAttract*** list,
                                   const hair_params* description);
// 1 for a null name; 0 without a record; else the shadow-map exclusion
// (smap non-zero) or the hair exclusion.
int assdb_get_exclude(const hair_name* name, int smap);
// The multiplier of a hair description on a model: the group multiplier
// of the first node (list order) of that description when it has one,
// else the model's. 1.0 for a null model name or no record.
float assdb_get_density_mult(const hair_name* model, const hair_name* description);
int assdb_has_shadow_map(const hair_name* light);
// 1 and a copy of the light's settings; 0 when it has none of that kind.
int assdb_get_shadmap_params(const hair_name* light, MapParams* out);
int assdb_get_autoshade_params(const hair_name* light, AutoParams* out);
// 1 when the hair description file gave the light settings, or the
// light is excluded from both renders.
int assdb_has_light_params(const hair_name* light);
// Lights with settings that the pass (smap non-zero: the shadow-map
// render) does not exclude: their number, and their names in table order
// (at most max; returns the number written).
int assdb_get_nb_shadow_lights(int smap);
int assdb_get_shadow_lights_list(int max, hair_name** out, int smap);

KORVO_EXPORT_END

// --- Attractor sets and the assignment file reader ------------------------------------
// The attractor and curve attractor sets belong to hair generation, above
// this table: the reader (readers/assign_file.cpp) finds them by name, the
// table stores them as they are, and generation registers how to read
// their names when the library is loaded. Not exported (declared after
// KORVO_EXPORT_END).

// Reads the name of an attractor (or curve attractor) set.
using assdb_set_name_fn = const hair_name* (*)(const void* set);
// Registers the two name readers; true. Until then sets print and match
// as unnamed.
bool assdb_register_set_names(assdb_set_name_fn attract, assdb_set_name_fn curve_attract);

// Whether assdb_init has made a table.
bool assdb_ready();
// Sizes the three result arrays for the counts of hair descriptions,
// attractor sets and curve attractor sets; 0 when memory runs out.
int assdb_reserve_results(int hair, int attract, int curve_attract);
// Adds set to the attractor (or curve attractor) list of model, creating
// its record as the writers above do.
void assdb_attach_attract(hair_name* model, void* set);
void assdb_attach_curve_attract(hair_name* model, void* set);
