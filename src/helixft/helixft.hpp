// helixft: the transform of a particle image as sidesplit reads it. The boxed area is floated
// (mean 0), its edges tapered, the box padded and transformed, the phase origin moved onto the
// helix axis and the box's centre row, and the rows reordered so that row M/2 holds the
// equator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "progmain/progmain.hpp"

namespace helixft {

extern const char* const help;

// Largest transform written: the complex values sidesplit holds.
inline constexpr std::int64_t max_complex_values = 2549600;

struct Options {
  std::string image;
  std::string transform = "transform.map";
  bool have_axis = false;
  double axis = 0.0;                            // column of the helix axis in the image (from 0)
  std::int32_t x0 = 0, y0 = 0, bw = 0, bh = 0;  // the box: first column and row, width, height (0: all)
  std::int32_t nx = 0, ny = 0;                  // padded size (0: the default)
  std::int32_t taper = 0;                       // edge width in pixels
  float repeat = 0.0f;                          // 0: not given
  float pixel = 0.0f;                           // 0: from the header
};
Options parse_arguments(const std::vector<std::string>& args);

// A real image: nx columns, ny rows, column fastest.
struct Image {
  std::int32_t nx = 0, ny = 0;
  std::vector<float> data;
};

// The boxed image floated to mean 0 and tapered over `taper` pixels at every edge with the
// weight 0.5 - 0.5 cos(pi (d + 0.5) / taper), d pixels from the edge.
Image prepare(const Image& in, std::int32_t x0, std::int32_t y0, std::int32_t bw, std::int32_t bh, std::int32_t taper);

// The transform of the prepared box padded to n x m (n even): m rows of n/2 + 1 complex values
// (real, imaginary), row m/2 + k at Z = k/m, column h at X = h/n (cycles per pixel), the phase
// origin at column `axis` of the box and its row bh/2:
//     T(h, k) = sum over x, z of b(x, z) exp(-2 pi i (h (x - axis) / n + k (z - bh/2) / m)).
std::vector<float> transform(const Image& box, double axis, std::int32_t n, std::int32_t m);

int run(const std::vector<std::string>& args, progmain::Streams streams);

}  // namespace helixft
