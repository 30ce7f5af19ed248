// The control file of a phase-residual search.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>

#include "ctf/ctf.hpp"
#include "gridscan/grids.hpp"
#include "records/source.hpp"

namespace gridscan {

// The amplitude sidesplit writes for a sample inside the exclusion band of a CTF zero.
inline constexpr float flag_amplitude = -999.0f;

// A previous answer that the first pass is centred on, instead of the first pass's wide grid.
struct Around {
  float phi = 0.0f;     // degrees
  float z = 0.0f;       // Angstroms
  float rscale = 1.0f;  // radial scale
};

// How a pass settles its radial scale. The phase residual hardly tells neighbouring scales apart
// where the phases are flat between Bessel zeros; the vector residual, which weighs the
// amplitudes too, does. amplitudes: the vector residual settles the scale within the flat
// valley of the phase residual; phase: the lowest phase residual alone.
enum class ScaleRule { amplitudes, phase };

// What a pass's minimum is. phase: the amplitude-weighted phase residual's (the radial scale
// as ScaleRule says). vector: at the radial scale ScaleRule settles, the rotation and shift of
// the lowest vector residual, the sum of |reference - moved test|^2, which at one scale is
// least where the cross-correlation of the two is greatest; with noisy test data against a good reference it finds the
// motion with about half the error of the phase residual, which counts a sample's phase error alike whatever its
// signal. The report's residual is then the phase residual at that point.
enum class FitRule { phase, vector };

// The margin of the flat valley above the lowest phase residual m (degrees): 0.1 degree plus 5
// percent of m, a little wider than the scatter of the residuals of neighbouring scales on
// noise-free and on noisy data alike.
inline float valley_margin(float m) { return 0.1f + 0.05f * std::fabs(m); }

struct Control {
  std::int32_t llmax = 0;          // layer lines compared (at most 40)
  std::int32_t llmax_read = 0;     // llmax as the control file gives it
  float recc = 0.0f;               // reciprocal of the helical repeat, 1/Angstrom
  float delbr = 0.0f;              // step of the radial grid, 1/Angstrom
  std::int32_t iprint = 0;         // 1: echo every point record read to the report
  std::array<float, llcap> wtv{};  // weight of each layer line
  std::string title;               // read and not used
  std::int32_t iside = 0;          // 1: test phases + nn*180 (other side of the helix)
  std::int32_t ipole = 0;          // 1: test phases negated (opposite polarity)
  // Run option, not from the file: a flagged amplitude (flag_amplitude) is used as a negative
  // amplitude, as the old rule did, instead of leaving its sample out.
  bool flags_as_amplitudes = false;
  // Run option, not from the file: the resolution limit 1/RES in reciprocal Angstroms (0: none).
  // A reference sample at radius R on layer line l takes part only when R^2 + (l*recc)^2 is at
  // most smax^2, so a layer line with |l|*recc beyond smax takes no part at all.
  float smax = 0.0f;
  // Run option, not from the file: the first pass is the narrow grid of a later pass centred here.
  std::optional<Around> around;
  // Run option, not from the file: how a pass settles its radial scale.
  ScaleRule scale_rule = ScaleRule::amplitudes;
  // Run option, not from the file: which residual's minimum the search takes.
  FitRule fit_rule = FitRule::phase;
  // Run option, not from the file: the test data's CTF. Every reference sample's amplitude is
  // then taken times |CTF| at its frequency on the test's side of the helix, as the test's
  // image holds it (the test's phases flipped, its amplitudes not restored).
  std::optional<ctf::Params> ctf;

  // Whether a reference sample at radius r on layer line nl lies within the resolution limit.
  bool within_resolution(float r, std::int32_t nl) const {
    if (smax == 0.0f) return true;
    const float z = static_cast<float>(nl) * recc;
    return r * r + z * z <= smax * smax;
  }

  // Whether a point of amplitude amp (as read) takes part in the sums: a sample flagged by
  // sidesplit (CTF-zero band) does not.
  bool uses(float amp) const { return flags_as_amplitudes || amp != flag_amplitude; }

  float wt(std::int32_t l) const { return wtv[static_cast<std::size_t>(l - 1)]; }
};

// Records 1 and 2 (free format): llmax recc delbr iprint, then llmax weights. An llmax above 40
// is taken as 40 before the weights are read (llmax_read keeps the value read). An llmax below
// 1, a grid step that is not positive and a recc that is not positive are refused (ReadError),
// as nothing could be filed on such a grid, or every axial shift would score alike.
void read_control_head(records::LineSource& src, Control& c);
// Record 3 (the title, 80 columns) and record 4 (free format): iside ipole.
void read_control_tail(records::LineSource& src, Control& c);

}  // namespace gridscan
