// The scene file reader: the actions of the grammar, applied to the
// camera, light and model databases of the slot being read.
#include "readers/scene_reader.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>
#include <string>

#include "descriptions/hair_params.h"
#include "readers/scene_db.h"
#include "foundation/names.h"
#include "geometry/model_database.h"
#include "render/camera.h"
#include "render/lighting.h"

namespace {

kivMatrix rows(const scene_vec& a, const scene_vec& b, const scene_vec& c, const scene_vec& d) {
    return kivMatrix(a.v[0], a.v[1], a.v[2], a.v[3], b.v[0], b.v[1], b.v[2], b.v[3], c.v[0], c.v[1],
                     c.v[2], c.v[3], d.v[0], d.v[1], d.v[2], d.v[3]);
}
kivPoint point(const scene_vec& a) {
    return kivPoint(a.v[0], a.v[1], a.v[2]);
}
kivVector vec3(const scene_vec& a) {
    return kivVector(a.v[0], a.v[1], a.v[2]);
}

// The hair description named text, when that name and description exist.
hair_params* description(const char* text) {
    hair_name* n = names_find(text);
    return n ? hair_params_list_find(n) : nullptr;
}

// The size of the file in bytes; unbounded when it cannot be told (a pipe).
long long file_size(std::FILE* file) {
    struct stat st;
    if (fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode))
        return std::numeric_limits<long long>::max();
    return static_cast<long long>(st.st_size);
}

}  // namespace

scene_reader::scene_reader(int which, long long count_limit)
    : which_(which), count_limit_(count_limit) {}

scene_reader::~scene_reader() {
    delete[] knots_;
}

// --- Messages and failures -----------------------------------------------------------------

// An action's message, then the line it was found on.
void scene_reader::message(const char* text) const {
    std::printf("%s\n", text);
    std::printf("scene file: syntax error at line %d\n", position_.line);
}

void scene_reader::syntax_error(const char* message) {
    const std::string text = message ? message : "";
    std::puts(text == "memory exhausted" ? "parser stack overflow" : "parse error");
    std::printf("scene file: syntax error at line %d\n", position_.line);
    error_ = true;
}

// Runs f, holding any exception for scene_read_file.
template <typename F>
scene_step scene_reader::guarded(F f) {
    try {
        return f();
    } catch (...) {
        failure_ = std::current_exception();
        return scene_step::fail;
    }
}

// A count that no file of this size could fill means a damaged file: it is
// refused before anything is allocated for it.
scene_step scene_reader::check_count(long long n) {
    if (n <= count_limit_) return scene_step::go;
    char text[128];
    std::snprintf(text, sizeof(text), "ERROR: count %lld is more than this scene file can hold", n);
    message(text);
    error_ = true;
    return scene_step::fail;
}

// Stores an element at its counter, which then advances; complains when
// the count statement has not come yet.
template <typename F>
void scene_reader::element(int& counter, const char* missing, F store) {
    if (counter < 0) {
        message(missing);
        return;
    }
    store(counter);
    if (counter < INT_MAX) ++counter;
}

// --- Items --------------------------------------------------------------------------------

namespace {

// Most models, and most lights, one scene read may make room for.
constexpr long long kMaxSceneRecords = 1 << 17;

// nb_models and nb_lights only make room: models and lights may come from
// include files read later, so the count is not held against this file's
// size. The room is bounded instead: a list grows to at most
// kMaxSceneRecords records, beyond which a count is cut (with a message).
scene_step make_room(int (*init)(int, int), int which, int held, int n, const char* what) {
    if (n < 0) return init(n, which) ? scene_step::go : scene_step::stop;
    const long long room = std::max(0LL, kMaxSceneRecords - held);
    if (n > room) {
        std::printf("WARNING: room for %lld more %s, not %d\n", room, what, n);
        n = static_cast<int>(room);
    }
    if (n == 0) return scene_step::go;
    return init(n, which) ? scene_step::go : scene_step::stop;
}

}  // namespace

scene_step scene_reader::reserve_lights(int n) {
    return make_room(lgtdb_init, which_, lgtdb_count(), n, "lights");
}

scene_step scene_reader::reserve_models(int n) {
    return make_room(mdldb_init, which_, mdldb_capacity(which_), n, "models");
}

scene_step scene_reader::include(char* file) {
    const scene_step s = guarded([&] {
        scndb_add_include(file);
        return scene_step::go;
    });
    std::free(file);
    return s;
}

void scene_reader::exclude_hair(char* name) {
    if (hair_params* hp = description(name)) hp->set_visibility(false);
    std::free(name);
}

