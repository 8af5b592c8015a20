#include "render/ribbon_bounds.h"

#include <climits>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
    // ⌊x⌋ < lo exactly when x < lo, and ⌊x⌋ > hi when x ≥ hi + 1 (finite x).
    col_lo_ = static_cast<float>(lim.col_lo()), col_end_ = static_cast<float>(lim.col_hi() + 1);
    row_lo_ = static_cast<float>(lim.row_lo()), row_end_ = static_cast<float>(lim.row_hi() + 1);
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

// ribbon_bounds::misses_drawn_samples without the rounding down: the box
// holds finite values only.
bool unshaped_hair_bound::misses(const box& b) const {
    return b.x1 < col_lo_ || b.x0 >= col_end_ || b.y1 < row_lo_ || b.y0 >= row_end_;
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
    if (!add_corners(centre, axis, width, b)) return false;
    b.x0 -= 1.0f, b.y0 -= 1.0f, b.x1 += 1.0f, b.y1 += 1.0f;
    return misses(b);
}

#if defined(__SSE2__)

// Four corners at a time: lane k of the low half holds corner k, of the
// high half corner k + 4. Every operation is add's, in its order, and SSE
// rounds lane by lane as the scalar operations do, so the box is add's
// (its lows and highs over finite values do not depend on their order).
bool unshaped_hair_bound::add_corners(const kivPoint& centre, const kivVector* axis, float width,
                                      box& b) const {
    const __m128 sign = _mm_set1_ps(-0.0f);
    // The signs of the first axis (bit 0 of k) and the second (bit 1).
    const __m128 s0 = _mm_castsi128_ps(_mm_set_epi32(0, INT_MIN, 0, INT_MIN));
    const __m128 s1 = _mm_castsi128_ps(_mm_set_epi32(0, 0, INT_MIN, INT_MIN));
    __m128 p[2][3];  // [half][x, y, z]
    const float kivVector::*coord[3] = {&kivVector::x, &kivVector::y, &kivVector::z};
    const float c[3] = {centre.x, centre.y, centre.z};
    for (int i = 0; i < 3; ++i) {
        const float a0 = axis[0].*coord[i], a1 = axis[1].*coord[i], a2 = axis[2].*coord[i];
        const __m128 d =
            _mm_add_ps(_mm_xor_ps(_mm_set1_ps(a0), s0), _mm_xor_ps(_mm_set1_ps(a1), s1));
        p[0][i] = _mm_add_ps(_mm_set1_ps(c[i]), _mm_add_ps(d, _mm_set1_ps(-a2)));
        p[1][i] = _mm_add_ps(_mm_set1_ps(c[i]), _mm_add_ps(d, _mm_set1_ps(a2)));
    }
    const __m128 infinity = _mm_set1_ps(INFINITY);
    const auto finite = [&](__m128 v) { return _mm_cmplt_ps(_mm_andnot_ps(sign, v), infinity); };
    __m128 lo_x = infinity, lo_y = infinity, hi_x = _mm_xor_ps(infinity, sign), hi_y = hi_x;
    for (const auto& q : p) {
        const __m128 k = _mm_div_ps(_mm_set1_ps(-focal_), q[2]);
        const __m128 x = _mm_sub_ps(
            _mm_add_ps(_mm_mul_ps(_mm_sub_ps(_mm_mul_ps(q[0], k), _mm_set1_ps(xscale_.nlow)),
                                  _mm_set1_ps(xscale_.scale)),
                       _mm_set1_ps(xscale_.rlow)),
            _mm_set1_ps(lx_));
        const __m128 y = _mm_sub_ps(
            _mm_add_ps(_mm_mul_ps(_mm_sub_ps(_mm_mul_ps(q[1], k), _mm_set1_ps(yscale_.nlow)),
                                  _mm_set1_ps(yscale_.scale)),
                       _mm_set1_ps(yscale_.rlow)),
            _mm_set1_ps(ly_));
        const __m128 reach = _mm_add_ps(
            _mm_mul_ps(_mm_div_ps(_mm_set1_ps(3.0f * std::fabs(width)), _mm_xor_ps(q[2], sign)),
                       _mm_set1_ps(scale_)),
            _mm_set1_ps(1.0f));
        const __m128 ok =
            _mm_and_ps(_mm_and_ps(_mm_cmple_ps(q[2], _mm_set1_ps(hair_raster::kNear)), finite(x)),
                       _mm_and_ps(finite(y), finite(reach)));
        if (_mm_movemask_ps(ok) != 0xF) return false;
        lo_x = _mm_min_ps(lo_x, _mm_sub_ps(x, reach));
        lo_y = _mm_min_ps(lo_y, _mm_sub_ps(y, reach));
        hi_x = _mm_max_ps(hi_x, _mm_add_ps(x, reach));
        hi_y = _mm_max_ps(hi_y, _mm_add_ps(y, reach));
    }
    float v[4][4];
    _mm_storeu_ps(v[0], lo_x), _mm_storeu_ps(v[1], lo_y);
    _mm_storeu_ps(v[2], hi_x), _mm_storeu_ps(v[3], hi_y);
    for (int k = 0; k < 4; ++k) {
        b.x0 = v[0][k] < b.x0 ? v[0][k] : b.x0;
        b.y0 = v[1][k] < b.y0 ? v[1][k] : b.y0;
        b.x1 = v[2][k] > b.x1 ? v[2][k] : b.x1;
        b.y1 = v[3][k] > b.y1 ? v[3][k] : b.y1;
    }
    return true;
}

#else

bool unshaped_hair_bound::add_corners(const kivPoint& centre, const kivVector* axis, float width,
                                      box& b) const {
    for (int k = 0; k < 8; ++k) {
        const kivVector d = (k & 1 ? axis[0] : -axis[0]) + (k & 2 ? axis[1] : -axis[1]) +
                            (k & 4 ? axis[2] : -axis[2]);
        if (!add(centre + kivPoint(d), width, b, false)) return false;
    }
    return true;
}

#endif
