#include "imagefile/png_file.h"

#include "imagefile/image_file.h"

#include <png.h>

#include <cstring>
#include <new>

namespace {

bool fail(std::string* error, const char* reason) {
    if (error) *error = reason;
    return false;
}

// A deflate stream expands at most about 1032 to 1, and a byte holds at
// most 8 pixels of a 1-bit picture.
constexpr std::size_t kMaxPixelsPerByte = 8 * 1040;

}  // namespace

bool png_is_signature(const unsigned char* data, std::size_t size) {
    return size >= 8 && png_sig_cmp(data, 0, 8) == 0;
}

bool png_read_rgba(const unsigned char* data, std::size_t size, int& width, int& height,
                   std::vector<unsigned char>& rgbaBottomFirst, std::string* error) {
    if (!data || !png_is_signature(data, size)) return fail(error, "not a PNG picture");
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data, size)) {
        fail(error, image.message);
        png_image_free(&image);
        return false;
    }
    const std::size_t pixels = std::size_t(image.width) * image.height;
    if (image.width == 0 || image.height == 0 || image.width > 65535 || image.height > 65535 ||
        pixels / kMaxPixelsPerByte > size || pixels * 4 > kivMaxImageBytes) {
        png_image_free(&image);
        return fail(error, "the picture is too large for the file");
    }
    // Sixteen-bit values without gamma information are taken as they are
    // encoded, not as linear light.
    image.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
    image.format = PNG_FORMAT_RGBA;
    std::vector<unsigned char> pixelsOut;
    try {
        pixelsOut.resize(pixels * 4);
    } catch (const std::bad_alloc&) {
        png_image_free(&image);
        return fail(error, "out of memory");
    }
    // A negative stride stores the bottom row first.
    const png_int_32 stride = -png_int_32(image.width * 4);
    if (!png_image_finish_read(&image, nullptr, pixelsOut.data(), stride, nullptr)) {
        fail(error, image.message);
        png_image_free(&image);
        return false;
    }
    width = int(image.width);
    height = int(image.height);
    rgbaBottomFirst.swap(pixelsOut);
    return true;
}

bool png_write_rgba(const char* path, int width, int height, const unsigned char* rgbaBottomFirst) {
    if (!path || !rgbaBottomFirst || width < 1 || height < 1 || width > 65535 || height > 65535)
        return false;
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = png_uint_32(width);
    image.height = png_uint_32(height);
    image.format = PNG_FORMAT_RGBA;
    const png_int_32 stride = -png_int_32(width * 4);
    const int ok = png_image_write_to_file(&image, path, 0, rgbaBottomFirst, stride, nullptr);
    png_image_free(&image);
    return ok != 0;
}
