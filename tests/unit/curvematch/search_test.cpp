#include "curvematch/search.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

using namespace curvematch;

namespace {

// Reference and test data sets built in memory: `lines` layer lines with (N, L), samples
// 1..ismax at dsr = 1; the test phase is the reference phase plus `turn`(N, L).
template <class Turn>
DataSets pair_of(const std::vector<std::pair<std::int32_t, std::int32_t>>& lines, std::int32_t ismax, Turn turn) {
  DataSets d;
  d.llmax = static_cast<std::int32_t>(lines.size());
  d.ismin = 1;
  d.ismax = ismax;
  d.dsr = 1.0f;
  for (Table* t : {&d.a, &d.p, &d.a1, &d.p1, &d.a2, &d.p2}) t->reset(d.llmax, ismax + 2);
  for (std::int32_t l = 1; l <= d.llmax; ++l) {
    const auto [n, ll] = lines[static_cast<std::size_t>(l - 1)];
    d.in[static_cast<std::size_t>(l)] = n;
    d.inl[static_cast<std::size_t>(l)] = ll;
    for (std::int32_t j = 2; j <= ismax; ++j) {  // sample 1 stays 0: the rescaling never fills it
      const float phase = 20.0f * static_cast<float>(l) + 7.0f * static_cast<float>(j);
      d.a.at(l, j) = 1.0f + 0.1f * static_cast<float>(j);
      d.p.at(l, j) = phase;
      d.a1.at(l, j) = d.a.at(l, j);
      d.p1.at(l, j) = phase + turn(n, ll);
    }
  }
  d.amin = 0.5f;
  return d;
}

SearchGrid grid_of(float phimin, float dphi, std::int32_t ipl, float zmin, float delz, std::int32_t izl, float rscmin,
                   float drsc, std::int32_t irl) {
  return SearchGrid{phimin, dphi, ipl, zmin, delz, izl, rscmin, drsc, irl};
}

}  // namespace

TEST(Score, PhaseDifferencesAreReducedToAtMost180) {
  EXPECT_EQ(reduce_phase_difference(350.0f), 10.0f);
  EXPECT_EQ(reduce_phase_difference(-190.0f), 170.0f);
  EXPECT_EQ(reduce_phase_difference(540.0f), 180.0f);
  EXPECT_EQ(reduce_phase_difference(-30.0f), -30.0f);
  EXPECT_EQ(reduce_phase_difference(725.0f), 5.0f);
}

TEST(Score, OnlyTheLargestSampleWithACutOffOf100) {
  DataSets d;
  d.llmax = 1;
  d.ismin = 1;
  d.ismax = 3;
  for (Table* t : {&d.a, &d.p, &d.a2, &d.p2}) t->reset(1, 5);
  const float a[] = {1.0f, 5.0f, 2.0f}, a2[] = {1.0f, 4.0f, 2.0f};
  for (std::int32_t j = 1; j <= 3; ++j) {
    d.a.at(1, j) = a[j - 1];
    d.a2.at(1, j) = a2[j - 1];
  }
  d.p.at(1, 2) = 30.0f;
  d.p2.at(1, 2) = 10.0f;
  d.in[1] = 1;
  d.inl[1] = 2;
  d.amax = 5.0f;
  d.amin = 100.0f * d.amax / 100.0f;
  // phash = 1*5 - 2*0 = 5: dp = 30 - 10 + 5 = 25 at the one compared sample
  const TrialScore s = score_trial(d, 5.0f, 0.0f);
  EXPECT_EQ(s.npts, 1);
  EXPECT_EQ(s.res, 25.0f);
  EXPECT_EQ(s.fsum, 5.0f);
  EXPECT_EQ(s.sf, 1.25f);
  EXPECT_EQ(s.rf, 0.0f);
  // the axial phase step enters with -L: zshift 10 turns dp to 25 - 20 = 5
  EXPECT_EQ(score_trial(d, 5.0f, 10.0f).res, 5.0f);
}

