#include "render/atmosphere.h"

#include <cstdio>

#include "descriptions/hair_records.h"
#include "host/random48.h"

namespace {

// The recorded atmosphere; owned by the hair description reader.
hair_atmos* g_atmos = nullptr;

// 0 up to start, 1 from end on, linear between.
float ramp(const hair_atmos& a, float z) {
    if (z <= a.start) return 0.0f;
    if (z >= a.end) return 1.0f;
    return (z - a.start) / (a.end - a.start);
}

}  // namespace

int atmosdb_init(hair_atmos* atmos) {
    if (atmos == nullptr) return 0;
    if (g_atmos != nullptr) {
        std::printf("WARNING: atmosphere already defined, ignoring subsequent def.\n");
        return 0;
    }
    g_atmos = atmos;
    return 1;
}

int atmosdb_is_defined() {
    return g_atmos != nullptr ? 1 : 0;
}

void atmosdb_done() {
    g_atmos = nullptr;
}

int atmosdb_init_eval(double u, double v) {
    if (g_atmos == nullptr) return 0;
    hair_state hs;
    hs.u = u;
    hs.v = v;
    korvo_host::srand48(static_cast<long>(u * 213.0 + v * 501.0));
    for (double& r : hs.rand) r = korvo_host::drand48();

    hair_atmos& a = *g_atmos;
    a.start = a.start_param.eval(hs);
    if (a.start < 0.0f) a.start = 0.0f;
    a.end = a.end_param.eval(hs);
    if (a.end < 0.0f) a.end = 0.0f;
    a.color = a.color_param.eval(hs);
    a.transparency = a.transparency_param.eval(hs);
    return 1;
}

kivColor atmosdb_eval(int n, const float* depths, const float* weights, float bg_depth,
                      float bg_weight) {
    if (g_atmos == nullptr) return kivColor();
    const hair_atmos& a = *g_atmos;
    float covered = 0.0f, fog = 0.0f;
    for (int i = 0; i < n && fog < 1.0f; ++i) {
        covered += weights[i];
        fog += weights[i] * ramp(a, depths[i]);
    }
    // A depth that is not a number counts as a background.
    if (bg_depth != 0.0f && fog < 1.0f) fog += (1.0f - covered) * ramp(a, bg_depth) * bg_weight;
    fog *= 1.0f - a.transparency;
    return kivColor(fog * a.color.r, fog * a.color.g, fog * a.color.b, fog);
}
