// The z-buffer of a camera: a grid of small per-pixel records that hold the
// scene geometry's depth entries and the hair fragments, sorted by depth.
//
// A pixel record is list_size + 3 slots of 16 bytes. A slot is either a
// depth entry (pixel_zbuff: how near geometry is, how much of the pixel it
// covers and in which motion-blur time slices) or a hair fragment
// (pixel_hair: premultiplied colour and opacity as 16-bit fractions, the
// distance from the eye and the id of the hair it came from). With L =
// list_size + 2 the slots are laid out as
//
//   0 ... nz - 1    depth entries (slot 0 always; zeroed without geometry)
//   max(1, nz)      the current hair: the pieces of the hair being drawn
//   then            list_nb fragments sorted by depth, nearest first
//   L               the single overflow; with both overflows the front one
//                   is in L - 1 and the behind one in L
//
// Fragments that do not fit into the list are composited into the front or
// behind overflow (in front of or behind the geometry of the pixel), so
// nothing is lost but their individual depth. Records are carved from
// chunks of kPixelChunkBytes that are only released all together.
//
// Without motion blur and with a list_size of 3 or more, a record starts
// small: kSmallSlots slots (slot 0, the current hair, two list entries: all
// that half the samples of a frame ever hold). The third list entry grows
// it to list_size + 3 slots (add_hair moves it; the small slots go to the
// next small record, a record before them growing in place, or two side by side to a full one).
// Whether a record is small is read from its content: list_nb ≤ 2 and no overflow, which a
// grown record never returns to. A resolve that must move the current hair
// of a full small record into its list does so on a full-size copy that it
// does not keep.
//
// Without motion blur a sample's geometry lives in a dense array of 8-byte
// geometry_samples, one per sample, and a record exists only where hair
// lands: the first fragment's record copies the geometry into slot 0, and
// geometry added later updates both. A sample with geometry and no record
// resolves as a record with geometry and no hair would. Motion-blurred
// geometry keeps its depth entries in records and leaves the array empty.
//
// The rasterisers reach a pixel through hair_zbuffer::cell_at and write with
// add_hair / add_geometry after asking is_visible; the output passes read
// the pixels with the resolve functions.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "foundation/render_settings.h"
#include "foundation/vector_types.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

// --- 16-bit fractions -----------------------------------------------------------

// A fraction as stored: 65535 above 0.9999, else f × 65535 truncated (0 for
// negative values and NaN).
inline std::uint16_t frac_encode(float f) {
    const double d = f;
    if (d > 0.9999) return 65535;
    if (!(d > 0.0)) return 0;
    return static_cast<std::uint16_t>(d * 65535.0);
}
// A stored fraction as a float: v ÷ 65535, or exactly 1 when the quotient
// is above 0.9999 (v of 65529 and more).
inline float frac_decode(std::uint16_t v) {
    return v >= 65529 ? 1.0f : static_cast<float>(v) / 65535.0f;
}

// --- Slots ------------------------------------------------------------------------

// A depth entry. Bits of control:
//   0-15  coverage of the pixel (16-bit fraction)
//   16-19 list_nb        entries of the hair list (depth entries while
//                        motion-blurred geometry is accumulated)   slot 0
//   20    is_used        the entry holds geometry
//   21    overflow_f     a front overflow exists                   slot 0
//   22    overflow_b     a behind overflow exists                  slot 0
//   23    is_next_zbuff  another depth entry follows
//   24-27 nb_zbuff       number of depth entries                   slot 0
//   28-31 last           slot of the entry written last             slot 0
struct pixel_zbuff {
    float z;                   // nearest distance, or distance at the earliest slice
    float z2;                  // z without motion blur; distance at the latest slice
    std::uint32_t timeslices;  // motion-blur time slices the geometry covers
    std::uint32_t control;     // bit fields above

    static constexpr std::uint32_t kAreaMask = 0xFFFFu;
    static constexpr std::uint32_t kIsUsed = 1u << 20;
    static constexpr std::uint32_t kOverflowF = 1u << 21;
    static constexpr std::uint32_t kOverflowB = 1u << 22;
    static constexpr std::uint32_t kIsNext = 1u << 23;
    // Bits that describe the whole pixel and live in slot 0 only.
    static constexpr std::uint32_t kHeaderMask = 0xFF6F0000u;

