// Lights and hair lighting.
#include "render/lighting.h"

#include <math.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

#include "descriptions/assign_db.h"
#include "descriptions/hair_params.h"
#include "foundation/render_settings.h"
#include "descriptions/hair_records.h"
#include "render/shadow_map.h"

namespace {

struct LightList {
    hair_light* lights = nullptr;
    int size = 0;  // records allocated in lights
};

LightList g_lists[2];     // the light list and the motion-blur list
int g_count = 0;          // number of lights, shared by both lists
int g_fill = 0;           // records handed out since the last fresh allocation
bool g_clamping = false;  // clamp the summed light to 1 (set once, never cleared)

// The cosine of the axis angle above which a spot with this cone and
// penumbra is surely at full strength: a little above the cosine of the
// edge of full strength (the cone, or the cone narrowed by a negative
// penumbra), so that acosf's rounding cannot cross the edge. 2 when the
// edge is at 0 degrees. The last few spots are remembered.
double full_strength_cosine(float cone, float penumbra) {
    struct entry {
        float cone, penumbra;
        double cosine;
    };
    static entry cache[4];
    static int used = 0, next = 0;
    for (int i = 0; i < used; ++i)
        if (cache[i].cone == cone && cache[i].penumbra == penumbra) return cache[i].cosine;
    const double edge = penumbra >= 0.0f ? cone : static_cast<double>(cone) + penumbra;
    const double cosine = edge > 0.0 ? std::cos(std::min(edge, 180.0) / 57.29578) + 1e-5 : 2.0;
    cache[next] = {cone, penumbra, cosine};
    next = (next + 1) % 4;
    used = std::min(used + 1, 4);
    return cosine;
}

LightList& list_of(int which) {
    return g_lists[which != 0 ? 1 : 0];
}

// n default lights, or null (n < 0 or out of memory).
hair_light* new_lights(long long n) {
    if (n < 0 || n > INT_MAX) return nullptr;
    return new (std::nothrow) hair_light[static_cast<std::size_t>(n)];
}

float clamp_unit(float c) {
    return c < -1.0f ? -1.0f : (c > 1.0f ? 1.0f : c);
}

// The sine of the angle (0 ... 180 degrees) whose cosine is c, clamped to
// [-1, 1]: sqrt(1 − c²), without working out the angle.
float sine_of_cosine(float c) {
    c = clamp_unit(c);
    return std::sqrt(1.0f - c * c);
}

bool is_area(int type) {
    return type == LIGHT_SPOT_AREA || type == LIGHT_POINT_AREA;
}

hair_light* find_light(const char* name, int which) {
    const LightList& list = list_of(which);
    if (!name || !list.lights) return nullptr;
    for (int i = 0; i < list.size; ++i) {
        const hair_name* n = list.lights[i].name;
        if (n && n->name && std::strcmp(n->name, name) == 0) return &list.lights[i];
    }
    return nullptr;
}

// Entry index of the render's shadow list, or null.
ShadowMapInfo* shadow_entry(int index) {
    const ShadowMapList& s = defs.shadows;
    if (!s.entries || index < 0 || index >= s.count) return nullptr;
    return &s.entries[index];
}

// The light space point of sample (s, u) of a shape; other shapes keep p.
void area_point(int shape, double s, double u, kivPoint& p) {
    constexpr double two_pi = 6.283185307179586;
    switch (shape) {
        case AREA_POINT:
            p = kivPoint();
            break;
        case AREA_RECT:
            p = kivPoint(static_cast<float>(2.0 * s - 1.0), static_cast<float>(2.0 * u - 1.0),
                         0.0f);
            break;
        case AREA_SPHERE: {
            // (0, 0, -1) turned about x and then about y, both by phi.
            const double phi = two_pi * s, c = std::cos(phi), sn = std::sin(phi);
            p = kivPoint(static_cast<float>(c * sn), static_cast<float>(-sn),
                         static_cast<float>(-c * c));
            break;
        }
        case AREA_DISC:
            p = kivPoint(static_cast<float>(s * std::cos(two_pi * u)),
                         static_cast<float>(s * std::sin(two_pi * u)), 0.0f);
            break;
        default:
            break;
    }
}

}  // namespace

