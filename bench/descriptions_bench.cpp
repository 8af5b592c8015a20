// Benchmarks of parameter evaluation, the per-hair hot path: a constant, a
// chain of five terms, a noise term, a lookup in a cached texture and the
// appearance of a hair point.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "descriptions/hair_params.h"
#include "descriptions/param_values.h"
#include "descriptions/texture_cache.h"
#include "descriptions/hair_records.h"

namespace {

// Hair contexts at random surface positions.
std::vector<hair_state> RandomHairs(int count) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<hair_state> hairs(count);
    for (hair_state& hs : hairs) {
        hs.u = unit(rng);
        hs.v = unit(rng);
        for (double& r : hs.rand) r = unit(rng);
    }
    return hairs;
}

// A 512 x 512 image served from memory.
bool SyntheticImage(const char* /*path*/, tmap_image& image) {
    image.width = image.height = 512;
    image.pixels.resize(512 * 512 * 4);
    for (std::size_t i = 0; i < image.pixels.size(); ++i)
        image.pixels[i] = static_cast<unsigned char>(i * 31);
    return true;
}

void BM_ScalarConstant(benchmark::State& state) {
    const std::vector<hair_state> hairs = RandomHairs(1024);
    const hp_scalar value(2.5f);
    std::size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(value.eval(hairs[i++ & 1023]));
}
BENCHMARK(BM_ScalarConstant);

// (1 + var[0]) * 3 - 4 / 5: constants, a variable and a group.
void BM_ScalarChainOfFive(benchmark::State& state) {
    std::vector<hair_state> hairs = RandomHairs(1024);
    for (hair_state& hs : hairs) hs.vars[0] = hs.rand[1];
    hp_scalar value(1.0f);
    value.flags = HP_OPEN_GROUP;
    value.op = HP_OP_ADD;
    hp_scalar* var = new hp_scalar;
    var->set_var(0);
    var->flags = HP_CLOSE_GROUP;
    var->op = HP_OP_MUL;
    value.append(var);
    const float rest[3] = {3.0f, 4.0f, 5.0f};
    const std::uint8_t ops[3] = {HP_OP_SUB, HP_OP_DIV, HP_OP_NONE};
    for (int k = 0; k < 3; ++k) {
        hp_scalar* t = new hp_scalar(rest[k]);
        t->op = ops[k];
        value.append(t);
    }
    std::size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(value.eval(hairs[i++ & 1023]));
}
BENCHMARK(BM_ScalarChainOfFive);

void BM_ScalarNoise(benchmark::State& state) {
    const std::vector<hair_state> hairs = RandomHairs(1024);
    hp_scalar value;
    value.set_noise(8.0f, 0.0f, 1.0f);
    std::size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(value.eval(hairs[i++ & 1023]));
}
BENCHMARK(BM_ScalarNoise);

void BM_TextureLookupCached(benchmark::State& state) {
    const std::vector<hair_state> hairs = RandomHairs(1024);
    const tmap_reader previous = tmap_set_reader(SyntheticImage);
    tmap_init(8);
    hp_scalar value;
    value.set_image("textures/fur_density_map.0001.iff", "g");
    value.eval(hairs[0]);  // read once
    std::size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(value.eval(hairs[i++ & 1023]));
    tmap_done();
    tmap_set_reader(previous);
}
BENCHMARK(BM_TextureLookupCached);

// A description with constant base values and a noise tip width, at root
// and tip in turn.
void BM_EvalVertex(benchmark::State& state) {
    const std::vector<hair_state> hairs = RandomHairs(1024);
    hair_params hp;
    hp.ambient_base.set_constant(kivColor(0.2f, 0.1f, 0.05f));
    hp.ambient_tip.set_constant(kivColor(0.6f, 0.5f, 0.4f));
    hp.diffuse_base.set_constant(kivColor(0.4f, 0.3f, 0.2f));
    hp.width_tip.set_noise(4.0f, 0.1f, 0.3f);
    hp.opacity_tip.set_constant(0.5f);
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            hair_params_eval_vertex(&hp, &hairs[i & 1023], static_cast<int>(i & 1)));
        ++i;
    }
}
BENCHMARK(BM_EvalVertex);

}  // namespace

BENCHMARK_MAIN();
