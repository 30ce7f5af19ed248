// The innermost sums of the fast kernel: every grid point (cell) of one radial scale over a batch
// of samples, the cells side by side in vectors. One copy is built for each vector width
// (sweep_sse2.cpp, sweep_avx2.cpp, sweep_avx512.cpp), each unit compiled for its processor.
#pragma once

#include <cstdint>

#include "phaselanes/phaselanes.hpp"

namespace gridscan {

// Cells are padded to a multiple of this many, the widest vector.
inline constexpr std::int32_t cell_pad = 16;

// One radial scale's batch: what each sample brings (in the order of the sums) and, per cell
// c = (iz - 1) * nph + (iph - 1), its nl*z phase, nn*phi and the cosine and sine of its rotation.
// r1 and r2 hold the cells' phase and vector sums, in and out. Every phase difference lies
// below mod360_exact_below / 2.
struct CellSweep {
  const float *delpsi, *fwt, *a1, *b1, *a2, *b2;
  std::int32_t count;
  const float *delzed, *delphi, *cos, *sin;
  std::int32_t cells;  // a multiple of cell_pad
  float *r1, *r2;
};

using SweepFn = void (*)(const CellSweep&);
void sweep_sse2(const CellSweep& s);
#if defined(__x86_64__)
void sweep_avx2(const CellSweep& s);
void sweep_avx512(const CellSweep& s);
#endif

// Rotations of a pass (at most 50) padded to whole vectors of the widest kind.
inline constexpr std::int32_t model_stride = 64;

// One radial scale's batch of samples on a layer line of several orders.
//   terms: per sample k the orders' values ca, cb at [o * kstride + k], psi, f, a2, b2, fwt at
//     [k]; the turn of each order ec, es at [o * model_stride + iph - 1]; out: at
//     [k * model_stride + iph - 1] the prediction pa, pb and delpsi; the running sum f1sum of
//     the predicted amplitudes at [iph - 1].
//   sweep: per phi row the cells of every axial shift side by side (zcells, a whole number of
//     vectors), with delzed and the cosine and sine of its turn at [iz - 1]; r1, r2 the rows'
//     sums at [(iph - 1) * zcells + iz - 1], in and out.
struct ModelBatch {
  std::int32_t count = 0, orders = 0, kstride = 0;
  const float *ca = nullptr, *cb = nullptr, *psi = nullptr, *f = nullptr, *a2 = nullptr, *b2 = nullptr;
  const float *ec = nullptr, *es = nullptr;
  std::int32_t nph = 0, phis = 0;  // phi values, and padded to whole vectors
  float fmean2 = 0.0f;
  const float* fwt = nullptr;  // the point weight of sample k, at [k]
  float *pa = nullptr, *pb = nullptr, *delpsi = nullptr;
  float* f1sum = nullptr;
  const float *delzed = nullptr, *cz = nullptr, *sz = nullptr;
  std::int32_t zcells = 0;
  float *r1 = nullptr, *r2 = nullptr;
};

using ModelFn = void (*)(const ModelBatch&);
void model_terms_sse2(const ModelBatch& b);
void model_sweep_sse2(const ModelBatch& b);
#if defined(__x86_64__)
void model_terms_avx2(const ModelBatch& b);
void model_sweep_avx2(const ModelBatch& b);
void model_terms_avx512(const ModelBatch& b);
void model_sweep_avx512(const ModelBatch& b);
#endif
// The two steps of a layer line of several orders at a level the processor runs.
struct ModelLanes {
  ModelFn terms, sweep;
};
ModelLanes model_lanes_for(phaselanes::Level level);

// The sweep of a level the processor runs.
SweepFn sweep_for(phaselanes::Level level);

}  // namespace gridscan