// ---------------------------------------------------------------------------
// hair_light: ownership

hair_light& hair_light::operator=(hair_light&& other) noexcept {
    if (this == &other) return *this;
    clear();
    copy_fields(other);
    other.samples = nullptr;
    other.name = nullptr;
    other.links = nullptr;
    other.clear();
    return *this;
}

void hair_light::release() {
    names_remove(name);
    if (links) {
        for (int k = 0; k < link_count && links[k]; ++k) names_remove(links[k]);
    }
    delete[] links;
    delete[] samples;
}

void hair_light::clear() {
    release();
    static const hair_light fresh;
    copy_fields(fresh);
}

void hair_light::copy_fields(const hair_light& o) {
    type = o.type;
    flags = o.flags;
    color = o.color;
    position = o.position;
    direction = o.direction;
    falloff_start = o.falloff_start;
    falloff_end = o.falloff_end;
    cone = o.cone;
    penumbra = o.penumbra;
    dropoff = o.dropoff;
    link_count = o.link_count;
    matrix = o.matrix;
    area_matrix = o.area_matrix;
    area_usamples = o.area_usamples;
    area_vsamples = o.area_vsamples;
    area_shape = o.area_shape;
    samples = o.samples;
    name = o.name;
    links = o.links;
    smap_index = o.smap_index;
    samples_size = o.samples_size;
}

bool hair_light::set_link_count(int n) {
    if (n < 0) n = 0;
    if (links) {
        hair_name** resized = new (std::nothrow) hair_name*[static_cast<std::size_t>(n)]();
        if (!resized && n > 0) return false;
        for (int k = 0; k < link_count && links[k]; ++k) {
            if (k < n) {
                resized[k] = links[k];
            } else {
                names_remove(links[k]);
            }
        }
        delete[] links;
        links = resized;
    }
    link_count = n;
    return true;
}

bool hair_light::add_link(hair_name* n) {
    if (link_count > 0 && !links) links = new (std::nothrow) hair_name*[link_count]();
    if (links) {
        for (int k = 0; k < link_count; ++k) {
            if (!links[k]) {
                links[k] = n;
                return true;
            }
        }
    }
    names_remove(n);
    return false;
}

// ---------------------------------------------------------------------------
// hair_light: light at a point

float hair_light::falloff_mult(float m, float d) const {
    if (!(flags & LIGHT_HAS_FALLOFF)) return m;
    const float f = falloff_start;
    if (f < 0.0f) {
        if (f == LIGHT_FALLOFF_LINEAR) return m / d;
        if (f == LIGHT_FALLOFF_SQUARE) return m / (d * d);
        if (f == LIGHT_FALLOFF_CUBE) return m / (d * d * d);
        return m;
    }
    if (d <= f) return m;
    if (d <= falloff_end) return m * (1.0f - (d - f) / (falloff_end - f));
    return 0.0f;
}

float hair_light::dropoff_mult(float m, float angle) const {
    // Any number to the power 0 is 1: no dropoff leaves m as it is.
    if (dropoff == 0.0f) return m;
    // 22 / 1260 stands for pi / 180: the cosine is that of twice the angle.
    return powf(cosf(angle * 22.0f / 1260.0f * 2.0f), dropoff) * m;
}

