#include "geometry/polygon_mesh.h"

#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "foundation/polygon_clip.h"

namespace {

// Replaces array (and its owner) by n cleared entries; the former array
// lives on while another mesh shares it. Returns 1, or 0 (with a null
// array) when n is negative or the allocation fails.
template <typename T>
int reallocate(T*& array, std::shared_ptr<T>& owner, int n) {
    owner = shared_array<T>(n);
    array = owner.get();
    return array != nullptr;
}

// --- Convex polygon scan conversion -----------------------------------------
// Pixel centres lie at half-integers. The polygon is walked from its
// topmost vertex down a left and a right chain of edges; every live field
// is interpolated linearly along the edges at the scanline centre and then
// across the span at the pixel centre. pixel(x, y, v) is called for each
// covered pixel inside the window [x0, x1] x [y0, y1].

struct ScanWindow {
    int x0, y0, x1, y1;
};

// v = p1 + (p2 - p1) * (at - p1[axis]) / (p2[axis] - p1[axis]) on the
// masked fields, with the slope in dv.
void edge_start(const clip_vertex& p1, const clip_vertex& p2, int axis, double at, int mask,
                clip_vertex& v, clip_vertex& dv) {
    double d = p2.field(axis) - p1.field(axis);
    if (d == 0.0) d = 1.0;
    const double frac = at - p1.field(axis);
    for (int f = 0; f < CLIP_FIELD_COUNT; ++f) {
        if (!(mask & (1 << f))) continue;
        dv.field(f) = (p2.field(f) - p1.field(f)) / d;
        v.field(f) = p1.field(f) + dv.field(f) * frac;
    }
}

void step(clip_vertex& v, const clip_vertex& dv, int mask) {
    for (int f = 0; f < CLIP_FIELD_COUNT; ++f) {
        if (mask & (1 << f)) v.field(f) += dv.field(f);
    }
}

template <typename Pixel>
void scan_span(int y, const clip_vertex& l, const clip_vertex& r, const ScanWindow& win, int mask,
               Pixel& pixel) {
    const int span_mask = mask & ~CLIP_SX;
    int lx = static_cast<int>(std::ceil(l.sx - 0.5));
    if (lx < win.x0) lx = win.x0;
    const double right = r.sx - 0.5;
    int rx = static_cast<int>(std::floor(right));
    if (right == std::floor(right)) --rx;  // the right edge itself is not covered
    if (rx > win.x1) rx = win.x1;
    if (lx > rx) return;
    clip_vertex p{}, dp{};
    edge_start(l, r, CLIP_FIELD_SX, lx + 0.5, span_mask, p, dp);
    for (int x = lx; x <= rx; ++x) {
        pixel(x, y, p);
        step(p, dp, span_mask);
    }
}

template <typename Pixel>
void scan_convert(const clip_poly& poly, const ScanWindow& win, Pixel pixel) {
    const int n = poly.n;
    if (n < 3 || n > CLIP_MAX_VERTICES) return;
    int top = 0;
    for (int i = 1; i < n; ++i) {
        if (poly.v[i].sy < poly.v[top].sy) top = i;
    }
    const int mask = poly.mask & ~CLIP_SY;
    int li = top, ri = top, rem = n;
    int y = static_cast<int>(std::ceil(poly.v[top].sy - 0.5));
    int ly = y - 1, ry = y - 1;
    clip_vertex l{}, dl{}, r{}, dr{};
    while (rem > 0) {
        // Activate the next left and right edges once the scanline passes
        // the lower end of the current ones.
        while (ly <= y && rem > 0) {
            --rem;
            const int i = li == 0 ? n - 1 : li - 1;
            edge_start(poly.v[li], poly.v[i], CLIP_FIELD_SY, y + 0.5, mask, l, dl);
            ly = static_cast<int>(std::floor(poly.v[i].sy + 0.5));
            li = i;
        }
        while (ry <= y && rem > 0) {
            --rem;
            const int i = ri == n - 1 ? 0 : ri + 1;
            edge_start(poly.v[ri], poly.v[i], CLIP_FIELD_SY, y + 0.5, mask, r, dr);
            ry = static_cast<int>(std::floor(poly.v[i].sy + 0.5));
            ri = i;
        }
        // Scanlines until the end of the left or the right edge.
        while (y < ly && y < ry) {
            if (y >= win.y0 && y <= win.y1) {
                if (l.sx <= r.sx) {
                    scan_span(y, l, r, win, mask, pixel);
                } else {
                    scan_span(y, r, l, win, mask, pixel);
                }
            }
            ++y;
            step(l, dl, mask);
            step(r, dr, mask);
        }
    }
}

}  // namespace

