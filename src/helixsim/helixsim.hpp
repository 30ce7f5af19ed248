// helixsim: a synthetic helical particle whose alignment is known. From a list of layer lines
// and Bessel orders, a repeat distance, a helix radius and a pixel size it writes the Fourier
// transform of the particle's projection as a complex image, the deck with which sidesplit
// samples its layer lines, and the same layer-line data as a gridded layer-line file.
//
// The real-space model instead builds the particle itself: identical subunits of Gaussian
// blobs on a helix, its density map, its projection, and the exact transform of that
// projection on the layer lines (see realspace.cpp).
//
// On layer line (n, l) at height l/c the transform at signed radius X (reciprocal Angstroms,
// negative on the other side of the meridian) is
//     A * i^n * J_n(2 pi X s r0) * exp(i (n phi0 - 360 l z0 / c) degrees)
// with r0 the helix radius, s the radial scale, phi0 the rotation and z0 the axial shift; a
// particle of opposite polarity takes the complex conjugate. Since J_n(-x) = (-1)^n J_n(x),
// the near and far sides differ by n*180 degrees, as for a real helix, and moving the particle
// adds n*phi0 - 360*l*z0/c to every phase, the change that the search programs undo.
#pragma once

#include <complex>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <random>
#include <string>
#include <vector>

#include "progmain/progmain.hpp"
#include "records/source.hpp"

namespace helixsim {

extern const char* const help;

struct LayerLine {
  std::int32_t l = 0;  // layer-line number: height l/c
  std::int32_t n = 0;  // Bessel order
};

enum class Side { Near, Far };

// One Gaussian blob of the real-space subunit, placed relative to the subunit's point on the
// helix (radius r0, azimuth phi_k, height z_k): at radius r0 + dr, azimuth phi_k + dphi,
// height z_k + dz, with density weight * A * exp(-d^2 / (2 width^2)).
struct Blob {
  float dr = 0.0f;      // Angstroms
  float dphi = 0.0f;    // degrees
  float dz = 0.0f;      // Angstroms
  float width = 0.0f;   // standard deviation, Angstroms
  float weight = 1.0f;  // peak density in units of A
};

// The subunit of the real-space model when the control input lists no blobs: three blobs of
// different sizes at different radii, azimuths and heights, so that the assembly has no
// two-fold axis across the helix axis (it is polar).
std::vector<Blob> default_subunit();

// Largest sizes accepted: the transform that sidesplit holds, the layer lines and radial
// samples of a gridded layer-line file.
inline constexpr std::int64_t max_complex_values = 2549600;
inline constexpr std::int32_t max_layer_lines = 1000;
inline constexpr std::int32_t max_samples = 511;

// Everything the control input says, checked.
struct Particle {
  std::string title = "helixsim particle";  // at most 40 characters
  float repeat = 0.0f;                      // repeat distance c, Angstroms
  float radius = 0.0f;                      // helix radius r0, Angstroms
  float pixel = 0.0f;                       // real-space pixel size, Angstroms
  std::int32_t width = 0;                   // real-space image width in pixels (even)
  std::int32_t height = 0;                  // real-space image height in pixels, along the axis
  float amplitude = 100.0f;                 // A
  std::vector<LayerLine> lines;             // in output order
  std::int32_t samples = 0;                 // radial samples a side; 0: as many as fit
  float phi0 = 0.0f;                        // rotation about the axis, degrees
  float z0 = 0.0f;                          // shift along the axis, Angstroms
  float scale = 1.0f;                       // radial scale s of the particle
  bool flipped = false;                     // opposite polarity
  float noise = 0.0f;                       // noise standard deviation as a fraction of A
  std::uint32_t seed = 1;                   // seed of the noise
  Side gridded_side = Side::Near;           // which side the gridded file holds
  std::int32_t gridded_fine = 1;            // gridded samples per transform column
  // The real-space model ("model real", or any "blob" line).
  bool real = false;
  std::vector<Blob> blobs;     // the subunit
  std::int32_t subunits = 0;   // u subunits ...
  std::int32_t turns = 0;      // ... in t turns a repeat (the rule's i and j)
  float snr = 0.0f;            // signal-to-noise ratio of the projection; 0: no noise
  std::uint32_t snr_seed = 1;  // seed of the projection's noise
};

// Derived sizes of the transform and of the sampling.
struct Geometry {
  std::int32_t width = 0;           // real-space width of the transform: the image width, or
                                    // for the real-space model helixft's padded width
  std::int32_t nx = 0;              // complex values per transform line: width/2 + 1
  std::int32_t ny = 0;              // transform lines: height
  std::int32_t ky = 0;              // row of the origin: ny/2
  std::int32_t rows_per_layer = 0;  // transform rows per 1/c: height*pixel/c
  std::int32_t samples = 0;         // radial samples a side
  float convx = 0.0f;               // reciprocal Angstroms per column: 1/(width*pixel)
  float convy = 0.0f;               // reciprocal Angstroms per row: 1/(height*pixel)
  float delr = 0.0f;                // radial step of the samples: one column
  std::int32_t grid_points = 0;     // gridded samples j = 1..grid_points: gridded_fine*samples + 1
};

// Reads the control input (keyword lines, see the help text) and checks it as a whole; any
// fault throws records::ReadError naming the line.
Particle read_control(records::LineSource& src);

Geometry geometry_of(const Particle& p);

// The layers of a selection rule as jtable lists them: for l = 0..lmax the Bessel order of
// smallest |n| <= nmax with (j*n + l) divisible by i (the positive one of a pair); layer lines
// without such an order are left out.
std::vector<LayerLine> rule_layer_lines(std::int32_t i, std::int32_t j, std::int32_t lmax, std::int32_t nmax);

// J_n(x) for any integer order and real argument, in double precision.
double bessel_j(std::int32_t n, double x);

// The noise-free value of layer line ll at signed radius x (reciprocal Angstroms).
std::complex<double> layer_value(const Particle& p, const LayerLine& ll, double x);

// Gaussian noise of standard deviation sigma from a 32-bit Mersenne twister (Box-Muller, so
// that a seed gives the same numbers with every standard library).
class Noise {
 public:
  Noise(std::uint32_t seed, double sigma) : gen_(seed), sigma_(sigma) {}
  double next();

