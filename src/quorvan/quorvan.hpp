// quorvan: prints the suite's release line.
#pragma once

#include <ostream>

namespace quorvan {

// Writes "Quorvan <build> <release> (<date>)" and a newline; reads nothing. Returns 0.
int run(std::ostream& out);

}  // namespace quorvan
