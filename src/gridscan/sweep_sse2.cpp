#include "gridscan/sweep_lanes.hpp"

namespace gridscan {

void sweep_sse2(const CellSweep& s) { sweep_cells<4, 4>(s); }

SweepFn sweep_for(phaselanes::Level level) {
#if defined(__x86_64__)
  if (level == phaselanes::Level::avx512) return sweep_avx512;
  if (level == phaselanes::Level::avx2) return sweep_avx2;
#endif
  (void)level;
  return sweep_sse2;
}

}  // namespace gridscan
