// The accumulation of test samples, the penalty for uncovered reference samples, the
// evaluation of a pass, its report lines and the pass control.
#include "gridscan/search.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <vector>

#include "gridscan/kernel.hpp"

using namespace gridscan;

namespace {

// One grid point at rotation 0, shift 0 and radial scale rsc, on a radial grid of step 1.
PassGrid single_point(float rsc) { return make_grid(0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f, rsc, rsc, 0.01f, 0.01f, 1.0f); }

TestSample sample(float r, float f, float psi, std::int32_t nn = 0, std::int32_t nl = 0) {
  return prepare_test_sample(layerline::Point{r, f, psi}, 1.0f, 1.0f, nn, nl, 0, 0);
}

}  // namespace

TEST(GridscanSample, SideAndHandSwitches) {
  // Hand reversal first, then the other side: -10 + 3*180 = 530.
  const TestSample s = prepare_test_sample(layerline::Point{0.01f, 4.0f, 10.0f}, 0.5f, 3.0f, 3, 2, 1, 1);
  EXPECT_EQ(s.psi, 530.0f);
  EXPECT_EQ(s.f, 6.0f);
  EXPECT_EQ(s.a2, 6.0f * std::cos(530.0f * radian));
  EXPECT_EQ(s.b2, 6.0f * std::sin(530.0f * radian));
  EXPECT_EQ(prepare_test_sample(layerline::Point{0.01f, 4.0f, 10.0f}, 1.0f, 1.0f, 3, 2, 0, 1).psi, -10.0f);
  EXPECT_EQ(prepare_test_sample(layerline::Point{0.01f, 4.0f, 10.0f}, 1.0f, 1.0f, 3, 2, 1, 0).psi, 550.0f);
  // Any value other than 1 leaves a switch off.
  EXPECT_EQ(prepare_test_sample(layerline::Point{0.01f, 4.0f, 10.0f}, 1.0f, 1.0f, 3, 2, 2, -1).psi, 10.0f);
}

TEST(GridscanKernel, InterpolationNeedsBothNeighbours) {
  auto ref = std::make_unique<ReferenceGrid>();
  ref->f1(1, 149) = 2.0f;
  ref->f1(1, 150) = 4.0f;
  ref->psi1(1, 149) = 30.0f;
  ref->psi1(1, 150) = 30.0f;
  ref->f1(1, 10) = 5.0f;  // grid point 11 holds no sample
  const PassGrid g = single_point(1.0f);
  {
    // Between grid points 149 and 150: interpolated, amplitude 3 at phase 30.
    auto acc = std::make_unique<Accumulators>();
    accumulate_sample_literal(*ref, 1, g, 1.0f, sample(148.5f, 3.0f, 30.0f), *acc);
    EXPECT_NEAR(acc->f1sum(1, 1), 3.0f, 1e-5f);
    EXPECT_EQ(acc->f2sum(1, 1), 3.0f);
    EXPECT_NEAR(acc->points(1), 3.0f, 1e-5f);  // (3 + 3)/(2*fmean)
    EXPECT_EQ(acc->xinc(1), 1.0f);
    EXPECT_NEAR(acc->resid(1, 1, 1), 0.0f, 1e-3f);
    EXPECT_NEAR(acc->resid2(1, 1, 1), 0.0f, 1e-8f);
  }
  // At grid position 150 exactly, or next to a grid point without a sample: no sum moves.
  for (float r : {149.0f, 149.5f, 9.5f, 300.0f}) {
    auto acc = std::make_unique<Accumulators>();
    accumulate_sample_literal(*ref, 1, g, 1.0f, sample(r, 3.0f, 30.0f), *acc);
    EXPECT_EQ(acc->points(1), 0.0f) << r;
    EXPECT_EQ(acc->xinc(1), 0.0f) << r;
    EXPECT_EQ(acc->f1sum(1, 1), 0.0f) << r;
    EXPECT_EQ(acc->f2sum(1, 1), 0.0f) << r;
    EXPECT_EQ(acc->resid(1, 1, 1), 0.0f) << r;
  }
}

