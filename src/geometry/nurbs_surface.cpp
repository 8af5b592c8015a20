#include "geometry/nurbs_surface.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "foundation/fur_exception.h"

namespace {

// --- Allocation ----------------------------------------------------------------

// n cleared entries, or null when n is negative, too large or memory runs out.
template <typename T>
T* new_array(long long n) {
    if (n < 0 || n > INT_MAX) return nullptr;
    return new (std::nothrow) T[static_cast<std::size_t>(n)]();
}

// Scratch memory of n cleared entries, freed on scope exit; null as above.
template <typename T>
std::unique_ptr<T[]> scratch(long long n) {
    return std::unique_ptr<T[]>(new_array<T>(n));
}

[[noreturn]] void allocation_failed() {
    furFail("Memory allocation failed", "FATAL: Memory allocation failed\n");
}

// --- B-spline basis ------------------------------------------------------------
// Knots T, n + 1 control points, order k. A span i is the knot interval
// [T[i], T[i + 1]) that holds the parameter; the k basis functions that do
// not vanish there belong to control points i - k + 1 ... i.

// Span of t: n at and beyond the end of the domain, else the largest m <= n
// with T[m] <= t (0 when there is none).
int find_span(const float* T, int n, int k, float t) {
    if (t == T[n + 1]) return n;
    if (T[n + k] <= t) return n;
    if (std::isnan(t)) return 0;
    const int m = static_cast<int>(std::upper_bound(T, T + n + 1, t) - T) - 1;
    return m < 0 ? 0 : m;
}

// Cox-de Boor: N[j] becomes the weight of control point i - j (j < k).
// A knot interval of length up to 1e-5 counts as ratio 1.
void basis(const float* T, int i, int k, float t, float* N) {
    N[0] = 1.0f;
    for (int r = 0; r <= k - 2; ++r) {
        N[r + 1] = 0.0f;
        for (int j = r; j >= 0; --j) {
            const int lo = i - j;
            const int hi = i - j + r + 1;
            float alpha;
            if (lo < 0) {
                alpha = 0.0f;
            } else {
                const float d = T[hi] - T[lo];
                alpha = std::fabs(d) <= 1e-5f ? 1.0f : (t - T[lo]) / d;
            }
            N[j + 1] += (1.0f - alpha) * N[j];
            N[j] *= alpha;
        }
    }
}

// Derivatives of the order-k basis functions of span i, times the span's
// length: from the order k - 1 basis, each function gives
// (k - 1) / (T[p + k - 1] - T[p]) of itself to control point p and takes
// the same from p - 1.
void basis_derivs(const float* T, int i, int k, float t, float* dN) {
    if (k < 2) {
        dN[0] = 0.0f;
        return;
    }
    basis(T, i, k - 1, t, dN);
    dN[k - 1] = 0.0f;
    const float s = T[i + 1] - T[i];
    for (int j = k - 2; j >= 0; --j) {
        const int lo = i - j;
        float c = 0.0f;
        if (lo >= 0) {
            const float d = T[lo + k - 1] - T[lo];
            if (d != 0.0f) c = static_cast<float>(k - 1) * s / d;
        }
        const float f = dN[j];
        dN[j] = c * f;
        dN[j + 1] -= c * f;
    }
}

struct Sum4 {
    float x = 0.0f, y = 0.0f, z = 0.0f, w = 0.0f;
    void add(float s, const kivPoint4& p) {
        x += s * p.x;
        y += s * p.y;
        z += s * p.z;
        w += s * p.w;
    }
    void add(float s, const Sum4& p) {
        x += s * p.x;
        y += s * p.y;
        z += s * p.z;
        w += s * p.w;
    }
};

// Derivative of the projection of the homogeneous sum Q along dQ.
kivVector rational_derivative(const Sum4& Q, const Sum4& dQ) {
    const float inv = 1.0f / (Q.w * Q.w);
    return kivVector((dQ.x * Q.w - dQ.w * Q.x) * inv, (dQ.y * Q.w - dQ.w * Q.y) * inv,
                     (dQ.z * Q.w - dQ.w * Q.z) * inv);
}

// Unit D[0] x D[1], or zero when it is shorter than 1e-5.
kivVector unit_normal(const kivVector* D) {
    kivVector n = D[0] ^ D[1];
    if (n.length() == 0.0f) return kivVector();
    n.norm();
    return n;
}

// Running minimum (unset until the first value), maximum (from 0) and sum.
struct Stat {
    bool set = false;
    float min = 0.0f, max = 0.0f;
    double sum = 0.0;
    void add(float v) {
        if (!set || v < min) min = v;
        set = true;
        if (v > max) max = v;
        sum += v;
    }
    void print(FILE* f, const char* what, long count) const {
        std::fprintf(f, "of %ld %s: min = %f, max = %f, avg = %f\n", count, what, min, max,
                     static_cast<float>(sum / static_cast<double>(count)));
    }
};

}  // namespace

