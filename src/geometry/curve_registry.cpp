#include "geometry/curve_registry.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "geometry/nurbs_surface.h"
#include "geometry/polygon_mesh.h"

// One registered curve with its own copies of the curve and the surface,
// and a grid of surface points that starts every closest-point search.
struct KorvoRegisteredCurve {
    std::string name;
    KorvoNurbsCurve curve;
    KorvoVector direction;
    std::unique_ptr<kivNurbSurface> nurbs;
    std::unique_ptr<kivPolygons> mesh;
    double u = 0.0, v = 0.0;
    bool use_start_position = false;
    KorvoVector fur_direction;
    int grid_nu = 0, grid_nv = 0;  // samples of the NURBS grid
    std::vector<KorvoPoint> grid;  // row j at j * grid_nu, at (i / (nu-1), j / (nv-1))
};

namespace {

std::vector<std::shared_ptr<const KorvoRegisteredCurve>> g_curves;

// Tolerance of the closest-point search on NURBS surfaces.
constexpr double kClosestTolerance = 0.001;

KorvoPoint to_korvo(const kivPoint& p) {
    return {p.x, p.y, p.z};
}
KorvoPoint to_korvo(const kivVector& p) {
    return {p.x, p.y, p.z};
}

// --- Copies -----------------------------------------------------------------------

template <typename T>
bool copy_array(int n, const T* from, int (kivPolygons::*resize)(int), T* kivPolygons::*field,
                kivPolygons& to) {
    if (n <= 0 || !from) return true;
    if (!(to.*resize)(n)) return false;
    std::copy(from, from + n, to.*field);
    return true;
}

std::unique_ptr<kivPolygons> copy_mesh(const kivPolygons& m) {
    auto c = std::make_unique<kivPolygons>();
    const bool ok =
        copy_array(m.nb_verts, m.verts, &kivPolygons::set_nb_verts, &kivPolygons::verts, *c) &&
        copy_array(m.nb_norms, m.norms, &kivPolygons::set_nb_norms, &kivPolygons::norms, *c) &&
        copy_array(m.nb_texs, m.texs, &kivPolygons::set_nb_texs, &kivPolygons::texs, *c) &&
        copy_array(m.nb_polys, m.polys, &kivPolygons::set_nb_polys, &kivPolygons::polys, *c);
    if (!ok) return nullptr;
    return c;
}

// Samples the NURBS surface on a grid of about four points per span.
void build_grid(KorvoRegisteredCurve& c) {
    const kivNurbSurface& s = *c.nurbs;
    const int su = std::max(1, s.nb_uverts - s.uorder + 1);
    const int sv = std::max(1, s.nb_vverts - s.vorder + 1);
    c.grid_nu = std::clamp(4 * su + 1, 9, 65);
    c.grid_nv = std::clamp(4 * sv + 1, 9, 65);
    c.grid.resize(static_cast<std::size_t>(c.grid_nu) * c.grid_nv);
    kivVector frame[4];
    for (int j = 0; j < c.grid_nv; ++j) {
        for (int i = 0; i < c.grid_nu; ++i) {
            s.calc_posnrmdir(static_cast<float>(i) / (c.grid_nu - 1),
                             static_cast<float>(j) / (c.grid_nv - 1), frame);
            c.grid[static_cast<std::size_t>(j) * c.grid_nu + i] = to_korvo(frame[0]);
        }
    }
}

// --- Meshes -------------------------------------------------------------------------

// The point of triangle abc closest to p.
KorvoPoint closest_on_triangle(const KorvoPoint& p, const KorvoPoint& a, const KorvoPoint& b,
                               const KorvoPoint& c) {
    const KorvoVector ab = b - a, ac = c - a, ap = p - a;
    const double d1 = ab * ap, d2 = ac * ap;
    if (d1 <= 0.0 && d2 <= 0.0) return a;
    const KorvoVector bp = p - b;
    const double d3 = ab * bp, d4 = ac * bp;
    if (d3 >= 0.0 && d4 <= d3) return b;
    const double vc = d1 * d4 - d3 * d2;
    if (vc <= 0.0 && d1 >= 0.0 && d3 <= 0.0) return a + ab * (d1 / (d1 - d3));
    const KorvoVector cp = p - c;
    const double d5 = ab * cp, d6 = ac * cp;
    if (d6 >= 0.0 && d5 <= d6) return c;
    const double vb = d5 * d2 - d1 * d6;
    if (vb <= 0.0 && d2 >= 0.0 && d6 <= 0.0) return a + ac * (d2 / (d2 - d6));
    const double va = d3 * d6 - d5 * d4;
    if (va <= 0.0 && (d4 - d3) >= 0.0 && (d5 - d6) >= 0.0)
        return b + (c - b) * ((d4 - d3) / ((d4 - d3) + (d5 - d6)));
    const double denom = 1.0 / (va + vb + vc);
    return a + ab * (vb * denom) + ac * (vc * denom);
}

bool mesh_closest(const kivPolygons& m, const KorvoPoint& p, KorvoPoint& out) {
    double best = std::numeric_limits<double>::infinity();
    kivPoint v[4];
    for (int i = 0; i < m.nb_polys; ++i) {
        int nb = 0;
        if (!m.get_poly(i, nb, v, nullptr, nullptr)) continue;
        for (int t = 1; t + 1 < nb; ++t) {
            const KorvoPoint q =
                closest_on_triangle(p, to_korvo(v[0]), to_korvo(v[t]), to_korvo(v[t + 1]));
            const double d = (q - p) * (q - p);
            if (d < best) {
                best = d;
                out = q;
            }
        }
    }
    return best < std::numeric_limits<double>::infinity();
}

// Barycentric coordinates of (u, v) in the texture triangle abc; false when
// the triangle is degenerate or the point lies outside (tolerance 1e-5).
bool uv_in_triangle(double u, double v, const kivPoint& a, const kivPoint& b, const kivPoint& c,
                    double l[3]) {
    const double d = (b.y - c.y) * (a.x - c.x) + (c.x - b.x) * (a.y - c.y);
    if (std::fabs(d) < 1e-12) return false;
    l[0] = ((b.y - c.y) * (u - c.x) + (c.x - b.x) * (v - c.y)) / d;
    l[1] = ((c.y - a.y) * (u - c.x) + (a.x - c.x) * (v - c.y)) / d;
    l[2] = 1.0 - l[0] - l[1];
    return l[0] >= -1e-5 && l[1] >= -1e-5 && l[2] >= -1e-5;
}

// The normal of the mesh at the point whose texture coordinates are (u, v):
// the first polygon holding them gives the point; its vertex normals
// interpolated there (or its face normal without normals) give the normal.
bool mesh_normal_at_uv(const kivPolygons& m, double u, double v, KorvoVector& n) {
    kivPoint pv[4], pt[4];
    kivVector pn[4];
    const bool with_norms = m.nb_norms > 0 && m.norms;
    for (int i = 0; i < m.nb_polys; ++i) {
        int nb = 0;
        if (!m.get_poly(i, nb, pv, with_norms ? pn : nullptr, pt)) continue;
        for (int t = 1; t + 1 < nb; ++t) {
            double l[3];
            if (!uv_in_triangle(u, v, pt[0], pt[t], pt[t + 1], l)) continue;
            if (with_norms) {
                const kivVector a = pn[0], b = pn[t], c = pn[t + 1];
                n = KorvoVector(a.x, a.y, a.z) * l[0] + KorvoVector(b.x, b.y, b.z) * l[1] +
                    KorvoVector(c.x, c.y, c.z) * l[2];
            } else {
                n = (to_korvo(pv[t]) - to_korvo(pv[0])) ^ (to_korvo(pv[t + 1]) - to_korvo(pv[0]));
            }
            n.normalize();
            return !n.isZero();
        }
    }
    return false;
}

// --- NURBS surfaces -------------------------------------------------------------------

KorvoPoint surface_point(const kivNurbSurface& s, double a, double b) {
    kivVector frame[4];
    s.calc_posnrmdir(static_cast<float>(a), static_cast<float>(b), frame);
    return to_korvo(frame[0]);
}

// Closest point: the nearest grid sample, then a pattern search over the
// parameters: the eight neighbours at the current step are tried, the
// best one taken, and the step halved when none is nearer. It stops once
// the step moves the point by less than a hundredth of the tolerance.
bool nurbs_closest(const KorvoRegisteredCurve& c, const KorvoPoint& p, KorvoPoint& out) {
    if (c.grid.empty()) return false;
    std::size_t best = 0;
    double best_d = std::numeric_limits<double>::infinity();
    for (std::size_t k = 0; k < c.grid.size(); ++k) {
        const double d = (c.grid[k] - p) * (c.grid[k] - p);
        if (d < best_d) {
            best_d = d;
            best = k;
        }
    }
    double a = static_cast<double>(best % c.grid_nu) / (c.grid_nu - 1);
    double b = static_cast<double>(best / c.grid_nu) / (c.grid_nv - 1);
    KorvoPoint q = c.grid[best];
    double ha = 0.5 / (c.grid_nu - 1), hb = 0.5 / (c.grid_nv - 1);
    for (int iter = 0; iter < 400 && (ha > 1e-7 || hb > 1e-7); ++iter) {
        double na = a, nb = b, nd = best_d;
        KorvoPoint nq = q;
        double moved = 0.0;
        for (int i = -1; i <= 1; ++i) {
            for (int j = -1; j <= 1; ++j) {
                if (i == 0 && j == 0) continue;
                const double ta = std::clamp(a + i * ha, 0.0, 1.0);
                const double tb = std::clamp(b + j * hb, 0.0, 1.0);
                const KorvoPoint t = surface_point(*c.nurbs, ta, tb);
                moved = std::max(moved, t.distanceTo(q));
                const double d = (t - p) * (t - p);
                if (d < nd) {
                    na = ta;
                    nb = tb;
                    nd = d;
                    nq = t;
                }
            }
        }
        if (nd < best_d) {
            a = na;
            b = nb;
            q = nq;
            best_d = nd;
        } else {
            if (moved < kClosestTolerance * 0.01) break;
            ha *= 0.5;
            hb *= 0.5;
        }
    }
    out = q;
    return true;
}

const KorvoRegisteredCurve* find_entry(const char* name, std::size_t* index = nullptr) {
    for (std::size_t i = 0; i < g_curves.size(); ++i) {
        if (g_curves[i]->name == name) {
            if (index) *index = i;
            return g_curves[i].get();
        }
    }
    return nullptr;
}

}  // namespace

