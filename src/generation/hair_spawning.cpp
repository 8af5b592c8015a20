#include "generation/hair_spawning.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "descriptions/assign_db.h"
#include "descriptions/hair_params.h"
#include "foundation/fur_exception.h"
#include "foundation/render_settings.h"
#include "generation/hair_shaping.h"
#include "generation/spawn_support.h"
#include "geometry/model_database.h"
#include "host/random48.h"

// --- hair_poly ---------------------------------------------------------------

int hair_poly::fetch(const kivPolygons& mesh, int f) {
    int nb = 0;
    if (!mesh.get_poly(f, nb, points, normals, uvs)) return 0;
    nb_points = nb;
    return 1;
}

float hair_poly::uv_area() const {
    float a = kivPolygons::get2DTriArea(uvs[0], uvs[1], uvs[2]);
    if (nb_points == 4) a += kivPolygons::get2DTriArea(uvs[0], uvs[2], uvs[3]);
    return a;
}

namespace {

// The barycentric weights of a random pair inside a triangle: the pair is
// folded back when it falls beyond the diagonal.
inline void fold(double r1, double r2, double& b1, double& b2) {
    if (r1 + r2 > 1.0) {
        r1 = 1.0 - r1;
        r2 = 1.0 - r2;
    }
    b1 = r1;
    b2 = r2;
}

// The quad's bilinear form at (s, t) over four corner values.
template <typename T>
T bilinear(const T& c0, const T& e01, const T& c3, const T& e32, float s, float t) {
    const T a = c0 + e01 * s;
    const T b = c3 + e32 * s;
    return a + (b - a) * t;
}

}  // namespace

void hair_poly::uv_at(double r1, double r2, double& u, double& v) const {
    if (nb_points == 3) {
        double b1, b2;
        fold(r1, r2, b1, b2);
        const double b0 = 1.0 - b1 - b2;
        u = b0 * uvs[0].x + b1 * uvs[1].x + b2 * uvs[2].x;
        v = b0 * uvs[0].y + b1 * uvs[1].y + b2 * uvs[2].y;
        return;
    }
    const double s = r1, t = r2;
    const double ax = uvs[0].x + s * (uvs[1].x - uvs[0].x);
    const double ay = uvs[0].y + s * (uvs[1].y - uvs[0].y);
    const double bx = uvs[3].x + s * (uvs[2].x - uvs[3].x);
    const double by = uvs[3].y + s * (uvs[2].y - uvs[3].y);
    u = ax + t * (bx - ax);
    v = ay + t * (by - ay);
}

int hair_poly::calc_posnrmdir(double r1, double r2, kivVector* frame) const {
    const float s = static_cast<float>(r1), t = static_cast<float>(r2);
    // 1-2. Position and normal.
    kivVector N;
    if (nb_points == 3) {
        double b1, b2;
        fold(r1, r2, b1, b2);
        const float w1 = static_cast<float>(b1), w2 = static_cast<float>(b2);
        const float w0 = static_cast<float>(1.0 - b1 - b2);
        frame[0] = kivVector(points[0] * w0 + points[1] * w1 + points[2] * w2);
        N = normals[0] * w0 + normals[1] * w1 + normals[2] * w2;
    } else {
        frame[0] = kivVector(
            bilinear<kivPoint>(points[0], kivPoint(edge_p01), points[3], kivPoint(edge_p32), s, t));
        N = bilinear<kivVector>(normals[0], edge_n01, normals[3], edge_n32, s, t);
    }
    if (N.norm() == 0.0f) {
        std::printf("ERROR: posnrmdir[1] vector norm failure in calc_posnrmdir\n");
        return 0;
    }
    frame[1] = N;

    // 4. No usable v direction: towards the quad's centre.
    if (!v_dir_ok) {
        std::printf("In special case\n");
        kivVector to(kivPoint(frame[0]), centre);
        if (to.norm() == 0.0f) {
            std::printf("ERROR: posnrmdir[2] vector norm failure in calc_posnrmdir\n");
            return 0;
        }
        frame[2] = to;
        return 1;
    }
    // 3. The derivatives along v and u of a triangle.
    if (nb_points == 3) {
        const float dU1 = uvs[0].x - uvs[1].x, dV1 = uvs[0].y - uvs[1].y;
        const float dU2 = uvs[2].x - uvs[1].x, dV2 = uvs[2].y - uvs[1].y;
        const float det = dV2 * dU1 - dU2 * dV1;
        const float inv = det != 0.0f ? 1.0f / det : 0.0f;
        const kivVector E1(points[1], points[0]), E2(points[1], points[2]);
        frame[2] = E2 * (dU1 * inv) - E1 * (dU2 * inv);
        frame[2].norm();
        frame[3] = E1 * (dV2 * inv) - E2 * (dV1 * inv);
        frame[3].norm();
        return 1;
    }
    // 3. A quad: its edges weighted by how much each runs along v.
    kivVector sum = kivVector(points[0], points[1]) * ((1.0f - t) * v_weights[0]) +
                    kivVector(points[3], points[2]) * (t * v_weights[1]) +
                    kivVector(points[1], points[2]) * (s * v_weights[2]) +
                    kivVector(points[0], points[3]) * ((1.0f - s) * v_weights[3]);
    if (sum.norm() == 0.0f) {
        furFail("quad_hair_vdir sum vector norm failure",
                "FATAL: quad_hair_vdir sum vector norm failure\n");
    }
    frame[2] = sum;
    frame[3] = sum;
    return 1;
}

void hair_poly::print() const {
    std::printf("hair poly:\n");
    std::printf("nb_points = %d\n", nb_points);
    for (int i = 0; i < nb_points && i < 4; ++i) {
        std::printf("point = %f %f %f\n", points[i].x, points[i].y, points[i].z);
        std::printf("normal = %f %f %f\n", normals[i].x, normals[i].y, normals[i].z);
        std::printf("uv = %f %f %f\n", uvs[i].x, uvs[i].y, uvs[i].z);
    }
}

