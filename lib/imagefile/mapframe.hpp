// The frame every map of the suite is written in, so that viewers and other readers of the
// 2014 revision of the format place the maps alike: the format's version word, a grid equal
// to the map's size, a cell of grid x voxel, no start offsets, origin 0 (voxel (0, 0, 0) at the
// corner; a helix axis at voxel NX/2 of every map), and the density statistics with the rms
// deviation. The library's reading rules do not look at any of this.
#pragma once

#include <cstdint>
#include <span>

#include "imagefile/header.hpp"

namespace imagefile {

// The version word of the 2014 revision, kept in EXTRA word 4 (header word 28), which the
// library carries unread.
inline constexpr std::int32_t format_version = 20140;
inline constexpr int format_version_extra_word = 4;
// A 3-D map is one volume (space group 1), whose symmetry record " X,Y,Z" the 2014 revision
// names by the type "CCP4" in EXTRA word 3 (header word 27); a single image or a stack keeps
// space group 0 and no record.
inline constexpr int extended_type_extra_word = 3;
inline constexpr std::int32_t symmetry_records_type = 0x34504343;  // the bytes "CCP4", little-endian

struct Statistics {
  float dmin = 0.0f, dmax = 0.0f, dmean = 0.0f;
  float rms = 0.0f;  // deviation from the mean, sqrt(mean of (v - mean)^2)
};
// Minimum, maximum, mean and rms deviation of real values, summed in double precision.
Statistics statistics_of(std::span<const float> values);
// What the 2014 revision writes for values whose statistics are not set (complex data): a
// maximum below the minimum, a mean below both and a negative rms.
inline constexpr Statistics undetermined_statistics{0.0f, -1.0f, -2.0f, -1.0f};

// Sets the version word, the start offsets and origin to 0, and, for a real map, the grid MX MY
// MZ to NX NY NZ and the cell to NX*vx, NY*vy, NZ*vz with angles 90 (a 3-D one also space
// group 1 with its record), on the in-memory header of the open stream istream (created by
// icrhdr). A transform (complex modes 3 and 4) keeps the grid and cell of the image it came
// from, as sidesplit needs them.
void set_map_frame(int istream, float vx, float vy, float vz);

// Stores the rms deviation and writes the header (iwrhdr with the title as label 1 and the
// statistics).
void write_map_header(int istream, std::string_view title, const Statistics& s);

}  // namespace imagefile