int area_map_level(double x) {
    const double v = std::trunc(x * 243.0 + 0.5) + 12.0;
    if (!(v > 12.0)) return 12;  // also catches NaN
    if (v > 255.0) return 255;
    return static_cast<int>(v);
}

void copy_ref_equal_map(char* dst, const char* name) {
    if (!name) {
        dst[0] = '\0';
        return;
    }
    std::size_t len = std::strlen(name);
    if (len > kRefEqualMapSize - 1) len = kRefEqualMapSize - 1;
    std::memcpy(dst, name, len);
    dst[len] = '\0';
}

// --- Sizes and elements ------------------------------------------------------

int kivPolygons::set_nb_verts(int n) {
    nb_verts = n;
    return reallocate(verts, verts_owner_, n);
}
int kivPolygons::set_nb_norms(int n) {
    nb_norms = n;
    return reallocate(norms, norms_owner_, n);
}
int kivPolygons::set_nb_texs(int n) {
    nb_texs = n;
    return reallocate(texs, texs_owner_, n);
}
int kivPolygons::set_nb_polys(int n) {
    nb_polys = n;
    return reallocate(polys, polys_owner_, n);
}

int kivPolygons::set_vert(int i, const kivPoint& p) {
    if (!verts || i < 0 || i >= nb_verts) return 0;
    verts[i] = p;
    return 1;
}
int kivPolygons::set_norm(int i, const kivVector& n) {
    if (!norms || i < 0 || i >= nb_norms) return 0;
    norms[i] = n;
    return 1;
}
int kivPolygons::set_tex(int i, const kivPoint& t) {
    if (!texs || i < 0 || i >= nb_texs) return 0;
    texs[i] = t;
    return 1;
}
int kivPolygons::set_poly(int i, const kivPoly& p) {
    if (!polys || i < 0 || i >= nb_polys) return 0;
    polys[i] = p;
    return 1;
}

bool kivPolygons::poly_ok(const kivPoly& p, bool with_norms, bool with_texs) const {
    if (p.nb_verts < 3 || p.nb_verts > 4 || !verts) return false;
    if (with_norms && !norms) return false;
    if (with_texs && !texs) return false;
    for (int c = 0; c < p.nb_verts; ++c) {
        if (p.verts[c] < 0 || p.verts[c] >= nb_verts) return false;
        if (with_norms && (p.norms[c] < 0 || p.norms[c] >= nb_norms)) return false;
        if (with_texs && (p.texs[c] < 0 || p.texs[c] >= nb_texs)) return false;
    }
    return true;
}

int kivPolygons::get_poly(int i, int& nb, kivPoint* verts_out, kivVector* norms_out,
                          kivPoint* texs_out) const {
    if (!polys || i < 0 || i >= nb_polys) return 0;
    const kivPoly& p = polys[i];
    if (!poly_ok(p, norms_out != nullptr, texs_out != nullptr)) return 0;
    nb = p.nb_verts;
    for (int c = 0; c < nb; ++c) {
        verts_out[c] = verts[p.verts[c]];
        if (norms_out) norms_out[c] = norms[p.norms[c]];
        if (texs_out) texs_out[c] = texs[p.texs[c]];
    }
    return 1;
}

// --- Transformation ----------------------------------------------------------

void kivPolygons::xform(const kivMatrix& M) {
    for (int i = 0; verts && i < nb_verts; ++i) verts[i] = verts[i] * M;
    kivMatrix inv = M;
    inv.m[12] = inv.m[13] = inv.m[14] = 0.0f;
    inv.invert();
    const kivMatrix normal_matrix = inv.transpose();
    for (int i = 0; norms && i < nb_norms; ++i) norms[i] = norms[i] * normal_matrix;
}

