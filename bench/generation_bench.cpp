// Benchmarks of hair generation: shaping one hair with curl, scraggle and
// clumping, and spawning 100 000 hairs on a NURBS sphere and on a mesh of
// 10 000 triangles, with a counting sink in place of the rasteriser.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "descriptions/assign_db.h"
#include "descriptions/hair_params.h"
#include "foundation/names.h"
#include "generation/hair_shaping.h"
#include "generation/hair_spawning.h"
#include "geometry/model_database.h"

namespace {

long g_hairs = 0;
void CountingSink(hair_camera*, control_hair* h, hair_state*) {
    g_hairs += h->count;  // touches the hair so that it is not optimised away
}

// Curl, scraggle and clumping on.
void Bend(hair_params& hp, float segments) {
    hp.segments = hp_scalar(segments);
    hp.curl_base = hp_scalar(0.3f);
    hp.curl_tip = hp_scalar(0.7f);
    hp.scraggle = hp_scalar(0.4f);
    hp.correlation = hp_scalar(0.3f);
    hp.clump = hp_scalar(0.3f);
    hp.clumpshape = hp_scalar(1.0f);
}

void BM_ShapeHair(benchmark::State& state) {
    const int segments = static_cast<int>(state.range(0));
    hair_shape_prepare(segments);
    hair_params hp;
    Bend(hp, static_cast<float>(segments));
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> u(0.0f, 1.0f);
    std::vector<clump_centre> centres;
    for (int i = 0; i < 64; ++i) centres.push_back({{u(rng), u(rng), 0.0f}, {0, 0, 1}});
    hair_state hs;
    hs.params = &hp;
    hs.normal = {0, 0, 1};
    hs.dir = {0, 1, 0};
    hs.dir2 = {1, 0, 0};
    for (auto _ : state) {
        hs.pos = {u(rng), u(rng), 0.0f};
        hs.normal = {0, 0, 1};
        hs.rand[2] = u(rng);
        hs.rand[3] = u(rng);
        benchmark::DoNotOptimize(hair_shape(&hs, centres.data(), 64, 0.3f));
    }
    state.SetItemsProcessed(state.iterations());
    hair_shape_release();
}
BENCHMARK(BM_ShapeHair)->Arg(8)->Arg(32);

// --- Spawning -----------------------------------------------------------------

// The unit sphere as a rational biquadratic surface: a full circle of nine
// control points along u times a half circle of five along v.
void Sphere(kivNurbSurface& s) {
    const float w = std::sqrt(0.5f);
    const float cx[9] = {1, 1, 0, -1, -1, -1, 0, 1, 1}, cy[9] = {0, 1, 1, 1, 0, -1, -1, -1, 0};
    const float r[5] = {0, 1, 1, 1, 0}, z[5] = {-1, -1, 0, 1, 1};
    s.set_nb_verts(9, 5);
    s.set_order(3, 3);
    s.alloc_lists();
    const float uk[12] = {0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 4}, vk[8] = {0, 0, 0, 1, 1, 2, 2, 2};
    s.set_uknots(12, uk);
    s.set_vknots(8, vk);
    for (int j = 0; j < 5; ++j)
        for (int i = 0; i < 9; ++i)
            s.set_vert(9 * j + i, kivPoint4(cx[i] * r[j], cy[i] * r[j], z[j],
                                            (i % 2 ? w : 1.0f) * (j % 2 ? w : 1.0f)));
}

// A wavy sheet of 50 x 100 quads split into 10 000 triangles.
void Sheet(kivPolygons& p) {
    const int nx = 50, ny = 100, nv = (nx + 1) * (ny + 1);
    p.set_nb_verts(nv);
    p.set_nb_norms(nv);
    p.set_nb_texs(nv);
    p.set_nb_polys(2 * nx * ny);
    for (int j = 0; j <= ny; ++j) {
        for (int i = 0; i <= nx; ++i) {
            const float x = i * 0.1f, y = j * 0.1f;
            const int k = j * (nx + 1) + i;
            p.set_vert(k, {x, y, 0.3f * std::sin(x) * std::cos(y)});
            kivVector n(-0.3f * std::cos(x) * std::cos(y), 0.3f * std::sin(x) * std::sin(y), 1);
            n.norm();
            p.set_norm(k, n);
            p.set_tex(k, {float(i) / nx, float(j) / ny, 0});
        }
    }
    int f = 0;
    for (int j = 0; j < ny; ++j) {
        for (int i = 0; i < nx; ++i) {
            const int a = j * (nx + 1) + i, b = a + 1, c = a + nx + 2, d = a + nx + 1;
            p.set_poly(f++, {3, {a, b, c, 0}, {a, b, c, 0}, {a, b, c, 0}});
            p.set_poly(f++, {3, {a, c, d, 0}, {a, c, d, 0}, {a, c, d, 0}});
        }
    }
}

void BM_SpawnHairs(benchmark::State& state) {
    const int type = static_cast<int>(state.range(0));
    names_init(64);
    assdb_init(8);
    mdldb_init(1, 0);
    hair_params* hp = hair_params_list_add(names_add("fur"));
    Bend(*hp, 8.0f);
    hp->density = hp_scalar(100000.0f);
    hair_model* m = mdldb_get_new(0);
    mdldb_set_type(m, type, "model");
    if (type == MODEL_NURB)
        Sphere(*m->nurbs());
    else
        Sheet(*m->polygons());
    assdb_assign_hair("fur", m->name);
    hair_shape_prepare(8);
    const mdldb_hair_sink previous = mdldb_set_hair_sink(CountingSink);
    int n = 0;
    hair_params** list = nullptr;
    assdb_get_model_hair(m->name, &n, &list);

    // The worker's messages go nowhere while it is timed.
    std::fflush(stdout);
    const int saved = dup(1), null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    long hairs = 0;
    for (auto _ : state) hairs += mdldb_hair_model(m, nullptr, n, list);
    std::fflush(stdout);
    dup2(saved, 1);
    close(null);
    close(saved);
    state.counters["hairs/s"] =
        benchmark::Counter(static_cast<double>(hairs), benchmark::Counter::kIsRate);

    mdldb_set_hair_sink(previous);
    hair_shape_release();
    assdb_done();
    hair_params_list_clear();
    mdldb_cleanup();
    names_done();
}
BENCHMARK(BM_SpawnHairs)
    ->ArgName("type")
    ->Arg(MODEL_NURB)
    ->Arg(MODEL_POLY)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
