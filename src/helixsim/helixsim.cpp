#include "helixsim/helixsim.hpp"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "imagefile/imageio.hpp"
#include "imagefile/mapframe.hpp"
#include "progmain/outputs.hpp"
#include "records/error.hpp"
#include "records/forms.hpp"

namespace helixsim {

const char* const help =
    "usage: helixsim [--control FILE] [--transform FILE] [--deck FILE] [--gridded FILE]\n"
    "                [--density FILE] [--projection FILE] [--near FILE --far FILE]\n"
    "\n"
    "Simulates a helical particle whose alignment is known: on layer line (n, l) at height l/c\n"
    "the transform at signed radius X (negative on the other side of the meridian) is\n"
    "A * i^n * J_n(2 pi X s r0) turned by n*phi0 - 360*l*z0/c degrees. In the suite's one\n"
    "convention (the transform at X > 0 holds i^-n G_nl(|X|), at X < 0 i^n G_nl(|X|); the\n"
    "near side i^|n| G_nl, the far side n*180 degrees more) this is the helix of\n"
    "G_nl(R) = (-1)^n A J_n(2 pi R s r0): its near side holds i^-|n| A J_n(2 pi R s r0).\n"
    "gridscan and curvematch report the applied phi0 and z0 and the radial scale s; a particle\n"
    "of opposite polarity has every phase negated.\n"
    "\n"
    "Control input (standard input, or --control FILE), one keyword a line, # starts a comment:\n"
    "  title TEXT          up to 40 characters (default \"helixsim particle\")\n"
    "  repeat C            repeat distance in Angstroms (needed)\n"
    "  radius R0           helix radius in Angstroms (needed)\n"
    "  pixel P             pixel size in Angstroms (needed)\n"
    "  box W H             image width (even) and height in pixels (needed); H*P must be a\n"
    "                      whole multiple of C, so that every layer line falls on a row\n"
    "  layer L N           one layer line and its Bessel order; one line for each layer line\n"
    "  rule I J LMAX NMAX  instead of layer lines: for l = 0..LMAX the order n of smallest\n"
    "                      |n| <= NMAX with (J*n + l)/I whole (jtable's rule; +n before -n)\n"
    "  amplitude A         amplitude scale (default 100)\n"
    "  samples M           radial samples a side (default: every column but the last)\n"
    "  rotate PHI0         rotation about the axis in degrees (default 0)\n"
    "  shift Z0            shift along the axis in Angstroms (default 0)\n"
    "  inplane PSI DX DY   real model: the projection as an extracted segment shows it, turned\n"
    "                      by PSI degrees (from +x towards +y) about column W/2, row H/2 and\n"
    "                      moved by DX, DY Angstroms (helixft --shift -DX -DY --rotate -PSI\n"
    "                      makes it vertical again); the other outputs stay vertical\n"
    "  scale S             radial scale: the helix radius becomes S*R0 (default 1)\n"
    "  polarity P          same or opposite (default same)\n"
    "  noise LEVEL SEED    Gaussian noise of standard deviation LEVEL*A on every real and\n"
    "                      imaginary part (default 0)\n"
    "  gridded SIDE [K]    near or far: the side the gridded file holds (default near), with\n"
    "                      K samples a transform column (1 to 8, default 1)\n"
    "  model MODEL         fourier (default: the layer lines above) or real: a helix of\n"
    "                      subunits of Gaussian blobs, u = I subunits in t = J turns of the\n"
    "                      rule a repeat, subunit k at azimuth 360*t*k/u degrees and height\n"
    "                      k*C/u; the layer lines of the rule are those sampled\n"
    "  subunit DR DPHI DZ W WEIGHT\n"
    "                      real model: one blob of the subunit (one line each) at radius\n"
    "                      R0+DR, azimuth +DPHI degrees, height +DZ Angstroms, of standard\n"
    "                      deviation W Angstroms and peak density WEIGHT; without such lines\n"
    "                      the subunit is three blobs of no two-fold symmetry (a polar helix)\n"
    "  ctf V CS A DU DV ANGLE [B]\n"
    "                      real model: the projection as the microscope images it, its\n"
    "                      transform multiplied by the CTF before the noise is added: V kV,\n"
    "                      Cs in mm, amplitude contrast A (0 to below 1), defocus U and V in\n"
    "                      Angstroms (positive underfocus), ANGLE of the U axis from the\n"
    "                      image's x axis in degrees, B-factor of the envelope exp(-B s^2/4);\n"
    "                      CTF = -(sqrt(1-A^2) sin chi + A cos chi), chi = pi lambda dF s^2 -\n"
    "                      pi/2 Cs lambda^3 s^4, so density is dark. The noise level stays\n"
    "                      relative to the projection without the CTF; the density, transform,\n"
    "                      gridded and --near/--far files stay free of it\n"
    "In the real model the particle moves as rho'(r, phi, z) = rho(r/S, phi + PHI0, z - Z0);\n"
    "the opposite polarity turns it by 180 degrees about the viewing axis y; the noise is\n"
    "added to the projection only, of standard deviation LEVEL times that of the projection;\n"
    "the transform and gridded files hold the analytic transform, noise-free.\n"
    "\n"
    "Output files (none of them may exist beforehand):\n"
    "  --transform FILE    the transform of the projection (default transform.map): a complex\n"
    "                      image (mode 4) of W/2+1 by H values, origin row H/2, for sidesplit\n"
    "  --deck FILE         the deck with which sidesplit samples every layer line at each\n"
    "                      column, R = delr .. M*delr with delr = 1/(W*P), on both sides\n"
    "                      (default sidesplit.dek)\n"
    "  --gridded FILE      the same layer lines of one side as a gridded layer-line file for\n"
    "                      curvematch (default layerlines.dat): sample j at R = (j-1)*delr/K,\n"
    "                      j = 1..K*M+1, dsr 1.0 (the radial unit is delr/K)\n"
    "Real model only, each written when named:\n"
    "  --density FILE      the 3-D density (mode 2), W x W x H voxels of P Angstroms, the axis\n"
    "                      through column W/2, row W/2 along z, z = 0 at section H/2 (at most\n"
    "                      2^25 voxels); origin 0, space group 1 (one volume)\n"
    "  --projection FILE   its sum along y (mode 2, W x H, at most 2^24 pixels), the axis along\n"
    "                      column W/2, with noise\n"
    "  --near FILE, --far FILE\n"
    "                      the analytic transform of the noise-free projection as sidesplit\n"
    "                      samples it with the deck: point-list files of amplitude and phase\n"
    "\n"
    "Standard output: the image library's report and a summary of the particle.\n"
    "Exit status 0, or 2 on unusable input or an output file that exists.\n";

Files parse_arguments(const std::vector<std::string>& args) {
  Files f;
  progmain::bind_options(args,
                         {{"--control", &f.control, "a file name"},
                          {"--transform", &f.transform, "a file name"},
                          {"--deck", &f.deck, "a file name"},
                          {"--gridded", &f.gridded, "a file name"},
                          {"--density", &f.density, "a file name"},
                          {"--projection", &f.projection, "a file name"},
                          {"--near", &f.near, "a file name"},
                          {"--far", &f.far, "a file name"}},
                         "helixsim");
  std::vector<const std::string*> names{&f.transform, &f.deck, &f.gridded};
  for (const std::string* o : {&f.density, &f.projection, &f.near, &f.far})
    if (!o->empty()) names.push_back(o);
  for (std::size_t i = 0; i < names.size(); ++i)
    for (std::size_t j = 0; j < i; ++j)
      if (*names[i] == *names[j])
        throw records::ReadError("command line", "the output files need different names (\"" + *names[i] + "\" twice)");
  if (f.near.empty() != f.far.empty())
    throw records::ReadError("command line", "--near and --far name the two sides together");
  return f;
}

namespace {

void write_text_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  if (!out) throw records::ReadError(path, "cannot be created");
  out << text;
  out.close();
  if (!out) throw records::ReadError(path, "could not be written in full");
}

void write_transform(const std::string& path, const Particle& p, const Geometry& g, const std::vector<float>& a) {
  constexpr int stream = 1;
  imagefile::imopen(stream, path, "NEW");
  imagefile::icrhdr(stream, imagefile::Int3{g.nx, g.ny, 1}, imagefile::Int3{p.width, p.height, 1}, 4, {}, 0);
  imagefile::ialcel(stream, {static_cast<float>(p.width) * p.pixel, static_cast<float>(p.height) * p.pixel, p.pixel,
                             90.0f, 90.0f, 90.0f});
  imagefile::set_map_frame(stream, p.pixel, p.pixel, p.pixel);
  imagefile::write_map_header(stream, "helixsim: " + p.title, imagefile::undetermined_statistics);
  imagefile::iwrsec(stream, a);
  imagefile::imclose(stream);
}

// A real image (mode 2) of nz sections of nx by ny values, cubic pixels of size a.
void write_real_map(const std::string& path, const std::string& title, std::int32_t nx, std::int32_t ny,
                    std::int32_t nz, float a, const std::vector<float>& v) {
  constexpr int stream = 1;
  imagefile::imopen(stream, path, "NEW");
  imagefile::icrhdr(stream, imagefile::Int3{nx, ny, nz}, imagefile::Int3{nx, ny, nz}, 2, {}, 0);
  imagefile::set_map_frame(stream, a, a, a);
  imagefile::write_map_header(stream, "helixsim: " + title, imagefile::statistics_of(v));
  const std::size_t sec = static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny);
  for (std::int32_t z = 0; z < nz; ++z)
    imagefile::iwrsec(stream, std::span<const float>(v).subspan(static_cast<std::size_t>(z) * sec, sec));
  imagefile::imclose(stream);
}

