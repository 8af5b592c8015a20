// The shadow map pass of a camera: resolves every pixel of a light's
// N x N camera into the four map values and writes the map file, and on
// request a debug picture of it.
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "foundation/render_settings.h"
#include "imagefile/image_file.h"
#include "render/camera.h"
#include "render/shadow_map.h"
#include "render/shadow_map_file.h"

namespace {

unsigned char to_byte(float v) {
    if (!(v > 0.0f)) return 0;
    if (v > 255.0f) return 255;
    return static_cast<unsigned char>(v + 0.5f);
}

// The smallest and largest positive hair and geometry depth of the map.
void depth_bounds(hair_zbuffer& zb, int n, float threshold, float& lo, float& hi) {
    lo = hi = 0.0f;
    auto take = [&](float d) {
        if (!(d > 0.0f)) return;
        if (lo == 0.0f || d < lo) lo = d;
        if (d > hi) hi = d;
    };
    for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
            float g, gc, opacity;
            zb.geometry_depth(y, x, g, gc);
            take(g);
            take(zb.resolve_shadow(zb.record(y, x), threshold, opacity));
        }
    }
}

// The debug picture's pixel x from the four map values.
void debug_pixel(u_char_buf& buf, int x, const float* v, float lo, float range) {
    buf.z(x) = 0;
    if (v[SMAP_GEO_DEPTH] == 0.0f && v[SMAP_HAIR_DEPTH] == 0.0f) {
        buf.rgbm(x, 0);
        return;
    }
    auto depth_byte = [&](float d) {
        const unsigned char b = to_byte((d - lo) / range * 255.0f);
        return b == 0 ? static_cast<unsigned char>(1) : b;
    };
    buf(0, x) = depth_byte(v[SMAP_GEO_DEPTH]);
    buf(1, x) = to_byte(v[SMAP_GEO_COVERAGE] * 255.0f);
    buf(2, x) = depth_byte(v[SMAP_HAIR_DEPTH]);
    buf(3, x) = to_byte(v[SMAP_HAIR_OPACITY] * 255.0f);
}

// The four map values of row y's n pixels into rows (each n floats).
// Most map pixels hold no hair: their geometry comes straight from the
// z-buffer's geometry array, as geometry_depth gives it. The records of a
// row lie scattered over the chunks, in the order the hair was drawn: each
// is asked for a few pixels ahead of its resolve, so that several loads are
// on their way at once.
void resolve_map_row(hair_zbuffer& zb, int y, int n, float threshold, float* const rows[]) {
    constexpr int kAhead = 8;
    const std::size_t bytes = sizeof(pixel_slot) * static_cast<std::size_t>(zb.record_slots());
    float* const gd = rows[SMAP_GEO_DEPTH];
    float* const gc = rows[SMAP_GEO_COVERAGE];
    float* const hd = rows[SMAP_HAIR_DEPTH];
    float* const ho = rows[SMAP_HAIR_OPACITY];
    for (int x = 0; x < n; ++x) {
        if (x + kAhead < n) {
            if (const pixel_slot* ahead = zb.record(y, x + kAhead)) {
                const char* p = reinterpret_cast<const char*>(ahead);
                for (std::size_t b = 0; b < bytes; b += 64) __builtin_prefetch(p + b);
                __builtin_prefetch(p + bytes - 1);
            }
        }
        pixel_slot* rec = zb.record(y, x);
        if (rec == nullptr) {
            const geometry_sample& g = zb.geometry_at(y, x);
            const bool used = g.is_used();
            gd[x] = used ? g.z : 0.0f;
            gc[x] = used ? frac_decode(g.area()) : 0.0f;
            hd[x] = ho[x] = 0.0f;
            continue;
        }
        zb.geometry_depth(y, x, gd[x], gc[x]);
        hd[x] = zb.resolve_shadow(rec, threshold, ho[x]);
    }
}

// The current map entry when the camera's z-buffer is its N x N pixels,
// else null (with a message).
const ShadowMapInfo* current_map(const hair_zbuffer* zb, const char* caller) {
    const ShadowMapList& list = defs.shadows;
    if (list.entries == nullptr || list.current < 0 || list.current >= list.count) {
        std::printf("ERROR: %s: no current shadow map entry\n", caller);
        return nullptr;
    }
    const ShadowMapInfo& e = list.entries[list.current];
    const int n = e.params.map.lines;
    if (zb == nullptr || n < 1 || zb->lines() != n || zb->cols() != n) {
        std::printf("ERROR: %s: the camera must be %d x %d pixels\n", caller, n, n);
        return nullptr;
    }
    return &e;
}

}  // namespace

