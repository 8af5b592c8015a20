#include "render/hair_poly_queue.h"

#include <algorithm>
#include <memory>
#include <new>

#include "foundation/render_settings.h"
#include "generation/hair_spawning.h"
#include "render/camera.h"
#include "render/fragment_list.h"
#include "render/hair_rasteriser.h"
#include "render/mapped_pages.h"
#include "render/scan_convert.h"
#include "render/shared_rows.h"

namespace hair_raster {

namespace {

// The open queue; one at a time.
poly_queue* g_open = nullptr;

// The tile row or column of a sample row or column.
inline int tile_of(int sample) {
    return sample >> kQueueTileShift;
}

constexpr std::size_t kBlockBytes = sizeof(queued_poly) * kQueueBlock;
static_assert(sizeof(queued_poly) == 128, "a queued polygon is two cache lines");

// A block of polygons straight from the system, with all its pages mapped
// at once (it is filled from its start right away); null when no memory is
// left.
queued_poly* map_block() {
    return static_cast<queued_poly*>(render_pages::map_populated(kBlockBytes));
}

// Restores the per-hair values of defs after a flush.
struct hair_values_guard {
    std::int32_t id = defs.hair_id;
    float random = defs.hair_random;
    ~hair_values_guard() {
        defs.hair_id = id;
        defs.hair_random = random;
    }
};

// The zones the camera passes share (mdldb_share_rows) and what this
// process took of each in the last pass.
struct zone_taken {
    bool settled = false;
    int units = 0;
};
std::vector<shared_rows> g_zones;
std::vector<zone_taken> g_taken;
// The z-buffer whose passes share the zones (any when null).
const hair_zbuffer* g_zones_zb = nullptr;

bool zones_of(const hair_zbuffer* zb) {
    return g_zones_zb == nullptr || g_zones_zb == zb;
}

// The queue of the hair pass under way, which the pass hooks open and
// close, and the one that holds the polygons of the zones of the last
// pass until mdldb_draw_shared_rows.
std::unique_ptr<poly_queue> g_pass_queue;
std::unique_ptr<poly_queue> g_held;

void pass_begin(hair_camera* cam, bool) {
    hair_zbuffer* zb = cam != nullptr ? cam->zbuffer() : nullptr;
    // A pass on another z-buffer leaves the zones' units where they are.
    if (zones_of(zb)) {
        mdldb_draw_shared_rows();
        g_taken.assign(g_zones.size(), zone_taken());
    }
    if (g_pass_queue == nullptr && zb != nullptr)
        g_pass_queue.reset(new (std::nothrow) poly_queue(zb));
}

void pass_end(hair_camera*, bool finish) {
    std::unique_ptr<poly_queue> queue = std::move(g_pass_queue);
    if (queue == nullptr || !finish) return;
    if (queue->finish()) g_held = std::move(queue);
}

[[maybe_unused]] const bool g_hooks_registered =
    mdldb_register_hair_pass_hooks(pass_begin, pass_end);

// The rows of zone z that `taken` units cover, from its side (the last
// unit, at the bottom, may be short).
std::array<int, 2> rows_taken(const shared_rows& z, int taken) {
    const int units = shared_rows_units(z);
    const int first = z.above ? 0 : units - taken;
    const long long r0 = z.row0 + static_cast<long long>(first) * z.unit;
    const long long r1 = z.row0 + static_cast<long long>(first + taken) * z.unit;
    return {static_cast<int>(std::min<long long>(r0, z.row1)),
            static_cast<int>(std::min<long long>(r1, z.row1))};
}

}  // namespace

void poly_queue::unmap_block::operator()(queued_poly* p) const {
    render_pages::unmap(p, kBlockBytes);
}

void poly_queue::box_of(const queued_poly& q, int* box) {
    scan::pixel_box(q.n, q.corner, box);
}

poly_queue* poly_queue::open_on(const hair_zbuffer* zb) {
    return g_open != nullptr && zb != nullptr && g_open->zb_ == zb ? g_open : nullptr;
}

poly_queue::poly_queue(hair_zbuffer* zb, std::size_t max_bytes, std::size_t zone_bytes)
    : max_polys_(std::max<std::size_t>(1, max_bytes / sizeof(queued_poly))) {
    if (zb == nullptr || g_open != nullptr) return;
    zb_ = zb;
    g_open = this;
    const scan::limits lim = scan::limits::window(zb_->cols(), zb_->lines());
    lim_[0] = lim.col_lo(), lim_[1] = lim.row_lo(), lim_[2] = lim.col_hi(), lim_[3] = lim.row_hi();
    own_lo_ = lim_[1];
    own_hi_ = lim_[3];
    // A zone at the bottom of the region (this band above it) is not the
    // process's own until it takes its units; one above the band lies
    // outside the region. A pass on another z-buffer shares none.
    if (!zones_of(zb)) return;
    for (const shared_rows& r : g_zones) {
        zone z;
        z.rows = r;
        z.copies.flat = static_cast<queued_poly*>(r.polys);
        z.room = std::min(r.poly_bytes, zone_bytes) / sizeof(queued_poly);
        if (r.above) own_hi_ = std::min(own_hi_, r.row0 - 1);
        zones_.push_back(std::move(z));
    }
}

poly_queue::~poly_queue() {
    if (g_open == this) g_open = nullptr;
}

// q as polygon v of n corners with the current hair's values.
static void fill(queued_poly& q, int n, const motion_blur_pnt* v, std::uint32_t timeslices) {
    q.timeslices = timeslices;
    q.hair_id = defs.hair_id;
    q.hair_random = defs.hair_random;
    q.n = n;
    for (int k = 0; k < n; ++k) q.corner[k] = v[k];
}

bool poly_queue::store::push(int n, const motion_blur_pnt* v, std::uint32_t timeslices) {
    if (count == blocks.size() * kQueueBlock) {
        blocks.emplace_back(map_block());
        if (blocks.back() == nullptr) {
            blocks.pop_back();
            return false;
        }
    }
    fill(at(count++), n, v, timeslices);
    return true;
}

bool poly_queue::push(const int* box, int n, const motion_blur_pnt* v, std::uint32_t timeslices) {
    if (zones_.empty()) {
        if (main_.count >= max_polys_) flush();
        if (main_.count < main_.blocks.size() * kQueueBlock) {
            fill(main_.blocks[main_.count >> kQueueBlockShift][main_.count & (kQueueBlock - 1)], n,
                 v, timeslices);
            ++main_.count;
            return true;
        }
        if (main_.push(n, v, timeslices)) return true;
        flush();
        return main_.push(n, v, timeslices);
    }
    // A copy for every zone below the band that it reaches; when the
    // copies outgrow their memory, this process takes the whole zone now.
    for (zone& z : zones_) {
        if (z.settled || !z.rows.above || box[3] < z.rows.row0 || box[1] >= z.rows.row1) continue;
        if (z.copies.count < z.room) {
            fill(z.copies.at(z.copies.count++), n, v, timeslices);
            continue;
        }
        z.rows.claims->state.store(kZoneTaken, std::memory_order_release);
        z.ready = true;
        settle(z);
    }
    if (box[3] < own_lo_ || box[1] > own_hi_) return true;
    if (main_.count >= max_polys_) flush();
    if (main_.push(n, v, timeslices)) return true;
    flush();
    if (main_.push(n, v, timeslices)) return true;
    // No memory for it: drawn at once, on the rows owned only.
    scan::limits lim;
    lim.cols = zb_->cols();
    lim.lines = zb_->lines();
    lim.region_on = true;
    lim.region[0] = lim_[0], lim.region[1] = own_lo_, lim.region[2] = lim_[2];
    lim.region[3] = own_hi_;
    draw_poly(*zb_, box, n, v, timeslices, lim);
    return true;
}

void poly_queue::sort_into_tiles(store& s, const grid& g) {
    // A flush's tiles by a shift, a zone's units by a division.
    if (g.origin == 0 && g.height == kQueueTileSide)
        bin_tiles(s, g, [](int row) { return tile_of(row); });
    else
        bin_tiles(s, g, [&g](int row) { return (row - g.origin) / g.height; });
}

template <class TileRow>
void poly_queue::bin_tiles(store& s, const grid& g, TileRow tile_row) {
    tile_cols_ = tile_of(zb_->cols() - 1) + 1;
    tile_lines_ = g.row_hi >= g.row_lo ? tile_row(g.row_hi) + 1 : 0;
    first_.assign(static_cast<std::size_t>(tile_cols_) * tile_lines_ + 1, 0);

    // Calls f(tile) for every tile the clipped box of polygon i touches.
    auto for_tiles = [this, &g, tile_row](std::size_t i, auto&& f) {
        const std::int32_t* box = boxes_[i].data();
        const int c0 = std::max(box[0], lim_[0]), c1 = std::min(box[2], lim_[2]);
        const int r0 = std::max(box[1], g.row_lo), r1 = std::min(box[3], g.row_hi);
        if (c0 > c1 || r0 > r1) return;
        const int tr1 = tile_row(r1);
        for (int tr = tile_row(r0); tr <= tr1; ++tr)
            for (int tc = tile_of(c0); tc <= tile_of(c1); ++tc)
                f(static_cast<std::size_t>(tr) * tile_cols_ + tc);
    };
    // The boxes; the count per tile, then the starts, then the indices in
    // queue order.
    boxes_.resize(s.count);
    for (std::size_t i = 0; i < s.count; ++i) box_of(s.at(i), boxes_[i].data());
    for (std::size_t i = 0; i < s.count; ++i)
        for_tiles(i, [this](std::size_t t) { ++first_[t + 1]; });
    for (std::size_t t = 1; t < first_.size(); ++t) first_[t] += first_[t - 1];
    bin_.resize(first_.back());
    std::vector<std::uint32_t>& next = scratch_;
    next.assign(first_.begin(), first_.end() - 1);
    for (std::size_t i = 0; i < s.count; ++i)
        for_tiles(i, [&](std::size_t t) { bin_[next[t]++] = static_cast<std::uint32_t>(i); });
}

void poly_queue::draw_tile(store& s, const grid& g, int tile_row, int tile_col) {
    const std::size_t t = static_cast<std::size_t>(tile_row) * tile_cols_ + tile_col;
    if (first_[t] == first_[t + 1]) return;
    // The tile's rows and its last column through the limits, its first
    // column as the first one given to the sink.
    const int col_lo = tile_col << kQueueTileShift;
    const int row_lo = g.origin + tile_row * g.height;
    scan::limits lim;
    lim.cols = zb_->cols();
    lim.lines = zb_->lines();
    lim.region_on = true;
    lim.region[0] = lim_[0];
    lim.region[1] = std::max(g.row_lo, row_lo);
    lim.region[2] = std::min(lim_[2], col_lo + kQueueTileSide - 1);
    lim.region[3] = std::min(g.row_hi, row_lo + g.height - 1);
    lim.emit_lo = col_lo;
    // The cells under the tile's polygons are looked up, then written where
    // a record is made.
    int area[4] = {lim.region[2], lim.region[3], lim.region[0], lim.region[1]};
    for (std::uint32_t b = first_[t]; b < first_[t + 1]; ++b) {
        const std::array<std::int32_t, 4>& box = boxes_[bin_[b]];
        area[0] = std::min(area[0], box[0]);
        area[1] = std::min(area[1], box[1]);
        area[2] = std::max(area[2], box[2]);
        area[3] = std::max(area[3], box[3]);
    }
    area[0] = std::max(area[0], std::max(lim.region[0], col_lo));
    area[1] = std::max(area[1], lim.region[1]);
    area[2] = std::min(area[2], lim.region[2]);
    area[3] = std::min(area[3], lim.region[3]);
    zb_->prepare_for_writing(area, false);
    for (std::uint32_t b = first_[t]; b < first_[t + 1]; ++b) {
        const queued_poly& q = s.at(bin_[b]);
        defs.hair_id = q.hair_id;
        defs.hair_random = q.hair_random;
        draw_poly(*zb_, boxes_[bin_[b]].data(), q.n, q.corner, q.timeslices, lim);
    }
}

void poly_queue::flush() {
    if (zb_ == nullptr || main_.count == 0) return;
    // The blocks past the pending polygons hold an earlier flush's: given
    // back before this flush carves records.
    main_.blocks.resize((main_.count + kQueueBlock - 1) / kQueueBlock);
    grid g;
    g.row_lo = own_lo_;
    g.row_hi = own_hi_;
    const hair_values_guard keep;
    try {
        sort_into_tiles(main_, g);
        for (int tr = 0; tr < tile_lines_; ++tr)
            for (int tc = 0; tc < tile_cols_; ++tc) draw_tile(main_, g, tr, tc);
    } catch (...) {
        // A failed insertion ("Memory failure"): nothing is drawn twice.
        main_.count = 0;
        throw;
    }
    main_.count = 0;
    sorted_ = nullptr;
    std::vector<std::array<std::int32_t, 4>>().swap(boxes_);
}

int poly_queue::take_unit(zone& z) {
    if (z.settled) return -1;
    // The process below takes units only once the copies are complete.
    if (!z.ready && !z.rows.above &&
        z.rows.claims->state.load(std::memory_order_acquire) == kZoneCopied) {
        z.copies.count =
            std::min<std::size_t>(z.room, z.rows.claims->count.load(std::memory_order_acquire));
        z.ready = true;
    }
    const int u = z.ready ? shared_rows_claim(z.rows) : -1;
    if (u < 0) {
        // Settled: the units taken join the rows owned.
        z.settled = true;
        z.copies.count = 0;
        sorted_ = nullptr;
        std::vector<std::array<std::int32_t, 4>>().swap(boxes_);
        const std::array<int, 2> taken = rows_taken(z.rows, z.taken);
        if (taken[1] > taken[0]) {
            own_lo_ = std::min(own_lo_, taken[0]);
            own_hi_ = std::max(own_hi_, taken[1] - 1);
        }
        return -1;
    }
    ++z.taken;
    // The zone's tiles: a row of tiles a unit.
    grid g;
    g.origin = z.rows.row0;
    g.height = z.rows.unit;
    g.row_lo = z.rows.row0;
    g.row_hi = z.rows.row1 - 1;
    if (sorted_ != &z) sort_into_tiles(z.copies, g);
    sorted_ = &z;
    const hair_values_guard keep;
    if (u < tile_lines_)
        for (int tc = 0; tc < tile_cols_; ++tc) draw_tile(z.copies, g, u, tc);
    return u;
}

void poly_queue::settle(zone& z) {
    // The rows owned grow by the units taken: what is pending for the rows
    // owned so far is drawn first.
    flush();
    sorted_ = nullptr;
    while (take_unit(z) >= 0) {
    }
}

bool poly_queue::finish() {
    if (zb_ == nullptr) return false;
    flush();
    if (g_open == this) g_open = nullptr;
    // The copies are complete: the process below may take units too.
    for (zone& z : zones_) {
        if (!z.rows.above || z.settled) continue;
        z.rows.claims->count.store(z.copies.count, std::memory_order_release);
        z.rows.claims->state.store(kZoneCopied, std::memory_order_release);
        z.ready = true;
    }
    if (zones_of(zb_)) g_taken.assign(zones_.size(), zone_taken());
    return !zones_.empty();
}

bool poly_queue::draw_unit(int* row0, int* row1) {
    for (std::size_t k = 0; zb_ != nullptr && k < zones_.size(); ++k) {
        zone& z = zones_[k];
        const int u = take_unit(z);
        if (k < g_taken.size()) g_taken[k] = {z.settled, z.taken};
        if (u < 0) continue;
        *row0 = z.rows.row0 + u * z.rows.unit;
        *row1 = std::min(z.rows.row1, *row0 + z.rows.unit);
        return true;
    }
    return false;
}

}  // namespace hair_raster

