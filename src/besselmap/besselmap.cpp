#include "besselmap/besselmap.hpp"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <span>
#include <sstream>
#include <utility>

#include "imagefile/imageio.hpp"
#include "imagefile/mapframe.hpp"
#include "layerline/pointlist.hpp"
#include "progmain/outputs.hpp"
#include "records/error.hpp"
#include "records/forms.hpp"
#include "records/numbers.hpp"

namespace besselmap {

const char* const help =
    "usage: besselmap --input FILE --map FILE --repeat C --resolution RES --voxel P\n"
    "                 --size NX NZ [--radius RMAX] [--edge W] [--gfile FILE]\n"
    "\n"
    "The 3-D density of a helix from its layer lines by Fourier-Bessel synthesis. The input is\n"
    "a point-list layer-line file in the phase convention of a near-side file of sidesplit (as\n"
    "layermean writes it): n and l from each block's parameter record, l >= 0, the amplitude\n"
    "weight applied. Each layer line is turned into its Bessel-order function\n"
    "    G_nl(R) = i^-|n| N_nl(R)\n"
    "(the suite's one convention: the transform at X > 0 holds i^-n G_nl(|X|), at X < 0\n"
    "i^n G_nl(|X|), and the near side is the half X < 0 for n >= 0, X > 0 for n < 0, so that\n"
    "it holds i^|n| G_nl; a file of several orders on one layer line holds one block per order\n"
    "in this form)\n"
    "and inverted on its sampled radii (trapezoid weights; samples above its own limit\n"
    "sqrt(smax^2 - (l/c)^2), smax = 1/RES, left out, with a soft raised-cosine edge of width W\n"
    "below smax in the 3-D frequency sqrt(R^2 + (l/c)^2)):\n"
    "    g_nl(r) = 2 pi integral G_nl(R) J_n(2 pi R r) R dR\n"
    "and the density is\n"
    "    rho(r, phi, z) = sum g_nl(r) exp(i (n phi + 2 pi l z / c)) + its complex conjugate\n"
    "(the equator's order 0 once; an equator of order n != 0 holds the orders n and -n\n"
    "together and gives each half). Samples of amplitude -999 (near a CTF zero) are left out;\n"
    "blocks of the same layer line add (sidesplit writes a meridian twice at weight 0.5).\n"
    "\n"
    "Options:\n"
    "  --input FILE        the layer lines (needed)\n"
    "  --map FILE          the map to write (needed; it must not exist): a mode-2 map of\n"
    "                      NX x NX x NZ voxels, x along columns, y along rows, z along\n"
    "                      sections, the helix axis through column NX/2, row NX/2 (from 0),\n"
    "                      z = 0 at section NZ/2, phi = atan2(y, x); cell NX*P, NX*P, NZ*P,\n"
    "                      origin 0 (as every map of the suite: the voxels count from the\n"
    "                      cell's corner), grid NX NX NZ, space group 1 (one volume, its\n"
    "                      record \" X,Y,Z\"), densities, rms and version 20140\n"
    "  --repeat C          the helical repeat in Angstroms (needed); NZ*P must hold whole repeats\n"
    "  --resolution RES    the resolution limit in Angstroms, at least 2*P (needed)\n"
    "  --voxel P           the voxel size in Angstroms (needed)\n"
    "  --size NX NZ        the map size (needed), each 2 to 1024\n"
    "  --radius RMAX       the density outside this radius (Angstroms) is set to 0, with a\n"
    "                      raised-cosine edge of two voxels\n"
    "  --edge W            the width of the soft resolution edge in reciprocal Angstroms\n"
    "                      (default 0.1/RES)\n"
    "  --gfile FILE        also write g_nl(r) of every layer line on the radii of the polar\n"
    "                      grid: a '#' line per layer line, then r, real and imaginary part\n"
    "\n"
    "The map is built on a polar grid (the azimuthal sums by FFT) and interpolated onto the\n"
    "voxels. Bad input (no layer lines, a layer line above the resolution limit, sizes that do\n"
    "not fit, bad options): a message on standard error and exit status 2; a failed run leaves\n"
    "neither the map nor the radial table.\n";

namespace {

double positive(const std::string& text, const std::string& option) {
  const records::Parsed<float> p = records::parse_free_real(text);
  if (!p.ok() || !std::isfinite(p.value) || p.value <= 0.0f)
    throw records::ReadError("command line", option + " needs a positive number, not \"" + text + "\"");
  return double(p.value);
}

std::int32_t size_value(const std::string& text) {
  const records::Parsed<std::int32_t> p = records::parse_free_int(text);
  if (!p.ok() || p.value < 2 || p.value > max_size)
    throw records::ReadError("command line", "--size needs two whole numbers from 2 to " + std::to_string(max_size) +
                                                 ", not \"" + text + "\"");
  return p.value;
}

void write_text(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw records::ReadError(path, "cannot be created");
  out << text;
  out.close();
  if (!out) throw records::ReadError(path, "could not be written in full");
}

void write_map(const std::string& path, const Setup& s, const std::vector<float>& map, const std::string& title) {
  constexpr int stream = 1;
  imagefile::imopen(stream, path, "NEW");
  const imagefile::Int3 size{s.nx, s.nx, s.nz};
  imagefile::icrhdr(stream, size, size, 2, {}, 0);
  const auto p = static_cast<float>(s.voxel);
  imagefile::set_map_frame(stream, p, p, p);  // the helix axis at voxel (nx/2, nx/2)
  imagefile::write_map_header(stream, title, imagefile::statistics_of(map));
  const std::size_t section = static_cast<std::size_t>(s.nx) * static_cast<std::size_t>(s.nx);
  for (std::int32_t iz = 0; iz < s.nz; ++iz)
    imagefile::iwrsec(stream, std::span<const float>(map).subspan(static_cast<std::size_t>(iz) * section, section));
  imagefile::imclose(stream);
}

}  // namespace

std::vector<LayerLine> read_layer_lines(records::LineSource& src, const Setup& s) {
  layerline::PointListReader reader(src, layerline::EndOfBlockRule::AllZero);
  std::vector<LayerLine> lines;
  while (std::optional<layerline::Block> b = reader.read_block()) {
    const std::string where = src.name() + ", line " + std::to_string(b->header.label_line);
    if (lines.size() == max_layer_lines)
      throw records::ReadError(src.name(),
                               "more than " + std::to_string(max_layer_lines) + " layer lines are not supported");
    LayerLine ll;
    ll.n = b->header.nn;
    ll.l = b->header.nl;
    if (ll.l < 0)
      throw records::ReadError(where, "layer line " + std::to_string(ll.l) + ": layer-line numbers must be 0 or more");
    if (std::abs(ll.n) > max_order)
      throw records::ReadError(
          where, "Bessel order " + std::to_string(ll.n) + ": at most " + std::to_string(max_order) + " is supported");
    if (ll.l / s.repeat >= s.smax)
      throw records::ReadError(where, "layer line " + std::to_string(ll.l) + " lies at " +
                                          records::free_real(static_cast<float>(ll.l / s.repeat)) +
                                          " 1/A, beyond the resolution limit " +
                                          records::free_real(static_cast<float>(s.smax)) + " 1/A");
    double last = -1.0;
    for (const layerline::Point& pt : b->points) {
      if (!std::isfinite(pt.r) || !std::isfinite(pt.amp) || !std::isfinite(pt.phase) || pt.r < 0.0f ||
          double(pt.r) < last)
        throw records::ReadError(where, "the radii of the layer line must be finite, 0 or more and increasing");
      last = double(pt.r);
      if (pt.amp == -999.0f) continue;
      ll.radius.push_back(double(pt.r));
      ll.near.push_back(double(b->header.scale) * double(pt.amp) *
                        std::polar(1.0, double(pt.phase) * std::numbers::pi / 180.0));
    }
    lines.push_back(std::move(ll));
  }
  if (lines.empty()) throw records::ReadError(src.name(), "holds no layer lines");
  return lines;
}

int run(const std::vector<std::string>& args, progmain::Streams streams) {
  // --size takes two values; the rest are "--name value".
  std::vector<std::string> rest;
  std::string nx_text, nz_text;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--size") {
      if (i + 2 >= args.size()) throw records::ReadError("command line", "--size needs two numbers, NX and NZ");
      nx_text = args[i + 1];
      nz_text = args[i + 2];
      i += 2;
    } else {
      rest.push_back(args[i]);
    }
  }
  std::string input, map_file, repeat, resolution, voxel, radius, edge, gfile;
  progmain::bind_options(rest,
                         {{"--input", &input, "a file name"},
                          {"--map", &map_file, "a file name"},
                          {"--repeat", &repeat, "the repeat in Angstroms"},
                          {"--resolution", &resolution, "the resolution in Angstroms"},
                          {"--voxel", &voxel, "the voxel size in Angstroms"},
                          {"--radius", &radius, "a radius in Angstroms"},
                          {"--edge", &edge, "a width in reciprocal Angstroms"},
                          {"--gfile", &gfile, "a file name"}},
                         "besselmap");
  for (const auto& [value, name] : {std::pair{&input, "--input"},
                                    {&map_file, "--map"},
                                    {&repeat, "--repeat"},
                                    {&resolution, "--resolution"},
                                    {&voxel, "--voxel"},
                                    {&nx_text, "--size"}})
    if (value->empty())
      throw records::ReadError("command line", std::string(name) + " is needed (see besselmap --help)");
  Setup s;
  s.repeat = positive(repeat, "--repeat");
  s.voxel = positive(voxel, "--voxel");
  const double res = positive(resolution, "--resolution");
  s.smax = 1.0 / res;
  s.edge = edge.empty() ? 0.1 * s.smax : positive(edge, "--edge");
  if (s.edge > s.smax) throw records::ReadError("command line", "--edge is wider than the resolution limit 1/RES");
  s.outer = radius.empty() ? 0.0 : positive(radius, "--radius");
  s.nx = size_value(nx_text);
  s.nz = size_value(nz_text);
  if (res < 2.0 * s.voxel * (1.0 - 1e-6))
    throw records::ReadError("command line", "resolution " + resolution + " A is finer than the voxels allow (" +
                                                 records::free_real(static_cast<float>(2.0 * s.voxel)) + " A)");
  const double repeats = s.nz * s.voxel / s.repeat;
  if (std::fabs(repeats - std::round(repeats)) > 1e-4 * repeats || std::round(repeats) < 1.0)
    throw records::ReadError("command line", "the box of " + std::to_string(s.nz) + " sections of " + voxel +
                                                 " A does not hold a whole number of repeats of " + repeat + " A");
  if (map_file == gfile) throw records::ReadError("command line", "--map and --gfile need different names");
  for (const std::string* f : {&map_file, &gfile})
    if (!f->empty() && std::filesystem::exists(*f))
      throw records::ReadError(*f, "exists already; besselmap never overwrites a file");

  records::LineSource src = records::LineSource::open_file(input);
  const std::vector<LayerLine> lines = read_layer_lines(src, s);

  const std::vector<float> map = synthesize(lines, s);
  // The map and the radial table stand or fall together: a failed run leaves neither.
  progmain::begin_output(map_file);
  if (!gfile.empty()) progmain::begin_output(gfile);
  if (!gfile.empty()) {
    const RadialTable t = radial_table(lines, s);
    std::ostringstream g;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      g << "# n " << lines[i].n << " l " << lines[i].l << "\n";
      for (std::size_t k = 0; k < t.r.size(); ++k)
        g << records::fixed_form(static_cast<float>(t.r[k]), 10, 3) << " "
          << records::exp_form(static_cast<float>(t.g[i][k].real()), 12, 5) << " "
          << records::exp_form(static_cast<float>(t.g[i][k].imag()), 12, 5) << "\n";
    }
    write_text(gfile, g.str());
  }
  write_map(map_file, s, map, "besselmap: " + input);
  progmain::finish_output(map_file);
  if (!gfile.empty()) progmain::finish_output(gfile);
  streams.out << " besselmap: " << lines.size() << " layer lines from " << input << " -> " << map_file << ", " << s.nx
              << " x " << s.nx << " x " << s.nz << " voxels of "
              << records::fixed_form(static_cast<float>(s.voxel), 7, 3) << " A, resolution "
              << records::fixed_form(static_cast<float>(res), 8, 2) << " A\n";
  return 0;
}

}  // namespace besselmap