    std::uint16_t area() const { return static_cast<std::uint16_t>(control & kAreaMask); }
    void set_area(std::uint16_t a) { control = (control & ~kAreaMask) | a; }
    int list_nb() const { return static_cast<int>((control >> 16) & 0xFu); }
    void set_list_nb(int n) {
        control = (control & ~(0xFu << 16)) | ((std::uint32_t(n) & 0xFu) << 16);
    }
    int nb_zbuff() const { return static_cast<int>((control >> 24) & 0xFu); }
    void set_nb_zbuff(int n) {
        control = (control & ~(0xFu << 24)) | ((std::uint32_t(n) & 0xFu) << 24);
    }
    int last() const { return static_cast<int>(control >> 28); }
    void set_last(int i) { control = (control & 0x0FFFFFFFu) | ((std::uint32_t(i) & 0xFu) << 28); }
    bool is_used() const { return (control & kIsUsed) != 0; }
    bool overflow_f() const { return (control & kOverflowF) != 0; }
    bool overflow_b() const { return (control & kOverflowB) != 0; }
    bool is_next() const { return (control & kIsNext) != 0; }
    void set_bit(std::uint32_t bit, bool on) { control = on ? (control | bit) : (control & ~bit); }
};

// The geometry of one sample without motion blur, kept in a dense array
// beside the records so that the visibility test reads no record: what
// slot 0 of the sample's record holds (z and z2 are equal, no time slices).
struct geometry_sample {
    float z;                // nearest distance of the geometry
    std::uint32_t control;  // pixel_zbuff control bits: area, is_used, nb_zbuff (1); 0 without
    bool is_used() const { return (control & pixel_zbuff::kIsUsed) != 0; }
    std::uint16_t area() const {
        return static_cast<std::uint16_t>(control & pixel_zbuff::kAreaMask);
    }
    // Whether the geometry lets a point at depth through: none, nearer than
    // it, or a sample it covers only partly. A NaN depth behind complete
    // geometry is hidden, as by the record's test.
    bool lets_through(float depth) const {
        return !is_used() || z > depth || (control & pixel_zbuff::kAreaMask) < 65535u;
    }
};
static_assert(sizeof(geometry_sample) == 8, "a geometry sample is 8 bytes");

// A hair fragment; id 0 marks an empty slot.
struct pixel_hair {
    std::uint16_t r, g, b;  // colour premultiplied by a (16-bit fractions)
    std::uint16_t a;        // opacity × coverage × visible fraction
    float z;                // distance from the eye
    std::int32_t id;        // the hair's id
};

// What one fragment adds to a resolved sample: premultiplied colour and
// alpha, at the fragment's distance from the eye.
struct fragment_contribution {
    float z;
    float r, g, b, a;
};

union pixel_slot {
    pixel_zbuff zb;
    pixel_hair hair;
    std::uint32_t word[4];
};
static_assert(sizeof(pixel_slot) == 16, "a pixel slot is 16 bytes");

// --- The z-buffer -----------------------------------------------------------------

// Flags of a sample in a band stream (save_rows, load_rows).
constexpr int kBandRecord = 1;    // the sample's record follows
constexpr int kBandGeometry = 2;  // its geometry_sample follows (before the record)

// The side of a tile of samples (see hair_zbuffer::index): 4.
constexpr int kTileShift = 2;
constexpr int kTileSide = 1 << kTileShift;
constexpr int kTileMask = kTileSide - 1;
constexpr int kTileSamples = kTileSide * kTileSide;

// Size of the chunks that pixel records are carved from.
constexpr std::size_t kPixelChunkBytes = std::size_t(1) << 20;
// Slots of a small record: slot 0, the current hair and two list entries.
constexpr int kSmallSlots = 4;
// The largest list_size whose slot indices fit the 4-bit fields.
constexpr int kMaxListSize = 13;
// Steps an atmosphere resolve can emit: every fragment a record can hold.
constexpr int kMaxAtmosSteps = 20;

class hair_zbuffer {
  public:
    // An empty z-buffer of lines × cols pixels whose records hold
    // list_size hair fragments (clamped to 1 ... kMaxListSize). Null when a
    // size is not positive or the cell array cannot be allocated.
    static hair_zbuffer* create(int lines, int cols, int list_size);
    ~hair_zbuffer();
    hair_zbuffer(const hair_zbuffer&) = delete;
    hair_zbuffer& operator=(const hair_zbuffer&) = delete;

