// jtable: the layer lines l and Bessel orders n that a helical selection rule allows.
#pragma once

#include <cstdint>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "progmain/progmain.hpp"

namespace jtable {

// What --help prints.
extern const char* const help;

// The largest k and h taken: beyond 2^24 a single-precision count no longer holds every
// whole number, so l and n could not step by 1.
inline constexpr std::int32_t largest_count = 16777216;

struct Rule {
  std::int32_t i = 0;  // divisor of the selection rule
  std::int32_t j = 0;  // factor of n
  std::int32_t k = 0;  // highest layer-line number
  std::int32_t h = 0;  // largest |n|
};

// Reads i, j, k, h as one free-format record; values beyond largest_count throw ReadError.
Rule read_rule(std::istream& in);

// Writes " llll nnnn" for every l = 0..k, n = -h..h (l ascending, then n) with (j*n + l)/i a
// whole number in single precision; none when i = 0.
void write_table(const Rule& rule, std::ostream& out);

// The program: no arguments, the four integers from standard input, the table on standard
// output.
int run(const std::vector<std::string>& args, progmain::Streams streams);

}  // namespace jtable
