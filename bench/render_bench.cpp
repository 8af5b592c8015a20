// Benchmarks of the fragment lists: a million random hair fragments into a
// 720 × 486 camera and the resolve of the frame, and the colour and the
// contribution resolves of a full frame whose every pixel holds geometry
// and overflowing hair.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <chrono>
#include <cstdint>

#include "foundation/render_settings.h"
#include "render/camera.h"

namespace {

constexpr int kLines = 486;
constexpr int kCols = 720;

// A small, fast generator so that drawing the fragments costs next to nothing.
struct Lcg {
    std::uint64_t s;
    std::uint32_t next() {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<std::uint32_t>(s >> 33);
    }
    float unit() { return static_cast<float>(next() & 0xFFFFFF) / 16777216.0f; }
};

// A 720 × 486 camera with its z-buffer.
void make_camera(hair_camera& cam) {
    defs.list_size = 5;
    defs.subpixel_factor = 1;
    cam.set_aperture(1.0f);
    cam.set_focal(1.0f);
    cam.set_image_params(kLines, kCols, cam_window(), zcalc());
    cam.init_zbuffer();
}

double peak_rss_mb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_MillionRandomFragments(benchmark::State& state) {
    const int n = 1000000;
    hair_camera cam;
    make_camera(cam);
    hair_zbuffer& zb = *cam.zbuffer();
    double insert_ns = 0, resolve_ms = 0, zbuffer_mb = 0;
    for (auto _ : state) {
        cam.clear_arr();
        Lcg rng{12345};
        const auto t0 = std::chrono::steady_clock::now();
        for (int i = 0; i < n; ++i) {
            const int row = static_cast<int>(rng.next() % kLines);
            const int col = static_cast<int>(rng.next() % kCols);
            const float z = 1.0f + 99.0f * rng.unit();
            const kivColor c(rng.unit(), rng.unit(), rng.unit(), 0.2f + 0.8f * rng.unit());
            defs.hair_id = 1 + i / 4;
            pixel_slot** cell = zb.cell(row, col);
            if (zb.is_visible(*cell, z, 0xFFFFFFFFu))
                zb.add_hair(*cell, rng.unit(), c, z, 0xFFFFFFFFu);
        }
        const auto t1 = std::chrono::steady_clock::now();
        float sum = 0;
        for (int row = 0; row < kLines; ++row)
            for (int col = 0; col < kCols; ++col) sum += zb.resolve_color(zb.record(row, col)).a;
        const auto t2 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(sum);
        insert_ns += std::chrono::duration<double, std::nano>(t1 - t0).count() / n;
        resolve_ms += std::chrono::duration<double, std::milli>(t2 - t1).count();
        zbuffer_mb = static_cast<double>(zb.memory_bytes()) / (1024.0 * 1024.0);
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["ns_per_insert"] = insert_ns / iterations;
    state.counters["resolve_ms"] = resolve_ms / iterations;
    state.counters["zbuffer_MiB"] = zbuffer_mb;
    state.counters["peak_rss_MiB"] = peak_rss_mb();
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_MillionRandomFragments)->Unit(benchmark::kMillisecond)->Iterations(5);

// The same million fragments as hairs draw them: runs of ten neighbouring
// pixels along a row share a hair id, the runs start at random places.
void BM_MillionFragmentsInHairRuns(benchmark::State& state) {
    const int n = 1000000, run = 10;
    hair_camera cam;
    make_camera(cam);
    hair_zbuffer& zb = *cam.zbuffer();
    for (auto _ : state) {
        cam.clear_arr();
        Lcg rng{777};
        for (int h = 0; h < n / run; ++h) {
            const int row = static_cast<int>(rng.next() % kLines);
            const int col0 = static_cast<int>(rng.next() % (kCols - run));
            const float z = 1.0f + 99.0f * rng.unit();
            const kivColor c(rng.unit(), rng.unit(), rng.unit(), 0.2f + 0.8f * rng.unit());
            defs.hair_id = 1 + h;
            for (int k = 0; k < run; ++k) {
                pixel_slot** cell = zb.cell(row, col0 + k);
                if (zb.is_visible(*cell, z, 0xFFFFFFFFu))
                    zb.add_hair(*cell, 0.7f, c, z, 0xFFFFFFFFu);
            }
        }
        benchmark::DoNotOptimize(zb.record(0, 0));
    }
    state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_MillionFragmentsInHairRuns)->Unit(benchmark::kMillisecond)->Iterations(5);

// Every pixel: half-covering geometry at depth 50 and eight hairs around
// it, so that the list, both overflows and the geometry take part.
void fill_full_frame(hair_zbuffer& zb) {
    Lcg rng{99};
    int id = 1;
    for (int row = 0; row < kLines; ++row) {
        for (int col = 0; col < kCols; ++col) {
            pixel_slot** cell = zb.cell(row, col);
            zb.add_geometry(*cell, 50.0f, 0.5f, 0xFFFFFFFFu);
            for (int k = 0; k < 8; ++k) {
                defs.hair_id = id++;
                zb.add_hair(*cell, 1.0f, kivColor(rng.unit(), rng.unit(), rng.unit(), 0.3f),
                            1.0f + 98.0f * rng.unit(), 0xFFFFFFFFu);
            }
        }
    }
}

void BM_ResolveFullFrame(benchmark::State& state) {
    hair_camera cam;
    make_camera(cam);
    hair_zbuffer& zb = *cam.zbuffer();
    fill_full_frame(zb);
    for (auto _ : state) {
        float sum = 0;
        for (int row = 0; row < kLines; ++row)
            for (int col = 0; col < kCols; ++col) sum += zb.resolve_color(zb.record(row, col)).a;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kLines * kCols);
    state.counters["zbuffer_MiB"] = static_cast<double>(zb.memory_bytes()) / (1024.0 * 1024.0);
}
BENCHMARK(BM_ResolveFullFrame)->Unit(benchmark::kMillisecond);

// The same frame taken apart into contributions, as the pictures over
// shaded surfaces and the deep images resolve it; every pixel's last hair
// is still the current one, as the hair pass leaves it.
void BM_ContributionsFullFrame(benchmark::State& state) {
    hair_camera cam;
    make_camera(cam);
    hair_zbuffer& zb = *cam.zbuffer();
    fill_full_frame(zb);
    fragment_contribution parts[kMaxListSize + 2];
    for (auto _ : state) {
        float sum = 0, front = 0;
        for (int row = 0; row < kLines; ++row)
            for (int col = 0; col < kCols; ++col)
                sum += zb.resolve_contributions(zb.record(row, col), parts, zb.list_size() + 2,
                                                front) +
                       front;
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * kLines * kCols);
}
BENCHMARK(BM_ContributionsFullFrame)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
