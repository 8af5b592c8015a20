// Shadow map lists: set-up for making and for using maps, the filter
// kernels, and the shadow and auto-shade multipliers.
#include "render/shadow_map.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "foundation/messages.h"
#include "foundation/render_settings.h"
#include "imagefile/image_file.h"
#include "render/camera.h"
#include "render/lighting.h"
#include "render/shadow_map_file.h"

namespace {

char* copy_text(const char* s) {
    if (s == nullptr) return nullptr;
    const std::size_t n = std::strlen(s) + 1;
    char* c = new (std::nothrow) char[n];
    if (c) std::memcpy(c, s, n);
    return c;
}

// The names of the shadow lights of a pass, in table order.
std::vector<hair_name*> shadow_light_names(int pass) {
    const int n = assdb_get_nb_shadow_lights(pass);
    std::vector<hair_name*> names(static_cast<std::size_t>(n > 0 ? n : 0));
    if (n > 0)
        names.resize(static_cast<std::size_t>(assdb_get_shadow_lights_list(n, names.data(), pass)));
    return names;
}

// Whether the last four characters of a file name are ".rla", any case.
bool ends_in_rla(const char* path) {
    const std::size_t n = std::strlen(path);
    if (n < 4) return false;
    const char* ext = path + n - 4;
    return ext[0] == '.' && std::tolower(static_cast<unsigned char>(ext[1])) == 'r' &&
           std::tolower(static_cast<unsigned char>(ext[2])) == 'l' &&
           std::tolower(static_cast<unsigned char>(ext[3])) == 'a';
}

// The projector image of an entry, when it names one.
void open_projector(ShadowMapInfo& e) {
    if (e.params.shadow_projector == nullptr) return;
    std::printf("Opening: %s\n", e.params.shadow_projector);
    const int type = ends_in_rla(e.params.shadow_projector) ? kivFormatRla : kivFormatPic;
    e.params.projector = kivOpenImageChecked(e.params.shadow_projector, type);
    if (e.params.projector == nullptr)
        std::printf("***** ERROR: Unable to open shadow projector file: %s\n",
                    e.params.shadow_projector);
}

// The kernels from lgt_filter_size to obj_filter_size in steps of two.
bool make_kernels(ShadowMapInfo& e) {
    const int a = e.params.lgt_filter_size, b = e.params.obj_filter_size;
    if (a < 1 || b < 1 || a > kShadowMaxFilterSize || b > kShadowMaxFilterSize) {
        std::printf("ERROR: shadow filter sizes %d and %d of light %s must lie in 1 ... %d\n", a, b,
                    e.name ? e.name : "", kShadowMaxFilterSize);
        return false;
    }
    e.kernel_count = std::abs(b - a) / 2 + 1;
    e.kernels = new (std::nothrow) ShadowMapKernel[e.kernel_count];
    if (e.kernels == nullptr) {
        e.kernel_count = 0;
        return false;
    }
    for (int j = 0; j < e.kernel_count; ++j) {
        if (!smMakeKernel(e.kernels[j], b >= a ? a + 2 * j : a - 2 * j)) return false;
    }
    return true;
}

// One entry of the final render, for light name at index i.
bool set_up_entry(ShadowMapInfo& e, const char* name, int i, const char* base, int frame,
                  hair_camera& camera) {
    e.name = copy_text(name);
    if (!assdb_has_shadow_map(names_find(name))) {
        e.kind = SHADOW_AUTO;
        if (!assdb_get_autoshade_params(names_find(name), &e.auto_params))
            init_autoparams(&e.auto_params);
        lgtdb_set_smap_index(name, i, 0);
        return true;
    }

    e.kind = SHADOW_MAP;
    if (!assdb_get_shadmap_params(names_find(name), &e.params)) init_mapparams(&e.params);
    // The entry owns its copies: the map is opened afresh, the projector
    // name copied.
    e.params.shadow_projector = copy_text(e.params.shadow_projector);
    e.params.projector = nullptr;
    for (float*& m : e.params.map.maps) m = nullptr;
    e.params.map.encoding = -1;
    const std::string path = smSmapFileName(base, name, frame);
    if (!smOpen(path.c_str(), &e.params.map)) {
        const std::string text = "unable to open shadow map " + path;
        sendInfo(infoError, text.c_str());
        return false;
    }
    e.xscale = kivFscale(0.0f, static_cast<float>(e.params.map.cols), -0.5f, 0.5f);
    e.yscale = kivFscale(0.0f, static_cast<float>(e.params.map.lines), -0.5f, 0.5f);
    e.matrix = lgtdb_get_new_shadow_matrix(name, i, 0, camera.get_matrix());
    lgtdb_set_smap_index(name, i, 0);
    open_projector(e);
    return make_kernels(e);
}

// The four map values at (x, y); zeros outside the map.
void map_values(const ShadowMap& m, int x, int y, float& g, float& gc, float& h, float& ho) {
    if (x < 0 || y < 0 || x >= m.cols || y >= m.lines) {
        g = gc = h = ho = 0.0f;
        return;
    }
    const std::size_t i = static_cast<std::size_t>(y) * m.cols + x;
    g = m.maps[SMAP_GEO_DEPTH][i];
    gc = m.maps[SMAP_GEO_COVERAGE][i];
    h = m.maps[SMAP_HAIR_DEPTH][i];
    ho = m.maps[SMAP_HAIR_OPACITY][i];
}

// How much of the light the occluders of one map pixel block at distance d.
float occlusion(const MapParams& p, float g, float gc, float h, float ho, float d, float s) {
    float o = 0.0f;
    if (g != 0.0f && g < d - s * p.geo_epsilon) o = gc;
    if (h != 0.0f) {
        const float low = d - s * p.low_hair_epsilon;
        if (h < d - s * p.high_hair_epsilon) {
            o += ho;
        } else if (h < low) {
            // A ramp between the two biases: hair just in front of the
            // point shadows it partly.
            const float span = s * p.high_hair_epsilon - s * p.low_hair_epsilon;
            o += span == 0.0f ? ho : ho * (low - h) / span;
        }
    }
    return std::min(o, 1.0f);
}

// The weight of kernel at offset (dy, dx) from its centre; 0 outside it.
inline float kernel_weight(const ShadowMapKernel& kernel, int dy, int dx) {
    const int h = kernel.size / 2;
    if (dy < -h || dy > h || dx < -h || dx > h) return 0.0f;
    return kernel.weights[(dy + h) * kernel.size + (dx + h)];
}

// Adds the kernel-weighted occlusion (S) and darkness (D) of map row y,
// columns cx - R ... cx + R, for a point at distance d from the light. The
// kernel of each map pixel follows how far along the way to the light its
// nearest occluder lies.
void filter_row(const ShadowMapInfo& e, int y, int cx, int cy, int R, float d, float s,
                float& S_sum, float& D_sum) {
    // Local sums: the map reads cannot alias them.
    float S = S_sum, D = D_sum;
    const MapParams& p = e.params;
    const ShadowMap& m = p.map;
    const bool one_kernel = p.lgt_filter_size / 2 == p.obj_filter_size / 2;
    const bool row_in = y >= 0 && y < m.lines;
    for (int x = cx - R; x <= cx + R; ++x) {
        float g = 0.0f, gc = 0.0f, h = 0.0f, ho = 0.0f;
        if (row_in) map_values(m, x, y, g, gc, h, ho);
        // How far along the way to the light the occluder lies (0 at the
        // light, 1 at the point).
        float q = 0.0f;
        if (g != 0.0f || h != 0.0f) {
            const float nearest = g == 0.0f ? h : h == 0.0f ? g : std::min(g, h);
            q = nearest / d;
        }
        const float w = std::min(q, 1.0f);
        const int kernel =
            one_kernel ? 0 : std::min(static_cast<int>(e.kernel_count * w), e.kernel_count - 1);
        const float k = kernel_weight(e.kernels[kernel], y - cy, x - cx);
        S += k * occlusion(p, g, gc, h, ho, d, s);
        D += k * ((1.0f - w) * p.lgt_darkness + w * p.obj_darkness);
    }
    S_sum = S;
    D_sum = D;
}

}  // namespace