// --- Construction ----------------------------------------------------------------

kivNurbSurface::kivNurbSurface(long nu, long nv, long ku, long kv)
    : nb_uverts(static_cast<std::int32_t>(nu)),
      nb_vverts(static_cast<std::int32_t>(nv)),
      uorder(static_cast<std::int32_t>(ku)),
      vorder(static_cast<std::int32_t>(kv)) {
    uknots_size_ = static_cast<long long>(nu) + ku;
    vknots_size_ = static_cast<long long>(nv) + kv;
    const bool counts_ok = nu >= 0 && nv >= 0 && nu <= INT_MAX && nv <= INT_MAX;
    cvs_size_ = counts_ok ? static_cast<long long>(nu) * nv : -1;
    if (!allocate_arrays()) allocation_failed();
}

bool kivNurbSurface::allocate_arrays() {
    uknots_owner_ = shared_array<float>(uknots_size_);
    vknots_owner_ = shared_array<float>(vknots_size_);
    cvs_owner_ = shared_array<kivPoint4>(cvs_size_);
    if (!uknots_owner_ || !vknots_owner_ || !cvs_owner_) {
        uknots_owner_.reset(), vknots_owner_.reset(), cvs_owner_.reset();
    }
    uknots = uknots_owner_.get();
    vknots = vknots_owner_.get();
    cvs = cvs_owner_.get();
    return cvs != nullptr;
}

kivNurbSurface::kivNurbSurface(const kivNurbSurface& other)
    : nb_uverts(other.nb_uverts),
      nb_vverts(other.nb_vverts),
      prim_visibility(other.prim_visibility),
      casts_shadows(other.casts_shadows),
      visibility(other.visibility),
      uorder(other.uorder),
      vorder(other.vorder),
      utess(other.utess),
      vtess(other.vtess),
      uclosed(other.uclosed),
      vclosed(other.vclosed),
      uknots_size_(other.uknots_size_),
      vknots_size_(other.vknots_size_),
      cvs_size_(other.cvs_size_) {
    std::memcpy(ref_equal_map, other.ref_equal_map, sizeof ref_equal_map);
    for (int i = 0; i < 4; ++i) surf_samples[i] = other.surf_samples[i];
    // Own arrays with the same contents.
    bool ok = true;
    if (other.uknots) ok = ok && (uknots_owner_ = shared_array<float>(uknots_size_));
    if (other.vknots) ok = ok && (vknots_owner_ = shared_array<float>(vknots_size_));
    if (other.cvs) ok = ok && (cvs_owner_ = shared_array<kivPoint4>(cvs_size_));
    if (!ok) allocation_failed();
    uknots = uknots_owner_.get();
    vknots = vknots_owner_.get();
    cvs = cvs_owner_.get();
    if (uknots) std::copy(other.uknots, other.uknots + uknots_size_, uknots);
    if (vknots) std::copy(other.vknots, other.vknots + vknots_size_, vknots);
    if (cvs) std::copy(other.cvs, other.cvs + cvs_size_, cvs);
}

// --- Set-up ----------------------------------------------------------------------

