#include "mapfsc/mapfsc.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <ostream>
#include <sstream>

#include "adapters/fft.hpp"
#include "imagefile/header.hpp"
#include "imagefile/imageio.hpp"
#include "progmain/outputs.hpp"
#include "records/error.hpp"
#include "records/forms.hpp"
#include "records/numbers.hpp"

namespace mapfsc {

const char* const help =
    "usage: mapfsc A.map B.map [--table FILE] [--mask RADIUS] [--edge WIDTH] [--voxel P]\n"
    "\n"
    "The Fourier shell correlation of two real maps (modes 0-2) of the same size: both are\n"
    "transformed in 3-D, and for every shell of frequencies k*w (w = 1/(the longest box edge\n"
    "in Angstroms), one reciprocal voxel of a cubic box; shells k = 1 up to the Nyquist\n"
    "frequency of the coarsest axis) the correlation\n"
    "    FSC(k) = Re sum F_A conj(F_B) / sqrt(sum |F_A|^2 sum |F_B|^2)\n"
    "over the Fourier voxels within w/2 of k*w (0 where a map holds no data: its power there\n"
    "below 1e-12 of its largest shell's, the rounding of its transform) is printed with the\n"
    "shell's resolution 1/(k*w) and its number of voxels (of the whole transform). Then the\n"
    "resolutions where the curve first falls below 0.5 and below 0.143, interpolated linearly\n"
    "in frequency between the shells either side, beyond the lowest shell that holds data:\n"
    "leading shells of fewer than 72 voxels (36 independent values, whose correlation by chance\n"
    "reaches 0.5 at three times its spread) and leading shells where a map holds no data are\n"
    "skipped, each run of them named on a line \"shells K-L skipped: why\". A curve already below\n"
    "a threshold at the lowest shell that holds data makes no crossing and is reported so\n"
    "(\"below it from shell K at R A, ... no crossing\"), never as a resolution.\n"
    "\n"
    "Options:\n"
    "  --table FILE    also write the curve as a table: shell, frequency (1/A), resolution\n"
    "                  (A), FSC, voxels, one shell a line after '#' comment lines (the\n"
    "                  skipped shells among them; for scripts/llplot --fsc)\n"
    "  --mask RADIUS   multiply both maps first by a cylinder of this radius (Angstroms) about\n"
    "                  the axis through column nx/2, row ny/2 along z, with a raised-cosine edge\n"
    "  --edge WIDTH    the width of that edge in Angstroms (default 3 voxels)\n"
    "  --voxel P       the voxel size in Angstroms (default: each map's cell edge over its\n"
    "                  grid sampling, which must agree between the two maps)\n"
    "\n"
    "Standard output: the image library's report of both headers, then the curve. A missing\n"
    "map, maps of different sizes or voxel sizes, complex maps, bad options: a message on\n"
    "standard error and exit status 2; the table file is then not written. The image library's\n"
    "own failures end the run with its messages and statuses.\n";

namespace {

Map read_map(int stream, const std::string& name) {
  imagefile::imopen(stream, name, "RO");
  imagefile::Int3 nxyz{}, mxyz{};
  std::int32_t mode = 0;
  float dmin = 0.0f, dmax = 0.0f, dmean = 0.0f;
  imagefile::irdhdr(stream, nxyz, mxyz, mode, dmin, dmax, dmean);
  if (mode < 0 || mode > 2)
    throw records::ReadError(name, "data mode " + std::to_string(mode) + ": mapfsc compares real maps (modes 0-2)");
  Map m;
  m.nx = nxyz[0];
  m.ny = nxyz[1];
  m.nz = nxyz[2];
  if (m.nx < 1 || m.ny < 1 || m.nz < 1)
    throw records::ReadError(name, "a map of " + std::to_string(m.nx) + " x " + std::to_string(m.ny) + " x " +
                                       std::to_string(m.nz) + " holds no data");
  if (m.nx > (1 << 20) || m.ny > (1 << 20) || m.nz > (1 << 20) ||
      static_cast<std::int64_t>(m.nx) * m.ny > (std::int64_t{1} << 30) ||
      static_cast<std::int64_t>(m.nx) * m.ny * m.nz > (std::int64_t{1} << 30))
    throw records::ReadError(name, "more than 2^30 voxels are not supported");
  const imagefile::Header& h = imagefile::header_of(stream);
  // The data must be there before room is made for them.
  imagefile::require_items(stream, name, std::int64_t{m.nx} * m.ny * m.nz);
  for (int i = 0; i < 3; ++i) {
    const float edge = h.cella[static_cast<std::size_t>(i)];
    const std::int32_t grid = h.mxyz[static_cast<std::size_t>(i)];
    m.voxel[static_cast<std::size_t>(i)] =
        (grid > 0 && std::isfinite(edge) && edge > 0.0f) ? edge / static_cast<float>(grid) : 0.0f;
  }
  const std::size_t section = static_cast<std::size_t>(m.nx) * static_cast<std::size_t>(m.ny);
  std::vector<float> buffer(section);
  // Grown a section per section read, so a header claiming more than the file holds costs
  // nothing before its read fails.
  for (std::int32_t iz = 0; iz < m.nz; ++iz) {
    if (!imagefile::irdsec(stream, buffer))
      throw records::ReadError(name, "the file ends inside section " + std::to_string(iz) +
                                         " (counted from 0) of its " + std::to_string(m.nz));
    m.values.insert(m.values.end(), buffer.begin(), buffer.end());
  }
  imagefile::imclose(stream);
  return m;
}

double parse_positive(const std::string& text, const std::string& option) {
  const records::Parsed<float> p = records::parse_free_real(text);
  const float v = p.value;
  if (!p.ok() || !std::isfinite(v) || v <= 0.0f)
    throw records::ReadError("command line", option + " needs a positive number, not \"" + text + "\"");
  return double(v);
}

std::string shell_line(const Shell& s) {
  return records::int_form(s.k, 6) + records::fixed_form(static_cast<float>(s.frequency), 12, 5) +
         records::fixed_form(static_cast<float>(1.0 / s.frequency), 12, 2) +
         records::fixed_form(static_cast<float>(s.fsc), 10, 4) + records::int_form(s.voxels, 10);
}

std::string resolution_text(double r) { return records::fixed_form(static_cast<float>(r), 10, 2) + " A"; }

std::string crossing_line(const std::vector<Shell>& curve, const DataStart& start, double threshold,
                          const char* label) {
  const Crossing c = crossing(curve, threshold, start.first);
  const std::string s = std::string(" FSC ") + label;
  switch (c.kind) {
    case Crossing::Kind::at:
      return s + " at " + resolution_text(c.resolution);
    case Crossing::Kind::below_first:
      return s + ": below it from shell " + std::to_string(curve[start.first].k) + " at " +
             resolution_text(c.resolution) + ", the lowest shell that holds data: no crossing";
    case Crossing::Kind::not_reached:
      return s + ": not reached up to the last shell";
    case Crossing::Kind::no_data:
      break;
  }
  return s + ": not measured, every shell was skipped";
}

// "shell 1 skipped: ..." or "shells 1-2 skipped: ..."
std::string skipped_line(const Skipped& k) {
  return k.first == k.last
             ? " shell " + std::to_string(k.first) + " skipped: " + k.reason
             : " shells " + std::to_string(k.first) + "-" + std::to_string(k.last) + " skipped: " + k.reason;
}

void write_table(const std::string& path, const std::string& text) {
  progmain::begin_output(path);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw records::ReadError(path, "cannot be created");
  out << text;
  out.close();
  if (!out) throw records::ReadError(path, "could not be written in full");
  progmain::finish_output(path);
}

}  // namespace

std::vector<Shell> fsc_curve(const Map& a, const Map& b) {
  const std::int32_t nx = a.nx, ny = a.ny, nz = a.nz, h = nx / 2 + 1;
  const std::size_t half = static_cast<std::size_t>(h) * static_cast<std::size_t>(ny) * static_cast<std::size_t>(nz);
  std::vector<float> fa(2 * half), fb(2 * half);
  adapters::rfft3d_forward(a.values.data(), fa.data(), nx, ny, nz);
  adapters::rfft3d_forward(b.values.data(), fb.data(), nx, ny, nz);

  const double px = double(a.voxel[0]), py = double(a.voxel[1]), pz = double(a.voxel[2]);
  const double longest = std::max({nx * px, ny * py, nz * pz});
  const double width = 1.0 / longest;
  const double nyquist = std::min({0.5 / px, 0.5 / py, 0.5 / pz});
  const auto shells = static_cast<std::int32_t>(std::floor(nyquist / width + 1e-9));
  std::vector<double> cross(static_cast<std::size_t>(shells) + 1), pa(cross.size()), pb(cross.size());
  std::vector<std::int64_t> count(cross.size());
  auto signed_index = [](std::int32_t i, std::int32_t n) { return i <= n / 2 ? i : i - n; };
  std::size_t at = 0;
  for (std::int32_t kz = 0; kz < nz; ++kz) {
    const double fz = signed_index(kz, nz) / (nz * pz);
    for (std::int32_t ky = 0; ky < ny; ++ky) {
      const double fy = signed_index(ky, ny) / (ny * py);
      for (std::int32_t kx = 0; kx < h; ++kx, at += 2) {
        const double fx = kx / (nx * px);
        const double q = std::floor(std::sqrt(fx * fx + fy * fy + fz * fz) / width + 0.5);
        if (!(q <= double(shells))) continue;
        const auto k = static_cast<std::int64_t>(q);
        // Columns other than 0 and nx/2 stand for themselves and their conjugate mates.
        const int mult = (kx == 0 || (nx % 2 == 0 && kx == nx / 2)) ? 1 : 2;
        const double ar = double(fa[at]), ai = double(fa[at + 1]), br = double(fb[at]), bi = double(fb[at + 1]);
        const auto s = static_cast<std::size_t>(k);
        cross[s] += mult * (ar * br + ai * bi);
        pa[s] += mult * (ar * ar + ai * ai);
        pb[s] += mult * (br * br + bi * bi);
        count[s] += mult;
      }
    }
  }
  // A map holds no data in a shell whose power is only the rounding of its transform: the
  // correlation there is 0, not that of the rounding.
  double top_a = 0.0, top_b = 0.0;
  for (std::int32_t k = 1; k <= shells; ++k) {
    top_a = std::max(top_a, pa[static_cast<std::size_t>(k)]);
    top_b = std::max(top_b, pb[static_cast<std::size_t>(k)]);
  }
  std::vector<Shell> curve;
  for (std::int32_t k = 1; k <= shells; ++k) {
    const auto s = static_cast<std::size_t>(k);
    Shell sh;
    sh.k = k;
    sh.frequency = k * width;
    sh.voxels = count[s];
    const double d = std::sqrt(pa[s] * pb[s]);
    const bool data = pa[s] > empty_power * top_a && pb[s] > empty_power * top_b;
    sh.fsc = data && d > 0.0 ? cross[s] / d : 0.0;
    sh.power_a = pa[s];
    sh.power_b = pb[s];
    curve.push_back(sh);
  }
  return curve;
}

void apply_cylinder(Map& m, double radius, double edge) {
  const std::int32_t cx = m.nx / 2, cy = m.ny / 2;
  std::vector<float> weight(static_cast<std::size_t>(m.nx) * static_cast<std::size_t>(m.ny));
  for (std::int32_t iy = 0; iy < m.ny; ++iy)
    for (std::int32_t ix = 0; ix < m.nx; ++ix) {
      const double x = (ix - cx) * double(m.voxel[0]), y = (iy - cy) * double(m.voxel[1]);
      const double r = std::sqrt(x * x + y * y);
      double w = 0.0;
      if (r <= radius)
        w = 1.0;
      else if (r < radius + edge)
        w = 0.5 * (1.0 + std::cos(std::numbers::pi * (r - radius) / edge));
      weight[static_cast<std::size_t>(iy * m.nx + ix)] = static_cast<float>(w);
    }
  const std::size_t section = weight.size();
  for (std::size_t i = 0; i < m.values.size(); ++i) m.values[i] *= weight[i % section];
}

DataStart lowest_shell_with_data(const std::vector<Shell>& curve, const std::string& a, const std::string& b) {
  double top_a = 0.0, top_b = 0.0;
  for (const Shell& s : curve) {
    top_a = std::max(top_a, s.power_a);
    top_b = std::max(top_b, s.power_b);
  }
  DataStart d;
  for (; d.first < curve.size(); ++d.first) {
    const Shell& s = curve[d.first];
    const bool empty_a = !(s.power_a > empty_power * top_a), empty_b = !(s.power_b > empty_power * top_b);
    std::string why;
    if (s.voxels < min_shell_voxels)
      why = "fewer than " + std::to_string(min_shell_voxels) +
            " Fourier voxels, too few for a correlation of 0.5 to stand out of chance";
    else if (empty_a && empty_b)
      why = "neither map holds data there";
    else if (empty_a || empty_b)
      why = (empty_a ? a : b) + " holds no data there";
    else
      break;
    if (!d.skipped.empty() && d.skipped.back().reason == why && d.skipped.back().last + 1 == s.k)
      d.skipped.back().last = s.k;
    else
      d.skipped.push_back(Skipped{s.k, s.k, why});
  }
  return d;
}

Crossing crossing(const std::vector<Shell>& curve, double threshold, std::size_t first) {
  if (first >= curve.size()) return Crossing{Crossing::Kind::no_data, 0.0};
  for (std::size_t i = first; i < curve.size(); ++i) {
    if (curve[i].fsc >= threshold) continue;
    if (i == first) return Crossing{Crossing::Kind::below_first, 1.0 / curve[i].frequency};
    const Shell& above = curve[i - 1];
    const Shell& below = curve[i];
    const double t = (above.fsc - threshold) / (above.fsc - below.fsc);
    return Crossing{Crossing::Kind::at, 1.0 / (above.frequency + t * (below.frequency - above.frequency))};
  }
  return Crossing{Crossing::Kind::not_reached, 0.0};
}

int run(const std::vector<std::string>& args, progmain::Streams streams) {
  std::vector<std::string> names, options;
  for (const std::string& a : args) {
    if (options.empty() && names.size() < 2 && a.rfind("--", 0) != 0)
      names.push_back(a);
    else
      options.push_back(a);
  }
  std::string table, mask, edge, voxel;
  progmain::bind_options(options,
                         {{"--table", &table, "a file name"},
                          {"--mask", &mask, "a radius in Angstroms"},
                          {"--edge", &edge, "a width in Angstroms"},
                          {"--voxel", &voxel, "a voxel size in Angstroms"}},
                         "mapfsc");
  if (names.size() != 2)
    throw records::ReadError("command line", "two maps are needed: mapfsc A.map B.map [options] (see mapfsc --help)");
  const double radius = mask.empty() ? 0.0 : parse_positive(mask, "--mask");
  if (!edge.empty() && mask.empty())
    throw records::ReadError("command line", "--edge is the edge of --mask, which is not given");
  const double voxel_size = voxel.empty() ? 0.0 : parse_positive(voxel, "--voxel");

  for (const std::string& name : names)
    if (!std::filesystem::is_regular_file(name))
      throw records::ReadError(name, std::filesystem::exists(name) ? "is not a map file" : "does not exist");
  Map a = read_map(1, names[0]);
  Map b = read_map(2, names[1]);
  if (a.nx != b.nx || a.ny != b.ny || a.nz != b.nz)
    throw records::ReadError(names[1], "a map of " + std::to_string(b.nx) + " x " + std::to_string(b.ny) + " x " +
                                           std::to_string(b.nz) + " cannot be compared with " + names[0] + " of " +
                                           std::to_string(a.nx) + " x " + std::to_string(a.ny) + " x " +
                                           std::to_string(a.nz));
  if (voxel_size > 0.0) {
    a.voxel.fill(static_cast<float>(voxel_size));
    b.voxel = a.voxel;
  } else {
    for (std::size_t i = 0; i < 3; ++i) {
      if (!(a.voxel[i] > 0.0f) || !(b.voxel[i] > 0.0f))
        throw records::ReadError(a.voxel[i] > 0.0f ? names[1] : names[0],
                                 "the header gives no voxel size (cell edge over grid sampling); give --voxel");
      if (std::fabs(a.voxel[i] - b.voxel[i]) > 1e-4f * a.voxel[i])
        throw records::ReadError(names[1], "voxel size " + records::free_real(b.voxel[i]) + " A differs from " +
                                               records::free_real(a.voxel[i]) + " A of " + names[0]);
    }
  }
  for (std::size_t i = 0; i < 3; ++i)
    if (!(a.voxel[i] >= 1e-4f && a.voxel[i] <= 1e5f))
      throw records::ReadError(
          names[0], "voxel size " + records::free_real(a.voxel[i]) + " A: mapfsc takes voxels of 1e-4 to 1e5 A");
  {
    const double longest = std::max({a.nx * double(a.voxel[0]), a.ny * double(a.voxel[1]), a.nz * double(a.voxel[2])});
    const double nyquist = std::min({0.5 / double(a.voxel[0]), 0.5 / double(a.voxel[1]), 0.5 / double(a.voxel[2])});
    if (nyquist * longest > 2.0 * std::max({a.nx, a.ny, a.nz}))
      throw records::ReadError(names[0], "its voxel sizes differ too much between the axes for Fourier shells");
  }
  const double edge_width = edge.empty() ? 3.0 * double(a.voxel[0]) : parse_positive(edge, "--edge");
  if (radius > 0.0) {
    apply_cylinder(a, radius, edge_width);
    apply_cylinder(b, radius, edge_width);
  }
  const std::vector<Shell> curve = fsc_curve(a, b);
  if (curve.empty()) throw records::ReadError(names[0], "the map is too small to hold a single Fourier shell");

  std::ostringstream report;
  report << " mapfsc: " << names[0] << " and " << names[1] << ", " << a.nx << " x " << a.ny << " x " << a.nz
         << " voxels of " << records::fixed_form(a.voxel[0], 8, 3) << " A";
  if (radius > 0.0)
    report << ", cylindrical mask of radius " << records::fixed_form(static_cast<float>(radius), 8, 2) << " A, edge "
           << records::fixed_form(static_cast<float>(edge_width), 7, 2) << " A";
  report << "\n\n  shell  1/res (1/A)  res (A)       FSC    voxels\n";
  for (const Shell& s : curve) report << shell_line(s) << "\n";
  const DataStart start = lowest_shell_with_data(curve, names[0], names[1]);
  report << "\n";
  for (const Skipped& k : start.skipped) report << skipped_line(k) << "\n";
  report << crossing_line(curve, start, 0.5, "0.5") << "\n" << crossing_line(curve, start, 0.143, "0.143") << "\n";
  if (!table.empty()) {
    std::ostringstream t;
    t << "# mapfsc " << names[0] << " " << names[1] << "\n";
    for (const Skipped& k : start.skipped) t << "#" << skipped_line(k) << "\n";
    t << "# shell  frequency(1/A)  resolution(A)  FSC  voxels\n";
    for (const Shell& s : curve) t << shell_line(s) << "\n";
    write_table(table, t.str());
  }
  streams.out << report.str();
  return 0;
}

}  // namespace mapfsc
