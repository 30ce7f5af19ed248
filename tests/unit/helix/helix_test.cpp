#include "helix/helix.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

namespace {

constexpr double pi = 3.14159265358979323846;
using cd = std::complex<double>;

// The transform F(X, 0, l/c) of one repeat of point subunits straight from their positions,
// F = sum exp(-2 pi i (X x + Z z)): subunit k of the rule at radius r, azimuth 360 t k/u and
// height k c/u, then moved as m says (turned by -phi, shifted by z, radius times s with the
// weight s^2 of a density stretched across the axis, upside down when opposite).
cd point_helix(const helix::Rule& rule, double r, double c, const helix::Motion& m, double X, int l) {
  cd sum{0.0, 0.0};
  const double s = m.scale;
  for (int k = 0; k < rule.u; ++k) {
    const double phi = 2.0 * pi * rule.t * k / rule.u - double(m.phi) * pi / 180.0;
    double x = s * r * std::cos(phi), z = k * c / rule.u + double(m.z);
    if (m.opposite) {
      x = -x;
      z = -z;
    }
    sum += s * s * std::polar(1.0, -2.0 * pi * (X * x + l * z / c));
  }
  return sum;
}

double phase_of(cd v) { return std::arg(v) * 180.0 / pi; }
double wrapped(double degrees) { return std::remainder(degrees, 360.0); }

// The whole chain on a 10/3 helix of points at 40 A, whose G_nl(R) is u J_n(2 pi R r) on every
// admitted (n, l) (subunit 0 at azimuth 0): the view's near and far values predicted from the
// orders of the rule equal the transform computed from the points, on the halves that the
// block's order names, for moved, scaled and upside-down particles, the second block of a
// meridian included.
TEST(Helix, PredictedSidesAreThePointHelixTransform) {
  const helix::Rule rule{10, 3};
  const double r = 40.0;
  const float c = 100.0f;
  const std::vector<helix::Motion> motions = {
      {}, {37.0f, 4.5f, 1.05f, false}, {-121.0f, -13.0f, 0.97f, true}, {200.0f, 61.0f, 1.0f, true}};
  for (const helix::Motion& m : motions)
    for (int l : {0, 1, 2, 3, 7, 10}) {
      const std::vector<std::int32_t> orders = helix::orders_on(rule, l, 60);
      const std::int32_t lowest = *helix::lowest_order(rule, l, 60);
      for (std::int32_t block_n : {lowest, -lowest})
        for (bool second : {false, true})
          for (double R : {0.004, 0.031, 0.0875}) {
            std::vector<helix::OrderValue> g;
            for (std::int32_t n : orders)
              g.push_back({n, rule.u * helix::bessel_j(n, 2.0 * pi * double(m.scale) * R * r)});
            const helix::SideValues v = helix::predict_view(g, block_n, l, c, m, second);
            const double near_x = helix::x_sign(block_n, helix::Side::Near, second) * R;
            const cd near = point_helix(rule, r, c, m, near_x, l), far = point_helix(rule, r, c, m, -near_x, l);
            EXPECT_LT(std::abs(v.near - near), 1e-9 * rule.u) << "l " << l << " n " << block_n << " R " << R;
            EXPECT_LT(std::abs(v.far - far), 1e-9 * rule.u) << "l " << l << " n " << block_n << " R " << R;
          }
    }

  // One order a layer line (l = 1, n = 3 at small R, where J_-7 is 1e-6 of it): the near side
  // holds i^|n| G, the far side n*180 degrees more; the search programs' and layermean's phase
  // rules take either side of a moved, upside-down view back to the phase of i^|n| G.
  const helix::Motion m{-121.0f, -13.0f, 1.0f, true};
  const double R = 0.001;
  const cd G = rule.u * helix::bessel_j(3, 2.0 * pi * R * r);
  const cd near = point_helix(rule, r, c, m, helix::x_sign(3, helix::Side::Near) * R, 1);
  const cd far = point_helix(rule, r, c, m, helix::x_sign(3, helix::Side::Far) * R, 1);
  const double want = phase_of(helix::side_factor(3, helix::Side::Near) * G);
  EXPECT_NEAR(wrapped(phase_of(cd(1.0, 0.0) / helix::side_factor(3, helix::Side::Far) * far) -
                      phase_of(cd(1.0, 0.0) / helix::side_factor(3, helix::Side::Near) * near)),
              0.0, 1e-6);
  for (helix::Side side : {helix::Side::Near, helix::Side::Far}) {
    const cd v = side == helix::Side::Near ? near : far;
    const double back = helix::phase_to_reference(3, 1, m, c, side);
    EXPECT_NEAR(wrapped(-phase_of(v) + back - want), 0.0, 1e-4);
    const double searched = helix::phase_as_near(float(phase_of(v)), 3, side == helix::Side::Far, true);
    EXPECT_NEAR(wrapped(searched - helix::motion_phase(3, 1, m.phi, m.z, c) - want), 0.0, 1e-4);
  }
  // besselmap's inverse factor undoes the near side's exactly, and an order in the one-order
  // form enters any block's sides with the sign that the transform's factors give.
  for (std::int32_t n = -6; n <= 6; ++n) {
    EXPECT_EQ(helix::g_from_near(n) * helix::side_factor(n, helix::Side::Near), cd(1.0, 0.0));
    for (std::int32_t block_n : {-3, 0, 2})
      for (helix::Side side : {helix::Side::Near, helix::Side::Far})
        for (bool second : {false, true}) {
          const double x = helix::x_sign(block_n, side, second);
          EXPECT_EQ(helix::one_order_sign(n, block_n, side, second) * helix::side_factor(n, helix::Side::Near),
                    helix::transform_factor(n, x))
              << n << " " << block_n;
        }
  }
}

// The orders of a rule, checked against the pairs worked out by hand: u = 4, t = 1 holds -4,
// 0, 4 on l = 0 and -1, 3 on l = 1; the 10/3 helix holds 3 and -7 on l = 1.
TEST(Helix, RuleOrdersAndTheirReach) {
  using V = std::vector<std::int32_t>;
  EXPECT_EQ(helix::orders_on({4, 1}, 0, 4), (V{-4, 0, 4}));
  EXPECT_EQ(helix::orders_on({4, 1}, 1, 4), (V{-1, 3}));
  EXPECT_EQ(helix::orders_on({10, 3}, 1, 10), (V{-7, 3}));
  EXPECT_EQ(helix::orders_on({10, 3}, 5, 10), (V{-5, 5}));
  EXPECT_EQ(helix::lowest_order({10, 3}, 5, 10), 5);  // the positive one of a pair
  EXPECT_EQ(helix::lowest_order({10, 3}, 1, 2), std::nullopt);
  EXPECT_TRUE(helix::orders_on({0, 1}, 0, 4).empty());
  EXPECT_TRUE(helix::admits({10, 3}, -2147483647 - 1, 4));  // 4 - 3 * 2^31 = -6442450940, in 64 bits

  // bessel_peak is the largest |J_n| on [0, xmax], found here on a fine grid.
  for (std::int32_t n : {0, 1, -2, 3, -7, 10, 25})
    for (double xmax : {0.5, 3.0, 4.2, 8.0, 9.5, 12.0, 30.0}) {
      double best = 0.0;
      for (int k = 0; k <= 30000; ++k) best = std::max(best, std::abs(helix::bessel_j(n, xmax * k / 30000.0)));
      EXPECT_NEAR(helix::bessel_peak(n, xmax), best, 1e-6) << "n " << n << " xmax " << xmax;
    }
  // On l = 1 of the 10/3 helix at 40 A (orders ..., -17, -7, 3, 13, 23, ...): at R = 0.01
  // (x = 2 pi R r = 2.5) J_7 is about 1e-3; at R = 0.03 (x = 7.5) J_7 is near its peak, J_13
  // about 0.004; at R = 0.06 (x = 15.1) J_13 peaks, J_17 is about 0.07 and J_23 below 1e-3.
  EXPECT_EQ(helix::orders_reaching({10, 3}, 1, 20, 0.01, 40.0, 0.05), (V{3}));
  EXPECT_EQ(helix::orders_reaching({10, 3}, 1, 20, 0.03, 40.0, 0.05), (V{-7, 3}));
  EXPECT_EQ(helix::orders_reaching({10, 3}, 1, 20, 0.06, 40.0, 0.05), (V{-17, -7, 3, 13}));
}

}  // namespace
