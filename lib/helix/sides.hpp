// The two sides of a helix's layer lines and the factor between the Bessel-order function
// G_nl(R) and the values sampled on each side (see helix/helix.hpp for the whole convention).
#pragma once

#include <complex>
#include <cstdint>

namespace helix {

enum class Side { Near, Far };

// i^k exactly, for any integer k.
std::complex<double> i_power(std::int64_t k);

// Whether the near side of a layer line of order n is its negative-X half (n >= 0); the far
// side is the other half. sidesplit writes the near-side file by this rule.
inline bool near_is_negative_x(std::int32_t n) { return n >= 0; }

// The sign (-1.0 or +1.0) of X at which the sample at radius |R| of `side` lies, for a layer
// line of order n. A meridional layer line written twice holds the halves exchanged in its
// second block (second_block).
double x_sign(std::int32_t n, Side side, bool second_block = false);

// Whether a block of order n on layer line l that follows a block of order prev_n on layer line
// prev_l is the second block of a meridional layer line written twice (x_sign's second_block).
inline bool second_meridional_block(std::int32_t prev_n, std::int32_t prev_l, std::int32_t n, std::int32_t l) {
  return n == 0 && l != 0 && prev_n == 0 && prev_l == l;
}

// 180*n, the phase in degrees that the far side holds beyond the near side: the two halves of
// a layer line differ by (-1)^n. In 64 bits: exact for every order.
inline std::int64_t far_turn(std::int32_t n) { return std::int64_t{180} * std::int64_t{n}; }

// The raw transform at signed radius X on layer line l holds transform_factor(n, X) * G_nl(|X|):
// i^-n for X >= 0, i^n for X < 0.
std::complex<double> transform_factor(std::int32_t n, double x);

// The value sampled on a side at radius R is side_factor(n, side) * G_nl(R): i^|n| on the near
// side, (-1)^n i^|n| on the far side. Every factor is exact (0, 1 or -1 in each part).
std::complex<double> side_factor(std::int32_t n, Side side);

// G_nl(R) from a near-side value N: i^-|n| N; the factor i^-|n|, exact.
inline std::complex<double> g_from_near(std::int32_t n) { return std::conj(side_factor(n, Side::Near)); }

// An order n held in the one-order form N_n = i^|n| G_nl (a block of its own, as besselmap
// reads it) adds sign * N_n to `side` of a layer line whose block carries order block_n, at
// rest: transform_factor(n, x_sign(block_n, side, second_block)) / i^|n|, which is -1 when n is
// odd and the sample lies on n's own far half, else 1.
double one_order_sign(std::int32_t n, std::int32_t block_n, Side side, bool second_block = false);

// A test phase (degrees) brought to the near side of a particle of the reference's polarity,
// as the search programs take a test data set: negated when of the opposite polarity, then
// 180*n added when it is a far side. Single precision, in this order.
float phase_as_near(float phase, std::int32_t n, bool far, bool opposite);

}  // namespace helix
