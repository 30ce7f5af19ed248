#include "helix/motion.hpp"

#include <numbers>

namespace helix {

double motion_phase(std::int32_t n, std::int32_t l, float phi, float z, float repeat) {
  return double(n) * double(phi) - 360.0 * double(l) * double(z) / double(repeat);
}

double phase_to_reference(std::int32_t n, std::int32_t l, const Motion& m, float repeat, Side side) {
  return (side == Side::Far ? 180.0 * double(n) : 0.0) - double(n) * double(m.phi) +
         360.0 * double(l) * double(m.z) / double(repeat);
}

std::complex<double> view_coefficient(std::int32_t n, std::int32_t l, float repeat, const Motion& m, double x_sign) {
  const double s = double(m.scale);
  const double theta = motion_phase(n, l, m.phi, m.z, repeat) * std::numbers::pi / 180.0;
  return s * s * transform_factor(n, x_sign) * std::polar(1.0, theta);
}

SideValues predict_view(std::span<const OrderValue> orders, std::int32_t block_n, std::int32_t l, float repeat,
                        const Motion& m, bool second_block) {
  const double near_x = x_sign(block_n, Side::Near, second_block);
  SideValues v;
  for (const OrderValue& o : orders) {
    v.near += view_coefficient(o.n, l, repeat, m, near_x) * o.g;
    v.far += view_coefficient(o.n, l, repeat, m, -near_x) * o.g;
  }
  if (m.opposite) {
    v.near = std::conj(v.near);
    v.far = std::conj(v.far);
  }
  return v;
}

}  // namespace helix
