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

// The queue of the hair pass under way, which the pass hooks open and
// close.
std::unique_ptr<poly_queue> g_pass_queue;

void pass_begin(hair_camera* cam, bool) {
    if (g_pass_queue == nullptr && cam != nullptr && cam->zbuffer() != nullptr)
        g_pass_queue.reset(new (std::nothrow) poly_queue(cam->zbuffer()));
}

void pass_end(hair_camera*, bool finish) {
    const std::unique_ptr<poly_queue> queue = std::move(g_pass_queue);
    if (queue != nullptr && finish) queue->flush();
}

[[maybe_unused]] const bool g_hooks_registered =
    mdldb_register_hair_pass_hooks(pass_begin, pass_end);

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

poly_queue::poly_queue(hair_zbuffer* zb, std::size_t max_bytes)
    : max_polys_(std::max<std::size_t>(1, max_bytes / sizeof(queued_poly))) {
    if (zb == nullptr || g_open != nullptr) return;
    zb_ = zb;
    g_open = this;
}

poly_queue::~poly_queue() {
    if (g_open == this) g_open = nullptr;
}

bool poly_queue::push(const int*, int n, const motion_blur_pnt* v, std::uint32_t timeslices) {
    if (count_ >= max_polys_) flush();
    if (count_ == blocks_.size() * kQueueBlock) {
        blocks_.emplace_back(map_block());
        if (blocks_.back() == nullptr) {
            blocks_.pop_back();
            flush();
            if (blocks_.empty()) return false;
        }
    }
    queued_poly& q = at(count_++);
    q.timeslices = timeslices;
    q.hair_id = defs.hair_id;
    q.hair_random = defs.hair_random;
    q.n = n;
    for (int k = 0; k < n; ++k) q.corner[k] = v[k];
    return true;
}

void poly_queue::sort_into_tiles() {
    const scan::limits lim = scan::limits::window(zb_->cols(), zb_->lines());
    lim_[0] = lim.col_lo(), lim_[1] = lim.row_lo(), lim_[2] = lim.col_hi(), lim_[3] = lim.row_hi();
    tile_cols_ = tile_of(zb_->cols() - 1) + 1;
    tile_lines_ = tile_of(zb_->lines() - 1) + 1;
    first_.assign(static_cast<std::size_t>(tile_cols_) * tile_lines_ + 1, 0);

    // Calls f(tile) for every tile the clipped box of polygon i touches.
    auto for_tiles = [this](std::size_t i, auto&& f) {
        const std::int32_t* box = boxes_[i].data();
        const int c0 = std::max(box[0], lim_[0]), c1 = std::min(box[2], lim_[2]);
        const int r0 = std::max(box[1], lim_[1]), r1 = std::min(box[3], lim_[3]);
        if (c0 > c1 || r0 > r1) return;
        for (int tr = tile_of(r0); tr <= tile_of(r1); ++tr)
            for (int tc = tile_of(c0); tc <= tile_of(c1); ++tc)
                f(static_cast<std::size_t>(tr) * tile_cols_ + tc);
    };
    // The boxes; the count per tile, then the starts, then the indices in
    // queue order.
    boxes_.resize(count_);
    for (std::size_t i = 0; i < count_; ++i) box_of(at(i), boxes_[i].data());
    for (std::size_t i = 0; i < count_; ++i)
        for_tiles(i, [this](std::size_t t) { ++first_[t + 1]; });
    for (std::size_t t = 1; t < first_.size(); ++t) first_[t] += first_[t - 1];
    bin_.resize(first_.back());
    std::vector<std::uint32_t>& next = scratch_;
    next.assign(first_.begin(), first_.end() - 1);
    for (std::size_t i = 0; i < count_; ++i)
        for_tiles(i, [&](std::size_t t) { bin_[next[t]++] = static_cast<std::uint32_t>(i); });
}

void poly_queue::draw_tile(int tile_row, int tile_col) {
    const std::size_t t = static_cast<std::size_t>(tile_row) * tile_cols_ + tile_col;
    if (first_[t] == first_[t + 1]) return;
    // The tile's rows and its last column through the limits, its first
    // column as the first one given to the sink.
    const int col_lo = tile_col << kQueueTileShift;
    scan::limits lim;
    lim.cols = zb_->cols();
    lim.lines = zb_->lines();
    lim.region_on = true;
    lim.region[0] = lim_[0];
    lim.region[1] = std::max(lim_[1], tile_row << kQueueTileShift);
    lim.region[2] = std::min(lim_[2], col_lo + kQueueTileSide - 1);
    lim.region[3] = std::min(lim_[3], ((tile_row + 1) << kQueueTileShift) - 1);
    lim.emit_lo = col_lo;
    for (std::uint32_t b = first_[t]; b < first_[t + 1]; ++b) {
        const queued_poly& q = at(bin_[b]);
        defs.hair_id = q.hair_id;
        defs.hair_random = q.hair_random;
        draw_poly(*zb_, boxes_[bin_[b]].data(), q.n, q.corner, q.timeslices, lim);
    }
}

void poly_queue::flush() {
    if (zb_ == nullptr || count_ == 0) return;
    // The blocks past the pending polygons hold an earlier flush's: given
    // back before this flush carves records.
    blocks_.resize((count_ + kQueueBlock - 1) / kQueueBlock);
    const hair_values_guard keep;
    try {
        sort_into_tiles();
        for (int tr = 0; tr < tile_lines_; ++tr)
            for (int tc = 0; tc < tile_cols_; ++tc) draw_tile(tr, tc);
    } catch (...) {
        // A failed insertion ("Memory failure"): nothing is drawn twice.
        count_ = 0;
        throw;
    }
    count_ = 0;
    std::vector<std::array<std::int32_t, 4>>().swap(boxes_);
}

}  // namespace hair_raster