float hair_light::calc_spot_light_mult(const kivPoint& origin, const kivPoint& P,
                                       const kivVector& N) const {
    // A light pointing along the root normal lies behind the surface.
    if (defs.backface && direction * N >= 0.0f) return 0.0f;
    kivVector D(origin, P);
    const float d = D.norm();
    if (d == 0.0f) {
        std::fputs("ERROR: vector norm failure in calc_spot_light_mult", stdout);
        return 0.0f;
    }
    // Angle between the axis and the way to P; a spot without an axis
    // sees every point at 90 degrees.
    const double root = std::sqrt(static_cast<double>(direction.sqrd_length()) *
                                  static_cast<double>(D.sqrd_length()));
    double c = root > 0.0 ? static_cast<double>(D * direction) / root : 0.0;
    c = std::min(1.0, std::max(-1.0, c));
    // Well inside the cone without a dropoff the angle is not needed.
    if (dropoff == 0.0f && static_cast<float>(c) >= full_strength_cosine(cone, penumbra))
        return falloff_mult(1.0f, d);
    const double angle = acosf(static_cast<float>(c)) * 57.29578;

    double m = 1.0;
    if (penumbra >= 0.0f) {
        if (angle >= cone + penumbra) {
            m = 0.0;
        } else if (angle > cone) {
            m = 1.0 - (angle - cone) / penumbra;
        }
    } else {
        if (angle >= cone) {
            m = 0.0;
        } else if (angle > cone + penumbra) {
            m = (angle - cone) / penumbra;
        }
    }
    float mf = static_cast<float>(m);
    if (mf > 0.0f) mf = dropoff_mult(mf, static_cast<float>(angle));
    return falloff_mult(mf, d);
}

float hair_light::before_shadow(const kivPoint& P, const kivVector& N) const {
    if (type == LIGHT_NULL) return 0.0f;
    if (kivVector(P, position).length() == 0.0f) {
        std::puts("ERROR: hair_light::lighting vector norm failure");
        return 0.0f;
    }
    return unshadowed(P, N);
}

float hair_light::lighting(const kivPoint& P, const kivVector& N, float t) const {
    // The light's own multiplier first: where it is zero (outside the cone,
    // behind the surface) the shadow lookup cannot change the result.
    const float m = before_shadow(P, N);
    if (m == 0.0f) return m;

    // Shadow multiplier of the light's entry.
    float S = 1.0f;
    if (defs.shadows.use_shadows && smap_index != -1) {
        if (ShadowMapInfo* e = shadow_entry(smap_index)) {
            if (e->kind == SHADOW_MAP) {
                S = smCalcShadowMultForPoint(e, P, defs.root_scale);
            } else if (e->kind == SHADOW_AUTO) {
                S = smCalcAutoShadeMult(e, N, t);
            }
        }
    }
    return S * m;
}

void hair_light::lighting_many(int n, const kivPoint* P, const kivVector* N,
                               const float* root_scale, float t, float* out) const {
    ShadowMapInfo* e =
        defs.shadows.use_shadows && smap_index != -1 ? shadow_entry(smap_index) : nullptr;
    if (e == nullptr || e->kind != SHADOW_MAP) {
        // No map: nothing to gain from taking the points together.
        for (int i = 0; i < n; ++i) out[i] = lighting(P[i], N[i], t);
        return;
    }
    // The points whose multiplier is not zero are looked up together, a
    // chunk at a time.
    constexpr int kChunk = 64;
    kivPoint q[kChunk];
    float qs[kChunk], S[kChunk];
    int qi[kChunk];
    for (int i0 = 0; i0 < n; i0 += kChunk) {
        const int i1 = std::min(n, i0 + kChunk);
        int k = 0;
        for (int i = i0; i < i1; ++i) {
            out[i] = before_shadow(P[i], N[i]);
            if (out[i] == 0.0f) continue;
            q[k] = P[i];
            qs[k] = root_scale[i];
            qi[k++] = i;
        }
        smCalcShadowMultForPoints(e, k, q, qs, S);
        for (int j = 0; j < k; ++j) out[qi[j]] = S[j] * out[qi[j]];
    }
}

