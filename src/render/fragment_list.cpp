#include "render/fragment_list.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "foundation/fur_exception.h"
#include "foundation/messages.h"
#include "foundation/render_settings.h"
#include "render/fragment_fractions.h"
#include "render/fragment_insert.h"
#include "render/mapped_pages.h"

namespace {

// No z-buffer may hold more samples than this (4 GB of cells and geometry).
constexpr std::size_t kMaxCells = std::size_t(1) << 28;

// --- Time slices ----------------------------------------------------------------

int slice_count(std::uint32_t set) {
    return __builtin_popcount(set);
}
// Lowest and highest slice of a set; -1 for the empty set.
int lowest_slice(std::uint32_t set) {
    return set ? __builtin_ctz(set) : -1;
}
int highest_slice(std::uint32_t set) {
    return set ? 31 - __builtin_clz(set) : -1;
}

// Whether geometry entry e hides a point at depth in slice s: the entry's
// distance at s is interpolated between its earliest slice (z) and its
// latest (z2).
bool does_slice_block(const pixel_zbuff& e, int s, float depth) {
    int lo = lowest_slice(e.timeslices);
    int hi = highest_slice(e.timeslices);
    if (lo < 0) {
        std::printf("ERROR: have Ossa look at does_slice_block\n");
        lo = hi = 0;
    }
    float at = e.z;
    if (hi != lo)
        at = e.z + static_cast<float>(s - lo) / static_cast<float>(hi - lo) * (e.z2 - e.z);
    return depth > at;
}

// --- Fractions ----------------------------------------------------------------

float dec(std::uint16_t v) {
    return frac_decode(v);
}
std::uint16_t enc(float f) {
    return frac_encode(f);
}

constexpr pixel_hair kEmptyHair = {0, 0, 0, 0, 0.0f, 0};

}  // namespace

// ---------------------------------------------------------------------------
// Compositing

namespace {

// merge_transmission in the modes other than 0.
float merge_transmission_by_mode(float fa, float ba) {
    float t;
    switch (defs.merge_mode) {
        case 1:
            t = 1.0f - defs.hair_random * fa;
            if (ba * t + fa > 1.0f) t = (1.0f - fa) / ba;
            break;
        case 2:
            t = 1.0f - std::pow(fa, defs.merge_exponent);
            if (ba * t + fa > 1.0f) t = (1.0f - fa) / ba;
            break;
        case 3:
            return ba <= 1.0f - fa ? 1.0f : (1.0f - fa) / ba;
        default:
            return 0.0f;
    }
    return t < 0.0f ? 0.0f : t;
}

// The share of the back fragment that shows through the front one, by
// defs.merge_mode; fa and ba are the two alphas. Mode 0, "over", is the
// common one and small enough to inline into every merge.
inline float merge_transmission(float fa, float ba) {
    if (defs.merge_mode != 0) return merge_transmission_by_mode(fa, ba);
    const float t = 1.0f - fa;
    return t < 0.0f ? 0.0f : t;
}

// fragment_merge without geometry; inline for the insertion's overflows.
inline void merge_by_depth(pixel_hair& dst, const pixel_hair& src) {
    if (dst.id == 0) {
        dst = src;
        return;
    }
    const bool dst_in_front = dst.z <= src.z;
    const frac4::floats f = frac4::load(dst_in_front ? dst : src);
    const frac4::floats b = frac4::load(dst_in_front ? src : dst);
    const float z = dst_in_front ? dst.z : src.z;
    frac4::store(dst, f + b * merge_transmission(f[3], b[3]));
    dst.z = z;
}

// What merge_by_depth leaves of its destination's alpha, depth and id,
// without the colour: the same decoded operands, float sum and
// quantisation as its alpha lane, so the same 16 bits.
struct alpha_depth {
    std::uint16_t a = 0;
    float z = 0.0f;
    std::int32_t id = 0;  // 0: empty
};
inline void merge_alpha(alpha_depth& dst, const pixel_hair& src) {
    if (dst.id == 0) {
        dst = {src.a, src.z, src.id};
        return;
    }
    const bool dst_in_front = dst.z <= src.z;
    const float fa = dec(dst_in_front ? dst.a : src.a), ba = dec(dst_in_front ? src.a : dst.a);
    dst.a = enc(fa + ba * merge_transmission(fa, ba));
    if (!dst_in_front) dst.z = src.z;
}

// merge_by_depth of a non-empty dst for a resolve that keeps it decoded in
// d (frac4::load(dst)): the same result, with one decode fewer.
inline void merge_decoded(pixel_hair& dst, const frac4::floats& d, const pixel_hair& src) {
    const bool dst_in_front = dst.z <= src.z;
    const frac4::floats s = frac4::load(src);
    const frac4::floats f = dst_in_front ? d : s;
    const frac4::floats b = dst_in_front ? s : d;
    const float z = dst_in_front ? dst.z : src.z;
    frac4::store(dst, f + b * merge_transmission(f[3], b[3]));
    dst.z = z;
}

// fragment_merge_same_hair.
inline void merge_pieces(pixel_hair& x, const pixel_hair& y) {
    const bool x_in_front = x.z <= y.z;
    const frac4::floats f = frac4::load(x_in_front ? x : y);
    const frac4::floats b = frac4::load(x_in_front ? y : x);
    const float r = 1.0f - f[3];
    if (r <= 0.0f) {
        // An opaque front piece hides the back one.
        if (!x_in_front) {
            const std::int32_t id = x.id;
            x = y;
            x.id = id;
        }
        return;
    }
    // The back piece fills what the front one leaves uncovered, or both
    // add up while they fit (b × 1 is b, so one expression serves both).
    const bool overfull = r < b[3];
    frac4::store(x, f + b * (overfull ? r / b[3] : 1.0f));
    if (overfull) x.a = 65535;
    x.z = x_in_front ? x.z : y.z;
}

}  // namespace

void fragment_merge(pixel_hair& dst, const pixel_hair& src, const pixel_zbuff* g) {
    if (g == nullptr) {
        merge_by_depth(dst, src);
        return;
    }
    // src lies behind dst and the geometry.
    const frac4::floats d = frac4::load(dst);
    float r = 1.0f - d[3];
    if (!defs.motion_blur) r *= 1.0f - dec(g->area());
    if (r <= 0.0f) return;
    frac4::store(dst, d + frac4::load(src) * r);
}

