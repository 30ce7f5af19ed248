// Compiled with -mavx512f; -ffp-contract=off keeps its fused multiply-adds out of every sum.
#include "curvematch/sweep_lanes.hpp"

namespace curvematch {

void sweep_avx512(const TrialSweep& s) { sweep_trials<16, 2>(s); }

}  // namespace curvematch
