// besselmap: the 3-D density map of a helix by Fourier-Bessel synthesis from its layer lines.
#pragma once

#include <string>
#include <vector>

#include "besselmap/synthesis.hpp"
#include "progmain/progmain.hpp"
#include "records/source.hpp"

namespace besselmap {

extern const char* const help;

// Largest inputs accepted.
inline constexpr std::size_t max_layer_lines = 1000;
inline constexpr std::int32_t max_order = 1000;
inline constexpr std::int32_t max_size = 1024;

// The layer lines of a point-list file (amplitude weights applied; samples of amplitude
// -999, flagged near a CTF zero, left out), checked against the setup: ReadError on a file
// without layer lines, a negative layer-line number, radii out of order, a layer line above
// the resolution limit.
std::vector<LayerLine> read_layer_lines(records::LineSource& src, const Setup& s);

int run(const std::vector<std::string>& args, progmain::Streams streams);

}  // namespace besselmap