TEST(GridscanKernel, ScalesOfZeroOrBelowSkipTheSample) {
  auto ref = std::make_unique<ReferenceGrid>();
  for (int j = 1; j <= 20; ++j) ref->f1(1, j) = 1.0f;
  // Scales -0.03 .. 0.02: those below zero put the sample before grid point 1.
  const PassGrid g = make_grid(0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 1.0f, -0.03f, 0.02f, 0.01f, 0.01f, 1.0f);
  ASSERT_EQ(g.nrs, 6);
  auto acc = std::make_unique<Accumulators>();
  accumulate_sample_literal(*ref, 1, g, 1.0f, sample(10.0f, 1.0f, 0.0f), *acc);
  for (int irs = 1; irs <= 6; ++irs) {
    if (g.rsc(irs) < 0.0f)
      EXPECT_EQ(acc->points(irs), 0.0f) << irs;
    else
      EXPECT_GT(acc->points(irs), 0.0f) << irs;
  }
  // A negative radius (hand-written file) is skipped the same way at every positive scale.
  auto acc2 = std::make_unique<Accumulators>();
  accumulate_sample_literal(*ref, 1, first_pass_grid(0.01f, 1.0f), 1.0f, sample(-5.0f, 1.0f, 0.0f), *acc2);
  for (int irs = 1; irs <= 6; ++irs) EXPECT_EQ(acc2->points(irs), 0.0f);
}

TEST(GridscanKernel, OrderZeroIgnoresPhiAndLineZeroIgnoresZ) {
  auto ref = std::make_unique<ReferenceGrid>();
  for (int j = 1; j <= 30; ++j) {
    ref->f1(1, j) = 10.0f + static_cast<float>(j);
    ref->psi1(1, j) = 7.0f * static_cast<float>(j);
  }
  const PassGrid g = first_pass_grid(0.01f, 0.002f);
  auto n0 = std::make_unique<Accumulators>();
  accumulate_sample_literal(*ref, 1, g, 20.0f, sample(0.0301f, 25.0f, 40.0f, 0, 3), *n0);
  auto l0 = std::make_unique<Accumulators>();
  accumulate_sample_literal(*ref, 1, g, 20.0f, sample(0.0301f, 25.0f, 40.0f, 2, 0), *l0);
  bool z_matters = false, phi_matters = false;
  for (int irs = 1; irs <= g.nrs; ++irs)
    for (int iph = 1; iph <= g.nph; ++iph)
      for (int iz = 1; iz <= g.nz; ++iz) {
        EXPECT_EQ(n0->resid(iph, iz, irs), n0->resid(1, iz, irs));
        EXPECT_EQ(n0->resid2(iph, iz, irs), n0->resid2(1, iz, irs));
        EXPECT_EQ(l0->resid(iph, iz, irs), l0->resid(iph, 1, irs));
        EXPECT_EQ(l0->resid2(iph, iz, irs), l0->resid2(iph, 1, irs));
        z_matters = z_matters || n0->resid(1, iz, irs) != n0->resid(1, 1, irs);
        phi_matters = phi_matters || l0->resid(iph, 1, irs) != l0->resid(1, 1, irs);
      }
  EXPECT_TRUE(z_matters);
  EXPECT_TRUE(phi_matters);
}

