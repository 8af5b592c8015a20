#include "render/ribbon_bounds.h"

#include <cmath>

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
    // The cube's centre and half edges in camera space.
    const kivMatrix& description = hs.params->matrix;
    const kivMatrix& view = matrix;
    const kivPoint centre = c * description * view;
    // A centre that falls on the samples drawn: the hair may reach them.
    hair_raster::ribbon_bounds box(*this);
    box.add(centre, 0.0f);
    if (!box.misses_drawn_samples()) return false;
    // The corners (whose box holds the centre's); a sample more covers the
    // rounding of the points' own transforms and projections.
    kivVector axis[3];
    for (int i = 0; i < 3; ++i)
        axis[i] =
            kivVector(description[i][0], description[i][1], description[i][2]) * view * radius;
    for (int k = 0; k < 8; ++k) {
        const kivVector d = (k & 1 ? axis[0] : -axis[0]) + (k & 2 ? axis[1] : -axis[1]) +
                            (k & 4 ? axis[2] : -axis[2]);
        box.add(centre + kivPoint(d), width);
    }
    box.widen(1.0f);
    return box.misses_drawn_samples();
}