TEST(Refinement, StepsShrinkByFiveToTheFloorThenTheFinalPass) {
  SearchGrid g = grid_of(0.0f, 2.0f, 3, 0.0f, 5.0f, 4, 1.0f, 0.01f, 4);
  const float want[][2] = {{0.4f, 1.0f}, {0.08f, 0.2f}, {0.016f, 0.04f}, {0.01f, 0.01f}};
  for (const auto& w : want) {
    ASSERT_EQ(refine_grid(g, false), Refinement::Refine);
    EXPECT_FLOAT_EQ(g.dphi, w[0]);
    EXPECT_FLOAT_EQ(g.delz, w[1]);
  }
  const SearchGrid before = g;
  EXPECT_EQ(refine_grid(g, false), Refinement::Final);
  EXPECT_EQ(g.phimin, before.phimin);  // the final pass keeps the global minimum
  EXPECT_EQ(g.zmin, before.zmin);
}

TEST(Refinement, ABorderPointWidensWithCapsAndRecentres) {
  // best point 7.0 (the last phi of the grid) with dphi = 0.5, delz = 2
  SearchGrid g = grid_of(7.0f, 0.5f, 8, 3.0f, 2.0f, 5, 1.2f, 0.02f, 3);
  EXPECT_EQ(refine_grid(g, true), Refinement::Widen);
  EXPECT_EQ(g.dphi, 1.0f);
  EXPECT_EQ(g.delz, 10.0f);
  // re-centred: the best point is grid point (n div 2) + 1: the fifth of 8, the third of 5,
  // the second of 3
  EXPECT_EQ(g.phimin + 4.0f * g.dphi, 7.0f);
  EXPECT_EQ(g.zmin + 2.0f * g.delz, 3.0f);
  EXPECT_FLOAT_EQ(g.rscmin + 1.0f * g.drsc, 1.2f);
  // a small step grows tenfold: 0.01 -> 0.1
  SearchGrid h = grid_of(0.0f, 0.01f, 3, 0.0f, 0.01f, 3, 1.0f, 0.01f, 3);
  refine_grid(h, true);
  EXPECT_FLOAT_EQ(h.dphi, 0.1f);
  EXPECT_FLOAT_EQ(h.delz, 0.1f);
}

TEST(Search, EqualResidualsKeepTheFirstTrialAndTheLowestScale) {
  // N = L = 0 and equal phases: every trial of every radial scale scores 0
  DataSets d = pair_of({{0, 0}, {0, 0}}, 20, [](std::int32_t, std::int32_t) { return 0.0f; });
  for (std::int32_t l = 1; l <= 2; ++l)
    for (std::int32_t j = 1; j <= 20; ++j) d.p.at(l, j) = d.p1.at(l, j) = 0.0f;
  // Equal minima of the radial scales: the lowest one wins by the residual alone (the R
  // factors, which differ, would settle it otherwise).
  SearchOptions by_phase;
  by_phase.scale_rule = ScaleRule::phase;
  Search s(d, grid_of(-2.0f, 1.0f, 5, -1.0f, 0.5f, 5, 0.98f, 0.01f, 4), 3.6f, by_phase);
  std::ostringstream out;
  s.pass(out);
  for (std::int32_t nr = 1; nr <= 4; ++nr) {
    EXPECT_EQ(s.rm(nr), 0.0f);
    EXPECT_EQ(s.pm(nr), s.pres(1));
    EXPECT_EQ(s.zm(nr), s.zres(1));
  }
  EXPECT_EQ(s.grid().rscmin, s.rsc(1));
  EXPECT_TRUE(s.on_border());
}

TEST(Search, BestPointInsideAtEveryPassTakesFivePassesThenTheFinalPass) {
  // test = reference shifted by z0 = -2.5 (phase change -L*360*z0/c, c = 100), no rotation
  const float z0 = -2.5f, convd = 3.6f;
  DataSets d = pair_of({{1, 1}, {-2, 3}, {3, 2}}, 30,
                       [&](std::int32_t, std::int32_t ll) { return -static_cast<float>(ll) * convd * z0; });
  // phi -2, 0, 2; z -7.5, -2.5, 2.5, 7.5; rscale 0.98 .. 1.01
  Search s(d, grid_of(-2.0f, 2.0f, 3, -7.5f, 5.0f, 4, 0.98f, 0.01f, 4), convd);
  std::ostringstream out;
  s.run(out);
  EXPECT_EQ(s.passes(), 5);
  EXPECT_FLOAT_EQ(s.grid().dphi, 0.01f);
  EXPECT_FLOAT_EQ(s.grid().delz, 0.01f);
  EXPECT_NEAR(s.grid().phimin, 0.0f, 1e-4f);
  EXPECT_NEAR(s.grid().zmin, z0, 1e-4f);
  EXPECT_NEAR(s.grid().rscmin, 1.0f, 1e-6f);
  EXPECT_LT(s.gmin(), 0.01f);
  EXPECT_EQ(s.grid().irl, 1);  // the final pass has one radial scale
}

