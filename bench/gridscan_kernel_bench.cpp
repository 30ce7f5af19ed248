// The two gridscan accumulation kernels on one realistic pass: 40 layer lines with reference
// samples out to grid point 140 and test samples to grid point 149, over the first-pass grid
// (27 x 91 x 6) and a later-pass grid (11 x 11 x 6), the fast kernel at each vector width. The counter "evals" is the
// rate of grid-point evaluations (one sample at one rotation, shift and radial scale). The model
// kernels take the same samples against a model of three orders on every layer line (the
// reference's order and two more, n + 10 and n - 10, of lower amplitudes), predicting their
// sum at every rotation.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gridscan/fastkernel.hpp"
#include "gridscan/kernel.hpp"
#include "gridscan/modelfast.hpp"
#include "gridscan/search.hpp"

using namespace gridscan;

namespace {

constexpr std::int32_t lines = 40;
constexpr float delbr = 0.001f;
constexpr float recc = 0.002f;

struct Workload {
  std::unique_ptr<ReferenceGrid> ref = std::make_unique<ReferenceGrid>();
  std::vector<std::vector<TestSample>> blocks;
  float fmean = 0.0f;
};

// The same shape of data as bench/make_gridscan_case.py writes.
const Workload& workload() {
  static const Workload w = [] {
    Workload wl;
    const std::int32_t orders[] = {0, 1, -2, 3, -1, 2, -3, 4, 1, -4};
    float sum = 0.0f, pts = 0.0f;
    for (std::int32_t l = 1; l <= lines; ++l) {
      const std::int32_t nn = orders[(l - 1) % 10];
      const float alpha = 4.0f + static_cast<float>(l % 5);
      std::vector<TestSample> samples;
      for (std::int32_t k = 2; k <= 168; ++k) {
        const float amp = 100.0f + 60.0f * std::sin(0.2f * static_cast<float>(k) + static_cast<float>(l));
        const float phase = std::fmod(alpha * static_cast<float>(k) + 37.0f * static_cast<float>(l), 360.0f) - 180.0f;
        if (k <= 140) {
          wl.ref->f1(l, k) = amp;
          wl.ref->psi1(l, k) = phase;
          sum += amp;
          pts += 1.0f;
        }
        const float r = static_cast<float>(k - 1) * delbr / 1.01f;
        if (r < 149.0f * delbr)
          samples.push_back(prepare_test_sample(layerline::Point{r, amp, phase + static_cast<float>(nn) * 6.5f}, 1.0f,
                                                1.0f, nn, l, 0, 0));
      }
      wl.ref->nn1[static_cast<std::size_t>(l - 1)] = nn;
      wl.ref->nl1[static_cast<std::size_t>(l - 1)] = l;
      wl.ref->irmax[static_cast<std::size_t>(l - 1)] = 140;
      wl.blocks.push_back(std::move(samples));
    }
    wl.fmean = sum / pts;
    return wl;
  }();
  return w;
}

PassGrid grid_of(std::int64_t which) {
  SearchState st{-6.5f, 12.5f, 1.01f, 1, false};
  return which == 0 ? first_pass_grid(recc, delbr) : later_pass_grid(st, recc, delbr);
}

void run_pass(benchmark::State& state, BlockKernel& kernel) {
  const Workload& w = workload();
  const PassGrid g = grid_of(state.range(0));
  auto acc = std::make_unique<Accumulators>();
  double evals = 0.0;
  for (auto _ : state) {
    std::fill(acc->pointsv.begin(), acc->pointsv.end(), 0.0f);
    std::fill(acc->xincv.begin(), acc->xincv.end(), 0.0f);
    for (std::int32_t l = 1; l <= lines; ++l)
      kernel.accumulate(*w.ref, l, g, w.fmean, w.blocks[static_cast<std::size_t>(l - 1)], *acc);
    benchmark::DoNotOptimize(acc->residv.data());
    // With weights of 1, xinc counts the samples compared at each radial scale.
    for (std::int32_t irs = 1; irs <= g.nrs; ++irs)
      evals += static_cast<double>(acc->xinc(irs)) * static_cast<double>(g.nph) * static_cast<double>(g.nz);
  }
  state.counters["evals"] = benchmark::Counter(evals, benchmark::Counter::kIsRate);
}

// The workload's reference as a model of three orders a layer line.
const ModelGrid& model() {
  static const std::unique_ptr<ModelGrid> m = [] {
    auto g = std::make_unique<ModelGrid>();
    const Workload& w = workload();
    for (std::int32_t l = 1; l <= lines; ++l) {
      const std::int32_t nn = w.ref->nn1[static_cast<std::size_t>(l - 1)];
      g->norders[static_cast<std::size_t>(l - 1)] = 3;
      g->nn[static_cast<std::size_t>(l - 1)] = {nn, nn + 10, nn - 10};
      for (std::int32_t j = 1; j <= nrmax; ++j) {
        if (w.ref->f1(l, j) == 0.0f) continue;
        for (std::int32_t o = 0; o < 3; ++o) {
          g->f(l, o, j) = w.ref->f1(l, j) / static_cast<float>(1 + 2 * o);
          g->psi(l, o, j) = w.ref->psi1(l, j) + 50.0f * static_cast<float>(o);
        }
        g->set_present(l, j);
      }
    }
    return g;
  }();
  return *m;
}

void run_model_pass(benchmark::State& state, ModelKernel& kernel) {
  const Workload& w = workload();
  const ModelGrid& m = model();
  const PassGrid g = grid_of(state.range(0));
  auto acc = std::make_unique<Accumulators>();
  auto sums = std::make_unique<ModelSums>();
  double evals = 0.0;
  for (auto _ : state) {
    std::fill(acc->pointsv.begin(), acc->pointsv.end(), 0.0f);
    std::fill(acc->xincv.begin(), acc->xincv.end(), 0.0f);
    for (std::int32_t l = 1; l <= lines; ++l) {
      const OrderSigns sign = order_signs(m, l, m.order(l, 0), false);
      kernel.accumulate(m, l, sign, g, w.fmean, w.blocks[static_cast<std::size_t>(l - 1)], *acc, *sums);
    }
    benchmark::DoNotOptimize(acc->residv.data());
    for (std::int32_t irs = 1; irs <= g.nrs; ++irs)
      evals += static_cast<double>(acc->xinc(irs)) * static_cast<double>(g.nph) * static_cast<double>(g.nz);
  }
  state.counters["evals"] = benchmark::Counter(evals, benchmark::Counter::kIsRate);
}

void BM_gridscan_model_literal(benchmark::State& state) {
  LiteralModelKernel k;
  run_model_pass(state, k);
}

void BM_gridscan_model_fast(benchmark::State& state) {
  const auto level = static_cast<phaselanes::Level>(state.range(1));
  if (!phaselanes::level_supported(level)) {
    state.SkipWithError("the processor does not run this level");
    return;
  }
  state.SetLabel(std::string(phaselanes::level_name(level)));
  FastModelKernel k(level);
  run_model_pass(state, k);
}

void BM_gridscan_literal(benchmark::State& state) {
  LiteralKernel k;
  run_pass(state, k);
}

// Argument 1: the vector width, 0 for SSE2, 1 for AVX2, 2 for AVX-512.
void BM_gridscan_fast(benchmark::State& state) {
  const auto level = static_cast<phaselanes::Level>(state.range(1));
  if (!phaselanes::level_supported(level)) {
    state.SkipWithError("the processor does not run this level");
    return;
  }
  state.SetLabel(std::string(phaselanes::level_name(level)));
  FastKernel k(level);
  run_pass(state, k);
}

}  // namespace

// Argument 0: the first-pass grid; 1: a later-pass grid.
BENCHMARK(BM_gridscan_literal)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_gridscan_fast)->ArgsProduct({{0, 1}, {0, 1, 2}})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_gridscan_model_literal)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_gridscan_model_fast)->ArgsProduct({{0, 1}, {0, 1, 2}})->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
