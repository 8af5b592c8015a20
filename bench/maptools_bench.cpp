// Benchmarks of the map tools on the demo scene (a NURBS ball and a polygon
// ground): equalizer maps with and without the background fill, and
// direction maps, at the map size given as the argument. Run from the top
// directory of the source tree; the maps go to the temporary directory.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "korvofur/korvofur.h"

namespace {

// The demo's first frame loaded once, its models in world space, with
// standard output silenced (the tools print a line per model).
class demo_scene {
  public:
    demo_scene() {
        names_init(10007);
        tmap_init(8);
        crvdata_init(8);
        attractdb_init();
        curveAttractdb_init();
        assdb_init(10007);
        ok_ = hair_params_init("examples/demo/demo.hair") &&
              assdb_readfile("examples/demo/demo.assign") && scndb_init("examples/demo/demo", 1, 0);
        if (ok_) mdldb_xform(0);
    }
    bool ok() const { return ok_; }

  private:
    bool ok_ = false;
};

const std::string kOut = "/tmp";

// Sends standard output to /dev/null while it lives.
class quiet_stdout {
  public:
    quiet_stdout() {
        std::fflush(stdout);
        saved_ = ::dup(STDOUT_FILENO);
        const int null_fd = ::open("/dev/null", O_WRONLY);
        if (null_fd >= 0) {
            ::dup2(null_fd, STDOUT_FILENO);
            ::close(null_fd);
        }
    }
    ~quiet_stdout() {
        std::fflush(stdout);
        if (saved_ >= 0) {
            ::dup2(saved_, STDOUT_FILENO);
            ::close(saved_);
        }
    }

  private:
    int saved_;
};

bool ready(benchmark::State& state) {
    static demo_scene scene;
    if (!scene.ok()) state.SkipWithError("run from the top directory of the source tree");
    return scene.ok();
}

void EqualizerMaps(benchmark::State& state, bool fill) {
    if (!ready(state)) return;
    const int side = static_cast<int>(state.range(0));
    quiet_stdout quiet;
    for (auto _ : state)
        mdldb_area_norm(kOut.c_str(), "tmp", side, side, 0, nullptr, false, nullptr, true, "_bench",
                        fill);
    state.SetItemsProcessed(state.iterations() * 2 * side * side);
}

void BM_EqualizerMaps(benchmark::State& state) {
    EqualizerMaps(state, false);
}
void BM_EqualizerMapsFilled(benchmark::State& state) {
    EqualizerMaps(state, true);
}

void BM_DirectionMaps(benchmark::State& state) {
    if (!ready(state)) return;
    const int side = static_cast<int>(state.range(0));
    const float down[3] = {0.0f, -1.0f, 0.0f};
    const std::string prefix = kOut + "/bench_dir";
    quiet_stdout quiet;
    for (auto _ : state) mdldb_calc_dir_map(prefix.c_str(), down, side, side, 1);
    state.SetItemsProcessed(state.iterations() * 2 * side * side);
}

}  // namespace

BENCHMARK(BM_EqualizerMaps)->Arg(256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EqualizerMapsFilled)->Arg(256)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DirectionMaps)->Arg(256)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