void fragment_merge_same_hair(pixel_hair& x, const pixel_hair& y) {
    merge_pieces(x, y);
}

void fragment_print(const pixel_hair& h) {
    std::printf("%f %f %f %f\n", dec(h.r), dec(h.g), dec(h.b), dec(h.a));
    std::printf("z = %f, id = %ld\n", h.z, static_cast<long>(h.id));
}

// ---------------------------------------------------------------------------
// Records and chunks

namespace {

constexpr std::size_t kSmallBytes = sizeof(pixel_slot) * kSmallSlots;
// The control bits of a hole's slot 0, which no record's slot 0 holds (its
// list_nb is at most kMaxListSize).
constexpr std::uint32_t kHoleMark = 0xFFFFFFFFu;

// A chunk of records straight from the system, zeroed, with all its pages
// mapped at once (records fill a chunk from its start). Null when no memory
// is left.
void* new_chunk() {
    return render_pages::map_populated(kPixelChunkBytes);
}

void release_chunk(void* c) {
    render_pages::unmap(c, kPixelChunkBytes);
}

}  // namespace

hair_zbuffer::hair_zbuffer(int lines, int cols, int list_size)
    : lines_(lines),
      cols_(cols),
      list_size_(list_size),
      last_(list_size + 2),
      tile_cols_(static_cast<std::size_t>(cols + kTileMask) >> kTileShift),
      tile_lines_(static_cast<std::size_t>(lines + kTileMask) >> kTileShift),
      small_records_(!defs.motion_blur && list_size >= 3),
      cells_(nullptr),
      geo_(nullptr),
      chunk_used_(0),
      holes_(nullptr),
      pairs_(nullptr) {}

hair_zbuffer* hair_zbuffer::create(int lines, int cols, int list_size) {
    if (lines <= 0 || cols <= 0) return nullptr;
    const std::size_t n =
        static_cast<std::size_t>(lines + kTileMask) * static_cast<std::size_t>(cols + kTileMask);
    if (n > kMaxCells) return nullptr;
    list_size = std::clamp(list_size, 1, kMaxListSize);
    hair_zbuffer* zb = new (std::nothrow) hair_zbuffer(lines, cols, list_size);
    if (zb == nullptr) return nullptr;
    const std::size_t samples = zb->sample_count();
    // Zeroed by the allocator: large blocks come as fresh pages that are
    // only touched where a sample is reached.
    zb->cells_ = static_cast<pixel_slot**>(std::calloc(samples, sizeof(pixel_slot*)));
    zb->geo_ = static_cast<geometry_sample*>(std::calloc(samples, sizeof(geometry_sample)));
    if (zb->cells_ == nullptr || zb->geo_ == nullptr) {
        delete zb;
        return nullptr;
    }
    return zb;
}

hair_zbuffer::~hair_zbuffer() {
    for (void* c : chunks_) release_chunk(c);
    std::free(cells_);
    std::free(geo_);
}

std::size_t hair_zbuffer::sample_count() const {
    return tile_cols_ * tile_lines_ * kTileSamples;
}

std::size_t hair_zbuffer::memory_bytes() const {
    return sample_count() * (sizeof(pixel_slot*) + sizeof(geometry_sample)) +
           chunks_.size() * kPixelChunkBytes;
}

pixel_slot** hair_zbuffer::cell(int row, int col) {
    const long long k = static_cast<long long>(row) * cols_ + col;
    if (row < 0 || col < 0 || row >= lines_ || col >= cols_) {
        std::printf("FATAL: k = %d (%d, %d), lines * cols = %d\n", static_cast<int>(k), row, col,
                    lines_ * cols_);
        return nullptr;
    }
    defs.pixel_x = col;
    defs.pixel_y = row;
    return &cells_[index(row, col)];
}

void hair_zbuffer::clear() {
    for (void* c : chunks_) release_chunk(c);
    chunks_.clear();
    chunk_used_ = 0;
    holes_ = pairs_ = nullptr;
    const std::size_t n = sample_count();
    std::memset(cells_, 0, n * sizeof(pixel_slot*));
    std::memset(static_cast<void*>(geo_), 0, n * sizeof(geometry_sample));
}

namespace {

// Takes the page of p for writing without changing it: an atomic or of
// nothing, whose write access maps a fresh page at once.
inline void touch_for_writing(std::uint32_t* p) {
    __atomic_fetch_or(p, 0u, __ATOMIC_RELAXED);
}

}  // namespace

void hair_zbuffer::prepare_for_writing(const int* box, bool geometry) {
    constexpr std::uintptr_t kPage = 4096;
    const int c0 = std::max(box[0], 0), c1 = std::min(box[2], cols_ - 1);
    const int r0 = std::max(box[1], 0), r1 = std::min(box[3], lines_ - 1);
    if (c0 > c1 || r0 > r1) return;
    char* const base = geometry ? reinterpret_cast<char*>(geo_) : reinterpret_cast<char*>(cells_);
    const std::size_t size = geometry ? sizeof(geometry_sample) : sizeof(pixel_slot*);
    // A row of tiles holds the box's samples from its first tile's first
    // sample to its last tile's last one, contiguous.
    for (int r = r0 & ~kTileMask; r <= r1; r += kTileSide) {
        char* const from = base + index(r, c0 & ~kTileMask) * size;
        char* const to = base + (index(r | kTileMask, c1 | kTileMask) + 1) * size;
        for (char* p = from; p < to;
             p = reinterpret_cast<char*>((reinterpret_cast<std::uintptr_t>(p) | (kPage - 1)) + 1))
            touch_for_writing(reinterpret_cast<std::uint32_t*>(p));
    }
}

