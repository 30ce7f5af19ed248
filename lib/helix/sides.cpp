#include "helix/sides.hpp"

namespace helix {

std::complex<double> i_power(std::int64_t k) {
  switch (((k % 4) + 4) % 4) {
    case 0:
      return {1.0, 0.0};
    case 1:
      return {0.0, 1.0};
    case 2:
      return {-1.0, 0.0};
    default:
      return {0.0, -1.0};
  }
}

double x_sign(std::int32_t n, Side side, bool second_block) {
  const bool negative = near_is_negative_x(n) == (side == Side::Near);
  return negative != second_block ? -1.0 : 1.0;
}

std::complex<double> transform_factor(std::int32_t n, double x) { return i_power(x >= 0.0 ? -std::int64_t{n} : n); }

std::complex<double> side_factor(std::int32_t n, Side side) {
  const std::int64_t m = n < 0 ? -std::int64_t{n} : std::int64_t{n};
  // near: i^|n|; far: (-1)^n i^|n| = i^(3|n|)
  return i_power(side == Side::Near ? m : 3 * m);
}

double one_order_sign(std::int32_t n, std::int32_t block_n, Side side, bool second_block) {
  const bool on_own_near = (x_sign(block_n, side, second_block) < 0.0) == near_is_negative_x(n);
  return n % 2 != 0 && !on_own_near ? -1.0 : 1.0;
}

float phase_as_near(float phase, std::int32_t n, bool far, bool opposite) {
  if (opposite) phase = -phase;
  if (far) phase = phase + static_cast<float>(far_turn(n));
  return phase;
}

}  // namespace helix
