#include "helixsim/helixsim.hpp"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <span>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "imagefile/imageio.hpp"
#include "records/error.hpp"
#include "records/forms.hpp"

namespace helixsim {

const char* const help =
    "usage: helixsim [--control FILE] [--transform FILE] [--deck FILE] [--gridded FILE]\n"
    "       helixsim [--control FILE] [--deck FILE] [--density FILE] [--projection FILE]\n"
    "                [--near FILE] [--far FILE] [--gridded FILE]      (real-space model)\n"
    "\n"
    "Simulates a helical particle whose alignment is known. The Fourier-space model (the\n"
    "default) writes layer lines directly: on layer line (n, l) at height l/c the transform at\n"
    "radius R is A * i^n * J_n(2 pi R s r0) turned by n*phi0 - 360*l*z0/c degrees, so that\n"
    "gridscan and curvematch report the applied phi0 and z0 and the radial scale s; a particle\n"
    "of opposite polarity has every phase negated.\n"
    "\n"
    "The real-space model (\"model real\", or any \"blob\" line) builds the particle: u subunits\n"
    "in t turns a repeat (the rule's I and J; subunit k at azimuth 360*t*k/u degrees, height\n"
    "k*c/u, on the helix radius), each made of Gaussian blobs. It writes the density map, its\n"
    "projection, and the exact transform of the noise-free projection on the layer lines, on\n"
    "the scale of helixft's transform of the projection (sums over pixels), which helixft and\n"
    "sidesplit with the deck written here reproduce: helixsim --control p.sim --projection\n"
    "p.map; helixft --image p.map --transform t.map; IN=t.map sidesplit.\n"
    "  Density map: mode 2, W x W x H cubic voxels of the pixel size, x along columns, y along\n"
    "    rows, z (the helix axis) along sections; the axis through column W/2, row W/2 (from\n"
    "    0), z = 0 at section H/2; the box holds H*P/C whole repeats.\n"
    "  Projection: along y, mode 2, W x H, the axis vertical at column W/2, z = 0 at row H/2.\n"
    "  Transform: F(X, Z) = sum over x, z of the projection * exp(-2 pi i (X x + Z z)), x and z\n"
    "    from the axis and the centre row; layer line l at Z = l/c; the density is\n"
    "    sum g_nl(r) exp(i (n phi + 2 pi l z / c)), phi from +x towards +y, and on layer line l\n"
    "    F = sum_n (-i)^n exp(i n Phi) G_nl(R) (X > 0: Phi = 0, X < 0: Phi = 180 degrees).\n"
    "  Sides as sidesplit writes them: the near side is the X < 0 half when n >= 0, the X > 0\n"
    "    half when n < 0; with one order on a layer line far = near + n*180 degrees.\n"
    "  Motion: rotate PHI0 and shift Z0 move the density to rho(r, phi + PHI0, z - Z0), adding\n"
    "    n*PHI0 - 360*l*Z0/c degrees to every phase; polarity opposite turns the particle by\n"
    "    180 degrees about y ((x, y, z) -> (-x, y, -z), after the motion), which makes the near\n"
    "    side its complex conjugate (gridscan's ipole undoes it); scale S multiplies every\n"
    "    blob's radius by S (the widths stay).\n"
    "\n"
    "Control input (standard input, or --control FILE), one keyword a line, # starts a comment:\n"
    "  title TEXT          up to 40 characters (default \"helixsim particle\")\n"
    "  repeat C            repeat distance in Angstroms (needed)\n"
    "  radius R0           helix radius in Angstroms (needed)\n"
    "  pixel P             pixel size in Angstroms (needed)\n"
    "  box W H             image width (even) and height in pixels (needed); H*P must be a\n"
    "                      whole multiple of C, so that every layer line falls on a row; for\n"
    "                      the real-space model H is a product of 2, 3, 5 and 7\n"
    "  layer L N           one layer line and its Bessel order; one line for each layer line\n"
    "  rule I J LMAX NMAX  instead of layer lines: for l = 0..LMAX the order n of smallest\n"
    "                      |n| <= NMAX with (J*n + l)/I whole (jtable's rule; +n before -n);\n"
    "                      the real-space model needs it (I subunits in J turns)\n"
    "  amplitude A         amplitude scale (default 100; real-space model: the density of a\n"
    "                      blob of weight 1 at its centre, default 1)\n"
    "  samples M           radial samples a side (default: every column but the last)\n"
    "  rotate PHI0         rotation about the axis in degrees (default 0)\n"
    "  shift Z0            shift along the axis in Angstroms (default 0)\n"
    "  scale S             radial scale: the helix radius becomes S*R0 (default 1)\n"
    "  polarity P          same or opposite (default same)\n"
    "  noise LEVEL SEED    Fourier-space model: Gaussian noise of standard deviation LEVEL*A on\n"
    "                      every real and imaginary part (default 0)\n"
    "  gridded SIDE [K]    near or far: the side the gridded file holds (default near), with\n"
    "                      K samples a transform column (1 to 8, default 1)\n"
    "  model M             fourier (default) or real\n"
    "  blob DR DPHI DZ WIDTH [WEIGHT]\n"
    "                      real-space model: one Gaussian blob of the subunit, at radius\n"
    "                      R0+DR, azimuth DPHI degrees and height DZ from the subunit's point,\n"
    "                      standard deviation WIDTH Angstroms (at least a pixel for an exact\n"
    "                      transform), peak WEIGHT*A (default weight 1). Without blob lines the\n"
    "                      subunit is polar: blob 0 0 0 7 1, blob 9 14 9 6 0.7, blob -7 -12 -5 5 0.5\n"
    "  snr RATIO SEED      real-space model: Gaussian noise added to the projection, of\n"
    "                      variance (the projection's variance)/RATIO (default none); the\n"
    "                      density map and the layer-line files stay noise-free\n"
    "\n"
    "Output files (none of them may exist beforehand):\n"
    "  --transform FILE    the transform of the projection (default transform.map): a complex\n"
    "                      image (mode 4) of W/2+1 by H values, origin row H/2, for sidesplit\n"
    "  --deck FILE         the deck with which sidesplit samples every layer line at each\n"
    "                      column, R = delr .. M*delr with delr = 1/(W*P), on both sides\n"
    "                      (default sidesplit.dek); for the real-space model W is helixft's\n"
    "                      default padded width (the next even product of 2, 3, 5 and 7)\n"
    "  --gridded FILE      the same layer lines of one side as a gridded layer-line file for\n"
    "                      curvematch (default layerlines.dat; real-space model: only when\n"
    "                      named): sample j at R = (j-1)*delr/K, j = 1..K*M+1, dsr 1.0 (the\n"
    "                      radial unit is delr/K)\n"
    "  --density FILE      real-space model: the density map (noise-free)\n"
    "  --projection FILE   real-space model: the projection (with the snr noise)\n"
    "  --near FILE         real-space model: the exact near side in sidesplit's layout, block\n"
    "  --far FILE          by block and sample by sample as sidesplit writes it from helixft's\n"
    "                      transform of the projection with the deck\n"
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
  float dmin = 0.0f, dmax = 0.0f, dmean = 0.0f;
  imagefile::iclcdn(a, g.nx, g.ny, 1, g.nx, 1, g.ny, dmin, dmax, dmean);
  imagefile::iwrhdr(stream, "helixsim: " + p.title, 0, dmin, dmax, dmean);
  imagefile::iwrsec(stream, a);
  imagefile::imclose(stream);
}

