// How a motion of the particle (rotation, axial shift, radial scale, polarity) changes its
// layer lines, and the sampled values of a view predicted from several orders' G_nl (see
// helix/helix.hpp for the whole convention).
#pragma once

#include <complex>
#include <cstdint>
#include <span>

#include "helix/sides.hpp"

namespace helix {

// Where a view (one side of one particle) lies against the reference: turned by phi degrees
// about the axis, shifted by z Angstroms along it, larger by scale across it, and of the
// opposite polarity (turned upside down) or not. The search programs report these values.
struct Motion {
  float phi = 0.0f;
  float z = 0.0f;
  float scale = 1.0f;
  bool opposite = false;
};

// The phase in degrees that the rotation and the shift add to layer line (n, l) of a helix of
// repeat c: n*phi - 360*l*z/c, in double precision in this order.
double motion_phase(std::int32_t n, std::int32_t l, float phi, float z, float repeat);

// The phase in degrees that takes a sample of `side` of a view (its polarity undone first) to
// the near side of the reference: (far ? 180*n : 0) - n*phi + 360*l*z/c, in double precision in
// this order.
double phase_to_reference(std::int32_t n, std::int32_t l, const Motion& m, float repeat, Side side);

// The reference radius that a view's sample at radius r stands for: scale*r (double).
inline double reference_radius(float r, float scale) { return double(scale) * double(r); }

// A particle larger by s across the axis has the transform s^2 G(s R): the factor 1/s^2 that
// takes its amplitudes back to the reference's.
inline double amplitude_to_reference(float scale) {
  const double s = double(scale);
  return 1.0 / (s * s);
}

// The coefficient a of G_nl(scale*R) in the view's value at radius R on the half of the layer
// line whose X has the sign x_sign (-1.0 or +1.0), before its polarity:
//     value = a * G,   a = scale^2 * transform_factor(n, x_sign) * exp(i motion_phase).
// A view of the opposite polarity holds the complex conjugate of that value.
std::complex<double> view_coefficient(std::int32_t n, std::int32_t l, float repeat, const Motion& m, double x_sign);

// One order's G_nl at the reference radius scale*R of a sample.
struct OrderValue {
  std::int32_t n = 0;
  std::complex<double> g{0.0, 0.0};
};

// The near and far values of a view at one radius R of layer line l, whose block in the side
// files carries the order block_n (which half is near follows block_n alone: x_sign(block_n,
// side, second_block)): the sum over the orders of view_coefficient * G on that half,
// conjugated for a view of the opposite polarity. An order of the other sign than block_n thus
// enters the near side with i^-|n|, not i^|n|. With the single order block_n this is
// side_factor(block_n, side) * scale^2 * G turned by motion_phase.
struct SideValues {
  std::complex<double> near{0.0, 0.0}, far{0.0, 0.0};
};
SideValues predict_view(std::span<const OrderValue> orders, std::int32_t block_n, std::int32_t l, float repeat,
                        const Motion& m, bool second_block = false);

}  // namespace helix
