// Bessel functions of the first kind of integer order: one value, every order at once, a
// table for many arguments, and the largest value an order reaches below an argument.
#pragma once

#include <cstdint>
#include <vector>

namespace helix {

// J_n(x) for any integer order and real argument, in double precision (J_-m = (-1)^m J_m,
// J_m(-x) = (-1)^m J_m(x)).
double bessel_j(std::int32_t n, double x);

// J_0(x) .. J_nmax(x) for x >= 0 into j (nmax + 1 values), in double precision, by Miller's
// downward recurrence from an order well above both nmax and x, normalised by
// J_0 + 2 (J_2 + J_4 + ...) = 1. Downward recurrence is stable for every order and argument;
// values too small for a double come out as 0.
void bessel_orders(double x, std::int32_t nmax, std::vector<double>& j);

// J_n on 0 <= x <= xmax for the orders asked for, tabulated at a fine step with its
// derivative and read back by cubic Hermite interpolation (error below 1e-8).
class BesselTable {
 public:
  BesselTable(const std::vector<std::int32_t>& orders, double xmax);
  // J_n(x) for an order in the table (either sign) and 0 <= x <= xmax.
  double operator()(std::int32_t n, double x) const;

 private:
  double step_ = 0.0;
  std::int32_t nodes_ = 0;
  std::vector<std::int32_t> slot_;  // |n| -> row of the table, -1 when absent
  std::vector<double> value_, slope_;
};

// The largest |J_n(x)| for 0 <= x <= xmax (an xmax below 0, or not a number, counts as 0).
// |J_n| rises from 0 to its first maximum, which lies beyond x = |n| and is the largest it ever
// reaches (n != 0); so the answer is |J_n(xmax)| below that maximum and the maximum itself
// beyond it. Orders of |n| above 100000 give 0.
double bessel_peak(std::int32_t n, double xmax);

}  // namespace helix
