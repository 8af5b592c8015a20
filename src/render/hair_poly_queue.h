// The hair pass's polygon queue: hair polygons drawn tile by tile.
//
// A sample receives fragments from hairs drawn far apart in the hair pass,
// so its record has long left the cache each time. While a queue is open
// on a z-buffer, hair_camera::zbuff_hair_poly does not draw a polygon but
// appends it here: its corners, its time slices, its bounding box and the
// per-hair values the fragment insertion reads from defs (hair_id,
// hair_random). A flush then draws the queue one tile of kQueueTileSide ×
// kQueueTileSide samples at a time, every tile taking its polygons in queue
// order, so that a tile's records stay in cache and are carved in tile
// order.
//
// Every sample still receives the same fragments, with the same values, in
// the same order as when each polygon is drawn at once: a tile limits the
// rows and the columns of the scan conversion (every pixel's piece is cut
// from its row and its column alone). The result is the same bit for bit.
//
// The queue holds at most kQueueBytes of polygons and flushes itself when
// full. Its blocks are mapped from the system, and a flush gives back those
// holding no pending polygon: the pass's last flush, the one that carves
// the frame's last records, keeps only the blocks it draws.
//
// While the camera passes share zones of rows with another process
// (mdldb_share_rows), the queue draws its flushes on the rows the process
// owns only, and the process whose band lies above a zone copies every
// polygon that reaches it, in queue order, into memory both processes map;
// after the pass each process takes the zone's units and draws them from
// the copies (draw_unit).
//
// Nothing may read or copy the z-buffer while polygons are pending: every
// hair pass (mdldb_hair, mdldb_motion_blur_hair) opens a queue on its
// camera's z-buffer through the pass hooks this module registers, and
// flushes it before it returns. Only one queue is open at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "descriptions/hair_records.h"
#include "render/fragment_list.h"
#include "render/shared_rows.h"

namespace hair_raster {

// The side of a flush's tile in samples: 64 × 64 samples own 512 KiB of
// 128-byte records, which stay in the second-level cache.
constexpr int kQueueTileShift = 6;
constexpr int kQueueTileSide = 1 << kQueueTileShift;
// The most memory the queued polygons take: 8 MiB (65 536 polygons of 128
// bytes, part of the demo's hair pass); a full queue is drawn and emptied.
// More would hold more of the pass but adds to the frame's peak memory
// (16 MiB: 8 MB more at the 1280 x 720 x 4 frame's peak, the end of the
// camera pass's walk) without drawing clearly faster; 4 MiB drew the demo
// about 2 % slower. The queue grows by blocks of kQueueBlock polygons, kept for the
// next flush.
constexpr std::size_t kQueueBytes = std::size_t(8) << 20;
constexpr int kQueueBlockShift = 12;
constexpr std::size_t kQueueBlock = std::size_t(1) << kQueueBlockShift;

// One queued screen polygon, 128 bytes. Its pixel bounding box is not
// stored: box_of works it out again from the corners, as the rasteriser
// did before queuing it, once a flush into boxes_ (which, 16 bytes a
// polygon, exists only while a flush draws).
struct queued_poly {
    std::uint32_t timeslices;   // time slices the polygon covers
    std::int32_t hair_id;       // defs.hair_id when it was queued
    float hair_random;          // defs.hair_random when it was queued
    std::int32_t n;             // corners: 3 or 4
    motion_blur_pnt corner[4];  // window-relative corners with depth and colour
};

class poly_queue {
  public:
    // The queue open on zb, or null: what zbuff_hair_poly asks.
    static poly_queue* open_on(const hair_zbuffer* zb);

    // Opens a queue on zb (nothing when zb is null or a queue is open) that
    // holds max_bytes of polygons (at least one) before it draws them, and
    // shares the zones of mdldb_share_rows, their copies taking at most
    // zone_bytes of their memory.
    explicit poly_queue(hair_zbuffer* zb, std::size_t max_bytes = kQueueBytes,
                        std::size_t zone_bytes = kSharedRowsBytes);
    // Closes the queue, dropping what is pending: an exception that leaves
    // the hair pass has failed the picture anyway. Call finish() first.
    ~poly_queue();
    poly_queue(const poly_queue&) = delete;
    poly_queue& operator=(const poly_queue&) = delete;

