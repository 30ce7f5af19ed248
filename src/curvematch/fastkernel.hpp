// The fast scoring kernel of one radial scale. Every trial gets the same sums, in the same
// order, as the literal kernel; only the work around them changes:
// - the compared samples, and the sums that depend only on the radial scale (npts, fsum, f2sum,
//   sf, the R factor), are gathered and summed once per scale instead of once per trial;
// - the phase difference p - p2 of every compared sample is formed once per scale;
// - trials are taken side by side, each lane of a vector keeping its own sum over the samples
//   in their order, so that the compiler vectorises across trials;
// - the test amplitudes times the cosines and sines of the test phases that the rescaling
//   interpolates are tabled once, its square roots and arc tangents taken side by side in
//   vectors (roundedmath.hpp);
// - the rescaled test data of every radial scale are kept, and used again when a later pass
//   meets the same scale;
// - the reduction modulo 360 is done exactly in single precision, without a library call, when
//   the phase differences are small enough for that to be exact.
#pragma once

#include <cstdint>
#include <vector>

#include "curvematch/search.hpp"
#include "curvematch/sweep.hpp"
#include "phaselanes/phaselanes.hpp"

namespace curvematch {

using phaselanes::inv360;
using phaselanes::mod360_exact_below;
using phaselanes::mod360_small;

class FastScaleKernel final : public ScaleKernel {
 public:
  // The vectors of level (which the processor must run); by default the widest it runs.
  explicit FastScaleKernel(phaselanes::Level level = phaselanes::widest_level())
      : level_(level), sweep_(sweep_for(level)) {}
  phaselanes::Level level() const { return level_; }
  TrialScore score_scale(const DataSets& d, std::span<const float> phis, std::span<const float> zetas,
                         std::span<float> res) override;
  // The rescaling with a1 times the cosines and sines of the test phases tabled at the first call.
  void rescale(DataSets& d, float rsc, RescaleRule rule) override;

  static constexpr std::int32_t lanes = trial_pad;  // trials are padded to whole vectors of this many

  using Line = SweepLine;

 private:
  // The compared samples of the scale in the order of the sums: reference amplitude, p - p2,
  // rescaled test amplitude.
  std::vector<float> a_, diff_, a2_;
  std::vector<Line> lines_;
  std::vector<float> phi_, zeta_, fdsum_;  // per trial, padded to whole vectors
  bool tabled_ = false;
  // The test data rescaled by the interpolated rule at the radial scales met so far (the grid's radial step never
  // changes, so later passes meet most of the earlier scales again), the oldest dropped first
  // beyond cache_bytes.
  struct Rescaled {
    std::uint32_t rsc_bits;
    Table a2, p2;
    std::vector<std::int32_t> first, last;
  };
  std::vector<Rescaled> rescaled_;
  static constexpr std::size_t cache_bytes = std::size_t{64} << 20;
  Table ac_, as_;  // a1 times cos and sin of p1/deg
  phaselanes::Level level_;
  TrialSweepFn sweep_;
};

}  // namespace curvematch
