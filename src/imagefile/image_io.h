// Helpers shared by the image format readers and writers: big-endian
// packing, a bounds-checked cursor over a file held in memory, row
// allocation with plausibility limits, and whole-file reading and writing.
#pragma once

#include "imagefile/image_file.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace kiv_io {

// Outcome of a format reader.
enum ReadResult {
    kReadOk,       // the image is filled
    kReadFailed,   // unreadable or truncated: the open fails
    kReadCorrupt,  // run-length data that does not fill its row (message printed)
};

// ---------------------------------------------------------------------------
// Big-endian packing.
inline uint16_t get_u16(const uint8_t* p) {
    return uint16_t((p[0] << 8) | p[1]);
}
inline int16_t get_i16(const uint8_t* p) {
    return int16_t(get_u16(p));
}
inline uint32_t get_u32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline float get_f32(const uint8_t* p) {
    uint32_t bits = get_u32(p);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}
inline void set_u16(uint8_t* p, unsigned v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}
inline void set_u32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}
inline void set_f32(uint8_t* p, float f) {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    set_u32(p, bits);
}
inline void put_u16(std::vector<uint8_t>& out, unsigned v) {
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}
inline void put_u32(std::vector<uint8_t>& out, uint32_t v) {
    uint8_t b[4];
    set_u32(b, v);
    out.insert(out.end(), b, b + 4);
}
inline void put_f32(std::vector<uint8_t>& out, float f) {
    uint8_t b[4];
    set_f32(b, f);
    out.insert(out.end(), b, b + 4);
}

// Copies text into a fixed field of n bytes, NUL-padded; at most n - 1
// characters are kept so that the field stays terminated.
inline void set_text(char* field, std::size_t n, const char* text) {
    std::memset(field, 0, n);
    if (text) std::memcpy(field, text, strnlen(text, n - 1));
}

// ---------------------------------------------------------------------------
// Header records. Each format lists its header's fields once, as (offset,
// field) pairs given to a visitor: FieldPacker writes them big-endian at
// their offsets, FieldUnpacker reads them back.
class FieldPacker {
  public:
    explicit FieldPacker(uint8_t* out) : out_(out) {}
    void operator()(int offset, uint8_t v) const { out_[offset] = v; }
    void operator()(int offset, int16_t v) const { set_u16(out_ + offset, uint16_t(v)); }
    void operator()(int offset, uint16_t v) const { set_u16(out_ + offset, v); }
    void operator()(int offset, int32_t v) const { set_u32(out_ + offset, uint32_t(v)); }
    void operator()(int offset, uint32_t v) const { set_u32(out_ + offset, v); }
    void operator()(int offset, float v) const { set_f32(out_ + offset, v); }
    // Text fields are copied whole, terminated or not.
    template <std::size_t N>
    void operator()(int offset, const char (&text)[N]) const {
        std::memcpy(out_ + offset, text, N);
    }

  private:
    uint8_t* out_;
};

class FieldUnpacker {
  public:
    explicit FieldUnpacker(const uint8_t* in) : in_(in) {}
    void operator()(int offset, uint8_t& v) const { v = in_[offset]; }
    void operator()(int offset, int16_t& v) const { v = get_i16(in_ + offset); }
    void operator()(int offset, uint16_t& v) const { v = get_u16(in_ + offset); }
    void operator()(int offset, int32_t& v) const { v = int32_t(get_u32(in_ + offset)); }
    void operator()(int offset, uint32_t& v) const { v = get_u32(in_ + offset); }
    void operator()(int offset, float& v) const { v = get_f32(in_ + offset); }
    template <std::size_t N>
    void operator()(int offset, char (&text)[N]) const {
        std::memcpy(text, in_ + offset, N);
    }

  private:
    const uint8_t* in_;
};

// ---------------------------------------------------------------------------
// A read cursor over bytes in memory; every read checks the remaining size.
class Cursor {
  public:
    Cursor(const uint8_t* data, std::size_t size) : data_(data), size_(size), pos_(0) {}

    std::size_t size() const { return size_; }
    std::size_t pos() const { return pos_; }
    std::size_t remaining() const { return size_ - pos_; }
    bool seek(std::size_t pos) {
        if (pos > size_) return false;
        pos_ = pos;
        return true;
    }
    // Returns a pointer to the next n bytes and moves past them, or null
    // (without moving) when fewer remain.
    const uint8_t* take(std::size_t n) {
        if (n > size_ - pos_) return nullptr;
        const uint8_t* p = data_ + pos_;
        pos_ += n;
        return p;
    }
    bool byte(uint8_t& v) {
        const uint8_t* p = take(1);
        if (!p) return false;
        v = *p;
        return true;
    }
    bool u16(uint16_t& v) {
        const uint8_t* p = take(2);
        if (!p) return false;
        v = get_u16(p);
        return true;
    }
    bool u32(uint32_t& v) {
        const uint8_t* p = take(4);
        if (!p) return false;
        v = get_u32(p);
        return true;
    }

  private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_;
};

// ---------------------------------------------------------------------------
// Rows and files.

// Bytes in one row buffer of an image with this many channels.
std::size_t row_bytes(int cols, int channels);

// Whether lines rows of rowBytes may be allocated: the total must stay
// within kivMaxImageBytes and within `ratio` times the file's length plus
// an allowance, so that a header claiming a huge picture in a small file
// is refused before anything is allocated.
bool plausible_size(std::size_t lines, std::size_t rowBytes, std::size_t fileSize,
                    std::size_t ratio);

// Allocates the image's lines zeroed row buffers (cols, lines and channels
// already set). False when memory runs out; rows allocated so far stay in
// the image and are freed with it.
bool allocate_rows(kivImage* image);

// Reads a whole file. False when it cannot be opened or read.
bool read_file(const char* path, std::vector<uint8_t>& bytes);

// Writes bytes to a new file at path. False on any failure.
bool write_file(const char* path, const std::vector<uint8_t>& bytes);

// Prints the reader's line for a file that cannot be read.
void report_unreadable(const char* format, const char* path, const char* reason);

// Prints the writers' line for a file that could not be written.
void report_write_failure(const char* path);

// The writers' steps. Whether the image has a path and a header to write
// (false after the failure line); the lines for a scanline that cannot be
// encoded, returning 0; and the file written out: 1, or 0 after the
// failure line.
bool writable(const kivImage* image);
int encode_failure(const char* path, int y);
int finish_write(const char* path, const std::vector<uint8_t>& bytes);

}  // namespace kiv_io