std::string smSmapFileName(const char* base, const char* light, int frame) {
    char number[16];
    std::snprintf(number, sizeof number, "%04d", frame);
    return std::string(base ? base : "") + "_" + (light ? light : "") + "." + number + ".smap";
}

// ---------------------------------------------------------------------------
// Set-up and release

int smSetUpToCreate(ShadowMapList* list) {
    const std::vector<hair_name*> names = shadow_light_names(1);
    const int n = static_cast<int>(names.size());
    if (n == 0) return 1;
    list->entries = new ShadowMapInfo[n];
    int k = 0;
    for (int i = 0; i < n; ++i) {
        if (!assdb_has_shadow_map(names[i])) continue;
        ShadowMapInfo& e = list->entries[k++];
        e.kind = SHADOW_MAP;
        e.name = copy_text(names[i]->name);
        if (!assdb_get_shadmap_params(names[i], &e.params)) init_mapparams(&e.params);
    }
    list->count = k;
    return 0;
}

void smFreeAfterCreate(ShadowMapList* list) {
    if (list == nullptr) return;
    for (int i = 0; list->entries && i < list->count; ++i) delete[] list->entries[i].name;
    delete[] list->entries;
    list->entries = nullptr;
    list->count = 0;
}

bool smSetUpToUse(ShadowMapList* list, const char* base, int frame, hair_camera& camera) {
    const std::vector<hair_name*> names = shadow_light_names(0);
    const int n = static_cast<int>(names.size());
    if (list->entries) smFreeAfterUse(list);
    list->count = n;
    if (n == 0) return true;
    list->entries = new ShadowMapInfo[n];
    for (int i = 0; i < n; ++i) {
        ShadowMapInfo& e = list->entries[i];
        init_mapparams(&e.params);
        init_autoparams(&e.auto_params);
        if (!set_up_entry(e, names[i]->name, i, base, frame, camera)) return false;
    }
    return true;
}

