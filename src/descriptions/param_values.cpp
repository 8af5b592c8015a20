#include "descriptions/param_values.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>

#include "descriptions/curve_data_cache.h"
#include "descriptions/texture_cache.h"
#include "foundation/fur_exception.h"
#include "foundation/noise.h"
#include "foundation/render_settings.h"
#include "generation/hair_records.h"

namespace {

// --- Names ------------------------------------------------------------------

// An owned copy of a file name; a name holding a '$' gets one more in front.
char* store_name(const char* file) {
    if (!file) file = "";
    const std::size_t length = std::strlen(file);
    const bool marked = std::strchr(file, '$') != nullptr;
    char* copy = new char[length + (marked ? 2 : 1)];
    if (marked) copy[0] = '$';
    std::memcpy(copy + (marked ? 1 : 0), file, length + 1);
    return copy;
}

char* duplicate(const char* s) {
    if (!s) return nullptr;
    const std::size_t length = std::strlen(s) + 1;
    char* copy = new char[length];
    std::memcpy(copy, s, length);
    return copy;
}

// The name as written: without the '$' marker.
const char* shown(const char* name) {
    if (!name) return "";
    return name[0] == '$' ? name + 1 : name;
}

// The channel letters of a code, in the order r, g, b, m.
const char* letters(int code, char* buf) {
    char* p = buf;
    if (code & 1) *p++ = 'r';
    if (code & 2) *p++ = 'g';
    if (code & 4) *p++ = 'b';
    if (code & 8) *p++ = 'm';
    *p = '\0';
    return buf;
}

// The channel code of chans if it has exactly `wanted` channels; -1 (after
// the ERROR line) otherwise.
int checked_channels(const char* chans, int wanted) {
    const int code = hp_channel_code(chans);
    const int count = hp_channel_count(code);
    if (count == wanted) return code;
    if (wanted == 1)
        std::printf("ERROR: expecting 1 channel, %d (%s) defined\n", count, chans ? chans : "");
    else
        std::printf("ERROR: expecting %d channels, %d (%s) defined\n", wanted, count,
                    chans ? chans : "");
    return -1;
}

bool var_index_ok(int k) {
    if (k >= 0 && k < HP_NUM_VARS) return true;
    std::printf("ERROR: var[%d] exceeded vars length\n", k);
    return false;
}

[[noreturn]] void undefined_scalar() {
    std::printf("FATAL: can't evaluate an undefined hp_scalar!\n");
    std::fflush(stdout);
    throw FurEBadParameter("Can't evaluate an undefined hp_scalar!");
}

[[noreturn]] void undefined_color() {
    std::printf("FATAL: can't evaluate an undefined hp_color!\n");
    std::fflush(stdout);
    throw FurEBadParameter("Can't evaluate an undefined hp_color!");
}

// Variable i of the hair, 0 for an index out of range.
inline double var_value(const hair_state& hs, long i) {
    return i >= 0 && i < HP_NUM_VARS ? hs.vars[i] : 0.0;
}

// --- Chains -------------------------------------------------------------------

inline float apply(float acc, std::uint8_t op, float x) {
    switch (op) {
        case HP_OP_ADD:
            return acc + x;
        case HP_OP_SUB:
            return acc - x;
        case HP_OP_MUL:
            return acc * x;
        case HP_OP_DIV:
            return acc / x;
        default:
            return acc;  // no operator: the value is dropped
    }
}

inline kivColor apply(const kivColor& acc, std::uint8_t op, const kivColor& x) {
    switch (op) {
        case HP_OP_ADD:
            return acc + x;
        case HP_OP_SUB:
            return acc - x;
        case HP_OP_MUL:
            return acc * x;
        case HP_OP_DIV:
            return acc / x;  // a zero channel of x gives 0
        default:
            return acc;
    }
}

// Combines the term values left to right. A term that opens a group starts
// a group accumulator; the term that closes it hands the group's value to
// the outer accumulator with the operator of the last outer term. A group
// left open at the end never reaches the result.
template <class Term, class Value, class TermValue>
Value combine(const Term* t, TermValue&& value_of) {
    Value outer{}, group{};
    const Term* prev = nullptr;   // last outer term
    const Term* inner = nullptr;  // last term of the open group
    for (; t; t = t->next) {
        const Value x = value_of(*t);
        if (inner) {
            group = apply(group, inner->op, x);
            if (t->flags & HP_CLOSE_GROUP) {
                outer = prev ? apply(outer, prev->op, group) : group;
                prev = t;
                inner = nullptr;
            } else {
                inner = t;
            }
        } else if (t->flags & HP_OPEN_GROUP) {
            group = x;
            inner = t;
        } else {
            outer = prev ? apply(outer, prev->op, x) : x;
            prev = t;
        }
    }
    return outer;
}

template <class Term>
bool chain_valid(const Term* t) {
    bool open = false;
    for (; t; t = t->next) {
        if ((t->flags & HP_OPEN_GROUP) && open) return false;
        if ((t->flags & HP_CLOSE_GROUP) && !open) return false;
        if ((t->next != nullptr) != (t->op != HP_OP_NONE)) return false;
        if (t->flags & HP_OPEN_GROUP) open = true;
        if (t->flags & HP_CLOSE_GROUP) open = false;
    }
    return true;
}

template <class Term>
void chain_append(Term* head, Term* term) {
    Term* last = head;
    while (last->next) last = last->next;
    last->next = term;
}

// Deletes a chain iteratively (chains may be long; no recursion).
template <class Term>
void delete_chain(Term* t) {
    while (t) {
        Term* rest = t->next;
        t->next = nullptr;
        delete t;
        t = rest;
    }
}

template <class Term>
void print_chain(const Term* t, void (*print_form)(const Term&)) {
    for (; t; t = t->next) {
        if (t->flags & HP_OPEN_GROUP) std::printf("(");
        print_form(*t);
        if (t->flags & HP_CLOSE_GROUP) std::printf(")");
        switch (t->op) {
            case HP_OP_ADD:
                std::printf(" + ");
                break;
            case HP_OP_SUB:
                std::printf(" - ");
                break;
            case HP_OP_MUL:
                std::printf(" * ");
                break;
            case HP_OP_DIV:
                std::printf(" / ");
                break;
            default:
                break;
        }
    }
}

// --- Term values ------------------------------------------------------------------

// Linear ramp from a at frame s to b at frame e.
inline float ramp(int frame, int s, int e, float a, float b) {
    if (frame <= s) return a;
    if (frame >= e) return b;
    return a + static_cast<float>(frame - s) / static_cast<float>(e - s) * (b - a);
}

float scalar_term(const hp_scalar& t, const hair_state& hs) {
    const int frame = defs.frame;
    switch (t.kind) {
        case HP_CONSTANT:
            return t.base;
        case HP_IMAGE:
            return tmap_lookup_chan(t.name, t.channel, hs.u, hs.v);
        case HP_IMAGE_RANGE:
            return t.base + tmap_lookup_chan(t.name, t.channel, hs.u, hs.v) * t.delta;
        case HP_NOISE: {
            const double n =
                noise3(kivVector(static_cast<float>(t.aux * hs.u), static_cast<float>(t.aux * hs.v),
                                 static_cast<float>(t.aux * hs.rand[0])));
            return static_cast<float>(t.base + t.delta * 0.5 * (n + 1.0));
        }
        case HP_LINSTEP: {
            const int s = (t.flags & HP_VAR_START) ? static_cast<int>(var_value(hs, t.i0)) : t.i0;
            const int e = (t.flags & HP_VAR_END) ? static_cast<int>(var_value(hs, t.i1)) : t.i1;
            const float a = (t.flags & HP_VAR_FROM)
                                ? static_cast<float>(var_value(hs, static_cast<long>(t.base)))
                                : t.base;
            const float b = (t.flags & HP_VAR_TO)
                                ? static_cast<float>(var_value(hs, static_cast<long>(t.delta)))
                                : t.base + t.delta;
            return ramp(frame, s, e, a, b);
        }
        case HP_IMAGESTEP: {
            // Brighter image values start the ramp earlier.
            const float l = tmap_lookup_chan(t.name, t.channel, hs.u, hs.v);
            const int t0 = static_cast<int>(static_cast<double>(t.i1 - t.i0) * (1.0 - l) + t.i0);
            if (frame <= t0) return t.base;
            if (frame > t0 + static_cast<int>(t.aux)) return t.base + t.delta;
            return t.base + static_cast<float>(frame - t0) / t.aux * t.delta;
        }
        case HP_VAR:
            return static_cast<float>(var_value(hs, t.i0));
        case HP_CRVDATA:
            return crvdata_lookup(t.name, t.i0, frame);
        case HP_IMAGE_CRVDATA:
            return tmap_lookup_chan(crvdata_lookup_str(t.name, t.i0, frame), t.channel, hs.u, hs.v);
        default:
            undefined_scalar();
    }
}

float scalar_const_term(const hp_scalar& t) {
    switch (t.kind) {
        case HP_CONSTANT:
            return t.base;
        case HP_IMAGE:
        case HP_IMAGE_CRVDATA:
            return 1.0f;
        case HP_IMAGE_RANGE:
        case HP_NOISE:
        case HP_LINSTEP:
            return t.base + t.delta;
        case HP_CRVDATA:
            return crvdata_lookup(t.name, t.i0, defs.frame);
        default:  // imagestep, var and undefined need a hair
            undefined_scalar();
    }
}

kivColor color_term(const hp_color& t, const hair_state& hs) {
    const int frame = defs.frame;
    switch (t.kind) {
        case HP_CONSTANT:
            return t.base;
        case HP_IMAGE:
            return tmap_lookup_chans(t.name, t.channel, hs.u, hs.v);
        case HP_IMAGE_RANGE:
            return t.base + tmap_lookup_chans(t.name, t.channel, hs.u, hs.v) * t.delta;
        case HP_NOISE: {
            const double n = noise3(kivVector(static_cast<float>(t.aux * hs.u),
                                              static_cast<float>(t.aux * hs.v), 0.0f));
            const float s = static_cast<float>(0.5 * (n + 1.0));
            return kivColor(t.base.r + s * t.delta.r, t.base.g + s * t.delta.g,
                            t.base.b + s * t.delta.b, 1.0f);
        }
        case HP_LINSTEP: {
            const kivColor& a = t.base;
            const kivColor b = t.base + t.delta;
            return kivColor(ramp(frame, t.i0, t.i1, a.r, b.r), ramp(frame, t.i0, t.i1, a.g, b.g),
                            ramp(frame, t.i0, t.i1, a.b, b.b), ramp(frame, t.i0, t.i1, a.a, b.a));
        }
        case HP_CRVDATA:
            return crvdata_lookup_clr(t.name, t.i0, frame);
        case HP_IMAGE_CRVDATA:
            return tmap_lookup_chans(crvdata_lookup_str(t.name, t.i0, frame), t.channel, hs.u,
                                     hs.v);
        default:
            undefined_color();
    }
}

// --- Printed forms ------------------------------------------------------------------

void print_scalar_form(const hp_scalar& t) {
    char ch[8];
    switch (t.kind) {
        case HP_CONSTANT:
            std::printf("%f", t.base);
            break;
        case HP_IMAGE:
            std::printf("image( \"%s\", \"%s\" )", shown(t.name), letters(t.channel, ch));
            break;
        case HP_IMAGE_RANGE:
            std::printf("image( \"%s\", \"%s\", %f, %f )", shown(t.name), letters(t.channel, ch),
                        t.base, t.base + t.delta);
            break;
        case HP_NOISE:
            std::printf("noise( %f, %f, %f )", t.aux, t.base, t.base + t.delta);
            break;
        case HP_LINSTEP:
            std::printf("linstep( %d, %d, %f, %f )", t.i0, t.i1, t.base, t.base + t.delta);
            break;
        case HP_IMAGESTEP:
            std::printf("imagestep( \"%s\", \"%s\", %d, %d, %d, %f, %f )", shown(t.name),
                        letters(t.channel, ch), t.i0, t.i1, static_cast<int>(t.aux), t.base,
                        t.base + t.delta);
            break;
        case HP_CRVDATA:
            std::printf("crvdata( \"%s\", %d )", shown(t.name), t.i0);
            break;
        default:  // var, image named by curve data, undefined
            std::printf("UNDEFINED");
            break;
    }
}

void print_color_form(const hp_color& t) {
    char ch[8];
    const kivColor& a = t.base;
    const kivColor b = t.base + t.delta;
    switch (t.kind) {
        case HP_CONSTANT:
            std::printf("< %f, %f, %f>", a.r, a.g, a.b);
            break;
        case HP_IMAGE:
            std::printf("image( \"%s\", \"%s\" )", shown(t.name), letters(t.channel, ch));
            break;
        case HP_IMAGE_RANGE:
            std::printf("image( \"%s\", \"%s\", <%f, %f, %f>, <%f, %f, %f> )", shown(t.name),
                        letters(t.channel, ch), a.r, a.g, a.b, b.r, b.g, b.b);
            break;
        case HP_NOISE:
            std::printf("noise( %f, <%f, %f, %f>, <%f, %f, %f> )", t.aux, a.r, a.g, a.b, b.r, b.g,
                        b.b);
            break;
        case HP_LINSTEP:
            std::printf("linstep( %d, %d,  <%f, %f, %f>, <%f, %f, %f> )", t.i0, t.i1, a.r, a.g, a.b,
                        b.r, b.g, b.b);
            break;
        case HP_CRVDATA:
            std::printf("crvdata( \"%s\", %d  )", shown(t.name), t.i0);
            break;
        default:
            std::printf("< UNDEFINED >");
            break;
    }
}

kivColor opaque(const kivColor& c) {
    return kivColor(c.r, c.g, c.b, 1.0f);
}

}  // namespace

