// The image front end under fuzzing: open an input as one format through
// the open that refuses corrupt run-length data (the other open ends the
// process by design), and touch every byte of what it gives.
#pragma once

#include "fuzz_support.h"
#include "imagefile/image_file.h"

namespace korvo_fuzz {

inline void open_image(const uint8_t* data, std::size_t size, const char* suffix, int format) {
    quiet();
    const std::string path = scratch_file(data, size, suffix);
    kivImage* image = kivOpenImageChecked(path.c_str(), format);
    if (!image) return;
    // Every row holds the bytes its channel count promises; a wrong size
    // shows up as a sanitizer report here.
    const std::size_t bytes =
        std::size_t(image->cols) * (image->channels == 5 ? 8 : image->channels);
    unsigned sum = 0;
    for (int y = 0; y < image->lines; ++y)
        for (std::size_t i = 0; i < bytes; ++i) sum += image->rows[y][i];
    __asm__ volatile("" : : "r"(sum));  // the sum is used: the reads stay
    kivCloseImage(image);
}

}  // namespace korvo_fuzz
