// The sweep of CellSweep at W lanes, included by the unit of each vector width. Everything here
// has internal linkage, so each unit keeps its own copy compiled for its own processor.
#pragma once

#include "gridscan/sweep.hpp"

namespace gridscan {
namespace {

using phaselanes::vfloat_n;

// nv vectors of cells from c0, their sums kept in registers over the samples in order.
template <int W, int nv>
inline void sweep_run(const CellSweep& s, std::int32_t c0) {
  using V = vfloat_n<W>;
  using phaselanes::load_n;
  using phaselanes::splat_n;
  V r1[nv], r2[nv];
  for (int v = 0; v < nv; ++v) {
    r1[v] = load_n<W>(s.r1 + c0 + W * v);
    r2[v] = load_n<W>(s.r2 + c0 + W * v);
  }
  for (std::int32_t k = 0; k < s.count; ++k) {
    const V x0 = splat_n<W>(s.delpsi[k]);
    const V wk = splat_n<W>(s.fwt[k]), a1k = splat_n<W>(s.a1[k]), b1k = splat_n<W>(s.b1[k]);
    const V a2k = splat_n<W>(s.a2[k]), b2k = splat_n<W>(s.b2[k]);
#pragma GCC unroll 8
    for (int v = 0; v < nv; ++v) {
      const std::int32_t c = c0 + W * v;
      // delpsi + delzed - delphi, folded into 0..180: for rem in 0..360, 360 - rem is below rem
      // exactly when rem > 180.
      const V x = (x0 + load_n<W>(s.delzed + c)) - load_n<W>(s.delphi + c);
      const V rem = phaselanes::mod360_lanes(phaselanes::abs_lanes(x));
      const V other = 360.0f - rem;
      const V del = other < rem ? other : rem;
      r1[v] += del * wk;
      const V cv = load_n<W>(s.cos + c), sv = load_n<W>(s.sin + c);
      const V a3 = a2k * cv - b2k * sv;
      const V b3 = a2k * sv + b2k * cv;
      r2[v] += (a1k - a3) * (a1k - a3) + (b1k - b3) * (b1k - b3);
    }
  }
  for (int v = 0; v < nv; ++v) {
    phaselanes::store_n(s.r1 + c0 + W * v, r1[v]);
    phaselanes::store_n(s.r2 + c0 + W * v, r2[v]);
  }
}

// All cells: runs of nv vectors, then single vectors for what is left.
template <int W, int nv>
inline void sweep_cells(const CellSweep& s) {
  std::int32_t c0 = 0;
  for (; c0 + W * nv <= s.cells; c0 += W * nv) sweep_run<W, nv>(s, c0);
  for (; c0 < s.cells; c0 += W) sweep_run<W, 1>(s, c0);
}

}  // namespace
}  // namespace gridscan
