#include "descriptions/hair_file.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <iterator>
#include <string>
#include <utility>

#include "descriptions/assign_db.h"
#include "descriptions/hair_params.h"
#include "descriptions/hair_reader.h"
#include "foundation/fur_exception.h"
#include "foundation/messages.h"
#include "foundation/names.h"
#include "foundation/render_settings.h"
#include "generation/attractors.h"
#include "generation/curve_attractors.h"
#include "generation/hair_shaping.h"
#include "render/atmosphere.h"

namespace {

// The settings of the open light block.
struct light_scratch {
    hair_name* name = nullptr;  // one reference held while the block is open
    MapParams map{};
    AutoParams autoshade{};
    int type = -1;  // -1 none yet, 0 auto-shading, 1 shadow map
};

// Everything the reader keeps between the constructs of one file.
struct reader_state {
    hair_params* target = nullptr;  // the description the open hair block fills
    hair_attract* attract = nullptr;
    int attract_counter = -1;  // next control; -1 until "nb_controls"
    hair_curveAttract* curve = nullptr;
    int curve_counter = -1;
    light_scratch light;
    hair_atmos* fog = nullptr;  // the open fog block's record
    bool error = false;         // a grammar error was found
    std::exception_ptr failure;
};

// The statements of a hair block write this record; the block's "}" copies
// it into the target and resets it. A null name keeps area_group and
// reference_equalmap null unless a statement names them.
hair_params g_scratch(nullptr);
reader_state g_reader;
hair_atmos* g_atmos = nullptr;  // the fog recorded with the atmosphere database

hp_color hair_params::*const kColorFields[] = {
    &hair_params::ambient_base, &hair_params::ambient_tip, &hair_params::diffuse_base,
    &hair_params::diffuse_tip, &hair_params::specular};
static_assert(std::size(kColorFields) == HCF_COUNT, "one member per field");

hp_scalar hair_params::*const kScalarFields[] = {
    &hair_params::equalizer,     &hair_params::baldness,
    &hair_params::width_base,    &hair_params::width_tip,
    &hair_params::opacity_base,  &hair_params::opacity_tip,
    &hair_params::curl_base,     &hair_params::curl_tip,
    &hair_params::scraggle,      &hair_params::correlation,
    &hair_params::polar,         &hair_params::roll,
    &hair_params::orient_var,    &hair_params::frequency,
    &hair_params::clump,         &hair_params::clumpfrequency,
    &hair_params::clumpshape,    &hair_params::segments,
    &hair_params::attractors,    &hair_params::spawn_factor,
    &hair_params::spawn_segment, &hair_params::sharpness,
    &hair_params::erectness,     &hair_params::length,
    &hair_params::offset,        &hair_params::custom_equalizer,
    &hair_params::density,       &hair_params::usamples,
    &hair_params::vsamples};
static_assert(std::size(kScalarFields) == HSF_VAR0, "one member per field");

hp_scalar hair_attract::*const kAttractFields[] = {
    &hair_attract::influence, &hair_attract::len_beg_interp, &hair_attract::len_end_interp,
    &hair_attract::power,     &hair_attract::radius,         &hair_attract::len_threshold};
static_assert(std::size(kAttractFields) == HAF_COUNT, "one member per field");

hp_scalar hair_curveAttract::*const kCurveFields[] = {
    &hair_curveAttract::influence,      &hair_curveAttract::len_beg_interp,
    &hair_curveAttract::len_end_interp, &hair_curveAttract::power,
    &hair_curveAttract::radius,         &hair_curveAttract::len_threshold};
static_assert(std::size(kCurveFields) == HAF_COUNT, "one member per field");

hair_name** name_field(hair_name_field field) {
    switch (field) {
        case HNF_SPAWN_PARAMS:
            return &g_scratch.spawn_params;
        case HNF_AREA_GROUP:
            return &g_scratch.area_group;
        case HNF_REFERENCE_EQUALMAP:
            return &g_scratch.reference_equalmap;
    }
    return nullptr;
}

hp_scalar* scalar_field(int field) {
    if (field >= HSF_VAR0 && field < HSF_VAR0 + HP_NUM_VARS)
        return &g_scratch.var[field - HSF_VAR0];
    if (field >= 0 && field < HSF_VAR0) return &(g_scratch.*kScalarFields[field]);
    return nullptr;
}

// Every term was made by its builder.
template <class T>
bool all_defined(const T* chain) {
    for (const T* t = chain; t; t = t->next)
        if (!t->defined()) return false;
    return true;
}

// Moves a built chain into field when it is valid; the chain is consumed.
// A term its builder refused (which said why) makes the statement store
// nothing; a chain of misplaced operators or groups is reported.
template <class T>
void store(T* field, T* chain) {
    if (field && chain && all_defined(chain)) {
        if (chain->valid())
            *field = std::move(*chain);
        else
            hread_message("invalid parameter syntax");
    }
    delete chain;
}

// Gives back the names the scratch record holds and resets it.
void discard_scratch() {
    names_remove(g_scratch.spawn_params);
    names_remove(g_scratch.area_group);
    names_remove(g_scratch.reference_equalmap);
    g_scratch.spawn_params = g_scratch.area_group = g_scratch.reference_equalmap = nullptr;
    hair_params_reset(&g_scratch);
}

// Closes the light block: the scratch settings go, the name is given back.
void release_light() {
    light_scratch& l = g_reader.light;
    std::free(l.map.shadow_projector);
    l.map.shadow_projector = nullptr;
    init_mapparams(&l.map);
    init_autoparams(&l.autoshade);
    names_remove(l.name);
    l.name = nullptr;
    l.type = -1;
}

// Back to the state before a file: what a block left open is released.
void reset_reader() {
    discard_scratch();
    release_light();
    delete g_reader.fog;
    g_reader = reader_state();
}

// The largest segment count of the descriptions, each as a constant.
int largest_segment_count() {
    int largest = 0;
    for (int b = 0; b < HAIR_PARAMS_BUCKETS; ++b) {
        for (const hair_params* hp = hair_params_list_bucket(b); hp; hp = hp->next) {
            // Truncated; a count beyond the int range stops below its end
            // (shaping adds the root point), one that is not a number is 0.
            const float n = hp->segments.eval_const();
            const int count = n >= static_cast<float>(INT_MAX - 1) ? INT_MAX - 1
                              : n >= 1.0f                          ? static_cast<int>(n)
                                                                   : 0;
            if (count > largest) largest = count;
        }
    }
    return largest;
}

}  // namespace

