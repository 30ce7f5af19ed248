// mapflat: the projection of a 3-D map along y, written as a 2-D map: output line l holds the
// column sums of input section l.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "progmain/progmain.hpp"

namespace mapflat {

// What --help prints.
extern const char* const help;

// The input limits: a section of at most map_limit items, a line of at most line_limit.
inline constexpr std::int32_t line_limit = 256;
inline constexpr std::int32_t map_limit = 16384;

// Adds the column sums of one section (ny lines of `line` numbers) to `projected` (one line).
void project_section(std::span<const float> section, std::int64_t line, std::span<float> projected);

// Statistics of the projection: the extremes start at 2000 and -2000.
struct Densities {
  float sum = 0.0f;
  float dmin = 2000.0f;
  float dmax = -2000.0f;
  float dmean = 0.0f;
};
Densities densities(std::span<const float> barray);

// Raises every value by |dmin| (a negative minimum becomes 0) and the statistics with them.
void shift_up(std::span<float> barray, Densities& d);

// The program: no arguments; the dialogue on standard input and standard output.
int run(const std::vector<std::string>& args, progmain::Streams streams);

}  // namespace mapflat
