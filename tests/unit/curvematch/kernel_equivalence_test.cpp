// The fast scoring kernel against the literal one: the same residuals and sums, bit for bit, on
// random data sets (negative amplitudes, phases far outside -180..180, large Bessel orders and
// layer-line numbers, repeated values, absent test samples, any grid), the same rescaled test
// data under both rescaling rules, and its exact reduction modulo 360.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "curvematch/fastkernel.hpp"
#include "curvematch/search.hpp"

using namespace curvematch;

namespace {

std::uint32_t bits(float v) { return std::bit_cast<std::uint32_t>(v); }

}  // namespace

TEST(CurvematchFastKernel, ReductionModulo360IsExact) {
  std::mt19937 rng(5);
  for (int i = 0; i < 200000; ++i) {
    const float v = std::ldexp(std::uniform_real_distribution<float>(1.0f, 2.0f)(rng),
                               std::uniform_int_distribution<int>(-149, 21)(rng));
    ASSERT_EQ(bits(mod360_small(v)), bits(static_cast<float>(std::fmod(static_cast<double>(v), 360.0)))) << v;
  }
  for (std::int32_t k = 1; 360.0f * static_cast<float>(k) < mod360_exact_below; k += 7) {
    const float m = 360.0f * static_cast<float>(k);
    for (float v : {std::nextafter(m, 0.0f), m, std::nextafter(m, 1.0e9f)})
      ASSERT_EQ(bits(mod360_small(v)), bits(static_cast<float>(std::fmod(static_cast<double>(v), 360.0)))) << v;
  }
}

TEST(CurvematchFastKernel, SameScoresAsTheLiteralKernelOnRandomData) {
  for (std::uint32_t seed = 1; seed <= 200; ++seed) {
    std::mt19937 rng(seed);
    auto uni = [&](double a, double b) {
      return static_cast<float>(std::uniform_real_distribution<double>(a, b)(rng));
    };
    auto pick = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); };
    auto phase = [&] {
      const int kind = pick(0, 19);
      if (kind == 0) return std::ldexp(uni(-1.0, 1.0), pick(22, 40));  // beyond the fast reduction
      if (kind < 4) return uni(-1.0e5, 1.0e5);
      return uni(-720.0, 720.0);
    };
    DataSets d;
    d.llmax = pick(1, 6);
    d.ismin = pick(1, 5);
    d.ismax = d.ismin + pick(0, 40);
    for (Table* t : {&d.a, &d.p, &d.a1, &d.p1, &d.a2, &d.p2}) t->reset(d.llmax, d.ismax + 2);
    for (std::int32_t l = 1; l <= d.llmax; ++l) {
      d.in[static_cast<std::size_t>(l)] = pick(0, 3) == 0 ? pick(-60, 60) : pick(-8, 8);
      d.inl[static_cast<std::size_t>(l)] = pick(0, 3) == 0 ? pick(-2000, 2000) : pick(0, 60);
      for (std::int32_t j = d.ismin; j <= d.ismax; ++j) {
        const bool repeat = j > d.ismin && pick(0, 9) == 0;  // the same values again: ties
        d.a.at(l, j) = repeat ? d.a.at(l, j - 1) : uni(-10.0, 100.0);
        d.p.at(l, j) = repeat ? d.p.at(l, j - 1) : phase();
        d.a2.at(l, j) = repeat ? d.a2.at(l, j - 1) : uni(-10.0, 100.0);
        d.p2.at(l, j) = repeat ? d.p2.at(l, j - 1) : phase();
      }
    }
    // present targets: all, a run inside the range, or none (a layer line the test lacks)
    for (std::int32_t l = 1; l <= d.llmax; ++l) {
      const int kind = pick(0, 3);
      const auto ls = static_cast<std::size_t>(l);
      d.a2_first[ls] = kind == 0 ? d.ismin + pick(0, 10) : kind == 1 ? d.ismax + 1 : 1;
      d.a2_last[ls] = kind == 0 ? d.ismax - pick(0, 10) : max_sample_index;
    }
    d.amin = uni(-5.0, 60.0);
    std::vector<float> phis(static_cast<std::size_t>(pick(1, 10))), zetas(static_cast<std::size_t>(pick(1, 30)));
    const float phi0 = uni(-400.0, 400.0), dphi = uni(0.01, 5.0), z0 = uni(-3000.0, 3000.0), dz = uni(0.01, 50.0);
    for (std::size_t i = 0; i < phis.size(); ++i) phis[i] = phi0 + static_cast<float>(i) * dphi;
    for (std::size_t i = 0; i < zetas.size(); ++i) zetas[i] = z0 + static_cast<float>(i) * dz;
    std::vector<float> rl(phis.size() * zetas.size()), rf(rl.size());
    const TrialScore a = score_scale_literal(d, phis, zetas, rl);
    for (const phaselanes::Level level :
         {phaselanes::Level::sse2, phaselanes::Level::avx2, phaselanes::Level::avx512}) {
      if (!phaselanes::level_supported(level)) continue;  // a width this processor does not run
      SCOPED_TRACE(std::string(phaselanes::level_name(level)));
      FastScaleKernel fast(level);
      const TrialScore b = fast.score_scale(d, phis, zetas, rf);
      for (std::size_t t = 0; t < rl.size(); ++t)
        ASSERT_EQ(bits(rl[t]), bits(rf[t])) << "seed " << seed << " trial " << t;
      EXPECT_EQ(a.npts, b.npts) << seed;
      for (auto [x, y] : {std::pair{a.fsum, b.fsum},
                          {a.f2sum, b.f2sum},
                          {a.fdsum, b.fdsum},
                          {a.fdiff, b.fdiff},
                          {a.sf, b.sf},
                          {a.rf, b.rf},
                          {a.res, b.res}})
        ASSERT_EQ(bits(x), bits(y)) << "seed " << seed;
    }
  }
}

