#include "work_estimate.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "korvofur/korvofur.h"

namespace furrender {

namespace {

// The estimate being gathered: the lit points as a difference array over
// the rows (a hair adds its share per row at its first row and takes it off
// after its last), the covered samples by cell of kCell x kCell samples.
struct gathering {
    hair_camera* cam = nullptr;
    std::vector<double> points;  // lit points
    std::vector<double> area;    // covered samples by cell, row by row
    int cells_across = 0;
    int cells_down = 0;
    // One hair's projected points, grown to the longest hair seen.
    struct point {
        float x, y, width;
        double weight;
    };
    std::vector<point> hair;
};
gathering* g_gathering = nullptr;

// One hair in kSampled is placed, shaped and projected: the estimate is a
// share of the whole, and every hair shaped costs as much as in the real
// pass.
constexpr int kSampled = 8;

// A hair sample hidden by the geometry costs the rasteriser its visibility
// test only: it counts for this much of a visible one.
constexpr double kHidden = 0.25;

// The side of a cell of the area grid, in samples (a power of two).
constexpr int kCellShift = 5;
constexpr int kCell = 1 << kCellShift;

// Whether the geometry drawn so far hides p (camera space, at x, y in
// z-buffer samples): the rasteriser's test on the eye distance.
bool hidden(const hair_zbuffer* zb, const kivPoint& p, float x, float y) {
    if (zb == nullptr || !(x >= 0.0f && y >= 0.0f)) return false;
    float depth = 0.0f, coverage = 0.0f;
    zb->geometry_depth(static_cast<int>(y), static_cast<int>(x), depth, coverage);
    return coverage >= 1.0f && depth <= std::sqrt(p.x * p.x + p.y * p.y + p.z * p.z);
}

// Adds a piece of ribbon's samples to the cell under (x, y), if any.
void add_area(gathering& g, float x, float y, double samples) {
    if (!(x >= 0.0f && y >= 0.0f && x < static_cast<float>(g.cells_across << kCellShift) &&
          y < static_cast<float>(g.cells_down << kCellShift)))
        return;
    const int cx = static_cast<int>(x) >> kCellShift, cy = static_cast<int>(y) >> kCellShift;
    if (cx >= g.cells_across || cy >= g.cells_down) return;  // rounding at the edge
    g.area[static_cast<std::size_t>(cy) * g.cells_across + cx] += samples;
}

void project_hair(hair_camera* cam, control_hair* hair, hair_state* state) {
    gathering* g = g_gathering;
    if (g == nullptr || cam != g->cam || hair == nullptr || hair->points == nullptr) return;
    const hair_params* hp = state != nullptr ? state->params : nullptr;
    const hair_zbuffer* zb = cam->zbuffer();
    const float lowx = static_cast<float>(cam->get_window().lowx);
    const float low = static_cast<float>(cam->get_window().lowy);
    const float scale = cam->get_pixel_scale();
    // The whole hair first: one point behind the camera leaves it out.
    if (hair->count < 1) return;
    if (g->hair.size() < static_cast<std::size_t>(hair->count))
        g->hair.resize(static_cast<std::size_t>(hair->count));
    float y0 = 0.0f, y1 = 0.0f;
    double points = 0.0;
    for (int k = 0; k < hair->count; ++k) {
        kivPoint p = hair->points[k];
        if (hp != nullptr) p.post_mult(hp->matrix);
        p.post_mult(cam->get_matrix());
        float x = 0.0f, y = 0.0f;
        if (!cam->project(p, x, y) || !std::isfinite(x) || !std::isfinite(y)) return;
        gathering::point& q = g->hair[static_cast<std::size_t>(k)];
        q.x = x - lowx;
        q.y = y -= low;
        q.weight = hidden(zb, p, q.x, y) ? kHidden : 1.0;
        points += q.weight;
        // The ribbon's width in samples at this point.
        q.width =
            hair->vertices != nullptr ? std::fabs(hair->vertices[k].width) / -p.z * scale : 0.0f;
        y0 = k == 0 ? y : std::min(y0, y);
        y1 = k == 0 ? y : std::max(y1, y);
    }
    // Each segment's samples go to the cell under its middle.
    for (std::size_t k = 1; k < static_cast<std::size_t>(hair->count); ++k) {
        const gathering::point &a = g->hair[k - 1], &b = g->hair[k];
        const double dx = b.x - a.x, dy = b.y - a.y;
        const double len = std::sqrt(dx * dx + dy * dy);
        const double samples =
            (len * 0.5 * (a.width + b.width) + 1.0) * std::max(a.weight, b.weight);
        if (std::isfinite(samples)) add_area(*g, 0.5f * (a.x + b.x), 0.5f * (a.y + b.y), samples);
    }
    const int lines = static_cast<int>(g->points.size()) - 1;
    const int r0 = static_cast<int>(std::max(0.0f, std::floor(y0)));
    const int r1 = static_cast<int>(std::min(static_cast<float>(lines - 1), std::floor(y1)));
    if (r0 > r1) return;
    const double rows = r1 - r0 + 1;
    g->points[static_cast<std::size_t>(r0)] += points / rows;
    g->points[static_cast<std::size_t>(r1) + 1] -= points / rows;
}

// The cells' samples as work by row: a sample costs more the deeper the
// fragment lists it lands in, up to lists that are full (the insertion
// walks the list). depth is the cell's samples per sample of the cell.
std::vector<double> area_by_row(const gathering& g, int lines, int list_size) {
    std::vector<double> rows(static_cast<std::size_t>(lines), 0.0);
    const double deepest = list_size + 1.0;
    for (int cy = 0; cy < g.cells_down; ++cy) {
        const int r0 = cy << kCellShift, r1 = std::min(lines, r0 + kCell);
        double cost = 0.0;
        for (int cx = 0; cx < g.cells_across; ++cx) {
            const double a = g.area[static_cast<std::size_t>(cy) * g.cells_across + cx];
            const double depth = kSampled * a / (kCell * kCell);
            cost += a * (1.0 + std::min(depth, deepest));
        }
        for (int r = r0; r < r1; ++r) rows[static_cast<std::size_t>(r)] = cost / (r1 - r0);
    }
    return rows;
}

}  // namespace

std::vector<double> hair_work_by_row(hair_camera& cam) {
    const hair_zbuffer* zb = cam.zbuffer();
    if (zb == nullptr || zb->lines() < 1) return {};
    gathering g;
    g.cam = &cam;
    g.points.assign(static_cast<std::size_t>(zb->lines()) + 1, 0.0);
    g.cells_across = (zb->cols() + kCell - 1) >> kCellShift;
    g.cells_down = (zb->lines() + kCell - 1) >> kCellShift;
    g.area.assign(static_cast<std::size_t>(g.cells_across) * g.cells_down, 0.0);
    // The hair pass gives back each model's geometry after its hair unless
    // the frame is drawn in tiles; the real pass still needs it.
    const std::int32_t tiles[2] = {defs.tiles[0], defs.tiles[1]};
    defs.tiles[0] = 1;
    defs.tiles[1] = 2;
    g_gathering = &g;
    const mdldb_hair_sink before = mdldb_set_hair_sink(project_hair);
    const int sampling_before = mdldb_set_hair_sampling(kSampled);
    auto restore = [&] {
        mdldb_set_hair_sink(before);
        mdldb_set_hair_sampling(sampling_before);
        g_gathering = nullptr;
        defs.tiles[0] = tiles[0];
        defs.tiles[1] = tiles[1];
    };
    try {
        mdldb_hair(cam);
    } catch (...) {
        restore();
        throw;
    }
    restore();
    // The lighting of the points weighs kLit of the hair's work, the scan
    // conversion and insertion of the samples the rest, and kEven of the
    // whole is spread evenly over the rows (the resolve of empty pixels).
    // On the demo's eight equal bands the cells' samples by depth follow
    // the instructions within 0.07 G a band (of 0.4 to 3.4 G); the samples
    // alone missed by 0.38 G, the grass's wide shallow ribbons costing half
    // the ball's a sample. The lighting is about 1 of the demo's 15 G
    // instructions but reads the shadow map all over: kLit is fitted on its
    // two bands' processor times (0.07 left the first band 0.04 s longer).
    constexpr double kLit = 0.15;
    constexpr double kEven = 0.05;
    const std::vector<double> area = area_by_row(g, zb->lines(), zb->list_size());
    std::vector<double> points(area.size(), 0.0);
    double p = 0.0, total_p = 0.0, total_a = 0.0;
    for (std::size_t r = 0; r < points.size(); ++r) {
        total_p += points[r] = p += g.points[r];
        total_a += area[r];
    }
    std::vector<double> work(points.size(), 0.0);
    if (!(total_p > 0.0) || !(total_a > 0.0)) return work;
    const double even = kEven / static_cast<double>(work.size());
    for (std::size_t r = 0; r < work.size(); ++r)
        work[r] =
            even + (1.0 - kEven) * (kLit * points[r] / total_p + (1.0 - kLit) * area[r] / total_a);
    return work;
}

namespace {

// The hairs the assignments of model m ask for in this pass.
double model_hairs(const hair_model& m, bool shadow) {
    if (m.name == nullptr || m.type == MODEL_NULL || assdb_get_exclude(m.name, shadow ? 1 : 0))
        return 0.0;
    int n = 0;
    hair_params** list = nullptr;
    assdb_get_model_hair(m.name, &n, &list);
    double hairs = 0.0;
    for (int k = 0; k < n; ++k) {
        const hair_params* hp = list[k];
        if (hp == nullptr || !hp->visibility || !(shadow ? hp->casts_shadows : hp->prim_visibility))
            continue;
        const double h = assdb_get_density_mult(m.name, hp->name) * hp->density.eval_const();
        if (h > 0.0 && std::isfinite(h)) hairs += h;
    }
    return hairs;
}

// The rows (window-relative, unclamped) that the world points of model m
// span on cam's screen; false when one lies behind cam or m has none.
bool model_rows(hair_camera& cam, const hair_model& m, float& y0, float& y1) {
    const float low = static_cast<float>(cam.get_window().lowy);
    bool ok = true, any = false;
    auto add = [&](kivPoint p) {
        p.post_mult(cam.get_matrix());
        float x = 0.0f, y = 0.0f;
        if (!cam.project(p, x, y) || !std::isfinite(y)) {
            ok = false;
            return;
        }
        y -= low;
        y0 = any ? std::min(y0, y) : y;
        y1 = any ? std::max(y1, y) : y;
        any = true;
    };
    if (const kivPolygons* mesh = m.polygons()) {
        for (int i = 0; ok && i < mesh->get_nb_verts(); ++i) add(mesh->verts[i]);
    } else if (const kivNurbSurface* s = m.nurbs()) {
        const int n = s->nb_uverts * s->nb_vverts;
        for (int i = 0; ok && s->cvs != nullptr && i < n; ++i) {
            const kivPoint4& c = s->cvs[i];
            if (!(c.w != 0.0f)) ok = false;
            if (ok) add(kivPoint(c.x / c.w, c.y / c.w, c.z / c.w));
        }
    } else if (const hair_datapoints* d = m.datapoints()) {
        for (int i = 0; ok && d->positions != nullptr && i < d->count; ++i) add(d->positions[i]);
    }
    return ok && any;
}

}  // namespace

double hairs_asked(bool shadow) {
    double hairs = 0.0;
    for (int i = 0; i < mdldb_capacity(0); ++i)
        if (const hair_model* m = mdldb_get_index(i, 0)) hairs += model_hairs(*m, shadow);
    return hairs;
}

std::vector<double> hair_models_by_row(hair_camera& cam) {
    const hair_zbuffer* zb = cam.zbuffer();
    if (zb == nullptr || zb->lines() < 1) return {};
    const bool shadow = defs.shadows.shadow_pass != 0;
    const int lines = zb->lines();
    std::vector<double> diff(static_cast<std::size_t>(lines) + 1, 0.0);
    double total = 0.0;
    for (int i = 0; i < mdldb_capacity(0); ++i) {
        const hair_model* m = mdldb_get_index(i, 0);
        const double hairs = m != nullptr ? model_hairs(*m, shadow) : 0.0;
        if (!(hairs > 0.0)) continue;
        float y0 = 0.0f, y1 = static_cast<float>(lines - 1);
        if (!model_rows(cam, *m, y0, y1)) y0 = 0.0f, y1 = static_cast<float>(lines - 1);
        const int r0 = static_cast<int>(std::clamp(std::floor(y0), 0.0f, float(lines - 1)));
        const int r1 = static_cast<int>(std::clamp(std::floor(y1), 0.0f, float(lines - 1)));
        if (r0 > r1) continue;
        diff[static_cast<std::size_t>(r0)] += hairs / (r1 - r0 + 1);
        diff[static_cast<std::size_t>(r1) + 1] -= hairs / (r1 - r0 + 1);
        total += hairs;
    }
    if (!(total > 0.0)) return {};
    // Hairs differ in length and cost (the demo's ball hair against its
    // grass): most of the work is spread evenly (fitted on the demo's two
    // shadow bands, 0.226 / 0.184 s with equal rows, 0.207 / 0.204 s now).
    constexpr double kEven = 0.75;
    std::vector<double> work(static_cast<std::size_t>(lines), 0.0);
    double run = 0.0;
    for (std::size_t r = 0; r < work.size(); ++r)
        work[r] = kEven / lines + (1.0 - kEven) * (run += diff[r]) / total;
    return work;
}

std::vector<double> surface_work_by_row(const hair_camera& cam, int lines, int cols, int factor,
                                        const std::vector<surface_color>& colors) {
    const hair_zbuffer* zb = cam.zbuffer();
    if (zb == nullptr || factor < 1 || lines < 1 || cols < 1) return {};
    // A camera of one sample for kCoarse x kCoarse pixels, with its own
    // z-buffer.
    constexpr int kCoarse = 4;
    hair_camera coarse(cam);
    const std::int32_t saved = defs.subpixel_factor;
    defs.subpixel_factor = 1;
    int ok = 0;
    try {
        coarse.set_image_params((lines + kCoarse - 1) / kCoarse, (cols + kCoarse - 1) / kCoarse,
                                cam_window(), zcalc());
        ok = coarse.init_zbuffer();
    } catch (...) {
        ok = 0;
    }
    defs.subpixel_factor = saved;
    surface_layer layer;
    if (!ok || !layer.build(coarse, 0, colors) || layer.lines() < 1) return {};
    std::vector<double> work(static_cast<std::size_t>(zb->lines()), 0.0);
    for (int r = 0; r < zb->lines(); ++r) {
        const int coarse_row = std::min(r / factor / kCoarse, layer.lines() - 1);
        int shown = 0;
        for (int c = 0; c < layer.cols(); ++c) shown += layer.color(coarse_row, c) != nullptr;
        work[static_cast<std::size_t>(r)] = shown;
    }
    return work;
}

}  // namespace furrender
