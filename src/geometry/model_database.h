// The model database: the models of one frame's scene (polygon meshes,
// NURBS surfaces, data-point sets and empty models), each with its name,
// placement matrix and root scale.
//
// Two lists are kept: the current list for the shutter-open time and the
// second list for the shutter-close scene of a motion-blurred frame. Every
// function with an int `which` works on the current list when it is 0 and
// on the second list otherwise. The scene reader makes room with
// mdldb_init, takes records with mdldb_get_new and gives each a type and a
// name with mdldb_set_type; the caller transforms them with mdldb_xform and
// mdldb_cleanup empties both lists at the end of the frame.
#pragma once

#include <cstdint>

#include "foundation/matrix.h"
#include "foundation/names.h"
#include "foundation/vector_types.h"
#include "geometry/nurbs_surface.h"
#include "geometry/polygon_mesh.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

// Model kinds, with the words of the dump.
enum hair_model_type : std::int32_t {
    MODEL_NULL = 0,  // "null": no geometry
    MODEL_POLY = 1,  // "poly": a kivPolygons
    MODEL_NURB = 2,  // "nurb": a kivNurbSurface
    MODEL_DPNT = 3,  // "dpnt": a hair_datapoints set
};

// ---------------------------------------------------------------------------
// hair_datapoints: a set of points, each with an id, a position, a surface
// normal and a hair direction. The four arrays are owned.
class hair_datapoints {
  public:
    std::int32_t count = 0;           // number of points
    std::int32_t* ids = nullptr;      // an id per point
    kivPoint* positions = nullptr;    // point positions
    kivVector* normals = nullptr;     // surface normal at each point
    kivVector* directions = nullptr;  // hair direction at each point

    hair_datapoints() = default;
    hair_datapoints(const hair_datapoints&) = delete;
    hair_datapoints& operator=(const hair_datapoints&) = delete;
    ~hair_datapoints() { release(); }

    // Replaces the set by n cleared points, all four arrays or none: on a
    // failed allocation (or negative n) count becomes 0 and 0 is returned.
    int alloc(int n);
    // Position, normal and direction of point i; 0 when i is out of range.
    int set_point(int i, const kivPoint& position, const kivVector& normal,
                  const kivVector& direction);
    // Id of point i; 0 when i is out of range.
    int set_id(int i, int id);
    // Point i as nine floats: position, normal, direction; 0 when out of range.
    int get_point(int i, float* out) const;
    // "nb_pnds" and one "pnd" line per point when normals exist, else
    // "nb_ps" and one "p" line per point, on standard output.
    void dump() const;

  private:
    void release();
};

// ---------------------------------------------------------------------------
// hair_model: one model. Records live by value in the lists; a record owns
// its geometry and one reference to its name, and releases both when it is
// destroyed. Records move (the source becomes an empty "null" record) but
// are not copied.
struct hair_model {
    std::int32_t type = MODEL_NULL;  // hair_model_type
    kivMatrix matrix;                // object to world; identity on creation
    float root_scale = 1.0f;         // scale of the hairs grown on the model
    void* geometry = nullptr;        // kivPolygons, kivNurbSurface or hair_datapoints by type
    bool zbuffer_flag1 = false;      // first bool handed to the geometry rasteriser
    bool zbuffer_flag2 = false;      // second flag (handed on only without zbuffer_flag1)
    hair_name* name = nullptr;       // interned model name (one reference owned)

    hair_model() = default;
    hair_model(const hair_model&) = delete;
    hair_model& operator=(const hair_model&) = delete;
    hair_model& operator=(hair_model&& other) noexcept;
    ~hair_model();

