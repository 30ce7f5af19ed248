// recode: a point-list layer-line file with 180 degrees added to every phase.
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "progmain/progmain.hpp"

namespace recode {

// What --help prints.
extern const char* const help;

// A phase moved by 180 degrees, once: p + 180, brought back by 360 when that reaches 360.
float shifted_phase(float phi);

// Copies a point-list layer-line file with every sample's phase shifted, block by block as it
// is read. A bad record throws records::ReadError (what was written stays written).
void recode_file(std::istream& in, std::ostream& out);

// The program: no arguments, standard input to standard output.
int run(const std::vector<std::string>& args, progmain::Streams streams);

}  // namespace recode
