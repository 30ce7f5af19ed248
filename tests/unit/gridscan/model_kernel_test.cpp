// The kernels of a layer line of several orders: the fast one gives the literal one's sums bit
// for bit on random models and samples at every vector width the processor runs, and the
// phase of the prediction is the two-argument arc tangent.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "first_difference.hpp"
#include "gridscan/modelfast.hpp"
#include "gridscan/modellanes.hpp"
#include "gridscan/search.hpp"

using namespace gridscan;

namespace {

struct ModelCase {
  std::unique_ptr<ModelGrid> m = std::make_unique<ModelGrid>();
  std::vector<std::vector<TestSample>> blocks;  // layer line l - 1
  std::vector<OrderSigns> signs;
  PassGrid g;
  float fmean = 1.0f;
};

// Two to five orders a layer line, some grid points empty or with one order only, phases far
// outside -180..180 (now and then beyond the single-precision reduction), any grid.
ModelCase model_case(std::uint32_t seed) {
  std::mt19937 rng(seed);
  auto uni = [&](double a, double b) { return static_cast<float>(std::uniform_real_distribution<double>(a, b)(rng)); };
  auto pick = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); };
  ModelCase c;
  const float delbr = pick(0, 1) == 0 ? 0.001f : 0.0052f;
  const float recc = uni(0.0001, 0.05);
  const int lines = pick(1, 3);
  for (int l = 1; l <= lines; ++l) {
    const int orders = pick(2, 5);
    c.m->norders[static_cast<std::size_t>(l - 1)] = orders;
    for (int o = 0; o < orders; ++o)
      c.m->nn[static_cast<std::size_t>(l - 1)][static_cast<std::size_t>(o)] = pick(-30, 30);
    for (int j = 1; j <= nrmax; ++j) {
      if (pick(0, 9) < 2) continue;
      for (int o = 0; o < orders; ++o) {
        if (pick(0, 5) == 0) continue;
        c.m->f(l, o, j) = uni(-20.0, 200.0);
        c.m->psi(l, o, j) = pick(0, 30) == 0 ? uni(-1.0e7, 1.0e7) : uni(-720.0, 720.0);
        c.m->set_present(l, j);
      }
    }
  }
  const int kind = pick(0, 2);
  if (kind == 0)
    c.g = first_pass_grid(recc, delbr);
  else if (kind == 1)
    c.g = later_pass_grid(SearchState{uni(-200.0, 200.0), uni(-100.0, 100.0), uni(0.5, 1.2), 1, false, 0}, recc, delbr);
  else {
    const float phimin = uni(-400.0, 400.0), zmin = uni(-300.0, 300.0), dphi = uni(0.01, 3.0), dzed = uni(0.01, 3.0);
    c.g = make_grid(phimin, phimin + dphi * static_cast<float>(pick(0, 49)), dphi, zmin,
                    zmin + dzed * static_cast<float>(pick(0, 99)), dzed, 0.97f, 1.02f, 0.01f, recc, delbr);
  }
  c.fmean = uni(1.0, 100.0);
  for (int l = 1; l <= lines; ++l) {
    const std::int32_t nn = c.m->order(l, pick(0, c.m->orders(l) - 1));
    const std::int32_t nl = pick(0, 4) == 0 ? pick(-2000, 2000) : pick(0, 40);
    c.signs.push_back(order_signs(*c.m, l, nn, pick(0, 1) == 1));
    std::vector<TestSample> samples;
    for (int k = 0, n = pick(0, 70); k < n; ++k) {
      const float r = uni(-0.05, 1.1) * 150.0f * delbr;
      const float phase = pick(0, 30) == 0 ? uni(-1.0e7, 1.0e7) : uni(-720.0, 720.0);
      samples.push_back(prepare_test_sample(layerline::Point{r, uni(-100.0, 300.0), phase}, uni(-1.0, 2.0),
                                            uni(0.0, 2.0), nn, nl, 0, pick(0, 1)));
    }
    c.blocks.push_back(std::move(samples));
  }
  return c;
}

std::vector<phaselanes::Level> levels_here() {
  std::vector<phaselanes::Level> here;
  for (phaselanes::Level level : {phaselanes::Level::sse2, phaselanes::Level::avx2, phaselanes::Level::avx512})
    if (phaselanes::level_supported(level)) here.push_back(level);
  return here;
}

}  // namespace

TEST(GridscanModelKernel, SameSumsAsTheLiteralKernelOnRandomDataAtEveryWidth) {
  for (std::uint32_t seed = 1; seed <= 40; ++seed)
    for (const phaselanes::Level level : levels_here()) {
      SCOPED_TRACE(std::string(phaselanes::level_name(level)) + ", seed " + std::to_string(seed));
      const ModelCase c = model_case(seed);
      auto lit = std::make_unique<Accumulators>();
      std::mt19937 rng(seed);
      for (float& v : lit->residv) v = std::uniform_real_distribution<float>(0.0f, 1000.0f)(rng);
      for (float& v : lit->resid2v) v = std::uniform_real_distribution<float>(0.0f, 1000.0f)(rng);
      auto fast = std::make_unique<Accumulators>(*lit);
      ModelSums lsums, fsums;
      LiteralModelKernel literal_kernel;
      FastModelKernel fast_kernel(level);
      for (std::size_t b = 0; b < c.blocks.size(); ++b) {
        const auto l = static_cast<std::int32_t>(b + 1);
        literal_kernel.accumulate(*c.m, l, c.signs[b], c.g, c.fmean, c.blocks[b], *lit, lsums);
        fast_kernel.accumulate(*c.m, l, c.signs[b], c.g, c.fmean, c.blocks[b], *fast, fsums);
      }
      ASSERT_EQ(first_difference(lit->residv, fast->residv), "");
      ASSERT_EQ(first_difference(lit->resid2v, fast->resid2v), "");
      ASSERT_EQ(first_difference(lit->xincv, fast->xincv), "");
      ASSERT_EQ(first_difference(lit->f2sumv, fast->f2sumv), "");
      ASSERT_EQ(first_difference(lit->pointsv, fast->pointsv), "");
      ASSERT_EQ(first_difference(lsums.f1sumv, fsums.f1sumv), "");
    }
}

TEST(GridscanModelKernel, PhaseOfThePredictionIsTheArcTangent) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  double worst = 0.0;
  for (int i = 0; i < 200000; ++i) {
    const float a = std::ldexp(u(rng), i % 60 - 30), b = std::ldexp(u(rng), (i / 7) % 60 - 30);
    const double want = std::atan2(double(b), double(a)) * 180.0 / 3.14159265358979323846;
    double d = std::fabs(double(phase_degrees(a, b)) - want);
    d = std::min(d, 360.0 - d);  // -180 and 180 are one phase
    worst = std::max(worst, d);
  }
  EXPECT_LT(worst, 5.0e-5);  // a few units in the last place of phases near 180
  EXPECT_EQ(phase_degrees(0.0f, 0.0f), 0.0f);
  EXPECT_EQ(phase_degrees(-1.0f, 0.0f), 180.0f);
  EXPECT_NEAR(phase_degrees(0.0f, -2.0f), -90.0f, 1e-5f);
}
