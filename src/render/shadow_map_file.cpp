// The shadow map file: the text header, run-length encoded big-endian float
// scanlines, and the reader that refuses damaged files before allocating.
#include "render/shadow_map_file.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <string>

#include "foundation/fur_exception.h"

const char* const kSmapComment[4] = {"#\n", "# Hair Renderer Shadow Map\n", "# Velmora, Inc.\n",
                                     "#\n"};

namespace {

// Floats travel as 4-byte big-endian IEEE values.
void put_be(float v, unsigned char* out) {
    std::uint32_t u;
    std::memcpy(&u, &v, 4);
    out[0] = static_cast<unsigned char>(u >> 24);
    out[1] = static_cast<unsigned char>(u >> 16);
    out[2] = static_cast<unsigned char>(u >> 8);
    out[3] = static_cast<unsigned char>(u);
}

float get_be(const unsigned char* in) {
    const std::uint32_t u = (std::uint32_t(in[0]) << 24) | (std::uint32_t(in[1]) << 16) |
                            (std::uint32_t(in[2]) << 8) | std::uint32_t(in[3]);
    float v;
    std::memcpy(&v, &u, 4);
    return v;
}

// Writes n floats big-endian; false when the write fails.
bool write_floats(std::FILE* file, const float* v, int n) {
    unsigned char chunk[1024];
    int done = 0;
    while (done < n) {
        const int k = n - done < 256 ? n - done : 256;
        for (int i = 0; i < k; ++i) put_be(v[done + i], chunk + 4 * i);
        if (std::fwrite(chunk, 4, static_cast<std::size_t>(k), file) != static_cast<std::size_t>(k))
            return false;
        done += k;
    }
    return true;
}

// Reads n big-endian floats into v; false at the end of the file.
bool read_floats(std::FILE* file, float* v, int n) {
    unsigned char chunk[1024];
    int done = 0;
    while (done < n) {
        const int k = n - done < 256 ? n - done : 256;
        if (std::fread(chunk, 4, static_cast<std::size_t>(k), file) != static_cast<std::size_t>(k))
            return false;
        for (int i = 0; i < k; ++i) v[done + i] = get_be(chunk + 4 * i);
        done += k;
    }
    return true;
}

[[noreturn]] void mismatch(int n, long long decoded) {
    std::printf("HEY MAN! I don't have %d bytes in my SHADOW rle buffer. I have %lld bytes.\n", n,
                decoded);
    throw FurEFailed("Bytes mis-matched in SHADOW rle buffer.");
}

// The encoded scanlines read through a buffer of their own: a decode takes
// one or two values at a time, which through stdio would cost a locked call
// each. Unread bytes are handed back to the stream at the end.
class value_reader {
  public:
    explicit value_reader(std::FILE* file) : file_(file) {}
    ~value_reader() {
        if (end_ > pos_) std::fseek(file_, -static_cast<long>(end_ - pos_), SEEK_CUR);
    }
    value_reader(const value_reader&) = delete;
    value_reader& operator=(const value_reader&) = delete;
    // n big-endian floats into v; false when the stream ends first.
    bool read(float* v, long long n) {
        for (long long i = 0; i < n; ++i) {
            if (end_ - pos_ < 4 && !refill()) return false;
            v[i] = get_be(buf_ + pos_);
            pos_ += 4;
        }
        return true;
    }