TEST(CurvematchFastKernel, SameRescaledTestDataAsTheLiteralKernelUnderBothRules) {
  for (std::uint32_t seed = 1; seed <= 100; ++seed) {
    std::mt19937 rng(seed);
    auto uni = [&](double a, double b) {
      return static_cast<float>(std::uniform_real_distribution<double>(a, b)(rng));
    };
    auto pick = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); };
    DataSets d;
    d.llmax = pick(1, 5);
    d.ismin = pick(1, 4);
    d.ismax = d.ismin + pick(0, 60);
    d.dsr = pick(0, 1) == 0 ? 1.0f : uni(0.1, 5.0);
    d.window = {pick(0, 6), d.ismax - pick(-2, 6)};
    for (Table* t : {&d.a, &d.p, &d.a1, &d.p1, &d.a2, &d.p2}) t->reset(d.llmax, d.ismax + 2);
    for (std::int32_t l = 1; l <= d.llmax; ++l) {
      const auto ls = static_cast<std::size_t>(l);
      d.test_first[ls] = pick(0, 2) == 0 ? d.ismin + pick(0, 8) : d.ismin;
      d.test_last[ls] = pick(0, 2) == 0 ? d.ismax - pick(0, 8) : d.ismax;
      for (std::int32_t j = d.ismin; j <= d.ismax; ++j) {
        d.a1.at(l, j) = uni(-10.0, 100.0);
        d.p1.at(l, j) = pick(0, 9) == 0 ? uni(-1.0e5, 1.0e5) : uni(-720.0, 720.0);
      }
    }
    for (const RescaleRule rule : {RescaleRule::interpolated, RescaleRule::truncated})
      for (const phaselanes::Level level :
           {phaselanes::Level::sse2, phaselanes::Level::avx2, phaselanes::Level::avx512}) {
        if (!phaselanes::level_supported(level)) continue;
        SCOPED_TRACE(std::string(phaselanes::level_name(level)));
        FastScaleKernel fast(level);
        LiteralScaleKernel literal;
        DataSets e = d;
        for (int k = 0; k < 3; ++k) {  // the fast kernel tables its cosines at the first call only
          const float rsc = pick(0, 3) == 0 ? 1.0f : uni(0.4, 2.5);
          literal.rescale(d, rsc, rule);
          fast.rescale(e, rsc, rule);
          for (std::int32_t l = 1; l <= d.llmax; ++l) {
            ASSERT_EQ(d.first2(l), e.first2(l)) << seed;
            ASSERT_EQ(d.last2(l), e.last2(l)) << seed;
            for (std::int32_t j = 0; j < d.a2.cols(); ++j) {
              ASSERT_EQ(bits(d.a2.at(l, j)), bits(e.a2.at(l, j))) << "seed " << seed << " sample " << j;
              ASSERT_EQ(bits(d.p2.at(l, j)), bits(e.p2.at(l, j))) << "seed " << seed << " sample " << j;
            }
          }
        }
      }
  }
}