// --- Areas -------------------------------------------------------------------

float kivPolygons::getTriArea(const kivPoint& a, const kivPoint& b, const kivPoint& c) {
    const kivVector cross = kivVector(a, b) ^ kivVector(a, c);
    return 0.5f * std::sqrt(cross.sqrd_length());
}

float kivPolygons::get2DTriArea(const kivPoint& a, const kivPoint& b, const kivPoint& c) {
    const double twice = (static_cast<double>(c.y) - a.y) * (static_cast<double>(b.x) - a.x) -
                         (static_cast<double>(b.y) - a.y) * (static_cast<double>(c.x) - a.x);
    return static_cast<float>(std::fabs(twice * 0.5));
}

float kivPolygons::getQuadArea(const kivPoint& a, const kivPoint& b, const kivPoint& c,
                               const kivPoint& d) {
    return getTriArea(a, b, c) + getTriArea(a, c, d);
}

int kivPolygons::get_area(float& area) const {
    area = 0.0f;
    for (int i = 0; polys && i < nb_polys; ++i) {
        const kivPoly& p = polys[i];
        if (!poly_ok(p, false, false)) continue;
        const kivPoint* v = verts;
        area += getTriArea(v[p.verts[0]], v[p.verts[1]], v[p.verts[2]]);
        if (p.nb_verts == 4) area += getTriArea(v[p.verts[0]], v[p.verts[2]], v[p.verts[3]]);
    }
    return 1;
}

float kivPolygons::get_uv_area() const {
    float area = 0.0f;
    for (int i = 0; polys && i < nb_polys; ++i) {
        const kivPoly& p = polys[i];
        if (!poly_ok(p, false, true)) continue;
        const kivPoint* t = texs;
        area += get2DTriArea(t[p.texs[0]], t[p.texs[1]], t[p.texs[2]]);
        if (p.nb_verts == 4) area += get2DTriArea(t[p.texs[0]], t[p.texs[2]], t[p.texs[3]]);
    }
    return area;
}

// --- Area map ----------------------------------------------------------------
// Each polygon's ratio of surface area to texture area is accumulated at
// its corner vertices and averaged per vertex; the vertex averages,
// relative to the largest, are interpolated over the polygons in texture
// space and quantised to 12 ... 255.