 private:
  std::mt19937 gen_;
  double sigma_;
  bool have_spare_ = false;
  double spare_ = 0.0;
};

// The first section of the transform: ny lines of nx complex values (real, imaginary), the
// half plane of non-negative columns, row ky holding the equator; noise drawn row by row.
std::vector<float> transform_section(const Particle& p, const Geometry& g, Noise& noise);

// The gridded layer-line values of one layer line (real parts, imaginary parts) at radii
// (j-1)*delr/gridded_fine, j = 1..grid_points, on the chosen side; noise drawn after the transform's.
struct GriddedLine {
  std::vector<float> re, im;
};
GriddedLine gridded_line(const Particle& p, const Geometry& g, const LayerLine& ll, Noise& noise);

// The deck file sidesplit reads: one row per layer line, one column per sample.
std::string deck_text(const Particle& p, const Geometry& g);
// The gridded layer-line file (title, header with dsr = 1.0, two value groups a layer line).
void write_gridded(std::ostream& out, const Particle& p, const Geometry& g, Noise& noise);
// The same from any layer-line values: value(ll, x) at signed radius x.
using LayerValue = std::function<std::complex<double>(const LayerLine&, double)>;
void write_gridded(std::ostream& out, const Particle& p, const Geometry& g, const LayerValue& value, Noise& noise);

// --- the real-space model (realspace.cpp) -------------------------------------------------

// A blob of the particle as placed: Cartesian centre in Angstroms about the helix axis
// (x, y across it, z along it), after the radial scale, the motion and the polarity.
struct PlacedBlob {
  double x = 0.0, y = 0.0, z = 0.0;
  double width = 0.0;
  double peak = 0.0;  // weight * A
};
// The blobs of the u subunits of one repeat (subunit k at phi_k = 360 t k / u degrees,
// z_k = k c / u), rotated by phi0 (phi -> phi - phi0), shifted by z0 (z -> z + z0) and, for
// the opposite polarity, turned by 180 degrees about y ((x, y, z) -> (-x, y, -z)).
std::vector<PlacedBlob> repeat_blobs(const Particle& p);

// The exact transform of the noise-free projection at (X, Z) in reciprocal Angstroms, on the
// scale of helixft's transform of the projection (a sum over pixels): repeats in the box /
// pixel^3 times the sum over the blobs of one repeat of their Gaussian form factors and phases.
std::complex<double> real_transform(const Particle& p, const Geometry& g, double X, double Z);
// The same layer line split into Bessel terms: G_nl(R) = scale * sum over blobs of the form
// factor * J_n(2 pi R r_j) * exp(-i (n phi_j + 2 pi l z_j / c)), so that on layer line l
// F(X > 0) = sum_n (-i)^n G_nl(X) and F(X < 0) = sum_n i^n G_nl(|X|).
std::complex<double> bessel_term(const Particle& p, const Geometry& g, std::int32_t n, std::int32_t l, double R);

// The density map: W x W x H voxels of the pixel size (x fastest, then y, then z), the helix
// axis through column W/2 and row W/2, z = 0 at section H/2; the box holds whole repeats.
std::vector<float> density_map(const Particle& p);
// Its projection along y: W x H pixels (x along rows, z down the columns), noise-free, each
// pixel the sum of the map's voxels along y.
std::vector<float> projection_image(const Particle& p);
// Adds Gaussian noise to the projection: standard deviation sqrt(variance / snr).
void add_projection_noise(const Particle& p, std::vector<float>& image);
// The analytic layer lines of one side as sidesplit writes them from helixft's transform of
// the projection with the deck of deck_text: one block a layer line, samples i*delr,
// i = 1..samples, amplitude and phase of real_transform at X = -+i/(width*pixel).
std::string analytic_side(const Particle& p, const Geometry& g, Side side);

// --control FILE (default standard input), --transform, --deck, --gridded FILE; for the
// real-space model --density, --projection, --near, --far (each written only when named).
struct Files {
  std::string control;  // empty: standard input
  std::string transform;
  std::string deck = "sidesplit.dek";
  std::string gridded;
  std::string density, projection, near, far;
};
Files parse_arguments(const std::vector<std::string>& args);

int run(const std::vector<std::string>& args, progmain::Streams streams);

}  // namespace helixsim
