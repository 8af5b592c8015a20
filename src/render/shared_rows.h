// Rows that two processes drawing the same hair pass share out as they go.
//
// Bands of rows cut by an estimate of the work end at different times when
// the estimate is off or one processor runs slower than the other. A zone
// of rows between two bands evens that out: both processes take the zone
// into their render region, so both walk its hair and queue its polygons,
// but neither draws them while the walk goes on. At the end of the pass
// each draws its own band, then takes the zone's units (`unit` rows each)
// one at a time through a word both processes map: the process above the
// zone from its top row down, the one below from its bottom row up, until
// they meet. Whichever finishes its band first draws more of the zone.
//
// A unit is drawn from the polygons the process queued, in queue order,
// limited to the unit's rows, so it gets the very fragments one process
// would give it. The pass ends with its own rows drawn and the zones'
// polygons held, so that the process can finish its own rows (shade the
// surfaces, resolve the pixels) before it takes units
// (mdldb_draw_shared_rows). It then owns its band plus the units it drew
// (mdldb_shared_rows_drawn).
//
// The queued polygons of a zone are held in memory until the pass ends, up
// to kSharedRowsBytes a zone; past that the process settles the zone at
// once, taking its units up to the cut between the two bands (the other
// process takes the rest), and draws on from there.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

// The claims on a zone's units: the next unit from the top in the low 32
// bits, one past the last unit left from the bottom in the high 32 bits.
// It must live in memory that both processes map (a shared mapping made
// before the fork).
struct shared_row_claims {
    std::atomic<std::uint64_t> word{0};
};
static_assert(std::atomic<std::uint64_t>::is_always_lock_free,
              "the claims are shared between processes without a lock");

// A zone: rows row0 ... row1 - 1 of the camera's z-buffer between two
// bands, in units of `unit` rows (the last may be shorter), the bands cut
// at row `cut` (row0 <= cut <= row1). `above` tells whether this process's
// band lies above the zone (it takes units from row0 down) or below it
// (from row1 up). The zone's rows must lie in the render region of the
// pass, at its top or bottom edge.
struct shared_rows {
    int row0 = 0, row1 = 0;
    int unit = 1;
    int cut = 0;
    bool above = false;
    shared_row_claims* claims = nullptr;
};

// The most memory the polygons queued for one zone hold.
constexpr std::size_t kSharedRowsBytes = std::size_t(64) << 20;

// Sets c for a zone of `units` units, none taken.
void shared_rows_reset(shared_row_claims& c, int units);
// The zone's units: ceil((row1 - row0) / unit), 0 when empty or malformed.
int shared_rows_units(const shared_rows& z);
// Takes the next unit for this process's side of z, not past the unit
// `limit` (units limit ... for the process below, 0 ... limit - 1 for the
// one above); -1 when none is left to it.
int shared_rows_claim(const shared_rows& z, int limit);

// The zones (at most two, one at each edge of the region) that the camera
// passes to come share, until called with n = 0. False, sharing nothing,
// when a zone is malformed.
bool mdldb_share_rows(const shared_rows* zones, int n);
// Takes and draws the next unit of the last hair pass's zones left to this
// process, giving its rows row0 ... row1 - 1 (either may be null); false
// when none is left. Nothing may read a zone's rows of the z-buffer before
// they are drawn.
bool mdldb_draw_shared_unit(int* row0, int* row1);
// Takes and draws every unit left to this process.
void mdldb_draw_shared_rows();
// The rows of zone k that this process drew in the last hair pass, as
// row0 ... row1 - 1 (empty when it drew none of them), drawing them first
// when they are still held. False when there is no such zone.
bool mdldb_shared_rows_drawn(int k, int* row0, int* row1);

KORVO_EXPORT_END
