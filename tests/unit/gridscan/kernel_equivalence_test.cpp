// The fast kernel against the literal one: the same sums, bit for bit, on random data (negative
// amplitudes, phases far outside -180..180, large Bessel orders and layer-line numbers,
// repeated samples, samples off the grid, any grid) at every vector width the processor runs,
// and its exact reduction modulo 360.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <iostream>
#include <memory>
#include <random>
#include <vector>

#include "first_difference.hpp"
#include "gridscan/fastkernel.hpp"
#include "gridscan/kernel.hpp"
#include "gridscan/search.hpp"

using namespace gridscan;

namespace {

float reference_mod360(float d) { return static_cast<float>(std::fmod(static_cast<double>(d), 360.0)); }

struct RandomCase {
  std::unique_ptr<ReferenceGrid> ref = std::make_unique<ReferenceGrid>();
  std::vector<std::vector<TestSample>> blocks;  // block l - 1
  PassGrid g;
  float fmean = 1.0f;
};

RandomCase random_case(std::uint32_t seed) {
  std::mt19937 rng(seed);
  auto uni = [&](double a, double b) { return static_cast<float>(std::uniform_real_distribution<double>(a, b)(rng)); };
  auto pick = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); };
  // A phase: mostly within a few turns, sometimes far outside, now and then beyond the range
  // of the single-precision reduction.
  auto phase = [&] {
    const int kind = pick(0, 19);
    if (kind == 0) return std::ldexp(uni(-1.0, 1.0), pick(22, 40));
    if (kind < 4) return uni(-1.0e5, 1.0e5);
    return uni(-720.0, 720.0);
  };
  RandomCase c;
  const float delbr = std::array<float, 3>{0.001f, 0.0013f, 0.5f}[static_cast<std::size_t>(pick(0, 2))];
  const float recc = uni(0.0001, 0.05);
  const int lines = pick(1, 3);
  for (int l = 1; l <= lines; ++l)
    for (int j = 1; j <= nrmax; ++j) {
      if (pick(0, 9) < 2) continue;  // no sample at this grid point
      c.ref->f1(l, j) = pick(0, 9) == 0 ? -999.0f : uni(-50.0, 200.0);
      c.ref->psi1(l, j) = phase();
    }
  // The grid: the first pass, a later pass about a random centre, or a random small grid.
  const int grid_kind = seed % 40 == 0 ? 0 : pick(1, 3);
  if (grid_kind == 0) {
    c.g = first_pass_grid(recc, delbr);
  } else if (grid_kind == 1) {
    c.g = later_pass_grid(SearchState{uni(-200.0, 200.0), uni(-100.0, 100.0), uni(-0.05, 1.2), 1, false}, recc, delbr);
  } else {
    const float phimin = uni(-400.0, 400.0), zmin = uni(-300.0, 300.0), rscmin = uni(0.5, 1.5);
    const float dphi = uni(0.01, 3.0), dzed = uni(0.01, 3.0), drsc = uni(0.001, 0.05);
    c.g = make_grid(phimin, phimin + dphi * static_cast<float>(pick(0, 49)), dphi, zmin,
                    zmin + dzed * static_cast<float>(pick(0, 19)), dzed, rscmin,
                    rscmin + drsc * static_cast<float>(pick(0, 9)), drsc, recc, delbr);
  }
  const std::int64_t cells = std::int64_t{c.g.nph} * c.g.nz * c.g.nrs;
  c.fmean = uni(1.0, 100.0);
  for (int l = 1; l <= lines; ++l) {
    // Large orders and layer-line numbers now and then, and 0 for either.
    const std::int32_t nn = pick(0, 4) == 0 ? pick(-60, 60) : pick(-4, 4);
    const std::int32_t nl = pick(0, 4) == 0 ? pick(-2000, 2000) : pick(0, 40);
    // Enough samples to cross the fast kernel's batch when the grid is small.
    const int n = cells <= 400 ? pick(0, 600) : pick(0, 40);
    std::vector<TestSample> samples;
    for (int k = 0; k < n; ++k) {
      if (k > 0 && pick(0, 9) == 0) {  // the same sample again: ties in every sum
        samples.push_back(samples.back());
        continue;
      }
      const float r = uni(-0.05, 1.1) * 150.0f * delbr;
      samples.push_back(prepare_test_sample(layerline::Point{r, uni(-100.0, 300.0), phase()}, uni(-1.0, 2.0),
                                            uni(0.0, 2.0), nn, nl, pick(0, 1), pick(0, 1)));
    }
    c.blocks.push_back(std::move(samples));
  }
  return c;
}

}  // namespace

