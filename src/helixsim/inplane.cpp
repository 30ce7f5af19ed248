// The projection of the real-space model as an extracted segment shows it: turned in the image
// plane and moved.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "helixsim/helixsim.hpp"

namespace helixsim {

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double reach = 6.0;  // blobs are drawn out to this many widths, as in the vertical projection

}  // namespace

std::vector<float> project_blobs_inplane(const Particle& p, const std::vector<PlacedBlob>& blobs) {
  const std::int64_t n = p.width, nz = p.height;
  const double a = double(p.pixel);
  const double period = double(nz) * a;  // the box holds whole repeats: the helix repeats with it
  const double psi = double(p.inplane_psi) * pi / 180.0;
  const double c = std::cos(psi), s = std::sin(psi);
  const double dx = double(p.inplane_dx), dy = double(p.inplane_dy);
  // Every copy of a blob whose drawn extent can meet the box after the turn and the move.
  const double half_diagonal = 0.5 * a * std::hypot(double(n), double(nz)) + std::hypot(dx, dy);
  std::vector<double> proj(static_cast<std::size_t>(n * nz), 0.0);
  for (const PlacedBlob& b : blobs) {
    // The sum along y over the rows of the box, as in the vertical projection.
    double sy = 0.0;
    for (std::int64_t iy = 0; iy < n; ++iy) {
      const double d = double(iy - n / 2) * a - b.y;
      if (std::abs(d) <= reach * b.width + a) sy += std::exp(-d * d / (2.0 * b.width * b.width));
    }
    if (sy == 0.0) continue;
    // The inverse covariance of the turned 2-D Gaussian: R diag(1/w^2, 1/wz^2) R^T.
    const double iw = 1.0 / (b.width * b.width), iwz = 1.0 / (b.width_z * b.width_z);
    const double qxx = c * c * iw + s * s * iwz, qzz = s * s * iw + c * c * iwz, qxz = c * s * (iw - iwz);
    const double extent = reach * std::max(b.width, b.width_z);
    const auto copies = static_cast<std::int64_t>(std::ceil((half_diagonal + extent) / period)) + 1;
    for (std::int64_t k = -copies; k <= copies; ++k) {
      const double z = b.z + double(k) * period;
      if (std::abs(z) > half_diagonal + extent + period) continue;
      // The centre turned about the box centre and moved, in pixels from column n/2, row nz/2.
      const double cx = (c * b.x - s * z + dx) / a, cz = (s * b.x + c * z + dy) / a;
      const auto r = static_cast<std::int64_t>(std::ceil(extent / a)) + 1;
      const auto x0 = std::max<std::int64_t>(std::int64_t(std::floor(cx)) - r + n / 2, 0);
      const auto x1 = std::min<std::int64_t>(std::int64_t(std::floor(cx)) + r + n / 2, n - 1);
      const auto z0 = std::max<std::int64_t>(std::int64_t(std::floor(cz)) - r + nz / 2, 0);
      const auto z1 = std::min<std::int64_t>(std::int64_t(std::floor(cz)) + r + nz / 2, nz - 1);
      for (std::int64_t iz = z0; iz <= z1; ++iz) {
        const double ez = double(iz - nz / 2) * a - cz * a;
        double* row = &proj[static_cast<std::size_t>(iz * n)];
        for (std::int64_t ix = x0; ix <= x1; ++ix) {
          const double ex = double(ix - n / 2) * a - cx * a;
          row[ix] += b.weight * sy * std::exp(-0.5 * (qxx * ex * ex + 2.0 * qxz * ex * ez + qzz * ez * ez));
        }
      }
    }
  }
  return std::vector<float>(proj.begin(), proj.end());
}

}  // namespace helixsim
