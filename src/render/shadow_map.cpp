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

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include "foundation/messages.h"
#include "foundation/render_settings.h"
#include "foundation/vector_lanes.h"
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

// The shape of the lookup window: 2R + 1 map pixels across, rows padded
// to whole groups of eight (the widest lane vector below).
struct window_shape {
    int R = 0;
    int width = 1;   // 2R + 1
    int padded = 8;  // width rounded up to a multiple of 8
    explicit window_shape(int radius)
        : R(radius), width(2 * radius + 1), padded((2 * radius + 1 + 7) & ~7) {}
    std::size_t kernel_stride() const { return static_cast<std::size_t>(width) * padded; }
};

// Lays the kernels of e out on the window (see ShadowMapInfo::window_weights).
void lay_out_kernels(const ShadowMapInfo& e, const window_shape& w, float* out) {
    for (int j = 0; j < e.kernel_count; ++j) {
        float* block = out + j * w.kernel_stride();
        for (int r = 0; r < w.width; ++r) {
            for (int c = 0; c < w.padded; ++c)
                block[r * w.padded + c] =
                    c < w.width ? kernel_weight(e.kernels[j], r - w.R, c - w.R) : 0.0f;
        }
    }
}

using simd::f4;
using simd::f8;
using simd::lanes;
using simd::splat;