// --- KorvoNurbsCurve -------------------------------------------------------------------

bool KorvoNurbsCurve::valid() const {
    const std::size_t n = cvs.size();
    if (degree < 1 || degree > kKorvoMaxCurveDegree) return false;
    if (n < static_cast<std::size_t>(degree) + 1) return false;
    if (knots.size() != n + degree + 1) return false;
    for (std::size_t i = 1; i < knots.size(); ++i) {
        if (!(knots[i] >= knots[i - 1])) return false;
    }
    for (const KorvoPoint& p : cvs) {
        if (!(p.w > 0.0)) return false;
    }
    return knots[n] > knots[degree];
}

void KorvoNurbsCurve::domain(double& start, double& end) const {
    if (!valid()) {
        start = end = 0.0;
        return;
    }
    start = knots[degree];
    end = knots[cvs.size()];
}

// De Boor's algorithm on the homogeneous points (w x, w y, w z, w).
KorvoPoint KorvoNurbsCurve::evaluate(double t) const {
    const int p = degree;
    const int n = static_cast<int>(cvs.size());
    t = std::clamp(t, knots[p], knots[n]);
    int k = p;
    while (k < n - 1 && t >= knots[k + 1]) ++k;
    KorvoPoint d[kKorvoMaxCurveDegree + 1];
    for (int j = 0; j <= p; ++j) {
        const KorvoPoint& c = cvs[j + k - p];
        d[j] = KorvoPoint(c.x * c.w, c.y * c.w, c.z * c.w, c.w);
    }
    for (int r = 1; r <= p; ++r) {
        for (int j = p; j >= r; --j) {
            const double lo = knots[j + k - p], hi = knots[j + 1 + k - r];
            const double a = hi > lo ? (t - lo) / (hi - lo) : 0.0;
            d[j] = d[j - 1] * (1.0 - a) + d[j] * a;
        }
    }
    return d[p].cartesianize();
}

