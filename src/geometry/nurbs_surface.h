// Rational B-spline surfaces: a grid of homogeneous control points with an
// order and a knot vector along each of u and v.
//
// The scene reader fills a kivNurbSurface, the model database transforms
// it into world space and tessellates it into a kivPolygons, hair spawning
// asks it for the surface frame at a parameter, and the equalizer tools
// for its area, an area map and tessellation statistics. All evaluation
// goes through one point evaluator, calc_point, that returns the position
// and on request the two partial derivatives.
#pragma once

#include <cstdint>
#include <cstdio>

#include "foundation/matrix.h"
#include "foundation/vector_types.h"
#include "geometry/polygon_mesh.h"
#include "korvofur/export.h"

KORVO_EXPORT_BEGIN

// Highest order (degree + 1) the evaluator handles; surfaces of a higher
// order evaluate to zero and refuse tessellation and area work.
constexpr int kMaxNurbOrder = 16;

// ---------------------------------------------------------------------------
// kivNurbSurface. Control point (i, j), i along u and j along v, lives at
// cvs[nb_uverts * j + i], stored premultiplied as (w x, w y, w z, w).
// The copy constructor makes a deep copy; assignment is shallow (the two
// surfaces share their arrays). The arrays are reference counted behind the
// public pointers, so alloc_lists or the destructor of one sharing surface
// leaves them alive for the other.
class kivNurbSurface {
  public:
    std::int32_t nb_uverts = 0;                 // control points along u
    std::int32_t nb_vverts = 0;                 // control points along v
    bool prim_visibility = true;                // seen by the camera
    char ref_equal_map[kRefEqualMapSize] = {};  // reference equalizer map name
    bool casts_shadows = true;                  // drawn into shadow maps
    bool visibility = true;                     // visible at all
    std::int32_t uorder = 0;                    // order along u
    std::int32_t vorder = 0;                    // order along v
    std::int32_t utess = 0;                     // tessellation steps along u
    std::int32_t vtess = 0;                     // tessellation steps along v
    std::int16_t uclosed = 0;                   // closed along u
    std::int16_t vclosed = 0;                   // closed along v
    float* uknots = nullptr;                    // nb_uverts + uorder knots
    float* vknots = nullptr;                    // nb_vverts + vorder knots
    kivPoint4* cvs = nullptr;                   // nb_uverts * nb_vverts control points
    kivSurfSample surf_samples[4];              // reserved

    // --- Construction -----------------------------------------------------
    kivNurbSurface() = default;
    // Sets counts and orders and allocates both knot vectors and cleared
    // control points. Allocation failure prints "FATAL: Memory allocation
    // failed" and throws FurEFailed.
    kivNurbSurface(long nu, long nv, long uorder, long vorder);
    // A deep copy: own knot vectors and control points.
    kivNurbSurface(const kivNurbSurface& other);
    kivNurbSurface& operator=(const kivNurbSurface&) = default;
    ~kivNurbSurface() = default;

    // --- Set-up -----------------------------------------------------------
    void set_nb_verts(int nu, int nv) {
        nb_uverts = nu;
        nb_vverts = nv;
    }
    void set_order(int ku, int kv) {
        uorder = ku;
        vorder = kv;
    }
    void set_closed(int cu, int cv) {
        uclosed = static_cast<std::int16_t>(cu);
        vclosed = static_cast<std::int16_t>(cv);
    }
    // Allocates cleared control points and both knot vectors for the
    // current counts and orders (replacing earlier ones; a surface sharing
    // them keeps them). 0 when either count
    // is below 4, an order is below 1, or memory runs out; else 1.
    int alloc_lists();
    // Stores p at linear index i, premultiplying x, y, z by w when w is not
    // 1. Returns 0 (storing nothing) when i is out of range.
    int set_vert(int i, const kivPoint4& p);
    // Control point (i, j), or null when out of range.
    kivPoint4* points_lookup(long i, long j);
    // Copy n knots; 0 (changing nothing) unless n = nb_uverts + uorder
    // (nb_vverts + vorder for v) and the vector is allocated.
    int set_uknots(int n, const float* k);
    int set_vknots(int n, const float* k);
    int get_nb_uknots() const { return nb_uverts + uorder; }
    int get_nb_vknots() const { return nb_vverts + vorder; }
    // utess and vtess become the number of spans times f.
    void set_tess_steps(long f);
    // The parameter domain: from knot order - 1 to knot nb_verts per
    // direction. Zeros when the knots are missing.
    void get_domain(float& ustart, float& ulen, float& vstart, float& vlen) const;

