// Rows that two processes drawing the same hair pass share out as they go.
//
// Bands of rows cut by an estimate of the work end at different times when
// the estimate is off or one processor runs slower than the other. A zone
// of rows between two bands evens that out. The process of the band above
// takes the zone into its render region, so it walks the zone's hair, and
// copies every polygon that reaches the zone, in queue order, into memory
// both processes map; it draws none of them while the walk goes on. The
// process below leaves the zone out of its region. Each process draws its
// own band, then takes the zone's units (`unit` rows each) one at a time
// through a word both map: the process above from the zone's top row down,
// the one below from its bottom row up (once the copies are complete),
// until they meet. Whichever finishes its band first draws more of the
// zone, and the zone's hair is walked once.
//
// A unit is drawn from the copied polygons in queue order, limited to the
// unit's rows, so it gets the very fragments one process would give it.
// The pass ends with the process's own rows drawn, so that it can finish
// them (shade the surfaces, resolve the pixels) before it takes units
// (mdldb_draw_shared_unit). It then owns its band plus the units it drew
// (mdldb_shared_rows_drawn).
//
// When the copies outgrow their memory, the process above takes every
// unit of the zone at once and draws on from there; the process below then
// takes none.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "korvofur/export.h"

class hair_zbuffer;

KORVO_EXPORT_BEGIN

// The shared state of a zone: the claims on its units (the next unit from
// the top in the low 32 bits of word, one past the last unit left from the
// bottom in the high 32 bits), whether the copies of its polygons are
// complete, and how many there are. It must live in memory that both
// processes map (a shared mapping made before the fork).
struct shared_row_claims {
    std::atomic<std::uint64_t> word{0};
    std::atomic<std::uint32_t> state{0};  // kZoneWalking, kZoneCopied or kZoneTaken
    std::atomic<std::uint64_t> count{0};  // polygons copied, once kZoneCopied
};
static_assert(std::atomic<std::uint64_t>::is_always_lock_free &&
                  std::atomic<std::uint32_t>::is_always_lock_free,
              "the claims are shared between processes without a lock");
// The states of a zone's copies: being made by the process above; complete;
// not to be used (their memory ran out and the process above took every
// unit).
constexpr std::uint32_t kZoneWalking = 0, kZoneCopied = 1, kZoneTaken = 2;

// A zone: rows row0 ... row1 - 1 of the camera's z-buffer between two
// bands, in units of `unit` rows (the last may be shorter). `above` tells whether this process's
// band lies above the zone (it walks the zone and takes units from row0
// down; the zone lies at the bottom of its render region) or below it
// (from row1 up; the zone lies just above its region). `polys` is memory
// both processes map for the copies, poly_bytes long.
struct shared_rows {
    int row0 = 0, row1 = 0;
    int unit = 1;
    bool above = false;
    shared_row_claims* claims = nullptr;
    void* polys = nullptr;
    std::size_t poly_bytes = 0;
};

// The memory a zone's copies may take (what a caller maps for polys; the
// pages are touched as the copies are made).
constexpr std::size_t kSharedRowsBytes = std::size_t(64) << 20;

// Sets c for a zone of `units` units, none taken, no copies made.
void shared_rows_reset(shared_row_claims& c, int units);
// The zone's units: ceil((row1 - row0) / unit), 0 when empty or malformed.
int shared_rows_units(const shared_rows& z);
// Takes the next unit for this process's side of z (from the top when
// above, else from the bottom); -1 when none is left.
int shared_rows_claim(const shared_rows& z);

// The zones (at most two: one below the band, one above it) that the
// hair passes to come on the z-buffer zb share (those on any z-buffer when
// zb is null), until called with n = 0. A hair pass on another z-buffer
// (the final render's estimate between a map's hair and its shared units)
// neither copies into the zones nor draws their units. False, sharing
// nothing, when a zone is malformed (no units, no claims, no memory for a
// polygon's copy).
bool mdldb_share_rows(const shared_rows* zones, int n, const hair_zbuffer* zb = nullptr);
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