// --- Channel codes ---------------------------------------------------------------

int hp_channel_code(const char* text) {
    int code = 0;
    if (!text) return 0;
    for (const char* p = text; *p; ++p) {
        switch (*p) {
            case 'r':
                code |= 1;
                break;
            case 'g':
                code |= 2;
                break;
            case 'b':
                code |= 4;
                break;
            case 'm':
                code |= 8;
                break;
            default: {
                std::printf("FATAL: bad channel coding (\"%s\"), bye...", text);
                std::fflush(stdout);
                const std::string msg = std::string("Bad channel coding (\"") + text + "\")";
                throw FurEBadParameter(msg.c_str());
            }
        }
    }
    return code;
}

int hp_channel_count(int code) {
    return ((code & 1) != 0) + ((code & 2) != 0) + ((code & 4) != 0) + ((code & 8) != 0);
}

// --- hp_scalar ---------------------------------------------------------------------

void hp_scalar::copy_fields(const hp_scalar& o) {
    kind = o.kind;
    flags = o.flags;
    op = o.op;
    channel = o.channel;
    aux = o.aux;
    base = o.base;
    delta = o.delta;
    i0 = o.i0;
    i1 = o.i1;
}

void hp_scalar::copy_term(const hp_scalar& o) {
    copy_fields(o);
    name = duplicate(o.name);
}

