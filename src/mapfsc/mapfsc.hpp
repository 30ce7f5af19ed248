// mapfsc: the Fourier shell correlation of two maps of equal size, shell by shell, and the
// resolutions where it first falls below 0.5 and 0.143.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "progmain/progmain.hpp"

namespace mapfsc {

extern const char* const help;

// A real map in memory: nz sections of ny lines of nx values, column index fastest.
struct Map {
  std::int32_t nx = 0, ny = 0, nz = 0;
  std::array<float, 3> voxel{1.0f, 1.0f, 1.0f};  // Angstroms along x, y, z
  std::vector<float> values;
};

// One shell: the frequencies within half a shell width of k * width.
struct Shell {
  std::int32_t k = 0;
  double frequency = 0.0;               // reciprocal Angstroms, k * width
  double fsc = 0.0;                     // 0 where either map has no power in the shell
  std::int64_t voxels = 0;              // Fourier voxels of the whole (not half) transform in the shell
  double power_a = 0.0, power_b = 0.0;  // sum of |F|^2 of each map over the shell
};

// Fewest Fourier voxels (of the whole transform) a shell needs to hold data for a correlation:
// 72 voxels are 36 independent values, whose correlation by chance has a spread of 1/6, so that
// three times it reaches 0.5.
inline constexpr std::int64_t min_shell_voxels = 72;
// A map holds no data in a shell whose power is below this fraction of its largest shell power:
// what is left there is the rounding of the transform.
inline constexpr double empty_power = 1e-12;

// A run of leading shells left out of the crossings, and why.
struct Skipped {
  std::int32_t first = 0, last = 0;  // shell numbers k
  std::string reason;
};

// The lowest shell that holds data (an index into the curve; the curve's size when none does)
// and the leading shells skipped below it: shells of fewer than min_shell_voxels voxels, and
// shells where either map has no power (map names a and b in the reasons).
struct DataStart {
  std::size_t first = 0;
  std::vector<Skipped> skipped;
};
DataStart lowest_shell_with_data(const std::vector<Shell>& curve, const std::string& a, const std::string& b);

// The shells k = 1 .. the last one below the smallest Nyquist frequency; the shell width is
// 1/(the longest edge of the box in Angstroms), one reciprocal voxel of a cubic box.
std::vector<Shell> fsc_curve(const Map& a, const Map& b);

// Multiplies the map by a cylinder about the axis through column nx/2, row ny/2 along z:
// 1 within radius, falling as a raised cosine to 0 at radius + edge (Angstroms).
void apply_cylinder(Map& m, double radius, double edge);

// Where the curve falls below a threshold, from shell `first` (the lowest shell that holds
// data) on.
struct Crossing {
  enum class Kind {
    at,           // between two shells: resolution (Angstroms) interpolated linearly in frequency
    below_first,  // already below at shell `first`: no crossing; resolution is that shell's
    not_reached,  // never below up to the last shell
    no_data,      // every shell was skipped: nothing to measure
  };
  Kind kind = Kind::not_reached;
  double resolution = 0.0;
};
Crossing crossing(const std::vector<Shell>& curve, double threshold, std::size_t first = 0);

int run(const std::vector<std::string>& args, progmain::Streams streams);

}  // namespace mapfsc