void quad_vdir(hair_poly* p) {
    p->edge_p01 = kivVector(p->points[0], p->points[1]);
    p->edge_n01 = p->normals[1] - p->normals[0];
    p->v_dir_ok = 1;
    p->u_dir_ok = 0;
    if (p->nb_points != 4) return;
    p->edge_p32 = kivVector(p->points[3], p->points[2]);
    p->edge_n32 = p->normals[2] - p->normals[3];

    static const int kEdges[4][2] = {{0, 1}, {3, 2}, {1, 2}, {0, 3}};
    float usum = 0.0f, vsum = 0.0f;
    for (int k = 0; k < 4; ++k) {
        const kivVector e(p->uvs[kEdges[k][0]], p->uvs[kEdges[k][1]]);
        const float len = std::sqrt(e.sqrd_length());
        if (!(len >= 1e-5f)) {
            furFail("Quad_vdir check vector norm failure",
                    "FATAL: quad_vdir check vector norm failure\n");
        }
        p->u_weights[k] = std::fabs(e.x) / len;
        p->v_weights[k] = std::fabs(e.y) / len;
        usum += e.x / len;
        vsum += e.y / len;
    }
    p->u_dir_ok = usum != 0.0f ? 1 : 0;
    p->v_dir_ok = vsum != 0.0f ? 1 : 0;
    if (!p->v_dir_ok) {
        p->centre = bilinear<kivPoint>(p->points[0], kivPoint(p->edge_p01), p->points[3],
                                       kivPoint(p->edge_p32), 0.5f, 0.5f);
    }
}

int hair_poly_count(const hair_poly& p, double d) {
    const double r = korvo_host::drand48();
    const double A = p.uv_area();
    if (!(d > 0.0)) return 0;
    if (!(d * A < 2e9)) return spawn_detail::safe_count(d * A);  // NaN or beyond counting
    const int k = static_cast<int>(d * A);
    return (A - k / d) / (1.0 / d) >= r ? k + 1 : k;
}

// --- The hair sink -----------------------------------------------------------

namespace {

// The camera's rasteriser, which the render layer above registers as the
// default when the library is loaded (render/camera.cpp). Both start null,
// before any code runs, so the registration cannot come too early.
mdldb_hair_sink g_default_sink = nullptr;
mdldb_hair_sink g_sink = nullptr;
mdldb_hair_progress_fn g_progress = nullptr;
mdldb_hair_filter g_filter = nullptr;
mdldb_hair_reach_filter g_reach_filter = nullptr;
int g_sampling = 1;

}  // namespace

mdldb_hair_reach_filter mdldb_set_hair_reach_filter(mdldb_hair_reach_filter filter) {
    const mdldb_hair_reach_filter previous = g_reach_filter;
    g_reach_filter = filter;
    return previous;
}

int mdldb_set_hair_sampling(int n) {
    const int previous = g_sampling;
    g_sampling = n > 1 ? n : 1;
    return previous;
}

mdldb_hair_filter mdldb_set_hair_filter(mdldb_hair_filter filter) {
    const mdldb_hair_filter previous = g_filter;
    g_filter = filter;
    return previous;
}

mdldb_hair_progress_fn mdldb_set_hair_progress(mdldb_hair_progress_fn fn) {
    const mdldb_hair_progress_fn previous = g_progress;
    g_progress = fn;
    return previous;
}

mdldb_hair_sink mdldb_set_hair_sink(mdldb_hair_sink sink) {
    const mdldb_hair_sink previous = g_sink;
    g_sink = sink ? sink : g_default_sink;
    return previous;
}

bool mdldb_register_default_hair_sink(mdldb_hair_sink sink) {
    if (g_sink == g_default_sink) g_sink = sink;
    g_default_sink = sink;
    return true;
}

namespace {
mdldb_hair_pass_hook g_pass_begin = nullptr;
mdldb_hair_pass_hook g_pass_end = nullptr;
}  // namespace

bool mdldb_register_hair_pass_hooks(mdldb_hair_pass_hook begin, mdldb_hair_pass_hook end) {
    g_pass_begin = begin;
    g_pass_end = end;
    return true;
}

hair_pass_scope::hair_pass_scope(hair_camera* cam) : cam_(cam), open_(true) {
    if (g_pass_begin != nullptr) g_pass_begin(cam_, true);
}

hair_pass_scope::~hair_pass_scope() {
    if (open_ && g_pass_end != nullptr) g_pass_end(cam_, false);
}

void hair_pass_scope::finish() {
    if (!open_) return;
    open_ = false;
    if (g_pass_end != nullptr) g_pass_end(cam_, true);
}

// --- Shared steps ------------------------------------------------------------

namespace spawn_detail {

int safe_count(double x) {
    if (!(x > 0.0)) return 0;
    if (x >= 2e9) return 2000000000;
    return static_cast<int>(x);
}

bool description_visible(const hair_params* hp, bool shadow_pass) {
    return hp->visibility && (shadow_pass ? hp->casts_shadows : hp->prim_visibility);
}

void model_descriptions(const hair_model* m, bool shadow_pass, int& n, hair_params**& list) {
    n = 0;
    list = nullptr;
    assdb_get_model_hair(m->name, &n, &list);
    if (n == 0 || !std::getenv("KORVO_FUR_OLD_BEHAVIOR")) return;
    bool visible = true;
    if (const kivPolygons* p = m->polygons())
        visible = shadow_pass ? p->get_casts_shadows() : p->get_prim_visibility();
    else if (const kivNurbSurface* s = m->nurbs())
        visible = shadow_pass ? s->get_casts_shadows() : s->get_prim_visibility();
    if (!visible) n = 0;
}

hair_params* spawn_description(hair_params* hp, float root_scale, float& factor) {
    hp->width_scale = root_scale;
    hair_params* sp = hp->spawn_params ? hair_params_list_find(hp->spawn_params) : nullptr;
    factor = 0.0f;
    if (!sp) return nullptr;
    sp->width_scale = root_scale;
    factor = hp->spawn_factor.eval_const();
    return sp;
}

bool equalizer_value(const hair_params* hp, const hair_state& hs, float& e) {
    if (hp->equalizer_type == 2) {
        e = hp->custom_equalizer.eval(hs);
        return true;
    }
    if (!hp->equalizer.defined()) return false;
    e = hp->equalizer.eval(hs);
    return true;
}

bool is_bald(const hair_params* hp, const hair_state& hs, double r4) {
    return hp->baldness.defined() && hp->baldness.eval(hs) < r4;
}

int spawn_point(const hair_params* hp, const hair_state& hs, const control_hair& hair) {
    const float x = hp->spawn_segment.eval(hs);
    if (!(x < static_cast<float>(hair.count))) return hair.count - 1;
    if (!(x >= 1.0f)) return 1;
    const int k = static_cast<int>(x);
    return k >= hair.count ? hair.count - 1 : k;
}

void fetch_model_attractors(const hair_model* m) {
    int n = 0;
    hair_attract** list = nullptr;
    if (assdb_has_model_attract(m->name)) assdb_get_model_attract(m->name, &n, &list);
    hair_shape_set_attractors(list, n);
}

void fetch_curve_attractors(const hair_model* m, const hair_params* hp) {
    int n = 0;
    hair_curveAttract** list = nullptr;
    if (assdb_has_model_curve_attract(m->name))
        assdb_get_model_curve_attract(m->name, &n, &list, hp);
    hair_shape_set_curve_attractors(list, n);
}

float clump_radius(hair_model* m) {
    float area = 0.0f, ulen = 0.0f, vlen = 0.0f;
    mdldb_get_area(m, area, ulen, vlen);
    return std::sqrt(2.0f * area);
}

}  // namespace spawn_detail