// --- Messages and failures -------------------------------------------------------------

void hread_message(const char* text) {
    std::printf("%s\n", text);
    std::printf("hair file: syntax error at line %d\n", hair_scanner_line());
}

void hair_error(const char*) {
    hread_message("parse error");
    g_reader.error = true;
}

void hread_hold_failure() {
    if (!g_reader.failure) g_reader.failure = std::current_exception();
}

// --- Hair blocks -----------------------------------------------------------------------

bool hread_begin(char* name) {
    const hair_string text(name);
    return hread_guard([&] {
        g_reader.target = nullptr;
        hair_name* n = names_add(text.get());
        g_reader.target = hair_params_list_add(n);
    });
}

bool hread_end() {
    return hread_guard([] {
        if (!hair_params_valid(&g_scratch)) hread_message("illegal hair description");
        hair_params_assign(g_reader.target, &g_scratch);
        // The target holds the names now.
        g_scratch.spawn_params = g_scratch.area_group = g_scratch.reference_equalmap = nullptr;
        hair_params_reset(&g_scratch);
    });
}

void hread_scratch_reset() {
    discard_scratch();
}

void hread_set_light_model(int model) {
    if (model < 4) g_scratch.light_model = model;
}

bool hread_set_name(hair_name_field field, char* text) {
    const hair_string owned(text);
    return hread_guard([&] {
        hair_name* n = names_add(owned.get());
        hair_name** slot = name_field(field);
        names_remove(*slot);
        *slot = n;
    });
}

void hread_set_equalmap_type(int type) {
    g_scratch.equalizer_type = type;
}

