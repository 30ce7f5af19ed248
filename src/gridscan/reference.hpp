// Loading the reference data set onto its radial grid.
#pragma once

#include "gridscan/control.hpp"
#include "gridscan/grids.hpp"
#include "gridscan/report.hpp"
#include "records/source.hpp"

namespace gridscan {

// Reads llmax blocks of the reference point-list file into ref. Sample R is filed at grid point
// ir = int(R/delbr + 1.1); points beyond grid point 150 (and, for negative R, before grid point
// 1) are not stored, nor are flagged samples (amplitude -999.0) unless c.flags_as_amplitudes,
// nor samples beyond the resolution limit of c (a layer line wholly beyond it is marked in
// ref.beyond); all of them still count as the block's latest point record. A block ends at a
// record with R = 0 once a point has been filed. The end of the file inside a run of point
// records ends the loading there: that block keeps its stored samples but counts in neither
// sumf1 nor allpts. The end of the file where a label or parameter record is expected throws
// ReadError. With iprint = 1 every point record is echoed.
void load_reference(records::LineSource& src, const Control& c, ReferenceGrid& ref, ReportWriter& report);

}  // namespace gridscan