float hair_light::unshadowed(const kivPoint& P, const kivVector& N) const {
    switch (type) {
        case LIGHT_SPOT:
            return calc_spot_light_mult(position, P, N);
        case LIGHT_POINT:
            return falloff_mult(1.0f, P.distance(position));
        case LIGHT_INFINITE:
            return 1.0f;
        case LIGHT_SPOT_AREA: {
            if (!samples || samples_size <= 0) return 0.0f;
            float sum = 0.0f;
            for (int k = 0; k < samples_size; ++k) sum += calc_spot_light_mult(samples[k], P, N);
            return sum / static_cast<float>(samples_size);
        }
        case LIGHT_POINT_AREA: {
            if (!samples || samples_size <= 0) return 0.0f;
            // Samples facing away add nothing but still count.
            float sum = 0.0f;
            for (int k = 0; k < samples_size; ++k) {
                kivVector V(samples[k], P);
                if (V.norm() == 0.0f || direction * V < 0.0f) continue;
                sum += falloff_mult(1.0f, samples[k].distance(P)) * std::fabs(V * N);
            }
            return sum / static_cast<float>(samples_size);
        }
        default:
            return 0.0f;
    }
}

kivVector hair_light::light_vector(const kivPoint& P) const {
    if (type == LIGHT_INFINITE) return direction;
    if (is_area(type) && samples && samples_size > 0) {
        int nearest = 0;
        float best = kivVector(P, samples[0]).sqrd_length();
        for (int k = 1; k < samples_size; ++k) {
            const float d2 = kivVector(P, samples[k]).sqrd_length();
            if (d2 < best) {
                best = d2;
                nearest = k;
            }
        }
        return kivVector(P, samples[nearest]);
    }
    return kivVector(P, position);
}

kivColor hair_light::diffuse(const kivPoint& P, const kivVector& T, float I) const {
    if (type == LIGHT_POINT_AREA) return color * I;
    kivVector L = light_vector(P);
    if (L.norm() == 0.0f) {
        std::puts("ERROR: hair_light::diffuse vector norm failure");
        return kivColor();
    }
    return color * (sine_of_cosine(L * T) * I);
}

kivColor hair_light::specular(const kivPoint& P, const kivVector& T, float I, float e) const {
    static const char* const failure = "ERROR: hair_light::specular vector norm failure";
    kivVector E = -kivVector(P);  // towards the eye at the origin
    kivVector L = light_vector(P);
    const float length = std::sqrt(L.sqrd_length());
    if (length < 1e-5f) {
        std::puts(failure);
        return kivColor();
    }
    L = L / length;
    if (E.norm() == 0.0f) {
        std::puts(failure);
        return kivColor();
    }
    const float cl = T * L;
    const float ce = -(T * E);
    if (!((cl >= 0.0f && ce >= 0.0f) || (cl <= 0.0f && ce <= 0.0f))) return kivColor();
    const float base = sine_of_cosine(ce) * sine_of_cosine(cl) + ce * cl;
    return color * (powf(base, e) * I);
}

// ---------------------------------------------------------------------------
// The lists

int lgtdb_init(int n, int which) {
    if (std::getenv("KORVO_FUR_LIGHT_CLAMPING")) g_clamping = true;

    if (which != 0) {
        if (n > g_count) {
            std::printf("ERROR: %d motion blur lights, %d lights\n", n, g_count);
            return 0;
        }
        LightList& blur = g_lists[1];
        if (blur.lights) return 1;
        hair_light* lights = new_lights(g_count);
        if (!lights) return 0;
        blur.lights = lights;
        blur.size = g_count;
        g_fill = 0;
        return 1;
    }

    LightList& list = g_lists[0];
    const long long total = static_cast<long long>(g_count) + n;
    hair_light* lights = n < 0 ? nullptr : new_lights(total);
    if (!lights) return 0;
    if (g_count == 0) {
        g_fill = 0;
    } else {
        // Keep the records handed out so far, with what they own.
        const int keep = std::min(g_fill, list.size);
        for (int i = 0; i < keep; ++i) lights[i] = std::move(list.lights[i]);
    }
    delete[] list.lights;
    list.lights = lights;
    list.size = static_cast<int>(total);
    g_count = static_cast<int>(total);
    return 1;
}