bool hair_camera::encode_shadow_rows(int row0, int row1, std::vector<unsigned char>& out) {
    const ShadowMapInfo* e = current_map(arr, "encode_shadow_rows");
    if (e == nullptr) return false;
    const int n = e->params.map.lines;
    if (row0 < 0 || row1 > n || row0 > row1) return false;
    std::vector<float> values, buffer;
    try {
        values.resize(static_cast<std::size_t>(n) * SMAP_CHANNELS);
        buffer.resize(static_cast<std::size_t>(n) + 1);
    } catch (const std::bad_alloc&) {
        std::printf("ERROR: Memory allocation error.\n");
        return false;
    }
    float* const rows[SMAP_CHANNELS] = {values.data(), values.data() + n, values.data() + 2 * n,
                                        values.data() + 3 * n};
    for (int y = row0; y < row1; ++y) {
        resolve_map_row(*arr, y, n, e->params.threshold, rows);
        for (float* r : rows) {
            int count = 0;
            if (!smEncodeScanlineBytes(r, buffer.data(), n, &count, out)) return false;
        }
    }
    return true;
}

bool hair_camera::resolve_shadow_rows(int row0, int row1, float* const maps[4]) {
    const ShadowMapInfo* e = current_map(arr, "resolve_shadow_rows");
    if (e == nullptr) return false;
    const int n = e->params.map.lines;
    if (row0 < 0 || row1 > n || row0 > row1) return false;
    for (int y = row0; y < row1; ++y) {
        const std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(n);
        float* const rows[SMAP_CHANNELS] = {maps[0] + at, maps[1] + at, maps[2] + at, maps[3] + at};
        resolve_map_row(*arr, y, n, e->params.threshold, rows);
        for (float* r : rows) smRunLengthValues(r, n);
    }
    return true;
}

void hair_camera::render_shadow_map(const char* file, int debug) {
    const ShadowMapInfo* entry = current_map(arr, "render_shadow_map");
    if (entry == nullptr) return;
    const ShadowMapInfo& e = *entry;
    const int n = e.params.map.lines;
    const float threshold = e.params.threshold;

    // Four rows of the map and the encoder's buffer.
    std::vector<float> rows[SMAP_CHANNELS], buffer;
    try {
        for (auto& r : rows) r.resize(static_cast<std::size_t>(n));
        buffer.resize(static_cast<std::size_t>(n) + 1);
    } catch (const std::bad_alloc&) {
        std::printf("ERROR: Memory allocation error.\n");
        return;
    }

    float lo = 0.0f, hi = 0.0f, range = 1.0f;
    if (debug) {
        depth_bounds(*arr, n, threshold, lo, hi);
        if (hi - lo > 0.0f) range = hi - lo;
    }

    std::FILE* out = file ? std::fopen(file, "wb") : nullptr;
    if (out == nullptr) {
        std::printf("MESSAGE: could not open shadow map output file!\n");
        return;
    }
    smWriteHeader(out, n, n, e.params.map.cone);

    std::unique_ptr<rx_rla> picture;
    std::unique_ptr<u_char_buf> pbuf;
    if (debug) {
        char name[1100];
        std::snprintf(name, sizeof name, "shadowmap_%s.%04d.rla", e.name ? e.name : "", defs.frame);
        picture = std::make_unique<rx_rla>(name, n, n, 8, defs.gamma, hasdepth());
        pbuf = std::make_unique<u_char_buf>(n);
    }

    // Resolve and write the map row by row.
    for (int y = 0; y < n; ++y) {
        float* const row_values[SMAP_CHANNELS] = {rows[0].data(), rows[1].data(), rows[2].data(),
                                                  rows[3].data()};
        resolve_map_row(*arr, y, n, threshold, row_values);
        if (debug) {
            for (int x = 0; x < n; ++x) {
                const float v[SMAP_CHANNELS] = {rows[0][x], rows[1][x], rows[2][x], rows[3][x]};
                debug_pixel(*pbuf, x, v, lo, range);
            }
        }
        for (auto& r : rows) {
            int count = 0;
            if (!smEncodeScanline(r.data(), buffer.data(), n, &count, out))
                std::printf("ERROR: Error encoding scanline.\n");
        }
        if (debug) picture->writescan(pbuf->address(), y);
    }
    picture.reset();
    std::fclose(out);
}
