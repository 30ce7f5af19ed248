// The deck of a sidesplit run: the title, the run parameters, the CTF zeros and the list of
// layer lines to sample.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "records/source.hpp"
#include "sidesplit/sampling.hpp"

namespace sidesplit {

// The most radial samples one layer line may hold.
inline constexpr std::int64_t max_radial_samples = 1 << 20;

struct LayerLineEntry {
  std::int32_t llno = 0;  // layer-line number
  std::int32_t nord = 0;  // Bessel order
  float ysp = 0.0f;       // height in transform rows from the equator
  // Radial index ranges written (record 6b, only when idump != 0): |R| from nl1*delr to
  // nl2*delr on the negative side, R from nr1*delr to nr2*delr on the positive side.
  std::int32_t nl1 = 0;
  std::int32_t nl2 = 0;
  std::int32_t nr1 = 0;
  std::int32_t nr2 = 0;
  int line = 0;  // deck line of the last value of the entry, for messages
};

struct Deck {
  std::string title;  // 40 characters
  // Record 2; the angles in degrees as read.
  std::int32_t lltot = 0;
  float sampl = 0.0f;
  float xshft = 0.0f;
  float yshft = 0.0f;
  float delr = 0.0f;
  float rot = 0.0f;
  float shear = 0.0f;
  float tilt = 0.0f;
  float yfact = 0.0f;
  // Record 3.
  float rmin = 0.0f;
  float rmax = 0.0f;
  std::int32_t idump = 0;
  std::int32_t merid = 0;
  std::int32_t iywidth = 0;
  std::int32_t iphase = 0;
  // Records 4 and 5.
  float exclusion = 0.0f;
  std::int32_t izeros = 0;
  std::vector<float> zeroarray;
  // Records 6a and 6b, in deck order.
  std::vector<LayerLineEntry> lines;
  RadialGrid grid;  // from rmin, rmax, delr
};

// Reads the whole deck from src, writing the echo of record 2 to out as soon as record 2 is
// read. ny is the number of rows of the transform, the widest band that can be summed.
// Throws records::ReadError for a short deck, a value that is not a number, and values the
// run cannot work with (a zero or negative pixel size, a zero sampling step, too many radial
// samples, a band wider than the transform, a negative number of CTF zeros, index ranges of
// record 6b outside the sampled range).
Deck read_deck(records::LineSource& src, std::ostream& out, std::int32_t ny);

// The nine echo lines of record 2.
void echo_parameters(std::ostream& out, const Deck& deck);

// The radial grid of rmin, rmax, delr; throws records::ReadError (naming source and line)
// when delr is 0 or the grid has more than max_radial_samples points.
RadialGrid radial_grid(float rmin, float rmax, float delr, const std::string& source, int line);

}  // namespace sidesplit