int kivPolygons::fill_area_map(int width, int height, int stride, int* map) const {
    if (!map || width < 1 || height < 1) return 1;

    // 1-2. Per-vertex counters and sums of the area ratios.
    const int nv = verts ? (nb_verts > 0 ? nb_verts : 0) : 0;
    const std::unique_ptr<int[]> counter(new (std::nothrow) int[std::size_t(nv) + 1]());
    const std::unique_ptr<float[]> sum(new (std::nothrow) float[std::size_t(nv) + 1]());
    if (!counter || !sum) return 0;
    for (int i = 0; polys && i < nb_polys; ++i) {
        const kivPoly& p = polys[i];
        if (!poly_ok(p, false, true)) continue;
        const kivPoint* v = verts;
        const kivPoint* t = texs;
        float a3 = getTriArea(v[p.verts[0]], v[p.verts[1]], v[p.verts[2]]);
        float at = getTriArea(t[p.texs[0]], t[p.texs[1]], t[p.texs[2]]);
        if (p.nb_verts == 4) {
            a3 += getTriArea(v[p.verts[0]], v[p.verts[2]], v[p.verts[3]]);
            at += getTriArea(t[p.texs[0]], t[p.texs[2]], t[p.texs[3]]);
        }
        if (!(at > 0.0f)) continue;
        if (at < 1e-5f) at = 1e-5f;
        const float ratio = a3 / at;
        for (int c = 0; c < p.nb_verts; ++c) {
            ++counter[p.verts[c]];
            sum[p.verts[c]] += ratio;
        }
    }

    // 3. Average per vertex; untouched vertices take the smallest average.
    float largest = 0.0f, smallest = 3.4028235e38f;
    for (int i = 0; i < nv; ++i) {
        if (counter[i] > 1) {
            sum[i] /= static_cast<float>(counter[i]);
            counter[i] = 1;
        }
        if (counter[i] > 0) {
            if (sum[i] > largest) largest = sum[i];
            if (sum[i] < smallest) smallest = sum[i];
        }
    }
    for (int i = 0; i < nv; ++i) {
        if (counter[i] == 0) sum[i] = smallest;
    }

    // 4. Clear the map.
    for (int r = 0; r < width; ++r) {
        std::memset(map + static_cast<std::size_t>(r) * stride, 0,
                    sizeof(int) * static_cast<std::size_t>(height));
    }

    // 5-6. Clip each polygon to the map and scan-convert its levels.
    const clip_box box = {0.0, static_cast<double>(width), 0.0, static_cast<double>(height), 0.0,
                          1.0};
    const ScanWindow win = {0, 0, width - 1, height - 1};
    auto put = [map, width](int px, int py, const clip_vertex& v) {
        map[static_cast<std::size_t>(width) * py + px] = area_map_level(v.x);
    };
    for (int i = 0; polys && i < nb_polys; ++i) {
        const kivPoly& p = polys[i];
        if (!poly_ok(p, false, true)) continue;
        clip_poly cp;
        cp.n = p.nb_verts;
        cp.mask = CLIP_SX | CLIP_SY | CLIP_SZ | CLIP_SW | CLIP_X;
        bool finite = true;
        for (int c = 0; c < p.nb_verts; ++c) {
            const kivPoint& t = texs[p.texs[c]];
            finite = finite && std::isfinite(t.x) && std::isfinite(t.y);
            clip_vertex& cv = cp.v[c];
            cv = clip_vertex{};
            cv.sx = static_cast<double>(width) * t.x;
            cv.sy = static_cast<double>(height) * t.y;
            cv.sz = 0.5;
            cv.sw = 1.0;
            cv.x = largest > 0.0f ? sum[p.verts[c]] / largest : 0.0;
        }
        if (!finite || clip_polygon(cp, box) == 0) continue;
        scan_convert(cp, win, put);
    }
    return 1;
}

// --- Output ------------------------------------------------------------------

void kivPolygons::write_groups(FILE* stream, bool dump_layout) const {
    const char* before = dump_layout ? "\n" : "";
    const char* after = dump_layout ? "" : "\n";
    std::fputs(before, stream);
    for (int i = 0; verts && i < nb_verts; ++i) {
        std::fprintf(stream, "v %f %f %f\n", verts[i].x, verts[i].y, verts[i].z);
    }
    std::fputs(after, stream);
    std::fputs(before, stream);
    for (int i = 0; norms && i < nb_norms; ++i) {
        std::fprintf(stream, "vn %f %f %f\n", norms[i].x, norms[i].y, norms[i].z);
    }
    std::fputs(after, stream);
    std::fputs(before, stream);
    for (int i = 0; texs && i < nb_texs; ++i) {
        std::fprintf(stream, "vt %f %f\n", texs[i].x, texs[i].y);
    }
    std::fputs(after, stream);
    std::fputs(before, stream);
    for (int i = 0; polys && i < nb_polys; ++i) {
        const kivPoly& p = polys[i];
        const int nb = p.nb_verts < 0 ? 0 : (p.nb_verts > 4 ? 4 : p.nb_verts);
        std::fputs("f ", stream);
        for (int c = 0; c < nb; ++c) {
            std::fprintf(stream, "%d/%d/%d ", p.verts[c] + 1, p.texs[c] + 1, p.norms[c] + 1);
        }
        std::fputs("\n", stream);
    }
}

void kivPolygons::write_obj(FILE* stream) const {
    if (stream) write_groups(stream, false);
}

void kivPolygons::dump() const {
    write_groups(stdout, true);
    std::fputs("}\n", stdout);
}

void kivPolygons::set_ref_equal_map(const char* name) {
    copy_ref_equal_map(ref_equal_map, name);
}
