// Polygon meshes: indexed vertices, normals and texture coordinates with a
// list of triangles and quads that index them.
//
// Scene polygon models are read into a kivPolygons, NURBS surfaces are
// tessellated into one, the model database transforms it and writes it as
// OBJ text, hair spawning reads it back polygon by polygon, and the
// equalizer tools ask it for its areas and for an area map: an image in
// texture space whose pixels tell how much surface each texture pixel
// stands for.
#pragma once

#include <climits>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>

#include "foundation/matrix.h"
#include "foundation/vector_types.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

// Size of the reference equalizer map name, terminator included.
constexpr int kRefEqualMapSize = 260;

// ---------------------------------------------------------------------------
// kivPoly: one polygon. Only the first nb_verts entries of each array count.
struct kivPoly {
    std::int32_t nb_verts;  // number of corners, 3 or 4
    std::int32_t verts[4];  // vertex indices (0-based)
    std::int32_t norms[4];  // normal indices
    std::int32_t texs[4];   // texture-coordinate indices
};

// ---------------------------------------------------------------------------
// kivSurfSample: a reserved surface sample of nine 32-bit values. The
// default constructor clears the position and normal; the three values of
// aux are left as they are. Copies take all nine.
class kivSurfSample {
  public:
    kivPoint position;  // cleared on construction
    kivVector normal;   // cleared on construction
    float aux[3];       // not given a meaning by the library

    kivSurfSample() : position(), normal() {}  // NOLINT: aux stays unset
};

// ---------------------------------------------------------------------------
// kivPolygons: the polygon mesh. Assignment is shallow: the two meshes
// share their arrays afterwards. Each array is reference counted behind the
// public pointer, so a setter that replaces an array, or the destructor of
// one of the sharing meshes, leaves the array alive for the other (a plain
// owner would free memory the copy still points at). Copy construction is
// not offered.
class kivPolygons {
  public:
    std::int32_t nb_verts = 0;                  // number of vertices
    std::int32_t nb_norms = 0;                  // number of normals
    std::int32_t nb_texs = 0;                   // number of texture coordinates
    std::int32_t nb_polys = 0;                  // number of polygons
    kivPoint* verts = nullptr;                  // vertex positions
    kivVector* norms = nullptr;                 // normals
    kivPoint* texs = nullptr;                   // texture coordinates: u in x, v in y, z carried
    kivPoly* polys = nullptr;                   // polygons
    bool prim_visibility = true;                // seen by the camera
    char ref_equal_map[kRefEqualMapSize] = {};  // reference equalizer map name
    bool casts_shadows = true;                  // drawn into shadow maps
    bool visibility = true;                     // visible at all

    kivPolygons() = default;
    kivPolygons(const kivPolygons&) = delete;
    kivPolygons& operator=(const kivPolygons&) = default;
    ~kivPolygons() = default;

    // --- Sizes ------------------------------------------------------------
    // Store n and allocate n cleared entries (replacing any earlier array;
    // a mesh sharing it keeps it). 1 on success; 0 when the allocation fails
    // or n is negative, the count then stays n and the array is null.
    int set_nb_verts(int n);
    int set_nb_norms(int n);
    int set_nb_texs(int n);
    int set_nb_polys(int n);
    int get_nb_verts() const { return nb_verts; }
    int get_nb_norms() const { return nb_norms; }
    int get_nb_texs() const { return nb_texs; }
    int get_nb_polys() const { return nb_polys; }

    // --- Elements ---------------------------------------------------------
    // Store entry i; 0 when i is outside the count or the array is missing.
    int set_vert(int i, const kivPoint& p);
    int set_norm(int i, const kivVector& n);
    int set_tex(int i, const kivPoint& t);
    int set_poly(int i, const kivPoly& p);
    // Corners of polygon i: nb gets the corner count, verts (at least four
    // entries) the positions and, when not null, norms and texs the normals
    // and texture coordinates. 0 for a polygon index out of range, and for a
    // polygon whose corner count is not 3 or 4 or that indexes an entry
    // which does not exist; else 1.
    int get_poly(int i, int& nb, kivPoint* verts_out, kivVector* norms_out,
                 kivPoint* texs_out) const;

