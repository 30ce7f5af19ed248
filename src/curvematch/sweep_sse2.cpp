#include "curvematch/roundedmath_lanes.hpp"
#include "curvematch/sweep_lanes.hpp"

namespace curvematch {

void rounded_batch_sse2(const float* q, const float* y, const float* x, float* amp, float* phase, std::int32_t count) {
  rounded_batch<4>(q, y, x, amp, phase, count);
}

void sweep_sse2(const TrialSweep& s) { sweep_trials<4, 4>(s); }

TrialSweepFn sweep_for(phaselanes::Level level) {
#if defined(__x86_64__)
  if (level == phaselanes::Level::avx512) return sweep_avx512;
  if (level == phaselanes::Level::avx2) return sweep_avx2;
#endif
  (void)level;
  return sweep_sse2;
}

RoundedBatchFn rounded_batch_for(phaselanes::Level level) {
#if defined(__x86_64__)
  if (level == phaselanes::Level::avx512) return rounded_batch_avx512;
  if (level == phaselanes::Level::avx2) return rounded_batch_avx2;
#endif
  (void)level;
  return rounded_batch_sse2;
}

}  // namespace curvematch
