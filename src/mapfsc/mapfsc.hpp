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
  double frequency = 0.0;   // reciprocal Angstroms, k * width
  double fsc = 0.0;         // 0 where either map has no power in the shell
  std::int64_t voxels = 0;  // Fourier voxels of the whole (not half) transform in the shell
};

// The shells k = 1 .. the last one below the smallest Nyquist frequency; the shell width is
// 1/(the longest edge of the box in Angstroms), one reciprocal voxel of a cubic box.
std::vector<Shell> fsc_curve(const Map& a, const Map& b);

// Multiplies the map by a cylinder about the axis through column nx/2, row ny/2 along z:
// 1 within radius, falling as a raised cosine to 0 at radius + edge (Angstroms).
void apply_cylinder(Map& m, double radius, double edge);

// The resolution (Angstroms) where the curve first falls below threshold, interpolated
// linearly in frequency between the shells either side; nothing when it never does.
std::optional<double> crossing(const std::vector<Shell>& curve, double threshold);

int run(const std::vector<std::string>& args, progmain::Streams streams);

}  // namespace mapfsc
