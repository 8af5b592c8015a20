#include "render/surface_shading.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "descriptions/assign_db.h"
#include "foundation/render_settings.h"
#include "geometry/model_database.h"
#include "render/camera.h"
#include "render/fragment_list.h"
#include "render/lighting.h"
#include "render/scan_convert.h"

namespace {

// The near plane, as for the geometry z-buffer.
constexpr float kNear = -1e-5f;
// Distance from the tangent plane, relative to the depth, below which two
// pieces of a model in one sample belong to one surface.
constexpr float kSameSurface = 1e-2f;
// The state of a sample while a band is shaded.
constexpr unsigned char kHidden = 1;  // the hair hides it: its colour becomes 0
constexpr unsigned char kLit = 2;     // lit for its surface in its pixel

// The least squared cosine between the normals of two samples of a pixel
// that share their lighting (about 25 degrees).
constexpr float kSameNormal = 0.82f;
// Columns ahead whose hair records are loaded while a row asks whether
// hair hides its samples.
constexpr int kAhead = 16;

// A projected surface vertex: camera-space position and normal.
using surf_vertex = scan::vertex<6>;

// A camera-space corner: position and normal.
struct corner {
    kivPoint p;
    kivVector n;
};

corner on_near_plane(const corner& v, const corner& w) {
    const float s = std::fabs((v.p.z - kNear) / (w.p.z - v.p.z));
    corner c{v.p + (w.p - v.p) * s, v.n + (w.n - v.n) * s};
    c.p.z = kNear;
    return c;
}

// Clips a polygon of n corners to the near plane; out needs room for 8.
int clip_near(int n, const corner* in, corner* out) {
    int m = 0;
    for (int i = 0; i < n; ++i) {
        if (in[i].p.z <= kNear) {
            out[m++] = in[i];
            continue;
        }
        const corner& prev = in[(i + n - 1) % n];
        const corner& next = in[(i + 1) % n];
        if (prev.p.z <= kNear) out[m++] = on_near_plane(in[i], prev);
        if (next.p.z <= kNear) out[m++] = on_near_plane(in[i], next);
    }
    return m;
}

// The models the surface layer draws: seen by the camera, not excluded.
bool drawn(const hair_model& m) {
    if (m.name == nullptr || assdb_get_exclude(m.name, 0)) return false;
    if (const kivPolygons* p = m.polygons()) return p->get_visibility() && p->get_prim_visibility();
    if (const kivNurbSurface* s = m.nurbs()) return s->get_visibility() && s->get_prim_visibility();
    return false;
}

}  // namespace

void surface_layer::clear() {
    lines_ = cols_ = first_row_ = held_rows_ = 0;
    points_.clear();
    points_.shrink_to_fit();
    model_.reset();
    rgb_.reset();
    samples_ = 0;
}

bool surface_layer::save_rows(std::FILE* f, int row0, int row1) const {
    if (f == nullptr || row0 < 0 || row1 > lines_ || row0 > row1 || held_rows_ != lines_)
        return false;
    const std::size_t first = static_cast<std::size_t>(row0) * cols_;
    const std::size_t n = static_cast<std::size_t>(row1 - row0) * cols_;
    return std::fwrite(model_.get() + first, sizeof(std::int32_t), n, f) == n &&
           std::fwrite(rgb_.get() + first * 3, sizeof(float), n * 3, f) == n * 3;
}

bool surface_layer::load_rows(std::FILE* f, int row0, int row1) {
    if (f == nullptr || row0 < 0 || row1 > lines_ || row0 > row1 || held_rows_ != lines_)
        return false;
    const std::size_t first = static_cast<std::size_t>(row0) * cols_;
    const std::size_t n = static_cast<std::size_t>(row1 - row0) * cols_;
    if (std::fread(model_.get() + first, sizeof(std::int32_t), n, f) != n ||
        std::fread(rgb_.get() + first * 3, sizeof(float), n * 3, f) != n * 3)
        return false;
    for (std::size_t i = first; i < first + n; ++i)
        if (model_[i] < 0) return false;
    return true;
}