  private:
    bool refill() {
        const std::size_t keep = end_ - pos_;
        std::memmove(buf_, buf_ + pos_, keep);
        pos_ = 0;
        end_ = keep + std::fread(buf_ + keep, 1, sizeof buf_ - keep, file_);
        return end_ >= 4;
    }
    std::FILE* file_;
    unsigned char buf_[1 << 16];
    std::size_t pos_ = 0, end_ = 0;
};

// Decodes one scanline of n values into out.
int decode_scanline(value_reader& file, float* out, int n) {
    int filled = 0;
    while (filled < n) {
        float c;
        if (!file.read(&c, 1)) return 0;
        // A count beyond the scanline (or not a number) can only overrun it.
        if (!(c > -static_cast<float>(n) - 1.0f && c < static_cast<float>(n) + 1.0f)) {
            // Counts far beyond any scanline (or NaN) are reported as -1.
            const bool sane = std::fabs(c) < 1e15f;
            mismatch(n,
                     sane ? filled + static_cast<long long>(std::fabs(c)) + (c >= 0 ? 1 : 0) : -1);
        }
        const int count = static_cast<int>(c);
        const long long want = count >= 0 ? count + 1LL : -static_cast<long long>(count);
        if (filled + want > n) mismatch(n, filled + want);
        if (count >= 0) {
            float v;
            if (!file.read(&v, 1)) return 0;
            for (long long i = 0; i < want; ++i) out[filled + i] = v;
        } else if (!file.read(out + filled, want)) {
            return 0;
        }
        filled += static_cast<int>(want);
    }
    return 1;
}

// Bytes left in the file from the current position, or -1.
long long bytes_left(std::FILE* file) {
    const long here = std::ftell(file);
    if (here < 0 || std::fseek(file, 0, SEEK_END) != 0) return -1;
    const long end = std::ftell(file);
    if (std::fseek(file, here, SEEK_SET) != 0 || end < here) return -1;
    return end - here;
}

// Reads one header line of at most 1023 characters; false at the end.
bool read_line(std::FILE* file, char (&line)[1024]) {
    return std::fgets(line, sizeof line, file) != nullptr;
}

// Checks the header's sizes against the caps and the file's length.
bool sizes_acceptable(const SmapHeader& h, long long left) {
    if (h.lines < 1 || h.cols < 1 || h.lines > kSmapMaxSide || h.cols > kSmapMaxSide ||
        static_cast<long long>(h.lines) * h.cols > kSmapMaxPixels) {
        std::printf(
            "***** Shadow map size %d x %d is out of range (1 ... %d, at most %lld pixels).\n",
            h.cols, h.lines, kSmapMaxSide, kSmapMaxPixels);
        return false;
    }
    // Raw data is 16 bytes a pixel; an encoded scanline is at least one run
    // of two floats.
    const long long need = h.encoding == 0 ? static_cast<long long>(h.lines) * h.cols * 16
                                           : static_cast<long long>(h.lines) * SMAP_CHANNELS * 8;
    if (left < need) {
        std::printf("***** Shadow map data too short: %lld bytes for %d x %d pixels.\n",
                    left < 0 ? 0 : left, h.cols, h.lines);
        return false;
    }
    return true;
}

// Reads the raw pixel-interleaved data of encoding 0.
bool read_raw(std::FILE* file, ShadowMap* map) {
    const long long pixels = static_cast<long long>(map->lines) * map->cols;
    float px[SMAP_CHANNELS];
    for (long long i = 0; i < pixels; ++i) {
        if (!read_floats(file, px, SMAP_CHANNELS)) return false;
        for (int c = 0; c < SMAP_CHANNELS; ++c) map->maps[c][i] = px[c];
    }
    return true;
}

// A map in memory waiting for the smOpen of its path, and the planes that
// an open map took from one, which go back to their owner.
struct provided_map {
    std::string path;
    int lines, cols;
    float cone;
    float* planes[SMAP_CHANNELS];
    smap_plane_release release;
};
struct foreign_plane {
    float* plane;
    std::size_t floats;
    smap_plane_release release;
};
std::vector<provided_map> g_provided;
std::vector<foreign_plane> g_foreign;

void release_planes(const provided_map& m) {
    const std::size_t floats = static_cast<std::size_t>(m.lines) * m.cols;
    for (float* p : m.planes) m.release(p, floats);
}

void free_maps(ShadowMap* map) {
    for (float*& m : map->maps) {
        const auto f = std::find_if(g_foreign.begin(), g_foreign.end(),
                                    [m](const foreign_plane& p) { return p.plane == m; });
        if (m != nullptr && f != g_foreign.end()) {
            f->release(f->plane, f->floats);
            g_foreign.erase(f);
        } else {
            delete[] m;
        }
        m = nullptr;
    }
}

// The cone as a map file's header gives it back: written with "%f", read
// with "%f".
float cone_as_written(float cone) {
    char text[64];
    std::snprintf(text, sizeof text, "%f", static_cast<double>(cone));
    float back = 0.0f;
    return std::sscanf(text, "%f", &back) == 1 ? back : 0.0f;
}

// Opens map from the map provided for path, if there is one.
bool take_provided(const char* path, ShadowMap* map) {
    const auto m = std::find_if(g_provided.begin(), g_provided.end(),
                                [path](const provided_map& p) { return p.path == path; });
    if (m == g_provided.end()) return false;
    smClose(map);
    const std::size_t floats = static_cast<std::size_t>(m->lines) * m->cols;
    for (int c = 0; c < SMAP_CHANNELS; ++c) {
        map->maps[c] = m->planes[c];
        g_foreign.push_back({m->planes[c], floats, m->release});
    }
    map->lines = m->lines;
    map->cols = m->cols;
    map->cone = cone_as_written(m->cone);
    map->encoding = 1;
    g_provided.erase(m);
    return true;
}

}  // namespace

