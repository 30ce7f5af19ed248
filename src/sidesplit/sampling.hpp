// Sampling amplitude and phase along one layer line of a complex transform section.
//
// The section holds the half plane of non-negative columns: nx complex values per line (real
// part, then imaginary part), ny lines, the origin row at ky = ny/2. A sample is the bilinear
// interpolation of the four phase-shifted neighbours of the sample point, summed over a band of
// rows across the layer line and, for a tilted particle, taken at a corrected radius with a
// phase correction that depends on the Bessel order.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace sidesplit {

// Single-precision constants of the extraction.
inline constexpr float two_pi = 6.283185f;
inline constexpr float deg_to_rad = 0.0174532f;
inline constexpr float rad_to_deg = 57.2958f;

// The transform section and the constants derived from its header and the deck.
struct Transform {
  std::int32_t nx = 0;       // complex values per line
  std::int32_t ny = 0;       // lines
  std::int32_t nxp2 = 0;     // reals per line, 2*nx
  std::int32_t ky = 0;       // row of the transform origin, ny/2
  float convx = 0.0f;        // reciprocal Angstroms per column
  float convy = 0.0f;        // reciprocal Angstroms per row
  float delpx = 0.0f;        // phase increment per column (radians) that moves the phase origin
  float delpy = 0.0f;        // phase increment per row
  std::vector<float> array;  // nxp2*ny reals, line after line
};

// The derived constants for a section of nx by ny complex values whose real-space image had
// its origin at (xorig, yorig) and pixels of sampl Angstroms, the phase origin moved by
// (xshft, yshft) more pixels. nx >= 2, ny >= 1, sampl != 0; the array is moved in.
Transform make_transform(std::int32_t nx, std::int32_t ny, float xorig, float yorig, float xshft, float yshft,
                         float sampl, std::vector<float> array);

// The complex value whose real part is array(ind) (ind counted from 1) times e^(i*pshft).
void shift(float& apart, float& bpart, float pshft, std::int64_t ind, std::span<const float> array);

// The phase-shifted transform at (x, y), reciprocal Angstroms: a point with x < 0 is taken
// from its Friedel mate (-x, -y) and conjugated. A point whose position (column x/convx,
// row ky + y/convy, for the mate -x and -y) lies outside columns 0..nx-1 or rows 0..ny-1
// reads as zero; on the last column or row the missing neighbours have zero weight.
void interpt(const Transform& t, float x, float y, float& a, float& b);

// The radial grid, the same for every layer line: sample n (from 1) lies at
// R = (n1 + n - 1)*delr, n1 = rmin/delr and n2 = rmax/delr truncated towards zero.
struct RadialGrid {
  std::int32_t n1 = 0;
  std::int32_t n2 = 0;
  std::int32_t npts = 0;  // n2 - n1 + 1 (none when n2 < n1)
};

// Sampling parameters of the run; the angles in radians.
struct SamplingParams {
  float delr = 0.0f;
  float rot = 0.0f;
  float shear = 0.0f;
  float tilt = 0.0f;
  float yfact = 0.0f;
  std::int32_t iywidth = 0;  // half-width of the band, rows
  std::int32_t iphase = 0;   // 0: phase of the centre row, else phase of the band sum
};

// R, amplitude and phase (degrees) of every sample of one layer line, indexed from 0 here
// (sample n is element n - 1).
struct LayerLineSamples {
  std::vector<float> recsp;
  std::vector<float> arrf;
  std::vector<float> arrp;
  // Samples whose point (on the band's centre row) lies on a row outside the transform, so
  // that only zeros are read there.
  std::int64_t off_rows = 0;
};

// Samples the layer line of Bessel order nord at height ysp (rows) on every point of the grid.
void sample_layer_line(const Transform& t, const SamplingParams& p, const RadialGrid& grid, std::int32_t nord,
                       float ysp, LayerLineSamples& out);

}  // namespace sidesplit
