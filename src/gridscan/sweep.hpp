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

// The sweep of a level the processor runs.
SweepFn sweep_for(phaselanes::Level level);

}  // namespace gridscan
