// curvematch's run parameters: the standard-input records, the control file and the search grid.
#pragma once

#include <cstdint>
#include <string>

#include "records/source.hpp"

namespace curvematch {

// A 40-character name as read (blank-padded); the file opened is the name without its
// trailing blanks. A blank name is refused, naming the record and `what` was expected.
std::string name_field(const records::Record& rec, const char* what);
std::string file_name(const std::string& name40);

// The grid of one dimension: its first value, its step and its number of points.
struct Axis {
  float first = 0.0f;
  float step = 0.0f;
  std::int32_t count = 0;
  float last = 0.0f;     // the end of the grid as first entered, used only to recompute count
  bool reduced = false;  // the recount gave more than `cap` points and was reduced to cap
};

// The three search dimensions: rotation phi (degrees), axial shift z (Angstroms), radial scale.
struct Grid {
  Axis phi;
  Axis z;
  Axis rsc;
};

// The initial grids, as each control record arrives. The rotation grid halves its count with
// integer division, the z and radial-scale grids with real division:
//   phimin = phimid - (ipl div 2)*dphi,  phimax = phimid + ((ipl-1) div 2)*dphi
//   zmin   = zmid - izl*delz/2.0,        zmax   = zmid + ((izl-1) div 2)*delz
Axis rotation_axis(float phimid, float dphi, std::int32_t ipl);
Axis halved_axis(float mid, float step, std::int32_t n);

// Exchanges first and last when they are out of order, then recounts the points:
// n = integer part of ((last - first)/step + 1.5), at most `cap` when cap > 0. The recount is
// done in single precision. Returns false when the count cannot be formed (a step that is not
// positive, or more points than `limit`); the axis is then left as it was.
bool normalise_axis(Axis& axis, std::int32_t cap, std::int32_t limit);

// The most axial-shift points a search grid may hold: the report and the residual table are
// sized from izl, and this keeps an absurd count from exhausting memory.
inline constexpr std::int32_t max_z_points = 100000;

// Everything the run reads before the data: the four standard-input records and the eleven
// control records.
struct RunInput {
  std::string cntfile, rdlfile, newfile;  // 40 characters each, blank-padded
  std::int32_t irmin = 0, irmax = 0;
  std::string title;                // control record 1, not used
  std::string refile, tfile;        // 40 characters each
  std::int32_t control_unused = 0;  // control record 3, first value
  float rep_dis = 0.0f, delr1 = 0.0f, delr2 = 0.0f;
  float acut = 0.0f;
  std::int32_t llspec = 0;  // control record 5, without effect
  float wtspec = 0.0f;
  std::int32_t iside = 0, ipole = 0;
  float phimid = 0.0f, dphi = 0.0f;
  std::int32_t ipl = 0;
  float zmid = 0.0f, delz = 0.0f;
  std::int32_t izl = 0;
  float rscmid = 0.0f, drsc = 0.0f;
  std::int32_t irl = 0;
  std::int32_t last_unused = 0;  // control record 11
  Grid grid;                     // the initial grids (before normalisation)
};

// Reads the eleven control records into `in` and forms the initial grids as records 8 to 10
// arrive.
void read_control(records::LineSource& src, RunInput& in);

// Normalises the grids (exchange, recount, at most 8 rotation and 8 radial-scale points).
// Refuses, naming the control file and record, a grid the refinement could never finish:
// a step that is not positive, fewer than three points, a first radial scale that is not
// positive, and a zero repeat distance (every axial phase would be infinite).
Grid normalised_grid(const RunInput& in);

// One line on `err` for each grid that normalised_grid reduced to 8 points, naming the control
// file and record, the grid asked for and the points kept: the search never sees the rest.
void write_grid_reductions(std::ostream& err, const RunInput& in, const Grid& g);

// isminext, ismaxext: integer part of (irmin/2.0 + 1.0) and of (irmax/2.0 + 1.0).
std::int32_t window_index(std::int32_t ir);

}  // namespace curvematch