// --- KorvoDagPath ------------------------------------------------------------------------

const char* KorvoDagPath::partialPathName() const {
    return curve_ ? curve_->name.c_str() : "";
}

const KorvoNurbsCurve& KorvoDagPath::curve() const {
    return curve_->curve;
}

KorvoPoint KorvoDagPath::firstControlVertex() const {
    const KorvoPoint& c = curve_->curve.cvs.front();
    return {c.x, c.y, c.z, 1.0};
}

double KorvoDagPath::domainEnd() const {
    double start = 0.0, end = 0.0;
    curve_->curve.domain(start, end);
    return end;
}

bool KorvoDagPath::referenceDirection(KorvoVector& dir) const {
    dir = KorvoVector();
    if (!curve_) return false;
    const KorvoRegisteredCurve& c = *curve_;
    if (!c.direction.isZero()) {
        dir = c.direction.normal();
    } else if (c.nurbs) {
        kivVector frame[4];
        c.nurbs->calc_posnrmdir(static_cast<float>(c.u), static_cast<float>(c.v), frame);
        dir = KorvoVector(frame[1].x, frame[1].y, frame[1].z).normal();
    } else if (c.mesh) {
        mesh_normal_at_uv(*c.mesh, c.u, c.v, dir);
    }
    if (c.use_start_position && !c.fur_direction.isZero()) dir = c.fur_direction.normal();
    return !dir.isZero();
}