bool smWriteHeader(std::FILE* file, int lines, int cols, float cone) {
    for (const char* line : kSmapComment)
        if (std::fputs(line, file) < 0) return false;
    return std::fprintf(file, "%d %d 1 %f\n", lines, cols, cone) > 0;
}

namespace {

// Run-length codes of n values (n >= 1) into buffer; out receives the
// number of floats. False (with a message) when the codes do not cover
// exactly n values.
bool encode_runs(const float* values, float* buffer, int n, int& out) {
    out = 0;
    int covered = 0;  // values the written codes stand for
    int s = 0, r = 0, k = 1;
    float w = values[0];
    for (int i = 1; i <= n; ++i) {
        if (i < n && values[i] == w) {
            ++k;
            continue;
        }
        if (k >= 3) {
            // Flush the pending literal values, then the run.
            if (s < r) {
                buffer[out++] = static_cast<float>(-(r - s));
                for (int j = s; j < r; ++j) buffer[out++] = values[j];
                covered += r - s;
            }
            buffer[out++] = static_cast<float>(k - 1);
            buffer[out++] = w;
            covered += k;
            s = i;
        } else if (i == n) {
            buffer[out++] = static_cast<float>(-(n - s));
            for (int j = s; j < n; ++j) buffer[out++] = values[j];
            covered += n - s;
        }
        r = i;
        if (i < n) w = values[i];
        k = 1;
    }
    if (covered != n) {
        std::printf("HEY MAN! data_index != cols. data_index = %d and cols = %d\n", covered, n);
        return false;
    }
    return true;
}

}  // namespace

int smEncodeScanline(const float* values, float* buffer, int n, int* count, std::FILE* file) {
    *count = 0;
    if (n <= 0) return 1;
    if (!encode_runs(values, buffer, n, *count)) return 0;
    return write_floats(file, buffer, *count) ? 1 : 0;
}

int smEncodeScanlineBytes(const float* values, float* buffer, int n, int* count,
                          std::vector<unsigned char>& out) {
    *count = 0;
    if (n <= 0) return 1;
    if (!encode_runs(values, buffer, n, *count)) return 0;
    const std::size_t at = out.size();
    out.resize(at + 4 * static_cast<std::size_t>(*count));
    for (int i = 0; i < *count; ++i) put_be(buffer[i], out.data() + at + 4 * i);
    return 1;
}