bool mdldb_draw_shared_unit(int* row0, int* row1) {
    std::unique_ptr<hair_raster::poly_queue>& held = hair_raster::g_held;
    int r0 = 0, r1 = 0;
    if (held != nullptr && held->draw_unit(&r0, &r1)) {
        if (row0 != nullptr) *row0 = r0;
        if (row1 != nullptr) *row1 = r1;
        return true;
    }
    held.reset();
    return false;
}

void mdldb_draw_shared_rows() {
    while (mdldb_draw_shared_unit(nullptr, nullptr)) {
    }
}

bool mdldb_share_rows(const shared_rows* zones, int n, const hair_zbuffer* zb) {
    using hair_raster::g_taken;
    using hair_raster::g_zones;
    hair_raster::g_held.reset();
    g_zones.clear();
    g_taken.clear();
    hair_raster::g_zones_zb = zb;
    if (n <= 0 || zones == nullptr) return n == 0;
    if (n > 2) return false;
    for (int k = 0; k < n; ++k) {
        const shared_rows& z = zones[k];
        if (z.claims == nullptr || shared_rows_units(z) == 0 || z.row0 < 0 || z.polys == nullptr ||
            z.poly_bytes < sizeof(hair_raster::queued_poly)) {
            g_zones.clear();
            return false;
        }
        g_zones.push_back(z);
    }
    g_taken.assign(g_zones.size(), hair_raster::zone_taken());
    return true;
}

bool mdldb_shared_rows_drawn(int k, int* row0, int* row1) {
    using hair_raster::g_taken;
    using hair_raster::g_zones;
    if (k < 0 || static_cast<std::size_t>(k) >= g_taken.size()) return false;
    mdldb_draw_shared_rows();
    const std::size_t i = static_cast<std::size_t>(k);
    const shared_rows& z = g_zones[i];
    // A zone no pass settled: no hair pass ran, so nothing was queued; the
    // process above takes the units left as they are, the one below none.
    if (!g_taken[i].settled) {
        if (z.above)
            while (shared_rows_claim(z) >= 0) ++g_taken[i].units;
        g_taken[i].settled = true;
    }
    const std::array<int, 2> rows = hair_raster::rows_taken(z, g_taken[i].units);
    if (row0 != nullptr) *row0 = rows[0];
    if (row1 != nullptr) *row1 = rows[1];
    return true;
}
