#include "curvematch/control.hpp"

#include <algorithm>
#include <cmath>
#include <ostream>

#include "records/error.hpp"
#include "records/forms.hpp"
#include "records/free.hpp"

namespace curvematch {

std::string name_field(const records::Record& rec, const char* what) {
  std::string name = rec.text(1, 40);
  if (name.find_first_not_of(' ') == std::string::npos)
    throw records::ReadError(rec.source(), rec.line(), 1, 40, std::string("no ") + what + " given");
  return name;
}

std::string file_name(const std::string& name40) {
  const std::size_t end = name40.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : name40.substr(0, end + 1);
}

Axis rotation_axis(float phimid, float dphi, std::int32_t ipl) {
  Axis a;
  a.step = dphi;
  a.count = ipl;
  a.first = phimid - static_cast<float>(ipl / 2) * dphi;
  a.last = phimid + static_cast<float>((ipl - 1) / 2) * dphi;
  return a;
}

Axis halved_axis(float mid, float step, std::int32_t n) {
  Axis a;
  a.step = step;
  a.count = n;
  a.first = mid - static_cast<float>(n) * step / 2.0f;
  a.last = mid + static_cast<float>((n - 1) / 2) * step;
  return a;
}

bool normalise_axis(Axis& axis, std::int32_t cap, std::int32_t limit) {
  if (!(axis.step > 0.0f)) return false;
  Axis a = axis;
  if (a.first > a.last) std::swap(a.first, a.last);
  const float x = (a.last - a.first) / a.step + 1.5f;
  if (cap > 0 && x >= static_cast<float>(cap)) {
    a.count = cap;  // the integer part is at least cap: the count is reduced
    a.reduced = x >= static_cast<float>(cap) + 1.0f;
  } else if (x < static_cast<float>(limit) + 1.0f) {
    a.count = static_cast<std::int32_t>(x);
  } else {
    return false;
  }
  axis = a;
  return true;
}

void read_control(records::LineSource& src, RunInput& in) {
  in.title = src.expect("control record 1 (the title)").text(1, 40);
  in.refile = name_field(src.expect("control record 2 (the reference file name)"), "reference file name");
  {
    records::FreeRecord r(src);
    in.control_unused = r.integer("control record 3: an integer");
    in.rep_dis = r.real("control record 3: rep_dis");
    in.delr1 = r.real("control record 3: delr1");
    in.delr2 = r.real("control record 3: delr2");
  }
  in.acut = records::FreeRecord(src).real("control record 4: acut");
  {
    records::FreeRecord r(src);
    in.llspec = r.integer("control record 5: llspec");
    in.wtspec = r.real("control record 5: wtspec");
  }
  in.tfile = name_field(src.expect("control record 6 (the test file name)"), "test file name");
  {
    records::FreeRecord r(src);
    in.iside = r.integer("control record 7: iside");
    in.ipole = r.integer("control record 7: ipole");
  }
  {
    records::FreeRecord r(src);
    in.phimid = r.real("control record 8: phimid");
    in.dphi = r.real("control record 8: dphi");
    in.ipl = r.integer("control record 8: ipl");
    in.grid.phi = rotation_axis(in.phimid, in.dphi, in.ipl);
  }
  {
    records::FreeRecord r(src);
    in.zmid = r.real("control record 9: zmid");
    in.delz = r.real("control record 9: delz");
    in.izl = r.integer("control record 9: izl");
    in.grid.z = halved_axis(in.zmid, in.delz, in.izl);
  }
  {
    records::FreeRecord r(src);
    in.rscmid = r.real("control record 10: rscmid");
    in.drsc = r.real("control record 10: drsc");
    in.irl = r.integer("control record 10: irl");
    in.grid.rsc = halved_axis(in.rscmid, in.drsc, in.irl);
  }
  in.last_unused = records::FreeRecord(src).integer("control record 11: an integer");
}

namespace {

void check_axis(const std::string& source, Axis& axis, std::int32_t cap, std::int32_t limit, const char* what,
                const char* record, const char* step_name) {
  if (!(axis.step > 0.0f))
    throw records::ReadError(source, std::string(record) + ": the " + what + " step " + step_name + " = " +
                                         records::free_real(axis.step) + " is not positive; the grid would be empty");
  if (!normalise_axis(axis, cap, limit))
    throw records::ReadError(source, std::string(record) + ": the " + what + " grid would have more than " +
                                         std::to_string(limit) + " points");
  if (axis.count < 3)
    throw records::ReadError(source, std::string(record) + ": the " + what + " grid has " + std::to_string(axis.count) +
                                         " point(s); the refinement needs at least 3 to end");
}

}  // namespace

Grid normalised_grid(const RunInput& in) {
  const std::string source = file_name(in.cntfile);
  if (in.rep_dis == 0.0f)
    throw records::ReadError(source,
                             "control record 3: the repeat distance rep_dis is 0; the axial shift divides by it");
  Grid g = in.grid;
  check_axis(source, g.phi, 8, 8, "rotation", "control record 8", "dphi");
  check_axis(source, g.z, 0, max_z_points, "axial-shift", "control record 9", "delz");
  check_axis(source, g.rsc, 8, 8, "radial-scale", "control record 10", "drsc");
  if (!(g.rsc.first > 0.0f))
    throw records::ReadError(source, "control record 10: the radial-scale grid starts at " +
                                         records::free_real(g.rsc.first) + "; radial scales must be positive");
  return g;
}

void write_grid_reductions(std::ostream& err, const RunInput& in, const Grid& g) {
  const auto note = [&](const Axis& a, const char* record, const char* what) {
    if (!a.reduced) return;
    const float kept_last = a.first + static_cast<float>(a.count - 1) * a.step;
    err << "curvematch: " << file_name(in.cntfile) << ", " << record << ": the " << what << " grid from "
        << records::free_real(a.first) << " to " << records::free_real(std::max(a.first, a.last)) << " in steps of "
        << records::free_real(a.step) << " has more than " << a.count << " points; only the first " << a.count << " ("
        << records::free_real(a.first) << " to " << records::free_real(kept_last) << ") are searched\n";
  };
  note(g.phi, "control record 8", "rotation");
  note(g.rsc, "control record 10", "radial-scale");
}

std::int32_t window_index(std::int32_t ir) { return static_cast<std::int32_t>(static_cast<float>(ir) / 2.0f + 1.0f); }

}  // namespace curvematch