// Whether a piece whose average point and normal are p[0 … 5] lies on the
// surface of the point kept so far: within a small distance of its
// tangent plane.
bool surface_layer::same_surface(const point& s, const float* p) {
    const float nn = std::sqrt(s.n[0] * s.n[0] + s.n[1] * s.n[1] + s.n[2] * s.n[2]);
    if (!(nn > 0.0f)) return false;
    const float off =
        ((p[0] - s.p[0]) * s.n[0] + (p[1] - s.p[1]) * s.n[1] + (p[2] - s.p[2]) * s.n[2]) / nn;
    return std::fabs(off) <= kSameSurface * s.depth;
}

// Whether two samples' points lie on one surface of a model: b within
// kSameSurface × a's depth of a's tangent plane, and their normals within
// about 25 degrees (compared squared, without roots).
bool surface_layer::one_surface(const point& a, const point& b) {
    const float ab = a.n[0] * b.n[0] + a.n[1] * b.n[1] + a.n[2] * b.n[2];
    const float aa = a.n[0] * a.n[0] + a.n[1] * a.n[1] + a.n[2] * a.n[2];
    const float bb = b.n[0] * b.n[0] + b.n[1] * b.n[1] + b.n[2] * b.n[2];
    if (!(ab > 0.0f && ab * ab >= kSameNormal * aa * bb)) return false;
    const float off =
        (b.p[0] - a.p[0]) * a.n[0] + (b.p[1] - a.p[1]) * a.n[1] + (b.p[2] - a.p[2]) * a.n[2];
    const float most = kSameSurface * a.depth;
    return off * off <= most * most * aa;
}

// A triangle as the camera sees it: its corners in z-buffer samples with
// their camera-space positions and normals, the samples it may touch, and
// its model.
struct surface_layer::triangle {
    surf_vertex v[3];
    int box[4];  // lowest column and row, highest column and row
    std::int32_t model;
};

namespace {

// The triangles of a fan over the near-clipped camera-space polygon poly of
// n corners that land inside a window of cols x lines samples, handed to add.
template <class Triangle, class Add>
void project_polygon(const hair_camera& cam, int n, const corner* poly, std::int32_t model,
                     int cols, int lines, Add&& add) {
    const cam_window& w = cam.get_window();
    for (int k = 1; k + 1 < n; ++k) {
        const corner* tri[3] = {&poly[0], &poly[k], &poly[k + 1]};
        Triangle t;
        t.model = model;
        bool ok = true;
        for (int j = 0; j < 3 && ok; ++j) {
            float px = 0.0f, py = 0.0f;
            ok = cam.project(tri[j]->p, px, py);
            t.v[j] = {
                px - w.lowx,
                py - w.lowy,
                {tri[j]->p.x, tri[j]->p.y, tri[j]->p.z, tri[j]->n.x, tri[j]->n.y, tri[j]->n.z}};
            ok = ok && scan::finite_xy(t.v[j].x, t.v[j].y);
            const int bx = scan::pixel_floor(t.v[j].x), by = scan::pixel_floor(t.v[j].y);
            if (j == 0 || bx < t.box[0]) t.box[0] = bx;
            if (j == 0 || by < t.box[1]) t.box[1] = by;
            if (j == 0 || bx > t.box[2]) t.box[2] = bx;
            if (j == 0 || by > t.box[3]) t.box[3] = by;
        }
        if (!ok || t.box[2] < 0 || t.box[0] >= cols || t.box[3] < 0 || t.box[1] >= lines) continue;
        add(t);
    }
}

// The corners of a polygon in camera space, clipped to the near plane;
// 0 for a polygon wholly behind it. out needs room for 8.
int to_camera(const hair_camera& cam, int n, const kivPoint* pts, const kivVector* nrm,
              corner* out) {
    const kivMatrix& m = const_cast<hair_camera&>(cam).get_matrix();
    corner c[4];
    int behind = 0;
    for (int i = 0; i < n; ++i) {
        c[i].p = pts[i] * m;
        c[i].n = nrm[i] * m;
        if (c[i].p.z > kNear) ++behind;
    }
    if (behind == n) return 0;
    if (behind > 0) return clip_near(n, c, out);
    for (int i = 0; i < n; ++i) out[i] = c[i];
    return n;
}

}  // namespace