    // The geometry as its type, or null when the model is of another kind.
    kivPolygons* polygons() const {
        return type == MODEL_POLY ? static_cast<kivPolygons*>(geometry) : nullptr;
    }
    kivNurbSurface* nurbs() const {
        return type == MODEL_NURB ? static_cast<kivNurbSurface*>(geometry) : nullptr;
    }
    hair_datapoints* datapoints() const {
        return type == MODEL_DPNT ? static_cast<hair_datapoints*>(geometry) : nullptr;
    }
    // The model's name text, or null.
    const char* name_text() const { return name ? name->name : nullptr; }
    // Destroys the geometry and releases the name; the record becomes empty.
    void clear();
};

// The kind word of a model type: "null", "poly", "nurb", "dpnt" ("null"
// for anything else).
const char* mdldb_type_word(int type);

// --- Lists ---------------------------------------------------------------------

// Makes room for n more models in the chosen list. A list without an array
// gets n empty records and the shared fill index restarts at 0; a list that
// has one grows by n, keeping the records handed out so far (with their
// names and geometry). 1, or 0 when n is negative or memory runs out (the
// list is then unchanged).
int mdldb_init(int n, int which);
// The record at the shared fill index, which then advances; null when the
// index has reached the chosen list's capacity.
hair_model* mdldb_get_new(int which);
// Gives an empty record its type and interned name and creates the empty
// geometry of that type. 0 when the record already has a type, for type 0
// (the name is still stored), for an unknown type (nothing changes) and
// when the geometry cannot be allocated; else 1.
int mdldb_set_type(hair_model* model, int type, const char* name);
// The first record of the chosen list (over its whole capacity) whose name
// is this very record; null when there is none.
hair_model* mdldb_get_model(const hair_name* name, int which);
// Number of records of the chosen list, and the record at index i (null
// when out of range).
int mdldb_capacity(int which);
hair_model* mdldb_get_index(int i, int which);

// Transforms the geometry of every polygon and NURBS model of the chosen
// list in place by the model's matrix.
void mdldb_xform(int which);

// --- Per-model work ------------------------------------------------------------

// Area of a model. Polygons: the mesh area, ulen and vlen 0. NURBS: the
// total, smallest and largest cell area of kivNurbSurface::get_area. Other
// kinds print "model (%s) type not implemented!, skipping..." and return 1
// with nothing filled. Otherwise the geometry's result.
int mdldb_get_area(hair_model* model, float& area, float& ulen, float& vlen);
// Area map of a model in a width x height map. Polygons use
// kivPolygons::fill_area_map with the height as stride; NURBS use
// kivNurbSurface::fill_area_map(a, b, c, width, height, width, map). Other
// kinds print the "not implemented" line and return 1.
int mdldb_fill_area_map(hair_model* model, float a, float b, float c, int width, int height,
                        int* map);
// After a model has been used: when the render is a single tile
// (defs.tiles[0] * defs.tiles[1] == 1) its geometry is destroyed and it
// reads as "null" from then on; otherwise nothing happens.
void mdldb_release_geometry(hair_model* model);
// A one-use tessellation of a NURBS model: tessellation steps set to the
// spans times defs.tess_factor, then a new mesh that the caller deletes.
// Null (with "WARNING: nurb tessellation failed for model %s" when
// warnings are on) when it fails or the model is not a NURBS model.
kivPolygons* mdldb_tessellate(hair_model* model);

// Tessellation statistics of every model of the current list that is not
// left out of the hair render and has a hair description assigned (the
// assignment table): "model <name> {", the six lines of
// kivNurbSurface::print_area_info for a NURBS model (whose tessellation
// steps become spans times defs.tess_factor when they are not set), a
// "not implemented" line for any other kind, and "}". A failed NURBS
// model prints "FATAL: problem with model <name>" and ends the walk: 0.
// Otherwise 1.
int mdldb_area_lengths(FILE* stream);

// --- Dump and clean-up ---------------------------------------------------------

// Prints the capacity of the current list, then every record of the chosen
// list with its kind, name, root scale and matrix.
void mdldb_dump(int which);
// Destroys both lists: names released, geometry destroyed, capacities 0.
void mdldb_cleanup();

KORVO_EXPORT_END
