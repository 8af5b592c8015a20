// Attractors: guide curves that bend hairs.
//
// An attractor set is made of controls; a control names three models whose
// positions (or, for data-point models, whose points) give the root, the
// middle and the tip of guide curves. Once per frame attractdb_frame_init
// gathers the guide points of every set from the model database. While a
// hair is shaped, the guide curves nearest to its root are blended into one
// curve for that hair, and every segment is pulled towards the point of
// that curve at the same relative length.
//
// The sets live in a module-wide table of 13 buckets keyed by interned
// name. The hair description file creates them (attractdb_add, then the
// fields, alloc_controls and set_control); the assignment table attaches
// them to models.
#pragma once

#include <cstdint>

#include "descriptions/param_values.h"
#include "foundation/names.h"
#include "foundation/vector_types.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

class hair_datapoints;
struct hair_state;

// Buckets of the attractor table.
constexpr int ATTRACT_BUCKETS = 13;

// One control: the models of a guide curve's root, middle and tip.
struct hair_attract_control {
    hair_name* names[3] = {nullptr, nullptr, nullptr};  // root, middle, tip (one reference each)
    bool valid = false;                                 // set by attractdb_frame_init
};

// ---------------------------------------------------------------------------
// hair_attract: one attractor set.
struct hair_attract {
    std::int16_t nb_controls = 0;
    bool valid_frame = false;  // guide points gathered for this frame
    hair_attract_control* controls = nullptr;
    // Guide points per list (0 current, 1 second) and per part (0 roots,
    // 1 middles, 2 tips); created on first use.
    hair_datapoints* points[2][3] = {{nullptr, nullptr, nullptr}, {nullptr, nullptr, nullptr}};
    hair_attract* next = nullptr;  // chain of the bucket
    hair_name* name = nullptr;     // one reference held
    std::int16_t closest_nb = 1;   // nearest guide curves blended per hair
    std::int16_t type = 0;         // 0 local, 1 global
    hp_scalar influence{1.0f};
    hp_scalar radius{1.0f};
    hp_scalar len_threshold{0.33f};
    hp_scalar len_beg_interp{0.0f};
    hp_scalar len_end_interp{1.0f};
    hp_scalar power{1.0f};

    explicit hair_attract(hair_name* n);
    ~hair_attract();
    hair_attract(const hair_attract&) = delete;
    hair_attract& operator=(const hair_attract&) = delete;

    // Replaces the controls by n cleared ones and sets nb_controls; 0 (and
    // no controls) when n is negative, above 32767 or memory runs out.
    int alloc_controls(int n);
    // Stores the three model names in control i, each with a reference of
    // its own (the caller keeps its references). 0 when i is out of range.
    int set_control(int i, hair_name* root, hair_name* middle, hair_name* tip);
};

// ---------------------------------------------------------------------------
// The guide curve of one set for one hair, blended and placed.
struct hair_attract_curve {
    int valid = 0;
    kivPoint R, M, T;            // root, middle and tip
    float len_rm = 0.0f;         // |RM|, 0 below 1e-5
    float len_mt = 0.0f;         // |MT|, 0 below 1e-5
    float influence = 0.0f;      // evaluated for the hair
    float len_threshold = 0.0f;  // the next three times the description's width_scale
    float len_beg_interp = 0.0f;
    float len_end_interp = 0.0f;
    float power = 1.0f;  // evaluated for the hair
};

// --- The table ---------------------------------------------------------------------

// Empties the table, destroying any sets left in it; 1.
int attractdb_init();
// A new set with the defaults for this name (one reference taken), linked
// into its bucket as the head of an empty bucket or right after the head.
hair_attract* attractdb_add(hair_name* name);
// The set whose name is this very record, or null.
hair_attract* attractdb_get(const hair_name* name);
// Number of sets added since attractdb_init.
int attractdb_count();
// Gathers the guide points of every set from the chosen model list (0 the
// current list, otherwise the second list). Warnings name models that are
// missing or of inconsistent kinds. 0 at the first set whose second-list
// curve count differs from its current-list count; else 1.
int attractdb_frame_init(int which);
// Destroys every set and the scratch arrays; the counts become 0.
void attractdb_done();
// Prints the table.
void attractdb_dump();

// --- Per hair ----------------------------------------------------------------------

// True when set a bends a hair of this length: its guide points are
// gathered, it has controls, the length reaches the threshold and the
// influence is not 0 (both evaluated for the hair).
bool attractdb_applies(const hair_attract* a, const hair_state& hs, float length);
// Blends the guide curves of set a nearest to root (within the radius)
// into the curve of this hair: the guide points of the second list are
// used when hs describes time sample 1. Returns whether the curve is valid.
bool attractdb_build_curve(const hair_attract* a, const hair_state& hs, const kivPoint& root,
                           hair_attract_curve& curve);
// The active curves of one hair: table is emptied, then one curve per set
// of sets (n of them) that applies and gives a valid curve is written, at
// most capacity. Returns the number written. Allocates nothing unless a
// set's closest_nb outgrows the scratch arrays of attractdb_frame_init.
int attractdb_setup_hair(hair_attract* const* sets, int n, const hair_state& hs,
                         const kivPoint& root, float length, hair_attract_curve* table,
                         int capacity);
// The pull of one curve on the hair point p at distance s along a hair of
// length L. Returns false (pull untouched) when the curve does not pull.
bool attractdb_curve_pull(const hair_attract_curve& curve, const kivPoint& p, float s, float L,
                          kivVector& pull);
// The sum of the pulls of n curves; false (sum zero) when none pulls.
bool attractdb_pull(const hair_attract_curve* curves, int n, const kivPoint& p, float s, float L,
                    kivVector& sum);

KORVO_EXPORT_END
