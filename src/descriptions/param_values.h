// Parameter values: the numbers (hp_scalar) and colours (hp_color) of a
// hair description that may vary over a surface or over time.
//
// A value is a chain of terms combined left to right by "+", "-", "*" and
// "/" with one level of grouping and no precedence: 1 + 2 * 3 is 9. A term
// is a constant, a channel of an image read at the hair's surface
// coordinates, gradient noise over the surface, a linear ramp over the
// frame number, an image-driven ramp, one of the hair's variables, or a
// per-frame value from a curve-data file. The hair description file builds
// the chains with the builders below, one term at a time; spawning,
// shaping, lighting and the atmosphere evaluate them for every hair.
//
// A value is its first term, and the first term owns the rest of the chain
// and its names. File names that hold a '$' are stored with one more '$'
// in front: the caches take a leading '$' as the sign to expand $F, $f, $M
// and $m.
#pragma once

#include <cstdint>
#include <type_traits>

#include "foundation/vector_types.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

struct hair_state;

// Term kinds.
enum hp_kind : std::uint8_t {
    HP_UNDEFINED = 0,
    HP_CONSTANT = 1,
    HP_IMAGE = 2,           // one channel (colours: all four) of an image
    HP_IMAGE_RANGE = 3,     // base + image * delta
    HP_NOISE = 4,           // base + delta * (noise + 1) / 2
    HP_LINSTEP = 5,         // from base at frame i0 to base + delta at frame i1
    HP_IMAGESTEP = 6,       // a ramp of aux frames starting at a frame the image picks
    HP_VAR = 7,             // the hair's variable i0
    HP_CRVDATA = 8,         // a curve-data file, first frame i0
    HP_IMAGE_CRVDATA = 13,  // an image whose name a curve-data file gives per frame
};

// The operator after a term.
enum hp_op : std::uint8_t {
    HP_OP_NONE = 0,
    HP_OP_ADD = 9,
    HP_OP_SUB = 10,
    HP_OP_MUL = 11,
    HP_OP_DIV = 12,
};

// Term flags: which linstep arguments are variable references, and groups.
enum hp_flag : std::uint8_t {
    HP_VAR_START = 1,  // linstep start frame is var[i0]
    HP_VAR_END = 2,    // linstep end frame is var[i1]
    HP_VAR_FROM = 4,   // linstep start value is var[base]
    HP_VAR_TO = 8,     // linstep end value is var[delta]
    HP_OPEN_GROUP = 16,
    HP_CLOSE_GROUP = 32,
};

// Number of per-hair variables.
constexpr int HP_NUM_VARS = 10;

// The channel code of a text of the letters r, g, b, m (any order, repeats
// allowed): the or of 1, 2, 4 and 8; 0 for an empty or null text. Any other
// letter prints a FATAL line and throws FurEBadParameter.
int hp_channel_code(const char* text);
// The number of channel bits (1, 2, 4, 8) set in code.
int hp_channel_count(int code);

// ---------------------------------------------------------------------------
// hp_term: what a term of either chain holds and does, over its value type
// (float for hp_scalar, kivColor for hp_color). Term is the term class that
// derives from it; the chain links and copies Terms.
template <class Term, class Value>
class hp_term {
  public:
    // Values are passed to the builders as numbers by value, colours by
    // reference.
    using value_arg = std::conditional_t<std::is_arithmetic<Value>::value, Value, const Value&>;

    std::uint8_t kind = HP_UNDEFINED;  // hp_kind
    std::uint8_t flags = 0;            // hp_flag bits
    std::uint8_t op = HP_OP_NONE;      // operator after this term
    std::uint8_t channel = 0;          // channel code of image terms
    char* name = nullptr;              // image or curve-data file (owned)
    float aux = 0.0f;                  // noise frequency; imagestep ramp length
    Value base{};                      // constant; start of the range
    Value delta{};                     // end of the range minus its start
    std::int32_t i0 = 0;               // start frame, variable or string index
    std::int32_t i1 = 0;               // end frame
    Term* next = nullptr;              // next term (owned)

    // Back to undefined: the name and the rest of the chain are freed.
    void reset();
    bool defined() const { return kind != HP_UNDEFINED; }