template <class V>
KORVO_LANES V load(const float* p) {
    V v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
// std::min lane by lane: b when b < a, else a.
template <class V>
KORVO_LANES V vmin(const V& a, const V& b) {
    return b < a ? b : a;
}
#if defined(__SSE__)
template <>
KORVO_LANES f4 vmin(const f4& a, const f4& b) {
    return _mm_min_ps(b, a);  // one instruction: b where b < a, else a (NaN and zeros alike)
}
#endif

// A value in the eight lanes of the widest vector, read as a vector of
// any width (a load rather than a broadcast in the per-pixel loops).
struct lanes8 {
    alignas(32) float v[8];
    lanes8() = default;
    explicit lanes8(float x) {
        for (float& l : v) l = x;
    }
    template <class V>
    KORVO_LANES V get() const {
        return load<V>(v);
    }
};

// What one lookup needs besides the map pixels: the point's distance from
// the light, the depth limits of the occluders and the darkness blend.
// Filled once per lookup so the per-pixel work only reads it.
struct filter_point {
    lanes8 d;           // distance of the point from the light
    lanes8 geo_limit;   // geometry nearer than this occludes
    lanes8 high_limit;  // hair nearer than this occludes fully
    lanes8 low_limit;   // hair between the two limits occludes partly
    lanes8 span;        // length of that ramp
    lanes8 lgt;         // darkness of occluders at the light
    lanes8 obj;         // darkness of occluders at the point
    lanes8 count;       // number of kernels
    lanes8 last;        // index of the last kernel
    int kernels;        // kernels the pixels choose from: 1 when all take the first
    bool whole_ramp;    // a ramp of length 0: hair in it blocks its whole opacity

    filter_point() = default;
    filter_point(const ShadowMapInfo& e, float dist, float s) {
        const MapParams& p = e.params;
        const float ramp = s * p.high_hair_epsilon - s * p.low_hair_epsilon;
        d = lanes8(dist);
        geo_limit = lanes8(dist - s * p.geo_epsilon);
        high_limit = lanes8(dist - s * p.high_hair_epsilon);
        low_limit = lanes8(dist - s * p.low_hair_epsilon);
        span = lanes8(ramp);
        whole_ramp = ramp == 0.0f;
        lgt = lanes8(p.lgt_darkness);
        obj = lanes8(p.obj_darkness);
        count = lanes8(static_cast<float>(e.kernel_count));
        last = lanes8(static_cast<float>(e.kernel_count - 1));
        kernels = p.lgt_filter_size / 2 == p.obj_filter_size / 2 ? 1 : e.kernel_count;
    }

    // For a vector of map pixels (g, gc, h, ho): the occlusion o, the
    // darkness term dark and kc, count x w, of which the kernel is the
    // whole part.
    template <class V>
    KORVO_LANES void pixels(const V& g, const V& gc, const V& h, const V& ho, V& o, V& dark,
                            V& kc) const {
        using M = typename lanes<V>::mask;
        const V zero = V{}, one = splat<V>(1.0f);
        const M g0 = g == zero, h0 = h == zero;

        // How far along the way to the light the nearest occluder lies (0
        // at the light, 1 at the point; 0 without occluders).
        const V nearest = g0 ? h : (h0 ? g : vmin(g, h));
        const V q = (g0 & h0) ? zero : nearest / d.get<V>();
        const V w = vmin(q, one);

        kc = count.get<V>() * w;

        // Geometry blocks its coverage; hair in front of the high bias its
        // opacity, hair on the ramp between the biases part of it.
        V occ = (~g0 & (g < geo_limit.get<V>())) ? gc : zero;
        const M in_front = h < high_limit.get<V>();
        const M full = ~h0 & in_front;
        const M part = ~h0 & ~in_front & (h < low_limit.get<V>());
        const V ramp = whole_ramp ? ho : ho * (low_limit.get<V>() - h) / span.get<V>();
        occ = full ? occ + ho : (part ? occ + ramp : occ);
        o = vmin(occ, one);
        dark = (one - w) * lgt.get<V>() + w * obj.get<V>();
    }
};

// 0 ... 3 in every lane of eight.
alignas(32) constexpr float kWholeNumbers[4][8] = {{0, 0, 0, 0, 0, 0, 0, 0},
                                                   {1, 1, 1, 1, 1, 1, 1, 1},
                                                   {2, 2, 2, 2, 2, 2, 2, 2},
                                                   {3, 3, 3, 3, 3, 3, 3, 3}};

// The weights of a vector of pixels whose kernel is the whole part of kc
// (the first below 1, the last from it up, the first when it is not a
// number), from the kernels laid out on window shape ws at w. A few
// kernels are picked lane-parallel, more one lane at a time.
template <class V>
KORVO_LANES V kernel_weights(const filter_point& fp, const window_shape& ws, const float* w,
                             const V& kc) {
    using M = typename lanes<V>::mask;
    const std::size_t stride = ws.kernel_stride();
    V k = load<V>(w);
    if (fp.kernels <= 4) {
        for (int t = 1; t < fp.kernels; ++t)
            k = kc >= load<V>(kWholeNumbers[t]) ? load<V>(w + t * stride) : k;
        return k;
    }
    V c = kc > V{} ? kc : V{};
    c = c < fp.last.get<V>() ? c : fp.last.get<V>();
    const M j = __builtin_convertvector(c, M);
    for (int l = 0; l < lanes<V>::n; ++l) k[l] = w[static_cast<std::size_t>(j[l]) * stride + l];
    return k;
}

// Column sums to a window's sum: the columns c ... c + n − 1 of the
// window (lanes of acc) added to sum one by one from the left.
template <class V>
KORVO_LANES void add_columns(float& sum, const V& acc, int n) {
    for (int l = 0; l < n; ++l) sum += acc[l];
}

// The kernel-weighted occlusion (S) and darkness (D) of the window of
// (2R + 1)^2 map pixels centred on (cx, cy). Pixels are worked out four at
// a time; each column of the window is summed from the bottom row up, and
// the column sums are added from the left. Pixels outside the map hold
// zeros.
class window_filter {
  public:
    // The column sums of groups of four columns: enough for the widest window.
    static constexpr int kGroups = (kShadowMaxFilterSize + 3) / 4;

    window_filter(const ShadowMap& map, const filter_point& fp, const window_shape& shape,
                  const float* weights)
        : m_(map), fp_(fp), w_(shape), weights_(weights) {
        for (int c = 0; c < w_.width; c += 4) s_[c / 4] = d_[c / 4] = f4{};
    }

    // The window of a point near the map's edge: its rows copied with
    // zeros off the map (filter_on_map reads a window wholly on the map).
    void run(int cx, int cy) {
        for (int r = 0; r < w_.width; ++r) {
            const float* rows[SMAP_CHANNELS];
            copy_row(cy - w_.R + r, cx - w_.R, rows);
            filter_row(r, rows);
        }
        finish();
    }

    // A window wholly off the map.
    void run_outside() {
        const float* rows[SMAP_CHANNELS];
        copy_row(-1, 0, rows);
        for (int r = 0; r < w_.width; ++r) filter_row(r, rows);
        finish();
    }

    float S = 0.0f, D = 0.0f;

  private:
    // Map row y from column x0 into the row buffers, zeros off the map.
    void copy_row(int y, int x0, const float* rows[SMAP_CHANNELS]) {
        std::vector<float>& buf = row_buffer(w_.padded);
        std::fill(buf.begin(), buf.end(), 0.0f);
        const int a = std::max(x0, 0), b = std::min(x0 + w_.width, m_.cols);
        for (int c = 0; c < SMAP_CHANNELS; ++c) {
            float* row = buf.data() + c * w_.padded;
            if (y >= 0 && y < m_.lines && a < b) {
                const float* src = m_.maps[c] + static_cast<std::size_t>(y) * m_.cols;
                std::copy(src + a, src + b, row + (a - x0));
            }
            rows[c] = row;
        }
    }

    // Scratch rows for windows that leave the map, kept between lookups.
    static std::vector<float>& row_buffer(int padded) {
        thread_local std::vector<float> buf;
        buf.resize(static_cast<std::size_t>(padded) * SMAP_CHANNELS);
        return buf;
    }

    // Row r of the window into the column sums, four pixels at a time.
    void filter_row(int r, const float* const rows[SMAP_CHANNELS]) {
        const float* wrow = weights_ + static_cast<std::size_t>(r) * w_.padded;
        for (int c = 0; c < w_.width; c += 4) {
            f4 o, dark, kc;
            fp_.pixels(load<f4>(rows[SMAP_GEO_DEPTH] + c), load<f4>(rows[SMAP_GEO_COVERAGE] + c),
                       load<f4>(rows[SMAP_HAIR_DEPTH] + c), load<f4>(rows[SMAP_HAIR_OPACITY] + c),
                       o, dark, kc);
            const f4 k = kernel_weights(fp_, w_, wrow + c, kc);
            s_[c / 4] += k * o;
            d_[c / 4] += k * dark;
        }
    }

    // The column sums added from the left.
    void finish() {
        for (int c = 0; c < w_.width; c += 4) {
            add_columns(S, s_[c / 4], std::min(4, w_.width - c));
            add_columns(D, d_[c / 4], std::min(4, w_.width - c));
        }
    }

    const ShadowMap& m_;
    const filter_point& fp_;
    const window_shape& w_;
    const float* weights_;
    f4 s_[kGroups], d_[kGroups];  // column sums, four columns each
};

// The entry's kernels on the window of radius R: those laid out at set-up,
// or laid out now into scratch kept between lookups.
const float* window_weights(const ShadowMapInfo& e, const window_shape& w) {
    if (e.window_weights != nullptr && e.window_radius == w.R) return e.window_weights;
    thread_local std::vector<float> scratch;
    scratch.resize(e.kernel_count * w.kernel_stride());
    lay_out_kernels(e, w, scratch.data());
    return scratch.data();
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
    return smMakeWindowWeights(&e);
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
            delete[] e.window_weights;
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

bool smMakeWindowWeights(ShadowMapInfo* e) {
    delete[] e->window_weights;
    e->window_weights = nullptr;
    e->window_radius = -1;
    if (e->kernel_count < 1) return true;
    const MapParams& p = e->params;
    const window_shape w(std::max(p.lgt_filter_size / 2, p.obj_filter_size / 2));
    e->window_weights = new (std::nothrow) float[e->kernel_count * w.kernel_stride()];
    if (e->window_weights == nullptr) return false;
    lay_out_kernels(*e, w, e->window_weights);
    e->window_radius = w.R;
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

namespace {

// Where a lookup reads the map: the point's distance from the light, its
// map position, and the projector's brightness there.
struct map_point {
    float d = 0.0f, sx = 0.0f, sy = 0.0f, B = 1.0f;
};

map_point locate(ShadowMapInfo* e, const kivPoint& P) {
    map_point m;
    const kivPoint L = P * e->matrix;
    m.d = std::sqrt(L.x * L.x + L.y * L.y + L.z * L.z);
    if (m.d < 1e-5f) m.d = 0.0f;
    float u, v;
    smCalcShadowScreenPoint(e, L, m.sx, m.sy, u, v);
    kivVector rgb;
    if (smCalcProjection(e, u, v, rgb)) m.B = 0.299f * rgb.x + 0.587f * rgb.y + 0.144f * rgb.z;
    return m;
}

// The multiplier from the filtered occlusion S and darkness D.
inline float shadow_mult(float S, float D, float B) {
    S = std::min(S, 1.0f);
    return (1.0f - S) * B * D + (1.0f - D);
}

// Whether the window of a point lies wholly on the map, so that its rows
// are read straight from it; (cx, cy) is then its centre.
bool window_on_map(const ShadowMap& map, const window_shape& w, const map_point& m, int& cx,
                   int& cy) {
    const float reach = static_cast<float>(w.R + 1);
    if (!(m.sx > -reach && m.sx < static_cast<float>(map.cols) + reach && m.sy > -reach &&
          m.sy < static_cast<float>(map.lines) + reach))
        return false;
    cx = static_cast<int>(m.sx);
    cy = static_cast<int>(m.sy);
    return cx - w.R >= 0 && cy - w.R >= 0 && cx - w.R + w.padded <= map.cols &&
           cy + w.R < map.lines;
}

// P lookups whose windows lie on the map (at[j]: where point j's window
// starts), side by side, with vectors of V: each column sum of each point
// gets the bits that four columns at a time give it.
template <class V, int P>
KORVO_LANES void filter_lanes(const ShadowMap& map, const window_shape& w, const float* weights,
                              const filter_point* fp, const std::size_t* at, float* S, float* D) {
    constexpr int N = lanes<V>::n;
    for (int j = 0; j < P; ++j) S[j] = D[j] = 0.0f;
    for (int c = 0; c < w.width; c += N) {
        V s[P] = {}, d[P] = {};
        for (int r = 0; r < w.width; ++r) {
            const float* wrow = weights + static_cast<std::size_t>(r) * w.padded + c;
            for (int j = 0; j < P; ++j) {
                const std::size_t i = at[j] + static_cast<std::size_t>(r) * map.cols + c;
                V o, dark, kc;
                fp[j].pixels(load<V>(map.maps[SMAP_GEO_DEPTH] + i),
                             load<V>(map.maps[SMAP_GEO_COVERAGE] + i),
                             load<V>(map.maps[SMAP_HAIR_DEPTH] + i),
                             load<V>(map.maps[SMAP_HAIR_OPACITY] + i), o, dark, kc);
                const V k = kernel_weights(fp[j], w, wrow, kc);
                s[j] += k * o;
                d[j] += k * dark;
            }
        }
        const int n = std::min(N, w.width - c);
        for (int j = 0; j < P; ++j) {
            add_columns(S[j], s[j], n);
            add_columns(D[j], d[j], n);
        }
    }
}

// n (1 or 4) lookups at once, by four lanes and, where the processor has
// AVX2, by eight. With four lanes, one-instruction blends do the selects
// where the processor has SSE 4.1. The choice is made once, by hand rather
// than through compiler-made clones: their resolver runs while the library
// is being relocated, before an instrumented build's counters exist.
template <class V>
KORVO_LANES void filter_n(int n, const ShadowMap& map, const window_shape& w, const float* weights,
                          const filter_point* fp, const std::size_t* at, float* S, float* D) {
    if (n == 4)
        filter_lanes<V, 4>(map, w, weights, fp, at, S, D);
    else
        filter_lanes<V, 1>(map, w, weights, fp, at, S, D);
}
void filter_by_4(int n, const ShadowMap& map, const window_shape& w, const float* weights,
                 const filter_point* fp, const std::size_t* at, float* S, float* D) {
    filter_n<f4>(n, map, w, weights, fp, at, S, D);
}
#if KORVO_HAVE_BY_8
__attribute__((target("sse4.1"))) void filter_by_4_blend(
    int n, const ShadowMap& map, const window_shape& w, const float* weights,
    const filter_point* fp, const std::size_t* at, float* S, float* D) {
    filter_n<f4>(n, map, w, weights, fp, at, S, D);
}
KORVO_BY_8 void filter_by_8(int n, const ShadowMap& map, const window_shape& w,
                            const float* weights, const filter_point* fp, const std::size_t* at,
                            float* S, float* D) {
    filter_n<f8>(n, map, w, weights, fp, at, S, D);
}
#endif

// Whether the lookups use eight lanes (smLookupLanes), and whether four
// lanes may blend.
#if KORVO_HAVE_BY_8
bool g_by_8 = simd::cpu_has_avx2();
const bool g_blend = simd::cpu_has_sse41();
#else
constexpr bool g_by_8 = false;
#endif

// n (1 or 4) lookups whose windows lie on the map, centred on (cx[j], cy[j]).
void filter_on_map(int n, const ShadowMap& map, const window_shape& w, const float* weights,
                   const filter_point* fp, const int* cx, const int* cy, float* S, float* D) {
    std::size_t at[4];
    for (int j = 0; j < n; ++j)
        at[j] = static_cast<std::size_t>(cy[j] - w.R) * map.cols + (cx[j] - w.R);
#if KORVO_HAVE_BY_8
    if (g_by_8) {
        filter_by_8(n, map, w, weights, fp, at, S, D);
        return;
    }
    if (g_blend) {
        filter_by_4_blend(n, map, w, weights, fp, at, S, D);
        return;
    }
#endif
    filter_by_4(n, map, w, weights, fp, at, S, D);
}

}  // namespace

float smCalcShadowMultForPoint(ShadowMapInfo* e, const kivPoint& P, float s) {
    const MapParams& p = e->params;
    if (p.map.encoding == -1 || e->kernel_count < 1) return 1.0f;

    // The point in the light's space and where it falls on the map.
    const map_point m = locate(e, P);

    // Filter the occlusion and the darkness over the map pixels around it.
    // A window wholly off the map (or a point with no place on it) reads
    // nothing; the test also keeps the pixel arithmetic within int.
    const window_shape shape(std::max(p.lgt_filter_size / 2, p.obj_filter_size / 2));
    const filter_point fp(*e, m.d, s);
    const float* weights = window_weights(*e, shape);
    int cx, cy;
    if (window_on_map(p.map, shape, m, cx, cy)) {
        float S, D;
        filter_on_map(1, p.map, shape, weights, &fp, &cx, &cy, &S, &D);
        return shadow_mult(S, D, m.B);
    }
    window_filter filter(p.map, fp, shape, weights);
    const float reach = static_cast<float>(shape.R + 1);
    if (m.sx > -reach && m.sx < static_cast<float>(p.map.cols) + reach && m.sy > -reach &&
        m.sy < static_cast<float>(p.map.lines) + reach) {
        filter.run(static_cast<int>(m.sx), static_cast<int>(m.sy));
    } else {
        filter.run_outside();
    }
    return shadow_mult(filter.S, filter.D, m.B);
}

void smCalcShadowMultForPoints(ShadowMapInfo* e, int n, const kivPoint* P, const float* s,
                               float* out) {
    const MapParams& p = e->params;
    if (p.map.encoding == -1 || e->kernel_count < 1) {
        std::fill(out, out + std::max(n, 0), 1.0f);
        return;
    }
    const window_shape shape(std::max(p.lgt_filter_size / 2, p.obj_filter_size / 2));
    const float* weights = window_weights(*e, shape);
    // Points whose windows lie on the map gather in fours; the others, and
    // the last few, are looked up one at a time.
    filter_point fp[4];
    int cx[4], cy[4], index[4];
    float B[4], S[4], D[4];
    int k = 0;
    for (int i = 0; i < n; ++i) {
        const map_point m = locate(e, P[i]);
        if (!window_on_map(p.map, shape, m, cx[k], cy[k])) {
            out[i] = smCalcShadowMultForPoint(e, P[i], s[i]);
            continue;
        }
        fp[k] = filter_point(*e, m.d, s[i]);
        B[k] = m.B;
        index[k] = i;
        if (++k < 4) continue;
        filter_on_map(4, p.map, shape, weights, fp, cx, cy, S, D);
        for (int j = 0; j < 4; ++j) out[index[j]] = shadow_mult(S[j], D[j], B[j]);
        k = 0;
    }
    for (int j = 0; j < k; ++j)
        out[index[j]] = smCalcShadowMultForPoint(e, P[index[j]], s[index[j]]);
}

namespace {

// The back-shadow factor at c (0 facing away from the light, 1 towards it)
// for a step of factor b and darkness dark. The segments of a hair share
// its normal and so ask for the same value: the last one is kept, keyed by
// the bits of its arguments.
float back_shadow(float c, float b, float dark) {
    static struct {
        std::uint32_t key[3];
        bool set = false;
        float value;
    } last;
    std::uint32_t key[3];
    std::memcpy(&key[0], &c, sizeof c);
    std::memcpy(&key[1], &b, sizeof b);
    std::memcpy(&key[2], &dark, sizeof dark);
    if (last.set && std::memcmp(key, last.key, sizeof key) == 0) return last.value;
    const float p =
        c < 0.5f ? std::pow(std::fabs(c), b) * b : 1.0f - std::pow(std::fabs(1.0f - c), b) * b;
    const float g = 2.0f * p * p * p - 3.0f * p * p + 1.0f;
    std::memcpy(last.key, key, sizeof key);
    last.set = true;
    last.value = (1.0f - dark) * (1.0f - g) + g;
    return last.value;
}

}  // namespace

int smLookupLanes(int limit) {
#if KORVO_HAVE_BY_8
    g_by_8 = limit >= 8 && simd::cpu_has_avx2();
#else
    (void)limit;
#endif
    return g_by_8 ? 8 : 4;
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
    return back_shadow(LN * 0.5f + 0.5f, a.back_shadow_factor, a.back_shadow_darkness) * f;
}
