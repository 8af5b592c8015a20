// PNG reader: any bytes decode to width x height RGBA pixels or are refused.
#include <cstdlib>
#include <vector>

#include "fuzz_support.h"
#include "imagefile/png_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    korvo_fuzz::quiet();
    int width = 0, height = 0;
    std::vector<unsigned char> rgba;
    std::string error;
    if (png_read_rgba(data, size, width, height, rgba, &error) &&
        rgba.size() != std::size_t(width) * height * 4)
        std::abort();  // the pixels must be what the size promises
    return 0;
}