std::string side_name(Side s) { return s == Side::Near ? "near" : "far"; }

}  // namespace

namespace {

// A real image (mode 2) of nx x ny x nz values with cubic voxels of the pixel size.
void write_real_map(const std::string& path, const Particle& p, std::int32_t nx, std::int32_t ny, std::int32_t nz,
                    const std::vector<float>& a, const std::string& what) {
  constexpr int stream = 1;
  imagefile::imopen(stream, path, "NEW");
  imagefile::icrhdr(stream, imagefile::Int3{nx, ny, nz}, imagefile::Int3{nx, ny, nz}, 2, {}, 0);
  imagefile::ialcel(stream, {static_cast<float>(nx) * p.pixel, static_cast<float>(ny) * p.pixel,
                             static_cast<float>(nz) * p.pixel, 90.0f, 90.0f, 90.0f});
  float dmin = a.empty() ? 0.0f : a[0], dmax = dmin;
  double sum = 0.0;
  for (const float v : a) {
    dmin = std::min(dmin, v);
    dmax = std::max(dmax, v);
    sum += double(v);
  }
  const float dmean = a.empty() ? 0.0f : static_cast<float>(sum / double(a.size()));
  imagefile::iwrhdr(stream, "helixsim " + what + ": " + p.title, 0, dmin, dmax, dmean);
  const std::size_t section = static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny);
  for (std::int32_t iz = 0; iz < nz; ++iz)
    imagefile::iwrsec(stream, std::span<const float>(a.data() + static_cast<std::size_t>(iz) * section, section));
  imagefile::imclose(stream);
}