void hread_set_matrix(const hair_vec4& r0, const hair_vec4& r1, const hair_vec4& r2,
                      const hair_vec4& r3) {
    const hair_vec4* rows[4] = {&r0, &r1, &r2, &r3};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) g_scratch.matrix[i][j] = rows[i]->v[j];
}

void hread_set_casts_shadows(bool on) {
    g_scratch.casts_shadows = on;
}

void hread_set_prim_visibility(bool on) {
    g_scratch.prim_visibility = on;
}

int hread_var_field(int index) {
    if (index >= HP_NUM_VARS) {
        hread_message("exceeded vars length");
        return HSF_NONE;
    }
    return HSF_VAR0 + index;
}

void hread_set_color(int field, hair_color_chain value) {
    hp_color* target =
        field >= 0 && field < HCF_COUNT ? &(g_scratch.*kColorFields[field]) : nullptr;
    store(target, value.head);
}

void hread_set_scalar(int field, hair_scalar_chain value) {
    store(scalar_field(field), value.head);
}

void hread_set_sample(int field, hp_scalar* value) {
    store(scalar_field(field), value);
}

// --- Attractor and curve attractor blocks --------------------------------------------------

bool hread_attract_begin(bool curve, char* name) {
    const hair_string text(name);
    return hread_guard([&] {
        g_reader.attract = nullptr;
        g_reader.curve = nullptr;
        hair_name* n = names_add(text.get());
        // The set takes a reference of its own.
        try {
            if (curve)
                g_reader.curve = curveAttractdb_add(n);
            else
                g_reader.attract = attractdb_add(n);
        } catch (...) {
            names_remove(n);
            throw;
        }
        names_remove(n);
    });
}

void hread_attract_end(bool curve) {
    (curve ? g_reader.curve_counter : g_reader.attract_counter) = -1;
}

void hread_attract_set(bool curve, int field, hair_scalar_chain value) {
    hp_scalar* target = nullptr;
    if (field >= 0 && field < HAF_COUNT) {
        if (curve && g_reader.curve) target = &(g_reader.curve->*kCurveFields[field]);
        if (!curve && g_reader.attract) target = &(g_reader.attract->*kAttractFields[field]);
    }
    if (!target) {
        hread_message("there is no current attractor");
        delete value.head;
        return;
    }
    store(target, value.head);
}

void hread_attract_closest(bool curve, int n) {
    const auto value = static_cast<std::int16_t>(n > INT16_MAX ? INT16_MAX : n);
    if (curve && g_reader.curve)
        g_reader.curve->closest_nb = value;
    else if (!curve && g_reader.attract)
        g_reader.attract->closest_nb = value;
    else
        hread_message("there is no current attractor");
}

void hread_attract_type(bool curve, int type) {
    if (curve && g_reader.curve)
        g_reader.curve->type = static_cast<std::int16_t>(type);
    else if (!curve && g_reader.attract)
        g_reader.attract->type = static_cast<std::int16_t>(type);
    else
        hread_message("there is no current attractor");
}

void hread_attract_nb_controls(bool curve, int n) {
    int ok = 0;
    if (curve && g_reader.curve)
        ok = g_reader.curve->alloc_controls(n);
    else if (!curve && g_reader.attract)
        ok = g_reader.attract->alloc_controls(n);
    else {
        hread_message("there is no current attractor");
        return;
    }
    if (!ok) hread_message("memory allocation");
    (curve ? g_reader.curve_counter : g_reader.attract_counter) = 0;
}

bool hread_attract_control(bool curve, char* root, char* middle, char* tip) {
    const hair_string texts[3] = {hair_string(root), hair_string(middle), hair_string(tip)};
    if ((curve && !g_reader.curve) || (!curve && !g_reader.attract)) {
        hread_message("there is no current attractor");
        return true;
    }
    int& counter = curve ? g_reader.curve_counter : g_reader.attract_counter;
    if (counter < 0) {
        hread_message("need a nb_controls before control");
        return true;
    }
    hair_name* names[3] = {nullptr, nullptr, nullptr};
    const bool ok = hread_guard([&] {
        for (int i = 0; i < (curve ? 1 : 3); ++i) names[i] = names_add(texts[i].get());
        // A control beyond the allocated number is refused by the set.
        if (curve)
            g_reader.curve->set_control(counter, names[0]);
        else
            g_reader.attract->set_control(counter, names[0], names[1], names[2]);
    });
    for (hair_name* n : names) names_remove(n);
    ++counter;
    return ok;
}