TEST(GridscanPenalty, UncoveredReferenceSamplesWeighAsPhaseDifference8100) {
  auto ref = std::make_unique<ReferenceGrid>();
  for (int j = 2; j <= 10; ++j) ref->f1(1, j) = (j == 8) ? 0.0f : 3.0f;  // point 8 holds no sample
  ref->irmax[0] = 10;
  const PassGrid g = make_grid(-1.0f, 1.0f, 1.0f, -1.0f, 1.0f, 1.0f, 1.0f, 1.1f, 0.1f, 0.01f, 1.0f);
  ASSERT_EQ(g.nrs, 2);
  auto acc = std::make_unique<Accumulators>();
  // Test block ending at grid index 5: at scale 1 the reference points from int(2.5 + 4) = 6
  // to 10 are uncovered (four with samples), at scale 1.1 from int(2.5 + 4.4) = 6 as well.
  add_uncovered(*ref, 1, 5, 2.0f, g, 1.5f, *acc);
  for (int irs = 1; irs <= 2; ++irs) {
    EXPECT_EQ(acc->points(irs), 4.0f * 2.0f);  // fwt = 3/1.5 for each
    EXPECT_EQ(acc->xinc(irs), 4.0f * 2.0f);    // the layer line's weight for each
    for (int iph = 1; iph <= 3; ++iph)
      for (int iz = 1; iz <= 3; ++iz) {
        EXPECT_EQ(acc->resid(iph, iz, irs), 4.0f * 2.0f * 8100.0f);
        EXPECT_EQ(acc->resid2(iph, iz, irs), 4.0f * 9.0f);
      }
  }
  // A test block reaching past the reference leaves nothing uncovered; irmax beyond the grid
  // counts up to grid point 150.
  auto none = std::make_unique<Accumulators>();
  add_uncovered(*ref, 1, 10, 2.0f, g, 1.5f, *none);
  EXPECT_EQ(none->points(1), 0.0f);
  EXPECT_EQ(none->resid(2, 2, 1), 0.0f);
  ref->f1(1, 150) = 3.0f;
  ref->irmax[0] = 151;
  auto far = std::make_unique<Accumulators>();
  add_uncovered(*ref, 1, 12, 2.0f, g, 1.5f, *far);
  EXPECT_EQ(far->points(1), 2.0f);
}

TEST(GridscanEvaluation, MinimaTiesAndEmptyScales) {
  const PassGrid g = make_grid(-1.0f, 1.0f, 1.0f, -2.0f, 2.0f, 1.0f, 0.99f, 1.01f, 0.01f, 0.01f, 1.0f);
  ASSERT_EQ(g.nph, 3);
  ASSERT_EQ(g.nz, 5);
  ASSERT_EQ(g.nrs, 3);
  {
    // Every residual equal: the first grid point wins (smallest scale, phi, z). A scale with
    // no points is passed over, however small its sums.
    auto acc = std::make_unique<Accumulators>();
    for (int irs = 2; irs <= 3; ++irs) {
      acc->points(irs) = 2.0f;
      acc->xinc(irs) = 4.0f;
      for (int iph = 1; iph <= 3; ++iph)
        for (int iz = 1; iz <= 5; ++iz) {
          acc->resid(iph, iz, irs) = 10.0f;
          acc->resid2(iph, iz, irs) = 16.0f;
        }
    }
    SearchState st;
    const PassResult r = evaluate_pass(g, *acc, st);
    EXPECT_TRUE(r.phase_found);
    EXPECT_EQ(r.resmin, 5.0f);
    EXPECT_EQ(r.resmn2, 2.0f);
    EXPECT_EQ(st.phi0, -1.0f);
    EXPECT_EQ(st.z0, -2.0f);
    EXPECT_EQ(st.rsc0, g.rsc(2));
    EXPECT_EQ(st.ir20, 2);
    // A strictly smaller value later in the order is taken.
    acc = std::make_unique<Accumulators>();
    for (int irs = 1; irs <= 3; ++irs) {
      acc->points(irs) = 1.0f;
      acc->xinc(irs) = 1.0f;
      for (int iph = 1; iph <= 3; ++iph)
        for (int iz = 1; iz <= 5; ++iz) {
          acc->resid(iph, iz, irs) = 10.0f;
          acc->resid2(iph, iz, irs) = 1.0f;
        }
    }
    acc->resid(3, 4, 3) = 9.0f;
    acc->resid2(2, 1, 2) = 0.25f;
    const PassResult r2 = evaluate_pass(g, *acc, st);
    EXPECT_EQ(r2.resmin, 9.0f);
    EXPECT_EQ(st.phi0, 1.0f);
    EXPECT_EQ(st.z0, 1.0f);
    EXPECT_EQ(st.rsc0, g.rsc(3));
    EXPECT_EQ(r2.resmn2, 0.5f);
    EXPECT_EQ(st.ir20, 2);
  }
  {
    // No point at any scale: no minimum, and the centre of the previous pass stays.
    auto acc = std::make_unique<Accumulators>();
    SearchState st;
    st.phi0 = 4.0f;
    st.rsc0 = 1.0f;
    const PassResult r = evaluate_pass(g, *acc, st);
    EXPECT_FALSE(r.phase_found);
    EXPECT_FALSE(r.vector_found);
    EXPECT_EQ(r.resmin, 1.0e20f);
    EXPECT_EQ(st.phi0, 4.0f);
    EXPECT_EQ(st.rsc0, 1.0f);
    EXPECT_EQ(phase_minimum_line(r.resmin, st.phi0, st.z0, st.rsc0),
              "0PHASE MINIMUM ********** AT PHI=        4.0 Z=        0.0 RSCALE =       1.000");
  }
}

