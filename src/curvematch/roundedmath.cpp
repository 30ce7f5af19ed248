#include "curvematch/roundedmath.hpp"

#include <array>
#include <cmath>

namespace curvematch {

namespace {

// atan(k/16) for k = 0..16, by the library.
const std::array<double, 17> atan_sixteenths = [] {
  std::array<double, 17> t{};
  for (int k = 0; k <= 16; ++k) t[static_cast<std::size_t>(k)] = std::atan(static_cast<double>(k) / 16.0);
  return t;
}();

constexpr double half_pi = 1.5707963267948966;  // the double nearest pi/2
constexpr double pi = 3.141592653589793;        // the double nearest pi
// The relative width of the interval around the evaluated value that must round to one float:
// it covers this evaluation's error (below 2^-48) and the library's (one unit in 2^-52).
constexpr double margin = 0x1p-40;

long boundary_calls = 0;

}  // namespace

long atan2_boundary_calls() { return boundary_calls; }

float atan2_rounded(float yf, float xf) {
  const double y = static_cast<double>(yf), x = static_cast<double>(xf);
  const double ay = std::fabs(y), ax = std::fabs(x);
  // Zeros, infinities and NaNs (every comparison with a NaN fails) go to the library.
  if (!(ay > 0.0 && ax > 0.0 && ay < HUGE_VAL && ax < HUGE_VAL)) return atan2_library(yf, xf);
  const bool swapped = ay > ax;
  const double n = swapped ? ax : ay;  // n / d lies in (0, 1]
  const double d = swapped ? ay : ax;
  // c = k/16 next to n/d; atan(n/d) = atan(c) + atan(u) with u = (n/d - c)/(1 + c n/d), so
  // |u| <= 1/32 (a little more when n/d rounds the other way, which the series still covers).
  const int k = static_cast<int>(n / d * 16.0 + 0.5);
  const double c = static_cast<double>(k) * 0.0625;
  const double u = (n - c * d) / (d + c * n);  // c*d and c*n are exact
  const double u2 = u * u;
  // atan(u) = u - u^3/3 + u^5/5 - ... - u^11/11, the next term below 2^-60 |u|.
  const double s = u2 * (-1.0 / 3.0 + u2 * (1.0 / 5.0 + u2 * (-1.0 / 7.0 + u2 * (1.0 / 9.0 + u2 * (-1.0 / 11.0)))));
  double a = atan_sixteenths[static_cast<std::size_t>(k)] + (u + u * s);
  if (swapped) a = half_pi - a;
  if (x < 0.0) a = pi - a;
  if (y < 0.0) a = -a;
  const double spread = std::fabs(a) * margin;
  const float lo = static_cast<float>(a - spread), hi = static_cast<float>(a + spread);
  if (lo == hi) return lo;
  ++boundary_calls;
  return atan2_library(yf, xf);
}

}  // namespace curvematch