void smRunLengthValues(float* values, int n) {
    // The runs of encode_runs: each ends at the first value unequal to its first.
    int start = 0;
    for (int i = 1; i <= n; ++i) {
        if (i < n && values[i] == values[start]) continue;
        if (i - start >= 3) std::fill(values + start + 1, values + i, values[start]);
        start = i;
    }
}

int smDecodeScanlines(std::FILE* file, float* m0, float* m1, float* m2, float* m3, int lines,
                      int cols) {
    float* maps[SMAP_CHANNELS] = {m0, m1, m2, m3};
    value_reader reader(file);
    for (int y = 0; y < lines; ++y) {
        for (float* m : maps) {
            if (!decode_scanline(reader, m + static_cast<std::size_t>(y) * cols, cols)) return 0;
        }
    }
    return 1;
}

int smOpen(const char* path, ShadowMap* map) {
    if (map == nullptr) {
        std::printf("***** Shadow map structure is NULL.\n");
        return 0;
    }
    if (path != nullptr && take_provided(path, map)) return 1;
    std::FILE* file = path ? std::fopen(path, "rb") : nullptr;
    if (file == nullptr) {
        map->encoding = -1;
        std::printf("***** Error opening file: %s.\n", path ? path : "");
        return 0;
    }
    auto fail = [&](const char* message) {
        if (message) std::printf("%s", message);
        smClose(map);
        std::fclose(file);
        return 0;
    };

    // The header: four lines skipped, then the sizes.
    char line[1024];
    for (int i = 0; i < 4; ++i)
        if (!read_line(file, line)) return fail("***** Could not determine map dimensions.\n");
    SmapHeader h{0, 0, 0, 0.0f};
    if (!read_line(file, line) ||
        std::sscanf(line, "%d %d %d %f", &h.lines, &h.cols, &h.encoding, &h.cone) < 2)
        return fail("***** Could not determine map dimensions.\n");
    if (!sizes_acceptable(h, bytes_left(file))) return fail(nullptr);

    // Four maps, all or none.
    smClose(map);
    const std::size_t pixels = static_cast<std::size_t>(h.lines) * h.cols;
    for (float*& m : map->maps) {
        m = new (std::nothrow) float[pixels];
        if (m == nullptr) return fail("***** Out of memory for the shadow map.\n");
    }
    map->lines = h.lines;
    map->cols = h.cols;
    map->cone = h.cone;
    map->encoding = h.encoding;

    bool ok;
    try {
        ok = h.encoding == 0 ? read_raw(file, map)
                             : smDecodeScanlines(file, map->maps[0], map->maps[1], map->maps[2],
                                                 map->maps[3], h.lines, h.cols) != 0;
    } catch (...) {
        fail(nullptr);
        throw;
    }
    if (!ok) return fail("***** Shadow map data ends early.\n");
    std::fclose(file);
    return 1;
}

int smClose(ShadowMap* map) {
    if (map == nullptr) return 1;
    free_maps(map);
    map->encoding = -1;
    return 1;
}

int smProvideMap(const char* path, int lines, int cols, float cone,
                 float* const planes[SMAP_CHANNELS], smap_plane_release release) {
    if (path == nullptr || planes == nullptr || release == nullptr || lines < 1 || cols < 1 ||
        lines > kSmapMaxSide || cols > kSmapMaxSide ||
        static_cast<long long>(lines) * cols > kSmapMaxPixels)
        return 0;
    for (int c = 0; c < SMAP_CHANNELS; ++c)
        if (planes[c] == nullptr) return 0;
    provided_map m{path, lines, cols, cone, {}, release};
    std::copy(planes, planes + SMAP_CHANNELS, m.planes);
    for (provided_map& p : g_provided) {
        if (p.path != m.path) continue;
        release_planes(p);
        p = m;
        return 1;
    }
    g_provided.push_back(m);
    return 1;
}

void smForgetProvidedMaps() {
    for (const provided_map& m : g_provided) release_planes(m);
    g_provided.clear();
}
