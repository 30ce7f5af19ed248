// helixsim: a synthetic helical particle whose alignment is known. From a list of layer lines
// and Bessel orders, a repeat distance, a helix radius and a pixel size it writes the Fourier
// transform of the particle's projection as a complex image, the deck with which sidesplit
// samples its layer lines, and the same layer-line data as a gridded layer-line file.
//
// On layer line (n, l) at height l/c the transform at signed radius X (reciprocal Angstroms,
// negative on the other side of the meridian) is
//     A * i^n * J_n(2 pi X s r0) * exp(i (n phi0 - 360 l z0 / c) degrees)
// with r0 the helix radius, s the radial scale, phi0 the rotation and z0 the axial shift; a
// particle of opposite polarity takes the complex conjugate. In the conventions of lib/helix
// (helix/helix.hpp) that is the helix of G_nl(R) = (-1)^n A J_n(2 pi R s r0): the near side
// holds i^|n| G_nl = i^-|n| A J_n(2 pi R s r0), the far side n*180 degrees more, and moving the
// particle adds n*phi0 - 360*l*z0/c to every phase, the change that the search programs undo.
#pragma once

#include <complex>
#include <cstdint>
#include <iosfwd>
#include <random>
#include <string>
#include <vector>

#include "ctf/ctf.hpp"
#include "helix/sides.hpp"
#include "progmain/progmain.hpp"
#include "records/source.hpp"

namespace helixsim {

extern const char* const help;

struct LayerLine {
  std::int32_t l = 0;  // layer-line number: height l/c
  std::int32_t n = 0;  // Bessel order
};

using Side = helix::Side;

// One Gaussian blob of the real-space subunit: its offsets from the subunit's place on the
// helix (radius r0 + dr, azimuth + dphi degrees, height + dz Angstroms), its width (standard
// deviation, Angstroms) and its peak density.
struct Blob {
  float dr = 0.0f, dphi = 0.0f, dz = 0.0f;
  float width = 0.0f;
  float weight = 1.0f;
};

// Largest sizes accepted: the transform that sidesplit holds, the layer lines and radial
// samples of a gridded layer-line file.
inline constexpr std::int64_t max_complex_values = 2549600;
inline constexpr std::int32_t max_layer_lines = 1000;
inline constexpr std::int32_t max_samples = 511;
inline constexpr std::int64_t max_voxels = std::int64_t(1) << 25;  // of the real-space density map
inline constexpr std::int64_t max_pixels = std::int64_t(1) << 24;  // of the real-space projection

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
  // The real-space model ("model real"): subunits of Gaussian blobs on the helix of the rule.
  bool real_model = false;
  std::vector<Blob> blobs;  // empty: the default polar subunit
  std::int32_t rule_u = 0;  // subunits per repeat (the rule's i)
  std::int32_t rule_t = 0;  // turns per repeat (the rule's j)
  // The microscope's contrast transfer function, imposed on the real model's projection.
  bool has_ctf = false;
  ctf::Params ctf;
  // The projection as a segment extracted from a micrograph shows it: turned in the image
  // plane by inplane_psi degrees (from +x towards +y) about column width/2, row height/2, then
  // moved by (inplane_dx, inplane_dy) Angstroms. The other outputs stay those of the vertical
  // particle.
  float inplane_psi = 0.0f, inplane_dx = 0.0f, inplane_dy = 0.0f;
  bool inplane = false;
};

// Derived sizes of the transform and of the sampling.
struct Geometry {
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

// The real-space model. A blob placed in the box: centre (x, y, z) in Angstroms from the axis
// and from z = 0, width and peak density.
struct PlacedBlob {
  double x = 0.0, y = 0.0, z = 0.0;
  double width = 0.0;    // standard deviation across the axis (x and y): the radial scale times the subunit's
  double width_z = 0.0;  // standard deviation along the axis
  double weight = 0.0;   // peak density
};
// The subunit used: the control's blobs, or the default polar subunit of three blobs.
std::vector<Blob> subunit_of(const Particle& p);
// Every blob of every subunit in the box (u subunits a repeat, height*pixel/c repeats), moved,
// scaled and turned over as the control says: rho'(r, phi, z) = rho(r/s, phi + phi0, z - z0),
// then (x, y, z) -> (-x, y, -z) for the opposite polarity.
std::vector<PlacedBlob> placed_blobs(const Particle& p);
// The transform of the box's voxel sums at (X, 0, Z): each blob's continuous transform over the
// voxel volume, weight (2 pi)^(3/2) w^2 wz / p^3 exp(-2 pi^2 (w^2 X^2 + wz^2 Z^2)) exp(-2 pi i (X x + Z z)),
// w its width across the axis and wz along it.
std::complex<double> real_transform(const Particle& p, const std::vector<PlacedBlob>& blobs, double x, double z);
// The density map: width x width x height voxels (x fastest, then y, then z), the axis through
// column width/2 and row width/2, z = 0 at section height/2, the blobs wrapped around along z.
std::vector<float> density_map(const Particle& p, const std::vector<PlacedBlob>& blobs);
// Its sum along y: height rows of width values.
std::vector<float> project_map(const Particle& p, const std::vector<float>& density);
// The same sum made from the blobs directly, without the map (which may be too large to hold).
std::vector<float> project_blobs(const Particle& p, const std::vector<PlacedBlob>& blobs);
// The projection (height rows of width values, pixels of p.pixel) as the microscope images it:
// its transform multiplied by the CTF at every frequency, column h at X = h/(width*pixel) along
// the image's x axis, row k at Z = k/(height*pixel) (k above height/2 the negative ones).
void apply_ctf(const Particle& p, std::vector<float>& projection);
// The projection turned and moved in the image plane (Particle::inplane_psi, inplane_dx,
// inplane_dy): each blob's projection is a 2-D Gaussian, drawn at its turned and moved centre
// with its turned widths; the helix continues beyond the box along its axis (the blobs repeat
// every height*pixel Angstroms), so that the corners of the turned box show helix, not gaps.
std::vector<float> project_blobs_inplane(const Particle& p, const std::vector<PlacedBlob>& blobs);
// The near and far point-list files of the analytic transform, sampled as sidesplit samples
// the transform of the projection with the deck of deck_text().
void write_sides(std::ostream& near, std::ostream& far, const Particle& p, const Geometry& g);

// --control FILE (default standard input), --transform, --deck, --gridded FILE, and for the
// real-space model --density, --projection, --near, --far FILE (empty: not written).
struct Files {
  std::string control;  // empty: standard input
  std::string transform = "transform.map";
  std::string deck = "sidesplit.dek";
  std::string gridded = "layerlines.dat";
  std::string density, projection, near, far;
};
Files parse_arguments(const std::vector<std::string>& args);

int run(const std::vector<std::string>& args, progmain::Streams streams);

}  // namespace helixsim
