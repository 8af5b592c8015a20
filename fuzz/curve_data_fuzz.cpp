// Curve-data reader: any text read as scalars, colours and strings for a
// few frames, or refused.
#include "text_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    korvo_fuzz::session session;
    const std::string path = korvo_fuzz::scratch_file(data, size, "data.crv");
    for (int frame : {1, 3, 1000}) {
        korvo_fuzz::session::run([&] { crvdata_lookup(path.c_str(), 1, frame); });
        korvo_fuzz::session::run([&] { crvdata_lookup_clr(path.c_str(), 1, frame); });
        korvo_fuzz::session::run([&] { crvdata_lookup_str(path.c_str(), 1, frame); });
    }
    return 0;
}