bool hair_zbuffer::save_rows(std::FILE* f, int row0, int row1) const {
    if (row0 < 0 || row1 > lines_ || row0 > row1) return false;
    // A small record is written at full size, its missing slots as zeros.
    const std::size_t bytes = sizeof(pixel_slot) * record_slots();
    const pixel_slot zeros[kMaxListSize + 3] = {};
    for (int y = row0; y < row1; ++y) {
        for (int x = 0; x < cols_; ++x) {
            const std::size_t k = index(y, x);
            const pixel_slot* rec = cells_[k];
            const geometry_sample& g = geo_[k];
            const int flags = (rec ? kBandRecord : 0) | (g.control != 0 ? kBandGeometry : 0);
            if (std::fputc(flags, f) == EOF) return false;
            if ((flags & kBandGeometry) && std::fwrite(&g, sizeof g, 1, f) != 1) return false;
            if (!rec) continue;
            const std::size_t held = sizeof(pixel_slot) * slots_of(rec);
            if (std::fwrite(rec, 1, held, f) != held ||
                std::fwrite(zeros, 1, bytes - held, f) != bytes - held)
                return false;
        }
    }
    return std::fflush(f) == 0;
}

bool hair_zbuffer::load_rows(std::FILE* f, int row0, int row1) {
    if (row0 < 0 || row1 > lines_ || row0 > row1) return false;
    const std::size_t bytes = sizeof(pixel_slot) * record_slots();
    for (int y = row0; y < row1; ++y) {
        for (int x = 0; x < cols_; ++x) {
            const std::size_t k = index(y, x);
            const int flags = std::fgetc(f);
            if (flags < 0 || (flags & ~(kBandRecord | kBandGeometry)) != 0) return false;
            geometry_sample g = {0.0f, 0};
            if ((flags & kBandGeometry) && std::fread(&g, sizeof g, 1, f) != 1) return false;
            geo_[k] = g;
            pixel_slot*& cell = cells_[k];
            if (!(flags & kBandRecord)) {
                // A record of this process is dropped; its chunk keeps it.
                cell = nullptr;
                continue;
            }
            pixel_slot rec[kMaxListSize + 3];
            if (std::fread(rec, 1, bytes, f) != bytes) return false;
            // The record takes the room its content needs.
            const int need = is_small(rec) ? kSmallSlots : record_slots();
            if (cell == nullptr || slots_of(cell) < need)
                cell = need == kSmallSlots ? place_record(cell) : carve(need);
            std::memcpy(cell, rec, sizeof(pixel_slot) * need);
        }
    }
    return true;
}

pixel_slot* hair_zbuffer::carve(int slots) {
    const std::size_t bytes = sizeof(pixel_slot) * static_cast<std::size_t>(slots);
    // The last small record's worth of a chunk is never handed out: the
    // slots after any record lie in its chunk (grow looks for a hole there).
    if (chunks_.empty() || chunk_used_ + bytes > kPixelChunkBytes - kSmallBytes) {
        void* c = new_chunk();
        if (c == nullptr) {
            drv_display_mem_usage("MEMORY AT TIME OF FAILURE\n");
            throw FurEFailed("Memory failure");
        }
        chunks_.push_back(c);
        chunk_used_ = 0;
    }
    pixel_slot* rec =
        reinterpret_cast<pixel_slot*>(static_cast<char*>(chunks_.back()) + chunk_used_);
    chunk_used_ += bytes;
    return rec;
}

namespace {

// The first of a list of free slot runs linked through their first bytes,
// taken off the list.
pixel_slot* pop_free(pixel_slot*& list) {
    pixel_slot* run = list;
    std::memcpy(&list, static_cast<const void*>(run), sizeof list);
    return run;
}

void push_free(pixel_slot*& list, pixel_slot* run) {
    std::memcpy(static_cast<void*>(run), &list, sizeof list);
    list = run;
}

// Holes are linked both ways (the next one in slot 0's first bytes, the
// one before in slot 1's) and marked, so that one can leave the list from
// anywhere: a record grows in place over the hole right after it.
pixel_slot* hole_link(const pixel_slot* h, int k) {
    pixel_slot* p;
    std::memcpy(&p, &h[k], sizeof p);
    return p;
}

void set_hole_link(pixel_slot* h, int k, pixel_slot* p) {
    std::memcpy(static_cast<void*>(&h[k]), &p, sizeof p);
}

bool is_hole(const pixel_slot* h) {
    return h[0].zb.control == kHoleMark;
}

void push_hole(pixel_slot*& holes, pixel_slot* h) {
    set_hole_link(h, 0, holes);
    set_hole_link(h, 1, nullptr);
    h[0].zb.control = kHoleMark;
    if (holes != nullptr) set_hole_link(holes, 1, h);
    holes = h;
}

// Takes hole h off the list; its mark goes.
void unlink_hole(pixel_slot*& holes, pixel_slot* h) {
    pixel_slot* next = hole_link(h, 0);
    pixel_slot* prev = hole_link(h, 1);
    if (prev != nullptr)
        set_hole_link(prev, 0, next);
    else
        holes = next;
    if (next != nullptr) set_hole_link(next, 1, prev);
    h[0].zb.control = 0;
}

}  // namespace

pixel_slot* hair_zbuffer::place_record(pixel_slot*& cell) {
    pixel_slot* rec;
    if (!small_records_) {
        rec = carve(record_slots());
    } else if (holes_ != nullptr || pairs_ != nullptr) {
        // A hole, or half of a pair whose other half becomes one.
        if (holes_ == nullptr) {
            rec = pop_free(pairs_);
            push_hole(holes_, rec + kSmallSlots);
        } else {
            rec = holes_;
            unlink_hole(holes_, rec);
        }
        std::memset(static_cast<void*>(rec), 0, sizeof(pixel_slot) * kSmallSlots);
    } else {
        rec = carve(kSmallSlots);
    }
    cell = rec;
    return rec;
}

