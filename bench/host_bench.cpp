// The machine under the renderer: how fast it copies memory, and how fast
// it computes without touching memory. The renderer's fill, fragment
// insertion and resolve wait mostly on memory, so processes that share the
// memory bus (--threads, a farm host, other tenants of a virtual machine)
// slow each other down where processes that only compute do not;
// bench/scene_bench.sh runs these alone and two at once to show how much.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

// Copies a block far larger than any cache: bytes per second of the bus.
void BM_MemoryCopy(benchmark::State& state) {
    const std::size_t bytes = std::size_t(256) << 20;
    std::vector<char> from(bytes, 1), to(bytes, 2);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
        ++from[0];
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}
BENCHMARK(BM_MemoryCopy)->Unit(benchmark::kMillisecond);

// A chain of dependent multiply-adds in registers: the processor alone.
void BM_Compute(benchmark::State& state) {
    double x = 1.0;
    for (auto _ : state) {
        for (int i = 0; i < 1 << 20; ++i) x = x * 1.0000001 + 1e-9;
        benchmark::DoNotOptimize(x);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) << 20);
}
BENCHMARK(BM_Compute)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