    int lines() const { return lines_; }
    int cols() const { return cols_; }
    int list_size() const { return list_size_; }
    // Slots of a full record: list_size + 3.
    int record_slots() const { return list_size_ + 3; }
    // The slots record rec holds: kSmallSlots for a small record,
    // record_slots() otherwise.
    int slots_of(const pixel_slot* rec) const {
        return is_small(rec) ? kSmallSlots : record_slots();
    }
    // Bytes held: the cell and geometry arrays and every chunk.
    std::size_t memory_bytes() const;
    // Number of chunks allocated.
    int chunk_count() const { return static_cast<int>(chunks_.size()); }

    // --- Cells ----------------------------------------------------------------
    // The cell of (row, column), which also becomes the current pixel
    // (defs.pixel_x, defs.pixel_y). Outside the grid: prints
    // "FATAL: k = %d (%d, %d), lines * cols = %d" and returns null.
    pixel_slot** cell(int row, int col);
    // The cell of (row, column) for the rasterisers' per-sample loops: no
    // bounds check and no globals written. row and col must lie in the grid.
    pixel_slot*& cell_at(int row, int col) { return cells_[index(row, col)]; }
    // The cell of sample k (index()).
    pixel_slot*& cell_at_index(std::size_t k) { return cells_[k]; }
    // The index of (row, column) in the sample arrays; row and col must lie
    // in the grid. The arrays hold tiles of kTileSide × kTileSide samples,
    // row-major inside a tile and tile after tile along the rows, so that
    // the few samples of neighbouring rows a ribbon covers share cache lines
    // and pages.
    std::size_t index(int row, int col) const {
        const std::size_t tile = static_cast<std::size_t>(row >> kTileShift) * tile_cols_ +
                                 static_cast<std::size_t>(col >> kTileShift);
        return (tile << (2 * kTileShift)) +
               static_cast<std::size_t>(((row & kTileMask) << kTileShift) | (col & kTileMask));
    }
    // The record of (row, column) without side effects; null when the pixel
    // is empty or outside the grid.
    pixel_slot* record(int row, int col) const {
        if (row < 0 || col < 0 || row >= lines_ || col >= cols_) return nullptr;
        return cells_[index(row, col)];
    }
    // The geometry of (row, column) as the dense array holds it (empty with
    // motion blur); row and col must lie in the grid.
    const geometry_sample& geometry_at(int row, int col) const { return geo_[index(row, col)]; }
    // Empties every pixel and releases all chunks.
    void clear();
    // Maps for writing the pages of the geometry array (geometry) or of the
    // cell array under the box {col0, row0, col1, row1} (clipped to the
    // grid) before they are read: a page of either array is first read when
    // it is written (its depth compared, its record looked up), and a page
    // read first maps the system's page of zeros and faults a second time
    // when written. Changes no value.
    void prepare_for_writing(const int* box, bool geometry);

    // --- Bands of rows (worker processes and tiles) -------------------------------
    // A band is rows row0 ... row1 - 1 of the grid, written as a stream: per
    // row, per column one byte of flags (kBandRecord, kBandGeometry), then
    // with geometry its geometry_sample and with a record its record_slots()
    // slots as they are in memory. A worker that
    // drew the hair of a band hands it to the process that resolves the
    // picture this way; the slots hold no pointers, so the copy resolves as
    // the original. False when the rows are outside the grid or writing fails.
    bool save_rows(std::FILE* f, int row0, int row1) const;
    // Reads a band saved by save_rows of a z-buffer with the same columns and
    // list size into the same rows, replacing what they held. False, with the
    // rows left partly replaced, when the stream is short or a flag byte has
    // other bits.
    bool load_rows(std::FILE* f, int row0, int row1);