int kivNurbSurface::alloc_lists() {
    if (nb_uverts < 4 || nb_vverts < 4 || uorder < 1 || vorder < 1) return 0;
    const long long ncv = static_cast<long long>(nb_uverts) * nb_vverts;
    const long long nuk = static_cast<long long>(nb_uverts) + uorder;
    const long long nvk = static_cast<long long>(nb_vverts) + vorder;
    std::shared_ptr<kivPoint4> new_cvs = shared_array<kivPoint4>(ncv);
    std::shared_ptr<float> new_uknots = shared_array<float>(nuk);
    std::shared_ptr<float> new_vknots = shared_array<float>(nvk);
    if (!new_cvs || !new_uknots || !new_vknots) return 0;
    cvs_owner_ = new_cvs;
    uknots_owner_ = new_uknots;
    vknots_owner_ = new_vknots;
    cvs = new_cvs.get();
    uknots = new_uknots.get();
    vknots = new_vknots.get();
    cvs_size_ = ncv;
    uknots_size_ = nuk;
    vknots_size_ = nvk;
    return 1;
}

int kivNurbSurface::set_vert(int i, const kivPoint4& p) {
    if (!cvs || i < 0 || i >= cvs_size_ || i >= static_cast<long long>(nb_uverts) * nb_vverts) {
        return 0;
    }
    kivPoint4 q = p;
    if (q.w != 1.0f) {
        q.x *= q.w;
        q.y *= q.w;
        q.z *= q.w;
    }
    cvs[i] = q;
    return 1;
}

kivPoint4* kivNurbSurface::points_lookup(long i, long j) {
    if (!cvs || i < 0 || j < 0 || i >= nb_uverts || j >= nb_vverts) return nullptr;
    const long long k = static_cast<long long>(nb_uverts) * j + i;
    return k < cvs_size_ ? cvs + k : nullptr;
}

int kivNurbSurface::set_uknots(int n, const float* k) {
    if (!uknots || !k || n != get_nb_uknots() || n > uknots_size_) return 0;
    std::copy(k, k + n, uknots);
    return 1;
}

int kivNurbSurface::set_vknots(int n, const float* k) {
    if (!vknots || !k || n != get_nb_vknots() || n > vknots_size_) return 0;
    std::copy(k, k + n, vknots);
    return 1;
}

void kivNurbSurface::set_tess_steps(long f) {
    utess = static_cast<std::int32_t>((nb_uverts - uorder + 1) * f);
    vtess = static_cast<std::int32_t>((nb_vverts - vorder + 1) * f);
}

void kivNurbSurface::get_domain(float& ustart, float& ulen, float& vstart, float& vlen) const {
    ustart = ulen = vstart = vlen = 0.0f;
    if (uknots && uorder >= 1 && nb_uverts >= 0 && uorder - 1 < uknots_size_ &&
        nb_uverts < uknots_size_) {
        ustart = uknots[uorder - 1];
        ulen = uknots[nb_uverts] - ustart;
    }
    if (vknots && vorder >= 1 && nb_vverts >= 0 && vorder - 1 < vknots_size_ &&
        nb_vverts < vknots_size_) {
        vstart = vknots[vorder - 1];
        vlen = vknots[nb_vverts] - vstart;
    }
}

void kivNurbSurface::xform(const kivMatrix& M) {
    for (long long i = 0; cvs && i < cvs_size_; ++i) cvs[i] *= M;
}

// --- Evaluation --------------------------------------------------------------------

bool kivNurbSurface::evaluable() const {
    return cvs && uknots && vknots && uorder >= 1 && vorder >= 1 && uorder <= nb_uverts &&
           vorder <= nb_vverts && uorder <= kMaxNurbOrder && vorder <= kMaxNurbOrder &&
           static_cast<long long>(nb_uverts) * nb_vverts <= cvs_size_ &&
           static_cast<long long>(nb_uverts) + uorder <= uknots_size_ &&
           static_cast<long long>(nb_vverts) + vorder <= vknots_size_;
}