// Refuses two outputs of one name and any output that exists, before anything is written.
void check_outputs(const std::vector<const std::string*>& names) {
  std::vector<std::string> used;
  for (const std::string* f : names) {
    if (f->empty()) continue;
    if (std::find(used.begin(), used.end(), *f) != used.end())
      throw records::ReadError("command line", "\"" + *f + "\" is named for two output files");
    used.push_back(*f);
  }
  for (const std::string& f : used)
    if (std::filesystem::exists(f)) throw records::ReadError(f, "exists already; helixsim never overwrites a file");
}

void print_summary(std::ostream& out, const Particle& p, const Geometry& g) {
  out << " repeat " << records::fixed_form(p.repeat, 8, 2) << " A, radius " << records::fixed_form(p.radius, 8, 2)
      << " A, amplitude " << records::fixed_form(p.amplitude, 8, 2) << "\n";
  out << " rotation " << records::fixed_form(p.phi0, 8, 2) << " deg, shift " << records::fixed_form(p.z0, 8, 2)
      << " A, radial scale " << records::fixed_form(p.scale, 7, 4) << ", polarity "
      << (p.flipped ? "opposite" : "same");
  if (p.real)
    out << ", snr " << records::fixed_form(p.snr, 8, 3) << " (seed " << p.snr_seed << ")\n";
  else
    out << ", noise " << records::fixed_form(p.noise, 6, 3) << " (seed " << p.seed << ")\n";
  out << "     l    n   row\n";
  for (const LayerLine& ll : p.lines)
    out << records::int_form(ll.l, 6) << records::int_form(ll.n, 5) << records::int_form(ll.l * g.rows_per_layer, 6)
        << "\n";
}

int run_fourier(Files files, const Particle& p, const Geometry& g, std::ostream& out) {
  for (const std::string* f : {&files.density, &files.projection, &files.near, &files.far})
    if (!f->empty())
      throw records::ReadError("command line",
                               "--density, --projection, --near and --far belong to the real-space "
                               "model (\"model real\" in the control input)");
  if (files.transform.empty()) files.transform = "transform.map";
  if (files.gridded.empty()) files.gridded = "layerlines.dat";
  if (files.transform == files.deck || files.transform == files.gridded || files.deck == files.gridded)
    throw records::ReadError("command line", "the transform, deck and gridded files need three different names");
  // Nothing is written unless all three files can be new.
  check_outputs({&files.transform, &files.deck, &files.gridded});

  Noise noise(p.seed, double(p.noise) * double(p.amplitude));
  const std::vector<float> section = transform_section(p, g, noise);
  std::ostringstream gridded;
  write_gridded(gridded, p, g, noise);

  write_transform(files.transform, p, g, section);
  write_text_file(files.deck, deck_text(p, g));
  write_text_file(files.gridded, gridded.str());

  out << " helixsim: " << p.title << "\n";
  out << " transform " << files.transform << ": " << g.nx << " x " << g.ny << " complex values, pixel "
      << records::fixed_form(p.pixel, 8, 3) << " A, origin row " << g.ky << ", " << g.rows_per_layer
      << " rows per layer line\n";
  out << " deck      " << files.deck << ": " << p.lines.size() << " layer lines, " << g.samples
      << " samples a side, delr " << records::fixed_form(g.delr, 10, 7) << " rec. Angstroms\n";
  out << " gridded   " << files.gridded << ": " << side_name(p.gridded_side) << " side, samples 1 to " << g.grid_points
      << ", dsr 1.0\n";
  print_summary(out, p, g);
  return 0;
}

