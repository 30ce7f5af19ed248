// Compiled with -mavx2 (and without -mfma: no sum is ever contracted).
#include "gridscan/sweep_lanes.hpp"

namespace gridscan {

void sweep_avx2(const CellSweep& s) { sweep_cells<8, 2>(s); }

}  // namespace gridscan
