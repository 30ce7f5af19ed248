// The alignment table: one row per layer-line data set, tab-separated, with a header line that
// names the columns; lines that begin with '#' are comments.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace layermean {

// One data set to average: the file and where it lies against the common reference, as gridscan
// or curvematch reported it.
struct Row {
  std::string file;       // as written in the table
  float phi = 0.0f;       // rotation, degrees
  float z = 0.0f;         // axial shift, Angstroms
  float rscale = 1.0f;    // radial scale: the data at R stand for the reference at rscale*R
  bool far = false;       // the far side of its particle
  bool opposite = false;  // of the opposite polarity to the reference (its phases negated first)
  float weight = 1.0f;    // weight in the average
  std::int32_t half = 0;  // 1 or 2 (filled in by read_table when the table gives none)
  std::string particle;   // the particle's name: the particle column, else the file
  int line = 0;           // line of the table, for messages
  // The image's defocus, when the table gives it (columns defocus_u, defocus_v, defocus_angle):
  // Angstroms of underfocus along the U axis and across it, the U axis in degrees from the
  // image's x axis. defocus_v defaults to defocus_u, the angle to 0.
  bool has_defocus = false;
  float defocus_u = 0.0f, defocus_v = 0.0f, defocus_angle = 0.0f;
};

struct Table {
  std::vector<Row> rows;  // the rows whose status is ok (every row when there is no status column)
  int left_out = 0;       // rows whose status is not ok
};

// Reads the table's text; `name` names it in messages. Required columns: file, phi, z, rscale;
// optional: side (near or far), polarity (same or opposite), weight (positive), half (1 or 2),
// particle, status, defocus_u, defocus_v, defocus_angle (a defocus is not negative; "-" or an
// empty field: none); others are ignored. A row without a half takes the half of its particle when another row gives
// one, else particles alternate 1, 2, 1, ... in the order they first appear. Any fault throws records::ReadError naming
// the line, the columns and the column's name.
Table read_table(std::string_view text, const std::string& name);

}  // namespace layermean
