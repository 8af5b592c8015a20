#include "imagefile/korvo_image.h"

#include "imagefile/image_file.h"
#include "imagefile/image_formats.h"
#include "imagefile/image_io.h"

#include <new>
#include <string>

using korvo_host::PictureFormat;

namespace korvo_host {

PictureFormat picture_format_of(const unsigned char* data, std::size_t size) {
    const ImageFormat* format = image_format_of_bytes(data, size);
    return format ? format->picture : PictureFormat::kUnknown;
}

}  // namespace korvo_host

namespace {

// Converts the rows of a front-end image (row 0 the bottom) to RGBA.
bool from_front_end(const char* path, int format, unsigned int& width, unsigned int& height,
                    std::vector<unsigned char>& pixels) {
    kivImage* image = kivOpenImageChecked(path, format);
    if (!image) return false;
    const std::size_t cols = std::size_t(image->cols);
    const int channels = image->channels;
    try {
        pixels.assign(cols * image->lines * 4, 255);
    } catch (const std::bad_alloc&) {
        kivCloseImage(image);
        return false;
    }
    unsigned char* out = pixels.data();
    for (int y = 0; y < image->lines; ++y) {
        const unsigned char* row = image->rows[y];
        for (std::size_t x = 0; x < cols; ++x, out += 4) {
            if (channels >= 3) {
                for (int c = 0; c < 3; ++c) out[c] = row[c * cols + x];
                if (channels >= 4) out[3] = row[3 * cols + x];
            } else {
                out[0] = out[1] = out[2] = row[x];
                if (channels == 2) out[3] = row[cols + x];
            }
        }
    }
    width = unsigned(image->cols);
    height = unsigned(image->lines);
    kivCloseImage(image);
    return true;
}

}  // namespace

KorvoImage::KorvoImage() : width_(0), height_(0) {}

KorvoStatus KorvoImage::readFromFile(const KorvoString& pathName, KorvoPixelType type) {
    width_ = height_ = 0;
    pixels_.clear();
    if (type != kByte)
        return KorvoStatus(KorvoStatus::kInvalidParameter, "only byte pixels can be read");
    const char* path = pathName.asChar();
    std::vector<uint8_t> bytes;
    if (!kiv_io::read_file(path, bytes))
        return KorvoStatus(KorvoStatus::kFailure, "cannot open the file");

    bool ok = false;
    unsigned int width = 0, height = 0;
    std::vector<unsigned char> pixels;
    // Formats outside the front end decode the bytes; the others are opened
    // through the front end.
    if (const ImageFormat* format = image_format_of_bytes(bytes.data(), bytes.size())) {
        if (format->decodeRgba)
            ok = format->decodeRgba(bytes.data(), bytes.size(), width, height, pixels);
        else
            ok = from_front_end(path, format->frontEnd, width, height, pixels);
    }
    if (!ok) return KorvoStatus(KorvoStatus::kFailure, "cannot read the picture");
    width_ = width;
    height_ = height;
    pixels_.swap(pixels);
    return KorvoStatus();
}

KorvoStatus KorvoImage::getSize(unsigned int& width, unsigned int& height) const {
    width = width_;
    height = height_;
    return KorvoStatus();
}

unsigned char* KorvoImage::pixels() {
    return pixels_.empty() ? nullptr : pixels_.data();
}

const unsigned char* KorvoImage::pixels() const {
    return pixels_.empty() ? nullptr : pixels_.data();
}
