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

#include "foundation/vector_types.h"

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
// hp_scalar: one term of a number-valued chain.
class hp_scalar {
  public:
    std::uint8_t kind = HP_UNDEFINED;  // hp_kind
    std::uint8_t flags = 0;            // hp_flag bits
    std::uint8_t op = HP_OP_NONE;      // operator after this term
    std::uint8_t channel = 0;          // channel code of image terms
    char* name = nullptr;              // image or curve-data file (owned)
    float aux = 0.0f;                  // noise frequency; imagestep ramp length
    float base = 0.0f;                 // constant; start of the range
    float delta = 0.0f;                // end of the range minus its start
    std::int32_t i0 = 0;               // start frame, variable or string index
    std::int32_t i1 = 0;               // end frame
    hp_scalar* next = nullptr;         // next term (owned)

    // --- Construction -------------------------------------------------------
    hp_scalar() = default;  // undefined
    explicit hp_scalar(float value) : kind(HP_CONSTANT), base(value) {}
    // Deep copies: the copy owns its own chain and names.
    hp_scalar(const hp_scalar& other);
    hp_scalar& operator=(const hp_scalar& other);
    hp_scalar(hp_scalar&& other) noexcept;
    hp_scalar& operator=(hp_scalar&& other) noexcept;
    ~hp_scalar();

    // Back to undefined: the name and the rest of the chain are freed.
    void reset();
    bool defined() const { return kind != HP_UNDEFINED; }

    // --- Builders -------------------------------------------------------------
    // Each fills this term's kind and arguments (op, flags and next are left
    // as they are). A builder that fails prints why and changes nothing.
    bool set_constant(float value);
    // One channel of an image (exactly one channel letter).
    bool set_image(const char* file, const char* chans);
    // a + image * (b - a).
    bool set_image_range(const char* file, const char* chans, float a, float b);
    // One channel of the image named by line k of a curve-data file.
    bool set_image_crvdata(const char* file, const char* chans, int k);
    // a + (b - a) * (noise(f u, f v, f r) + 1) / 2.
    bool set_noise(float f, float a, float b);
    // From a at frame s to b at frame e. An argument whose flag (HP_VAR_START,
    // HP_VAR_END, HP_VAR_FROM, HP_VAR_TO) is in var_flags is the index of a
    // variable instead.
    bool set_linstep(float s, float e, float a, float b, unsigned var_flags = 0);
    // A ramp of n frames from a to b that starts between frames s (image
    // value 1) and e (image value 0).
    bool set_imagestep(const char* file, const char* chans, int s, int e, int n, float a, float b);
    bool set_var(int k);
    // The scalar curve-data file whose first line belongs to frame s.
    bool set_crvdata(const char* file, int s);

    // --- Chains ---------------------------------------------------------------
    // Appends term (taking ownership) at the end of this chain.
    void append(hp_scalar* term);
    // False when a group opens inside a group or closes outside one, or a
    // term has a next term but no operator, or an operator but no next term.
    bool valid() const;

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

    // Prints the chain to standard output.
    void print() const;

  private:
    float eval_chain(const hair_state& hs) const;
    void copy_fields(const hp_scalar& other);  // everything but name and next
    void copy_term(const hp_scalar& other);    // plus an own copy of the name
};

// ---------------------------------------------------------------------------
// hp_color: one term of a colour-valued chain. Kinds HP_IMAGESTEP and
// HP_VAR do not occur; evaluated colours are clamped to [0, 1].
class hp_color {
  public:
    std::uint8_t kind = HP_UNDEFINED;
    std::uint8_t flags = 0;
    std::uint8_t op = HP_OP_NONE;
    std::uint8_t channel = 0;
    char* name = nullptr;
    float aux = 0.0f;  // noise frequency
    kivColor base;     // constant; start of the range
    kivColor delta;    // end of the range minus its start
    std::int32_t i0 = 0;
    std::int32_t i1 = 0;
    hp_color* next = nullptr;

    // --- Construction -------------------------------------------------------
    hp_color() = default;
    // A constant with all four channels of value.
    explicit hp_color(const kivColor& value) : kind(HP_CONSTANT), base(value) {}
    hp_color(const hp_color& other);
    hp_color& operator=(const hp_color& other);
    hp_color(hp_color&& other) noexcept;
    hp_color& operator=(hp_color&& other) noexcept;
    ~hp_color();

    void reset();
    bool defined() const { return kind != HP_UNDEFINED; }

    // --- Builders -------------------------------------------------------------
    // Every colour given to a builder takes matte 1.
    bool set_constant(const kivColor& value);
    // Three channels of an image (exactly three channel letters).
    bool set_image(const char* file, const char* chans);
    bool set_image_range(const char* file, const char* chans, const kivColor& a, const kivColor& b);
    bool set_image_crvdata(const char* file, const char* chans, int k);
    bool set_noise(float f, const kivColor& a, const kivColor& b);
    bool set_linstep(int s, int e, const kivColor& a, const kivColor& b);
    bool set_crvdata(const char* file, int s);

    // --- Chains ---------------------------------------------------------------
    void append(hp_color* term);
    bool valid() const;

    // --- Evaluation -----------------------------------------------------------
    kivColor eval(const hair_state& hs) const {
        if (kind == HP_CONSTANT && flags == 0 && next == nullptr) {
            kivColor c = base;
            c.clamp();
            return c;
        }
        return eval_chain(hs);
    }

    void print() const;

  private:
    kivColor eval_chain(const hair_state& hs) const;
    void copy_fields(const hp_color& other);
    void copy_term(const hp_color& other);
};
