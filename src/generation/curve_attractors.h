// Curve attractors: hairs bent along curves drawn on a surface in the host.
//
// A curve attractor set names host curves (its controls). When a control is
// named, its curve is looked up in the host (the curve registry here): the
// curve's first control vertex becomes the control's root and the host's
// direction there its reference direction. While a hair is shaped, the
// controls nearest to its root are chosen and weighted, and every segment
// is pulled towards (global sets) or turned along (local sets) those
// curves evaluated at the same relative length.
//
// The sets live in a module-wide table of 13 buckets keyed by interned
// name; the hair description file creates them, the assignment table
// attaches them to models.
#pragma once

#include <cstdint>
#include <vector>

#include "descriptions/param_values.h"
#include "foundation/names.h"
#include "foundation/vector_types.h"
#include "geometry/curve_registry.h"
#include "host/korvo_quaternion.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

struct hair_state;

// Buckets of the curve attractor table.
constexpr int CURVE_ATTRACT_BUCKETS = 13;

// One control: a host curve.
struct hair_curveAttract_control {
    hair_name* name = nullptr;            // the curve's name (one reference)
    KorvoDagPath path;                    // the curve in the host
    KorvoPoint root{0.0, 0.0, 0.0, 1.0};  // first control vertex, world space
    bool valid = false;                   // the curve was found
    KorvoVector direction;                // reference direction at the root (unit or zero)
};

// ---------------------------------------------------------------------------
// hair_curveAttract: one curve attractor set.
struct hair_curveAttract {
    std::int16_t nb_controls = 0;
    std::int16_t valid = 0;  // 1 once the controls are allocated
    hair_curveAttract_control* controls = nullptr;
    hair_curveAttract* next = nullptr;  // chain of the bucket
    hair_name* name = nullptr;          // one reference held
    std::int16_t closest_nb = 1;        // nearest controls used per hair
    std::int16_t type = 0;              // 0 local, otherwise global
    hp_scalar influence{1.0f};
    hp_scalar radius{1.0f};
    hp_scalar len_threshold{0.33f};
    hp_scalar len_beg_interp{0.0f};
    hp_scalar len_end_interp{1.0f};
    hp_scalar power{1.0f};

    explicit hair_curveAttract(hair_name* n);
    ~hair_curveAttract();
    hair_curveAttract(const hair_curveAttract&) = delete;
    hair_curveAttract& operator=(const hair_curveAttract&) = delete;

    // Replaces the controls by n unresolved ones, sets nb_controls and
    // valid; 0 when n is negative, above 32767 or memory runs out.
    int alloc_controls(int n);
    // Stores the curve name in control i (a reference of its own) and
    // resolves it in the host now. 0 when i is out of range; an unknown
    // curve leaves the control invalid and still returns 1.
    int set_control(int i, hair_name* curve);
};

// ---------------------------------------------------------------------------
// One chosen control of one hair.
struct hair_curveAttract_curve {
    int valid = 0;
    float influence = 0.0f;      // the set's influence times 5
    float len_threshold = 0.0f;  // this and the next three times width_scale
    float len_beg_interp = 0.0f;
    float len_end_interp = 0.0f;
    float power = 0.0f;
    int type = 0;
    const hair_curveAttract_control* control = nullptr;  // path, root, direction
    double weight = 0.0;                                 // w_i of the choice
    double share = 0.0;  // w_i over the sum of the weights of its set
    KorvoVector offset;  // of its set: weighted root average minus its surface point
};

// The curve attractor work of one hair: the chosen controls of every set
// that applies, and the type of the last such set (-1 for none). Reset for
// each hair; the storage is kept, so a work record reused from hair to hair
// allocates only while it grows.
struct hair_curveAttract_work {
    std::vector<hair_curveAttract_curve> curves;
    int type = -1;

    void reset() {
        curves.clear();
        type = -1;
    }
    int count() const { return static_cast<int>(curves.size()); }
};

// --- The table ---------------------------------------------------------------------

// Empties the table, destroying any sets left in it; 1.
int curveAttractdb_init();
// A new set with the defaults for this name (one reference taken), linked
// as the head of an empty bucket or right after the head.
hair_curveAttract* curveAttractdb_add(hair_name* name);
// The set whose name is this very record, or null.
hair_curveAttract* curveAttractdb_get(const hair_name* name);
// Number of sets added since curveAttractdb_init.
int curveAttractdb_count();
// Nothing is gathered per frame; 1.
int curveAttractdb_frame_init();
// Destroys every set and the scratch arrays.
void curveAttractdb_done();

// --- Per hair ----------------------------------------------------------------------

// True when set c bends a hair of this length: its controls are
// allocated and there are some, the length reaches the threshold and the
// influence is not 0 (both evaluated for the hair).
bool curveAttractdb_applies(const hair_curveAttract* c, const hair_state& hs, float length);
// Chooses the valid controls of set c nearest to root (within the radius)
// and appends one record per chosen control to work; the work's type
// becomes the set's. Returns the number appended.
int curveAttractdb_choose(const hair_curveAttract* c, const hair_state& hs, const kivPoint& root,
                          hair_curveAttract_work& work);
// The curve attractors of one hair: work is reset, then every set of sets
// (n of them) that applies adds its choice. Returns work.count().
int curveAttractdb_setup_hair(hair_curveAttract* const* sets, int n, const hair_state& hs,
                              const kivPoint& root, float length, hair_curveAttract_work& work);
// The pull for one segment from p_prev to the candidate p_cur at distance
// s along a hair of length L. remembered holds one point per chosen
// control; an empty array is filled with the curves' first control
// vertices. Global sets give the pull to add to the growth direction,
// local sets the rotated step (p_cur - p_prev turned along the curves).
// False (pull untouched) when nothing pulls. Allocates nothing once
// remembered has its points.
bool curveAttractdb_pull(const hair_curveAttract_work& work, const kivPoint& p_prev,
                         const kivPoint& p_cur, float s, float L, KorvoPointArray& remembered,
                         kivVector& pull);

KORVO_EXPORT_END
