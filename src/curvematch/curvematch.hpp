// curvematch: aligns a gridded test layer-line file to a reference by a refined grid search over
// rotation phi, axial shift z and radial scale, reports the residuals and writes the fitted
// test file.
#pragma once

#include <string>
#include <vector>

#include "curvematch/search.hpp"
#include "progmain/progmain.hpp"

namespace curvematch {

extern const char* const help_text;

// The whole run: standard-input records, control file, loading, search passes, final report,
// results record and fitted test file. Returns the exit status; bad input throws
// records::ReadError, a search that cannot end writes its message on the error stream and
// returns 1.
int run(progmain::Streams streams, SearchOptions options = {});

// --kernel fast|literal and --rescale interpolated|truncated (also --name=VALUE); anything
// else throws ReadError("command line", ...).
SearchOptions parse_arguments(const std::vector<std::string>& args);

}  // namespace curvematch
