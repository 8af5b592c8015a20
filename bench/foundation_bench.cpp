// Benchmarks of the foundation's hot paths: noise, name lookups and matrix
// products.
#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

#include "foundation/matrix.h"
#include "foundation/names.h"
#include "foundation/noise.h"

namespace {

std::vector<kivVector> RandomPoints(int count) {
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> u(-100.0f, 100.0f);
    std::vector<kivVector> points(count);
    for (kivVector& p : points) p = kivVector(u(rng), u(rng), u(rng));
    return points;
}

void BM_Noise3(benchmark::State& state) {
    const std::vector<kivVector> points = RandomPoints(1024);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(noise3(points[i++ & 1023]));
    }
}
BENCHMARK(BM_Noise3);

void BM_Dnoise3(benchmark::State& state) {
    const std::vector<kivVector> points = RandomPoints(1024);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(dnoise3(points[i++ & 1023]));
    }
}
BENCHMARK(BM_Dnoise3);

// A hair's scraggle: 8 points along one line of the lattice at a random y
// (z = 0), as dnoise3 one point at a time and as a dnoise3_line.
void HairLines(benchmark::State& state, bool line) {
    const std::vector<kivVector> points = RandomPoints(1024);
    std::size_t i = 0;
    for (auto _ : state) {
        const float y = points[i++ & 1023].y * 100.0f;
        dnoise3_line l(y, 0.0f);
        for (int k = 0; k < 8; ++k) {
            const float x = static_cast<float>(k) / 8.0f;
            benchmark::DoNotOptimize(line ? l.at(x) : dnoise3(kivVector(x, y, 0.0f)));
        }
    }
    state.SetItemsProcessed(state.iterations() * 8);
}
void BM_Dnoise3AlongHair(benchmark::State& state) {
    HairLines(state, false);
}
void BM_Dnoise3LineAlongHair(benchmark::State& state) {
    HairLines(state, true);
}
BENCHMARK(BM_Dnoise3AlongHair);
BENCHMARK(BM_Dnoise3LineAlongHair);

// A table of 10000 names in 10000 buckets, looked up by names that are
// present (hit) or absent (miss).
void NamesFind(benchmark::State& state, const char* prefix) {
    const int count = 10000;
    names_init(count);
    std::vector<std::string> keys;
    for (int i = 0; i < count; ++i) {
        const std::string name = "model_" + std::to_string(i);
        names_add(name.c_str());
        keys.push_back(prefix + std::to_string(i));
    }
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(names_find(keys[i].c_str()));
        if (++i == keys.size()) i = 0;
    }
    names_done();
}
void BM_NamesFindHit(benchmark::State& state) {
    NamesFind(state, "model_");
}
void BM_NamesFindMiss(benchmark::State& state) {
    NamesFind(state, "light_");
}
BENCHMARK(BM_NamesFindHit);
BENCHMARK(BM_NamesFindMiss);

kivMatrix SomeMatrix(float seed) {
    return kivMatrix(1, seed, 0.5f, 0, -seed, 1, 0.25f, 0, 0.1f, 0.2f, 1, 0, 3, 4, 5, 1);
}

void BM_MatrixProduct(benchmark::State& state) {
    kivMatrix a = SomeMatrix(0.3f);
    const kivMatrix b = SomeMatrix(0.7f);
    for (auto _ : state) {
        benchmark::DoNotOptimize(a);
        benchmark::DoNotOptimize(a * b);
    }
}
BENCHMARK(BM_MatrixProduct);

void BM_PointTimesMatrix(benchmark::State& state) {
    const std::vector<kivVector> points = RandomPoints(1024);
    const kivMatrix m = SomeMatrix(0.3f);
    std::size_t i = 0;
    for (auto _ : state) {
        const kivPoint p = points[i++ & 1023];
        benchmark::DoNotOptimize(p * m);
    }
}
BENCHMARK(BM_PointTimesMatrix);

void BM_MatrixInvert(benchmark::State& state) {
    const kivMatrix m = SomeMatrix(0.3f);
    for (auto _ : state) {
        kivMatrix a = m;
        benchmark::DoNotOptimize(a.invert());
    }
}
BENCHMARK(BM_MatrixInvert);

}  // namespace

BENCHMARK_MAIN();