// --- The rendering worker ----------------------------------------------------

namespace {

using namespace spawn_detail;

// One model's hair generation: its geometry, the hair being made and the
// tallies of the messages.
struct render_walk {
    hair_model* model = nullptr;
    hair_camera* cam = nullptr;
    const kivPolygons* mesh = nullptr;
    const kivNurbSurface* nurb = nullptr;
    const hair_datapoints* points = nullptr;
    int faces = 0;
    float uv_area = 0.0f;
    bool shadow = false;

    // The assignment being placed.
    hair_params* hp = nullptr;
    hair_params* sp = nullptr;  // spawn description
    float spawn_factor = 0.0f;
    float root_area = 0.0f;
    std::vector<clump_centre> clumps;
    std::uint64_t clumps_key = 0;  // their key, for the kept hairs

    // The hair being made.
    hair_state hs;
    hair_poly poly;
    kivVector frame[4];

    // Kept reaches: the key of the surface (a NURBS model's), of the face,
    // and of the hair; whether the face's hairs are keyed, and whether the
    // current hair's reach is keyed, or was asked about already.
    std::uint64_t surface_key = 0, face_key = 0, hair_key = 0;
    bool face_keyed = false, vars_keyed = false;
    enum class reach { unkeyed, keyed, passed } hair_reach = reach::unkeyed;

    // Tallies of the model.
    int generated = 0, accepted = 0, bald = 0, spawned = 0;
    int quads = 0, nonquads = 0;
    bool faces_counted = false;
};

// The surface frame at the root of the current hair into hs.
bool root_frame(render_walk& w, int f, double r1, double r2) {
    if (w.mesh) {
        if (!w.poly.calc_posnrmdir(r1, r2, w.frame)) return false;
    } else if (w.nurb) {
        w.nurb->calc_posnrmdir(static_cast<float>(w.hs.u), static_cast<float>(w.hs.v), w.frame);
    } else {
        w.frame[0] = kivVector(w.points->positions[f]);
        w.frame[1] = w.points->normals[f];
        w.frame[2] = w.points->directions[f];
    }
    w.hs.pos = kivPoint(w.frame[0]);
    w.hs.normal = w.frame[1];
    w.hs.dir = w.frame[2];
    w.hs.dir2 = w.frame[3];
    return true;
}

// --- Shaped hairs kept between passes ------------------------------------------

// A kept hair: where its points are and what it was shaped from.
struct kept_hair {
    std::uint64_t key = 0;    // state_key of the state it was shaped from
    std::uint32_t first = 0;  // its first point in g_kept_points
    std::uint32_t count = 0;  // its points; 0 when nothing is kept here
    bool flipped = false;     // shaping negated the sample's normal
};

bool g_keep = false;                 // keeping is on
bool g_keep_adding = false;          // and adds hairs and reaches
bool g_keep_reaches = true;          // and reaches as well as hairs
bool g_in_walk = false;              // mdldb_hair is walking
bool g_keep_until_walk_end = false;  // keeping ends with the next walk
mdldb_walk_end_fn g_walk_end = nullptr;
std::size_t g_place = 0;        // hairs of the walk so far
std::vector<kept_hair> g_kept;  // by place in the walk
std::vector<kivPoint> g_kept_points;
long long g_reused = 0;

// A kept reach: the key of the hair (0: none kept at this place), its
// halves apart so that the record packs into 28 bytes, and hair_shape_reach's
// result, radius −1 when the reach was unbounded.
struct kept_reach {
    std::uint32_t key_lo = 0, key_hi = 0;
    kivPoint centre;
    float radius = 0.0f, width = 0.0f;
};
std::vector<kept_reach> g_reaches;  // by place in the walk
long long g_reaches_kept = 0, g_reaches_skipped = 0;

// Mixes one 64-bit word into a key (a multiply-xorshift step).
inline std::uint64_t mix(std::uint64_t h, std::uint64_t x) {
    h ^= x + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2);
    h *= 0xBF58476D1CE4E5B9ull;
    return h ^ (h >> 31);
}
inline std::uint64_t bits(double d) {
    std::uint64_t b;
    std::memcpy(&b, &d, sizeof b);
    return b;
}
inline std::uint64_t bits(float f) {
    std::uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}
inline std::uint64_t mix(std::uint64_t h, const kivVector& v) {
    return mix(mix(h, bits(v.x) << 32 | bits(v.y)), bits(v.z));
}

// Everything of a still hair's state that shaping reads, and the clumps it
// can follow (clumps_key), as one key.
std::uint64_t state_key(const hair_state& hs, float root_area, std::uint64_t clumps_key) {
    std::uint64_t h = mix(bits(hs.u), bits(hs.v));
    for (double r : hs.rand) h = mix(h, bits(r));
    for (double x : hs.vars) h = mix(h, bits(x));
    h = mix(h, kivVector(hs.pos));
    for (const kivVector* v : {&hs.normal, &hs.dir, &hs.dir2}) h = mix(h, *v);
    h = mix(h, reinterpret_cast<std::uintptr_t>(hs.params));
    return mix(mix(h, bits(root_area)), clumps_key);
}

// The key of the assignment's clump centres, which move with its model.
std::uint64_t key_of_clumps(const std::vector<clump_centre>& clumps) {
    std::uint64_t h = clumps.size();
    for (const clump_centre& c : clumps) h = mix(mix(h, kivVector(c.root)), c.direction);
    return h;
}

// --- Reaches kept between passes ---------------------------------------------

// Whether the walk's hairs may be skipped on a reach: a reach filter is
// asked and the assignment spawns no children.
inline bool reach_filtered(const render_walk& w) {
    return g_reach_filter != nullptr && !(w.sp && w.spawn_factor > 0.0f);
}

