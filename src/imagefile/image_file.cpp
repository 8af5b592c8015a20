#include "imagefile/image_file.h"

#include "foundation/fur_exception.h"
#include "imagefile/image_formats.h"
#include "imagefile/image_io.h"
#include "imagefile/rla.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

using namespace kiv_io;

namespace {

bool is_valid(const kivImage* image) {
    return image && image->magic == kivImageMagic && image->header && image->rows;
}

void delete_header(kivImage* image) {
    const ImageFormat* format = image_format_of_type(image->format);
    if (format && image->header) format->deleteHeader(image->header);
    image->header = nullptr;
}

void free_image(kivImage* image) {
    if (!image) return;
    if (image->rows) {
        for (int y = 0; y < image->lines; ++y) std::free(image->rows[y]);
        std::free(image->rows);
    }
    delete_header(image);
    image->magic = 0;
    std::free(image);
}

// A new zeroed handle for path, or null when the path does not fit.
kivImage* new_image(const char* path) {
    if (std::strlen(path) >= sizeof(kivImage::path)) {
        std::printf("***** ERROR: File name too long: %s\n", path);
        return nullptr;
    }
    kivImage* image = static_cast<kivImage*>(std::calloc(1, sizeof(kivImage)));
    if (!image) return nullptr;
    std::strcpy(image->path, path);
    image->magic = kivImageMagic;
    return image;
}

kivImage* open_image(const char* path, int type, bool endProcessOnCorrupt) {
    if (!path) return nullptr;
    kivImage* image = new_image(path);
    if (!image) return nullptr;
    image->writing = 0;
    if (type == kivFormatByExtension) type = kivFormatFromExtension(path);
    const ImageFormat* format = image_format_of_type(type);
    if (!format) {
        free_image(image);
        return nullptr;
    }
    image->format = type;

    std::vector<uint8_t> bytes;
    if (!read_file(path, bytes)) {
        free_image(image);
        return nullptr;
    }
    const ReadResult result = format->read(bytes.data(), bytes.size(), image);
    if (result == kReadOk) return image;
    free_image(image);
    if (result == kReadCorrupt && endProcessOnCorrupt) {
        std::fflush(stdout);
        std::exit(0);
    }
    return nullptr;
}

// The channel counts and sizes a format can store; prints why not.
bool creatable(const ImageFormat& format, int lines, int cols, int channels) {
    if (channels > format.maxChannels && format.tooManyChannels) {
        std::printf("%s", format.tooManyChannels);
        return false;
    }
    if (channels < format.minChannels || channels > format.maxChannels) {
        std::printf("Sorry. Only %d to %d channels are allowed for %s images.\n",
                    format.minChannels, format.maxChannels, format.extension);
        return false;
    }
    if (lines < 1 || cols < 1 || lines > format.maxLines || cols > format.maxCols(channels) ||
        !plausible_size(lines, row_bytes(cols, channels), 0, 0)) {
        std::printf("Sorry. A %d x %d image cannot be stored as a %s image.\n", cols, lines,
                    format.extension);
        return false;
    }
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Front end

int kivFormatFromExtension(const char* path) {
    const ImageFormat* format = image_format_of_path(path);
    return format ? format->frontEnd : 0;
}

kivImage* kivOpenImage(const char* path, int type) {
    return open_image(path, type, true);
}

kivImage* kivOpenImageChecked(const char* path, int type) {
    return open_image(path, type, false);
}

kivImage* kivCreateImage(const char* path, int type, int lines, int cols, int bits, float gamma,
                         int channels) {
    if (!path) return nullptr;
    kivImage* image = new_image(path);
    if (!image) return nullptr;
    if (bits != 8) {
        std::printf("Sorry. Only 8 bit images are currently supported.\n");
        free_image(image);
        return nullptr;
    }
    if (type == kivFormatByExtension) type = kivFormatFromExtension(path);
    const ImageFormat* format = image_format_of_type(type);
    if (!format || !creatable(*format, lines, cols, channels)) {
        free_image(image);
        return nullptr;
    }
    image->writing = 1;
    image->format = type;
    image->cols = cols;
    image->lines = lines;
    image->channels = channels;
    image->header = format->makeHeader(path, lines, cols, gamma, channels);
    if (!image->header || !allocate_rows(image)) {
        free_image(image);
        return nullptr;
    }
    return image;
}

namespace {

// Checks a scanline call's arguments.
bool scanline_ok(const kivImage* image, int y, void** chans) {
    if (!is_valid(image) || y < 0 || y >= image->lines || !chans) return false;
    for (int c = 0; c < image->channels; ++c)
        if (!chans[c]) return false;
    return true;
}

}  // namespace

int kivReadScanline(kivImage* image, int y, void** chans) {
    if (!scanline_ok(image, y, chans)) return 0;
    const std::size_t cols = std::size_t(image->cols);
    const unsigned char* row = image->rows[y];
    for (int c = 0; c < image->channels; ++c) {
        if (c < 4)
            std::memcpy(chans[c], row + c * cols, cols);
        else
            std::memcpy(chans[4], row + 4 * cols, 4 * cols);
    }
    return 1;
}

int kivWriteScanline(kivImage* image, int y, void** chans) {
    if (!scanline_ok(image, y, chans)) return 0;
    const std::size_t cols = std::size_t(image->cols);
    unsigned char* row = image->rows[y];
    for (int c = 0; c < image->channels; ++c) {
        if (c < 4)
            std::memcpy(row + c * cols, chans[c], cols);
        else
            std::memcpy(row + 4 * cols, chans[4], 4 * cols);
    }
    return 1;
}

int kivCloseImage(kivImage* image) {
    if (!is_valid(image)) return 0;
    const ImageFormat* format = image_format_of_type(image->format);
    if (image->writing && format) format->write(image);
    free_image(image);
    return 1;
}

int kivDumpHeader(kivImage* image) {
    if (!is_valid(image)) return 0;
    if (const ImageFormat* format = image_format_of_type(image->format))
        format->dumpHeader(image->header);
    return 1;
}

// ---------------------------------------------------------------------------
// u_char_buf

u_char_buf::u_char_buf(int n) : length_(n > 0 ? n : 0), planes_{}, z2_(nullptr), shares_(nullptr) {
    const std::size_t count = std::size_t(length_ > 0 ? length_ : 1);
    for (int c = 0; c < 4; ++c) planes_[c] = std::calloc(count, 1);
    planes_[4] = std::calloc(count, 4);
    z2_ = std::calloc(count, 4);
    shares_ = new (std::nothrow) int(1);
    bool ok = shares_ && z2_;
    for (void* plane : planes_) ok = ok && plane;
    if (!ok) {
        for (void*& plane : planes_) std::free(plane);
        std::free(z2_);
        delete shares_;
        throw FurEFailed("Memory failure");
    }
}

u_char_buf::u_char_buf(const u_char_buf& other)
    : length_(other.length_), z2_(other.z2_), shares_(other.shares_) {
    for (int c = 0; c < 5; ++c) planes_[c] = other.planes_[c];
    ++*shares_;
}

u_char_buf::~u_char_buf() {
    release();
}

u_char_buf& u_char_buf::operator=(const u_char_buf& other) {
    if (this == &other || shares_ == other.shares_) return *this;
    release();
    length_ = other.length_;
    for (int c = 0; c < 5; ++c) planes_[c] = other.planes_[c];
    z2_ = other.z2_;
    shares_ = other.shares_;
    ++*shares_;
    return *this;
}

void u_char_buf::release() {
    if (--*shares_ > 0) return;
    for (void* plane : planes_) std::free(plane);
    std::free(z2_);
    delete shares_;
}

void u_char_buf::rgbm(int i, unsigned char v) {
    for (int c = 0; c < 4; ++c) static_cast<unsigned char*>(planes_[c])[i] = v;
}

// ---------------------------------------------------------------------------
// rx_rla

rx_rla::rx_rla()
    : image_(nullptr),
      reserved0_(0),
      depth_(0),
      reserved1_(0),
      mattes_(0),
      bits_(0),
      gamma_(0.0f),
      shares_(nullptr) {}

rx_rla::rx_rla(const char* name, int lines, int cols, int bits, float gamma, int depth) : rx_rla() {
    depth_ = depth;
    bits_ = bits;
    gamma_ = gamma;
    image_ = kivCreateImage(name, kivFormatRla, lines, cols, bits, gamma, depth ? 5 : 4);
    if (!image_) {
        furFail("Creating the image", "FATAL: Create image.\n");
    }
    shares_ = new int(1);
}

rx_rla::rx_rla(const char* name) : rx_rla() {
    image_ = kivOpenImage(name, kivFormatRla);
    if (!image_) {
        const std::string text = std::string("Error opening image ") + (name ? name : "");
        furFail(text.c_str(), "FATAL: Open image: %s", name ? name : "");
    }
    shares_ = new int(1);
    const RlaHeader& h = *static_cast<const RlaHeader*>(image_->header);
    depth_ = image_->channels == 5 ? 1 : 0;
    mattes_ = h.numMatte;
    bits_ = 8;
    char gamma[sizeof h.gamma + 1] = {};
    std::memcpy(gamma, h.gamma, sizeof h.gamma);
    gamma_ = float(std::atof(gamma));
}

rx_rla::rx_rla(const rx_rla& other)
    : image_(other.image_),
      reserved0_(0),
      depth_(other.depth_),
      reserved1_(0),
      mattes_(other.mattes_),
      bits_(other.bits_),
      gamma_(other.gamma_),
      shares_(other.shares_) {
    if (shares_) ++*shares_;
}

rx_rla& rx_rla::operator=(const rx_rla& other) {
    if (this == &other) return *this;
    if (other.shares_) ++*other.shares_;
    release();
    image_ = other.image_;
    depth_ = other.depth_;
    mattes_ = other.mattes_;
    bits_ = other.bits_;
    gamma_ = other.gamma_;
    shares_ = other.shares_;
    return *this;
}

rx_rla::~rx_rla() {
    release();
}

void rx_rla::release() {
    if (shares_ && --*shares_ == 0) {
        kivCloseImage(image_);
        delete shares_;
    }
    image_ = nullptr;
    shares_ = nullptr;
}

unsigned char* rx_rla::readscan(int y) {
    if (!image_ || y < 0 || y >= image_->lines) return nullptr;
    return image_->rows[y];
}

void rx_rla::writescan(void** chans, int y) {
    if (!kivWriteScanline(image_, y, chans)) {
        furFail("Writing image file", "scanline write error at scan %d\n", y);
    }
}

int rx_rla::Cols() const {
    return image_ ? image_->cols : 0;
}

int rx_rla::Lines() const {
    return image_ ? image_->lines : 0;
}