pixel_slot* hair_zbuffer::grow(pixel_slot*& cell) {
    pixel_slot* small = cell;
    const bool pairs = record_slots() == 2 * kSmallSlots;
    if (pairs && is_hole(small + kSmallSlots)) {
        // The hole right after the record: it grows where it is.
        unlink_hole(holes_, small + kSmallSlots);
        std::memset(static_cast<void*>(small + kSmallSlots), 0, kSmallBytes);
        return small;
    }
    pixel_slot* rec;
    if (pairs_ != nullptr) {
        rec = pop_free(pairs_);
        std::memset(static_cast<void*>(rec + kSmallSlots), 0, sizeof(pixel_slot) * kSmallSlots);
    } else {
        rec = carve(record_slots());
    }
    std::memcpy(static_cast<void*>(rec), small, sizeof(pixel_slot) * kSmallSlots);
    // The small slots wait for the next small record; next to the last
    // hole they make a pair, room for a full record of 2 × kSmallSlots.
    if (pairs && holes_ != nullptr &&
        (small + kSmallSlots == holes_ || holes_ + kSmallSlots == small)) {
        pixel_slot* other = holes_;
        unlink_hole(holes_, other);
        push_free(pairs_, small + kSmallSlots == other ? small : other);
    } else {
        push_hole(holes_, small);
    }
    cell = rec;
    return rec;
}

pixel_slot* hair_zbuffer::moved(pixel_slot* rec, pixel_slot* spare) {
    if (is_small(rec) && rec[0].zb.list_nb() == 2 && rec[1].hair.id != 0) {
        std::memcpy(static_cast<void*>(spare), rec, sizeof(pixel_slot) * kSmallSlots);
        std::memset(static_cast<void*>(spare + kSmallSlots), 0,
                    sizeof(pixel_slot) * static_cast<std::size_t>(record_slots() - kSmallSlots));
        rec = spare;
    }
    move_current(rec);
    return rec;
}

pixel_slot* hair_zbuffer::record_for(pixel_slot*& cell) {
    pixel_slot* rec = place_record(cell);
    const geometry_sample& g = geo_[static_cast<std::size_t>(&cell - cells_)];
    if (g.control != 0) {
        rec[0].zb.z = rec[0].zb.z2 = g.z;
        rec[0].zb.control = g.control;
    }
    return rec;
}

// ---------------------------------------------------------------------------
// Occlusion and fragment construction

namespace {

// The slices of timeslices in which the geometry entries of rec hide a
// point at depth. Entries are slot 0 and those chained by is_next_zbuff.
std::uint32_t blocked_slices(const pixel_slot* rec, int last, float depth,
                             std::uint32_t timeslices) {
    std::uint32_t blocked = 0;
    for (int e = 0; e < last; ++e) {
        const pixel_zbuff& entry = rec[e].zb;
        std::uint32_t both = entry.timeslices & timeslices & ~blocked;
        while (both != 0) {
            const int s = __builtin_ctz(both);
            both &= both - 1;
            if (does_slice_block(entry, s, depth)) blocked |= 1u << s;
        }
        if (!entry.is_next()) break;
    }
    return blocked;
}

}  // namespace

bool hair_zbuffer::is_visible_blurred(const pixel_slot* rec, float depth,
                                      std::uint32_t timeslices) const {
    const int n = slice_count(timeslices);
    return slice_count(blocked_slices(rec, last_, depth, timeslices)) < n;
}

void hair_zbuffer::add_hair(pixel_slot*& cell, float coverage, const kivColor& rgba, float depth,
                            std::uint32_t timeslices) {
    add_hair_inline(cell, coverage, rgba, depth, timeslices);
}

float hair_zbuffer::blurred_share(const pixel_slot* rec, float depth,
                                  std::uint32_t timeslices) const {
    const pixel_zbuff& s0 = rec[0].zb;
    if (!defs.motion_blur || !s0.is_used() || !(depth > s0.z || depth > s0.z2)) return 1.0f;
    const int n = slice_count(timeslices);
    if (n <= 0) return 1.0f;
    const int blocked = slice_count(blocked_slices(rec, last_, depth, timeslices));
    return std::max(0.0f, 1.0f - static_cast<float>(blocked) / static_cast<float>(n));
}

// ---------------------------------------------------------------------------
// The sorted list and its overflows

void hair_zbuffer::create_front(pixel_slot* rec) {
    pixel_zbuff& s0 = rec[0].zb;
    if (!s0.overflow_b()) {
        rec[last_].hair = kEmptyHair;
    } else {
        // The list's last entry, in slot L - 1, gives way to the front overflow.
        const layout l = layout_of(rec);
        pixel_hair& x = rec[last_ - 1].hair;
        if (l.n == 0) {
            x = kEmptyHair;
        } else {
            if (!l.in_front(x.z)) {
                fragment_merge(rec[last_].hair, x, nullptr);
                x = kEmptyHair;
            }
            s0.set_list_nb(l.n - 1);
        }
    }
    s0.set_bit(pixel_zbuff::kOverflowF, true);
}

void hair_zbuffer::create_behind(pixel_slot* rec) {
    pixel_zbuff& s0 = rec[0].zb;
    if (!s0.overflow_f()) {
        rec[last_].hair = kEmptyHair;
    } else {
        // The front overflow moves from slot L to L - 1, where the list's
        // last entry gives way.
        const layout l = layout_of(rec);
        pixel_hair front = rec[last_].hair;
        const pixel_hair x = rec[last_ - 1].hair;
        if (l.n == 0) {
            rec[last_].hair = kEmptyHair;
        } else {
            if (l.geo && x.z <= l.zmin) {
                fragment_merge(front, x, nullptr);
                rec[last_].hair = kEmptyHair;
            } else {
                rec[last_].hair = x;
            }
            s0.set_list_nb(l.n - 1);
        }
        rec[last_ - 1].hair = front;
    }
    s0.set_bit(pixel_zbuff::kOverflowB, true);
}

void hair_zbuffer::push_into_overflow(pixel_slot* rec, const pixel_hair& h, bool front) {
    const pixel_zbuff& s0 = rec[0].zb;
    if (front && !s0.overflow_f()) create_front(rec);
    if (!front && !s0.overflow_b()) create_behind(rec);
    const layout l = layout_of(rec);
    fragment_merge(rec[front ? l.front : l.behind].hair, h, nullptr);
}

void hair_zbuffer::move_current(pixel_slot* rec) {
    const layout l = layout_of(rec);
    const pixel_hair h = rec[l.cur].hair;
    if (h.id == 0) return;
    rec[l.cur].hair = kEmptyHair;
    insert_sorted(rec, l, h);
}

