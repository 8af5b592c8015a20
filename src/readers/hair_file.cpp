#include "readers/hair_file.h"

#include <climits>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <iterator>
#include <memory>
#include <string>
#include <utility>

#include "descriptions/assign_db.h"
#include "descriptions/hair_params.h"
#include "readers/hair_reader.h"
#include "foundation/fur_exception.h"
#include "foundation/messages.h"
#include "foundation/names.h"
#include "foundation/render_settings.h"
#include "generation/attractors.h"
#include "generation/curve_attractors.h"
#include "generation/hair_shaping.h"
#include "render/atmosphere.h"

namespace {

hair_atmos* g_atmos = nullptr;  // the fog recorded with the atmosphere database

// The members behind the field enums, generated from the same list.
#define KORVO_HAIR_POINTER(ID, member, ...) &hair_params::member,
hp_color hair_params::*const kColorFields[] = {
    KORVO_HAIR_FIELDS(KORVO_HAIR_POINTER, KORVO_HAIR_FIELD_SKIP, KORVO_HAIR_FIELD_SKIP,
                      KORVO_HAIR_FIELD_SKIP, KORVO_HAIR_FIELD_SKIP)};
static_assert(std::size(kColorFields) == HCF_COUNT, "one member per field");

hp_scalar hair_params::*const kScalarFields[] = {
    KORVO_HAIR_FIELDS(KORVO_HAIR_FIELD_SKIP, KORVO_HAIR_POINTER, KORVO_HAIR_FIELD_SKIP,
                      KORVO_HAIR_FIELD_SKIP, KORVO_HAIR_FIELD_SKIP)};
static_assert(std::size(kScalarFields) == HSF_VAR0, "one member per field");

hair_name* hair_params::*const kNameFields[] = {
    KORVO_HAIR_FIELDS(KORVO_HAIR_FIELD_SKIP, KORVO_HAIR_FIELD_SKIP, KORVO_HAIR_POINTER,
                      KORVO_HAIR_FIELD_SKIP, KORVO_HAIR_FIELD_SKIP)};
static_assert(std::size(kNameFields) == HNF_COUNT, "one member per field");
#undef KORVO_HAIR_POINTER

hp_scalar hair_attract::*const kAttractFields[] = {
    &hair_attract::influence, &hair_attract::len_beg_interp, &hair_attract::len_end_interp,
    &hair_attract::power,     &hair_attract::radius,         &hair_attract::len_threshold};
static_assert(std::size(kAttractFields) == HAF_COUNT, "one member per field");

hp_scalar hair_curveAttract::*const kCurveFields[] = {
    &hair_curveAttract::influence,      &hair_curveAttract::len_beg_interp,
    &hair_curveAttract::len_end_interp, &hair_curveAttract::power,
    &hair_curveAttract::radius,         &hair_curveAttract::len_threshold};
static_assert(std::size(kCurveFields) == HAF_COUNT, "one member per field");

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
void store(const hair_reader& r, T* field, T* chain) {
    if (field && chain && all_defined(chain)) {
        if (chain->valid())
            *field = std::move(*chain);
        else
            r.message("invalid parameter syntax");
    }
    delete chain;
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

// --- The reader's state ----------------------------------------------------------------

hair_reader::hair_reader() : scratch_(nullptr) {}

hair_reader::~hair_reader() {
    discard_scratch();
    release_light();
    delete fog_;
}

hair_name** hair_reader::name_field(hair_name_field field) {
    return field >= 0 && field < HNF_COUNT ? &(scratch_.*kNameFields[field]) : nullptr;
}

hp_scalar* hair_reader::scalar_field(int field) {
    if (field >= HSF_VAR0 && field < HSF_VAR0 + HP_NUM_VARS) return &scratch_.var[field - HSF_VAR0];
    if (field >= 0 && field < HSF_VAR0) return &(scratch_.*kScalarFields[field]);
    return nullptr;
}

// Gives back the names the scratch record holds and resets it.
void hair_reader::discard_scratch() {
    names_remove(scratch_.spawn_params);
    names_remove(scratch_.area_group);
    names_remove(scratch_.reference_equalmap);
    scratch_.spawn_params = scratch_.area_group = scratch_.reference_equalmap = nullptr;
    hair_params_reset(&scratch_);
}

// Closes the light block: the scratch settings go, the name is given back.
void hair_reader::release_light() {
    light_scratch& l = light_;
    std::free(l.map.shadow_projector);
    l.map.shadow_projector = nullptr;
    init_mapparams(&l.map);
    init_autoparams(&l.autoshade);
    names_remove(l.name);
    l.name = nullptr;
    l.type = -1;
}

// --- Messages and failures -------------------------------------------------------------

void hair_reader::message(const char* text) const {
    std::printf("%s\n", text);
    std::printf("hair file: syntax error at line %d\n", position_.line);
}

void hair_reader::syntax_error(const char*) {
    message("parse error");
    error_ = true;
}

void hair_reader::hold_failure() {
    if (!failure_) failure_ = std::current_exception();
}

// --- Hair blocks -----------------------------------------------------------------------

bool hair_reader::begin(char* name) {
    const hair_string text(name);
    return guard([&] {
        target_ = nullptr;
        hair_name* n = names_add(text.get());
        target_ = hair_params_list_add(n);
    });
}

bool hair_reader::end() {
    return guard([this] {
        if (!hair_params_valid(&scratch_)) message("illegal hair description");
        hair_params_assign(target_, &scratch_);
        // The target holds the names now.
        scratch_.spawn_params = scratch_.area_group = scratch_.reference_equalmap = nullptr;
        hair_params_reset(&scratch_);
    });
}

void hair_reader::scratch_reset() {
    discard_scratch();
}

void hair_reader::set_light_model(int model) {
    if (model < 4) scratch_.light_model = model;
}

bool hair_reader::set_name(hair_name_field field, char* text) {
    const hair_string owned(text);
    return guard([&] {
        hair_name* n = names_add(owned.get());
        hair_name** slot = name_field(field);
        names_remove(*slot);
        *slot = n;
    });
}

void hair_reader::set_equalmap_type(int type) {
    scratch_.equalizer_type = type;
}

void hair_reader::set_matrix(const hair_vec4& r0, const hair_vec4& r1, const hair_vec4& r2,
                             const hair_vec4& r3) {
    const hair_vec4* rows[4] = {&r0, &r1, &r2, &r3};
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) scratch_.matrix[i][j] = rows[i]->v[j];
}

void hair_reader::set_casts_shadows(bool on) {
    scratch_.casts_shadows = on;
}

void hair_reader::set_prim_visibility(bool on) {
    scratch_.prim_visibility = on;
}

int hair_reader::var_field(int index) const {
    if (index >= HP_NUM_VARS) {
        message("exceeded vars length");
        return HSF_NONE;
    }
    return HSF_VAR0 + index;
}

void hair_reader::set_color(int field, hair_color_chain value) {
    hp_color* target = field >= 0 && field < HCF_COUNT ? &(scratch_.*kColorFields[field]) : nullptr;
    store(*this, target, value.head);
}

void hair_reader::set_scalar(int field, hair_scalar_chain value) {
    store(*this, scalar_field(field), value.head);
}

void hair_reader::set_sample(int field, hp_scalar* value) {
    store(*this, scalar_field(field), value);
}

// --- Attractor and curve attractor blocks --------------------------------------------------

bool hair_reader::attract_begin(bool curve, char* name) {
    const hair_string text(name);
    return guard([&] {
        attract_ = nullptr;
        curve_ = nullptr;
        hair_name* n = names_add(text.get());
        // The set takes a reference of its own.
        try {
            if (curve)
                curve_ = curveAttractdb_add(n);
            else
                attract_ = attractdb_add(n);
        } catch (...) {
            names_remove(n);
            throw;
        }
        names_remove(n);
    });
}

void hair_reader::attract_end(bool curve) {
    (curve ? curve_counter_ : attract_counter_) = -1;
}

void hair_reader::attract_set(bool curve, int field, hair_scalar_chain value) {
    hp_scalar* target = nullptr;
    if (field >= 0 && field < HAF_COUNT) {
        if (curve && curve_) target = &(curve_->*kCurveFields[field]);
        if (!curve && attract_) target = &(attract_->*kAttractFields[field]);
    }
    if (!target) {
        message("there is no current attractor");
        delete value.head;
        return;
    }
    store(*this, target, value.head);
}

void hair_reader::attract_closest(bool curve, int n) {
    const auto value = static_cast<std::int16_t>(n > INT16_MAX ? INT16_MAX : n);
    if (curve && curve_)
        curve_->closest_nb = value;
    else if (!curve && attract_)
        attract_->closest_nb = value;
    else
        message("there is no current attractor");
}

void hair_reader::attract_type(bool curve, int type) {
    if (curve && curve_)
        curve_->type = static_cast<std::int16_t>(type);
    else if (!curve && attract_)
        attract_->type = static_cast<std::int16_t>(type);
    else
        message("there is no current attractor");
}

void hair_reader::attract_nb_controls(bool curve, int n) {
    int ok = 0;
    if (curve && curve_)
        ok = curve_->alloc_controls(n);
    else if (!curve && attract_)
        ok = attract_->alloc_controls(n);
    else {
        message("there is no current attractor");
        return;
    }
    if (!ok) message("memory allocation");
    (curve ? curve_counter_ : attract_counter_) = 0;
}

bool hair_reader::attract_control(bool curve, char* root, char* middle, char* tip) {
    const hair_string texts[3] = {hair_string(root), hair_string(middle), hair_string(tip)};
    if ((curve && !curve_) || (!curve && !attract_)) {
        message("there is no current attractor");
        return true;
    }
    int& counter = curve ? curve_counter_ : attract_counter_;
    if (counter < 0) {
        message("need a nb_controls before control");
        return true;
    }
    hair_name* names[3] = {nullptr, nullptr, nullptr};
    const bool ok = guard([&] {
        for (int i = 0; i < (curve ? 1 : 3); ++i) names[i] = names_add(texts[i].get());
        // A control beyond the allocated number is refused by the set.
        if (curve)
            curve_->set_control(counter, names[0]);
        else
            attract_->set_control(counter, names[0], names[1], names[2]);
    });
    for (hair_name* n : names) names_remove(n);
    ++counter;
    return ok;
}

// --- Light blocks ----------------------------------------------------------------------

bool hair_reader::light_begin(char* name) {
    const hair_string text(name);
    release_light();
    return guard([&] { light_.name = names_add(text.get()); });
}

bool hair_reader::light_end() {
    light_scratch& l = light_;
    const bool ok = guard([&] {
        if (l.type == 0)
            assdb_set_autoshade_params(l.name, l.autoshade);
        else if (l.type == 1)
            assdb_set_shadmap_params(l.name, l.map);
        else
            message("no light type");
    });
    release_light();
    return ok;
}

void hair_reader::light_type(int type) {
    light_.type = type;
}

void hair_reader::light_projector(char* file) {
    std::free(light_.map.shadow_projector);
    light_.map.shadow_projector = file;
}

// --- The fog block ---------------------------------------------------------------------

bool hair_reader::fog_begin() {
    delete fog_;
    fog_ = nullptr;
    return guard([this] { fog_ = new hair_atmos; });
}

void hair_reader::fog_end() {
    hair_atmos* fog = fog_;
    fog_ = nullptr;
    // The atmosphere database keeps the first fog only.
    if (atmosdb_init(fog))
        g_atmos = fog;
    else
        delete fog;
}

void hair_reader::fog_scalar(int field, hair_scalar_chain value) {
    hp_scalar* target = nullptr;
    if (fog_) {
        switch (field) {
            case HFF_Z_MIN:
                target = &fog_->start_param;
                break;
            case HFF_Z_MAX:
                target = &fog_->end_param;
                break;
            case HFF_TRANSP:
                target = &fog_->transparency_param;
                break;
        }
    }
    store(*this, target, value.head);
}

void hair_reader::fog_color(hair_color_chain value) {
    store(*this, fog_ ? &fog_->color_param : nullptr, value.head);
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

    // The reader lives for this file only: what a block left open is
    // released before a failure is thrown on.
    std::exception_ptr failure;
    bool error = false;
    {
        const std::unique_ptr<std::FILE, int (*)(std::FILE*)> closer(file, std::fclose);
        hair_reader reader;
        hair_parse_file(file, reader);
        failure = reader.failure();
        error = reader.had_error();
    }
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
    if (g_atmos) {
        atmosdb_done();
        delete g_atmos;
        g_atmos = nullptr;
    }
}