    // --- Writing (hair and geometry rasterisers) --------------------------------
    // True when a point at depth in the given time slices is not hidden by
    // the pixel's geometry. rec may be null (an empty pixel).
    // Inline for the common cases (an empty pixel, no motion blur). Without
    // motion blur the record holds the geometry only where hair landed:
    // the rasterisers ask is_visible_at.
    bool is_visible(const pixel_slot* rec, float depth, std::uint32_t timeslices) const {
        if (rec == nullptr || !rec[0].zb.is_used()) return true;
        if (!defs.motion_blur) return rec[0].zb.z > depth || rec[0].zb.area() < 65535;
        return is_visible_blurred(rec, depth, timeslices);
    }
    // The same for sample k (index()), which the rasterisers ask for every
    // covered sample: without motion blur one load from the geometry array
    // and no record touched.
    bool is_visible_at(std::size_t k, float depth, std::uint32_t timeslices) const {
        if (!defs.motion_blur) return geo_[k].lets_through(depth);
        return is_visible(cells_[k], depth, timeslices);
    }
    // Starts loading what is_visible_at(k, ...) reads first.
    void prefetch_visibility(std::size_t k) const {
        if (defs.motion_blur)
            __builtin_prefetch(&cells_[k]);
        else
            __builtin_prefetch(&geo_[k]);
    }
    // Adds a hair fragment of the current hair (defs.hair_id): coverage ×
    // colour alpha × the fraction visible through moving geometry. cell must
    // be a cell of this z-buffer (cell, cell_at). Allocates the record of an
    // empty cell, with the sample's geometry (record_for); throws FurEFailed
    // "Memory failure" when that fails.
    void add_hair(pixel_slot*& cell, float coverage, const kivColor& rgba, float depth,
                  std::uint32_t timeslices);
    // add_hair inline, for the library's hair fill, whose per-sample sink
    // then calls out only for what a record rarely needs (defined in the
    // library's own render/fragment_insert.h).
    inline void add_hair_inline(pixel_slot*& cell, float coverage, const kivColor& rgba,
                                float depth, std::uint32_t timeslices);
    // Adds geometry coverage; cell must be a cell of this z-buffer (cell,
    // cell_at). Without motion blur it goes into the geometry array (and the
    // record's slot 0 when there is one); with motion blur each model
    // (defs.geometry_id) gets its own depth entry in the record, compressed
    // when the record runs out of slots.
    void add_geometry(pixel_slot*& cell, float depth, float coverage, std::uint32_t timeslices);
    // The pass after motion-blurred geometry: sorts and compresses the depth
    // entries (merging them when merge is set) so that the list can take
    // hairs. rec may be null.
    void post_mb(pixel_slot* rec, bool merge);
    // The same, printing every step; (row, col) label the pixel prints.
    void post_mb_debug(pixel_slot* rec, int row, int col, bool merge);

    // --- Resolves (output passes) ---------------------------------------------
    // Each returns zeros for an empty pixel; all but geometry_depth and
    // resolve_contributions first move the current hair into the list.
    // Premultiplied colour and alpha, front to back with the geometry between.
    kivColor resolve_color(pixel_slot* rec);
    // The same, printing every step.
    kivColor resolve_color_debug(pixel_slot* rec);
    // The nearest fragment's distance and the composited alpha.
    void resolve_depth(pixel_slot* rec, float& depth, float& alpha);
    // For shadow maps: the depth at which the hair becomes more opaque than
    // threshold (0 when it never does) and, in opacity, the alpha ÷
    // threshold at most 1. threshold is the shadow map entry's threshold.
    float resolve_shadow(pixel_slot* rec, float threshold, float& opacity);
    // The fragments in depth order as (depth, alpha increase) steps; at most
    // max of them are written. Returns the count.
    int resolve_atmosphere(pixel_slot* rec, float* depths, float* alphas, int max);
    // Depth and coverage of the geometry of (row, column); (0, 0) without
    // or outside the grid.
    void geometry_depth(int row, int col, float& depth, float& coverage) const;
    // The colour resolve taken apart: for every fragment the resolve
    // composites (list entries and overflows), its depth and what it adds
    // to the resolved premultiplied colour, in the resolve's order (not
    // sorted). The additions sum to resolve_color's result; fragments hidden
    // by the geometry add nothing. front_alpha receives the alpha of the
    // fragments in front of the geometry, which a shaded surface at the
    // geometry's depth shows through. At most max are written; returns the
    // count (0 for an empty pixel). max of list_size + 2 is always enough.
    // The current hair counts where the move into the list puts it; the
    // record is left as it is unless that move creates an overflow.
    int resolve_contributions(pixel_slot* rec, fragment_contribution* out, int max,
                              float& front_alpha);
    // Whether the hair in front of the geometry of (row, column) is opaque:
    // resolve_contributions would give a front_alpha of exactly 1, so that
    // a shaded surface at the geometry's depth adds nothing to the sample.
    // False for an empty sample or outside the grid. Like
    // resolve_contributions it counts the current hair where its move puts
    // it, leaving the record as it is unless that move creates an overflow,
    // and it composites only the fragments in front of the geometry.
    bool hides_geometry(int row, int col);
    // Starts loading the record of (row, column) for a hides_geometry a
    // little later: a caller walking a row asks a few columns ahead. Nothing
    // for an empty sample or outside the grid.
    void prefetch(int row, int col) const {
        if (const pixel_slot* rec = record(row, col)) {
            __builtin_prefetch(rec);
            __builtin_prefetch(reinterpret_cast<const char*>(rec) + 64);
        }
    }
    // The same for the sample right of (row, col), whose index is k: the
    // next sample of its tile, or the first of the next tile.
    void prefetch_right(std::size_t k, int row, int col) const {
        if (col + 1 >= cols_) return;
        const std::size_t n = ((col + 1) & kTileMask) != 0 ? k + 1 : index(row, col + 1);
        if (const pixel_slot* rec = cells_[n]) {
            __builtin_prefetch(rec);
            __builtin_prefetch(reinterpret_cast<const char*>(rec) + 64);
        }
    }