// The key of a NURBS surface: counts, orders, closure, domain and control
// points (a surface moves by its control points).
std::uint64_t surface_key(const kivNurbSurface& s) {
    float us = 0.0f, ul = 0.0f, vs = 0.0f, vl = 0.0f;
    s.get_domain(us, ul, vs, vl);
    std::uint64_t h =
        mix(std::uint64_t(std::uint32_t(s.nb_uverts)) << 32 | std::uint32_t(s.nb_vverts),
            std::uint64_t(std::uint32_t(s.uorder)) << 32 | std::uint32_t(s.vorder));
    h = mix(mix(h, bits(us) << 32 | bits(ul)), bits(vs) << 32 | bits(vl));
    h = mix(h, std::uint64_t(std::uint16_t(s.uclosed)) << 16 | std::uint16_t(s.vclosed));
    kivNurbSurface& surface = const_cast<kivNurbSurface&>(s);  // points_lookup is not const
    for (int j = 0; j < s.nb_vverts; ++j)
        for (int i = 0; i < s.nb_uverts; ++i)
            if (const kivPoint4* p = surface.points_lookup(i, j))
                h = mix(mix(h, bits(p->x) << 32 | bits(p->y)), bits(p->z) << 32 | bits(p->w));
    return h;
}

// Keys the hairs of face f of the walk's current assignment: the
// description (its width scale too), the model and the face's geometry.
// A face whose root frame prints per hair is not keyed.
void key_face(render_walk& w, int f) {
    w.face_keyed = g_keep && g_in_walk &&
                   ((g_keep_adding && g_keep_reaches) || !g_reaches.empty()) && reach_filtered(w) &&
                   !(w.mesh && !w.poly.v_dir_ok);
    if (!w.face_keyed) return;
    // The hair's variables count when the description defines any.
    w.vars_keyed = false;
    for (const auto& v : w.hp->var) w.vars_keyed = w.vars_keyed || v.defined();
    std::uint64_t h = mix(reinterpret_cast<std::uintptr_t>(w.hp), bits(w.hp->width_scale));
    h = mix(mix(h, reinterpret_cast<std::uintptr_t>(w.model)), static_cast<std::uint64_t>(f));
    if (w.mesh) {
        const hair_poly& p = w.poly;
        h = mix(h, static_cast<std::uint64_t>(p.nb_points));
        for (int i = 0; i < p.nb_points; ++i)
            h = mix(mix(mix(h, kivVector(p.points[i])), p.normals[i]), kivVector(p.uvs[i]));
    } else if (w.nurb) {
        h = mix(h, w.surface_key);
    } else {
        h = mix(mix(mix(h, kivVector(w.points->positions[f])), w.points->normals[f]),
                w.points->directions[f]);
    }
    w.face_key = h;
}

// Whether the current hair's kept reach lets the walk skip it before its
// root frame: it then takes its identity and its place, as a hair the
// filters refuse. Otherwise the hair's reach is keyed for grow_hair, or
// already passed the filter.
bool skipped_by_kept_reach(render_walk& w, double r1, double r2) {
    w.hair_reach = render_walk::reach::unkeyed;
    if (!w.face_keyed || !reach_filtered(w)) return false;
    // Each step is one-to-one in h, so hairs that differ in one draw
    // always differ in key; the last mixes the bits.
    const auto step = [](std::uint64_t h, double x) {
        h = (h ^ bits(x)) * 0x9E3779B97F4A7C15ull;
        return h << 31 | h >> 33;
    };
    std::uint64_t h = step(step(w.face_key, r1), r2);
    for (double r : w.hs.rand) h = step(h, r);
    if (w.vars_keyed)
        for (double x : w.hs.vars) h = step(h, x);
    w.hair_key = mix(h, 0) | 1;  // never 0, which marks an empty place
    w.hair_reach = render_walk::reach::keyed;
    if (g_place >= g_reaches.size()) return false;
    const kept_reach& k = g_reaches[g_place];
    if (k.key_lo != static_cast<std::uint32_t>(w.hair_key) ||
        k.key_hi != static_cast<std::uint32_t>(w.hair_key >> 32))
        return false;
    // An unbounded reach grows the hair.
    w.hair_reach = render_walk::reach::passed;
    if (k.radius < 0.0f || g_reach_filter(*w.hp, k.centre, k.radius, k.width)) return false;
    ++g_reaches_skipped;
    ++defs.hair_id;
    ++g_place;
    return true;
}

// Whether the current hair, at place, may reach what is drawn: its reach
// bounded (and kept when keyed) and asked about, unless that was done
// before its root frame.
bool within_reach(render_walk& w, std::size_t place) {
    if (!reach_filtered(w) || w.hair_reach == render_walk::reach::passed) return true;
    kivPoint centre;
    float radius = 0.0f, width = 0.0f;
    const bool bounded = hair_shape_reach(w.hs, centre, radius, width);
    if (w.hair_reach == render_walk::reach::keyed && g_keep_adding && g_keep_reaches &&
        place < kMaxKeptReaches) {
        if (place >= g_reaches.size()) g_reaches.resize(place + 1);
        kept_reach& k = g_reaches[place];
        if (k.key_lo == 0 && k.key_hi == 0) ++g_reaches_kept;
        k.key_lo = static_cast<std::uint32_t>(w.hair_key);
        k.key_hi = static_cast<std::uint32_t>(w.hair_key >> 32);
        k.centre = centre;
        k.radius = bounded ? radius : -1.0f;
        k.width = width;
    }
    return !bounded || g_reach_filter(*w.hp, centre, radius, width);
}

// Remembers the hair just shaped at place.
void keep_hair(std::size_t place, std::uint64_t key, const control_hair& hair, bool flipped) {
    if (!g_keep_adding || g_kept_points.size() + hair.count > kMaxKeptHairPoints) return;
    if (place >= g_kept.size()) g_kept.resize(place + 1);
    kept_hair& k = g_kept[place];
    k.key = key;
    k.first = static_cast<std::uint32_t>(g_kept_points.size());
    k.count = static_cast<std::uint32_t>(hair.count);
    k.flipped = flipped;
    g_kept_points.insert(g_kept_points.end(), hair.points, hair.points + hair.count);
}

// The current hair shaped, or replayed from the hair kept at its place.
control_hair* shape_or_replay(render_walk& w, std::size_t place, bool children) {
    const int nclumps = static_cast<int>(w.clumps.size());
    if (!g_keep || !g_in_walk || children || w.hs.sample != 0 || (!g_keep_adding && g_kept.empty()))
        return hair_shape(&w.hs, w.clumps.data(), nclumps, w.root_area);
    const std::uint64_t key = state_key(w.hs, w.root_area, w.clumps_key);
    if (place < g_kept.size() && g_kept[place].count > 0 && g_kept[place].key == key) {
        const kept_hair& k = g_kept[place];
        ++g_reused;
        return hair_shape_replay(&w.hs, &g_kept_points[k.first], static_cast<int>(k.count),
                                 k.flipped);
    }
    const kivVector normal = w.hs.normal;
    control_hair* hair = hair_shape(&w.hs, w.clumps.data(), nclumps, w.root_area);
    if (hair) {
        const bool flipped = std::memcmp(&normal, &w.hs.normal, sizeof normal) != 0;
        keep_hair(place, key, *hair, flipped);
    }
    return hair;
}

