#include "descriptions/param_values.h"

#include <cstdio>
#include <cstring>
#include <limits>
#include <string>
#include <utility>

#include "descriptions/curve_data_cache.h"
#include "descriptions/texture_cache.h"
#include "foundation/fur_exception.h"
#include "foundation/noise.h"
#include "foundation/render_settings.h"
#include "descriptions/hair_records.h"

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

// The FATAL line and exception of a term that cannot be evaluated.
[[noreturn]] void undefined_term(const char* type) {
    const std::string msg = std::string("Can't evaluate an undefined ") + type + "!";
    furFail<FurEBadParameter>(msg.c_str(), "FATAL: can't evaluate an undefined %s!\n", type);
}

// Variable i of the hair, 0 for an index out of range.
inline double var_value(const hair_state& hs, long i) {
    return i >= 0 && i < HP_NUM_VARS ? hs.vars[i] : 0.0;
}

// --- Chains -------------------------------------------------------------------

template <class Value>
inline Value apply(const Value& acc, std::uint8_t op, const Value& x) {
    switch (op) {
        case HP_OP_ADD:
            return acc + x;
        case HP_OP_SUB:
            return acc - x;
        case HP_OP_MUL:
            return acc * x;
        case HP_OP_DIV:
            return acc / x;  // colours: a zero channel of x gives 0
        default:
            return acc;  // no operator: the value is dropped
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

void print_op(std::uint8_t op) {
    switch (op) {
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

// --- Term values ------------------------------------------------------------------

// Linear ramp from a at frame s to b at frame e.
inline float ramp(int frame, int s, int e, float a, float b) {
    if (frame <= s) return a;
    if (frame >= e) return b;
    // Frames far apart differ by more than an int holds.
    const long long since = static_cast<long long>(frame) - s, span = static_cast<long long>(e) - s;
    return a + static_cast<float>(since) / static_cast<float>(span) * (b - a);
}

// A frame number (or a variable's index) from a file or a variable,
// truncated; beyond the range of an int it saturates (NaN gives 0).
inline int frame_of(double f) {
    if (!(f == f)) return 0;
    if (f >= 2147483647.0) return std::numeric_limits<int>::max();
    if (f <= -2147483648.0) return std::numeric_limits<int>::min();
    return static_cast<int>(f);
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
            const int s = (t.flags & HP_VAR_START) ? frame_of(var_value(hs, t.i0)) : t.i0;
            const int e = (t.flags & HP_VAR_END) ? frame_of(var_value(hs, t.i1)) : t.i1;
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
            const int t0 = frame_of(
                (static_cast<double>(t.i1) - t.i0) * (1.0 - static_cast<double>(l)) + t.i0);
            const long long since = static_cast<long long>(frame) - t0;
            if (since <= 0) return t.base;
            if (since > static_cast<long long>(t.aux)) return t.base + t.delta;
            return t.base + static_cast<float>(since) / t.aux * t.delta;
        }
        case HP_VAR:
            return static_cast<float>(var_value(hs, t.i0));
        case HP_CRVDATA:
            return crvdata_lookup(t.name, t.i0, frame);
        case HP_IMAGE_CRVDATA:
            return tmap_lookup_chan(crvdata_lookup_str(t.name, t.i0, frame), t.channel, hs.u, hs.v);
        default:
            undefined_term("hp_scalar");
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
            undefined_term("hp_scalar");
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
            undefined_term("hp_color");
    }
}

// --- Printed forms ------------------------------------------------------------------

void print_form(const hp_scalar& t) {
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

void print_form(const hp_color& t) {
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

// --- What the builders store --------------------------------------------------------

// Channels an image term takes.
int image_channels(const hp_scalar&) {
    return 1;
}
int image_channels(const hp_color&) {
    return 3;
}

// A value as a builder stores it: colours take matte 1.
float stored(float v) {
    return v;
}
kivColor stored(const kivColor& c) {
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
                const std::string msg = std::string("Bad channel coding (\"") + text + "\")";
                furFail<FurEBadParameter>(msg.c_str(), "FATAL: bad channel coding (\"%s\"), bye...",
                                          text);
            }
        }
    }
    return code;
}

int hp_channel_count(int code) {
    return ((code & 1) != 0) + ((code & 2) != 0) + ((code & 4) != 0) + ((code & 8) != 0);
}

// --- hp_term ------------------------------------------------------------------------

template <class Term, class Value>
void hp_term<Term, Value>::copy_fields(const hp_term& o) {
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

template <class Term, class Value>
void hp_term<Term, Value>::copy_term(const hp_term& o) {
    copy_fields(o);
    name = duplicate(o.name);
}

template <class Term, class Value>
hp_term<Term, Value>::hp_term(const hp_term& other) {
    *this = other;
}

template <class Term, class Value>
hp_term<Term, Value>& hp_term<Term, Value>::operator=(const hp_term& other) {
    if (this == &other) return *this;
    reset();
    copy_term(other);
    hp_term* to = this;
    for (const Term* t = other.next; t; t = t->next) {
        to->next = new Term;
        to = to->next;
        to->copy_term(*t);
    }
    return *this;
}

template <class Term, class Value>
hp_term<Term, Value>::hp_term(hp_term&& other) noexcept {
    *this = std::move(other);
}

template <class Term, class Value>
hp_term<Term, Value>& hp_term<Term, Value>::operator=(hp_term&& other) noexcept {
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

template <class Term, class Value>
hp_term<Term, Value>::~hp_term() {
    delete[] name;
    delete_chain(next);
}

template <class Term, class Value>
void hp_term<Term, Value>::reset() {
    delete[] name;
    delete_chain(next);
    name = nullptr;
    next = nullptr;
    copy_fields(hp_term());
}

template <class Term, class Value>
void hp_term<Term, Value>::set_unnamed(std::uint8_t k) {
    delete[] name;
    name = nullptr;
    kind = k;
}

template <class Term, class Value>
void hp_term<Term, Value>::set_named(std::uint8_t k, const char* file) {
    delete[] name;
    name = store_name(file);
    kind = k;
}

template <class Term, class Value>
void hp_term<Term, Value>::set_range(value_arg a, value_arg b) {
    base = stored(a);
    delta = stored(b) - stored(a);
}

template <class Term, class Value>
bool hp_term<Term, Value>::set_constant(value_arg value) {
    set_unnamed(HP_CONSTANT);
    base = stored(value);
    return true;
}

template <class Term, class Value>
bool hp_term<Term, Value>::set_image(const char* file, const char* chans) {
    const int code = checked_channels(chans, image_channels(static_cast<const Term&>(*this)));
    if (code < 0) return false;
    set_named(HP_IMAGE, file);
    channel = static_cast<std::uint8_t>(code);
    return true;
}

template <class Term, class Value>
bool hp_term<Term, Value>::set_image_range(const char* file, const char* chans, value_arg a,
                                           value_arg b) {
    if (!set_image(file, chans)) return false;
    kind = HP_IMAGE_RANGE;
    set_range(a, b);
    return true;
}

template <class Term, class Value>
bool hp_term<Term, Value>::set_image_crvdata(const char* file, const char* chans, int k) {
    if (!set_image(file, chans)) return false;
    kind = HP_IMAGE_CRVDATA;
    i0 = k;
    return true;
}

template <class Term, class Value>
bool hp_term<Term, Value>::set_noise(float f, value_arg a, value_arg b) {
    set_unnamed(HP_NOISE);
    aux = f;
    set_range(a, b);
    return true;
}

template <class Term, class Value>
bool hp_term<Term, Value>::set_crvdata(const char* file, int s) {
    set_named(HP_CRVDATA, file);
    i0 = s;
    return true;
}

template <class Term, class Value>
void hp_term<Term, Value>::append(Term* term) {
    hp_term* last = this;
    while (last->next) last = last->next;
    last->next = term;
}

template <class Term, class Value>
bool hp_term<Term, Value>::valid() const {
    bool open = false;
    for (const hp_term* t = this; t; t = t->next) {
        if ((t->flags & HP_OPEN_GROUP) && open) return false;
        if ((t->flags & HP_CLOSE_GROUP) && !open) return false;
        if ((t->next != nullptr) != (t->op != HP_OP_NONE)) return false;
        if (t->flags & HP_OPEN_GROUP) open = true;
        if (t->flags & HP_CLOSE_GROUP) open = false;
    }
    return true;
}

template <class Term, class Value>
void hp_term<Term, Value>::print() const {
    for (const Term* t = static_cast<const Term*>(this); t; t = t->next) {
        if (t->flags & HP_OPEN_GROUP) std::printf("(");
        print_form(*t);
        if (t->flags & HP_CLOSE_GROUP) std::printf(")");
        print_op(t->op);
    }
}

template class hp_term<hp_scalar, float>;
template class hp_term<hp_color, kivColor>;

// --- hp_scalar ---------------------------------------------------------------------

bool hp_scalar::set_linstep(float s, float e, float a, float b, unsigned var_flags) {
    var_flags &= HP_VAR_START | HP_VAR_END | HP_VAR_FROM | HP_VAR_TO;
    const float args[4] = {s, e, a, b};
    for (int i = 0; i < 4; ++i)
        if ((var_flags & (1u << i)) && !var_index_ok(frame_of(args[i]))) return false;
    set_unnamed(HP_LINSTEP);
    flags = static_cast<std::uint8_t>((flags & ~0x0Fu) | var_flags);
    i0 = frame_of(s);
    i1 = frame_of(e);
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
    set_range(a, b);
    return true;
}

bool hp_scalar::set_var(int k) {
    if (!var_index_ok(k)) return false;
    set_unnamed(HP_VAR);
    i0 = k;
    return true;
}

float hp_scalar::eval_chain(const hair_state& hs) const {
    return combine<hp_scalar, float>(this,
                                     [&hs](const hp_scalar& t) { return scalar_term(t, hs); });
}

float hp_scalar::eval_const() const {
    return combine<hp_scalar, float>(this, [](const hp_scalar& t) { return scalar_const_term(t); });
}

// --- hp_color ----------------------------------------------------------------------

bool hp_color::set_linstep(int s, int e, const kivColor& a, const kivColor& b) {
    set_unnamed(HP_LINSTEP);
    i0 = s;
    i1 = e;
    set_range(a, b);
    return true;
}

kivColor hp_color::eval_chain(const hair_state& hs) const {
    kivColor c =
        combine<hp_color, kivColor>(this, [&hs](const hp_color& t) { return color_term(t, hs); });
    c.clamp();
    return c;
}
