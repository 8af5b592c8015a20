#include "shadow_rows.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <iterator>
#include <new>
#include <vector>

#include "korvofur/korvofur.h"

namespace furrender {

namespace {

// What a worker writes for its band: the rows, then the byte count, then
// the encoded scanlines.
struct band_header {
    std::int32_t row0;   // first row of the band
    std::int32_t row1;   // one past its last row
    std::uint64_t size;  // bytes of encoded scanlines that follow
};

// A plane of the decoded map: shared, so that what a worker decodes is
// seen by the first process.
float* map_plane(std::size_t floats) {
    void* p = mmap(nullptr, floats * sizeof(float), PROT_READ | PROT_WRITE,
                   MAP_SHARED | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    return p == MAP_FAILED ? nullptr : static_cast<float*>(p);
}

void unmap_plane(float* plane, std::size_t floats) {
    if (plane != nullptr) munmap(plane, floats * sizeof(float));
}

// Writes or reads a block of bytes whole; an empty one passes no pointer.
bool write_all(std::FILE* f, const std::vector<unsigned char>& bytes) {
    return bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
}
bool read_all(std::FILE* f, std::vector<unsigned char>& bytes) {
    return bytes.empty() || std::fread(bytes.data(), 1, bytes.size(), f) == bytes.size();
}

}  // namespace

shadow_map_rows::shadow_map_rows(hair_camera& cam, bool file)
    : cam_(cam), lines_(cam.zbuffer()->lines()), file_(file) {
    for (float*& p : planes_) p = map_plane(plane_floats());
    if (std::find(std::begin(planes_), std::end(planes_), nullptr) != std::end(planes_)) {
        for (float*& p : planes_) unmap_plane(p, plane_floats()), p = nullptr;
        file_ = true;
    }
}

shadow_map_rows::~shadow_map_rows() {
    for (float* p : planes_) unmap_plane(p, plane_floats());
}

std::size_t shadow_map_rows::plane_floats() const {
    return static_cast<std::size_t>(lines_) * static_cast<std::size_t>(cam_.zbuffer()->cols());
}

bool shadow_map_rows::hand_over(const std::string& path, float cone) {
    if (planes_[0] == nullptr ||
        !smProvideMap(path.c_str(), lines_, cam_.zbuffer()->cols(), cone, planes_, unmap_plane))
        return false;
    std::fill(std::begin(planes_), std::end(planes_), nullptr);
    return true;
}

std::size_t shadow_map_rows::most_bytes(const row_band& b) const {
    // An encoded scanline of n values takes at most n + 1 floats.
    const std::size_t cols = static_cast<std::size_t>(cam_.zbuffer()->cols());
    return static_cast<std::size_t>(b.row1 - b.row0) * SMAP_CHANNELS * (cols + 1) * 4;
}

bool shadow_map_rows::encode(const row_band& b, band& out) {
    out.rows = b;
    out.bytes.clear();
    try {
        if (!file_) return cam_.resolve_shadow_rows(b.row0, b.row1, planes_);
        return cam_.encode_shadow_rows(b.row0, b.row1, out.bytes) && decode(out);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void shadow_map_rows::sort_bands() {
    std::sort(bands_.begin(), bands_.end(),
              [](const band& x, const band& y) { return x.rows.row0 < y.rows.row0; });
}

bool shadow_map_rows::encode_rest(const row_band& b) {
    sort_bands();
    std::vector<row_band> rest;
    int next = b.row0;
    for (const band& have : bands_) {
        if (have.rows.row1 <= next || have.rows.row0 >= b.row1) continue;
        if (have.rows.row0 > next) rest.push_back({next, have.rows.row0});
        next = std::max(next, have.rows.row1);
    }
    if (next < b.row1) rest.push_back({next, b.row1});
    for (const row_band& r : rest) {
        bands_.emplace_back();
        if (!encode(r, bands_.back())) return false;
    }
    sort_bands();
    return true;
}

bool shadow_map_rows::covers(const row_band& b, std::uint64_t& size) const {
    size = 0;
    int next = b.row0;
    for (const band& mine : bands_) {
        if (mine.rows.row0 != next) return false;
        next = mine.rows.row1;
        size += mine.bytes.size();
    }
    return next == b.row1;
}

bool shadow_map_rows::decode(const band& b) {
    if (planes_[0] == nullptr || b.rows.row1 <= b.rows.row0) return true;
    std::FILE* f = fmemopen(const_cast<unsigned char*>(b.bytes.data()), b.bytes.size(), "rb");
    if (f == nullptr) return false;
    const std::size_t at =
        static_cast<std::size_t>(b.rows.row0) * static_cast<std::size_t>(cam_.zbuffer()->cols());
    bool ok = false;
    try {
        ok =
            smDecodeScanlines(f, planes_[0] + at, planes_[1] + at, planes_[2] + at, planes_[3] + at,
                              b.rows.row1 - b.rows.row0, cam_.zbuffer()->cols()) != 0;
    } catch (const std::exception&) {
        ok = false;
    }
    std::fclose(f);
    return ok;
}

bool shadow_map_rows::save(std::FILE* f, const row_band& b) {
    // The band's rows: those resolved as they were drawn, then the rest,
    // written in row order as one band.
    std::uint64_t size = 0;
    if (failed_ || !encode_rest(b) || !covers(b, size)) return false;
    const band_header h{b.row0, b.row1, size};
    if (std::fwrite(&h, sizeof h, 1, f) != 1) return false;
    for (const band& mine : bands_)
        if (!write_all(f, mine.bytes)) return false;
    return true;
}

bool shadow_map_rows::load(std::FILE* f, const row_band& b) {
    band_header h;
    if (std::fread(&h, sizeof h, 1, f) != 1 || h.row0 != b.row0 || h.row1 != b.row1 ||
        h.size > most_bytes(b))
        return false;
    band theirs;
    theirs.rows = b;
    try {
        theirs.bytes.resize(static_cast<std::size_t>(h.size));
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (!read_all(f, theirs.bytes)) return false;
    bands_.push_back(std::move(theirs));
    return true;
}

band_work shadow_map_rows::work(std::function<void(bool first)> draw,
                                std::function<void()> after_first_rows) {
    band_work w;
    w.draw = [this, draw, after_first_rows](bool first) {
        draw(first);
        // One process over the whole map resolves it at the end (write).
        if (!defs.region_on) return;
        bool own = true;
        finish_shared_band([&] {
            bands_.emplace_back();
            if (!failed_ && !encode({defs.region[1], defs.region[3] + 1}, bands_.back()))
                failed_ = true;
            if (own && first && after_first_rows) after_first_rows();
            own = false;
        });
    };
    w.zbuffer_rows = false;
    w.save = [this](std::FILE* f, const row_band& b) { return save(f, b); };
    w.load = [this](std::FILE* f, const row_band& b) { return load(f, b); };
    w.finish_first = [this](const row_band& b) { return !failed_ && encode_rest(b); };
    return w;
}

bool shadow_map_rows::write(const std::string& path, float cone) {
    // The rows that no band resolved (all of them on one process); the
    // bands must then cover the map once.
    std::uint64_t size = 0;
    if (!encode_rest({0, lines_}) || !covers({0, lines_}, size)) return false;

    // Without a file the planes are the whole map; the final render takes them.
    if (!file_) return hand_over(path, cone);
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return false;
    bool ok = smWriteHeader(out, lines_, cam_.zbuffer()->cols(), cone);
    for (const band& b : bands_) ok = ok && write_all(out, b.bytes);
    if (std::fclose(out) != 0 || !ok) return false;
    // Every row is decoded: the final render takes the planes (else it
    // reads the file back).
    hand_over(path, cone);
    return true;
}

}  // namespace furrender
