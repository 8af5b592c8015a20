#include "render/ribbon_bounds.h"

#include <cmath>
#include <cstring>

#include "descriptions/hair_params.h"
#include "generation/hair_shaping.h"
#include "render/fragment_list.h"
#include "render/scan_convert.h"

namespace hair_raster {

namespace {

// Points at or behind this depth are clipped by the rasteriser; they are
// not bounded here.
constexpr float kNear = -1e-5f;

}  // namespace

ribbon_bounds::ribbon_bounds(const hair_camera& cam)
    : cam_(cam),
      scale_(cam.get_pixel_scale() * 0.5f),
      lx_(static_cast<float>(cam.get_window().lowx)),
      ly_(static_cast<float>(cam.get_window().lowy)) {}

void ribbon_bounds::add(const kivPoint& p, float width) {
    if (!bounded_) return;
    float x = 0.0f, y = 0.0f;
    if (!(p.z <= kNear) || !cam_.project(p, x, y)) {
        bounded_ = false;
        return;
    }
    const float reach = 3.0f * std::fabs(width) / -p.z * scale_ + 1.0f;
    x -= lx_;
    y -= ly_;
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(reach)) {
        bounded_ = false;
        return;
    }
    const float ax = x - reach, ay = y - reach, bx = x + reach, by = y + reach;
    if (!any_) {
        x0_ = ax, y0_ = ay, x1_ = bx, y1_ = by;
        any_ = true;
        return;
    }
    x0_ = ax < x0_ ? ax : x0_;
    y0_ = ay < y0_ ? ay : y0_;
    x1_ = bx > x1_ ? bx : x1_;
    y1_ = by > y1_ ? by : y1_;
}

bool ribbon_bounds::misses_drawn_samples() const {
    const hair_zbuffer* zb = cam_.zbuffer();
    if (!bounded() || zb == nullptr) return false;
    const scan::limits lim = scan::limits::window(zb->cols(), zb->lines());
    return scan::pixel_floor(x1_) < lim.col_lo() || scan::pixel_floor(x0_) > lim.col_hi() ||
           scan::pixel_floor(y1_) < lim.row_lo() || scan::pixel_floor(y0_) > lim.row_hi();
}

void ribbon_bounds::widen(float samples) {
    x0_ -= samples;
    y0_ -= samples;
    x1_ += samples;
    y1_ += samples;
}

}  // namespace hair_raster

// The cube of hair_shape_reach through the description's and the camera's
// matrices, its corners projected and padded as the hair's points would be.
bool hair_camera::skips_unshaped_hair(const hair_state& hs) const {
    kivPoint c;
    float radius = 0.0f, width = 0.0f;
    if (hs.params == nullptr || !hair_shape_reach(hs, c, radius, width)) return false;
    return unshaped_hair_bound(*this).skips(*hs.params, c, radius, width);
}

unshaped_hair_bound::unshaped_hair_bound(const hair_camera& cam)
    : drawn_(cam.zbuffer() != nullptr),
      focal_(cam.get_focal()),
      scale_(cam.get_pixel_scale() * 0.5f),
      lx_(static_cast<float>(cam.get_window().lowx)),
      ly_(static_cast<float>(cam.get_window().lowy)),
      xscale_(cam.get_xscale()),
      yscale_(cam.get_yscale()),
      view_(cam.get_matrix()) {
    const hair_zbuffer* zb = cam.zbuffer();
    const scan::limits lim =
        drawn_ ? scan::limits::window(zb->cols(), zb->lines()) : scan::limits();
    col_lo_ = lim.col_lo(), col_hi_ = lim.col_hi();
    row_lo_ = lim.row_lo(), row_hi_ = lim.row_hi();
}

// ribbon_bounds::add, inline: the same operations in the same order.
bool unshaped_hair_bound::add(const kivPoint& p, float width, box& b, bool first) const {
    if (!(p.z <= hair_raster::kNear)) return false;
    const kivPoint film = p * (-focal_ / p.z);
    const float x = xscale_.n_to_r(film.x) - lx_, y = yscale_.n_to_r(film.y) - ly_;
    const float reach = 3.0f * std::fabs(width) / -p.z * scale_ + 1.0f;
    if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(reach)) return false;
    const float ax = x - reach, ay = y - reach, bx = x + reach, by = y + reach;
    if (first) {
        b = {ax, ay, bx, by};
        return true;
    }
    b.x0 = ax < b.x0 ? ax : b.x0;
    b.y0 = ay < b.y0 ? ay : b.y0;
    b.x1 = bx > b.x1 ? bx : b.x1;
    b.y1 = by > b.y1 ? by : b.y1;
    return true;
}

bool unshaped_hair_bound::misses(const box& b) const {
    return scan::pixel_floor(b.x1) < col_lo_ || scan::pixel_floor(b.x0) > col_hi_ ||
           scan::pixel_floor(b.y1) < row_lo_ || scan::pixel_floor(b.y0) > row_hi_;
}

bool unshaped_hair_bound::skips(const hair_params& hp, const kivPoint& c, float radius,
                                float width) {
    if (!drawn_) return false;
    // The cube's centre in camera space; one that falls on the samples
    // drawn: the hair may reach them.
    const kivMatrix& description = hp.matrix;
    const kivPoint centre = c * description * view_;
    box b;
    if (!add(centre, 0.0f, b, true) || !misses(b)) return false;
    // The description's axes through the camera, taken again for another
    // matrix.
    if (!has_axes_ || std::memcmp(&description, &description_, sizeof description) != 0) {
        for (int i = 0; i < 3; ++i)
            axis_[i] = kivVector(description[i][0], description[i][1], description[i][2]) * view_;
        description_ = description;
        has_axes_ = true;
    }
    // The corners (whose box holds the centre's); a sample more covers the
    // rounding of the points' own transforms and projections.
    const kivVector axis[3] = {axis_[0] * radius, axis_[1] * radius, axis_[2] * radius};
    for (int k = 0; k < 8; ++k) {
        const kivVector d = (k & 1 ? axis[0] : -axis[0]) + (k & 2 ? axis[1] : -axis[1]) +
                            (k & 4 ? axis[2] : -axis[2]);
        if (!add(centre + kivPoint(d), width, b, false)) return false;
    }
    b.x0 -= 1.0f, b.y0 -= 1.0f, b.x1 += 1.0f, b.y1 += 1.0f;
    return misses(b);
}
