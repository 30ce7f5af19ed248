// The radial filter table shared by filter and bigfilt.
//
// A transform value at column ix (0..nx/2) and row iy (0..ny-1, rows above ny/2 holding the
// negative frequencies) lies at x = ix/nx, y = iy/ny folded to 1 - y above ny/2, cycles per
// pixel. Its filter value is rfilt(k), k = INT(rho/rstep + 1.5) with rho = sqrt(x*x + y*y), so
// entry k serves the radii nearest to (k - 1)*rstep.
#pragma once

#include <cmath>
#include <cstdint>
#include <span>
#include <string_view>

namespace planefilt {

// The row frequency of row iy (0-based) of ny, folded for the negative frequencies.
inline float row_frequency(std::int32_t iy, std::int32_t ny) {
  const float y = static_cast<float>(iy) / static_cast<float>(ny);
  return iy > ny / 2 ? 1.0f - y : y;
}

// Index k (1-based) of the table entry for frequency (x, y); callers have checked the table
// with check_filter_table, which makes the conversion safe.
inline std::int32_t filter_entry(float x, float y, float rstep) {
  const float rho = std::sqrt(x * x + y * y);
  return static_cast<std::int32_t>(rho / rstep + 1.5f);
}

// Refuses (records::ReadError, source `routine`) a step that is not positive and finite, or a
// table shorter than the largest entry any row needs at column frequency xmax (the largest
// column frequency of the call: k grows with x on every row).
void check_filter_table(std::span<const float> rfilt, float rstep, float xmax, std::int32_t nx, std::int32_t ny,
                        std::string_view routine);

}  // namespace planefilt