// Shapes the current hair and hands it on; a hair due a child hands the
// child on as well, sprouting from its spawn point.
void grow_hair(render_walk& w) {
    // A hair the filter leaves out keeps its identity; an assignment with
    // children is never filtered (whether a child grows depends on its shape).
    const bool children = w.sp && w.spawn_factor > 0.0f;
    const std::size_t place = g_place++;
    if (!children && ((g_filter && !g_filter(w.hs, defs.hair_id + 1)) || !within_reach(w, place))) {
        ++defs.hair_id;
        return;
    }
    const int nclumps = static_cast<int>(w.clumps.size());
    control_hair* hair = shape_or_replay(w, place, children);
    ++defs.hair_id;
    if (!hair) return;
    if (!w.sp || w.spawn_factor <= 0.0f ||
        w.spawned >= safe_count(static_cast<double>(w.generated) * w.spawn_factor)) {
        g_sink(w.cam, hair, &w.hs);
        return;
    }
    // The child grows from point k along the parent's last step there;
    // both are taken before the renderer moves the parent's points.
    const int k = spawn_point(w.hp, w.hs, *hair);
    const kivPoint P = hair->points[k];
    const kivVector D(hair->points[k - 1], hair->points[k]);
    g_sink(w.cam, hair, &w.hs);
    w.hs.pos = P;
    w.hs.normal = D;
    w.hs.params = w.sp;
    control_hair* child = hair_shape(&w.hs, w.clumps.data(), nclumps, w.root_area);
    ++defs.hair_id;
    if (child) {
        g_sink(w.cam, child, &w.hs);
        ++w.spawned;
    }
    w.hs.params = w.hp;
}

// Whether a sampled walk skips the current hair: it takes its identity and
// its place in the walk, and is not placed.
bool skipped_by_sampling(const render_walk& w) {
    if (g_sampling <= 1 || (w.sp && w.spawn_factor > 0.0f)) return false;
    if ((defs.hair_id + 1) % g_sampling == 0) return false;
    ++defs.hair_id;
    ++g_place;
    return true;
}

// Draws the hairs of face f until count are accepted (or the equalizer
// gives up on the face). Returns the number accepted.
int draw_face(render_walk& w, int f, int count) {
    hair_state& hs = w.hs;
    int accepted = 0, rejected = 0, zeros = 0;
    while (accepted < count) {
        // 1-2. Six random numbers: the root's parameters, then the hair's own.
        const double r1 = korvo_host::drand48(), r2 = korvo_host::drand48(),
                     r3 = korvo_host::drand48();
        if (w.mesh) {
            w.poly.uv_at(r1, r2, hs.u, hs.v);
        } else {
            hs.u = r1;
            hs.v = r2;
        }
        const double r4 = korvo_host::drand48(), r5 = korvo_host::drand48(),
                     r6 = korvo_host::drand48();
        hs.rand[0] = r3;
        hs.rand[1] = r4;
        hs.rand[2] = r5;
        hs.rand[3] = r6;
        // 3. The equalizer test.
        float e = 0.0f;
        if (equalizer_value(w.hp, hs, e)) {
            if (e == 0.0f && ++zeros > 2 * count) break;
            if (!(r3 <= e)) {
                ++rejected;
                if (w.mesh && rejected >= count) break;
                continue;
            }
        }
        // 4-5. Accepted; a bald hair goes no further.
        defs.hair_random = static_cast<float>(r6);
        hair_params_eval_vars(w.hp, &hs);
        ++accepted;
        ++w.accepted;
        if (is_bald(w.hp, hs, r4)) {
            ++w.bald;
            continue;
        }
        // 6-7. The root frame, the shape, the renderer.
        ++w.generated;
        if (skipped_by_sampling(w) || skipped_by_kept_reach(w, r1, r2) || !root_frame(w, f, r1, r2))
            continue;
        grow_hair(w);
    }
    return accepted;
}

// One pass over the faces for a wanted total. Returns the hairs accepted.
int place_pass(render_walk& w, double total) {
    int accepted = 0;
    for (int f = 0; f < w.faces; ++f) {
        if (w.mesh) {
            if (!w.poly.fetch(*w.mesh, f)) {
                std::printf("ERROR: couldn't get %d'th polygon in %s\n", f, model_label(w.model));
                continue;
            }
            quad_vdir(&w.poly);
            if (!w.faces_counted) ++(w.poly.nb_points == 4 ? w.quads : w.nonquads);
        }
        w.sp = spawn_description(w.hp, w.model->root_scale, w.spawn_factor);
        key_face(w, f);
        int count;
        if (w.mesh) {
            count = hair_poly_count(w.poly, total / w.uv_area);
        } else {
            count = safe_count(total);
            korvo_host::srand48(0);
        }
        accepted += draw_face(w, f, count);
    }
    w.faces_counted = true;
    return accepted;
}

// Places the hairs of one assignment.
void place_assignment(render_walk& w, hair_params* hp) {
    w.hp = hp;
    fetch_curve_attractors(w.model, hp);
    w.hs = hair_state();
    w.hs.params = hp;
    for (kivVector& v : w.frame) v = kivVector();
    if (!description_visible(hp, w.shadow)) return;

    double total = assdb_get_density_mult(w.model->name, hp->name) * hp->density.eval_const();
    const int wanted = safe_count(total);
    w.root_area = clump_radius(w.model);
    build_clump_centres(w.model, hp, w.hs, w.poly, w.clumps);
    if (g_keep) w.clumps_key = key_of_clumps(w.clumps);
    w.hs.params = hp;
    korvo_host::srand48(0);

    // Passes over the faces until the wanted count is reached or a pass
    // accepts nothing; each pass asks only for what is still missing.
    int accepted = 0;
    while (accepted < wanted) {
        const int pass = place_pass(w, total);
        if (pass == 0) break;
        total -= pass;
        accepted += pass;
    }
    w.clumps.clear();
}

void print_totals(int accepted, int bald, int spawned) {
    if (spawned > 0) std::printf("%d number of hairs spawned\n", spawned);
    if (accepted > 0) {
        std::printf("totals: %d hairs generated, %d bald hairs, %f baldness\n\n", accepted, bald,
                    static_cast<double>(bald) / accepted);
    }
}

}  // namespace

