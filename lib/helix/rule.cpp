#include "helix/rule.hpp"

#include <numbers>

#include "helix/bessel.hpp"

namespace helix {

bool admits(const Rule& rule, std::int32_t n, std::int32_t l) {
  if (rule.u == 0) return false;
  return (std::int64_t(l) + std::int64_t(rule.t) * std::int64_t(n)) % std::int64_t(rule.u) == 0;
}

double subunit_azimuth(const Rule& rule, std::int64_t k) {
  const double u = double(rule.u < 0 ? -std::int64_t{rule.u} : std::int64_t{rule.u});
  return 360.0 * double(rule.t) * double(k) / u;
}

double subunit_height(const Rule& rule, std::int64_t k, double c) {
  const double u = double(rule.u < 0 ? -std::int64_t{rule.u} : std::int64_t{rule.u});
  return double(k) * c / u;
}

std::vector<std::int32_t> orders_on(const Rule& rule, std::int32_t l, std::int32_t nmax) {
  std::vector<std::int32_t> out;
  for (std::int64_t n = -std::int64_t(nmax); n <= std::int64_t(nmax); ++n)
    if (admits(rule, static_cast<std::int32_t>(n), l)) out.push_back(static_cast<std::int32_t>(n));
  return out;
}

std::optional<std::int32_t> lowest_order(const Rule& rule, std::int32_t l, std::int32_t nmax) {
  for (std::int32_t m = 0; m <= nmax && m >= 0; ++m) {
    // m first, then -m: the positive order of a pair wins.
    if (admits(rule, m, l)) return m;
    if (admits(rule, -m, l)) return -m;
  }
  return std::nullopt;
}

std::vector<std::int32_t> orders_reaching(const Rule& rule, std::int32_t l, std::int32_t nmax, double R, double rmax,
                                          double level) {
  std::vector<std::int32_t> out;
  const double xmax = 2.0 * std::numbers::pi * R * rmax;
  for (std::int32_t n : orders_on(rule, l, nmax))
    if (bessel_peak(n, xmax) >= level) out.push_back(n);
  return out;
}

}  // namespace helix