void surface_layer::draw_triangle(const triangle& t, int row0, int row1, point* band) {
    // Both windings: the chain split takes either.
    surf_vertex v[3] = {t.v[0], t.v[1], t.v[2]};
    int order[3];
    scan::sort_by_y(3, v, order);
    surf_vertex left[4], right[4];
    int nl = 0, nr = 0;
    if (!scan::split_chains(3, v, order, false, left, nl, right, nr)) return;

    // The rows of the band, within the render region. The scan conversion
    // works out every row on its own, so a band's rows come out as they
    // would in the whole grid.
    scan::limits lim = scan::limits::window(cols_, lines_);
    if (!lim.region_on) {
        lim.region_on = true;
        lim.region[0] = 0;
        lim.region[2] = cols_ - 1;
        lim.region[1] = row0;
        lim.region[3] = row1 - 1;
    } else {
        lim.region[1] = std::max(lim.region[1], row0);
        lim.region[3] = std::min(lim.region[3], row1 - 1);
    }

    // Each touched sample keeps the nearest surface point; pieces of one
    // surface at the same depth (polygons meeting inside a sample) are
    // averaged by their areas, which puts the point back at the centre.
    std::int32_t* const models = model_.get();
    const int cols = cols_, held0 = first_row_;
    const std::int32_t model = t.model + 1;  // as stored
    scan::fill<6>(
        t.box, nl, left, nr, right, lim, 6,
        [band, models, cols, model, row0, held0](int col, int row, float coverage, const float* p) {
            if (!(p[2] <= kNear)) return;
            const float d = std::sqrt(p[0] * p[0] + p[1] * p[1] + p[2] * p[2]);
            const std::size_t i = static_cast<std::size_t>(row - held0) * cols + col;
            point& s = band[static_cast<std::size_t>(row - row0) * cols + col];
            if (models[i] == model && same_surface(s, p)) {
                const float total = s.coverage + coverage;
                if (!(total > 0.0f)) return;
                const float w0 = s.coverage / total, w1 = coverage / total;
                for (int k = 0; k < 3; ++k) {
                    s.p[k] = s.p[k] * w0 + p[k] * w1;
                    s.n[k] = s.n[k] * w0 + p[3 + k] * w1;
                }
                s.depth = std::min(s.depth, d);
                s.coverage = total;
                return;
            }
            if (models[i] != 0 && !(d < s.depth)) return;
            s = {d, coverage, {p[0], p[1], p[2]}, {p[3], p[4], p[5]}};
            models[i] = model;
        });
}
surface_layer::model_table surface_layer::tables(int which,
                                                 const std::vector<surface_color>& colors) {
    model_table t;
    const int count = mdldb_capacity(which);
    t.lights = lgtdb_count();
    t.colors.assign(count, kivColor(kDefaultGrey, kDefaultGrey, kDefaultGrey, 1));
    t.linked.assign(static_cast<std::size_t>(count) * t.lights, 0);
    t.root_scales.assign(count, 1.0f);
    for (int i = 0; i < count; ++i) {
        const hair_model* m = mdldb_get_index(i, which);
        if (m == nullptr || !drawn(*m)) continue;
        const char* name = m->name_text();
        for (const surface_color& c : colors)
            if (c.model == name) t.colors[i] = c.color;
        for (int l = 0; l < t.lights; ++l) {
            const hair_light* light = lgtdb_get_index(l, which);
            for (int k = 0; light != nullptr && k < light->link_count; ++k) {
                if (light->links[k] == nullptr) break;
                if (std::strcmp(light->links[k]->name, name) == 0) ++t.linked[i * t.lights + l];
            }
        }
        t.root_scales[i] = m->root_scale;
    }
    return t;
}

