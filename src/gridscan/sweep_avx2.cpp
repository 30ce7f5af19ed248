// Compiled with -mavx2 (and without -mfma: no sum is ever contracted).
#include "gridscan/modellanes.hpp"
#include "gridscan/sweep_lanes.hpp"

namespace gridscan {

void sweep_avx2(const CellSweep& s) { sweep_cells<8, 2>(s); }

void model_terms_avx2(const ModelBatch& b) { model_terms_lanes<8>(b); }
void model_sweep_avx2(const ModelBatch& b) { model_sweep_lanes<8>(b); }

}  // namespace gridscan
