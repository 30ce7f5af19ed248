#include "gridscan/modellanes.hpp"
#include "gridscan/sweep_lanes.hpp"

namespace gridscan {

void sweep_sse2(const CellSweep& s) { sweep_cells<4, 4>(s); }
void model_terms_sse2(const ModelBatch& b) { model_terms_lanes<4>(b); }
void model_sweep_sse2(const ModelBatch& b) { model_sweep_lanes<4>(b); }

ModelLanes model_lanes_for(phaselanes::Level level) {
#if defined(__x86_64__)
  if (level == phaselanes::Level::avx512) return {model_terms_avx512, model_sweep_avx512};
  if (level == phaselanes::Level::avx2) return {model_terms_avx2, model_sweep_avx2};
#endif
  (void)level;
  return {model_terms_sse2, model_sweep_sse2};
}

SweepFn sweep_for(phaselanes::Level level) {
#if defined(__x86_64__)
  if (level == phaselanes::Level::avx512) return sweep_avx512;
  if (level == phaselanes::Level::avx2) return sweep_avx2;
#endif
  (void)level;
  return sweep_sse2;
}

}  // namespace gridscan