void surface_layer::project_models(const hair_camera& cam, int which, std::size_t cap,
                                   std::vector<triangle>& tris) {
    // Past cap triangles the whole grid of points costs less than the list.
    auto add = [&](const triangle& t) {
        if (whole_) return draw_triangle(t, 0, lines_, points_.data());
        tris.push_back(t);
        if (tris.size() <= cap) return;
        whole_ = true;
        if (held_rows_ < lines_) hold_rows(0, lines_);
        points_.assign(static_cast<std::size_t>(lines_) * cols_, point{});
        for (const triangle& u : tris) draw_triangle(u, 0, lines_, points_.data());
        std::vector<triangle>().swap(tris);
    };
    const int count = mdldb_capacity(which);
    for (int i = 0; i < count; ++i) {
        hair_model* m = mdldb_get_index(i, which);
        if (m == nullptr || !drawn(*m)) continue;
        // The polygons: the mesh itself or a tessellation of the surface.
        std::unique_ptr<kivPolygons> tessellation;
        kivPolygons* mesh = m->polygons();
        if (mesh == nullptr) {
            tessellation.reset(mdldb_tessellate(m));
            mesh = tessellation.get();
        }
        if (mesh == nullptr) continue;
        kivPoint pts[4];
        kivVector nrm[4];
        corner poly[8];
        int nb = 0;
        const bool smooth = mesh->get_nb_norms() > 0;
        for (int p = 0; p < mesh->get_nb_polys(); ++p) {
            if (!mesh->get_poly(p, nb, pts, smooth ? nrm : nullptr, nullptr)) continue;
            // Without normals the facet's own.
            if (!smooth) {
                const kivVector facet = kivVector(pts[1] - pts[0]) ^ kivVector(pts[2] - pts[0]);
                for (int k = 0; k < nb; ++k) nrm[k] = facet;
            }
            const int n = to_camera(cam, nb, pts, nrm, poly);
            project_polygon<triangle>(cam, n, poly, i, cols_, lines_, add);
        }
    }
}

void surface_layer::hold_rows(int first, int rows) {
    const std::size_t samples = static_cast<std::size_t>(rows) * cols_;
    first_row_ = first;
    held_rows_ = rows;
    if (model_ != nullptr && samples <= samples_) {
        // A band after the first: its models start at none. Its colours are
        // all written by its shading before anything reads them.
        std::memset(model_.get(), 0, samples * sizeof(std::int32_t));
        return;
    }
    model_.reset();
    rgb_.reset();
    samples_ = 0;
    model_.reset(static_cast<std::int32_t*>(std::calloc(samples, sizeof(std::int32_t))));
    rgb_.reset(static_cast<float*>(std::calloc(samples * 3, sizeof(float))));
    if ((model_ == nullptr || rgb_ == nullptr) && samples > 0) throw std::bad_alloc();
    samples_ = samples;
    // The rows of the render region get their model pages written once
    // now: the scan conversion reads a sample before writing it, and a
    // page first read would be mapped twice. Other rows stay untouched.
    const scan::limits region = scan::limits::window(cols_, lines_);
    const int lo = std::max(region.row_lo(), first);
    const int hi = std::min(region.row_hi(), first + rows - 1);
    if (lo <= hi)
        std::memset(model_.get() + static_cast<std::size_t>(lo - first) * cols_, 0,
                    static_cast<std::size_t>(hi - lo + 1) * cols_ * sizeof(std::int32_t));
}

int surface_layer::build(const hair_camera& cam, int which,
                         const std::vector<surface_color>& colors, bool skip_hidden, int unit) {
    return build_bands(cam, which, colors, skip_hidden, std::max(unit, 1), nullptr);
}

int surface_layer::build_rows(const hair_camera& cam, int which,
                              const std::vector<surface_color>& colors, bool skip_hidden, int unit,
                              const std::function<bool(int, int)>& rows) {
    const int ok = build_bands(cam, which, colors, skip_hidden, std::max(unit, 1), &rows);
    // A band's blocks are kept for the next call (a process of --threads
    // shades its rows a few at a time), the whole grid's are not.
    if (whole_ || !ok)
        clear();
    else
        lines_ = cols_ = first_row_ = held_rows_ = 0;
    return ok;
}

