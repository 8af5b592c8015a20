// Assignment reader: assdb_readfile on any text, then a lookup of every
// model name it may have given hair to.
#include "text_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    korvo_fuzz::session session;
    const std::string path = korvo_fuzz::scratch_file(data, size, "fur.assign");
    korvo_fuzz::session::run([&] { assdb_readfile(path.c_str()); });
    return 0;
}