TEST(GridscanReport, LinesAndAmplitudeScale) {
  const std::string line = phase_minimum_line(1.2344f, -13.0f, 2.5f, 1.01f);
  EXPECT_EQ(line, "0PHASE MINIMUM      1.234 AT PHI=      -13.0 Z=        2.5 RSCALE =       1.010");
  EXPECT_EQ(line.size(), 79u);
  EXPECT_EQ(ampscale_line(0.9996f), "0MEAN AMPSCALE =   1.000");
  EXPECT_EQ(ampscale_line(std::nullopt), "0MEAN AMPSCALE = *******");

  Control c;
  c.llmax = 4;
  c.wtv = {1.0f, 1.0f, 0.0f, 2.0f};
  auto acc = std::make_unique<Accumulators>();
  acc->f1sum(1, 2) = 6.0f;  // reference over test: 2
  acc->f2sum(1, 2) = 3.0f;
  acc->f1sum(2, 2) = 5.0f;    // nothing compared: 0
  acc->f1sum(3, 2) = 100.0f;  // weight 0: not counted
  acc->f2sum(3, 2) = 1.0f;
  acc->f1sum(4, 2) = 1.0f;  // a negative test sum (flagged amplitudes) is taken itself
  acc->f2sum(4, 2) = -5.0f;
  EXPECT_EQ(mean_ampscale(c, ReferenceGrid{}, *acc, 2), (2.0f + 0.0f - 5.0f) / 3.0f);
  c.wtv = {0.0f, -1.0f, 0.0f, 0.0f};
  EXPECT_FALSE(mean_ampscale(c, ReferenceGrid{}, *acc, 2).has_value());
}

TEST(GridscanPasses, GridsAndPassControl) {
  const PassGrid first = first_pass_grid(0.004f, 0.002f);
  EXPECT_EQ(first.nph, 27);
  EXPECT_EQ(first.nz, 91);
  EXPECT_EQ(first.nrs, 6);
  EXPECT_EQ(first.phi(27), 13.0f);
  EXPECT_EQ(first.z(1), -45.0f);
  EXPECT_EQ(first.zcmin, 360.0f * -45.0f * 0.004f);
  EXPECT_EQ(first.dzc, 360.0f * 0.004f);
  SearchState st;
  EXPECT_TRUE(needs_another_pass(st, first));  // steps of 1: always refined

  // Best phi of -13 in the first pass: -15.5 .. -10.5 in steps of 0.5, z within 2.5, six
  // scales from three steps below the best one.
  st.phi0 = -13.0f;
  st.z0 = 4.0f;
  st.rsc0 = first.rsc(4);
  const PassGrid g = later_pass_grid(st, 0.004f, 0.002f);
  EXPECT_EQ(g.nph, 11);
  EXPECT_EQ(g.nz, 11);
  EXPECT_EQ(g.nrs, 6);
  EXPECT_EQ(g.phimin, -15.5f);
  EXPECT_EQ(g.phi(11), -10.5f);
  EXPECT_EQ(g.z(1), 1.5f);
  EXPECT_EQ(g.z(11), 6.5f);
  EXPECT_NEAR(g.rsc(1), 0.97f, 1e-6f);
  EXPECT_NEAR(g.rsc(6), 1.02f, 1e-6f);

  // Inside the grid: done. On a border of phi or z, or on the first two or the last scale:
  // another pass.
  SearchState in{g.phi(5), g.z(7), g.rsc(4), 1, false};
  EXPECT_FALSE(needs_another_pass(in, g));
  in.rsc0 = g.rsc(5);
  EXPECT_FALSE(needs_another_pass(in, g));
  for (SearchState s :
       {SearchState{g.phimin, g.z(7), g.rsc(4), 1, false}, SearchState{g.phimax, g.z(7), g.rsc(4), 1, false},
        SearchState{g.phi(5), g.zmin, g.rsc(4), 1, false}, SearchState{g.phi(5), g.zmax, g.rsc(4), 1, false},
        SearchState{g.phi(5), g.z(7), g.rscmin, 1, false}, SearchState{g.phi(5), g.z(7), g.rscmin + g.drsc, 1, false},
        SearchState{g.phi(5), g.z(7), g.rscmax, 1, false}})
    EXPECT_TRUE(needs_another_pass(s, g));
}

