// Benchmarks of surface evaluation: the per-hair-root surface frame of a
// bicubic NURBS surface and its uniform tessellation.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "geometry/nurbs_surface.h"
#include "geometry/polygon_mesh.h"

namespace {

// A rational bicubic surface of 10 x 10 control points on clamped uniform
// knots: a wavy sheet with weights between 0.5 and 2.
std::unique_ptr<kivNurbSurface> BicubicSurface() {
    const int n = 10, k = 4;
    auto s = std::make_unique<kivNurbSurface>(n, n, k, k);
    std::vector<float> knots;
    for (int i = 0; i < n + k; ++i) {
        const int t = i < k ? 0 : (i >= n ? n - k + 1 : i - k + 1);
        knots.push_back(static_cast<float>(t));
    }
    s->set_uknots(n + k, knots.data());
    s->set_vknots(n + k, knots.data());
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> w(0.5f, 2.0f);
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            s->set_vert(n * j + i, kivPoint4(float(i), float(j),
                                             std::sin(i * 0.7f) * std::cos(j * 0.5f), w(rng)));
        }
    }
    return s;
}

void BM_NurbsCalcPosNrmDir(benchmark::State& state) {
    const auto s = BicubicSurface();
    std::mt19937 rng(2);
    std::uniform_real_distribution<float> t(0.0f, 1.0f);
    std::vector<float> params(2048);
    for (float& p : params) p = t(rng);
    kivVector frame[4];
    std::size_t i = 0;
    for (auto _ : state) {
        s->calc_posnrmdir(params[i], params[i + 1], frame);
        benchmark::DoNotOptimize(frame);
        i = (i + 2) & 2047;
    }
}
BENCHMARK(BM_NurbsCalcPosNrmDir);

void BM_NurbsTessUniform(benchmark::State& state) {
    const auto s = BicubicSurface();
    s->set_tess_steps(state.range(0));
    kivPolygons mesh;
    for (auto _ : state) {
        benchmark::DoNotOptimize(s->tess_uniform(&mesh));
    }
    state.counters["vertices"] = mesh.nb_verts;
    state.counters["triangles"] = mesh.nb_polys;
}
BENCHMARK(BM_NurbsTessUniform)->Arg(4)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