int mdldb_hair_model(hair_model* model, hair_camera* cam, int n, hair_params** list) {
    if (n == 0 || !model || model->type == MODEL_NULL) return 0;
    if (opt_progress()) std::printf("doing model %s...\n", model_label(model));
    defs.model_name = model->name_text();
    defs.root_scale = model->root_scale;
    fetch_model_attractors(model);

    // The faces: polygons, points, or the one parameter square.
    render_walk w;
    w.model = model;
    w.cam = cam;
    w.shadow = defs.shadows.shadow_pass != 0;
    w.mesh = model->polygons();
    w.nurb = model->nurbs();
    w.points = model->datapoints();
    if (w.mesh) {
        w.faces = w.mesh->get_nb_polys();
        w.uv_area = w.mesh->get_uv_area();
    } else {
        w.faces = w.points ? w.points->count : 1;
    }
    if (w.nurb && g_keep && g_in_walk && g_reach_filter) w.surface_key = surface_key(*w.nurb);
    korvo_host::srand48(0);
    for (int i = 0; i < n; ++i) {
        // Faces are counted in the first pass of the first assignment only;
        // when that assignment places nothing, the counts stay 0.
        if (i > 0) w.faces_counted = true;
        if (list[i]) place_assignment(w, list[i]);
    }

    const char* name = model_label(model);
    if (w.mesh) {
        std::printf("%d assignments created %d hairs from polygons %s (%d, %d)\n", n, w.generated,
                    name, w.nonquads, w.quads);
    } else if (w.nurb) {
        std::printf("%d assignments created %d hairs from nurb %s\n", n, w.generated, name);
    } else {
        std::printf("%d assignments created %d hairs from datapoints %s\n", n, w.generated, name);
    }
    print_totals(w.accepted, w.bald, w.spawned);
    std::fflush(stdout);
    defs.model_name = nullptr;
    hair_shape_set_attractors(nullptr, 0);
    hair_shape_set_curve_attractors(nullptr, 0);
    return w.generated;
}

namespace {

// The named models of the current list and the hairs their assignments
// ask for in this pass.
void count_walk(bool shadow, mdldb_hair_progress& progress) {
    for (int i = 0; i < mdldb_capacity(0); ++i) {
        const hair_model* m = mdldb_get_index(i, 0);
        if (!m || !m->name) continue;
        ++progress.models;
        if (m->type == MODEL_NULL || assdb_get_exclude(m->name, shadow ? 1 : 0)) continue;
        int n = 0;
        hair_params** list = nullptr;
        model_descriptions(m, shadow, n, list);
        for (int k = 0; k < n; ++k) {
            if (!list[k] || !description_visible(list[k], shadow)) continue;
            progress.wanted += safe_count(assdb_get_density_mult(m->name, list[k]->name) *
                                          list[k]->density.eval_const());
        }
    }
}

}  // namespace

void mdldb_keep_shaped_hairs(bool on) {
    g_keep_until_walk_end = false;
    g_keep = on;
    g_keep_adding = on;
    g_keep_reaches = true;
    g_reused = 0;
    std::vector<kept_hair>().swap(g_kept);
    std::vector<kivPoint>().swap(g_kept_points);
    std::vector<kept_reach>().swap(g_reaches);
    g_reaches_kept = g_reaches_skipped = 0;
    if (!on) return;
    // Address space only: the pages are touched as hairs are kept. A hair
    // has at least two points, so no more than half as many hairs are kept.
    try {
        g_kept_points.reserve(kMaxKeptHairPoints);
        g_kept.reserve(kMaxKeptHairPoints / 2);
        g_reaches.reserve(kMaxKeptReaches);
    } catch (const std::bad_alloc&) {
        g_keep = g_keep_adding = false;
    }
}

long long mdldb_kept_hairs_reused() {
    return g_reused;
}

// --- Kept hairs handed between processes --------------------------------------

namespace {

// The stream of kept hairs, as this build lays them out in memory (it goes
// from a process to the process it was forked from): a header, the hairs'
// records by place, then the points of every hair in the records' order.
struct kept_stream_header {
    std::uint32_t magic;  // kKeptStreamMagic
    std::uint32_t hairs;  // records that follow, at most kMaxKeptHairPoints / 2
    std::uint64_t
        points;  // points after the records (their counts summed), at most kMaxKeptHairPoints
};
struct kept_stream_hair {
    std::uint64_t key;      // the state key it was shaped from
    std::uint32_t place;    // its place in the walk
    std::uint32_t count;    // its points (kivPoint), at least 1
    std::uint32_t flipped;  // 1 when shaping negated the normal, else 0
    std::uint32_t unused;   // 0
};
constexpr std::uint32_t kKeptStreamMagic = 0x4B48524Bu;  // "KRHK"

}  // namespace

std::size_t mdldb_kept_hair_points() {
    return g_kept_points.size();
}

bool mdldb_save_kept_hairs(std::FILE* f, std::size_t since) {
    // The records of the hairs kept since the mark; their points follow one
    // another from the mark unless a place was kept twice.
    std::vector<kept_stream_hair> records;
    std::size_t next = since;
    bool in_order = true;
    for (std::size_t place = 0; place < g_kept.size(); ++place) {
        const kept_hair& k = g_kept[place];
        if (k.count == 0 || k.first < since) continue;
        records.push_back(
            {k.key, static_cast<std::uint32_t>(place), k.count, k.flipped ? 1u : 0u, 0});
        in_order = in_order && k.first == next;
        next += k.count;
    }
    const kept_stream_header h{kKeptStreamMagic, static_cast<std::uint32_t>(records.size()),
                               next - since};
    if (std::fwrite(&h, sizeof h, 1, f) != 1 ||
        (!records.empty() && std::fwrite(records.data(), sizeof(kept_stream_hair), records.size(),
                                         f) != records.size()))
        return false;
    if (h.points == 0) return true;
    if (in_order)
        return std::fwrite(g_kept_points.data() + since, sizeof(kivPoint), h.points, f) == h.points;
    for (const kept_stream_hair& r : records) {
        const kept_hair& k = g_kept[r.place];
        if (std::fwrite(&g_kept_points[k.first], sizeof(kivPoint), k.count, f) != k.count)
            return false;
    }
    return true;
}