    // Queues polygon v of n corners (3 or 4), whose pixel bounding box is
    // box (the floors of the corners' x and y, as box_of finds it again); a
    // full queue is drawn first. False when no memory is left for it: the
    // caller draws it at once (after the queue, which has been drawn). With
    // shared zones it is always taken.
    bool push(const int* box, int n, const motion_blur_pnt* v, std::uint32_t timeslices);
    // Draws every pending polygon of the rows this process owns tile by
    // tile and empties the queue; defs.hair_id and defs.hair_random keep
    // their values.
    void flush();
    // The end of the pass: flush(), and the queue is no longer open; the
    // copies it made of zones' polygons are complete. True when it shares
    // zones, for draw_unit.
    bool finish();
    // Takes and draws the next unit of a shared zone left to this process
    // (zone after zone), giving its rows row0 ... row1 - 1; false when
    // none is left.
    bool draw_unit(int* row0, int* row1);
    // Polygons pending.
    std::size_t pending() const { return main_.count; }
    // The rows this process owns: its band's, then with the units taken.
    void owned_rows(int& lo, int& hi) const {
        lo = own_lo_;
        hi = own_hi_;
    }
    // Blocks of kQueueBlock polygons held.
    std::size_t blocks() const { return main_.blocks.size(); }
    // The pixel bounding box of q: low x, low y, high x, high y.
    static void box_of(const queued_poly& q, int* box);

  private:
    // A block mapped from the system, unmapped when dropped.
    struct unmap_block {
        void operator()(queued_poly* p) const;
    };
    using block = std::unique_ptr<queued_poly[], unmap_block>;

    // Polygons in queue order, block after block, or in one array that
    // another process may read (flat: a zone's copies).
    struct store {
        std::vector<block> blocks;
        std::size_t count = 0;
        queued_poly* flat = nullptr;
        queued_poly& at(std::size_t i) {
            return flat != nullptr ? flat[i] : blocks[i >> kQueueBlockShift][i & (kQueueBlock - 1)];
        }
        // Appends a polygon to the blocks; false when no memory is left.
        bool push(int n, const motion_blur_pnt* v, std::uint32_t timeslices);
    };
    // A zone shared with another process: the copies of its polygons
    // (made here when this process's band lies above it, else read once
    // the other process has made them all).
    struct zone {
        shared_rows rows;
        store copies;
        std::size_t room = 0;  // polygons the copies' memory holds
        int taken = 0;         // units this process drew
        bool settled = false;  // no more units to take
        bool ready = false;    // the copies can be read
    };
    // The grid a flush draws: tile rows of `height` rows from row `origin`
    // and tile columns of kQueueTileSide samples, within the rows
    // row_lo ... row_hi.
    struct grid {
        int origin = 0, height = kQueueTileSide;
        int row_lo = 0, row_hi = -1;
    };

    // Sorts the polygons of s into the tiles of g their clipped boxes
    // touch: tile t's polygons are bin_[first_[t]] ... bin_[first_[t + 1]
    // - 1], in queue order.
    void sort_into_tiles(store& s, const grid& g);
    template <class TileRow>
    void bin_tiles(store& s, const grid& g, TileRow tile_row);
    void draw_tile(store& s, const grid& g, int tile_row, int tile_col);
    // Takes and draws z's next unit (shared_rows_claim);
    // -1 when none is left, and z is settled: its units taken join the
    // rows owned.
    int take_unit(zone& z);
    // Takes and draws every unit of z left to this process.
    void settle(zone& z);

    hair_zbuffer* zb_ = nullptr;          // null when the queue is not open
    std::size_t max_polys_ = 1;           // polygons held before a flush
    store main_;                          // the polygons of the rows owned
    std::vector<zone> zones_;             // the shared zones
    std::vector<std::uint32_t> first_;    // per tile, then the end
    std::vector<std::uint32_t> bin_;      // polygon indices, tile after tile
    std::vector<std::uint32_t> scratch_;  // per tile: the next free place in bin_
    // The pending polygons' boxes, worked out once a flush (box_of).
    std::vector<std::array<std::int32_t, 4>> boxes_;
    int tile_cols_ = 0, tile_lines_ = 0;
    int lim_[4] = {0, 0, -1, -1};   // columns and rows that may be written: lo x, lo y, hi x, hi y
    int own_lo_ = 0, own_hi_ = -1;  // the rows owned, within lim_
    const zone* sorted_ = nullptr;  // the zone whose tiles first_ and bin_ hold
};

}  // namespace hair_raster
