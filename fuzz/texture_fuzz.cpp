// Texture reader: the format is found from the file's first bytes (PNG,
// IFF, RLA, SGI, PIC), then the file is read into RGBA.
#include <cstdlib>

#include "descriptions/texture_cache.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    korvo_fuzz::quiet();
    const std::string path = korvo_fuzz::scratch_file(data, size, "texture.img");
    tmap_image image;
    if (tmap_default_reader(path.c_str(), image) &&
        image.pixels.size() != std::size_t(image.width) * image.height * 4)
        std::abort();  // the pixels must be what the size promises
    return 0;
}
