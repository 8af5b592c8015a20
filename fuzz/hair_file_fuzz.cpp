// Hair description reader: hair_params_init on any text, then a second
// read of the same file (which replaces the descriptions).
#include "text_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    korvo_fuzz::session session;
    const std::string path = korvo_fuzz::scratch_file(data, size, "fur.hair");
    korvo_fuzz::session::run([&] { hair_params_init(path.c_str()); });
    korvo_fuzz::session::run([&] { hair_params_init(path.c_str()); });
    return 0;
}
