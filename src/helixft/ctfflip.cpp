// Phase flipping of helixft's transform by the image's contrast transfer function.
#include <cstdint>
#include <vector>

#include "ctf/ctf.hpp"
#include "helixft/helixft.hpp"

namespace helixft {

void phase_flip(std::vector<float>& transform, std::int32_t nx, std::int32_t ny, float pixel, const ctf::Params& c,
                bool inverted) {
  const ctf::Ctf f(c);
  const std::int32_t nh = nx / 2 + 1, ky = ny / 2;
  const double ax = 1.0 / (double(nx) * double(pixel)), az = 1.0 / (double(ny) * double(pixel));
  const float contrast = inverted ? -1.0f : 1.0f;
  for (std::int32_t r = 0; r < ny; ++r) {
    const double z = double(r - ky) * az;
    float* row = &transform[2 * std::size_t(r) * std::size_t(nh)];
    for (std::int32_t h = 0; h < nh; ++h) {
      const float s = contrast * static_cast<float>(f.sign(double(h) * ax, z));
      row[2 * h] *= s;
      row[2 * h + 1] *= s;
    }
  }
}

}  // namespace helixft
