// The gridded layer-line file: a title, a header, then per layer line two value groups (real
// parts, then imaginary parts) on the radial grid j = ismin..ismax.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "records/source.hpp"

namespace layerline {

struct GriddedHeader {
  std::string title;         // columns 1-40 of the title record
  std::int32_t llmax = 0;    // number of layer lines
  std::int32_t ismin = 0;    // first radial sample index held
  std::int32_t ismax = 0;    // last radial sample index held
  float dsr = 0.0f;          // sample j lies at radius (j-1)*dsr
};

struct ValueGroup {
  std::int32_t n = 0;         // Bessel order
  std::int32_t l = 0;         // layer-line number
  std::vector<float> values;  // values for j = ismin..ismax
};

// Reads the title record and the header record. The end of the input throws ReadError.
GriddedHeader read_gridded_header(records::LineSource& src);

// Reads one value group: the n, l record, then ten values a record (12 wide, 6 decimals) for
// j = ismin..ismax. ismax < ismin throws ReadError (no values to read); so does an end of the
// input before the group is complete.
ValueGroup read_value_group(records::LineSource& src, std::int32_t ismin, std::int32_t ismax);

// The title record (40 columns) and the header record (three integers 10 wide, dsr fixed 10
// wide with 1 decimal).
void write_gridded_header(std::ostream& out, const GriddedHeader& h);
// One value group; the last value record holds the remaining one to ten values.
void write_value_group(std::ostream& out, std::int32_t n, std::int32_t l, const std::vector<float>& values);

}  // namespace layerline
