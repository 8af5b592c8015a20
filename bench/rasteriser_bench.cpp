// Benchmarks of the rasterisers at 1280 × 720: thin ribbons scan-converted
// alone and into the fragment lists, whole hairs of eight segments through
// zbuff_hair, and the geometry z-buffer of a tessellated NURBS sphere.
#include <benchmark/benchmark.h>

#include <climits>
#include <cmath>
#include <vector>

#include "foundation/names.h"
#include "foundation/render_settings.h"
#include "descriptions/hair_records.h"
#include "geometry/model_database.h"
#include "render/camera.h"
#include "render/geometry_occlusion.h"
#include "render/scan_convert.h"

namespace {

constexpr int kLines = 720;
constexpr int kCols = 1280;

struct Lcg {
    unsigned long long s;
    float unit() {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<float>((s >> 40) & 0xFFFFFF) / 16777216.0f;
    }
};

// A 1280 × 720 camera at the origin looking down −z, 36 wide film, focal 35.
void make_camera(hair_camera& cam) {
    defs.list_size = 5;
    defs.subpixel_factor = 1;
    cam.set_aperture(36.0f);
    cam.set_focal(35.0f);
    cam.set_image_params(kLines, kCols, cam_window(), zcalc());
    cam.init_zbuffer();
}

// Ribbons 1–3 pixels wide and 5–20 long at random orientations and places,
// corners counter-clockwise, as the hair rasteriser builds them.
std::vector<motion_blur_pnt> thin_ribbons(int n) {
    Lcg rng{4242};
    std::vector<motion_blur_pnt> q(4 * static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        const float x = 20 + rng.unit() * (kCols - 40), y = 20 + rng.unit() * (kLines - 40);
        const float t = rng.unit() * 6.2831853f, len = 5 + 15 * rng.unit();
        const float h = 0.5f + rng.unit(), dx = std::cos(t), dy = std::sin(t);
        const float cx[4] = {-dy * h, dy * h, len * dx + dy * h, len * dx - dy * h};
        const float cy[4] = {dx * h, -dx * h, len * dy - dx * h, len * dy + dx * h};
        for (int k = 0; k < 4; ++k) {
            motion_blur_pnt& p = q[4 * i + k];
            p.x = x + cx[k], p.y = y + cy[k], p.z = 10.0f + rng.unit();
            p.set_color(kivColor(0.8f, 0.6f, 0.4f, 0.9f));
        }
    }
    return q;
}

// (a) The scan converter alone, counting the pixel fragments it makes.
void BM_ThinRibbonScan(benchmark::State& state) {
    const int n = 20000;
    const std::vector<motion_blur_pnt> q = thin_ribbons(n);
    scan::limits lim;
    lim.cols = kCols, lim.lines = kLines;
    long long fragments = 0;
    for (auto _ : state) {
        for (int i = 0; i < n; ++i) {
            scan::vertex<5> v[4], l[4], r[4];
            int order[4], nl, nr, box[4] = {INT_MAX, INT_MAX, INT_MIN, INT_MIN};
            for (int k = 0; k < 4; ++k) {
                const motion_blur_pnt& p = q[4 * i + k];
                v[k] = {p.x, p.y, {p.z, p.r, p.g, p.b, p.a}};
                box[0] = std::min(box[0], scan::pixel_floor(p.x));
                box[1] = std::min(box[1], scan::pixel_floor(p.y));
                box[2] = std::max(box[2], scan::pixel_floor(p.x));
                box[3] = std::max(box[3], scan::pixel_floor(p.y));
            }
            scan::sort_by_y(4, v, order);
            if (!scan::split_chains(4, v, order, true, l, nl, r, nr)) continue;
            scan::fill<5>(box, nl, l, nr, r, lim, 1,
                          [&](int, int, float c, const float*) { fragments += c > 0.0f; });
        }
    }
    state.counters["segments/s"] =
        benchmark::Counter(double(n) * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["fragments/s"] =
        benchmark::Counter(double(fragments), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ThinRibbonScan)->Unit(benchmark::kMillisecond);

// (a) The same ribbons through zbuff_hair_poly into the fragment lists.
void BM_ThinRibbonIntoFragments(benchmark::State& state) {
    const int n = 20000;
    std::vector<motion_blur_pnt> q = thin_ribbons(n);
    hair_camera cam;
    make_camera(cam);
    for (auto _ : state) {
        cam.clear_arr();
        for (int i = 0; i < n; ++i) {
            defs.hair_id = 1 + i;
            cam.zbuff_hair_poly(4, &q[4 * static_cast<size_t>(i)], 0xFFFFFFFFu);
        }
    }
    state.counters["segments/s"] =
        benchmark::Counter(double(n) * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ThinRibbonIntoFragments)->Unit(benchmark::kMillisecond);

// (b) zbuff_hair of 20 000 hairs of eight segments, about 1.5 pixels wide.
void BM_ZbuffHairEightSegments(benchmark::State& state) {
    const int n = 20000, points = 9;
    Lcg rng{31337};
    std::vector<kivPoint> shapes;
    for (int i = 0; i < n; ++i) {
        kivPoint p(-6 + 12 * rng.unit(), -3.4f + 6.8f * rng.unit(), -12 - 4 * rng.unit());
        const kivPoint step(0.05f * (rng.unit() - 0.5f), 0.06f, 0.02f * (rng.unit() - 0.5f));
        for (int k = 0; k < points; ++k)
            shapes.push_back(p + step * float(k) + kivPoint(0.01f * k * k, 0, 0));
    }
    hair_camera cam;
    make_camera(cam);
    control_hair hair(points);
    for (int k = 0; k < points; ++k) hair.vertices[k].width = 0.015f;
    hair_state hs;
    for (auto _ : state) {
        cam.clear_arr();
        for (int i = 0; i < n; ++i) {
            for (int k = 0; k < points; ++k)
                hair.points[k] = shapes[static_cast<size_t>(i) * points + k];
            defs.hair_id = 1 + i;
            cam.zbuff_hair(&hair, &hs);
        }
    }
    state.counters["hairs/s"] =
        benchmark::Counter(double(n) * state.iterations(), benchmark::Counter::kIsRate);
    state.counters["segments/s"] = benchmark::Counter(double(n) * (points - 1) * state.iterations(),
                                                      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ZbuffHairEightSegments)->Unit(benchmark::kMillisecond);

// (c) mdldb_zbuffer of a NURBS sphere tessellated 100 × 100 (20 000
// triangles), tessellation included, filling about a third of the frame.
void BM_ZbufferNurbsSphere(benchmark::State& state) {
    names_init(16);
    mdldb_init(1, 0);
    hair_model* m = mdldb_get_new(0);
    mdldb_set_type(m, MODEL_NURB, "sphere");
    kivNurbSurface& s = *m->nurbs();
    const int nc = 13;  // 10 spans of a cubic along each direction
    s.set_nb_verts(nc, nc), s.set_order(4, 4);
    s.alloc_lists();
    float knots[nc + 4];
    for (int i = 0; i < nc + 4; ++i)
        knots[i] = static_cast<float>(std::min(std::max(i - 3, 0), nc - 3));
    s.set_uknots(nc + 4, knots), s.set_vknots(nc + 4, knots);
    for (int j = 0; j < nc; ++j)
        for (int i = 0; i < nc; ++i) {
            const float th = 3.14159265f * j / (nc - 1), ph = 6.2831853f * i / (nc - 1);
            s.set_vert(j * nc + i,
                       kivPoint4(2.2f * std::sin(th) * std::cos(ph), 2.2f * std::cos(th),
                                 -6 + 2.2f * std::sin(th) * std::sin(ph), 1));
        }
    m->zbuffer_flag1 = true;
    defs.tess_factor = 10;
    defs.tiles[0] = 2;  // several tiles: the walk keeps the geometry for the next round
    hair_camera cam;
    make_camera(cam);
    // Argument 0: a cleared z-buffer every round (pixel records allocated
    // again); 1: the records of the previous round stay (the rasteriser alone).
    for (auto _ : state) {
        if (state.range(0) == 0) cam.clear_arr();
        mdldb_zbuffer(&cam, 0);
    }
    state.counters["polygons/s"] =
        benchmark::Counter(20000.0 * state.iterations(), benchmark::Counter::kIsRate);
    defs.tiles[0] = 1;
    defs.tess_factor = 1;
    mdldb_cleanup();
    names_done();
}
BENCHMARK(BM_ZbufferNurbsSphere)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