void scene_reader::transform_hair(char* name, const scene_vec& r0, const scene_vec& r1,
                                  const scene_vec& r2, const scene_vec& r3) {
    if (hair_params* hp = description(name)) hp->matrix = rows(r0, r1, r2, r3);
    std::free(name);
}

// --- The camera ---------------------------------------------------------------------------

void scene_reader::begin_camera() {
    camera_ = camdb_get(which_);
}
void scene_reader::camera_aspect(float aspect) {
    camera_->set_aspect(aspect);
}
void scene_reader::camera_clip(float near_plane, float far_plane) {
    camera_->set_clip(near_plane, far_plane);
}
void scene_reader::camera_fov(float fov) {
    camera_->set_fov(fov, 1);
}
void scene_reader::camera_focal(float focal) {
    camera_->set_focal(focal);
}
void scene_reader::camera_aperture(float aperture) {
    camera_->set_aperture(aperture);
}
void scene_reader::camera_frustum(float left, float right, float bottom, float top) {
    camera_->set_frustum(left, right, bottom, top);
}
void scene_reader::camera_matrix(const scene_vec& r0, const scene_vec& r1, const scene_vec& r2,
                                 const scene_vec& r3) {
    camera_->set_matrix(rows(r0, r1, r2, r3));
}

// --- Lights -------------------------------------------------------------------------------

scene_step scene_reader::begin_light(int type, char* name) {
    light_ = lgtdb_get_new(which_);
    const scene_step s = !light_ ? scene_step::stop : guarded([&] {
        hair_name* interned = names_add(name);
        names_remove(light_->name);
        light_->name = interned;
        light_->type = type;
        return scene_step::go;
    });
    std::free(name);
    return s;
}

void scene_reader::light_color(const scene_vec& c) {
    light_->color = kivColor(c.v[0], c.v[1], c.v[2], 1.0f);
}
void scene_reader::light_position(const scene_vec& p) {
    light_->position = point(p);
}
void scene_reader::light_direction(const scene_vec& d) {
    light_->direction = vec3(d);
}
void scene_reader::light_falloff(float start, float end) {
    light_->flags |= LIGHT_HAS_FALLOFF;
    light_->falloff_start = start;
    light_->falloff_end = end;
}
// The file gives the full cone angle; the light keeps half of it.
void scene_reader::light_angles(float cone, float penumbra) {
    light_->cone = cone * 0.5f;
    light_->penumbra = penumbra;
}
void scene_reader::light_dropoff(float dropoff) {
    light_->dropoff = dropoff;
}
// Area light samples: at least one per direction and kMaxAreaLightSamples
// in all, else the statement is refused.
void scene_reader::light_samples(int u, int v) {
    if (u < 1 || v < 1 || static_cast<long long>(u) * v > kMaxAreaLightSamples) {
        char text[128];
        std::snprintf(text, sizeof(text), "ERROR: area light samples %d %d outside 1 ... %d in all",
                      u, v, kMaxAreaLightSamples);
        message(text);
        return;
    }
    light_->area_usamples = u;
    light_->area_vsamples = v;
}
void scene_reader::light_matrix(const scene_vec& r0, const scene_vec& r1, const scene_vec& r2,
                                const scene_vec& r3) {
    light_->matrix = rows(r0, r1, r2, r3);
}
void scene_reader::light_area_matrix(const scene_vec& r0, const scene_vec& r1, const scene_vec& r2,
                                     const scene_vec& r3) {
    light_->area_matrix = rows(r0, r1, r2, r3);
}
void scene_reader::light_area_shape(int shape) {
    light_->area_shape = shape;
}

scene_step scene_reader::light_link_count(int n) {
    const scene_step s = check_count(n);
    if (s == scene_step::go) light_->set_link_count(n);
    return s;
}

void scene_reader::begin_links() {
    link_reported_ = false;
}

// One name of a linkedObject statement: stored in the light's next free
// link entry; the statement complains once when nb_lightlink has not come.
scene_step scene_reader::link_object(char* name) {
    scene_step s = scene_step::go;
    if (light_->link_count > 0) {
        s = guarded([&] {
            light_->add_link(names_add(name));
            return scene_step::go;
        });
    } else if (!link_reported_) {
        message("nb_lightlink construct needed before linkedObjects");
        link_reported_ = true;
    }
    std::free(name);
    return s;
}

// --- Models -------------------------------------------------------------------------------