namespace {

// The points of records (points in all) read straight after the kept
// points, then the hairs whose place this process keeps already squeezed
// out: no block of their own to fault in and copy from. Adds nothing when
// the stream is short.
bool load_kept_points_in_place(std::FILE* f, const std::vector<kept_stream_hair>& records,
                               std::size_t points) {
    const std::size_t base = g_kept_points.size();
    g_kept_points.resize(base + points);
    if (points > 0 && std::fread(&g_kept_points[base], sizeof(kivPoint), points, f) != points) {
        g_kept_points.resize(base);
        return false;
    }
    std::size_t from = base, to = base;
    for (const kept_stream_hair& r : records) {
        const std::size_t first = from;
        from += r.count;
        if (r.place < g_kept.size() && g_kept[r.place].count > 0) continue;
        if (to != first)
            std::copy(&g_kept_points[first], &g_kept_points[first] + r.count, &g_kept_points[to]);
        if (r.place >= g_kept.size()) g_kept.resize(std::size_t(r.place) + 1);
        kept_hair& k = g_kept[r.place];
        k.key = r.key;
        k.first = static_cast<std::uint32_t>(to);
        k.count = r.count;
        k.flipped = r.flipped != 0;
        to += r.count;
    }
    g_kept_points.resize(to);
    return true;
}

}  // namespace

bool mdldb_load_kept_hairs(std::FILE* f) {
    kept_stream_header h{};
    if (std::fread(&h, sizeof h, 1, f) != 1 || h.magic != kKeptStreamMagic ||
        h.hairs > kMaxKeptHairPoints / 2 || h.points > kMaxKeptHairPoints)
        return false;
    std::vector<kept_stream_hair> records(h.hairs);
    if (h.hairs > 0 && std::fread(records.data(), sizeof(kept_stream_hair), h.hairs, f) != h.hairs)
        return false;
    // Every hair lies within this process's last walk, which walked the same hairs.
    std::uint64_t points = 0;
    for (const kept_stream_hair& r : records) {
        if (r.count == 0 || r.count > kMaxKeptHairPoints || r.flipped > 1 || r.place >= g_place)
            return false;
        points += r.count;
    }
    if (points != h.points) return false;
    if (g_keep && g_keep_adding && g_kept_points.size() + h.points <= kMaxKeptHairPoints)
        return load_kept_points_in_place(f, records, static_cast<std::size_t>(h.points));
    std::vector<kivPoint> block(static_cast<std::size_t>(h.points));
    if (!block.empty() &&
        std::fread(block.data(), sizeof(kivPoint), block.size(), f) != block.size())
        return false;
    // The hairs whose place this process keeps none of, while it adds hairs.
    std::size_t at = 0;
    for (const kept_stream_hair& r : records) {
        const std::size_t first = at;
        at += r.count;
        if (!g_keep || !g_keep_adding || g_kept_points.size() + r.count > kMaxKeptHairPoints ||
            (r.place < g_kept.size() && g_kept[r.place].count > 0))
            continue;
        if (r.place >= g_kept.size()) g_kept.resize(std::size_t(r.place) + 1);
        kept_hair& k = g_kept[r.place];
        k.key = r.key;
        k.first = static_cast<std::uint32_t>(g_kept_points.size());
        k.count = r.count;
        k.flipped = r.flipped != 0;
        g_kept_points.insert(g_kept_points.end(), block.begin() + first, block.begin() + at);
    }
    return true;
}

void mdldb_keep_no_more_hairs() {
    g_keep_adding = false;
}

void mdldb_keep_no_more_reaches() {
    g_keep_reaches = false;
}

namespace {

// The walk is over; what is kept goes when it was kept until now.
void end_walk() {
    g_in_walk = false;
    if (!g_keep_until_walk_end) return;
    g_keep_until_walk_end = false;
    mdldb_keep_shaped_hairs(false);
}

}  // namespace

mdldb_walk_end_fn mdldb_set_walk_end(mdldb_walk_end_fn fn) {
    const mdldb_walk_end_fn previous = g_walk_end;
    g_walk_end = fn;
    return previous;
}

void mdldb_keep_until_walk_end() {
    g_keep_until_walk_end = true;
}

long long mdldb_kept_reaches() {
    return g_reaches_kept;
}

long long mdldb_kept_reaches_skipped() {
    return g_reaches_skipped;
}

int mdldb_hair(hair_camera& cam) {
    const bool shadow = defs.shadows.shadow_pass != 0;
    int total = 0;
    const int capacity = mdldb_capacity(0);
    mdldb_hair_progress progress{0, 0, nullptr, 0, 0};
    if (g_progress) count_walk(shadow, progress);
    hair_pass_scope pass(&cam);
    // Hairs are kept by their place in this walk.
    g_in_walk = true;
    g_place = 0;
    struct walk_end {
        ~walk_end() { end_walk(); }
    } end_of_walk;
    for (int i = 0; i < capacity; ++i) {
        hair_model* m = mdldb_get_index(i, 0);
        if (!m) continue;
        if (g_progress && m->name) {
            progress.model_name = m->name_text();
            progress.hairs = total;
            g_progress(progress);
            ++progress.model;
        }
        if (!assdb_get_exclude(m->name, shadow ? 1 : 0)) {
            int n = 0;
            hair_params** list = nullptr;
            model_descriptions(m, shadow, n, list);
            if (n > 0)
                total += mdldb_hair_model(m, &cam, n, list);
            else if (opt_warnings() && m->name)
                std::printf("INFO: model %s has no hair.\n", m->name_text());
        }
        mdldb_release_geometry(m);
    }
    // The walk ends before the pass draws what it queued.
    end_walk();
    if (g_walk_end) g_walk_end();
    pass.finish();
    if (g_progress) g_progress({progress.models, progress.models, nullptr, total, progress.wanted});
    std::printf("--- rendered %d total hairs\n", total);
    std::fflush(stdout);
    return total;
}

// --- Clump centres -----------------------------------------------------------

