// linerecast: a point-list layer-line file rewritten as a layer-line listing.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "progmain/progmain.hpp"

namespace linerecast {

// What --help prints.
extern const char* const help;

// Filters a point-list layer-line file into the listing, block by block as it is read, up to
// the end of the input. A bad record throws records::ReadError (what was written stays written).
void recast(std::istream& in, std::ostream& out);

// The program: no arguments, standard input to standard output.
int run(const std::vector<std::string>& args, progmain::Streams streams);

}  // namespace linerecast
