// layermean: averages many aligned layer-line data sets (point-list files) into one, in the
// frame of their common reference, with half-set averages, per-sample statistics and a
// summary of how well the data sets agree.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ctf/ctf.hpp"
#include "layermean/average.hpp"
#include "layermean/separate.hpp"
#include "progmain/progmain.hpp"

namespace layermean {

extern const std::string_view help_text;

struct Options {
  std::string table;    // --table FILE (needed)
  float repeat = 0.0f;  // --repeat C (needed), Angstroms
  std::string output = "average.dat";
  std::string half1, half2;       // --halves A B
  std::string stats;              // --stats FILE
  float delr = 0.0f;              // --delr D; 0: the first data set's radii
  bool skip_missing = false;      // --skip-missing
  bool has_ctf = false;           // --ctf V CS A [B]: CTF weights from each row's defocus
  ctf::Params ctf;                // the microscope (defocus from the table)
  float wiener = default_wiener;  // --wiener K: the constant 1/SNR of the Wiener-type mean
  bool wiener_auto = false;       // --wiener auto: 1/SNR shell by shell, from the two halves
  bool separate = false;          // --rule U T --radius RMAX: the orders of each layer line separated
  SeparationSettings separation;  // with --filter F and --bessel-level L
};

// Throws records::ReadError("command line", ...) on anything it cannot use.
Options parse_arguments(const std::vector<std::string>& args);

// The whole run; returns the exit status.
int run(const std::vector<std::string>& args, progmain::Streams streams);

}  // namespace layermean