    // --- Debug prints -----------------------------------------------------------
    // One pixel (nothing for an empty one), and every pixel row by row.
    void print_pixel(const pixel_slot* rec, int row, int col) const;
    void print() const;

  private:
    hair_zbuffer(int lines, int cols, int list_size);

    // The samples of the padded grid: whole tiles.
    std::size_t sample_count() const;
    // A new, empty record for an empty cell (of this z-buffer): small when
    // the z-buffer's records start small, taken from the slots a grown
    // record left or carved from the newest chunk. Stores it in cell and
    // returns it; throws FurEFailed "Memory failure" when a chunk cannot be
    // allocated.
    pixel_slot* place_record(pixel_slot*& cell);
    // slots zeroed slots carved from the newest chunk, or a new chunk.
    pixel_slot* carve(int slots);
    // Whether rec is a small record (see the top of this file).
    bool is_small(const pixel_slot* rec) const {
        constexpr std::uint32_t kOverflows = pixel_zbuff::kOverflowF | pixel_zbuff::kOverflowB;
        return small_records_ && (rec[0].zb.control & kOverflows) == 0 && rec[0].zb.list_nb() <= 2;
    }
    // The small record of cell grown to a full one, which cell then holds.
    pixel_slot* grow(pixel_slot*& cell);
    // rec with its current hair moved into the list: rec itself, or for a
    // small record without room a full copy in spare (record_slots() slots).
    pixel_slot* moved(pixel_slot* rec, pixel_slot* spare);
    // The record of an empty cell as the first hair fragment creates it:
    // slot 0 takes the sample's geometry.
    pixel_slot* record_for(pixel_slot*& cell);
    bool is_visible_blurred(const pixel_slot* rec, float depth, std::uint32_t timeslices) const;
    // Where the hair part of a record lies.
    struct layout {
        int cur;     // the current-hair slot
        int first;   // the first list slot
        int n;       // list entries
        int cap;     // list capacity
        int front;   // slot of the front overflow, -1 without
        int behind;  // slot of the behind overflow, -1 without
        bool geo;    // slot 0 holds geometry
        float zmin;  // nearest distance of the geometry
        // Whether a fragment at depth z belongs in front of the geometry.
        bool in_front(float z) const { return !geo || z <= zmin; }
    };
    // The layout of rec's hair part; inline, as every insertion decodes it.
    inline layout layout_of(const pixel_slot* rec) const;
    // The fraction of a fragment at depth, in time slices timeslices, that
    // the moving geometry of rec leaves visible (1 without motion blur).
    float blurred_share(const pixel_slot* rec, float depth, std::uint32_t timeslices) const;
    void move_current(pixel_slot* rec);
    // The list and overflows of rec as move_current would leave them, read
    // without writing the record; false when the move would create an
    // overflow (and so change the layout).
    struct moved_view;
    inline bool view_moved(const pixel_slot* rec, const layout& l, moved_view& v) const;
    // The layout of rec and, in v, the view of its list once the current
    // hair is moved: the record is left as it is unless the move creates an
    // overflow, which is then made for real.
    inline layout view_after_move(pixel_slot* rec, moved_view& v);
    // Puts h into the sorted list of rec, whose layout is l; a full list
    // hands its farthest entry (or h, when h lies behind all of it) to the
    // overflow of its side.
    void insert_sorted(pixel_slot* rec, const layout& l, const pixel_hair& h);
    // h merged into the overflow of its side, created when missing.
    void to_overflow(pixel_slot* rec, const layout& l, const pixel_hair& h);
    // insert_sorted's full list whose last entry's overflow is missing;
    // k is h's place in the list.
    void insert_creating_overflow(pixel_slot* rec, const layout& l, const pixel_hair& h, int k);
    void push_into_overflow(pixel_slot* rec, const pixel_hair& h, bool front);
    void create_front(pixel_slot* rec);
    void create_behind(pixel_slot* rec);
    pixel_hair composite(pixel_slot* rec, bool debug);
    int compress(pixel_slot* rec, int k, bool merge, bool debug, int row, int col);