namespace {

// The first of the n entries of list that lies farther than z (n when none
// does): h goes after every entry at the same or a smaller depth. Counted
// without a branch per entry.
inline int insertion_index(const pixel_slot* list, int n, float z) {
    std::uint32_t farther = 1u << n;
    for (int i = 0; i < n; ++i) farther |= std::uint32_t(!(list[i].hair.z <= z)) << i;
    return __builtin_ctz(farther);
}

// Entries k ... n - 1 of list one slot up, into k + 1 ... n.
inline void shift_up(pixel_slot* list, int k, int n) {
    for (int i = n; i > k; --i) list[i] = list[i - 1];
}

}  // namespace

void hair_zbuffer::insert_sorted(pixel_slot* rec, const layout& l, const pixel_hair& h) {
    pixel_slot* list = rec + l.first;
    const int k = insertion_index(list, l.n, h.z);
    // Room left: one shift.
    if (l.n < l.cap) {
        shift_up(list, k, l.n);
        list[k].hair = h;
        rec[0].zb.set_list_nb(l.n + 1);
        return;
    }
    // A full list and h behind all of it: h goes straight into an overflow.
    if (k >= l.cap) {
        to_overflow(rec, l, h);
        return;
    }
    // A full list: its last entry leaves for the overflow of its side.
    const pixel_hair& e = list[l.n - 1].hair;
    const int side = l.in_front(e.z) ? l.front : l.behind;
    if (side < 0) {
        insert_creating_overflow(rec, l, h, k);
        return;
    }
    merge_by_depth(rec[side].hair, e);
    shift_up(list, k, l.n - 1);
    list[k].hair = h;
}

void hair_zbuffer::to_overflow(pixel_slot* rec, const layout& l, const pixel_hair& h) {
    const bool front = l.in_front(h.z);
    const int slot = front ? l.front : l.behind;
    if (slot >= 0)
        merge_by_depth(rec[slot].hair, h);
    else
        push_into_overflow(rec, h, front);
}

void hair_zbuffer::insert_creating_overflow(pixel_slot* rec, const layout& l, const pixel_hair& h,
                                            int k) {
    // Creating the overflow may take the list's last slot.
    pixel_slot* list = rec + l.first;
    if (l.in_front(list[l.n - 1].hair.z))
        create_front(rec);
    else
        create_behind(rec);
    const int n = std::min(rec[0].zb.list_nb(), layout_of(rec).cap);
    if (k >= n) {
        push_into_overflow(rec, h, l.in_front(h.z));
        return;
    }
    const pixel_hair e = list[n - 1].hair;
    push_into_overflow(rec, e, l.in_front(e.z));
    shift_up(list, k, n - 1);
    list[k].hair = h;
}

// ---------------------------------------------------------------------------
// Geometry coverage and its compression

void hair_zbuffer::add_geometry(pixel_slot*& cell, float depth, float coverage,
                                std::uint32_t timeslices) {
    if (!defs.motion_blur) {
        // Into the geometry array, and the record's slot 0 when hair was
        // drawn first; the header bits of the record stay. Before any
        // record is made the cell is not read, so that geometry drawn first
        // leaves the cell array's pages untouched.
        geometry_sample& g = geo_[static_cast<std::size_t>(&cell - cells_)];
        if (!g.is_used()) {
            g.z = depth;
            g.control = pixel_zbuff::kIsUsed | (1u << 24) | enc(coverage);
        } else {
            g.z = std::min(g.z, depth);
            g.control = (g.control & ~pixel_zbuff::kAreaMask) | enc(dec(g.area()) + coverage);
        }
        if (!chunks_.empty() && cell != nullptr) {
            pixel_zbuff& s0 = cell[0].zb;
            constexpr std::uint32_t mine =
                pixel_zbuff::kAreaMask | pixel_zbuff::kIsUsed | (0xFu << 24);
            s0.z = s0.z2 = g.z;
            s0.control = (s0.control & ~mine) | g.control;
        }
        return;
    }
    if (cell == nullptr) place_record(cell);
    pixel_slot* rec = cell;
    pixel_zbuff& s0 = rec[0].zb;

    if (!s0.is_used()) {
        s0.z = s0.z2 = depth;
        s0.set_area(enc(coverage));
        s0.set_bit(pixel_zbuff::kIsUsed, true);
        s0.set_nb_zbuff(1);
        if (defs.motion_blur) {
            s0.timeslices = timeslices;
            s0.set_list_nb(1);
            s0.set_last(0);
            rec[last_].word[3] = static_cast<std::uint32_t>(defs.geometry_id);
        }
        return;
    }
    if (!defs.motion_blur) {
        s0.z = s0.z2 = std::min(s0.z, depth);
        s0.set_area(enc(dec(s0.area()) + coverage));
        return;
    }

    const std::uint32_t id = static_cast<std::uint32_t>(defs.geometry_id);
    if (rec[last_].word[3] == id) {
        // The same model again: widen the entry written last.
        pixel_zbuff& e = rec[std::min(s0.last(), last_ - 1)].zb;
        const int lo = lowest_slice(timeslices), hi = highest_slice(timeslices);
        const int elo = lowest_slice(e.timeslices), ehi = highest_slice(e.timeslices);
        if (lo >= 0 && (elo < 0 || lo < elo || (lo == elo && depth < e.z))) e.z = depth;
        if (hi >= 0 && (ehi < 0 || hi > ehi || (hi == ehi && depth < e.z2))) e.z2 = depth;
        e.set_area(enc(dec(e.area()) + coverage));
        e.timeslices |= timeslices;
        return;
    }

    // A new model: a new entry after the last one, compressing the entries
    // first when the record is full.
    int n = std::min(s0.list_nb(), last_);
    if (n >= last_) {
        int k = compress(rec, n, false, false, 0, 0);
        if (k == n) k = compress(rec, k, true, false, 0, 0);
        n = k;
    }
    if (n < 1) n = 1;
    pixel_zbuff& e = rec[n].zb;
    e.z = e.z2 = depth;
    e.timeslices = timeslices;
    e.control = pixel_zbuff::kIsUsed | enc(coverage);
    rec[n - 1].zb.set_bit(pixel_zbuff::kIsNext, true);
    s0.set_list_nb(n + 1);
    s0.set_nb_zbuff(n + 1);
    s0.set_last(n);
    rec[last_].word[3] = id;
}