namespace {

// A kernel that only records which samples reach it.
struct RecordingKernel final : BlockKernel {
  std::vector<TestSample> seen;
  void accumulate(const ReferenceGrid&, std::int32_t, const PassGrid&, float, std::span<const TestSample> samples,
                  Accumulators&) override {
    seen.insert(seen.end(), samples.begin(), samples.end());
  }
};

std::string test_point(float r, float amp, float phase) {
  return layerline::point_record(layerline::Point{r, amp, phase}) + "\n";
}

}  // namespace

TEST(GridscanTestPass, WhichSamplesReachTheKernel) {
  Control c;
  c.llmax = 3;
  c.delbr = 0.001f;
  c.recc = 0.01f;
  c.wtv = {1.0f, 2.0f, 1.0f};
  auto ref = std::make_unique<ReferenceGrid>();
  ref->nn1 = {1, 2, 0};
  ref->nl1 = {1, 2, 3};
  for (int j = 2; j <= 20; ++j) ref->f1(1, j) = ref->f1(2, j) = 1.0f;
  ref->irmax[0] = ref->irmax[1] = 20;
  // Block 1: a sample beyond grid point 150 is skipped. Block 2: another Bessel order, so
  // nothing is compared, but its uncovered reference points still count. Block 3: another
  // layer-line number (the reference's is used), and the file ends inside the block.
  const std::string text = " a\n" + layerline::parameter_record(0.5f, 1, 1) + "\n" + test_point(0.0f, 4.0f, 10.0f) +
                           test_point(0.005f, 4.0f, 10.0f) + test_point(0.2f, 4.0f, 10.0f) +
                           layerline::terminator_record() + "\n" + " b\n" + layerline::parameter_record(1.0f, -2, 2) +
                           "\n" + test_point(0.003f, 4.0f, 10.0f) + layerline::terminator_record() + "\n" + " c\n" +
                           layerline::parameter_record(1.0f, 0, 9) + "\n" + test_point(0.001f, 6.0f, 20.0f);
  std::istringstream in(text);
  records::LineSource src(in, "fort.1");
  std::ostringstream out;
  ReportWriter report(out);
  const PassGrid g = first_pass_grid(c.recc, c.delbr);
  auto acc = std::make_unique<Accumulators>();
  SearchState st;
  RecordingKernel kernel;
  read_test_pass(src, c, *ref, g, 1.0f, *acc, st, report, kernel);
  const std::vector<TestSample>& seen = kernel.seen;
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].r, 0.0f);  // a first record at R = 0 is a sample
  EXPECT_EQ(seen[0].f, 2.0f);  // amplitude times the block weight and the layer line's weight
  EXPECT_EQ(seen[1].r, 0.005f);
  EXPECT_EQ(seen[2].nl, 3);
  EXPECT_EQ(seen[2].f, 6.0f);
  EXPECT_TRUE(st.illdiff);
  // Block 1 ended at grid index 201: nothing uncovered. Block 2 ended at grid index 4: at scale
  // 1 the reference points from int(2.5 + 3) = 5 to 20 are uncovered.
  EXPECT_EQ(acc->xinc(4), 16.0f * 2.0f);
  EXPECT_EQ(out.str(), "");
}