TEST(Search, ARunThatCannotEndIsStoppedAfterItsPassBound) {
  // test in antiphase on N = L = 0: every residual is 180, never below 150
  DataSets d = pair_of({{0, 0}}, 10, [](std::int32_t, std::int32_t) { return 180.0f; });
  SearchOptions options;
  options.max_passes = 3;
  Search s(d, grid_of(-2.0f, 2.0f, 3, -1.5f, 1.0f, 4, 0.99f, 0.01f, 3), 3.6f, options);
  std::ostringstream out;
  EXPECT_THROW(s.run(out), RunStop);
  EXPECT_EQ(s.passes(), 3);
  EXPECT_EQ(s.rm(1), 150.0f);
  EXPECT_EQ(s.gmin(), 150.0f);
}

TEST(Search, TheKernelIsSelectable) {
  struct Counting final : ScaleKernel {
    int calls = 0;
    TrialScore score_scale(const DataSets& d, std::span<const float> phis, std::span<const float> zetas,
                           std::span<float> res) override {
      ++calls;
      return score_scale_literal(d, phis, zetas, res);
    }
  } counting;
  SearchOptions options;
  options.own_kernel = &counting;
  DataSets d = pair_of({{1, 1}}, 10, [](std::int32_t, std::int32_t) { return 0.0f; });
  Search s(d, grid_of(-2.0f, 2.0f, 3, -1.5f, 1.0f, 4, 0.99f, 0.01f, 3), 3.6f, options);
  std::ostringstream out;
  s.pass(out);
  EXPECT_EQ(counting.calls, 3);  // once per radial scale
}

TEST(Search, TheRadialScaleIsSettledByTheRFactorWithinTheFlatValley) {
  // A kernel that scores each radial scale as scripted: one trial at the scale's minimum
  // residual (a trial of its own per scale), every other trial 10 degrees above, and the
  // scale's R factor. The lowest residual is 1.0 at scale 2, so the valley reaches
  // 1.0 + 0.1 + 0.05 = 1.15: scale 3 (1.08) lies in it, scale 4 (3.0) does not, however low its
  // R factor. By amplitudes scale 3 wins, with its own phi, z and residual; by phase, scale 2.
  struct Scripted final : ScaleKernel {
    std::vector<float> rm, rf;
    std::size_t calls = 0;
    TrialScore score_scale(const DataSets&, std::span<const float>, std::span<const float>,
                           std::span<float> res) override {
      const std::size_t nr = calls++ % rm.size();
      for (float& r : res) r = rm[nr] + 10.0f;
      res[nr + 1] = rm[nr];  // trial np = nr + 2, nz = 1
      TrialScore t;
      t.rf = rf[nr];
      return t;
    }
  };
  for (const ScaleRule rule : {ScaleRule::amplitudes, ScaleRule::phase}) {
    Scripted k;
    k.rm = {5.0f, 1.0f, 1.08f, 3.0f};
    k.rf = {0.1f, 0.3f, 0.05f, 0.01f};
    SearchOptions options;
    options.own_kernel = &k;
    options.scale_rule = rule;
    DataSets d = pair_of({{1, 1}}, 10, [](std::int32_t, std::int32_t) { return 0.0f; });
    Search s(d, grid_of(-3.0f, 1.0f, 7, -1.5f, 1.0f, 4, 0.98f, 0.01f, 4), 3.6f, options);
    std::ostringstream out;
    s.pass(out);
    const std::int32_t want = rule == ScaleRule::amplitudes ? 3 : 2;
    EXPECT_EQ(s.grid().rscmin, s.rsc(want));
    EXPECT_EQ(s.grid().phimin, s.pres(want + 1));
    EXPECT_EQ(s.grid().zmin, s.zres(1));
    EXPECT_EQ(s.gmin(), k.rm[static_cast<std::size_t>(want - 1)]);
    EXPECT_EQ(s.rfmin(), k.rf[static_cast<std::size_t>(want - 1)]);
  }
  EXPECT_EQ(valley_margin(1.0f), 0.1f + 0.05f);
}
