// Compiled with -mavx2 (and without -mfma: no sum is ever contracted).
#include "curvematch/sweep_lanes.hpp"

namespace curvematch {

void sweep_avx2(const TrialSweep& s) { sweep_trials<8, 2>(s); }

}  // namespace curvematch