hair_light* lgtdb_get_new(int which) {
    LightList& list = list_of(which);
    if (!list.lights || g_fill >= g_count || g_fill >= list.size) return nullptr;
    return &list.lights[g_fill++];
}

int lgtdb_count() {
    return g_count;
}

hair_light* lgtdb_get_index(int i, int which) {
    LightList& list = list_of(which);
    if (!list.lights || i < 0 || i >= list.size) return nullptr;
    return &list.lights[i];
}

// ---------------------------------------------------------------------------
// Per frame

void lgtdb_xform(kivMatrix M, int which) {
    LightList& list = list_of(which);
    for (int i = 0; i < list.size; ++i) {
        hair_light& l = list.lights[i];
        l.position = l.position * M;
        if (l.type == LIGHT_SPOT || l.type == LIGHT_INFINITE || is_area(l.type)) {
            l.direction = l.direction * M;
            l.direction.norm();
        }
        if (is_area(l.type)) l.area_matrix = l.matrix * M;
    }
}

void lgtdb_calc_simple_area_lights(int which) {
    LightList& list = list_of(which);
    for (int i = 0; i < list.size; ++i) {
        hair_light& l = list.lights[i];
        if (!is_area(l.type)) continue;
        const int nu = l.area_usamples, nv = l.area_vsamples;
        const long long n = static_cast<long long>(nu) * nv;
        if (nu <= 0 || nv <= 0) continue;
        if (n > kMaxAreaLightSamples) {
            std::printf("ERROR: area light %s: %d x %d samples, more than %d\n",
                        l.name && l.name->name ? l.name->name : "noname", nu, nv,
                        kMaxAreaLightSamples);
            continue;
        }

        // The array is made once and reused while the sample counts stay.
        if (!l.samples || l.samples_size != n) {
            delete[] l.samples;
            l.samples = new (std::nothrow) kivPoint[static_cast<std::size_t>(n)];
            l.samples_size = l.samples ? static_cast<int>(n) : 0;
            if (!l.samples) continue;
        }

        kivPoint local;
        for (int a = 0; a < nu; ++a) {
            const double s = nu < 2 ? 0.5 : static_cast<double>(a) / (nu - 1);
            for (int b = 0; b < nv; ++b) {
                const double u = nv < 2 ? 0.5 : static_cast<double>(b) / (nv - 1);
                area_point(l.area_shape, s, u, local);
                l.samples[a * nv + b] = local * l.area_matrix;
            }
        }
    }
}

void lgtdb_check_exclude(int pass) {
    for (LightList& list : g_lists) {
        for (int i = 0; i < list.size; ++i) {
            hair_light& l = list.lights[i];
            if (l.type == LIGHT_NULL || !l.name || !assdb_get_exclude(l.name, pass)) continue;
            l.type = LIGHT_NULL;
            names_remove(l.name);
            l.name = nullptr;
            delete[] l.samples;
            l.samples = nullptr;
            l.samples_size = 0;
        }
    }
}

void lgtdb_check_defs(int which) {
    const LightList& list = list_of(which);
    for (int i = 0; i < list.size; ++i) {
        const hair_name* n = list.lights[i].name;
        if (n && n->name && !assdb_has_light_params(n))
            std::printf("WARNING: light (%s) not defined in .hair file!\n", n->name);
    }
}

// ---------------------------------------------------------------------------
// Shadows

void lgtdb_set_smap_index(const char* name, int index, int which) {
    hair_light* l = find_light(name, which);
    if (!l) return;
    if (ShadowMapInfo* e = shadow_entry(index)) e->light = l;
    l->smap_index = index;
}

int lgtdb_get_shadowmap_light(const char* name, int index, int which) {
    hair_light* l = find_light(name, which);
    if (!l) {
        std::printf("***** Could not find light named: %s.\n", name ? name : "");
        return 0;
    }
    if (l->type != LIGHT_SPOT) {
        std::printf("***** Only spot light shadow maps are currently supported.\n");
        return 0;
    }
    if (ShadowMapInfo* e = shadow_entry(index)) e->light = l;
    return 1;
}