int hair_zbuffer::compress(pixel_slot* rec, int k, bool merge, bool debug, int row, int col) {
    k = std::clamp(k, 0, last_);
    pixel_zbuff& s0 = rec[0].zb;
    if (debug) std::printf("Starting postprocess_zbuff_debug()\n");
    int count = k;
    if (k < 2) {
        if (k == 1) {
            s0.set_nb_zbuff(1);
            s0.set_bit(pixel_zbuff::kIsNext, false);
        }
    } else {
        // Sort by nearest distance; the pixel's header bits stay in slot 0.
        const std::uint32_t header = s0.control & pixel_zbuff::kHeaderMask;
        s0.control &= ~pixel_zbuff::kHeaderMask;
        if (debug) std::printf("Sorting zbuffer...\n");
        for (int i = 1; i < k; ++i) {
            const pixel_slot moving = rec[i];
            const float key = std::min(moving.zb.z, moving.zb.z2);
            int j = i;
            while (j > 0 && std::min(rec[j - 1].zb.z, rec[j - 1].zb.z2) > key) {
                rec[j] = rec[j - 1];
                --j;
            }
            rec[j] = moving;
        }
        for (int i = 0; i < k; ++i) rec[i].zb.set_bit(pixel_zbuff::kIsNext, i + 1 < k);
        rec[0].zb.control |= header;
        if (debug) print_pixel(rec, row, col);

        // Drop entries whose slices the nearer entries already cover.
        if (debug) std::printf("Compressing...\n");
        std::uint32_t cumul = 0;
        for (int i = 0; i < count; ++i) {
            if (debug) std::printf("Loop %d\n", i);
            cumul |= rec[i].zb.timeslices;
            for (int j = i + 1; j < count;) {
                const std::uint32_t mine = rec[j].zb.timeslices;
                if (debug)
                    std::printf("testing cumul = %x, ip_slices = %x, and = %x\n", cumul, mine,
                                cumul & mine);
                if ((cumul & mine) == mine) {
                    if (debug) std::printf("compressed one\n");
                    std::memmove(static_cast<void*>(rec + j), rec + j + 1,
                                 sizeof(pixel_slot) * (count - j - 1));
                    --count;
                } else {
                    ++j;
                }
            }
        }
        if (debug) std::printf("Compressed!\n");

        // Merge the farthest entries until the hair list has room.
        if (merge && count > std::max(1, list_size_ - 2)) {
            if (debug) {
                print_pixel(rec, row, col);
                std::printf("Doing 2nd compression\n");
            }
            while (count > 1 && count > list_size_ - 2) {
                pixel_zbuff& a = rec[count - 2].zb;
                const pixel_zbuff& b = rec[count - 1].zb;
                const int na = slice_count(a.timeslices), nb = slice_count(b.timeslices);
                const bool wider = nb > 2 * na;
                const std::uint16_t area = enc(dec(a.area()) + dec(b.area()));
                if (highest_slice(b.timeslices) >= highest_slice(a.timeslices) + 3 || wider)
                    a.z2 = b.z2;
                if (lowest_slice(b.timeslices) + 3 <= lowest_slice(a.timeslices) || wider)
                    a.z = b.z;
                a.set_area(area);
                a.timeslices |= b.timeslices;
                --count;
            }
        }
        for (int i = 0; i < count; ++i) rec[i].zb.set_bit(pixel_zbuff::kIsNext, i + 1 < count);
        s0.set_nb_zbuff(count);
        rec[count].hair = kEmptyHair;
    }
    s0.set_last(0);
    s0.set_list_nb(0);
    rec[last_].word[3] = 0;
    return count;
}

void hair_zbuffer::post_mb(pixel_slot* rec, bool merge) {
    if (rec != nullptr && rec[0].zb.is_used())
        compress(rec, rec[0].zb.list_nb(), merge, false, 0, 0);
}

void hair_zbuffer::post_mb_debug(pixel_slot* rec, int row, int col, bool merge) {
    if (rec != nullptr && rec[0].zb.is_used())
        compress(rec, rec[0].zb.list_nb(), merge, true, row, col);
}

// ---------------------------------------------------------------------------
// Resolves

pixel_hair hair_zbuffer::composite(pixel_slot* rec, bool debug) {
    if (debug) std::printf("Adding current hair to pixbuff...\n");
    pixel_slot spare[kMaxListSize + 3];
    rec = moved(rec, spare);
    if (debug) std::printf("Starting color calc...\n");
    const layout l = layout_of(rec);
    pixel_hair front = kEmptyHair, behind = kEmptyHair;
    if (l.n == 0 && l.front < 0 && l.behind < 0) return front;

    for (int i = 0; i < l.n; ++i) {
        const pixel_hair& e = rec[l.first + i].hair;
        const bool in_front = l.in_front(e.z);
        fragment_merge(in_front ? front : behind, e, nullptr);
        if (debug) {
            std::printf(in_front ? "Added element to front comp buffer\n"
                                 : "Added element to back comp buffer\n");
            fragment_print(in_front ? front : behind);
        }
    }
    if (l.front >= 0) {
        fragment_merge(front, rec[l.front].hair, nullptr);
        if (debug) {
            std::printf("Added front overflow to front comp buffer\n");
            fragment_print(front);
        }
    }
    if (l.behind >= 0) {
        fragment_merge(behind, rec[l.behind].hair, nullptr);
        if (debug) {
            std::printf("Added back overflow to back comp buffer\n");
            fragment_print(behind);
        }
    }
    if (behind.a != 0) {
        if (debug) std::printf("Comped front comp buffer over back comp buffer\n");
        fragment_merge(front, behind, &rec[0].zb);
        if (debug) fragment_print(front);
    }
    return front;
}

kivColor hair_zbuffer::resolve_color(pixel_slot* rec) {
    if (rec == nullptr) return kivColor();
    const pixel_hair f = composite(rec, false);
    return kivColor(dec(f.r), dec(f.g), dec(f.b), dec(f.a));
}

