// helixft: the transform of a particle image as sidesplit reads it. The boxed image is floated
// (mean 0), its edges tapered, padded, transformed, its phase origin moved onto the helix axis
// column and the box's centre row, and its rows ordered so that row M/2 is the zero frequency.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ctf/ctf.hpp"
#include "progmain/progmain.hpp"

namespace helixft {

extern const char* const help;

struct Options {
  std::string image;
  std::string transform;
  std::int32_t axis = -1;                     // image column of the axis; -1: the box's centre column
  std::int32_t x0 = 0, y0 = 0, w = 0, h = 0;  // the box; w = 0: the whole image
  std::int32_t nx = 0, ny = 0;                // padded size; 0: the next fast size
  std::int32_t taper = 0;                     // pixels of cosine taper at each edge of the box
  float repeat = 0.0f;                        // repeat distance for the printed rows per 1/c; 0: none
  float pixel = 0.0f;                         // pixel size when the header has none; 0: from the header
  bool has_ctf = false;                       // --ctf: flip the phases by the image's CTF
  ctf::Params ctf;
  bool inverted = false;  // --inverted: density bright at low resolution (the CTF's sign negated)
  std::int32_t section = -1;                  // the section of a stack (from 0); -1: the file's only one
  float rotate = 0.0f;                        // in-plane turn in degrees, from +x towards +y
  float shift_x = 0.0f, shift_y = 0.0f;       // content moved by this many Angstroms first
  bool resample = false;                      // --rotate or --shift given
};
Options parse_arguments(const std::vector<std::string>& args);

// The smallest n >= at_least of the form 2^a 3^b 5^c 7^d, even when `even`.
std::int32_t fast_size(std::int32_t at_least, bool even);

// The box of a w x h image (rows of w values) floated to mean 0, its edges tapered by
// 0.5 (1 - cos(pi (d + 0.5) / taper)) at d pixels from an edge, in the corner of an nx x ny
// array of zeros.
std::vector<float> prepare(const std::vector<float>& image, std::int32_t width, const Options& o);

// The transform of the prepared nx x ny array: nx/2 + 1 complex values a row, ny rows, row
// ny/2 the zero frequency, the phase origin at box column ax and box row ay.
std::vector<float> transform_of(std::vector<float> padded, std::int32_t nx, std::int32_t ny, std::int32_t ax,
                                std::int32_t ay);

// Phase flipping: the transform written by transform_of (nx/2 + 1 values a row, ny rows, row
// ny/2 the zero frequency, pixels of `pixel` Angstroms) multiplied by the sign of the CTF at
// each frequency, X = h/(nx*pixel) along the image's x axis and Z = (row - ny/2)/(ny*pixel)
// along its y axis; by the opposite sign when the image's contrast is inverted.
void phase_flip(std::vector<float>& transform, std::int32_t nx, std::int32_t ny, float pixel, const ctf::Params& c,
                bool inverted);

int run(const std::vector<std::string>& args, progmain::Streams streams);

}  // namespace helixft