// --- Light blocks ----------------------------------------------------------------------

bool hread_light_begin(char* name) {
    const hair_string text(name);
    release_light();
    return hread_guard([&] { g_reader.light.name = names_add(text.get()); });
}

bool hread_light_end() {
    light_scratch& l = g_reader.light;
    const bool ok = hread_guard([&] {
        if (l.type == 0)
            assdb_set_autoshade_params(l.name, l.autoshade);
        else if (l.type == 1)
            assdb_set_shadmap_params(l.name, l.map);
        else
            hread_message("no light type");
    });
    release_light();
    return ok;
}

void hread_light_type(int type) {
    g_reader.light.type = type;
}

MapParams& hread_light_map() {
    return g_reader.light.map;
}

AutoParams& hread_light_auto() {
    return g_reader.light.autoshade;
}

void hread_light_projector(char* file) {
    std::free(g_reader.light.map.shadow_projector);
    g_reader.light.map.shadow_projector = file;
}

// --- The fog block ---------------------------------------------------------------------

bool hread_fog_begin() {
    delete g_reader.fog;
    g_reader.fog = nullptr;
    return hread_guard([] { g_reader.fog = new hair_atmos; });
}

void hread_fog_end() {
    hair_atmos* fog = g_reader.fog;
    g_reader.fog = nullptr;
    // The atmosphere database keeps the first fog only.
    if (atmosdb_init(fog))
        g_atmos = fog;
    else
        delete fog;
}

void hread_fog_scalar(int field, hair_scalar_chain value) {
    hp_scalar* target = nullptr;
    if (g_reader.fog) {
        switch (field) {
            case HFF_Z_MIN:
                target = &g_reader.fog->start_param;
                break;
            case HFF_Z_MAX:
                target = &g_reader.fog->end_param;
                break;
            case HFF_TRANSP:
                target = &g_reader.fog->transparency_param;
                break;
        }
    }
    store(target, value.head);
}

void hread_fog_color(hair_color_chain value) {
    store(g_reader.fog ? &g_reader.fog->color_param : nullptr, value.head);
}

// --- The file --------------------------------------------------------------------------

int hair_params_init(const char* path) {
    // Descriptions of an earlier read are destroyed, not only dropped; the
    // assignments that point to them are pointed at the new descriptions
    // of the same names once the file has been read, however that ends.
    assdb_release_descriptions();
    struct resolve_at_exit {
        ~resolve_at_exit() { assdb_resolve_descriptions(); }
    } resolve;
    hair_params_list_clear();

    std::FILE* file = path ? std::fopen(path, "r") : nullptr;
    if (!file) {
        const std::string text = std::string("Can't open data file ") + (path ? path : "");
        sendInfo(infoError, text.c_str());
        return 0;
    }

    reset_reader();
    hair_scanner_begin(file);
    hair_parse();
    hair_scanner_end();
    std::fclose(file);
    const std::exception_ptr failure = g_reader.failure;
    const bool error = g_reader.error;
    reset_reader();
    if (failure) std::rethrow_exception(failure);
    if (error) {
        const std::string text = std::string("Parsing failed for data file ") + path;
        throw FurEFailed(text.c_str());
    }

    if (!hair_shape_prepare(largest_segment_count())) return 0;

    if (opt_progress()) {
        for (int b = 0; b < HAIR_PARAMS_BUCKETS; ++b) {
            const hair_params* head = hair_params_list_bucket(b);
            if (!head) continue;
            std::printf("\nTable entry %d\n", b);
            hair_params_dump(head, 1);
        }
    }
    return 1;
}

void hair_params_done() {
    hair_shape_release();
    hair_params_list_clear();
    reset_reader();
    if (g_atmos) {
        atmosdb_done();
        delete g_atmos;
        g_atmos = nullptr;
    }
}
