#include "imagefile/korvo_image.h"

#include "imagefile/iff_image.h"
#include "imagefile/image_file.h"
#include "imagefile/image_io.h"
#include "imagefile/pic.h"
#include "imagefile/png_file.h"
#include "imagefile/rla.h"
#include "imagefile/sgi.h"

#include <new>
#include <string>

using korvo_host::PictureFormat;

namespace korvo_host {

PictureFormat picture_format_of(const unsigned char* data, std::size_t size) {
    if (!data) return PictureFormat::kUnknown;
    if (iff_is_signature(data, size)) return PictureFormat::kIff;
    if (png_is_signature(data, size)) return PictureFormat::kPng;
    if (size >= 4 && kiv_io::get_u32(data) == kPicMagic) return PictureFormat::kPic;
    if (size >= 2 && kiv_io::get_u16(data) == kSgiMagic) return PictureFormat::kSgi;
    if (rla_looks_like_header(data, size)) return PictureFormat::kRla;
    return PictureFormat::kUnknown;
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
    switch (korvo_host::picture_format_of(bytes.data(), bytes.size())) {
        case PictureFormat::kIff: {
            IffImage image;
            ok = iff_decode(bytes.data(), bytes.size(), image) && image.channels != 0;
            width = unsigned(image.width);
            height = unsigned(image.height);
            pixels.swap(image.rgba);
            break;
        }
        case PictureFormat::kPng: {
            int w = 0, h = 0;
            ok = png_read_rgba(bytes.data(), bytes.size(), w, h, pixels);
            width = unsigned(w);
            height = unsigned(h);
            break;
        }
        case PictureFormat::kRla:
            ok = from_front_end(path, kivFormatRla, width, height, pixels);
            break;
        case PictureFormat::kSgi:
            ok = from_front_end(path, kivFormatRgb, width, height, pixels);
            break;
        case PictureFormat::kPic:
            ok = from_front_end(path, kivFormatPic, width, height, pixels);
            break;
        case PictureFormat::kUnknown:
            break;
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
