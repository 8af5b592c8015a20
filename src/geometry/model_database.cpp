#include "geometry/model_database.h"

#include <cstdio>
#include <new>
#include <utility>

#include "descriptions/assign_db.h"
#include "foundation/render_settings.h"

namespace {

struct ModelList {
    hair_model* models = nullptr;
    int capacity = 0;
};

// The current list (0) and the second list (1), and the number of records
// handed out since the last fresh allocation, shared by both.
ModelList g_lists[2];
int g_fill = 0;

ModelList& list_of(int which) {
    return g_lists[which == 0 ? 0 : 1];
}

// "(null)" stands in for a missing name in printed lines.
const char* printable_name(const hair_model* model) {
    const char* text = model->name_text();
    return text ? text : "(null)";
}

void not_implemented(const hair_model* model) {
    std::printf("model (%s) type not implemented!, skipping...\n", printable_name(model));
}

}  // namespace

// --- hair_datapoints -------------------------------------------------------------

void hair_datapoints::release() {
    delete[] ids;
    delete[] positions;
    delete[] normals;
    delete[] directions;
    ids = nullptr;
    positions = nullptr;
    normals = nullptr;
    directions = nullptr;
    count = 0;
}

int hair_datapoints::alloc(int n) {
    release();
    if (n < 0) return 0;
    const std::size_t size = static_cast<std::size_t>(n);
    ids = new (std::nothrow) std::int32_t[size]();
    positions = new (std::nothrow) kivPoint[size]();
    normals = new (std::nothrow) kivVector[size]();
    directions = new (std::nothrow) kivVector[size]();
    if (!ids || !positions || !normals || !directions) {
        release();
        return 0;
    }
    count = n;
    return 1;
}

int hair_datapoints::set_point(int i, const kivPoint& position, const kivVector& normal,
                               const kivVector& direction) {
    if (i < 0 || i >= count) return 0;
    positions[i] = position;
    normals[i] = normal;
    directions[i] = direction;
    return 1;
}

int hair_datapoints::set_id(int i, int id) {
    if (i < 0 || i >= count) return 0;
    ids[i] = id;
    return 1;
}

int hair_datapoints::get_point(int i, float* out) const {
    if (i < 0 || i >= count) return 0;
    const kivPoint& p = positions[i];
    const kivVector& n = normals[i];
    const kivVector& d = directions[i];
    const float values[9] = {p.x, p.y, p.z, n.x, n.y, n.z, d.x, d.y, d.z};
    for (int k = 0; k < 9; ++k) out[k] = values[k];
    return 1;
}

void hair_datapoints::dump() const {
    if (normals) {
        std::printf("nb_pnds %d\n", count);
        for (int i = 0; i < count; ++i) {
            const kivPoint& p = positions[i];
            const kivVector& n = normals[i];
            const kivVector& d = directions[i];
            std::printf("pnd %d %f %f %f %f %f %f %f %f %f\n", ids[i], p.x, p.y, p.z, n.x, n.y, n.z,
                        d.x, d.y, d.z);
        }
    } else {
        std::printf("nb_ps %d\n", count);
        for (int i = 0; positions && i < count; ++i) {
            std::printf("p %f %f %f \n", positions[i].x, positions[i].y, positions[i].z);
        }
    }
}

// --- hair_model ------------------------------------------------------------------

void hair_model::clear() {
    switch (type) {
        case MODEL_POLY:
            delete static_cast<kivPolygons*>(geometry);
            break;
        case MODEL_NURB:
            delete static_cast<kivNurbSurface*>(geometry);
            break;
        case MODEL_DPNT:
            delete static_cast<hair_datapoints*>(geometry);
            break;
        default:
            break;
    }
    geometry = nullptr;
    type = MODEL_NULL;
    names_remove(name);
    name = nullptr;
}

hair_model::~hair_model() {
    clear();
}

hair_model& hair_model::operator=(hair_model&& other) noexcept {
    if (this == &other) return *this;
    clear();
    type = other.type;
    matrix = other.matrix;
    root_scale = other.root_scale;
    geometry = other.geometry;
    zbuffer_flag1 = other.zbuffer_flag1;
    zbuffer_flag2 = other.zbuffer_flag2;
    name = other.name;
    other.type = MODEL_NULL;
    other.geometry = nullptr;
    other.name = nullptr;
    return *this;
}

const char* mdldb_type_word(int type) {
    switch (type) {
        case MODEL_POLY:
            return "poly";
        case MODEL_NURB:
            return "nurb";
        case MODEL_DPNT:
            return "dpnt";
        default:
            return "null";
    }
}

// --- Lists -----------------------------------------------------------------------

int mdldb_init(int n, int which) {
    ModelList& list = list_of(which);
    if (n < 0) return 0;
    if (!list.models) {
        list.models = new (std::nothrow) hair_model[static_cast<std::size_t>(n)];
        if (!list.models) return 0;
        list.capacity = n;
        g_fill = 0;
        return 1;
    }
    const long long grown = static_cast<long long>(list.capacity) + n;
    if (grown > 0x7fffffff) return 0;
    hair_model* models = new (std::nothrow) hair_model[static_cast<std::size_t>(grown)];
    if (!models) return 0;
    const int keep = g_fill < list.capacity ? g_fill : list.capacity;
    for (int i = 0; i < keep; ++i) models[i] = std::move(list.models[i]);
    delete[] list.models;
    list.models = models;
    list.capacity = static_cast<int>(grown);
    return 1;
}

hair_model* mdldb_get_new(int which) {
    ModelList& list = list_of(which);
    if (!list.models || g_fill >= list.capacity) return nullptr;
    return &list.models[g_fill++];
}