int surface_layer::build_bands(const hair_camera& cam, int which,
                               const std::vector<surface_color>& colors, bool skip_hidden, int unit,
                               const std::function<bool(int, int)>* rows_done) {
    // The blocks a band held last time are used again.
    lines_ = cols_ = first_row_ = held_rows_ = 0;
    hair_zbuffer* zb = cam.zbuffer();
    if (zb == nullptr) return 0;
    hair_zbuffer* hiding = skip_hidden ? zb : nullptr;
    try {
        const model_table table = tables(which, colors);
        lines_ = zb->lines();
        cols_ = zb->cols();
        const std::size_t samples = static_cast<std::size_t>(lines_) * cols_;

        // Whole pixels' rows per band (a multiple of unit); no bands when
        // one would hold the grid.
        const std::size_t per_band = band_samples_ / static_cast<std::size_t>(std::max(cols_, 1));
        int rows = band_samples_ == 0 ? lines_
                                      : static_cast<int>(std::max<std::size_t>(
                                            1, std::min<std::size_t>(per_band, lines_)));
        rows = std::max(unit, rows / unit * unit);
        // No band longer than the render region's rows (whole pixels).
        const scan::limits lim = scan::limits::window(cols_, lines_);
        const int first = lim.row_lo() / unit * unit;
        const int end = std::min(lines_, (lim.row_hi() + unit) / unit * unit);
        if (rows_done != nullptr && end > first) rows = std::min(rows, end - first);
        whole_ = rows >= lines_;
        hold_rows(0, rows_done == nullptr || whole_ ? lines_ : rows);
        if (whole_) points_.assign(samples, point{});
        std::vector<triangle> tris;
        project_models(cam, which, samples * sizeof(point) / 2 / sizeof(triangle), tris);
        if (whole_) {
            // The render region's rows, from a whole pixel on.
            if (first < end) {
                shade(which, table, points_.data() + static_cast<std::size_t>(first) * cols_, first,
                      end, unit, hiding);
                if (rows_done != nullptr && !(*rows_done)(first, end)) return 0;
            }
        } else {
            // Each band of the render region's rows (from a whole pixel on):
            // its points from the triangles that reach it, in the order they
            // came, then its shading.
            points_.assign(static_cast<std::size_t>(rows) * cols_, point{});
            for (int row0 = first; row0 < end; row0 += rows) {
                const int row1 = std::min(row0 + rows, end);
                if (rows_done != nullptr) hold_rows(row0, row1 - row0);
                for (const triangle& t : tris)
                    if (t.box[1] < row1 && t.box[3] >= row0)
                        draw_triangle(t, row0, row1, points_.data());
                shade(which, table, points_.data(), row0, row1, unit, hiding);
                if (rows_done != nullptr && !(*rows_done)(row0, row1)) return 0;
            }
        }
    } catch (const std::bad_alloc&) {
        clear();
        return 0;
    }
    points_.clear();
    if (whole_) points_.shrink_to_fit();
    return 1;
}

