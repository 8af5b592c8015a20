// Guide-curve reader: any text read as OBJ polylines, or refused with
// "<file>:<line>: <reason>"; an accepted file gives curves of two points or
// more.
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "readers/guide_curves.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    korvo_fuzz::quiet();
    const std::string path = korvo_fuzz::scratch_file(data, size, "curves.obj");
    std::vector<guide_curve> curves;
    std::string error;
    const bool ok = guide_curves_read(path.c_str(), curves, error);
    if (!ok && error.compare(0, path.size(), path) != 0) std::abort();
    for (const guide_curve& c : curves)
        if (c.points.size() < 2) std::abort();
    return 0;
}
