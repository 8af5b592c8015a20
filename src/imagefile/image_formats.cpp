#include "imagefile/image_formats.h"

#include "imagefile/iff_image.h"
#include "imagefile/image_file.h"
#include "imagefile/pic.h"
#include "imagefile/png_file.h"
#include "imagefile/rla.h"
#include "imagefile/sgi.h"

#include <cstring>
#include <iterator>
#include <new>

using korvo_host::PictureFormat;

namespace {

// --- Front-end header hooks, one set per format ---------------------------------

template <class Header>
void delete_header(void* header) {
    delete static_cast<Header*>(header);
}

void* make_rla(const char* path, int lines, int cols, float gamma, int channels) {
    RlaHeader* h = new (std::nothrow) RlaHeader;
    if (h) rla_make_header(*h, path, lines, cols, gamma, channels == 5);
    return h;
}
void* make_pic(const char*, int lines, int cols, float, int channels) {
    PicHeader* h = new (std::nothrow) PicHeader;
    if (h) pic_make_header(*h, lines, cols, channels);
    return h;
}
void* make_sgi(const char* path, int lines, int cols, float, int channels) {
    SgiHeader* h = new (std::nothrow) SgiHeader;
    if (h) sgi_make_header(*h, path, lines, cols, channels);
    return h;
}

void dump_rla(const void* h) {
    rla_dump_header(*static_cast<const RlaHeader*>(h));
}
void dump_pic(const void* h) {
    pic_dump_header(*static_cast<const PicHeader*>(h));
}
void dump_sgi(const void* h) {
    sgi_dump_header(*static_cast<const SgiHeader*>(h));
}

// RLA keeps sizes in signed 16-bit fields and a depth scanline's byte count
// in 16 bits; PIC and SGI keep sizes in unsigned 16-bit fields.
int rla_max_cols(int channels) {
    return channels == 5 ? 16383 : 32767;
}
int u16_max_cols(int) {
    return 65535;
}

// --- Magic bytes ------------------------------------------------------------------

bool is_pic(const uint8_t* data, std::size_t size) {
    return size >= 4 && kiv_io::get_u32(data) == kPicMagic;
}
bool is_sgi(const uint8_t* data, std::size_t size) {
    return size >= 2 && kiv_io::get_u16(data) == kSgiMagic;
}

// --- Formats read straight to RGBA --------------------------------------------------

bool decode_iff(const uint8_t* data, std::size_t size, unsigned& width, unsigned& height,
                std::vector<unsigned char>& rgba) {
    IffImage image;
    if (!iff_decode(data, size, image) || image.channels == 0) return false;
    width = unsigned(image.width);
    height = unsigned(image.height);
    rgba.swap(image.rgba);
    return true;
}

bool decode_png(const uint8_t* data, std::size_t size, unsigned& width, unsigned& height,
                std::vector<unsigned char>& rgba) {
    int w = 0, h = 0;
    if (!png_read_rgba(data, size, w, h, rgba)) return false;
    width = unsigned(w);
    height = unsigned(h);
    return true;
}

// --- RGBA writers ---------------------------------------------------------------------

bool write_iff(const char* path, int width, int height, const unsigned char* rgba) {
    if (width < 1 || height < 1 || !rgba) return false;
    IffImage image;
    image.width = width;
    image.height = height;
    image.channels = 4;
    image.rgba.assign(rgba, rgba + std::size_t(width) * height * 4);
    std::vector<uint8_t> bytes;
    return iff_encode(image, true, bytes) && kiv_io::write_file(path, bytes);
}

// Through the front end: a 4-channel image whose scanline y is RGBA row y.
template <int kFrontEnd>
bool write_front_end(const char* path, int width, int height, const unsigned char* rgba) {
    if (width < 1 || height < 1 || !rgba) return false;
    kivImage* image = kivCreateImage(path, kFrontEnd, height, width, 8, 1.0f, 4);
    if (!image) return false;
    std::vector<unsigned char> planes(std::size_t(width) * 4);
    void* chans[4];
    for (int c = 0; c < 4; ++c) chans[c] = planes.data() + std::size_t(c) * width;
    bool ok = true;
    for (int y = 0; y < height && ok; ++y) {
        const unsigned char* row = rgba + std::size_t(y) * width * 4;
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 4; ++c) planes[std::size_t(c) * width + x] = row[x * 4 + c];
        ok = kivWriteScanline(image, y, chans) != 0;
    }
    return kivCloseImage(image) && ok;
}

// --- The table ------------------------------------------------------------------------

const ImageFormat kFormats[] = {
    {"IFF", PictureFormat::kIff, 0, ".iff", iff_is_signature, 0, 0, nullptr, 0, nullptr, nullptr,
     nullptr, nullptr, nullptr, nullptr, decode_iff, write_iff},
    {"PNG", PictureFormat::kPng, 0, ".png", png_is_signature, 0, 0, nullptr, 0, nullptr, nullptr,
     nullptr, nullptr, nullptr, nullptr, decode_png, png_write_rgba},
    {"PIC", PictureFormat::kPic, kivFormatPic, ".pic", is_pic, 3, 4,
     "Sorry. Only 4 channels or less are allowed for .pic images.\n", 65535, u16_max_cols, pic_read,
     make_pic, delete_header<PicHeader>, dump_pic, pic_write, nullptr,
     write_front_end<kivFormatPic>},
    {"SGI", PictureFormat::kSgi, kivFormatRgb, ".rgb", is_sgi, 1, 4, nullptr, 65535, u16_max_cols,
     sgi_read, make_sgi, delete_header<SgiHeader>, dump_sgi, sgi_write, nullptr,
     write_front_end<kivFormatRgb>},
    {"RLA", PictureFormat::kRla, kivFormatRla, ".rla", rla_looks_like_header, 3, 5, nullptr, 32767,
     rla_max_cols, rla_read, make_rla, delete_header<RlaHeader>, dump_rla, rla_write, nullptr,
     write_front_end<kivFormatRla>},
};

}  // namespace

const ImageFormat* image_formats_begin() {
    return std::begin(kFormats);
}

const ImageFormat* image_formats_end() {
    return std::end(kFormats);
}

const ImageFormat* image_format_of_type(int frontEnd) {
    if (frontEnd == 0) return nullptr;
    for (const ImageFormat& f : kFormats)
        if (f.frontEnd == frontEnd) return &f;
    return nullptr;
}

const ImageFormat* image_format_of_path(const char* path) {
    if (!path) return nullptr;
    const std::size_t length = std::strlen(path);
    for (const ImageFormat& f : kFormats) {
        const std::size_t n = std::strlen(f.extension);
        if (length >= n && std::strcmp(path + length - n, f.extension) == 0) return &f;
    }
    return nullptr;
}

const ImageFormat* image_format_of_bytes(const uint8_t* data, std::size_t size) {
    if (!data) return nullptr;
    for (const ImageFormat& f : kFormats)
        if (f.detect(data, size)) return &f;
    return nullptr;
}