hp_scalar::hp_scalar(const hp_scalar& other) {
    *this = other;
}

hp_scalar& hp_scalar::operator=(const hp_scalar& other) {
    if (this == &other) return *this;
    reset();
    copy_term(other);
    hp_scalar* to = this;
    for (const hp_scalar* t = other.next; t; t = t->next) {
        to->next = new hp_scalar;
        to = to->next;
        to->copy_term(*t);
    }
    return *this;
}

hp_scalar::hp_scalar(hp_scalar&& other) noexcept {
    *this = std::move(other);
}

hp_scalar& hp_scalar::operator=(hp_scalar&& other) noexcept {
    if (this == &other) return *this;
    reset();
    copy_fields(other);
    name = other.name;
    next = other.next;
    other.name = nullptr;
    other.next = nullptr;
    other.reset();
    return *this;
}

hp_scalar::~hp_scalar() {
    delete[] name;
    delete_chain(next);
}

void hp_scalar::reset() {
    delete[] name;
    delete_chain(next);
    name = nullptr;
    next = nullptr;
    copy_fields(hp_scalar());
}

bool hp_scalar::set_constant(float value) {
    delete[] name;
    name = nullptr;
    kind = HP_CONSTANT;
    base = value;
    return true;
}

bool hp_scalar::set_image(const char* file, const char* chans) {
    const int code = checked_channels(chans, 1);
    if (code < 0) return false;
    delete[] name;
    name = store_name(file);
    kind = HP_IMAGE;
    channel = static_cast<std::uint8_t>(code);
    return true;
}

