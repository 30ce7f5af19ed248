// The innermost sums of the fast scoring kernel: fdsum of every trial of one radial scale over
// the compared samples in order, the trials side by side in vectors. One copy is built for each
// vector width (sweep_sse2.cpp, sweep_avx2.cpp, sweep_avx512.cpp), each unit compiled for its
// processor.
#pragma once

#include <cstdint>

#include "phaselanes/phaselanes.hpp"

namespace curvematch {

// Trials are padded to a multiple of this many, the widest vector.
inline constexpr std::int32_t trial_pad = 16;

// A layer line with compared samples: their range in the gathered arrays, and N and L.
struct SweepLine {
  std::int32_t begin = 0, end = 0;
  float n = 0.0f, l = 0.0f;
};

// The compared samples (reference amplitude a, phase difference p - p2), the layer lines, and
// per trial its rotation and axial phase step; fdsum receives every trial's sum. Every phase
// difference lies below mod360_exact_below / 2.
struct TrialSweep {
  const float *a, *diff;
  const SweepLine* lines;
  std::int32_t nlines;
  const float *phi, *zeta;
  std::int32_t trials;  // a multiple of trial_pad
  float* fdsum;
};

using TrialSweepFn = void (*)(const TrialSweep&);
void sweep_sse2(const TrialSweep& s);
#if defined(__x86_64__)
void sweep_avx2(const TrialSweep& s);
void sweep_avx512(const TrialSweep& s);
#endif

// The sweep of a level the processor runs.
TrialSweepFn sweep_for(phaselanes::Level level);

}  // namespace curvematch
