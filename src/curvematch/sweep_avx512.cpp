// Compiled with -mavx512f; -ffp-contract=off keeps its fused multiply-adds out of every sum.
#include "curvematch/roundedmath_lanes.hpp"
#include "curvematch/sweep_lanes.hpp"

namespace curvematch {

void rounded_batch_avx512(const float* q, const float* y, const float* x, float* amp, float* phase,
                          std::int32_t count) {
  rounded_batch<16>(q, y, x, amp, phase, count);
}

void sweep_avx512(const TrialSweep& s) { sweep_trials<16, 2>(s); }

}  // namespace curvematch
