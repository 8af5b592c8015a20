#include "render/scan_convert.h"

#include "foundation/render_settings.h"
#include "foundation/vector_lanes.h"

namespace scan {

namespace {

int g_lanes = simd::cpu_has_avx2() ? 8 : 4;

}  // namespace

int use_lanes(int limit) {
    g_lanes = limit >= 8 && simd::cpu_has_avx2() ? 8 : 4;
    return g_lanes;
}

int lanes() {
    return g_lanes;
}

limits limits::window(int cols, int lines) {
    limits l;
    l.cols = cols;
    l.lines = lines;
    l.region_on = defs.region_on != 0;
    for (int i = 0; i < 4; ++i) l.region[i] = defs.region[i];
    return l;
}

}  // namespace scan
