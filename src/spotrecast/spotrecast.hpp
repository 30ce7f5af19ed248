// spotrecast: a list of two-dimensional reflections (h, k, amplitude, phase, ...) rewritten as
// three-dimensional reflections with l = 0, column by column, no value read as a number.
#pragma once

#include <string>
#include <vector>

#include "progmain/progmain.hpp"

namespace spotrecast {

// What --help prints.
extern const char* const help;

// Asks at the terminal for the list to convert and the output file, then converts. Takes no
// arguments. Returns 0; a missing or empty input throws records::ReadError.
int run(const std::vector<std::string>& args, progmain::Streams streams);

}  // namespace spotrecast
