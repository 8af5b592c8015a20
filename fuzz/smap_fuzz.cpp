// Shadow map reader: any bytes opened as a .smap file, its four maps
// checked end to end when it opens, or refused with a message or
// FurEFailed.
#include "descriptions/assign_db.h"
#include "foundation/fur_exception.h"
#include "fuzz_support.h"
#include "render/shadow_map_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    korvo_fuzz::quiet();
    const std::string path = korvo_fuzz::scratch_file(data, size, "map.smap");
    ShadowMap map{};
    map.encoding = -1;
    try {
        if (smOpen(path.c_str(), &map) == 1) {
            // Every value of an opened map is readable.
            float sum = 0.0f;
            for (float* m : map.maps)
                for (long i = 0; i < static_cast<long>(map.lines) * map.cols; ++i) sum += m[i];
            volatile float keep = sum;
            (void)keep;
        }
    } catch (const FurException&) {
    }
    smClose(&map);
    return 0;
}
