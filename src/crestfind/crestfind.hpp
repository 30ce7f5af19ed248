// crestfind: the largest amplitude along every layer line of a point-list layer-line file,
// and its ratio to the largest amplitude of the first (equatorial) layer line.
#pragma once

#include <string>
#include <vector>

#include "progmain/progmain.hpp"

namespace crestfind {

// What --help prints.
extern const char* const help;

// Asks at the terminal (streams.in / streams.out) for the input file, again while it cannot be
// opened, then for the output file, which must not exist yet; writes the summary into it.
// Takes no arguments. Returns 0 after " Completed."; a bad record throws records::ReadError.
int run(const std::vector<std::string>& args, progmain::Streams streams);

}  // namespace crestfind
