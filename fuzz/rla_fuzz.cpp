// RLA reader: any file opened as RLA must give an image or a refusal.
#include "image_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    korvo_fuzz::open_image(data, size, ".rla", kivFormatRla);
    return 0;
}