    // --- Transformation ---------------------------------------------------
    // Vertices become vertex * M (with translation); normals are multiplied
    // by the inverse transpose of M without its translation and are not
    // renormalised; texture coordinates are unchanged.
    void xform(const kivMatrix& M);

    // --- Areas ------------------------------------------------------------
    // Half the length of (b - a) x (c - a).
    static float getTriArea(const kivPoint& a, const kivPoint& b, const kivPoint& c);
    // Area of the triangle in the xy plane, whatever its winding.
    static float get2DTriArea(const kivPoint& a, const kivPoint& b, const kivPoint& c);
    // The triangles (a, b, c) and (a, c, d).
    static float getQuadArea(const kivPoint& a, const kivPoint& b, const kivPoint& c,
                             const kivPoint& d);
    // Surface area of the mesh; always returns 1.
    int get_area(float& area) const;
    // Area of the mesh in texture space.
    float get_uv_area() const;
    // Area map of width x height ints in texture space (pixel (px, py) at
    // map[width * py + px]): 255 where a texture pixel stands for the most
    // surface, down to 12 for the least, 0 where no polygon lies. The map is
    // first cleared as width runs of height ints, stride ints apart (callers
    // pass stride = height). 1, or 0 when scratch memory runs out.
    int fill_area_map(int width, int height, int stride, int* map) const;

    // --- Output -----------------------------------------------------------
    // OBJ text: v, vn and vt groups each followed by a blank line, then one
    // "f v/t/n ..." line per polygon (indices from 1).
    void write_obj(FILE* stream) const;
    // The same groups on standard output, each preceded by an empty line,
    // and a closing "}" line.
    void dump() const;

    // --- Flags ------------------------------------------------------------
    void set_prim_visibility(bool on) { prim_visibility = on; }
    void set_visibility(bool on) { visibility = on; }
    void set_casts_shadows(bool on) { casts_shadows = on; }
    // Copies the name, cut to 259 bytes; null clears it.
    void set_ref_equal_map(const char* name);
    bool get_prim_visibility() const { return prim_visibility; }
    bool get_visibility() const { return visibility; }
    bool get_casts_shadows() const { return casts_shadows; }
    const char* get_ref_equal_map() const { return ref_equal_map; }

  private:
    // The owners of verts, norms, texs and polys (shared by assignment).
    std::shared_ptr<kivPoint> verts_owner_;
    std::shared_ptr<kivVector> norms_owner_;
    std::shared_ptr<kivPoint> texs_owner_;
    std::shared_ptr<kivPoly> polys_owner_;

    // True when polygon p has 3 or 4 corners and every vertex index is in
    // range (and every normal / texture index too when asked for).
    bool poly_ok(const kivPoly& p, bool with_norms, bool with_texs) const;
    void write_groups(FILE* stream, bool dump_layout) const;
};

// n cleared entries of T owned by a reference count, or null when n is
// negative, above INT_MAX or memory runs out.
template <typename T>
std::shared_ptr<T> shared_array(long long n) {
    if (n < 0 || n > INT_MAX) return nullptr;
    T* array = new (std::nothrow) T[static_cast<std::size_t>(n)]();
    if (!array) return nullptr;
    try {
        return std::shared_ptr<T>(array, std::default_delete<T[]>());
    } catch (const std::bad_alloc&) {
        return nullptr;  // the deleter has freed the array
    }
}

// Copies name into a fixed kRefEqualMapSize buffer, cut to fit; null clears.
void copy_ref_equal_map(char* dst, const char* name);

// Area-map level of a relative amount x in [0, 1]:
// min(255, max(12, trunc(x * 243 + 0.5) + 12)); 12 for NaN.
int area_map_level(double x);

KORVO_EXPORT_END