void surface_layer::pick_lit(const point* band, int row0, int row1, int unit, hair_zbuffer* hiding,
                             std::vector<std::int32_t>& from,
                             std::vector<unsigned char>& state) const {
    const std::size_t cols = static_cast<std::size_t>(cols_);
    const std::int32_t* models = model_.get() + static_cast<std::size_t>(row0 - first_row_) * cols;
    const std::size_t n = static_cast<std::size_t>(row1 - row0) * cols;
    from.assign(n, -1);
    for (std::size_t i = 0; i < n; ++i)
        if (models[i] != 0) from[i] = static_cast<std::int32_t>(i);

    // A pixel's samples from its centre out (in row order at equal
    // distance); each joins the first one of its surface, whatever the hair
    // hides, so that the colours do not depend on the hair.
    if (unit > 1) {
        // Each position as its row and column in the pixel and its offset
        // in the band, sorted by distance from the centre.
        struct place {
            int row, col, away;
            std::size_t offset;
        };
        std::vector<place> order;
        for (int r = 0; r < unit; ++r) {
            for (int c = 0; c < unit; ++c) {
                const int dr = 2 * r - (unit - 1), dc = 2 * c - (unit - 1);
                order.push_back({r, c, dr * dr + dc * dc, static_cast<std::size_t>(r) * cols + c});
            }
        }
        std::stable_sort(order.begin(), order.end(),
                         [](const place& a, const place& b) { return a.away < b.away; });
        std::vector<std::int32_t> first;
        for (int pr = row0; pr < row1; pr += unit) {
            const std::size_t line = static_cast<std::size_t>(pr - row0) * cols;
            for (int pc = 0; pc < cols_; pc += unit) {
                first.clear();
                for (const place& k : order) {
                    if (pr + k.row >= row1 || pc + k.col >= cols_) continue;
                    const std::size_t i = line + k.offset + static_cast<std::size_t>(pc);
                    if (from[i] < 0) continue;
                    for (const std::int32_t j : first) {
                        if (models[j] == models[i] && one_surface(band[j], band[i])) {
                            from[i] = j;
                            break;
                        }
                    }
                    if (from[i] == static_cast<std::int32_t>(i)) first.push_back(from[i]);
                }
            }
        }
    }

    // The first samples lit: those with a sample of their surface in view.
    // Once a surface is lit in a pixel, its other samples are not asked
    // whether the hair hides them: a hidden sample adds nothing to the
    // picture whatever its colour. Those asked and hidden before become 0.
    state.assign(n, 0);
    for (int row = row0; row < row1; ++row) {
        for (int x = 0; x < cols_; ++x) {
            const std::size_t i = static_cast<std::size_t>(row - row0) * cols + x;
            // Start loading the hair of a sample ahead that will be asked.
            const std::size_t ahead = i + kAhead;
            if (hiding != nullptr && x + kAhead < cols_ && from[ahead] >= 0 &&
                !(state[static_cast<std::size_t>(from[ahead])] & kLit))
                hiding->prefetch(row, x + kAhead);
            if (from[i] < 0) continue;
            unsigned char& first = state[static_cast<std::size_t>(from[i])];
            if (first & kLit) continue;
            if (hiding != nullptr && hiding->hides_geometry(row, x))
                state[i] |= kHidden;
            else
                first |= kLit;
        }
    }
}

void surface_layer::shade(int which, const model_table& t, const point* band, int row0, int row1,
                          int unit, hair_zbuffer* hiding) {
    // Whole pixels' rows of about a band's samples at a time, so that the
    // choice of the samples lit takes a band's room, not the grid's.
    const std::size_t cols = static_cast<std::size_t>(std::max(cols_, 1));
    const std::size_t most = band_samples_ != 0 ? band_samples_ : kBandSamples;
    const int chunk = std::max(unit, static_cast<int>(std::min<std::size_t>(
                                         most / cols, static_cast<std::size_t>(lines_))) /
                                         unit * unit);
    std::vector<std::int32_t> from;
    std::vector<unsigned char> state;
    for (int r0 = row0; r0 < row1; r0 += chunk) {
        const int r1 = std::min(row1, r0 + chunk);
        const point* rows = band + static_cast<std::size_t>(r0 - row0) * cols;
        pick_lit(rows, r0, r1, unit, hiding, from, state);
        shade_rows(which, t, rows, r0, r1, from, state);
    }
}

