#include "helix/bessel.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace helix {

void bessel_orders(double x, std::int32_t nmax, std::vector<double>& j) {
  j.assign(static_cast<std::size_t>(nmax) + 1, 0.0);
  if (x == 0.0) {
    j[0] = 1.0;
    return;
  }
  const double top = std::max(double(nmax), x);
  // Start high enough that the neglected tail is far below double precision.
  auto start = static_cast<std::int32_t>(top + 30.0 + 2.0 * std::sqrt(40.0 * top));
  start += start % 2;
  double above = 0.0, here = 1e-300, sum = 0.0;
  for (std::int32_t k = start; k >= 1; --k) {
    // J_{k-1} = (2k/x) J_k - J_{k+1}
    const double below = 2.0 * k / x * here - above;
    above = here;
    here = below;
    const std::int32_t order = k - 1;
    if (order <= nmax) j[static_cast<std::size_t>(order)] = here;
    if (order > 0 && order % 2 == 0) sum += here;
    if (std::fabs(here) > 1e250) {
      // Rescale everything so far; orders far above fall to 0, as they should.
      for (std::int32_t m = order; m <= nmax; ++m) j[static_cast<std::size_t>(m)] *= 1e-250;
      above *= 1e-250;
      here *= 1e-250;
      sum *= 1e-250;
    }
  }
  const double norm = here + 2.0 * sum;  // J_0 + 2 sum of the even orders
  for (double& v : j) v /= norm;
}

BesselTable::BesselTable(const std::vector<std::int32_t>& orders, double xmax) {
  step_ = 0.04;
  nodes_ = static_cast<std::int32_t>(std::ceil(std::max(xmax, 0.0) / step_)) + 2;
  std::int32_t nmax = 0;
  for (std::int32_t n : orders) nmax = std::max(nmax, std::abs(n));
  slot_.assign(static_cast<std::size_t>(nmax) + 1, -1);
  std::int32_t rows = 0;
  for (std::int32_t n : orders)
    if (slot_[static_cast<std::size_t>(std::abs(n))] < 0) slot_[static_cast<std::size_t>(std::abs(n))] = rows++;
  value_.assign(static_cast<std::size_t>(rows) * static_cast<std::size_t>(nodes_), 0.0);
  slope_ = value_;
  std::vector<double> j;
  for (std::int32_t i = 0; i < nodes_; ++i) {
    const double x = i * step_;
    bessel_orders(x, nmax + 1, j);
    for (std::int32_t m = 0; m <= nmax; ++m) {
      const std::int32_t row = slot_[static_cast<std::size_t>(m)];
      if (row < 0) continue;
      // J_m' = (J_{m-1} - J_{m+1})/2, and J_0' = -J_1.
      const double before = m == 0 ? -j[1] : j[static_cast<std::size_t>(m) - 1];
      const std::size_t at =
          static_cast<std::size_t>(row) * static_cast<std::size_t>(nodes_) + static_cast<std::size_t>(i);
      value_[at] = j[static_cast<std::size_t>(m)];
      slope_[at] = 0.5 * (before - j[static_cast<std::size_t>(m) + 1]);
    }
  }
}

double BesselTable::operator()(std::int32_t n, double x) const {
  const std::int32_t m = std::abs(n);
  const std::size_t row = static_cast<std::size_t>(slot_[static_cast<std::size_t>(m)]);
  const double u = x / step_;
  auto i = static_cast<std::int32_t>(u);
  i = std::min(i, nodes_ - 2);
  const double t = u - i;
  const std::size_t at = row * static_cast<std::size_t>(nodes_) + static_cast<std::size_t>(i);
  const double y0 = value_[at], y1 = value_[at + 1], d0 = slope_[at] * step_, d1 = slope_[at + 1] * step_;
  const double t2 = t * t, t3 = t2 * t;
  const double v = (2 * t3 - 3 * t2 + 1) * y0 + (t3 - 2 * t2 + t) * d0 + (-2 * t3 + 3 * t2) * y1 + (t3 - t2) * d1;
  // J_{-m} = (-1)^m J_m
  return (n < 0 && m % 2 == 1) ? -v : v;
}

double bessel_j(std::int32_t n, double x) {
  const std::int32_t m = n < 0 ? -n : n;
  double v = std::cyl_bessel_j(static_cast<double>(m), std::abs(x));
  // J_-m = (-1)^m J_m and J_m(-x) = (-1)^m J_m(x).
  if (m % 2 == 1 && n < 0) v = -v;
  if (m % 2 == 1 && x < 0.0) v = -v;
  return v;
}

double bessel_peak(std::int32_t n, double xmax) {
  if (n == 0) return 1.0;  // J_0(0)
  if (!(xmax > 0.0)) return 0.0;
  if (n < -100000 || n > 100000) return 0.0;
  const std::int32_t m = n < 0 ? -n : n;  // |J_n| = |J_m|
  // J_m rises on [0, m]; its first maximum, the zero of J_m' = (J_{m-1} - J_{m+1})/2, lies
  // between m and m + 1.9 m^(1/3) + 1 for every m >= 1.
  const auto rising = [m](double x) { return bessel_j(m - 1, x) - bessel_j(m + 1, x) > 0.0; };
  double lo = double(m), hi = double(m) + 1.9 * std::cbrt(double(m)) + 1.0;
  if (xmax <= lo || (xmax < hi && rising(xmax))) return std::fabs(bessel_j(m, xmax));
  hi = std::min(hi, xmax);
  // Bisection: J_m rises at lo and no longer at hi.
  for (int k = 0; k < 100 && hi - lo > 1e-12 * hi; ++k) {
    const double mid = 0.5 * (lo + hi);
    (rising(mid) ? lo : hi) = mid;
  }
  return std::fabs(bessel_j(m, 0.5 * (lo + hi)));
}

}  // namespace helix
