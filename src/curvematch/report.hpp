// Everything curvematch writes: the report blocks on standard output, the results record and
// the fitted test file.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include "curvematch/control.hpp"
#include "curvematch/datasets.hpp"

namespace curvematch {

class Search;

// The start echo after the prompt: results file name, 40 NUL characters, test file name and
// the "hi there" line with irmin, irmax.
void write_start(std::ostream& out, const RunInput& in);

// The data summary after both data sets are loaded.
void write_data_summary(std::ostream& out, const RunInput& in, const DataSets& d);

// The scale block of radial scale nr of the current pass.
void write_scale_block(std::ostream& out, const Search& s, std::int32_t nr);
// The minimum-locations table of a pass.
void write_minimum_locations(std::ostream& out, const Search& s);
// "**** global minimum ****", its "residual =" line and the R factor line.
void write_global_minimum(std::ostream& out, float gmin, float phimin, float zmin, float rscmin, float rfmin);

// "residual =" with the global minimum, as the pass summary and the final report show it.
std::string residual_line(float gmin, float phimin, float zmin, float rscmin);

// One row of the per-layer-line table (68 characters, or 67 with "--" when resl is exactly 0).
struct LayerLineRow {
  std::int32_t l = 0, L = 0, N = 0;
  float zr = 0.0f;
  std::int32_t npts = 0, ipt0 = 0, iptm = 0;
  float ra = 0.0f, ta = 0.0f, resl = 0.0f;
};
std::string layer_line_row(const LayerLineRow& row);

// The per-layer-line residuals at the global minimum, with a2, p2 rescaled at rscmin, as rows.
LayerLineRow layer_line_at_minimum(const DataSets& d, std::int32_t l, float phimin, float zmin, float convd,
                                   float rep_dis, float fsum, float f2sum);

// The final report: the table, the closing "residual =" and R factor lines.
void write_final_report(std::ostream& out, const DataSets& d, const Search& s, float convd, float rep_dis);

// The results record, 42 characters: (rfmin - 1)*100000 and gmin*1000 as integers, phimin, zmin,
// rscmin. A product that is not finite or does not fit an integer is written as asterisks.
std::string results_record(float rfmin, float phimin, float zmin, float rscmin, float gmin);

// Overwrites ltlga, ltlgb with the test data moved to the global minimum: amplitude a2 and phase
// p2 - phash brought into 0..360.
void fit_test_data(DataSets& d, float phimin, float zmin, float convd);
// The fitted test file: the reference title and header, then both value groups per layer line.
std::string fitted_file_text(const DataSets& d);

}  // namespace curvematch