void surface_layer::shade_rows(int which, const model_table& t, const point* band, int row0,
                               int row1, const std::vector<std::int32_t>& from,
                               const std::vector<unsigned char>& state) {
    // One row at a time, light by light: the samples a light faces go to
    // it together, so that their shadow lookups are made side by side.
    // Each sample still adds its lights in their order.
    const std::size_t cols = static_cast<std::size_t>(cols_);
    std::vector<kivPoint> P(cols), bp(cols);
    std::vector<kivVector> N(cols), bn(cols);
    std::vector<kivColor> sum(cols);
    std::vector<float> scale(cols), facing(cols), times(cols), I(cols);
    std::vector<int> at(cols);
    for (int row = row0; row < row1; ++row) {
        const std::size_t first = static_cast<std::size_t>(row - first_row_) * cols;
        const std::size_t in_band = static_cast<std::size_t>(row - row0) * cols;
        const point* pts = band + in_band;
        const std::int32_t* models = model_.get() + first;
        for (std::size_t x = 0; x < cols; ++x) {
            if (models[x] == 0) continue;
            sum[x] = kivColor();
            // A sample that is not lit gets no light here: its normal is
            // zero, which gather_lit passes over.
            if (!(state[in_band + x] & kLit)) {
                N[x] = kivVector(0, 0, 0);
                continue;
            }
            const point& s = pts[x];
            P[x] = kivPoint(s.p[0], s.p[1], s.p[2]);
            // The normal towards the eye: a surface seen from behind shows that side.
            // A normal too short to turn into a unit one leaves the sample
            // unlit: it becomes zero, which gather_lit passes over.
            N[x] = kivVector(s.n[0], s.n[1], s.n[2]);
            if (N[x].norm() == 0.0f) N[x] = kivVector(0, 0, 0);
            if (N[x] * kivVector(P[x].x, P[x].y, P[x].z) > 0.0f) N[x] = -N[x];
        }
        for (int l = 0; l < t.lights; ++l) {
            const hair_light* light = lgtdb_get_index(l, which);
            const int n = gather_lit(*light, t, l, models, P.data(), N.data(), bp.data(), bn.data(),
                                     scale.data(), facing.data(), times.data(), at.data());
            light->lighting_many(n, bp.data(), bn.data(), scale.data(), 0.5f, I.data());
            for (int j = 0; j < n; ++j)
                if (I[j] > 0.0f) sum[at[j]] += light->color * (I[j] * facing[j] * times[j]);
        }
        for (std::size_t x = 0; x < cols; ++x) {
            if (models[x] == 0) continue;
            const kivColor& c = t.colors[models[x] - 1];
            float* rgb = &rgb_[(first + x) * 3];
            rgb[0] = sum[x].r * c.r;
            rgb[1] = sum[x].g * c.g;
            rgb[2] = sum[x].b * c.b;
        }
    }

    // The other samples of a surface in a pixel take the colour of its
    // first; then the hidden ones become 0.
    float* rgb = rgb_.get() + static_cast<std::size_t>(row0 - first_row_) * cols * 3;
    for (std::size_t i = 0; i < from.size(); ++i) {
        const std::int32_t j = from[i];
        if (j >= 0 && j != static_cast<std::int32_t>(i)) std::memcpy(&rgb[i * 3], &rgb[j * 3], 12);
    }
    for (std::size_t i = 0; i < from.size(); ++i)
        if (state[i] & kHidden) std::memset(&rgb[i * 3], 0, 12);
}

int surface_layer::gather_lit(const hair_light& light, const model_table& t, int l,
                              const std::int32_t* models, const kivPoint* P, const kivVector* N,
                              kivPoint* bp, kivVector* bn, float* scale, float* facing,
                              float* times, int* at) const {
    int n = 0;
    for (int x = 0; x < cols_; ++x) {
        const int m = models[x] - 1;
        if (m < 0 || N[x].sqrd_length() == 0.0f) continue;
        const int k = t.linked[static_cast<std::size_t>(m) * t.lights + l];
        if (k == 0) continue;
        // Only a light in front of the surface adds: test that before the
        // lighting and its shadow lookup.
        kivVector L = light.light_vector(P[x]);
        if (L.norm() == 0.0f) {
            light.lighting(P[x], N[x], 0.5f);  // for its message at the light itself
            continue;
        }
        const float f = N[x] * L;
        if (!(f > 0.0f)) continue;
        bp[n] = P[x];
        bn[n] = N[x];
        scale[n] = t.root_scales[m];
        facing[n] = f;
        times[n] = static_cast<float>(k);
        at[n++] = x;
    }
    return n;
}