kivMatrix lgtdb_get_new_shadow_matrix(const char* name, int index, int which,
                                      const kivMatrix& camera) {
    if (!lgtdb_get_shadowmap_light(name, index, which)) return kivMatrix();
    hair_light* l = find_light(name, which);
    if (ShadowMapInfo* e = shadow_entry(index)) {
        const float angle = e->params.map.cone == 0.0f ? l->cone + l->penumbra : e->params.map.cone;
        e->params.angle = angle;
        e->proj_scale = 0.5f / std::tan(angle * 0.01745329f);
    }
    // Points are row vectors: camera space -> world -> light space.
    kivMatrix to_light = l->matrix;
    to_light.invert();
    if (!defs.shadows.use_shadows) return to_light;
    kivMatrix to_world = camera;
    to_world.invert();
    return to_world * to_light;
}

// ---------------------------------------------------------------------------
// Lighting a segment

namespace {

// Whether a light without a number for its contribution was reported since
// the lists were last cleaned up.
bool g_nan_reported = false;

bool has_nan(const kivColor& c) {
    return std::isnan(c.r) || std::isnan(c.g) || std::isnan(c.b) || std::isnan(c.a);
}

// A spot light with a non-integer dropoff gives NaN from powf beyond 45
// degrees off its axis; one such light must not blacken the whole hair, so
// it contributes nothing (said once, with warnings on).
void report_nan_light(const hair_light& l) {
    if (g_nan_reported || !opt_warnings()) return;
    g_nan_reported = true;
    std::printf("WARNING: light %s gives a value that is not a number; it contributes nothing\n",
                l.name && l.name->name ? l.name->name : "noname");
}

// diffuse(P, T, I) into d and specular(P, T, I, e) into s, bit for bit and
// with their messages in the same order, taking the light vector to unit
// length once and the sine of its angle to the tangent once for both
// (specular's cosine to the light is diffuse's: the same products summed in
// the same order).
void diffuse_and_specular(const hair_light& l, const kivPoint& P, const kivVector& T, float I,
                          float e, kivColor& d, kivColor& s) {
    const kivVector L0 = l.light_vector(P);
    const float length = std::sqrt(L0.sqrd_length());
    // L0 over its length, as norm() and operator/ both make it.
    const float inv = static_cast<float>(1.0 / static_cast<double>(length));
    const kivVector L(L0.x * inv, L0.y * inv, L0.z * inv);

    // Diffuse: norm() leaves a vector shorter than 1e-5 (double) alone.
    bool have_sine = false;
    float sine = 0.0f;
    d = kivColor();
    if (l.type == LIGHT_POINT_AREA) {
        d = l.color * I;
    } else if (length < 1e-5) {
        std::puts("ERROR: hair_light::diffuse vector norm failure");
    } else {
        sine = sine_of_cosine(L * T);
        have_sine = true;
        d = l.color * (sine * I);
    }

    // Specular, with its own test of the length (1e-5 in float).
    s = kivColor();
    static const char* const failure = "ERROR: hair_light::specular vector norm failure";
    if (length < 1e-5f) {
        std::puts(failure);
        return;
    }
    kivVector E = -kivVector(P);
    if (E.norm() == 0.0f) {
        std::puts(failure);
        return;
    }
    const float cl = T * L;
    const float ce = -(T * E);
    if (!((cl >= 0.0f && ce >= 0.0f) || (cl <= 0.0f && ce <= 0.0f))) return;
    if (!have_sine) sine = sine_of_cosine(cl);
    const float base = sine_of_cosine(ce) * sine + ce * cl;
    s = l.color * (powf(base, e) * I);
}

}  // namespace