bool KorvoDagPath::closestPoint(const KorvoPoint& p, KorvoPoint& out) const {
    if (!curve_) return false;
    if (curve_->nurbs) return nurbs_closest(*curve_, p, out);
    if (curve_->mesh) return mesh_closest(*curve_->mesh, p, out);
    return false;
}

// --- The registry ----------------------------------------------------------------------------

int korvo_curve_register(const char* name, const KorvoCurveDesc& desc) {
    if (!name || !*name || !desc.curve.valid()) return 0;
    auto c = std::make_shared<KorvoRegisteredCurve>();
    c->name = name;
    c->curve = desc.curve;
    c->direction = desc.direction;
    c->u = desc.u;
    c->v = desc.v;
    c->use_start_position = desc.use_start_position;
    c->fur_direction = desc.fur_direction;
    if (desc.nurbs) {
        c->nurbs = std::make_unique<kivNurbSurface>(*desc.nurbs);
        build_grid(*c);
    } else if (desc.mesh) {
        c->mesh = copy_mesh(*desc.mesh);
        if (!c->mesh) return 0;
    }
    std::size_t index = 0;
    if (find_entry(name, &index))
        g_curves[index] = std::move(c);
    else
        g_curves.push_back(std::move(c));
    return 1;
}

int korvo_curve_unregister(const char* name) {
    std::size_t index = 0;
    if (!name || !find_entry(name, &index)) return 0;
    g_curves.erase(g_curves.begin() + static_cast<std::ptrdiff_t>(index));
    return 1;
}

KorvoDagPath korvo_curve_find(const char* name) {
    std::size_t index = 0;
    if (!name || !find_entry(name, &index)) return KorvoDagPath();
    return KorvoDagPath(g_curves[index]);
}

void korvo_curve_registry_clear() {
    g_curves.clear();
}
