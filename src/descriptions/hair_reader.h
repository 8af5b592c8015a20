// The hair description file reader: what the generated scanner and parser
// share with hair_file.cpp. Not part of the exported interface.
//
// The parser reduces the file construct by construct and calls the actions
// below in that order. Actions that can fail (a full name table, a bad
// channel code, exhausted memory) return false or null: the exception is
// held by the reader and the parser aborts, which releases what its stack
// still owns; hair_params_init throws it on once the file is closed.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "descriptions/assign_db.h"
#include "descriptions/hair_fields.h"
#include "descriptions/param_values.h"

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

// --- Actions ---------------------------------------------------------------------------

// Runs f; an exception is held for hair_params_init and false returned.
template <class F>
bool hread_guard(F&& f);

// The message routine: the text, then the line message.
void hread_message(const char* text);
// The parser's error routine: "parse error", the line message, the error flag.
void hair_error(const char* message);

// A term of the given type filled by fill, or null (exception held) when
// it cannot be made. A builder that refuses its arguments leaves the term
// undefined; a chain with such a term is not stored.
template <class T, class F>
T* hread_new_term(F&& fill);

// Hair blocks. begin and the name setters take the string.
bool hread_begin(char* name);
bool hread_end();
void hread_scratch_reset();
void hread_set_light_model(int model);
bool hread_set_name(hair_name_field field, char* text);
void hread_set_equalmap_type(int type);
void hread_set_matrix(const hair_vec4& r0, const hair_vec4& r1, const hair_vec4& r2,
                      const hair_vec4& r3);
void hread_set_casts_shadows(bool on);
void hread_set_prim_visibility(bool on);
// The field of var[index], or HSF_NONE after "exceeded vars length".
int hread_var_field(int index);
// Stores a built chain (taken over) when it is valid.
void hread_set_color(int field, hair_color_chain value);
void hread_set_scalar(int field, hair_scalar_chain value);
// A sample field's constant or step value (taken over).
void hread_set_sample(int field, hp_scalar* value);

// Attractor (curve == false) and curve attractor (curve == true) blocks.
bool hread_attract_begin(bool curve, char* name);
void hread_attract_end(bool curve);
void hread_attract_set(bool curve, int field, hair_scalar_chain value);
void hread_attract_closest(bool curve, int n);
void hread_attract_type(bool curve, int type);
void hread_attract_nb_controls(bool curve, int n);
// Takes the strings; middle and tip are null for a curve control.
bool hread_attract_control(bool curve, char* root, char* middle, char* tip);

// Light blocks.
bool hread_light_begin(char* name);
bool hread_light_end();
void hread_light_type(int type);
// The scratch records the statements of the open light block write.
MapParams& hread_light_map();
AutoParams& hread_light_auto();
// Takes the string.
void hread_light_projector(char* file);

// The fog block.
bool hread_fog_begin();
void hread_fog_end();
void hread_fog_scalar(int field, hair_scalar_chain value);
void hread_fog_color(hair_color_chain value);

// --- Scanner (hair_scanner.l) ----------------------------------------------------------

// Starts scanning file from its current position at line 1.
void hair_scanner_begin(std::FILE* file);
// Releases the scanner's buffers.
void hair_scanner_end();
// The line the scanner is on.
int hair_scanner_line();

// --- Parser (hair_parser.y) ------------------------------------------------------------

int hair_lex();
int hair_parse();

// --- Template definitions ----------------------------------------------------------------

void hread_hold_failure();  // keeps the exception being handled

template <class F>
bool hread_guard(F&& f) {
    try {
        f();
        return true;
    } catch (...) {
        hread_hold_failure();
        return false;
    }
}

template <class T, class F>
T* hread_new_term(F&& fill) {
    T* term = nullptr;
    if (hread_guard([&] {
            term = new T;
            fill(*term);
        }))
        return term;
    delete term;
    return nullptr;
}