    // --- Builders -------------------------------------------------------------
    // Each fills this term's kind and arguments (op, flags and next are left
    // as they are). A builder that fails prints why and changes nothing.
    // Image terms take exactly one channel letter for numbers and three for
    // colours; every colour given to a builder takes matte 1.
    bool set_constant(value_arg value);
    bool set_image(const char* file, const char* chans);
    // a + image * (b - a).
    bool set_image_range(const char* file, const char* chans, value_arg a, value_arg b);
    // The image named by line k of a curve-data file.
    bool set_image_crvdata(const char* file, const char* chans, int k);
    // a + (b - a) * (noise(f u, f v, f r) + 1) / 2; colours use r = 0.
    bool set_noise(float f, value_arg a, value_arg b);
    // The curve-data file whose first line belongs to frame s.
    bool set_crvdata(const char* file, int s);

    // --- Chains ---------------------------------------------------------------
    // Appends term (taking ownership) at the end of this chain.
    void append(Term* term);
    // False when a group opens inside a group or closes outside one, or a
    // term has a next term but no operator, or an operator but no next term.
    bool valid() const;
    // Prints the chain to standard output.
    void print() const;

  protected:
    hp_term() = default;  // undefined
    explicit hp_term(const Value& value) : kind(HP_CONSTANT), base(value) {}
    // Deep copies: the copy owns its own chain and names.
    hp_term(const hp_term& other);
    hp_term& operator=(const hp_term& other);
    hp_term(hp_term&& other) noexcept;
    hp_term& operator=(hp_term&& other) noexcept;
    ~hp_term();

    // Frees the name and makes this an unnamed term of kind k.
    void set_unnamed(std::uint8_t k);
    // Stores file (with its '$' marker) and makes this a term of kind k.
    void set_named(std::uint8_t k, const char* file);
    // base = a, delta = b - a (colours with matte 1).
    void set_range(value_arg a, value_arg b);

  private:
    void copy_fields(const hp_term& other);  // everything but name and next
    void copy_term(const hp_term& other);    // plus an own copy of the name
};

// ---------------------------------------------------------------------------
// hp_scalar: one term of a number-valued chain.
class hp_scalar : public hp_term<hp_scalar, float> {
  public:
    hp_scalar() = default;  // undefined
    explicit hp_scalar(float value) : hp_term(value) {}

    // --- Builders of numbers only ---------------------------------------------
    // From a at frame s to b at frame e. An argument whose flag (HP_VAR_START,
    // HP_VAR_END, HP_VAR_FROM, HP_VAR_TO) is in var_flags is the index of a
    // variable instead.
    bool set_linstep(float s, float e, float a, float b, unsigned var_flags = 0);
    // A ramp of n frames from a to b that starts between frames s (image
    // value 1) and e (image value 0).
    bool set_imagestep(const char* file, const char* chans, int s, int e, int n, float a, float b);
    bool set_var(int k);

    // --- Evaluation -----------------------------------------------------------
    // The value of the chain for the hair hs at the current frame. Throws
    // FurEBadParameter for undefined terms.
    float eval(const hair_state& hs) const {
        if (kind == HP_CONSTANT && flags == 0 && next == nullptr) return base;
        return eval_chain(hs);
    }
    // The value without a hair: images count 1, ranges, noise and linsteps
    // their upper value, curve data the current frame's value. Throws
    // FurEBadParameter for imagestep, var and undefined terms.
    float eval_const() const;

  private:
    float eval_chain(const hair_state& hs) const;
};

// ---------------------------------------------------------------------------
// hp_color: one term of a colour-valued chain. Kinds HP_IMAGESTEP and
// HP_VAR do not occur; evaluated colours are clamped to [0, 1].
class hp_color : public hp_term<hp_color, kivColor> {
  public:
    hp_color() = default;
    // A constant with all four channels of value.
    explicit hp_color(const kivColor& value) : hp_term(value) {}

    // From a at frame s to b at frame e.
    bool set_linstep(int s, int e, const kivColor& a, const kivColor& b);

    kivColor eval(const hair_state& hs) const {
        if (kind == HP_CONSTANT && flags == 0 && next == nullptr) {
            kivColor c = base;
            c.clamp();
            return c;
        }
        return eval_chain(hs);
    }

  private:
    kivColor eval_chain(const hair_state& hs) const;
};

KORVO_EXPORT_END