bool hp_scalar::set_image_range(const char* file, const char* chans, float a, float b) {
    if (!set_image(file, chans)) return false;
    kind = HP_IMAGE_RANGE;
    base = a;
    delta = b - a;
    return true;
}

bool hp_scalar::set_image_crvdata(const char* file, const char* chans, int k) {
    if (!set_image(file, chans)) return false;
    kind = HP_IMAGE_CRVDATA;
    i0 = k;
    return true;
}

bool hp_scalar::set_noise(float f, float a, float b) {
    delete[] name;
    name = nullptr;
    kind = HP_NOISE;
    aux = f;
    base = a;
    delta = b - a;
    return true;
}

bool hp_scalar::set_linstep(float s, float e, float a, float b, unsigned var_flags) {
    var_flags &= HP_VAR_START | HP_VAR_END | HP_VAR_FROM | HP_VAR_TO;
    const float args[4] = {s, e, a, b};
    for (int i = 0; i < 4; ++i)
        if ((var_flags & (1u << i)) && !var_index_ok(static_cast<int>(args[i]))) return false;
    delete[] name;
    name = nullptr;
    kind = HP_LINSTEP;
    flags = static_cast<std::uint8_t>((flags & ~0x0Fu) | var_flags);
    i0 = static_cast<std::int32_t>(s);
    i1 = static_cast<std::int32_t>(e);
    base = a;
    // A variable end value keeps its index here; otherwise base + delta = b.
    delta = (var_flags & HP_VAR_TO) ? b : b - a;
    return true;
}