TEST(GridscanFastKernel, ReductionModulo360IsExact) {
  // Around every multiple of 360 in range, a few units in the last place either side.
  for (std::int32_t k = 0; 360.0f * static_cast<float>(k) < mod360_exact_below; ++k) {
    float v = 360.0f * static_cast<float>(k);
    for (int step = 0; step < 4; ++step) v = std::nextafter(v, 0.0f);
    for (int step = 0; step < 9; ++step, v = std::nextafter(v, mod360_exact_below))
      ASSERT_EQ(std::bit_cast<std::uint32_t>(mod360_small(v)), std::bit_cast<std::uint32_t>(reference_mod360(v))) << v;
  }
  // Values spread over every binade below the bound, 180 and the smallest values.
  std::mt19937 rng(11);
  for (int i = 0; i < 200000; ++i) {
    const float v = std::ldexp(std::uniform_real_distribution<float>(1.0f, 2.0f)(rng),
                               std::uniform_int_distribution<int>(-149, 21)(rng));
    ASSERT_EQ(std::bit_cast<std::uint32_t>(mod360_small(v)), std::bit_cast<std::uint32_t>(reference_mod360(v))) << v;
  }
  for (float v : {0.0f, 180.0f, 359.99997f, 360.0f, 720.0f, 1.0e-45f})
    EXPECT_EQ(std::bit_cast<std::uint32_t>(mod360_small(v)), std::bit_cast<std::uint32_t>(reference_mod360(v))) << v;
}

// The vector widths this processor runs; the others are skipped with a message.
static std::vector<phaselanes::Level> levels_here() {
  std::vector<phaselanes::Level> here;
  for (phaselanes::Level level : {phaselanes::Level::sse2, phaselanes::Level::avx2, phaselanes::Level::avx512}) {
    if (phaselanes::level_supported(level))
      here.push_back(level);
    else
      std::cout << "[ SKIPPED  ] " << phaselanes::level_name(level) << ": not run by this processor\n";
  }
  return here;
}

TEST(GridscanFastKernel, SameSumsAsTheLiteralKernelOnRandomDataAtEveryWidth) {
  const std::vector<phaselanes::Level> levels = levels_here();
  for (std::uint32_t seed = 1; seed <= 300; ++seed)
    for (const phaselanes::Level level : levels) {
      SCOPED_TRACE(std::string(phaselanes::level_name(level)));
      const RandomCase c = random_case(seed);
      auto lit = std::make_unique<Accumulators>();
      // Sums that do not start at zero, as after earlier blocks of a pass.
      std::mt19937 rng(seed);
      for (float& v : lit->residv) v = std::uniform_real_distribution<float>(0.0f, 1000.0f)(rng);
      for (float& v : lit->resid2v) v = std::uniform_real_distribution<float>(0.0f, 1000.0f)(rng);
      auto fast = std::make_unique<Accumulators>(*lit);
      LiteralKernel literal_kernel;
      FastKernel fast_kernel(level);
      ASSERT_EQ(fast_kernel.level(), level);
      for (std::size_t b = 0; b < c.blocks.size(); ++b) {
        const auto l = static_cast<std::int32_t>(b + 1);
        literal_kernel.accumulate(*c.ref, l, c.g, c.fmean, c.blocks[b], *lit);
        fast_kernel.accumulate(*c.ref, l, c.g, c.fmean, c.blocks[b], *fast);
      }
      ASSERT_EQ(first_difference(lit->residv, fast->residv), "") << "seed " << seed;
      ASSERT_EQ(first_difference(lit->resid2v, fast->resid2v), "") << "seed " << seed;
      ASSERT_EQ(first_difference(lit->pointsv, fast->pointsv), "") << "seed " << seed;
      ASSERT_EQ(first_difference(lit->xincv, fast->xincv), "") << "seed " << seed;
      ASSERT_EQ(first_difference(lit->f1sumv, fast->f1sumv), "") << "seed " << seed;
      ASSERT_EQ(first_difference(lit->f2sumv, fast->f2sumv), "") << "seed " << seed;
      // And so the same minima.
      SearchState sl, sf;
      const PassResult rl = evaluate_pass(c.g, *lit, sl);
      const PassResult rf = evaluate_pass(c.g, *fast, sf);
      ASSERT_EQ(std::bit_cast<std::uint32_t>(rl.resmin), std::bit_cast<std::uint32_t>(rf.resmin)) << "seed " << seed;
      ASSERT_EQ(std::bit_cast<std::uint32_t>(rl.resmn2), std::bit_cast<std::uint32_t>(rf.resmn2)) << "seed " << seed;
      ASSERT_EQ(sl.phi0, sf.phi0);
      ASSERT_EQ(sl.z0, sf.z0);
      ASSERT_EQ(sl.rsc0, sf.rsc0);
      ASSERT_EQ(sl.ir20, sf.ir20);
    }
}
