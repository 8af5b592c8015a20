// Shadow multipliers. Until maps are read back, every point is fully lit.
#include "render/shadow_map.h"

float smCalcShadowMultForPoint(ShadowMapInfo*, const kivPoint&, float) {
    return 1.0f;
}

float smCalcAutoShadeMult(ShadowMapInfo*, const kivVector&, float) {
    return 1.0f;
}
