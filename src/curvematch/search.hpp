// curvematch's grid search: scoring one trial, the passes over the (phi, z, rscale) grid, the
// global minimum and the widening or refinement of the grid between passes.
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <string_view>
#include <vector>

#include "curvematch/control.hpp"
#include "curvematch/datasets.hpp"
#include "phaselanes/phaselanes.hpp"

namespace curvematch {

// A phase difference reduced to 0..180 in magnitude: the remainder of x by 360 with the sign of
// x (fmod on the double value of x), then 360 - |dp| when |dp| > 180.
float reduce_phase_difference(float x);

// The sums of one trial. npts, fsum, f2sum, sf and rf depend only on the radial scale.
struct TrialScore {
  std::int32_t npts = 0;
  float fsum = 0.0f;   // reference amplitudes over the compared samples
  float f2sum = 0.0f;  // rescaled test amplitudes over them
  float fdsum = 0.0f;  // reference amplitude times squared phase difference
  float fdiff = 0.0f;  // absolute amplitude differences after scaling
  float sf = 0.0f;     // amplitude scale factor reference/test
  float rf = 0.0f;     // R factor
  float res = 0.0f;    // phase residual in degrees
};

// Scores the trial rotation phishf (degrees) and axial phase step zshift (z*360/rep_dis) of the
// test data in a2, p2 against the reference: samples with a >= amin whose rescaled test value is
// present (first2..last2) are compared, in layer-line order and within each layer line in
// sample order.
TrialScore score_trial(const DataSets& d, float phishf, float zshift);

// Scores every trial of one radial scale: res[(nz-1)*ipl + (np-1)] for rotation phis[np-1] and
// axial phase step zetas[nz-1]. Returns the sums of the last trial (nz = izl, np = ipl).
TrialScore score_scale_literal(const DataSets& d, std::span<const float> phis, std::span<const float> zetas,
                               std::span<float> res);

// A kernel scores every trial of one radial scale as score_scale_literal does; a faster one
// must give every residual and the returned sums the same bits.
class ScaleKernel {
 public:
  virtual ~ScaleKernel() = default;
  virtual TrialScore score_scale(const DataSets& d, std::span<const float> phis, std::span<const float> zetas,
                                 std::span<float> res) = 0;
  // Rescales the test data (rescale_test); the test data as read do not change during a search.
  virtual void rescale(DataSets& d, float rsc, RescaleRule rule) { rescale_test(d, rsc, rule); }
};

// The straightforward kernel: score_trial for each trial in turn, z outer, phi inner.
class LiteralScaleKernel final : public ScaleKernel {
 public:
  TrialScore score_scale(const DataSets& d, std::span<const float> phis, std::span<const float> zetas,
                         std::span<float> res) override {
    return score_scale_literal(d, phis, zetas, res);
  }
};

// The literal kernel, the fast one at the widest vectors the processor runs, or the fast one at
// a given width (shared with the other search program).
using phaselanes::kernel_by_name;
using phaselanes::kernel_level;
using phaselanes::KernelChoice;
// The kernel of a choice; a width the processor does not run must have been refused before.
std::unique_ptr<ScaleKernel> make_kernel(KernelChoice choice);

// What the refinement decides after a search pass.
enum class Refinement { Widen, Refine, Final };

// The search grid as it moves between passes: origins and steps of the three dimensions.
struct SearchGrid {
  float phimin = 0.0f, dphi = 0.0f;
  std::int32_t ipl = 0;
  float zmin = 0.0f, delz = 0.0f;
  std::int32_t izl = 0;
  float rscmin = 0.0f, drsc = 0.0f;
  std::int32_t irl = 0;
};

// Widens (best point on the border: steps times 10, at most 1.0 degree and 10.0 Angstroms) or
// refines (steps divided by 5, at least 0.01) the steps and re-centres the grid on the best
// point (phimin, zmin, rscmin on entry), or, when the steps are already at most 0.01, decides
// on the final pass and leaves the grid unchanged.
Refinement refine_grid(SearchGrid& g, bool on_border);

// How a pass settles the radial scale of its global minimum. The phase residual hardly tells
// neighbouring scales apart where the phases are flat between Bessel zeros, while the amplitudes
// do: among the scales whose minimum residual lies within valley_margin of the lowest one, the
// one with the lowest R factor is taken (amplitudes). phase: the lowest residual alone.
enum class ScaleRule { amplitudes, phase };

// The margin of the flat valley above the lowest phase residual m (degrees): 0.1 degree plus 5
// percent of m, so that noise-free data (residuals of a few hundredths) and noisy data (tens of
// degrees) both have a valley a little wider than the scatter of their residuals.
inline float valley_margin(float m) { return 0.1f + 0.05f * std::fabs(m); }

struct SearchOptions {
  KernelChoice kernel = KernelChoice::fast;
  RescaleRule rescale = RescaleRule::interpolated;
  ScaleRule scale_rule = ScaleRule::amplitudes;
  // Read with the test file (load_test), kept here with the run's other options.
  ShortTestRule short_test = ShortTestRule::absent;
  // A kernel of the caller's own, used instead when given (tests).
  ScaleKernel* own_kernel = nullptr;
  // Search passes before the run is stopped as unable to end (a best point that stays on the
  // border of the grid, or no trial below 150 degrees).
  std::int32_t max_passes = 1000;
};

// The search with its report blocks. Runs search passes until the final pass, leaving a2, p2
// rescaled at the radial scale of the global minimum.
class Search {
 public:
  Search(DataSets& d, const SearchGrid& start, float convd, SearchOptions options = {});

  // One search pass over the grid: a scale block per radial scale and the pass summary.
  void pass(std::ostream& out);
  // Whether the best point of the last pass lies on the border of its grid.
  bool on_border() const;
  // Runs passes until the final pass (throws RunStop after max_passes), then rescales the
  // test data at the radial scale of the global minimum.
  void run(std::ostream& out);

  const SearchGrid& grid() const { return g_; }
  std::int32_t passes() const { return passes_; }
  float gmin() const { return gmin_; }
  float rfmin() const { return rfmin_; }
  // The sums of the last trial scored (fsum, f2sum for the final report).
  const TrialScore& last() const { return last_; }
  // Values of the last pass, 1-based.
  float rsc(std::int32_t nr) const { return rsc_[static_cast<std::size_t>(nr)]; }
  float rm(std::int32_t nr) const { return rm_[static_cast<std::size_t>(nr)]; }
  float pm(std::int32_t nr) const { return pm_[static_cast<std::size_t>(nr)]; }
  float zm(std::int32_t nr) const { return zm_[static_cast<std::size_t>(nr)]; }
  float rf(std::int32_t nr) const { return rf_[static_cast<std::size_t>(nr)]; }
  float pres(std::int32_t np) const { return pres_[static_cast<std::size_t>(np)]; }
  float zres(std::int32_t nz) const { return zres_[static_cast<std::size_t>(nz)]; }
  float res(std::int32_t np, std::int32_t nz) const {
    return res_[static_cast<std::size_t>((nz - 1) * g_.ipl + (np - 1))];
  }

 private:
  void score_scale(std::int32_t nr, std::ostream& out);

  DataSets& d_;
  SearchGrid g_;
  float convd_;
  SearchOptions options_;
  std::unique_ptr<ScaleKernel> kernel_;
  ScaleKernel* score_ = nullptr;
  std::int32_t passes_ = 0;
  float gmin_ = 0.0f, rfmin_ = 0.0f;
  TrialScore last_;
  std::vector<float> rsc_, rm_, pm_, zm_, rf_, pres_, zres_, zetas_, res_;
};

}  // namespace curvematch