void smFreeAfterUse(ShadowMapList* list) {
    if (list == nullptr) return;
    for (int i = 0; list->entries && i < list->count; ++i) {
        ShadowMapInfo& e = list->entries[i];
        if (e.kind != SHADOW_AUTO) {
            for (int j = 0; e.kernels && j < e.kernel_count; ++j) delete[] e.kernels[j].weights;
            delete[] e.kernels;
            smClose(&e.params.map);
            delete[] e.params.shadow_projector;
            if (e.params.projector) kivCloseImage(e.params.projector);
        }
        delete[] e.name;
    }
    delete[] list->entries;
    list->entries = nullptr;
    list->count = 0;
}

// ---------------------------------------------------------------------------
// Kernels

bool smMakeKernel(ShadowMapKernel& kernel, int size) {
    kernel.size = size;
    kernel.weights = new (std::nothrow) float[static_cast<std::size_t>(size) * size];
    if (kernel.weights == nullptr) return false;
    const float half = static_cast<float>(size) * 0.5f;
    float sum = 0.0f;
    for (int i = 0; i < size; ++i) {
        for (int j = 0; j < size; ++j) {
            const float x = size == 1 ? 0.0f : static_cast<float>(i) / half - 1.0f;
            const float y = size == 1 ? 0.0f : static_cast<float>(j) / half - 1.0f;
            const float d = std::sqrt(x * x + y * y);
            const float w = std::pow(2.0f, d * -2.0f * d);
            kernel.weights[i * size + j] = w;
            sum += w;
        }
    }
    for (int i = 0; i < size * size; ++i) kernel.weights[i] /= sum;
    return true;
}

