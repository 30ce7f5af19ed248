// Compiled with -mavx2 (and without -mfma: no sum is ever contracted).
#include "curvematch/roundedmath_lanes.hpp"
#include "curvematch/sweep_lanes.hpp"

namespace curvematch {

void rounded_batch_avx2(const float* q, const float* y, const float* x, float* amp, float* phase, std::int32_t count) {
  rounded_batch<8>(q, y, x, amp, phase, count);
}

void sweep_avx2(const TrialSweep& s) { sweep_trials<8, 2>(s); }

}  // namespace curvematch