scene_step scene_reader::begin_model(int type, char* name) {
    model_ = mdldb_get_new(which_);
    const scene_step s = !model_ ? scene_step::stop : guarded([&] {
        mdldb_set_type(model_, type, name);
        return scene_step::go;
    });
    std::free(name);
    if (s != scene_step::go) return s;
    polys_ = model_->polygons();
    nurb_ = model_->nurbs();
    dpnt_ = model_->datapoints();
    count_ = counters();
    return scene_step::go;
}

void scene_reader::model_matrix(const scene_vec& r0, const scene_vec& r1, const scene_vec& r2,
                                const scene_vec& r3) {
    model_->matrix = rows(r0, r1, r2, r3);
}
void scene_reader::model_root_scale(float scale) {
    model_->root_scale = scale;
}
void scene_reader::model_double_sided(bool on) {
    model_->zbuffer_flag1 = on;
}
void scene_reader::model_opposite(bool on) {
    model_->zbuffer_flag2 = on;
}

// --- Polygon models -----------------------------------------------------------------------

scene_step scene_reader::poly_count(int n, int (kivPolygons::*set)(int), int& counter) {
    const scene_step s = check_count(n);
    if (s == scene_step::go && polys_) {
        (polys_->*set)(n);
        counter = 0;
    }
    return s;
}
scene_step scene_reader::poly_nb_vertices(int n) {
    return poly_count(n, &kivPolygons::set_nb_verts, count_.verts);
}
scene_step scene_reader::poly_nb_normals(int n) {
    return poly_count(n, &kivPolygons::set_nb_norms, count_.norms);
}
scene_step scene_reader::poly_nb_uvs(int n) {
    return poly_count(n, &kivPolygons::set_nb_texs, count_.uvs);
}
scene_step scene_reader::poly_nb_polys(int n) {
    return poly_count(n, &kivPolygons::set_nb_polys, count_.polys);
}

void scene_reader::poly_reference_equalmap(char* name) {
    if (polys_) polys_->set_ref_equal_map(name);
    std::free(name);
}
void scene_reader::poly_prim_visibility(bool on) {
    if (polys_) polys_->set_prim_visibility(on);
}
void scene_reader::poly_casts_shadows(bool on) {
    if (polys_) polys_->set_casts_shadows(on);
}
void scene_reader::poly_surface_visibility(bool on) {
    if (polys_) polys_->set_visibility(on);
}

void scene_reader::poly_vertex(const scene_vec& v) {
    if (!polys_) return;
    element(count_.verts, "nb_vertices construct needed before vertices",
            [&](int i) { polys_->set_vert(i, point(v)); });
}
void scene_reader::poly_normal(const scene_vec& n) {
    if (!polys_) return;
    element(count_.norms, "nb_normals construct needed before normals",
            [&](int i) { polys_->set_norm(i, vec3(n)); });
}
void scene_reader::poly_uv(const scene_vec& uv) {
    if (!polys_) return;
    element(count_.uvs, "nb_uvs construct needed before uvs",
            [&](int i) { polys_->set_tex(i, point(uv)); });
}

// A corner index outside a list whose count has been given would read past
// that list later: the polygon is refused with a message, like an element
// given before its count.
bool scene_reader::corners_in_range(const scene_corner* corners, int n) const {
    const struct {
        int scene_corner::*index;
        int counter, size;
        const char* list;
    } lists[] = {{&scene_corner::v, count_.verts, polys_->nb_verts, "vertex"},
                 {&scene_corner::n, count_.norms, polys_->nb_norms, "normal"},
                 {&scene_corner::t, count_.uvs, polys_->nb_texs, "uv"}};
    for (int k = 0; k < n; ++k) {
        for (const auto& l : lists) {
            const int i = corners[k].*l.index;
            if (l.counter < 0 || (i >= 0 && i < l.size)) continue;
            char text[128];
            std::snprintf(text, sizeof(text), "polygon %s index %d outside 0 ... %d", l.list, i,
                          l.size - 1);
            message(text);
            return false;
        }
    }
    return true;
}

void scene_reader::polygon(const scene_corner* corners, int n) {
    if (!polys_) return;
    if (count_.polys >= 0 && !corners_in_range(corners, n)) return;
    element(count_.polys, "nb_polys construct needed before polys", [&](int i) {
        kivPoly p{};
        p.nb_verts = n;
        for (int k = 0; k < n; ++k) {
            p.verts[k] = corners[k].v;
            p.norms[k] = corners[k].n;
            p.texs[k] = corners[k].t;
        }
        polys_->set_poly(i, p);
    });
}

// --- NURBS models -------------------------------------------------------------------------

