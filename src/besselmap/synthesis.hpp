// The 3-D density of a helix from its layer lines: the inverse Hankel transform of every layer
// line, then the sum of the helical terms on the map grid.
#pragma once

#include <complex>
#include <cstdint>
#include <vector>

#include "helix/bessel.hpp"

namespace besselmap {

// One layer line of the input: near-side values at increasing radii.
struct LayerLine {
  std::int32_t n = 0, l = 0;
  std::vector<double> radius;              // reciprocal Angstroms
  std::vector<std::complex<double>> near;  // weight * amplitude * exp(i phase)
};

// The map and its limits, checked by the caller.
struct Setup {
  double repeat = 0.0;  // c, Angstroms
  double smax = 0.0;    // 1/resolution, reciprocal Angstroms
  double edge = 0.0;    // width of the soft edge below smax, reciprocal Angstroms
  double voxel = 0.0;   // p, Angstroms
  std::int32_t nx = 0;  // columns = rows
  std::int32_t nz = 0;  // sections
  double outer = 0.0;   // outer radius in Angstroms, 0 for none
};

// The soft resolution edge at spatial frequency s: 1 up to smax - edge, a raised cosine down
// to 0 at smax.
double resolution_weight(const Setup& s, double frequency);

// g_nl(r) at the given radii (Angstroms):
//   g(r) = 2 pi sum_j w_j G(R_j) J_n(2 pi R_j r) R_j,   G = i^-|n| N,
// with trapezoid weights w_j on the sampled radii (and the integrand's zero at R = 0), each
// sample weighted by the resolution edge at sqrt(R^2 + (l/c)^2).
std::vector<std::complex<double>> radial_function(const LayerLine& ll, const Setup& s, const helix::BesselTable& j,
                                                  const std::vector<double>& r);

// The largest argument 2 pi R r that radial_function meets for radii up to rmax.
double largest_argument(const std::vector<LayerLine>& lines, const Setup& s, double rmax);

// The map, nz sections of nx lines of nx values: the helix axis through column nx/2, row
// nx/2, z = 0 at section nz/2, phi = atan2(y, x),
//   rho = sum over the layer lines of g_nl(r) exp(i (n phi + 2 pi l z / c)) + conjugate,
// the equator's term of order 0 once, an equator of order n != 0 shared half and half by the
// orders n and -n it holds. Evaluated ring by ring on a polar grid (the azimuthal sums by
// FFT) and interpolated onto the voxels.
std::vector<float> synthesize(const std::vector<LayerLine>& lines, const Setup& s);

// The ring radii of the polar grid and g_nl on them, for --gfile.
struct RadialTable {
  std::vector<double> r;
  std::vector<std::vector<std::complex<double>>> g;  // one per layer line
};
RadialTable radial_table(const std::vector<LayerLine>& lines, const Setup& s);

}  // namespace besselmap
