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

// What one lookup needs besides the map pixels: the point's distance from
// the light, the depth limits of the occluders and the darkness blend.
// Filled once per lookup so the per-pixel loop only reads it.
struct filter_point {
    float d = 0.0f;           // distance of the point from the light
    float geo_limit = 0.0f;   // geometry nearer than this occludes
    float high_limit = 0.0f;  // hair nearer than this occludes fully
    float low_limit = 0.0f;   // hair between the two limits occludes partly
    float span = 0.0f;        // length of that ramp
    float lgt = 0.0f;         // darkness of occluders at the light
    float obj = 0.0f;         // darkness of occluders at the point
    float empty_dark = 0.0f;  // the darkness term of a pixel without occluders
    float count = 0.0f;       // number of kernels
    int last = 0;             // index of the last kernel
    bool one_kernel = false;  // every pixel takes the first kernel
    const ShadowMapKernel* kernels = nullptr;

    filter_point(const ShadowMapInfo& e, float dist, float s) {
        const MapParams& p = e.params;
        d = dist;
        geo_limit = d - s * p.geo_epsilon;
        high_limit = d - s * p.high_hair_epsilon;
        low_limit = d - s * p.low_hair_epsilon;
        span = s * p.high_hair_epsilon - s * p.low_hair_epsilon;
        lgt = p.lgt_darkness;
        obj = p.obj_darkness;
        empty_dark = darkness(0.0f);
        count = static_cast<float>(e.kernel_count);
        last = e.kernel_count - 1;
        one_kernel = p.lgt_filter_size / 2 == p.obj_filter_size / 2;
        kernels = e.kernels;
    }

    // Darkness of an occluder w of the way from the light (0) to the point (1).
    float darkness(float w) const { return (1.0f - w) * lgt + w * obj; }

    // How much of the light the occluders of one map pixel block.
    float occlusion(float g, float gc, float h, float ho) const {
        float o = 0.0f;
        if (g != 0.0f && g < geo_limit) o = gc;
        if (h != 0.0f) {
            if (h < high_limit) {
                o += ho;
            } else if (h < low_limit) {
                // A ramp between the two biases: hair just in front of the
                // point shadows it partly.
                o += span == 0.0f ? ho : ho * (low_limit - h) / span;
            }
        }
        return std::min(o, 1.0f);
    }
};

// The weight of kernel at offset (dy, dx) from its centre; 0 outside it.
// The rows and columns run from -size / 2 to size - 1 - size / 2, so an even
// size (which set-up never makes) stays inside the weights.
inline float kernel_weight(const ShadowMapKernel& kernel, int dy, int dx) {
    const int h = kernel.size / 2;
    const unsigned r = static_cast<unsigned>(dy + h), c = static_cast<unsigned>(dx + h);
    const unsigned n = static_cast<unsigned>(kernel.size);
    if (r >= n || c >= n) return 0.0f;
    return kernel.weights[r * n + c];
}

// The kernel-weighted occlusion (S) and darkness (D) of the window of
// (2R + 1)^2 map pixels centred on (cx, cy), added pixel by pixel in rows
// from the bottom and columns from the left. The sums keep that order
// exactly, so pixels whose terms are zero (a weight of 0 outside the chosen
// kernel, no occluders) are skipped and pixels outside the map take the
// term of an empty pixel without being read.
class window_filter {
  public:
    window_filter(const ShadowMap& map, const filter_point& fp) : m_(map), fp_(fp) {}

    void run(int cx, int cy, int R) {
        for (int dy = -R; dy <= R; ++dy) {
            const int y = cy + dy;
            const int x0 = cx - R, x1 = cx + R;
            if (y < 0 || y >= m_.lines || x1 < 0 || x0 >= m_.cols) {
                empty_run(dy, -R, R);
                continue;
            }
            // Columns left of the map, inside it, right of it.
            const int in0 = std::max(x0, 0), in1 = std::min(x1, m_.cols - 1);
            empty_run(dy, -R, in0 - 1 - cx);
            map_run(y, dy, in0 - cx, in1 - cx, cx);
            empty_run(dy, in1 + 1 - cx, R);
        }
    }

    // Every pixel of the window outside the map.
    void run_outside(int R) {
        for (int dy = -R; dy <= R; ++dy) empty_run(dy, -R, R);
    }

    float S = 0.0f, D = 0.0f;

  private:
    // Pixels dx0 ... dx1 of row dy with no occluders: the first kernel, no
    // occlusion and the darkness of occluders at the light.
    void empty_run(int dy, int dx0, int dx1) {
        const ShadowMapKernel& k0 = fp_.kernels[0];
        for (int dx = dx0; dx <= dx1; ++dx) {
            const float k = kernel_weight(k0, dy, dx);
            if (k != 0.0f) D += k * fp_.empty_dark;
        }
    }

    // Pixels dx0 ... dx1 of map row y (the window's row dy), read in order.
    void map_run(int y, int dy, int dx0, int dx1, int cx) {
        const std::size_t row = static_cast<std::size_t>(y) * m_.cols + cx;
        const float* G = m_.maps[SMAP_GEO_DEPTH] + row;
        const float* GC = m_.maps[SMAP_GEO_COVERAGE] + row;
        const float* H = m_.maps[SMAP_HAIR_DEPTH] + row;
        const float* HO = m_.maps[SMAP_HAIR_OPACITY] + row;
        const filter_point& f = fp_;
        float s = S, d = D;
        for (int dx = dx0; dx <= dx1; ++dx) {
            const float g = G[dx], h = H[dx];
            if (g == 0.0f && h == 0.0f) {
                const float k = kernel_weight(f.kernels[0], dy, dx);
                if (k != 0.0f) d += k * f.empty_dark;
                continue;
            }
            // How far along the way to the light the nearest occluder lies
            // (0 at the light, 1 at the point); it picks the kernel.
            const float nearest = g == 0.0f ? h : h == 0.0f ? g : std::min(g, h);
            const float w = std::min(nearest / f.d, 1.0f);
            const int j = f.one_kernel ? 0 : std::min(static_cast<int>(f.count * w), f.last);
            const float k = kernel_weight(f.kernels[j], dy, dx);
            if (k == 0.0f) continue;
            s += k * f.occlusion(g, GC[dx], h, HO[dx]);
            d += k * f.darkness(w);
        }
        S = s;
        D = d;
    }

    const ShadowMap& m_;
    const filter_point& fp_;
};

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
    // A window wholly off the map (or a point with no place on it) reads
    // nothing; the test also keeps the pixel arithmetic within int.
    const int R = std::max(p.lgt_filter_size / 2, p.obj_filter_size / 2);
    const filter_point fp(*e, d, s);
    window_filter filter(p.map, fp);
    const float reach = static_cast<float>(R + 1);
    if (sx > -reach && sx < static_cast<float>(p.map.cols) + reach && sy > -reach &&
        sy < static_cast<float>(p.map.lines) + reach) {
        filter.run(static_cast<int>(sx), static_cast<int>(sy), R);
    } else {
        filter.run_outside(R);
    }
    const float S = std::min(filter.S, 1.0f);
    const float D = filter.D;
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
