#include "maptools/direction_map.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "descriptions/assign_db.h"
#include "foundation/render_settings.h"
#include "foundation/vector_types.h"
#include "geometry/model_database.h"
#include "imagefile/image_file.h"

namespace {

constexpr float kTiny = 1e-5f;

float clamp(float x, float lo, float hi) {
    return x < lo ? lo : (x > hi ? hi : x);
}

// The lean and polar angles in degrees at (u, v) of a surface for the
// normalised world direction d.
void surface_angles(const kivNurbSurface& s, float u, float v, const kivVector& d, float& lean,
                    float& polar) {
    // 1. The frame; a degenerate normal is looked for a little inside.
    kivVector frame[4];
    s.calc_posnrmdir(u, v, frame);
    const kivVector& n0 = frame[1];
    if (std::fabs(n0.x) < kTiny && std::fabs(n0.y) < kTiny && std::fabs(n0.z) < kTiny)
        s.calc_posnrmdir(clamp(u, 0.001f, 0.999f), clamp(v, 0.001f, 0.999f), frame);
    const kivVector& normal = frame[1];
    const kivVector& dir = frame[2];
    // 2-3. Binormal and lean.
    const kivVector b = dir ^ normal;
    lean = normal.angle(d);
    // 4-5. The projection into the tangent plane and its side.
    const float p = dir * d, q = b * d;
    if (std::fabs(p) < kTiny) {
        polar = q < 0.0f ? 90.0f : -90.0f;
    } else if (std::fabs(q) < kTiny) {
        polar = p < 0.0f ? 180.0f : 0.0f;
    } else {
        const kivVector projection = dir * p + b * q;
        const float a = dir.angle(projection);
        polar = q < 0.0f ? a : -a;
    }
}

// Sample parameter i of n samples: i / (n - 1), clamped to [0, 1] (0 for n = 1).
float sample_at(int i, int n) {
    return n > 1 ? clamp(static_cast<float>(i) / static_cast<float>(n - 1), 0.0f, 1.0f) : 0.0f;
}

unsigned char to_byte(float value) {
    return static_cast<unsigned char>(static_cast<int>(value * 255.0f));
}

// Writes one RLA image of the two planes: with a single plane (second null)
// in red, green and blue; with two, the first in red and the second in green.
void write_planes(const std::string& file, const float* first, const float* second, int width,
                  int height) {
    rx_rla image(file.c_str(), height, width, 8, defs.gamma, 0);
    u_char_buf buf(width);
    for (int r = 0; r < height; ++r) {
        const std::size_t row = static_cast<std::size_t>(r) * width;
        for (int c = 0; c < width; ++c) {
            const unsigned char a = to_byte(first[row + c]);
            buf(0, c) = a;
            buf(1, c) = second ? to_byte(second[row + c]) : a;
            buf(2, c) = second ? 0 : a;
            buf(3, c) = 0;
        }
        image.writescan(buf.address(), r);
    }
}

// The maps of one model. False when the call has to end.
bool model_maps(const char* prefix, hair_model* m, kivVector d, int width, int height,
                int twoFiles) {
    const char* name = m->name_text() ? m->name_text() : "";
    // 1. Only hairy models that are not excluded.
    if (assdb_get_exclude(m->name, 0) != 0) {
        std::printf("WARNING: Model (%s) excluded from computation.\n", name);
        return true;
    }
    int n = 0;
    hair_params** list = nullptr;
    assdb_get_model_hair(m->name, &n, &list);
    if (n <= 0) return true;
    if (width < 1 || height < 1 || width > kDirectionMapMaxSide || height > kDirectionMapMaxSide) {
        std::printf("ERROR: direction map size %dx%d is out of range at model %s.\n", width, height,
                    name);
        return false;
    }
    // 2. File names.
    const std::string base = prefix ? prefix : "";
    const std::string lean = base + (twoFiles ? "E_" : "_") + name + ".rla";
    const std::string polar = base + "P_" + name + ".rla";
    if (twoFiles)
        std::printf("  - Creating orient files %s %s (%dx%d)\n", lean.c_str(), polar.c_str(), width,
                    height);
    else
        std::printf("  - Creating orient file %s (%dx%d)\n", lean.c_str(), width, height);
    // 3. The planes.
    std::vector<float> e, p;
    try {
        e.resize(static_cast<std::size_t>(width) * height);
        p.resize(e.size());
    } catch (const std::bad_alloc&) {
        std::printf("FATAL: out of memory at model %s.\n", name);
        return false;
    }
    // 4-5. The angles at every sample, as values 0 ... 1.
    const kivNurbSurface* surface = m->nurbs();
    for (int r = 0; r < height; ++r) {
        const float v = sample_at(r, height);
        for (int c = 0; c < width; ++c) {
            float a1 = 0.5f, a2 = 0.5f;
            if (surface) surface_angles(*surface, sample_at(c, width), v, d, a1, a2);
            a1 = clamp(a1, 0.0f, 90.0f);
            a2 = clamp(a2, -180.0f, 180.0f);
            const std::size_t i = static_cast<std::size_t>(r) * width + c;
            e[i] = a1 / 90.0f * 0.5f + 0.5f;
            p[i] = (a2 + 180.0f) / 360.0f;
        }
    }
    // 6. The images.
    if (twoFiles) {
        write_planes(lean, e.data(), nullptr, width, height);
        write_planes(polar, p.data(), nullptr, width, height);
    } else {
        write_planes(lean, e.data(), p.data(), width, height);
    }
    return true;
}

bool has_models() {
    if (mdldb_capacity(0) > 0) return true;
    if (opt_warnings()) std::printf("WARNING: there are no models\n");
    return false;
}

}  // namespace

void mdldb_calc_dir_map(const char* prefix, const DirectionMapStruct* maps, int count,
                        int twoFiles) {
    if (!has_models()) return;
    for (int i = 0; i < mdldb_capacity(0); ++i) {
        hair_model* m = mdldb_get_index(i, 0);
        const char* name = m->name_text() ? m->name_text() : "";
        // The record of this model, else the last "default".
        const DirectionMapStruct* chosen = nullptr;
        for (int k = 0; maps != nullptr && k < count; ++k) {
            const char* recordName = maps[k].name;
            if (std::strncmp(recordName, name, sizeof maps[k].name) == 0 &&
                std::strlen(name) < sizeof maps[k].name) {
                chosen = &maps[k];
                break;
            }
            if (std::strncmp(recordName, "default", sizeof maps[k].name) == 0) chosen = &maps[k];
        }
        if (chosen == nullptr || (chosen->direction[0] == 0.0f && chosen->direction[1] == 0.0f &&
                                  chosen->direction[2] == 0.0f)) {
            std::printf("WARNING: Skipping model with no definition (%s).\n", name);
            continue;
        }
        kivVector d(chosen->direction[0], chosen->direction[1], chosen->direction[2]);
        d.norm();  // a direction shorter than 1e-5 is used as it is
        if (!model_maps(prefix, m, d, chosen->width, chosen->height, twoFiles)) return;
    }
}

void mdldb_calc_dir_map(const char* prefix, const float direction[3], int height, int width,
                        int twoFiles) {
    if (!has_models()) return;
    kivVector d(direction[0], direction[1], direction[2]);
    d.norm();
    for (int i = 0; i < mdldb_capacity(0); ++i)
        if (!model_maps(prefix, mdldb_get_index(i, 0), d, width, height, twoFiles)) return;
}