std::string side_name(Side s) { return s == Side::Near ? "near" : "far"; }

}  // namespace

int run(const std::vector<std::string>& args, progmain::Streams streams) {
  const Files files = parse_arguments(args);
  Particle p;
  if (files.control.empty()) {
    records::LineSource src(streams.in, "standard input");
    p = read_control(src);
  } else {
    records::LineSource src = records::LineSource::open_file(files.control);
    p = read_control(src);
  }
  const Geometry g = geometry_of(p);

  const bool real_out = !files.density.empty() || !files.projection.empty() || !files.near.empty();
  if (real_out && !p.real_model)
    throw records::ReadError("command line", "--density, --projection, --near and --far need \"model real\"");
  if (!files.density.empty()) {
    const std::int64_t voxels = std::int64_t(p.width) * p.width * p.height;
    if (voxels > max_voxels)
      throw records::ReadError("command line", "--density " + files.density + ": the density map would hold " +
                                                   std::to_string(voxels) + " voxels, at most " +
                                                   std::to_string(max_voxels) + " are supported");
  }
  // Nothing is written unless every file can be new.
  for (const std::string* f :
       {&files.transform, &files.deck, &files.gridded, &files.density, &files.projection, &files.near, &files.far})
    if (!f->empty() && std::filesystem::exists(*f))
      throw records::ReadError(*f, "exists already; helixsim never overwrites a file");

  // The real model's noise lies in the projection alone.
  Noise noise(p.seed, p.real_model ? 0.0 : double(p.noise) * double(p.amplitude));
  const std::vector<float> section = transform_section(p, g, noise);
  std::ostringstream gridded;
  write_gridded(gridded, p, g, noise);

  // The three files stand or fall together: a failure before all are written removes them all.
  for (const std::string* f : {&files.transform, &files.deck, &files.gridded}) progmain::begin_output(*f);
  write_transform(files.transform, p, g, section);
  write_text_file(files.deck, deck_text(p, g));
  write_text_file(files.gridded, gridded.str());
  if (p.real_model) {
    if (!files.near.empty()) {
      std::ostringstream near, far;
      write_sides(near, far, p, g);
      write_text_file(files.near, near.str());
      write_text_file(files.far, far.str());
    }
    const std::vector<PlacedBlob> blobs = placed_blobs(p);
    if (!files.density.empty())
      write_real_map(files.density, p.title, p.width, p.width, p.height, p.pixel, density_map(p, blobs));
    if (!files.projection.empty()) {
      std::vector<float> proj = p.inplane ? project_blobs_inplane(p, blobs) : project_blobs(p, blobs);
      double s = 0.0, s2 = 0.0;
      for (float v : proj) {
        s += double(v);
        s2 += double(v) * double(v);
      }
      const double n = double(proj.size());
      const double sd = std::sqrt(std::max(0.0, s2 / n - (s / n) * (s / n)));
      // The noise is measured against the particle's own projection, so that a level means the
      // same dose with and without the CTF; it stays white.
      if (p.has_ctf) apply_ctf(p, proj);
      Noise real_noise(p.seed, double(p.noise) * sd);
      for (float& v : proj) v = static_cast<float>(double(v) + real_noise.next());
      write_real_map(files.projection, p.title, p.width, p.height, 1, p.pixel, proj);
    }
  }
  for (const std::string* f : {&files.transform, &files.deck, &files.gridded}) progmain::finish_output(*f);

  std::ostream& out = streams.out;
  out << " helixsim: " << p.title << "\n";
  out << " transform " << files.transform << ": " << g.nx << " x " << g.ny << " complex values, pixel "
      << records::fixed_form(p.pixel, 8, 3) << " A, origin row " << g.ky << ", " << g.rows_per_layer
      << " rows per layer line\n";
  out << " deck      " << files.deck << ": " << p.lines.size() << " layer lines, " << g.samples
      << " samples a side, delr " << records::fixed_form(g.delr, 10, 7) << " rec. Angstroms\n";
  out << " gridded   " << files.gridded << ": " << side_name(p.gridded_side) << " side, samples 1 to " << g.grid_points
      << ", dsr 1.0\n";
  out << " repeat " << records::fixed_form(p.repeat, 8, 2) << " A, radius " << records::fixed_form(p.radius, 8, 2)
      << " A, amplitude " << records::fixed_form(p.amplitude, 8, 2) << "\n";
  out << " rotation " << records::fixed_form(p.phi0, 8, 2) << " deg, shift " << records::fixed_form(p.z0, 8, 2)
      << " A, radial scale " << records::fixed_form(p.scale, 7, 4) << ", polarity " << (p.flipped ? "opposite" : "same")
      << ", noise " << records::fixed_form(p.noise, 6, 3) << " (seed " << p.seed << ")\n";
  if (p.has_ctf)
    out << " ctf " << records::fixed_form(p.ctf.voltage, 7, 1) << " kV, Cs " << records::fixed_form(p.ctf.cs, 6, 2)
        << " mm, amplitude contrast " << records::fixed_form(p.ctf.amplitude_contrast, 6, 3) << ", defocus "
        << records::fixed_form(p.ctf.defocus_u, 9, 1) << records::fixed_form(p.ctf.defocus_v, 9, 1) << " A at "
        << records::fixed_form(p.ctf.angle, 7, 2) << " deg, B " << records::fixed_form(p.ctf.bfactor, 7, 1)
        << " (projection only)\n";
  out << "     l    n   row\n";
  for (const LayerLine& ll : p.lines)
    out << records::int_form(ll.l, 6) << records::int_form(ll.n, 5) << records::int_form(ll.l * g.rows_per_layer, 6)
        << "\n";
  return 0;
}

}  // namespace helixsim