    // Every control point becomes (x, y, z, w) * M.
    void xform(const kivMatrix& M);

    // --- Evaluation -------------------------------------------------------
    // Surface frame at (s, t) in [0, 1]^2 mapped onto the domain:
    // out[0] position, out[1] unit normal D_u x D_v (zero when degenerate),
    // out[2] unit direction along v, out[3] unit direction along u.
    // Allocates nothing.
    void calc_posnrmdir(float s, float t, kivVector* out) const;
    // A mesh of (utess + 1) x (vtess + 1) evaluated points and 2 utess vtess
    // triangles: p itself, or a new mesh when p is null; null on failure.
    kivPolygons* tess_uniform(kivPolygons* p) const;

    // --- Areas ------------------------------------------------------------
    // Sum, smallest and largest of the quad areas of the sample grid.
    // 1, or 0 when memory runs out or the surface cannot be evaluated.
    int get_area(float& total, float& smallest, float& largest) const;
    // Area map over the sample grid, row py at map[py * stride]; levels
    // 12 ... 255 relative to the sample with the most surface. The three
    // floats are not used. 1, or 0 as for get_area.
    int fill_area_map(float, float, float, int width, int height, int stride, int* map) const;
    // Six lines of tessellation segment and iso-curve length statistics.
    int print_area_info(FILE* stream) const;

    // --- Flags ------------------------------------------------------------
    void set_prim_visibility(bool on) { prim_visibility = on; }
    void set_visibility(bool on) { visibility = on; }
    void set_cast_shadows(bool on) { casts_shadows = on; }
    void set_ref_equal_map(const char* name) { copy_ref_equal_map(ref_equal_map, name); }
    bool get_prim_visibility() const { return prim_visibility; }
    bool get_visibility() const { return visibility; }
    bool get_casts_shadows() const { return casts_shadows; }
    const char* get_ref_equal_map() const { return ref_equal_map; }

  private:
    friend class kivNurbSurfaceProbe;  // the evaluator's tests

    // Entries allocated in uknots, vknots and cvs. Counts or orders changed
    // after allocation are checked against these before any array is read.
    long long uknots_size_ = 0;
    long long vknots_size_ = 0;
    long long cvs_size_ = 0;

    // The owners of uknots, vknots and cvs (shared by assignment).
    std::shared_ptr<float> uknots_owner_;
    std::shared_ptr<float> vknots_owner_;
    std::shared_ptr<kivPoint4> cvs_owner_;

    // Allocates the three arrays for the sizes above; false when memory
    // runs out (the arrays are then null).
    bool allocate_arrays();

    // True when the arrays exist and both orders lie in 1 ... min(count,
    // kMaxNurbOrder), so that evaluation stays inside the arrays.
    bool evaluable() const;
    // Position P at (u, v) and, when D is not null, the partial derivatives
    // D[0] along u and D[1] along v, each scaled by the length of the knot
    // span it lies in.
    void calc_point(float u, float v, kivPoint* P, kivVector* D) const;
    // Number of area samples along u and v (fewer on a closed direction).
    void sample_counts(int& nu, int& nv) const;
    // Evaluates the area sample grid into pts (nu * nv, row j at j * nu).
    void sample_grid(int nu, int nv, kivPoint* pts) const;
    // Quad area of sample cell (i, j).
    static float cell_area(const kivPoint* pts, int nu, int i, int j);
};

KORVO_EXPORT_END