kivColor hair_zbuffer::resolve_color_debug(pixel_slot* rec) {
    if (rec == nullptr) return kivColor();
    const pixel_hair f = composite(rec, true);
    return kivColor(dec(f.r), dec(f.g), dec(f.b), dec(f.a));
}

void hair_zbuffer::resolve_depth(pixel_slot* rec, float& depth, float& alpha) {
    depth = alpha = 0.0f;
    if (rec == nullptr) return;
    const pixel_hair f = composite(rec, false);
    depth = f.z;
    alpha = dec(f.a);
}

float hair_zbuffer::resolve_shadow(pixel_slot* rec, float threshold, float& opacity) {
    opacity = 0.0f;
    if (rec == nullptr) return 0.0f;
    pixel_slot spare[kMaxListSize + 3];
    rec = moved(rec, spare);
    const layout l = layout_of(rec);
    if (l.n == 0) return 0.0f;

    const pixel_zbuff& s0 = rec[0].zb;
    const float zmin = l.geo ? l.zmin : s0.z2;
    bool have_depth = false;
    float depth = 0.0f;
    auto note = [&](const pixel_hair& acc, float z) {
        if (!have_depth && dec(acc.a) > threshold) {
            have_depth = true;
            depth = z;
        }
    };

    pixel_hair acc = rec[l.first].hair;
    note(acc, acc.z);
    bool front_done = l.front < 0;
    for (int i = 1; i < l.n; ++i) {
        const pixel_hair& e = rec[l.first + i].hair;
        if (!(e.z > 0.0f)) continue;
        if (e.z > zmin) {
            if (!front_done) {
                fragment_merge(acc, rec[l.front].hair, nullptr);
                front_done = true;
                note(acc, e.z);
            }
            fragment_merge(acc, e, &s0);
        } else {
            fragment_merge(acc, e, nullptr);
        }
        note(acc, e.z);
    }
    const float last_z = rec[l.first + l.n - 1].hair.z;
    if (!front_done) {
        fragment_merge(acc, rec[l.front].hair, nullptr);
        note(acc, last_z);
    }
    if (l.behind >= 0) {
        fragment_merge(acc, rec[l.behind].hair, &s0);
        note(acc, last_z);
    }
    const float a = dec(acc.a);
    opacity = std::min(1.0f, threshold == 0.0f ? a : a / threshold);
    return depth;
}

int hair_zbuffer::resolve_atmosphere(pixel_slot* rec, float* depths, float* alphas, int max) {
    if (rec == nullptr) return 0;
    pixel_slot spare[kMaxListSize + 3];
    rec = moved(rec, spare);
    const layout l = layout_of(rec);
    pixel_hair acc = kEmptyHair;
    float previous = 0.0f;
    int count = 0;
    auto step = [&](const pixel_hair& h) {
        fragment_merge(acc, h, nullptr);
        const float a = dec(acc.a);
        if (count < max) {
            depths[count] = h.z;
            alphas[count] = a - previous;
            ++count;
        }
        previous = a;
    };
    bool front_done = l.front < 0;
    for (int i = 0; i < l.n; ++i) {
        const pixel_hair& e = rec[l.first + i].hair;
        if (!front_done && !l.in_front(e.z)) {
            step(rec[l.front].hair);
            front_done = true;
        }
        step(e);
    }
    if (!front_done) step(rec[l.front].hair);
    if (l.behind >= 0) step(rec[l.behind].hair);
    return count;
}

namespace {

static_assert(offsetof(fragment_contribution, a) == offsetof(fragment_contribution, r) + 12,
              "a contribution's r, g, b and a lie side by side");

// One side's accumulator of the contribution resolve: the merged fragments
// as stored, and decoded, so that every merge decodes the result once and
// the next merge's growth starts from it.
struct growing_acc {
    pixel_hair h = kEmptyHair;
    frac4::floats v = {0.0f, 0.0f, 0.0f, 0.0f};
    // Merges e in and returns how much the decoded accumulator grew.
    frac4::floats add(const pixel_hair& e) {
        if (h.id == 0)
            h = e;
        else
            merge_decoded(h, v, e);
        const frac4::floats after = frac4::load(h);
        const frac4::floats grew = after - v;
        v = after;
        return grew;
    }
};

}  // namespace

// What a resolve walks once the current hair is in the list: the list's
// entries 0 ... k - 1, then the current hair (when it joins the list), then
// entries k ... m - 1, then the overflows with these values.
struct hair_zbuffer::moved_view {
    const pixel_hair* current;  // the current hair where it joins the list, else null
    int k;                      // its place in the walk
    int m;                      // list entries walked
    pixel_hair front, behind;   // the overflows (where the layout has them)
};

inline bool hair_zbuffer::view_moved(const pixel_slot* rec, const layout& l, moved_view& v) const {
    const pixel_slot* list = rec + l.first;
    const pixel_hair& h = rec[l.cur].hair;
    v.front = l.front >= 0 ? rec[l.front].hair : kEmptyHair;
    v.behind = l.behind >= 0 ? rec[l.behind].hair : kEmptyHair;
    v.current = nullptr;
    v.k = v.m = l.n;
    if (h.id == 0) return true;
    // As insert_sorted: a list with room takes h at its place.
    const int k = insertion_index(list, l.n, h.z);
    if (l.n < l.cap) {
        v.current = &h;
        v.k = k;
        v.m = l.n;
        return true;
    }
    // A full list hands h, or its last entry, to the overflow of its side.
    const pixel_hair& leaving = k >= l.cap ? h : list[l.n - 1].hair;
    const int side = l.in_front(leaving.z) ? l.front : l.behind;
    if (side < 0) return false;
    merge_by_depth(side == l.front ? v.front : v.behind, leaving);
    if (k < l.cap) {
        v.current = &h;
        v.k = k;
        v.m = l.n - 1;
    }
    return true;
}

inline hair_zbuffer::layout hair_zbuffer::view_after_move(pixel_slot* rec, moved_view& v) {
    layout l = layout_of(rec);
    if (!view_moved(rec, l, v)) {
        move_current(rec);
        l = layout_of(rec);
        view_moved(rec, l, v);
    }
    return l;
}