bool hp_scalar::set_imagestep(const char* file, const char* chans, int s, int e, int n, float a,
                              float b) {
    if (!set_image(file, chans)) return false;
    kind = HP_IMAGESTEP;
    i0 = s;
    i1 = e;
    aux = static_cast<float>(n);
    base = a;
    delta = b - a;
    return true;
}

bool hp_scalar::set_var(int k) {
    if (!var_index_ok(k)) return false;
    delete[] name;
    name = nullptr;
    kind = HP_VAR;
    i0 = k;
    return true;
}

bool hp_scalar::set_crvdata(const char* file, int s) {
    delete[] name;
    name = store_name(file);
    kind = HP_CRVDATA;
    i0 = s;
    return true;
}

void hp_scalar::append(hp_scalar* term) {
    chain_append(this, term);
}

bool hp_scalar::valid() const {
    return chain_valid(this);
}

float hp_scalar::eval_chain(const hair_state& hs) const {
    return combine<hp_scalar, float>(this,
                                     [&hs](const hp_scalar& t) { return scalar_term(t, hs); });
}

float hp_scalar::eval_const() const {
    return combine<hp_scalar, float>(this, [](const hp_scalar& t) { return scalar_const_term(t); });
}

void hp_scalar::print() const {
    print_chain<hp_scalar>(this, print_scalar_form);
}

