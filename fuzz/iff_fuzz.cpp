// IFF reader (the host image library's stand-in): any bytes decode to a
// picture with consistent buffers or are refused.
#include "fuzz_support.h"
#include "imagefile/iff_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    IffImage image;
    std::string error;
    iff_decode(data, size, image, &error);
    return 0;
}
