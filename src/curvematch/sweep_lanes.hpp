// The sweep of TrialSweep at W lanes, included by the unit of each vector width. Everything here
// has internal linkage, so each unit keeps its own copy compiled for its own processor.
#pragma once

#include "curvematch/sweep.hpp"

namespace curvematch {
namespace {

// nv vectors of trials from t0, their sums kept in registers over the samples in order.
template <int W, int nv>
inline void sweep_run(const TrialSweep& s, std::int32_t t0) {
  using V = phaselanes::vfloat_n<W>;
  using phaselanes::load_n;
  using phaselanes::splat_n;
  V ph[nv], ze[nv], acc[nv];
  for (int v = 0; v < nv; ++v) {
    ph[v] = load_n<W>(s.phi + t0 + W * v);
    ze[v] = load_n<W>(s.zeta + t0 + W * v);
    acc[v] = V{};
  }
  for (std::int32_t li = 0; li < s.nlines; ++li) {
    const SweepLine line = s.lines[li];
    V phash[nv];
    for (int v = 0; v < nv; ++v) phash[v] = line.n * ph[v] - line.l * ze[v];
    for (std::int32_t k = line.begin; k < line.end; ++k) {
      const V ak = splat_n<W>(s.a[k]);
      const V dk = splat_n<W>(s.diff[k]);
#pragma GCC unroll 8
      for (int v = 0; v < nv; ++v) {
        // The square of the reduced phase difference: with r = |x| mod 360 the difference is r,
        // or 360 - r when r > 180 (exactly when 360 - r is below r); its sign does not matter.
        const V r = phaselanes::mod360_lanes(phaselanes::abs_lanes(dk + phash[v]));
        const V other = 360.0f - r;
        const V dp = other < r ? other : r;
        acc[v] += ak * (dp * dp);
      }
    }
  }
  for (int v = 0; v < nv; ++v) phaselanes::store_n(s.fdsum + t0 + W * v, acc[v]);
}

// All trials: runs of nv vectors, then single vectors for what is left.
template <int W, int nv>
inline void sweep_trials(const TrialSweep& s) {
  std::int32_t t0 = 0;
  for (; t0 + W * nv <= s.trials; t0 += W * nv) sweep_run<W, nv>(s, t0);
  for (; t0 < s.trials; t0 += W) sweep_run<W, 1>(s, t0);
}

}  // namespace
}  // namespace curvematch
