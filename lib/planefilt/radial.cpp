#include "planefilt/radial.hpp"

#include <string>

#include "records/error.hpp"
#include "records/forms.hpp"

namespace planefilt {

void check_filter_table(std::span<const float> rfilt, float rstep, float xmax, std::int32_t nx, std::int32_t ny,
                        std::string_view routine) {
  const std::string source(routine);
  if (!(rstep > 0.0f) || !std::isfinite(rstep)) {
    throw records::ReadError(source, "the radial step rstep must be positive, it is " + records::free_real(rstep));
  }
  // The largest entry in use, compared in double so that no conversion can overflow.
  double need = 0.0;
  for (std::int32_t iy = 0; iy < ny; ++iy) {
    const float rho = std::sqrt(xmax * xmax + row_frequency(iy, ny) * row_frequency(iy, ny));
    const double v = static_cast<double>(rho / rstep + 1.5f);
    if (v > need) need = v;
  }
  const double have = static_cast<double>(rfilt.size());
  if (need >= have + 1.0) {
    const std::string entry = need < 1.0e9 ? std::to_string(static_cast<std::int64_t>(need)) : "beyond 1000000000";
    throw records::ReadError(source, "the filter table has " + std::to_string(rfilt.size()) + " entries, but the " +
                                         std::to_string(nx) + " x " + std::to_string(ny) + " image needs entry " +
                                         entry + " (rstep " + records::free_real(rstep) + ")");
  }
}

}  // namespace planefilt
