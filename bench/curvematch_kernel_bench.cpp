// The two curvematch scoring kernels on one radial scale of the realistic case (100 layer lines x
// 200 samples, 8 x 26 trials: izl = 25 recounts to 26) and of the large case (1000 x 512). The
// counter "evals" is the rate of sample evaluations (one compared sample in one trial).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "curvematch/fastkernel.hpp"
#include "curvematch/search.hpp"

using namespace curvematch;

namespace {

DataSets make_case(std::int32_t lines, std::int32_t samples) {
  DataSets d;
  d.llmax = lines;
  d.ismin = 1;
  d.ismax = samples;
  for (Table* t : {&d.a, &d.p, &d.a1, &d.p1, &d.a2, &d.p2}) t->reset(lines, samples + 2);
  for (std::int32_t l = 1; l <= lines; ++l) {
    d.in[static_cast<std::size_t>(l)] = (l * 7) % 17 - 8;
    d.inl[static_cast<std::size_t>(l)] = (l * 13) % 61;
    for (std::int32_t j = 1; j <= samples; ++j) {
      const float r = static_cast<float>(j - 1);
      d.a.at(l, j) = 1.0f + 40.0f * std::exp(-std::pow((r - static_cast<float>((l * 37) % samples)) / 9.0f, 2.0f));
      d.p.at(l, j) = std::fmod(2.5f * r + 40.0f * static_cast<float>(l), 360.0f) - 180.0f;
      d.a2.at(l, j) = d.a.at(l, j);
      d.p2.at(l, j) = d.p.at(l, j) + 3.0f;
    }
  }
  d.amin = 0.05f * 41.0f;
  return d;
}

void run_scale(benchmark::State& state, ScaleKernel& kernel) {
  const DataSets d = make_case(static_cast<std::int32_t>(state.range(0)), static_cast<std::int32_t>(state.range(1)));
  std::vector<float> phis(8), zetas(26), res(8 * 26);
  for (std::size_t i = 0; i < phis.size(); ++i) phis[i] = -2.0f + 0.5f * static_cast<float>(i);
  for (std::size_t i = 0; i < zetas.size(); ++i) zetas[i] = -45.0f + 3.6f * static_cast<float>(i);
  double evals = 0.0;
  for (auto _ : state) {
    const TrialScore s = kernel.score_scale(d, phis, zetas, res);
    benchmark::DoNotOptimize(res.data());
    evals += static_cast<double>(s.npts) * static_cast<double>(res.size());
  }
  state.counters["evals"] = benchmark::Counter(evals, benchmark::Counter::kIsRate);
}

void BM_curvematch_literal(benchmark::State& state) {
  LiteralScaleKernel k;
  run_scale(state, k);
}

// Argument 2: the vector width, 0 for SSE2, 1 for AVX2, 2 for AVX-512.
void BM_curvematch_fast(benchmark::State& state) {
  const auto level = static_cast<phaselanes::Level>(state.range(2));
  if (!phaselanes::level_supported(level)) {
    state.SkipWithError("the processor does not run this level");
    return;
  }
  state.SetLabel(std::string(phaselanes::level_name(level)));
  FastScaleKernel k(level);
  run_scale(state, k);
}

// The rescaling of one radial scale (1000 x 512 samples), by the library functions (as the
// literal kernel does) and by the fast kernel's at each width. The counter "targets" is the
// rate of rescaled samples.
void run_rescale(benchmark::State& state, ScaleKernel& kernel) {
  DataSets d = make_case(1000, 512);
  for (std::int32_t l = 1; l <= d.llmax; ++l)
    for (std::int32_t j = 1; j <= d.ismax; ++j) {
      d.a1.at(l, j) = d.a.at(l, j);
      d.p1.at(l, j) = d.p.at(l, j) + 0.5f * static_cast<float>(j);
    }
  d.window = {1, d.ismax};
  double targets = 0.0;
  float rsc = 0.97f;
  for (auto _ : state) {
    kernel.rescale(d, rsc, RescaleRule::interpolated);
    rsc = std::nextafter(rsc, 2.0f);  // a new scale every time: the fast kernel keeps those it met
    benchmark::DoNotOptimize(d.p2.row(1));
    targets += 1000.0 * 512.0;
  }
  state.counters["targets"] = benchmark::Counter(targets, benchmark::Counter::kIsRate);
}

void BM_rescale_library(benchmark::State& state) {
  LiteralScaleKernel k;
  run_rescale(state, k);
}

void BM_rescale_fast(benchmark::State& state) {
  const auto level = static_cast<phaselanes::Level>(state.range(0));
  if (!phaselanes::level_supported(level)) {
    state.SkipWithError("the processor does not run this level");
    return;
  }
  state.SetLabel(std::string(phaselanes::level_name(level)));
  FastScaleKernel k(level);
  run_rescale(state, k);
}

}  // namespace

BENCHMARK(BM_curvematch_literal)->Args({100, 200})->Args({1000, 512})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_curvematch_fast)
    ->ArgsProduct({{100}, {200}, {0, 1, 2}})
    ->ArgsProduct({{1000}, {512}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_rescale_library)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_rescale_fast)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