// --- hp_color ----------------------------------------------------------------------

void hp_color::copy_fields(const hp_color& o) {
    kind = o.kind;
    flags = o.flags;
    op = o.op;
    channel = o.channel;
    aux = o.aux;
    base = o.base;
    delta = o.delta;
    i0 = o.i0;
    i1 = o.i1;
}

void hp_color::copy_term(const hp_color& o) {
    copy_fields(o);
    name = duplicate(o.name);
}

hp_color::hp_color(const hp_color& other) {
    *this = other;
}

hp_color& hp_color::operator=(const hp_color& other) {
    if (this == &other) return *this;
    reset();
    copy_term(other);
    hp_color* to = this;
    for (const hp_color* t = other.next; t; t = t->next) {
        to->next = new hp_color;
        to = to->next;
        to->copy_term(*t);
    }
    return *this;
}

hp_color::hp_color(hp_color&& other) noexcept {
    *this = std::move(other);
}

hp_color& hp_color::operator=(hp_color&& other) noexcept {
    if (this == &other) return *this;
    reset();
    copy_fields(other);
    name = other.name;
    next = other.next;
    other.name = nullptr;
    other.next = nullptr;
    other.reset();
    return *this;
}

hp_color::~hp_color() {
    delete[] name;
    delete_chain(next);
}

void hp_color::reset() {
    delete[] name;
    delete_chain(next);
    name = nullptr;
    next = nullptr;
    copy_fields(hp_color());
}

bool hp_color::set_constant(const kivColor& value) {
    delete[] name;
    name = nullptr;
    kind = HP_CONSTANT;
    base = opaque(value);
    return true;
}

bool hp_color::set_image(const char* file, const char* chans) {
    const int code = checked_channels(chans, 3);
    if (code < 0) return false;
    delete[] name;
    name = store_name(file);
    kind = HP_IMAGE;
    channel = static_cast<std::uint8_t>(code);
    return true;
}

bool hp_color::set_image_range(const char* file, const char* chans, const kivColor& a,
                               const kivColor& b) {
    if (!set_image(file, chans)) return false;
    kind = HP_IMAGE_RANGE;
    base = opaque(a);
    delta = opaque(b) - opaque(a);
    return true;
}

bool hp_color::set_image_crvdata(const char* file, const char* chans, int k) {
    if (!set_image(file, chans)) return false;
    kind = HP_IMAGE_CRVDATA;
    i0 = k;
    return true;
}

bool hp_color::set_noise(float f, const kivColor& a, const kivColor& b) {
    delete[] name;
    name = nullptr;
    kind = HP_NOISE;
    aux = f;
    base = opaque(a);
    delta = opaque(b) - opaque(a);
    return true;
}

bool hp_color::set_linstep(int s, int e, const kivColor& a, const kivColor& b) {
    delete[] name;
    name = nullptr;
    kind = HP_LINSTEP;
    i0 = s;
    i1 = e;
    base = opaque(a);
    delta = opaque(b) - opaque(a);
    return true;
}

bool hp_color::set_crvdata(const char* file, int s) {
    delete[] name;
    name = store_name(file);
    kind = HP_CRVDATA;
    i0 = s;
    return true;
}

void hp_color::append(hp_color* term) {
    chain_append(this, term);
}

bool hp_color::valid() const {
    return chain_valid(this);
}

kivColor hp_color::eval_chain(const hair_state& hs) const {
    kivColor c =
        combine<hp_color, kivColor>(this, [&hs](const hp_color& t) { return color_term(t, hs); });
    c.clamp();
    return c;
}

void hp_color::print() const {
    print_chain<hp_color>(this, print_color_form);
}
