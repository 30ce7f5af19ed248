// gridscan: aligns a test point-list layer-line file to a reference one by a grid search over
// rotation, axial shift and radial scale, scored by an amplitude-weighted phase residual.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ctf/ctf.hpp"
#include "gridscan/control.hpp"
#include "gridscan/kernel.hpp"
#include "progmain/progmain.hpp"

namespace gridscan {

extern const std::string_view help_text;

// The four files of a run, by default the numbered files of the working directory, and the
// accumulation kernel (the literal one is there for tests and benchmarks; both give the same
// report).
struct Files {
  std::string control = "fort.2";
  std::string reference = "fort.3";
  std::string test = "fort.1";
  std::string report = "fort.7";
  KernelChoice kernel = KernelChoice::fast;
  bool flags_as_amplitudes = false;              // --flags amplitudes
  float resolution = 0.0f;                       // --resolution RES in Angstroms; 0: every sample takes part
  std::optional<Around> around;                  // --around PHI Z RSCALE
  ScaleRule scale_rule = ScaleRule::amplitudes;  // --scale-by amplitudes|phase
  bool model = false;                            // --model: the reference may hold several orders a layer line
  FitRule fit_rule = FitRule::phase;             // --fit phase|vector
  std::optional<ctf::Params> ctf;                // --ctf V CS A DU DV ANGLE [B]: the test data's CTF
};

// --control, --reference, --test, --report, each followed by a file name or joined to it by
// '='; --kernel fast|literal, --flags ignored|amplitudes, --scale-by amplitudes|phase, --fit phase|vector and
// --resolution RES likewise; --around followed by three numbers; --ctf by six or seven; --model alone. Anything else throws
// ReadError("command line", ...).
Files parse_arguments(const std::vector<std::string>& args);

// The whole run; returns the exit status.
int run(const std::vector<std::string>& args, progmain::Streams streams);

}  // namespace gridscan