namespace {

// Grids larger than this are refused: 2^20 nodes of four vectors each are
// 48 MiB, and usamples x vsamples come straight from the hair file.
constexpr long long kMaxClumpGrid = 1LL << 20;

// Grid coordinate i of n nodes over [0, 1].
inline float grid_coord(int i, int n) {
    return n > 1 ? static_cast<float>(i) / static_cast<float>(n - 1) : 0.0f;
}

// The frames of the polygon grid nodes that fall inside the texture
// triangle of poly's first three corners.
void grid_polygon(const hair_poly& poly, int nu, int nv, std::vector<kivVector>& grid) {
    const kivPoint& a = poly.uvs[0];
    const kivPoint& b = poly.uvs[1];
    const kivPoint& c = poly.uvs[2];
    const double det = (static_cast<double>(b.x) - a.x) * (static_cast<double>(c.y) - a.y) -
                       (static_cast<double>(c.x) - a.x) * (static_cast<double>(b.y) - a.y);
    if (std::fabs(det) < 1e-20) return;
    // The bounding box in grid nodes, clamped to the grid.
    const auto range = [](float lo, float hi, int n, int& first, int& last) {
        const double s = n - 1;
        const double f = std::floor(lo * s), l = std::ceil(hi * s);
        first = f < 0.0 ? 0 : (f > s ? n : static_cast<int>(f));
        last = l > s ? n - 1 : (l < 0.0 ? -1 : static_cast<int>(l));
    };
    int i0, i1, j0, j1;
    range(std::fmin(a.x, std::fmin(b.x, c.x)), std::fmax(a.x, std::fmax(b.x, c.x)), nu, i0, i1);
    range(std::fmin(a.y, std::fmin(b.y, c.y)), std::fmax(a.y, std::fmax(b.y, c.y)), nv, j0, j1);
    for (int i = i0; i <= i1; ++i) {
        const double s = grid_coord(i, nu);
        for (int j = j0; j <= j1; ++j) {
            const double t = grid_coord(j, nv);
            // Barycentric weights of the node in the texture triangle.
            const double w1 = ((s - a.x) * (c.y - a.y) - (c.x - a.x) * (t - a.y)) / det;
            const double w2 = ((b.x - a.x) * (t - a.y) - (s - a.x) * (b.y - a.y)) / det;
            if (w1 < 0.0 || w2 < 0.0 || w1 + w2 > 1.0) continue;
            kivVector frame[4];
            const bool ok = poly.nb_points == 3 ? poly.calc_posnrmdir(w1, w2, frame)
                                                : poly.calc_posnrmdir(s, t, frame);
            if (!ok) continue;
            for (int k = 0; k < 4; ++k)
                grid[4 * (static_cast<std::size_t>(i) * nv + j) + k] = frame[k];
        }
    }
}

// The nu x nv grid of surface frames, node (i, j) at i * nv + j; nodes
// that no polygon covers stay zero.
// False when the grid's memory cannot be had.
bool build_grid(const hair_model* m, hair_poly& poly, int nu, int nv,
                std::vector<kivVector>& grid) {
    try {
        grid.assign(4 * static_cast<std::size_t>(nu) * nv, kivVector());
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (const kivNurbSurface* s = m->nurbs()) {
        for (int i = 0; i < nu; ++i)
            for (int j = 0; j < nv; ++j)
                s->calc_posnrmdir(grid_coord(i, nu), grid_coord(j, nv),
                                  &grid[4 * (static_cast<std::size_t>(i) * nv + j)]);
        return true;
    }
    const kivPolygons* mesh = m->polygons();
    if (!mesh) return true;
    const double density = (static_cast<double>(nu) * nv + 1.0) / mesh->get_uv_area();
    for (int f = 0; f < mesh->get_nb_polys(); ++f) {
        if (!poly.fetch(*mesh, f)) {
            std::printf("ERROR: couldn't get %d'th polygon in %s\n", f, model_label(m));
            continue;
        }
        quad_vdir(&poly);
        hair_poly_count(poly, density);  // keeps the random sequence of placement
        grid_polygon(poly, nu, nv, grid);
    }
    return true;
}

// The grid node of the root parameter x over a direction of n nodes whose
// parameter range starts at lo and spans span; -1 outside the grid.
int grid_node(double x, double lo, double span, int n) {
    const double g = std::floor((span * x + lo) / span * (n - 1));
    if (!(g >= 0.0) || !(g < n)) return -1;
    return static_cast<int>(g);
}

}  // namespace

namespace spawn_detail {

void build_clump_centres(const hair_model* m, hair_params* hp, hair_state& hs, hair_poly& poly,
                         std::vector<clump_centre>& out) {
    float factor = 0.0f;
    spawn_description(hp, m->root_scale, factor);
    const int nu = safe_count(hp->usamples.eval_const());
    const int nv = safe_count(hp->vsamples.eval_const());
    if (static_cast<long long>(nu) * nv > kMaxClumpGrid) {
        std::printf("ERROR: clump sample grid %d x %d too large for %s\n", nu, nv, model_label(m));
        return;
    }
    // The parameter range of each direction.
    double ulo = 0.0, uspan = 3.0, vlo = 0.0, vspan = 3.0;
    if (const kivNurbSurface* s = m->nurbs()) {
        float us, ul, vs, vl;
        s->get_domain(us, ul, vs, vl);
        ulo = us;
        uspan = ul;
        vlo = vs;
        vspan = vl;
    }
    hs.params = hp;
    hs.sample = 0;
    std::vector<kivVector> grid;
    korvo_host::srand48(0);
    for (long long k = 0; k < static_cast<long long>(nu) * nv; ++k) {
        const double r1 = korvo_host::drand48(), r2 = korvo_host::drand48(),
                     r3 = korvo_host::drand48();
        hs.u = r1;
        hs.v = r2;
        const float c = hp->clumpfrequency.defined() ? hp->clumpfrequency.eval(hs) : 0.0f;
        if (!hp->clump.defined() || !(hp->clump.eval(hs) > 0.0f) || !(c > 0.0f)) continue;
        if (grid.empty() && !build_grid(m, poly, nu, nv, grid)) {
            std::printf("ERROR: out of memory for the clump sample grid %d x %d of %s\n", nu, nv,
                        model_label(m));
            out.clear();
            return;
        }
        const double r4 = korvo_host::drand48(), r5 = korvo_host::drand48(),
                     r6 = korvo_host::drand48();
        hs.rand[0] = r3;
        hs.rand[1] = r4;
        hs.rand[2] = r5;
        hs.rand[3] = r6;
        defs.hair_random = static_cast<float>(r6);
        hair_params_eval_vars(hp, &hs);
        if (!(r3 * 100.0 <= c)) continue;
        // The centre grows from the grid node under (u, v).
        const int i = grid_node(r1, ulo, uspan, nu), j = grid_node(r2, vlo, vspan, nv);
        if (i < 0 || j < 0) continue;
        const kivVector* node = &grid[4 * (static_cast<std::size_t>(i) * nv + j)];
        if (node[0] == kivVector() && node[1] == kivVector() && node[2] == kivVector()) continue;
        hs.pos = kivPoint(node[0]);
        hs.normal = node[1];
        hs.dir = node[2];
        hs.dir2 = node[3];
        clump_centre centre;
        if (hair_shape_clump_centre(&hs, centre)) out.push_back(centre);
    }
}

}  // namespace spawn_detail
