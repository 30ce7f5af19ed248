// Compiled with -mavx512f; -ffp-contract=off keeps its fused multiply-adds out of every sum.
#include "gridscan/modellanes.hpp"
#include "gridscan/sweep_lanes.hpp"

namespace gridscan {

void sweep_avx512(const CellSweep& s) { sweep_cells<16, 2>(s); }

void model_terms_avx512(const ModelBatch& b) { model_terms_lanes<16>(b); }
void model_sweep_avx512(const ModelBatch& b) { model_sweep_lanes<16>(b); }

}  // namespace gridscan
