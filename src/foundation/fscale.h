// Linear range mapping and depth quantisation.
#pragma once

#include <cstdint>
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

// kivFscale maps the n range [nlow, nhigh] linearly onto the r range
// [rlow, rhigh] and back; the camera uses it to map pixel ranges onto its
// screen window.
class kivFscale {
  public:
    float scale;
    float rlow, rhigh;
    float nlow, nhigh;

    constexpr kivFscale() : scale(0.0f), rlow(0.0f), rhigh(0.0f), nlow(0.0f), nhigh(0.0f) {}
    // Stores the ends and scale = (rhigh - rlow) / (nhigh - nlow).
    kivFscale(float n_low, float n_high, float r_low, float r_high);

    // From the r range to the n range: (r - rlow) / scale + nlow.
    float r_to_n(float r) const { return (r - rlow) / scale + nlow; }
    // From the n range to the r range: (n - nlow) * scale + rlow.
    float n_to_r(float n) const { return (n - nlow) * scale + rlow; }
};

// zcalc quantises eye distances in [near, far] to unsigned 32-bit depths in
// which larger means nearer: near gives 0xFFFFFFFF, far gives 0.
class zcalc {
  public:
    float near;
    float far;

    constexpr zcalc() : near(0.0f), far(0.0f) {}
    constexpr zcalc(float z_near, float z_far) : near(z_near), far(z_far) {}

    // The depth of z, clamped to [near, far]; 0 when near equals far.
    std::uint32_t zdepth(float z) const {
        if (near == far) return 0;
        if (z < near) {
            z = near;
        } else if (z > far) {
            z = far;
        }
        const float d = (z - near) / (far - near);
        // d lies in [0, 1] for any ordered range; a NaN depth gives the far value.
        if (!(d >= 0.0f && d <= 1.0f)) return 0;
        return static_cast<std::uint32_t>((1.0 - d) * 4294967295.0 + 0.5);
    }
};

KORVO_EXPORT_END
