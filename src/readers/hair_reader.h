// The hair description file reader: what the generated scanner and parser
// share with hair_file.cpp. Not part of the exported interface.
//
// The parser reduces the file construct by construct and calls the reader
// below in that order. Actions that can fail (a full name table, a bad
// channel code, exhausted memory) return false or null: the exception is
// held by the reader and the parser aborts, which releases what its stack
// still owns; hair_params_init throws it on once the file is closed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

#include "descriptions/assign_db.h"
#include "descriptions/hair_fields.h"
#include "descriptions/hair_params.h"
#include "descriptions/param_values.h"
#include "readers/scanner_support.h"

struct hair_attract;
struct hair_curveAttract;
class hair_atmos;

// --- Values carried by the parser ----------------------------------------------------
// Plain records: they live in the parser's value union.

// Four numbers; the forms with three numbers give 1 as the fourth.
struct hair_vec4 {
    float v[4];
};

// A linstep argument: a number, or the index of a variable.
struct hair_larg {
    float value;
    bool is_var;
};

// A chain of terms being built: head owns the chain, tail is its last term.
struct hair_scalar_chain {
    hp_scalar* head;
    hp_scalar* tail;
};
struct hair_color_chain {
    hp_color* head;
    hp_color* tail;
};

// A string the scanner allocated (with malloc), owned by an action.
struct hair_free_text {
    void operator()(char* p) const { std::free(p); }
};
using hair_string = std::unique_ptr<char, hair_free_text>;

// --- Fields a statement writes -------------------------------------------------------

// The fields come from the one list of hair_fields.h, in its order.
// clang-format off
#define KORVO_HAIR_ENUM_COLOR(ID, ...) HCF_##ID,
#define KORVO_HAIR_ENUM_SCALAR(ID, ...) HSF_##ID,
#define KORVO_HAIR_ENUM_NAME(ID, ...) HNF_##ID,

// The colour fields of a description.
enum hair_color_field : int {
    KORVO_HAIR_FIELDS(KORVO_HAIR_ENUM_COLOR, KORVO_HAIR_FIELD_SKIP, KORVO_HAIR_FIELD_SKIP,
                      KORVO_HAIR_FIELD_SKIP, KORVO_HAIR_FIELD_SKIP)
    HCF_COUNT
};

// The scalar fields of a description; variable i is HSF_VAR0 + i, and
// HSF_NONE a statement that stores nothing.
enum hair_scalar_field : int {
    HSF_NONE = -1,
    KORVO_HAIR_FIELDS(KORVO_HAIR_FIELD_SKIP, KORVO_HAIR_ENUM_SCALAR, KORVO_HAIR_FIELD_SKIP,
                      KORVO_HAIR_FIELD_SKIP, KORVO_HAIR_FIELD_SKIP)
    HSF_VAR0
};

// The name fields of a description.
enum hair_name_field : int {
    KORVO_HAIR_FIELDS(KORVO_HAIR_FIELD_SKIP, KORVO_HAIR_FIELD_SKIP, KORVO_HAIR_ENUM_NAME,
                      KORVO_HAIR_FIELD_SKIP, KORVO_HAIR_FIELD_SKIP)
    HNF_COUNT
};

#undef KORVO_HAIR_ENUM_COLOR
#undef KORVO_HAIR_ENUM_SCALAR
#undef KORVO_HAIR_ENUM_NAME
// clang-format on

// The parameter values of an attractor or a curve attractor set.
enum hair_attract_field : int {
    HAF_INFLUENCE,
    HAF_START_LENGTH,
    HAF_END_LENGTH,
    HAF_POWER,
    HAF_RADIUS,
    HAF_THRESHOLD,
    HAF_COUNT
};

// The parameter values of the fog.
enum hair_fog_field : int { HFF_Z_MIN, HFF_Z_MAX, HFF_TRANSP };

// --- Values the grammar builds ------------------------------------------------------------

// A chain of one term, with the term's operator and group flags.
template <class C, class T>
C hair_chain_start(T* term, int op, unsigned flags) {
    term->op = static_cast<std::uint8_t>(op);
    term->flags = static_cast<std::uint8_t>(term->flags | flags);
    return C{term, term};
}

// The chain with one more term.
template <class C, class T>
C hair_chain_link(C chain, T* term, int op, unsigned flags) {
    term->op = static_cast<std::uint8_t>(op);
    term->flags = static_cast<std::uint8_t>(term->flags | flags);
    chain.tail->append(term);
    chain.tail = term;
    return chain;
}

inline hair_vec4 hair_vec4_of(float x, float y, float z, float w) {
    return hair_vec4{{x, y, z, w}};
}

// The colour of a vector; its fourth number is not used.
inline kivColor hair_color_of(const hair_vec4& v) {
    return kivColor(v.v[0], v.v[1], v.v[2], 1.0f);
}