    int lines_;
    int cols_;
    int list_size_;
    int last_;                   // L = list_size + 2: the last slot of a record
    std::size_t tile_cols_;      // tiles along a row: cols ÷ kTileSide, rounded up
    std::size_t tile_lines_;     // rows of tiles: lines ÷ kTileSide, rounded up
    bool small_records_;         // records start small (no motion blur, list_size ≥ 3)
    pixel_slot** cells_;         // per sample (index()): its record; null is an empty pixel
    geometry_sample* geo_;       // per sample (index()): geometry without motion blur
    std::vector<void*> chunks_;  // every chunk, newest last
    std::size_t chunk_used_;     // bytes handed out from the newest chunk
    pixel_slot* holes_;  // small slots left by grown records, linked through their first bytes
    // Two holes side by side, linked likewise: room for a full record of
    // 2 × kSmallSlots slots, or a small one and a hole.
    pixel_slot* pairs_;
};

// --- Compositing ----------------------------------------------------------------------

// The merge operator: composites src into dst. With geometry (g not null)
// src lies behind dst and the geometry: dst += src × (1 − dst.a), times
// (1 − the geometry's coverage) without motion blur. Without geometry an
// empty dst takes a copy of src; otherwise the nearer of the two is in
// front and the farther one is added with a transmission that depends on
// defs.merge_mode (0 over, 1 scaled by defs.hair_random, 2 power of
// defs.merge_exponent, 3 additive up to full opacity, other modes 0).
void fragment_merge(pixel_hair& dst, const pixel_hair& src, const pixel_zbuff* g);
// Two pieces of the same hair in one pixel: the farther piece fills what
// the nearer one leaves uncovered, or both add up while they fit.
void fragment_merge_same_hair(pixel_hair& x, const pixel_hair& y);
// "%f %f %f %f\n" (r, g, b, a) and "z = %f, id = %ld\n" on standard output.
void fragment_print(const pixel_hair& h);

KORVO_EXPORT_END

// ---------------------------------------------------------------------------
// Inline members

inline hair_zbuffer::layout hair_zbuffer::layout_of(const pixel_slot* rec) const {
    const pixel_zbuff& s0 = rec[0].zb;
    layout l;
    l.geo = s0.is_used();
    l.zmin = l.geo ? std::min(s0.z, s0.z2) : 0.0f;
    // Most records: at most one depth entry and no overflow.
    constexpr std::uint32_t kPlain =
        (0xEu << 24) | pixel_zbuff::kOverflowF | pixel_zbuff::kOverflowB;
    if ((s0.control & kPlain) == 0) {
        l.cur = 1;
        l.first = 2;
        l.cap = list_size_;
        l.n = std::min(s0.list_nb(), list_size_);
        l.front = l.behind = -1;
        return l;
    }
    const int nz = std::min(s0.nb_zbuff(), list_size_);
    const bool has_f = s0.overflow_f(), has_b = s0.overflow_b();
    l.cur = nz <= 1 ? 1 : nz;
    l.first = l.cur + 1;
    l.cap = std::max(0, list_size_ - (has_f && has_b ? 1 : 0) - (nz > 1 ? nz - 1 : 0));
    l.n = std::min(s0.list_nb(), l.cap);
    l.front = has_f ? (has_b ? last_ - 1 : last_) : -1;
    l.behind = has_b ? last_ : -1;
    return l;
}