int hair_zbuffer::resolve_contributions(pixel_slot* rec, fragment_contribution* out, int max,
                                        float& front_alpha) {
    front_alpha = 0.0f;
    if (rec == nullptr || max <= 0) return 0;
    // The current hair joins the list as move_current would put it, without
    // writing the record, unless that creates an overflow.
    moved_view v;
    const layout l = view_after_move(rec, v);

    growing_acc front, behind;
    int count = 0;
    int behind_first = max;  // behind contributions fill the array from its end
    // Merges one fragment into its side's accumulator and records the
    // accumulator's growth as the fragment's contribution.
    auto add = [&](const pixel_hair& h, bool is_front) {
        const frac4::floats c = (is_front ? front : behind).add(h);
        if (count >= behind_first) return;
        fragment_contribution& o = out[is_front ? count++ : --behind_first];
        o.z = h.z;
        std::memcpy(&o.r, &c, sizeof c);  // r, g, b, a in one store
    };
    auto add_listed = [&](const pixel_hair& h) { add(h, l.in_front(h.z)); };
    const pixel_slot* list = rec + l.first;
    for (int i = 0; i < v.k; ++i) add_listed(list[i].hair);
    if (v.current != nullptr) add_listed(*v.current);
    for (int i = v.k; i < v.m; ++i) add_listed(list[i].hair);
    if (l.front >= 0) add(v.front, true);
    if (l.behind >= 0) add(v.behind, false);
    front_alpha = front.v[3];

    // What lies behind the geometry reaches the sample through its
    // uncovered part: each channel of the behind contributions is scaled by
    // the share of the behind accumulator that the final merge keeps.
    frac4::floats keep = {0.0f, 0.0f, 0.0f, 0.0f};
    if (behind.h.a != 0) {
        fragment_merge(front.h, behind.h, &rec[0].zb);
        const frac4::floats kept = frac4::load(front.h) - front.v;
        for (int c = 0; c < 4; ++c) keep[c] = behind.v[c] > 0.0f ? kept[c] / behind.v[c] : 0.0f;
    }
    for (int i = behind_first; i < max; ++i) {
        const fragment_contribution& c = out[i];
        out[count++] = {c.z, c.r * keep[0], c.g * keep[1], c.b * keep[2], c.a * keep[3]};
    }
    return count;
}

bool hair_zbuffer::hides_geometry(int row, int col) {
    pixel_slot* rec = record(row, col);
    if (rec == nullptr) return false;
    // The alpha of resolve_contributions' front accumulator, merged in its
    // order (the list may hold a NaN depth out of order) and, as there, with
    // the current hair where its move puts it, without writing the record.
    moved_view v;
    const layout l = view_after_move(rec, v);
    alpha_depth front;
    const pixel_slot* list = rec + l.first;
    auto add = [&](const pixel_hair& e) {
        if (l.in_front(e.z)) merge_alpha(front, e);
    };
    for (int i = 0; i < v.k; ++i) add(list[i].hair);
    if (v.current != nullptr) add(*v.current);
    for (int i = v.k; i < v.m; ++i) add(list[i].hair);
    if (l.front >= 0) merge_alpha(front, v.front);
    return dec(front.a) == 1.0f;
}

void hair_zbuffer::geometry_depth(int row, int col, float& depth, float& coverage) const {
    depth = coverage = 0.0f;
    if (row < 0 || col < 0 || row >= lines_ || col >= cols_) return;
    const std::size_t k = index(row, col);
    // Before any record is made the cell array is left unread (see
    // add_geometry).
    const pixel_slot* rec = chunks_.empty() ? nullptr : cells_[k];
    if (rec == nullptr) {
        // No record: the geometry array holds what there is.
        const geometry_sample& g = geo_[k];
        if (!g.is_used()) return;
        depth = g.z;
        coverage = dec(g.area());
        return;
    }
    if (!rec[0].zb.is_used()) return;
    const pixel_zbuff& s0 = rec[0].zb;
    if (!defs.motion_blur) {
        depth = s0.z;
        coverage = dec(s0.area());
        return;
    }
    depth = std::min(s0.z, s0.z2);
    std::uint32_t all = 0;
    for (int e = 0; e < last_; ++e) {
        all |= rec[e].zb.timeslices;
        if (!rec[e].zb.is_next()) break;
    }
    coverage = all == 0xFFFFFFFFu ? 1.0f : static_cast<float>(slice_count(all)) * 0.03125f;
}

// ---------------------------------------------------------------------------
// Debug prints

void hair_zbuffer::print_pixel(const pixel_slot* rec, int row, int col) const {
    if (rec == nullptr) return;
    std::printf("pixel_head at (%d,%d) {\n", row, col);
    for (int e = 0; e < last_; ++e) {
        const pixel_zbuff& z = rec[e].zb;
        std::printf("pixel_zbuff contents:\n");
        std::printf("is_used = %d\n", z.is_used() ? 1 : 0);
        std::printf("z = %f, z2 = %f, area = %f\n", z.z, z.z2, dec(z.area()));
        std::printf("timeslices = %4x\n", z.timeslices);
        std::printf("list_nb = %d, nb_zbuff = %d\n", z.list_nb(), z.nb_zbuff());
        std::printf("overflow_f = %d, overflow_b = %d\n", z.overflow_f() ? 1 : 0,
                    z.overflow_b() ? 1 : 0);
        std::printf("is_next_zbuff = %d\n", z.is_next() ? 1 : 0);
        if (!z.is_next()) break;
    }
    const layout l = layout_of(rec);
    std::printf("  current hair\n");
    fragment_print(rec[l.cur].hair);
    std::printf("  hair list\n");
    for (int i = 0; i < l.n; ++i) fragment_print(rec[l.first + i].hair);
    if (l.front >= 0) {
        std::printf("  front overflow\n");
        fragment_print(rec[l.front].hair);
    }
    if (l.behind >= 0) {
        std::printf("  behind overflow\n");
        fragment_print(rec[l.behind].hair);
    }
    std::printf("}\n");
}

void hair_zbuffer::print() const {
    for (int row = 0; row < lines_; ++row) {
        for (int col = 0; col < cols_; ++col) print_pixel(record(row, col), row, col);
    }
}