void lgtdb_calc_hair_lighting(const kivPoint& P, const kivVector& T, const kivVector& N,
                              const hair_state* hs, kivColor* out, int which, float t) {
    if (defs.shadows.shadow_pass) return;

    const hair_params* hp = hs ? hs->params : nullptr;
    const int mode = hp ? hp->light_model : 0;
    const float e = (mode == 2 || mode == 3) ? hp->sharpness.eval(*hs) : 0.0f;

    kivColor D, Sp;
    const char* model = defs.model_name;
    const LightList& list = list_of(which);
    for (int i = 0; model && i < list.size; ++i) {
        const hair_light& l = list.lights[i];
        if (!l.links) continue;
        // Every link naming the model lights the hair once more.
        for (int k = 0; k < l.link_count && l.links[k]; ++k) {
            const char* linked = l.links[k]->name;
            // Names are mostly shared text: equal pointers skip the compare.
            if (!linked || (linked != model && std::strcmp(linked, model) != 0)) continue;
            const float I = l.lighting(P, N, t);
            if (std::isnan(I)) {
                report_nan_light(l);
                continue;
            }
            if (I <= 0.0f) continue;
            kivColor d, s;
            if (mode == 2) {
                diffuse_and_specular(l, P, T, I, e, d, s);
            } else {
                if (mode == 1) d = l.diffuse(P, T, I);
                if (mode == 3) s = l.specular(P, T, I, e);
            }
            if (has_nan(d) || has_nan(s)) {
                report_nan_light(l);
                continue;
            }
            D += d;
            Sp += s;
        }
    }

    if (g_clamping) {
        for (kivColor* c : {&D, &Sp}) {
            c->r = std::min(c->r, 1.0f);
            c->g = std::min(c->g, 1.0f);
            c->b = std::min(c->b, 1.0f);
        }
    }
    out[0] = D;
    out[1] = Sp;
}

// ---------------------------------------------------------------------------
// Dump and clean-up

namespace {

void dump_light(const hair_light& l) {
    const char* name = l.name && l.name->name ? l.name->name : "noname";
    const kivColor& c = l.color;
    auto color = [&] { std::printf("    color %f %f %f\n", c.r, c.g, c.b); };
    auto position = [&] {
        std::printf("    position %f %f %f\n", l.position.x, l.position.y, l.position.z);
    };
    auto direction = [&] {
        std::printf("    direction %f %f %f\n", l.direction.x, l.direction.y, l.direction.z);
    };
    auto falloff = [&] {
        if (l.flags & LIGHT_HAS_FALLOFF)
            std::printf("    falloff %f %f\n", l.falloff_start, l.falloff_end);
    };
    switch (l.type) {
        case LIGHT_NULL:
            std::printf("light null \"%s\" { }\n", name);
            return;
        case LIGHT_SPOT:
            std::printf("light spot \"%s\" {\n", name);
            color();
            position();
            direction();
            std::printf("    angles %f %f\n", l.cone, l.penumbra);
            falloff();
            break;
        case LIGHT_POINT:
            std::printf("light point \"%s\" {\n", name);
            color();
            position();
            falloff();
            break;
        case LIGHT_INFINITE:
            std::printf("light infinite \"%s\" {\n", name);
            color();
            direction();
            break;
        case LIGHT_SPOT_AREA:
            std::printf("light spot area \"%s\" {\n", name);
            break;
        case LIGHT_POINT_AREA:
            std::printf("light point area \"%s\" {\n", name);
            break;
        default:
            return;
    }
    std::puts("}");
}

}  // namespace

void lgtdb_dump(int which) {
    std::printf("nb_lights %d\n", g_count);
    const LightList& list = list_of(which);
    if (!list.lights) {
        if (g_count > 0) std::puts("ERROR: invalid light list");
        return;
    }
    for (int i = 0; i < list.size; ++i) dump_light(list.lights[i]);
}

void lgtdb_cleanup() {
    for (LightList& list : g_lists) {
        delete[] list.lights;
        list = LightList();
    }
    g_count = 0;
    g_fill = 0;
    g_nan_reported = false;
}
