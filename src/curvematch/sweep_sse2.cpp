#include "curvematch/sweep_lanes.hpp"

namespace curvematch {

void sweep_sse2(const TrialSweep& s) { sweep_trials<4, 4>(s); }

TrialSweepFn sweep_for(phaselanes::Level level) {
#if defined(__x86_64__)
  if (level == phaselanes::Level::avx512) return sweep_avx512;
  if (level == phaselanes::Level::avx2) return sweep_avx2;
#endif
  (void)level;
  return sweep_sse2;
}

}  // namespace curvematch
