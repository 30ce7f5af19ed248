// Compiled with -mavx512f; -ffp-contract=off keeps its fused multiply-adds out of every sum.
#include "gridscan/sweep_lanes.hpp"

namespace gridscan {

void sweep_avx512(const CellSweep& s) { sweep_cells<16, 2>(s); }

}  // namespace gridscan