scene_step scene_reader::nurb_nb_vertices(int nu, int nv) {
    const scene_step s = check_count(static_cast<long long>(nu) * nv);
    if (s == scene_step::go && nurb_) nurb_->set_nb_verts(nu, nv);
    return s;
}
// Orders outside 1 ... kMaxNurbOrder cannot be evaluated; they are refused
// before the knot buffer (count + order values) is sized by them.
void scene_reader::nurb_order(int u, int v) {
    if (!nurb_) return;
    if (u < 1 || v < 1 || u > kMaxNurbOrder || v > kMaxNurbOrder) {
        char text[128];
        std::snprintf(text, sizeof(text), "ERROR: nurb order %d %d outside 1 ... %d", u, v,
                      kMaxNurbOrder);
        message(text);
        return;
    }
    nurb_->set_order(u, v);
}
void scene_reader::nurb_closed(bool u, bool v) {
    if (nurb_) nurb_->set_closed(u, v);
}
void scene_reader::nurb_prim_visibility(bool on) {
    if (nurb_) nurb_->set_prim_visibility(on);
}
void scene_reader::nurb_casts_shadows(bool on) {
    if (nurb_) nurb_->set_cast_shadows(on);
}
void scene_reader::nurb_surface_visibility(bool on) {
    if (nurb_) nurb_->set_visibility(on);
}
void scene_reader::nurb_reference_equalmap(char* name) {
    if (nurb_) nurb_->set_ref_equal_map(name);
    std::free(name);
}

void scene_reader::nurb_vertex(const scene_vec& v) {
    if (!nurb_) return;
    if (count_.cvs < 0) {
        if (!nurb_->alloc_lists()) {
            message("Invalid nurb description");
            return;
        }
        count_.cvs = 0;
    }
    nurb_->set_vert(count_.cvs, kivPoint4(v.v[0], v.v[1], v.v[2], v.v[3]));
    if (count_.cvs < INT_MAX) ++count_.cvs;
}

// A knot list: the buffer grows to hold count + order values of the
// direction, then collects the numbers.
void scene_reader::begin_knots(bool u) {
    if (!nurb_) return;
    const long long needed = u ? static_cast<long long>(nurb_->uorder) + nurb_->nb_uverts
                               : static_cast<long long>(nurb_->vorder) + nurb_->nb_vverts;
    knot_count_ = 0;
    if (needed <= knot_capacity_ || needed > INT_MAX) return;
    float* grown = new (std::nothrow) float[static_cast<std::size_t>(needed)];
    if (!grown) return;
    delete[] knots_;
    knots_ = grown;
    knot_capacity_ = needed;
}

void scene_reader::knot(float k) {
    if (!nurb_) return;
    if (knot_count_ >= knot_capacity_) {
        message("invalid (too many) number of knot vectors");
        return;
    }
    knots_[knot_count_++] = k;
}

void scene_reader::end_knots(bool u) {
    if (!nurb_) return;
    if (u)
        nurb_->set_uknots(static_cast<int>(knot_count_), knots_);
    else
        nurb_->set_vknots(static_cast<int>(knot_count_), knots_);
}

void scene_reader::end_nurb() {
    if (!nurb_) return;
    auto spans = [](long long n, long long order) {
        const long long s = n - order + 1;
        return static_cast<std::int32_t>(s > INT_MAX ? INT_MAX : s < INT_MIN ? INT_MIN : s);
    };
    nurb_->utess = spans(nurb_->nb_uverts, nurb_->uorder);
    nurb_->vtess = spans(nurb_->nb_vverts, nurb_->vorder);
}

// --- Data point models ----------------------------------------------------------------------

scene_step scene_reader::dpnt_count(int n) {
    const scene_step s = check_count(n);
    if (s == scene_step::go && dpnt_) {
        dpnt_->alloc(n);
        count_.pnds = 0;
    }
    return s;
}

void scene_reader::pnd(int id, const float* f) {
    if (!dpnt_) return;
    element(count_.pnds, "Invalid data point model description", [&](int i) {
        dpnt_->set_point(i, kivPoint(f[0], f[1], f[2]), kivVector(f[3], f[4], f[5]),
                         kivVector(f[6], f[7], f[8]));
        dpnt_->set_id(i, id);
    });
}

// --- The file -------------------------------------------------------------------------------

bool scene_read_file(std::FILE* file, int which) {
    scene_reader reader(which, file_size(file));
    scene_parse_file(file, reader);
    if (reader.failure()) std::rethrow_exception(reader.failure());
    return !reader.had_error();
}