void kivNurbSurface::calc_point(float u, float v, kivPoint* P, kivVector* D) const {
    if (!evaluable()) {
        *P = kivPoint();
        if (D) D[0] = D[1] = kivVector();
        return;
    }
    // 1. Spans and basis weights along u and v.
    const int ku = uorder, kv = vorder;
    const int su = find_span(uknots, nb_uverts - 1, ku, u);
    const int sv = find_span(vknots, nb_vverts - 1, kv, v);
    float Nu[kMaxNurbOrder], Nv[kMaxNurbOrder], dNu[kMaxNurbOrder], dNv[kMaxNurbOrder];
    basis(uknots, su, ku, u, Nu);
    basis(vknots, sv, kv, v, Nv);
    if (D) {
        basis_derivs(uknots, su, ku, u, dNu);
        basis_derivs(vknots, sv, kv, v, dNv);
    }

    // 2. Weighted sums of the premultiplied control points, row by row.
    Sum4 Q, Qu, Qv;
    for (int b = 0; b < kv; ++b) {
        const int j = sv - b;
        if (j < 0) continue;
        const kivPoint4* row = cvs + static_cast<long long>(nb_uverts) * j;
        Sum4 R, Ru;
        for (int a = 0; a < ku; ++a) {
            const int i = su - a;
            if (i < 0) continue;
            R.add(Nu[a], row[i]);
            if (D) Ru.add(dNu[a], row[i]);
        }
        Q.add(Nv[b], R);
        if (D) {
            Qu.add(Nv[b], Ru);
            Qv.add(dNv[b], R);
        }
    }

    // 3-4. Project, and differentiate the quotient.
    if (Q.w == 0.0f) {
        *P = kivPoint();
        if (D) D[0] = D[1] = kivVector();
        return;
    }
    *P = kivPoint(Q.x, Q.y, Q.z) / Q.w;
    if (D) {
        D[0] = rational_derivative(Q, Qu);
        D[1] = rational_derivative(Q, Qv);
    }
}

void kivNurbSurface::calc_posnrmdir(float s, float t, kivVector* out) const {
    float ustart, ulen, vstart, vlen;
    get_domain(ustart, ulen, vstart, vlen);
    kivPoint P;
    kivVector D[2];
    calc_point(ustart + s * ulen, vstart + t * vlen, &P, D);
    out[0] = P;
    out[1] = unit_normal(D);
    out[2] = D[1];
    out[2].norm();
    out[3] = D[0];
    out[3].norm();
}

kivPolygons* kivNurbSurface::tess_uniform(kivPolygons* p) const {
    if (!evaluable() || utess < 1 || vtess < 1) return nullptr;
    const long long nverts = (static_cast<long long>(utess) + 1) * (vtess + 1);
    const long long ntris = 2LL * utess * vtess;
    if (nverts > INT_MAX || ntris > INT_MAX) return nullptr;

    // 1-2. The mesh and its sizes.
    kivPolygons* mesh = p ? p : new (std::nothrow) kivPolygons;
    if (!mesh) return nullptr;
    const int nv = static_cast<int>(nverts);
    if (!mesh->set_nb_verts(nv) || !mesh->set_nb_norms(nv) || !mesh->set_nb_texs(nv) ||
        !mesh->set_nb_polys(static_cast<int>(ntris))) {
        if (!p) delete mesh;
        return nullptr;
    }

    // 3. Points, normals and texture coordinates, row by row.
    float ustart, ulen, vstart, vlen;
    get_domain(ustart, ulen, vstart, vlen);
    const int row = utess + 1;
    for (int j = 0; j <= vtess; ++j) {
        const float tv = static_cast<float>(j) / static_cast<float>(vtess);
        for (int i = 0; i <= utess; ++i) {
            const float tu = static_cast<float>(i) / static_cast<float>(utess);
            kivPoint P;
            kivVector D[2];
            calc_point(tu * ulen + ustart, tv * vlen + vstart, &P, D);
            const int k = j * row + i;
            mesh->verts[k] = P;
            mesh->norms[k] = unit_normal(D);
            mesh->texs[k] = kivPoint(tu, tv, 0.0f);
        }
    }

    // 4. Two triangles per cell, sharing vertex, normal and texture indices.
    int t = 0;
    for (int j = 0; j < vtess; ++j) {
        for (int i = 0; i < utess; ++i) {
            const int b = j * row + i;
            const int tri[2][3] = {{b, b + 1, b + row}, {b + 1, b + row + 1, b + row}};
            for (const auto& c : tri) {
                kivPoly& poly = mesh->polys[t++];
                poly.nb_verts = 3;
                for (int k = 0; k < 3; ++k) poly.verts[k] = poly.norms[k] = poly.texs[k] = c[k];
                poly.verts[3] = poly.norms[3] = poly.texs[3] = 0;
            }
        }
    }
    return mesh;
}

