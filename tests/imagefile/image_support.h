// Helpers shared by the image file tests: files, big-endian fields, test
// pictures, and reference decoders of the run-length codes written from the
// file formats' descriptions (independent of the library's readers).
#pragma once

#include "imagefile/image_file.h"
#include "test_support.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

namespace image_test {

using Bytes = std::vector<uint8_t>;

// A temporary file, removed when it goes out of scope.
struct TempFile {
    const std::string path;
    explicit TempFile(const std::string& suffix) : path(temp_path(suffix)) {}
    ~TempFile() { std::remove(path.c_str()); }
    const char* c_str() const { return path.c_str(); }
};

inline Bytes read_bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_bytes(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline uint16_t be16(const Bytes& b, std::size_t at) {
    return uint16_t((b.at(at) << 8) | b.at(at + 1));
}
inline uint32_t be32(const Bytes& b, std::size_t at) {
    return uint32_t(be16(b, at)) << 16 | be16(b, at + 2);
}
inline std::string text_at(const Bytes& b, std::size_t at, std::size_t n) {
    std::string s(reinterpret_cast<const char*>(b.data() + at), n);
    return s.substr(0, s.find('\0'));
}

// A picture of w x h pixels of ch bytes, interleaved, bottom row first.
struct Picture {
    int w = 0, h = 0, ch = 0;
    Bytes px;
    uint8_t& at(int x, int y, int c) { return px[(std::size_t(y) * w + x) * ch + c]; }
    uint8_t at(int x, int y, int c) const { return px[(std::size_t(y) * w + x) * ch + c]; }
    bool operator==(const Picture& o) const {
        return w == o.w && h == o.h && ch == o.ch && px == o.px;
    }
};

// A random picture: runs of random length (short and longer than every
// code's packet) mixed with noise, so that every kind of packet is written.
inline Picture random_picture(int w, int h, int ch, std::mt19937& rng) {
    Picture p{w, h, ch, Bytes(std::size_t(w) * h * ch)};
    for (std::size_t i = 0; i < p.px.size();) {
        const std::size_t run = rng() % 3 == 0 ? 1 + rng() % 300 : 1;
        const uint8_t v = uint8_t(rng());
        for (std::size_t k = 0; k < run && i < p.px.size(); ++k, ++i)
            p.px[i] = run > 1 && rng() % 8 == 0 ? uint8_t(rng()) : v;
    }
    return p;
}

// The picture with only its first n channels, or padded with 255.
inline Picture with_channels(const Picture& p, int n) {
    Picture q{p.w, p.h, n, Bytes(std::size_t(p.w) * p.h * n, 255)};
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x)
            for (int c = 0; c < std::min(n, p.ch); ++c) q.at(x, y, c) = p.at(x, y, c);
    return q;
}

// Writes a picture through the front end (rows of planar channels); true
// when the close wrote it.
inline bool write_front_end(const std::string& path, int type, const Picture& p) {
    kivImage* image = kivCreateImage(path.c_str(), type, p.h, p.w, 8, 1.0f, p.ch);
    for (int y = 0; image && y < p.h; ++y)
        for (int c = 0; c < p.ch; ++c)
            for (int x = 0; x < p.w; ++x) image->rows[y][c * p.w + x] = p.at(x, y, c);
    return image && kivCloseImage(image) == 1 && !read_bytes(path).empty();
}

// Reads a file through the checked open; an empty picture on failure.
inline Picture read_front_end(const std::string& path, int type = 0) {
    kivImage* image = kivOpenImageChecked(path.c_str(), type);
    if (!image) return {};
    const int ch = std::min(image->channels, 4);
    Picture p{image->cols, image->lines, ch, Bytes(std::size_t(image->cols) * image->lines * ch)};
    for (int y = 0; y < p.h; ++y)
        for (int c = 0; c < ch; ++c)
            for (int x = 0; x < p.w; ++x) p.at(x, y, c) = image->rows[y][c * p.w + x];
    kivCloseImage(image);
    return p;
}

// --- Reference decoders of the run-length codes. A packet is a count of
// units, either literal or one unit repeated.
struct Packet {
    std::size_t count;
    bool literal;
};

// Decodes `want` units of `unit` bytes from b at pos (advanced) into out;
// packet(b, pos) reads one control. False when the code overruns the row.
template <typename P>
bool run_decode(const Bytes& b, std::size_t& pos, std::size_t want, int unit, Bytes& out,
                P packet) {
    for (std::size_t got = 0; got < want;) {
        const Packet k = packet(b, pos);
        if (k.count == 0 || (got += k.count) > want) return false;
        for (std::size_t i = 0; i < k.count; ++i)
            for (int u = 0; u < unit; ++u)
                out.push_back(b.at(pos + (k.literal ? i * unit : 0) + u));
        pos += (k.literal ? k.count : 1) * unit;
    }
    return true;
}

// RLA: a signed n >= 0 repeats n + 1 times, n < 0 gives -n literals.
inline Packet rla_packet(const Bytes& b, std::size_t& pos) {
    const int n = int8_t(b.at(pos++));
    return n >= 0 ? Packet{n + 1u, false} : Packet{std::size_t(-n), true};
}
// SGI: with the high bit (c & 0x7F) literals, else c repeats.
inline Packet sgi_packet(const Bytes& b, std::size_t& pos) {
    const int c = b.at(pos++);
    return {std::size_t(c & 0x7F), (c & 0x80) != 0};
}
// PIC: n < 128 gives n + 1 literals, 128 a 16-bit count of repeats, n > 128
// n - 127 repeats.
inline Packet pic_packet(const Bytes& b, std::size_t& pos) {
    const int n = b.at(pos++);
    if (n == 128) return pos += 2, Packet{be16(b, pos - 2), false};
    return n < 128 ? Packet{n + 1u, true} : Packet{n - 127u, false};
}
// IFF: with the high bit (c & 0x7F) + 1 repeats, else c + 1 literals.
inline Packet iff_packet(const Bytes& b, std::size_t& pos) {
    const int c = b.at(pos++);
    return {(c & 0x7Fu) + 1, (c & 0x80) == 0};
}

}  // namespace image_test