// --- The reader ------------------------------------------------------------------------

// One read of a hair description file. The grammar's actions are calls to
// it, in file order; it holds what the constructs of the file share (the
// record the open hair block fills, the open attractor, light or fog
// block) and the line counter its scanner advances. Destroying it
// releases whatever a block left open.
class hair_reader {
  public:
    hair_reader();
    ~hair_reader();
    hair_reader(const hair_reader&) = delete;
    hair_reader& operator=(const hair_reader&) = delete;

    // Runs f; an exception is held for hair_params_init and false returned.
    template <class F>
    bool guard(F&& f);
    // A term of the given type filled by fill, or null (exception held)
    // when it cannot be made. A builder that refuses its arguments leaves
    // the term undefined; a chain with such a term is not stored.
    template <class T, class F>
    T* new_term(F&& fill);

    // The message routine: the text, then the line message.
    void message(const char* text) const;
    // The parser's error routine: "parse error", the line message, the
    // error flag.
    void syntax_error(const char* text);

    // Hair blocks. begin and the name setters take the string.
    bool begin(char* name);
    bool end();
    void scratch_reset();
    void set_light_model(int model);
    bool set_name(hair_name_field field, char* text);
    void set_equalmap_type(int type);
    void set_matrix(const hair_vec4& r0, const hair_vec4& r1, const hair_vec4& r2,
                    const hair_vec4& r3);
    void set_casts_shadows(bool on);
    void set_prim_visibility(bool on);
    // The field of var[index], or HSF_NONE after "exceeded vars length".
    int var_field(int index) const;
    // Stores a built chain (taken over) when it is valid.
    void set_color(int field, hair_color_chain value);
    void set_scalar(int field, hair_scalar_chain value);
    // A sample field's constant or step value (taken over).
    void set_sample(int field, hp_scalar* value);

    // Attractor (curve == false) and curve attractor (curve == true) blocks.
    bool attract_begin(bool curve, char* name);
    void attract_end(bool curve);
    void attract_set(bool curve, int field, hair_scalar_chain value);
    void attract_closest(bool curve, int n);
    void attract_type(bool curve, int type);
    void attract_nb_controls(bool curve, int n);
    // Takes the strings; middle and tip are null for a curve control.
    bool attract_control(bool curve, char* root, char* middle, char* tip);

    // Light blocks.
    bool light_begin(char* name);
    bool light_end();
    void light_type(int type);
    // The scratch records the statements of the open light block write.
    MapParams& light_map() { return light_.map; }
    AutoParams& light_auto() { return light_.autoshade; }
    // Takes the string.
    void light_projector(char* file);

    // The fog block.
    bool fog_begin();
    void fog_end();
    void fog_scalar(int field, hair_scalar_chain value);
    void fog_color(hair_color_chain value);

    // The line counter the scanner advances.
    scan_position& position() { return position_; }
    bool had_error() const { return error_; }
    const std::exception_ptr& failure() const { return failure_; }

  private:
    // The settings of the open light block.
    struct light_scratch {
        hair_name* name = nullptr;  // one reference held while the block is open
        MapParams map{};
        AutoParams autoshade{};
        int type = -1;  // -1 none yet, 0 auto-shading, 1 shadow map
    };

    void hold_failure();  // keeps the exception being handled
    hair_name** name_field(hair_name_field field);
    hp_scalar* scalar_field(int field);
    void discard_scratch();
    void release_light();

    scan_position position_;
    // The statements of a hair block write this record; the block's "}"
    // copies it into the target and resets it. A null name keeps
    // area_group and reference_equalmap null unless a statement names them.
    hair_params scratch_;
    hair_params* target_ = nullptr;  // the description the open hair block fills
    hair_attract* attract_ = nullptr;
    int attract_counter_ = -1;  // next control; -1 until "nb_controls"
    hair_curveAttract* curve_ = nullptr;
    int curve_counter_ = -1;
    light_scratch light_;
    hair_atmos* fog_ = nullptr;  // the open fog block's record
    bool error_ = false;         // a grammar error was found
    std::exception_ptr failure_;
};

// Runs the parser over file with a scanner of its own that counts lines
// in reader.position(); the parser's result (hair_scanner.l).
int hair_parse_file(std::FILE* file, hair_reader& reader);

// --- Template definitions ----------------------------------------------------------------

template <class F>
bool hair_reader::guard(F&& f) {
    try {
        f();
        return true;
    } catch (...) {
        hold_failure();
        return false;
    }
}

template <class T, class F>
T* hair_reader::new_term(F&& fill) {
    T* term = nullptr;
    if (guard([&] {
            term = new T;
            fill(*term);
        }))
        return term;
    delete term;
    return nullptr;
}