// --- Areas -------------------------------------------------------------------------
// Area work samples the surface on a grid of one point per control point
// in each direction (one per span plus one on a closed direction), evenly
// spread over the domain.

void kivNurbSurface::sample_counts(int& nu, int& nv) const {
    nu = uclosed ? nb_uverts - uorder + 2 : nb_uverts;
    nv = vclosed ? nb_vverts - vorder + 2 : nb_vverts;
}

void kivNurbSurface::sample_grid(int nu, int nv, kivPoint* pts) const {
    float ustart, ulen, vstart, vlen;
    get_domain(ustart, ulen, vstart, vlen);
    for (int j = 0; j < nv; ++j) {
        const float v = vstart + static_cast<float>(j) / static_cast<float>(nv - 1) * vlen;
        for (int i = 0; i < nu; ++i) {
            const float u = ustart + static_cast<float>(i) / static_cast<float>(nu - 1) * ulen;
            calc_point(u, v, &pts[j * nu + i], nullptr);
        }
    }
}

float kivNurbSurface::cell_area(const kivPoint* pts, int nu, int i, int j) {
    const kivPoint* s = pts + j * nu + i;
    return kivPolygons::getQuadArea(s[0], s[1], s[nu + 1], s[nu]);
}

int kivNurbSurface::get_area(float& total, float& smallest, float& largest) const {
    int nu, nv;
    sample_counts(nu, nv);
    if (!evaluable() || nu < 2 || nv < 2) return 0;
    const auto pts = scratch<kivPoint>(static_cast<long long>(nu) * nv);
    if (!pts) return 0;
    sample_grid(nu, nv, pts.get());
    total = 0.0f;
    largest = 0.0f;
    bool first = true;
    for (int j = 0; j + 1 < nv; ++j) {
        for (int i = 0; i + 1 < nu; ++i) {
            const float a = cell_area(pts.get(), nu, i, j);
            total += a;
            if (first || a < smallest) smallest = a;
            first = false;
            if (a > largest) largest = a;
        }
    }
    return 1;
}

int kivNurbSurface::fill_area_map(float, float, float, int width, int height, int stride,
                                  int* map) const {
    int nu, nv;
    sample_counts(nu, nv);
    if (!evaluable() || nu < 2 || nv < 2 || !map || width < 1 || height < 1) return 0;
    const long long ns = static_cast<long long>(nu) * nv;
    const auto pts = scratch<kivPoint>(ns);
    const auto values = scratch<float>(ns);
    const auto level = scratch<int>(ns);
    const auto px = scratch<int>(nu);
    const auto py = scratch<int>(nv);
    const auto cells = scratch<float>(static_cast<long long>(nu - 1) * (nv - 1));
    if (!pts || !values || !level || !px || !py || !cells) return 0;

    // 1. Sample positions and their pixels.
    sample_grid(nu, nv, pts.get());
    for (int i = 0; i < nu; ++i) {
        px[i] = static_cast<int>(static_cast<double>(width - 1) * i / (nu - 1) + 0.5);
    }
    for (int j = 0; j < nv; ++j) {
        py[j] = static_cast<int>(static_cast<double>(height - 1) * j / (nv - 1) + 0.5);
    }

    // 2-3. Mean area of the cells around each sample, as a level.
    for (int j = 0; j + 1 < nv; ++j) {
        for (int i = 0; i + 1 < nu; ++i) cells[j * (nu - 1) + i] = cell_area(pts.get(), nu, i, j);
    }
    float largest = -1.0f;
    for (int j = 0; j < nv; ++j) {
        for (int i = 0; i < nu; ++i) {
            float sum = 0.0f;
            int n = 0;
            for (int cj = j - 1; cj <= j; ++cj) {
                for (int ci = i - 1; ci <= i; ++ci) {
                    if (ci < 0 || cj < 0 || ci >= nu - 1 || cj >= nv - 1) continue;
                    sum += cells[cj * (nu - 1) + ci];
                    ++n;
                }
            }
            values[j * nu + i] = sum / static_cast<float>(n);
            if (values[j * nu + i] > largest) largest = values[j * nu + i];
        }
    }
    for (long long s = 0; s < ns; ++s) {
        level[s] = area_map_level(largest > 0.0f ? values[s] / largest : 0.0);
    }

    // 4. Fill each cell by interpolating the levels of its corners.
    for (int j = 0; j + 1 < nv; ++j) {
        const int dy = py[j + 1] - py[j];
        const int rows = j + 2 == nv ? dy : dy - 1;
        for (int i = 0; i + 1 < nu; ++i) {
            const int dx = px[i + 1] - px[i];
            const int cols = i + 2 == nu ? dx : dx - 1;
            const int s00 = level[j * nu + i], s10 = level[j * nu + i + 1];
            const int s01 = level[(j + 1) * nu + i], s11 = level[(j + 1) * nu + i + 1];
            for (int r = 0; r <= rows; ++r) {
                const int l = dy > 0 ? s00 + (s01 - s00) * r / dy : s00;
                const int q = dy > 0 ? s10 + (s11 - s10) * r / dy : s10;
                int* out = map + static_cast<long long>(py[j] + r) * stride + px[i];
                for (int c = 0; c <= cols; ++c) out[c] = dx > 0 ? l + c * (q - l) / dx : l;
            }
        }
    }
    return 1;
}