// Largest density map written: 2^27 voxels (512 MB of mode-2 data).
constexpr std::int64_t max_density_voxels = std::int64_t{1} << 27;

int run_real(const Files& files, const Particle& p, const Geometry& g, std::ostream& out) {
  if (!files.transform.empty())
    throw records::ReadError("command line",
                             "the real-space model writes no transform: helixft makes it from the "
                             "projection (--projection FILE)");
  check_outputs({&files.deck, &files.density, &files.projection, &files.near, &files.far, &files.gridded});
  const std::int64_t voxels = std::int64_t{p.width} * p.width * p.height;
  if (!files.density.empty() && voxels > max_density_voxels)
    throw records::ReadError("command line", "the density map would hold " + std::to_string(voxels) +
                                                 " voxels, at most " + std::to_string(max_density_voxels) +
                                                 " are written (a smaller box)");

  // Everything is computed before the first file is written.
  std::vector<float> density, projection;
  if (!files.density.empty()) density = density_map(p);
  if (!files.projection.empty()) {
    projection = projection_image(p);
    add_projection_noise(p, projection);
  }
  const std::string near = files.near.empty() ? std::string() : analytic_side(p, g, Side::Near);
  const std::string far = files.far.empty() ? std::string() : analytic_side(p, g, Side::Far);
  std::ostringstream gridded;
  if (!files.gridded.empty()) {
    Noise quiet(p.seed, 0.0);
    const double column = 1.0 / (double(g.width) * double(p.pixel));
    write_gridded(
        gridded, p, g,
        [&](const LayerLine& ll, double x) {
          // x is a multiple of delr; the exact column position keeps the samples on the grid.
          return real_transform(p, g, x / double(g.delr) * column, double(ll.l) / double(p.repeat));
        },
        quiet);
  }

  write_text_file(files.deck, deck_text(p, g));
  if (!files.density.empty()) write_real_map(files.density, p, p.width, p.width, p.height, density, "density");
  if (!files.projection.empty()) write_real_map(files.projection, p, p.width, p.height, 1, projection, "projection");
  if (!files.near.empty()) write_text_file(files.near, near);
  if (!files.far.empty()) write_text_file(files.far, far);
  if (!files.gridded.empty()) write_text_file(files.gridded, gridded.str());

  out << " helixsim: " << p.title << " (real-space model)\n";
  out << " box " << p.width << " x " << p.width << " x " << p.height << " voxels of "
      << records::fixed_form(p.pixel, 8, 3) << " A, " << g.rows_per_layer << " repeats; " << p.subunits
      << " subunits in " << p.turns << " turns of " << p.blobs.size() << " blobs\n";
  out << " deck " << files.deck << ": helixft's transform of " << g.width << " x " << p.height << " pixels, "
      << p.lines.size() << " layer lines, " << g.samples << " samples a side, delr "
      << records::fixed_form(g.delr, 10, 7) << " rec. Angstroms, " << g.rows_per_layer << " rows per 1/c\n";
  for (const auto& [name, what] : {std::pair{&files.density, "density map"}, std::pair{&files.projection, "projection"},
                                   std::pair{&files.near, "near side"}, std::pair{&files.far, "far side"},
                                   std::pair{&files.gridded, "gridded layer lines"}})
    if (!name->empty()) out << " " << what << ": " << *name << "\n";
  print_summary(out, p, g);
  return 0;
}

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
  return p.real ? run_real(files, p, g, streams.out) : run_fourier(files, p, g, streams.out);
}

}  // namespace helixsim
