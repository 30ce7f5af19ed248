#include "planefilt/filter.hpp"

#include <cstddef>
#include <string>

#include "adapters/fft.hpp"
#include "planefilt/radial.hpp"
#include "records/error.hpp"

namespace planefilt {

void filter(std::span<float> image, std::int32_t nx, std::int32_t ny, std::span<const float> rfilt, float rstep) {
  if (nx < 1 || ny < 1) {
    throw records::ReadError(
        "filter", "the image is " + std::to_string(nx) + " x " + std::to_string(ny) + ", at least 1 x 1 is needed");
  }
  const std::int64_t need = static_cast<std::int64_t>(ny) * (static_cast<std::int64_t>(nx) + 2);
  if (static_cast<std::int64_t>(image.size()) < need) {
    throw records::ReadError("filter", "the image array holds " + std::to_string(image.size()) + " reals, " +
                                           std::to_string(need) + " are needed for " + std::to_string(ny) +
                                           " lines of nx + 2 = " + std::to_string(nx + 2));
  }
  const std::int32_t h = nx / 2 + 1;  // complex values per transformed row
  check_filter_table(rfilt, rstep, static_cast<float>(h - 1) / static_cast<float>(nx), nx, ny, "filter");

  adapters::todfft(image.data(), nx, ny, 0);
  for (std::int32_t iy = 0; iy < ny; ++iy) {
    const float y = row_frequency(iy, ny);
    float* row = image.data() + 2 * static_cast<std::size_t>(iy) * static_cast<std::size_t>(h);
    for (std::int32_t ix = 0; ix < h; ++ix) {
      const float x = static_cast<float>(ix) / static_cast<float>(nx);
      const float f = rfilt[static_cast<std::size_t>(filter_entry(x, y, rstep) - 1)];
      row[2 * ix] *= f;
      row[2 * ix + 1] *= f;
    }
  }
  adapters::todfft(image.data(), nx, ny, 1);
}

}  // namespace planefilt
