// SGI RGB reader: any file opened as RGB must give an image or a refusal.
#include "image_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    korvo_fuzz::open_image(data, size, ".rgb", kivFormatRgb);
    return 0;
}