int kivNurbSurface::print_area_info(FILE* stream) const {
    if (!evaluable() || utess < 1 || vtess < 1 || !stream) return 0;
    const int row = utess + 1;
    const long long n = static_cast<long long>(row) * (vtess + 1);
    const auto pts = scratch<kivPoint>(n);
    if (!pts) return 0;

    // The tessellation points (texture coordinates follow from the indices).
    float ustart, ulen, vstart, vlen;
    get_domain(ustart, ulen, vstart, vlen);
    for (int j = 0; j <= vtess; ++j) {
        const float tv = static_cast<float>(j) / static_cast<float>(vtess);
        for (int i = 0; i <= utess; ++i) {
            const float tu = static_cast<float>(i) / static_cast<float>(utess);
            calc_point(tu * ulen + ustart, tv * vlen + vstart, &pts[j * row + i], nullptr);
        }
    }
    auto tex_u = [this](int i) { return static_cast<float>(i) / static_cast<float>(utess); };
    auto tex_v = [this](int j) { return static_cast<float>(j) / static_cast<float>(vtess); };

    // Segments along u, row by row; each row is a u iso curve.
    Stat u_dist, u_uv, u_iso;
    for (int j = 0; j < vtess; ++j) {
        float length = 0.0f;
        for (int i = 0; i < utess; ++i) {
            const float d = pts[j * row + i].distance(pts[j * row + i + 1]);
            u_dist.add(d);
            u_uv.add(std::fabs(tex_u(i + 1) - tex_u(i)));
            length += d;
        }
        u_iso.add(length);
    }
    // Segments along v, column by column; each column is a v iso curve.
    Stat v_dist, v_uv, v_iso;
    for (int i = 0; i < utess; ++i) {
        float length = 0.0f;
        for (int j = 0; j < vtess; ++j) {
            const float d = pts[j * row + i].distance(pts[(j + 1) * row + i]);
            v_dist.add(d);
            v_uv.add(std::fabs(tex_v(j + 1) - tex_v(j)));
            length += d;
        }
        v_iso.add(length);
    }

    const long segments = static_cast<long>(utess) * vtess;
    u_dist.print(stream, "U tess segments (dist)", segments);
    u_uv.print(stream, "U tess segments (uv)", segments);
    v_dist.print(stream, "V tess segments (dist)", segments);
    v_uv.print(stream, "V tess segments (uv)", segments);
    u_iso.print(stream, "U iso curves", vtess);
    v_iso.print(stream, "V iso curves", utess);
    return 1;
}