int mdldb_set_type(hair_model* model, int type, const char* name) {
    if (!model || model->type != MODEL_NULL) return 0;
    if (type < MODEL_NULL || type > MODEL_DPNT) return 0;
    if (name) {
        hair_name* interned = names_add(name);  // may throw before anything changed
        names_remove(model->name);
        model->name = interned;
    }
    void* geometry = nullptr;
    switch (type) {
        case MODEL_POLY:
            geometry = new (std::nothrow) kivPolygons;
            break;
        case MODEL_NURB:
            geometry = new (std::nothrow) kivNurbSurface;
            break;
        case MODEL_DPNT:
            geometry = new (std::nothrow) hair_datapoints;
            break;
        default:
            return 0;
    }
    model->type = type;
    model->geometry = geometry;
    return geometry != nullptr;
}

hair_model* mdldb_get_model(const hair_name* name, int which) {
    const ModelList& list = list_of(which);
    if (!name || !list.models) return nullptr;
    for (int i = 0; i < list.capacity; ++i) {
        if (list.models[i].name == name) return &list.models[i];
    }
    return nullptr;
}

int mdldb_capacity(int which) {
    const ModelList& list = list_of(which);
    return list.models ? list.capacity : 0;
}

hair_model* mdldb_get_index(int i, int which) {
    const ModelList& list = list_of(which);
    if (!list.models || i < 0 || i >= list.capacity) return nullptr;
    return &list.models[i];
}

void mdldb_xform(int which) {
    const ModelList& list = list_of(which);
    for (int i = 0; list.models && i < list.capacity; ++i) {
        hair_model& model = list.models[i];
        if (kivPolygons* poly = model.polygons()) {
            poly->xform(model.matrix);
        } else if (kivNurbSurface* nurb = model.nurbs()) {
            nurb->xform(model.matrix);
        }
    }
}

// --- Per-model work --------------------------------------------------------------

int mdldb_get_area(hair_model* model, float& area, float& ulen, float& vlen) {
    if (!model) return 0;
    if (kivPolygons* poly = model->polygons()) {
        ulen = vlen = 0.0f;
        return poly->get_area(area);
    }
    if (kivNurbSurface* nurb = model->nurbs()) return nurb->get_area(area, ulen, vlen);
    not_implemented(model);
    return 1;
}

int mdldb_fill_area_map(hair_model* model, float a, float b, float c, int width, int height,
                        int* map) {
    if (!model) return 0;
    if (kivPolygons* poly = model->polygons())
        return poly->fill_area_map(width, height, height, map);
    if (kivNurbSurface* nurb = model->nurbs()) {
        return nurb->fill_area_map(a, b, c, width, height, width, map);
    }
    not_implemented(model);
    return 1;
}

void mdldb_release_geometry(hair_model* model) {
    if (!model || defs.tiles[0] * defs.tiles[1] != 1) return;
    hair_name* name = model->name;
    model->name = nullptr;  // the name stays with the record
    model->clear();
    model->name = name;
}

kivPolygons* mdldb_tessellate(hair_model* model) {
    kivNurbSurface* nurb = model ? model->nurbs() : nullptr;
    if (!nurb) return nullptr;
    nurb->set_tess_steps(defs.tess_factor);
    kivPolygons* mesh = nurb->tess_uniform(nullptr);
    if (!mesh && opt_warnings()) {
        std::printf("WARNING: nurb tessellation failed for model %s\n", printable_name(model));
    }
    return mesh;
}

int mdldb_area_lengths(FILE* stream) {
    const ModelList& list = g_lists[0];
    for (int i = 0; list.models && i < list.capacity; ++i) {
        hair_model& model = list.models[i];
        if (assdb_get_exclude(model.name, 0) || !assdb_has_model_hair(model.name)) continue;
        std::fprintf(stream, "model %s {\n", printable_name(&model));
        if (kivNurbSurface* s = model.nurbs()) {
            // Untessellated surfaces are measured with the default steps;
            // the surface is left as it was.
            const std::int32_t utess = s->utess, vtess = s->vtess;
            if (s->utess < 1 || s->vtess < 1) s->set_tess_steps(defs.tess_factor);
            const int ok = s->print_area_info(stream);
            s->utess = utess;
            s->vtess = vtess;
            if (!ok) {
                std::printf("FATAL: problem with model %s\n", printable_name(&model));
                return 0;
            }
        } else {
            std::fprintf(stream, "model %s type not implemented!, skipping...\n",
                         printable_name(&model));
        }
        std::fprintf(stream, "}\n");
    }
    return 1;
}

// --- Dump and clean-up -------------------------------------------------------------

void mdldb_dump(int which) {
    std::printf("nb_models %d\n", g_lists[0].capacity);
    const ModelList& list = list_of(which);
    if (!list.models && list.capacity > 0) {
        std::printf("ERROR: invalid model list\n");
        return;
    }
    for (int i = 0; list.models && i < list.capacity; ++i) {
        const hair_model& model = list.models[i];
        std::printf("\nmodel %s %s {\n", mdldb_type_word(model.type), printable_name(&model));
        std::printf("    root_scale = %f ;\n", model.root_scale);
        const float* m = model.matrix.m;
        for (int r = 0; r < 4; ++r) {
            std::printf(r == 0 ? "    matrix = %f %f %f %f\n" : "             %f %f %f %f\n", m[r],
                        m[r + 4], m[r + 8], m[r + 12]);
        }
        std::printf("}\n");
    }
}

void mdldb_cleanup() {
    for (ModelList& list : g_lists) {
        delete[] list.models;
        list.models = nullptr;
        list.capacity = 0;
    }
    g_fill = 0;
}