float smKernelWeight(const ShadowMapKernel& kernel, int dy, int dx) {
    return kernel_weight(kernel, dy, dx);
}

// ---------------------------------------------------------------------------
// Lookups

void smCalcShadowScreenPoint(ShadowMapInfo* e, const kivPoint& P, float& sx, float& sy, float& u,
                             float& v) {
    const float s = -e->proj_scale / P.z;
    sx = e->xscale.r_to_n(P.x * s);
    sy = e->yscale.r_to_n(P.y * s);
    u = std::clamp(sx / static_cast<float>(e->params.map.cols), 0.0f, 1.0f);
    v = std::clamp(sy / static_cast<float>(e->params.map.lines), 0.0f, 1.0f);
}

int smCalcProjection(ShadowMapInfo* e, float u, float v, kivVector& rgb) {
    const kivImage* img = e->params.projector;
    if (img == nullptr || img->rows == nullptr || img->cols < 1 || img->lines < 1) return 0;
    const int x = static_cast<int>((img->cols - 1) * u);
    const int y = static_cast<int>((img->lines - 1) * v);
    const unsigned char* row = img->rows[y];
    const std::size_t c = static_cast<std::size_t>(img->cols);
    const float alpha = img->channels >= 4 ? row[3 * c + x] / 255.0f : 1.0f;
    rgb = kivVector(row[x], row[c + x], row[2 * c + x]) * (alpha / 255.0f);
    return 1;
}

float smCalcShadowMultForPoint(ShadowMapInfo* e, const kivPoint& P, float s) {
    const MapParams& p = e->params;
    if (p.map.encoding == -1 || e->kernel_count < 1) return 1.0f;

    // The point in the light's space and where it falls on the map.
    const kivPoint L = P * e->matrix;
    float d = std::sqrt(L.x * L.x + L.y * L.y + L.z * L.z);
    if (d < 1e-5f) d = 0.0f;
    float sx, sy, u, v;
    smCalcShadowScreenPoint(e, L, sx, sy, u, v);
    float B = 1.0f;
    kivVector rgb;
    if (smCalcProjection(e, u, v, rgb)) B = 0.299f * rgb.x + 0.587f * rgb.y + 0.144f * rgb.z;

    // Filter the occlusion and the darkness over the map pixels around it.
    const int R = std::max(p.lgt_filter_size / 2, p.obj_filter_size / 2);
    const int cx = static_cast<int>(sx), cy = static_cast<int>(sy);
    float S = 0.0f, D = 0.0f;
    for (int y = cy - R; y <= cy + R; ++y) filter_row(*e, y, cx, cy, R, d, s, S, D);
    S = std::min(S, 1.0f);
    return (1.0f - S) * B * D + (1.0f - D);
}

float smCalcAutoShadeMult(ShadowMapInfo* e, const kivVector& N, float t) {
    const AutoParams& a = e->auto_params;

    // Self-shading: dark up to self_shade along the hair, then a ramp.
    float f;
    if (a.self_shade > t || a.self_shade == 1.0f) {
        f = 1.0f - a.self_shade_darkness;
    } else if (a.self_shade == 0.0f) {
        f = 1.0f;
    } else {
        f = (t - a.self_shade) * a.self_shade_darkness / (1.0f - a.self_shade) +
            (1.0f - a.self_shade_darkness);
    }

    // Back shadow: a smooth step over the angle between the light's
    // direction and the normal.
    const float LN = e->light ? e->light->direction.dot(N) : -1.0f;
    const float c = LN * 0.5f + 0.5f;
    const float b = a.back_shadow_factor;
    const float p =
        c < 0.5f ? std::pow(std::fabs(c), b) * b : 1.0f - std::pow(std::fabs(1.0f - c), b) * b;
    const float g = 2.0f * p * p * p - 3.0f * p * p + 1.0f;
    return ((1.0f - a.back_shadow_darkness) * (1.0f - g) + g) * f;
}
