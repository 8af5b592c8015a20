#include "render/scan_convert.h"

#include "foundation/render_settings.h"

namespace scan {

limits limits::window(int cols, int lines) {
    limits l;
    l.cols = cols;
    l.lines = lines;
    l.region_on = defs.region_on != 0;
    for (int i = 0; i < 4; ++i) l.region[i] = defs.region[i];
    return l;
}

}  // namespace scan
