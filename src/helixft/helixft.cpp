#include "helixft/helixft.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <filesystem>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "adapters/fft.hpp"
#include "helixft/inplane.hpp"
#include "imagefile/imageio.hpp"
#include "imagefile/mapframe.hpp"
#include "records/error.hpp"
#include "records/forms.hpp"
#include "records/numbers.hpp"

namespace helixft {

const char* const help =
    "usage: helixft --image FILE --transform FILE [--axis COLUMN] [--box X0 Y0 W H]\n"
    "               [--size NX NY] [--taper PIXELS] [--repeat C] [--pixel P]\n"
    "               [--ctf VOLTAGE CS AMPCONTRAST DEFOCUS_U DEFOCUS_V ANGLE [BFACTOR]]\n"
    "               [--inverted]\n"
    "               [--section K] [--shift DX DY] [--rotate PSI]\n"
    "\n"
    "Transforms an image of a helical particle, its axis vertical, into the complex image\n"
    "(mode 4) that sidesplit samples. The box is cut out, floated to mean 0, its edges tapered\n"
    "by a cosine over the taper width, padded with zeros, transformed (the suite's forward\n"
    "transform, unscaled); the phase origin is moved onto the axis column and the box's centre\n"
    "row (H/2), and the rows are ordered so that row NY/2 holds the zero frequency: column h\n"
    "is X = h/(NX*P), row NY/2 + k is Z = k/(NY*P). The header's origin is 0; the\n"
    "statistics of the complex values are marked unset (DMAX < DMIN, RMS -1).\n"
    "\n"
    "  --image FILE        the particle image: a real map (mode 0, 1 or 2) of one section\n"
    "  --transform FILE    the transform to write (must not exist): NX/2+1 by NY values\n"
    "  --axis COLUMN       image column (from 0) of the helix axis (default: the box's centre\n"
    "                      column, X0 + W/2)\n"
    "  --box X0 Y0 W H     the part of the image used: first column and row (from 0), width and\n"
    "                      height (default: the whole image)\n"
    "  --size NX NY        the padded size, at least the box, NX even (default: the next sizes\n"
    "                      of the form 2^a 3^b 5^c 7^d, NX even)\n"
    "  --taper PIXELS      width of the cosine taper at the box edges (default 0: none)\n"
    "  --repeat C          a repeat distance in Angstroms: also print the rows per 1/c\n"
    "  --pixel P           the pixel size in Angstroms, when the image's cell gives none\n"
    "  --ctf V CS A DU DV ANGLE [B]\n"
    "                      phase-flip the transform by the image's contrast transfer function\n"
    "                      (as helixsim's ctf line gives it): V kV, Cs in mm, amplitude\n"
    "                      contrast A, defocus U and V in Angstroms (positive underfocus),\n"
    "                      ANGLE of the U axis from the x axis of the image as transformed\n"
    "                      (after --rotate: a micrograph's angle plus the turn), B-factor;\n"
    "                      every value is multiplied by the sign of the CTF at its frequency\n"
    "                      (X along the image's x axis, Z along y), so that density comes out\n"
    "                      bright at every resolution from an image recorded dark\n"
    "  --inverted          with --ctf: the image's contrast is inverted (density bright, as\n"
    "                      extracted stacks often are): the opposite sign is applied\n"
    "  --section K         the section K (from 0) of a stack of images (default: the file\n"
    "                      must hold one section)\n"
    "  --shift DX DY       move the image content by DX, DY Angstroms (may be fractions of a\n"
    "                      pixel) before it is turned and boxed\n"
    "  --rotate PSI        then turn it by PSI degrees, from +x towards +y, about the axis\n"
    "                      column and the box's centre row, so that a segment whose axis is\n"
    "                      not vertical becomes vertical; both by 5-point quadratic\n"
    "                      interpolation of the whole image, whatever comes in from beyond\n"
    "                      its edge taking the image's mean\n"
    "\n"
    "Standard output: the image library's report and the transform's sampling.\n"
    "Exit status 0, or 2 on unusable input or an output file that exists.\n";

namespace {

constexpr double pi = 3.14159265358979323846;

std::vector<std::int32_t> integers(const std::string& text, std::size_t count, const char* option, const char* what) {
  std::vector<std::int32_t> out;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == ',')) ++i;
    if (i >= text.size()) break;
    const std::size_t s = i;
    while (i < text.size() && text[i] != ' ' && text[i] != ',') ++i;
    const auto v = records::parse_free_int(text.substr(s, i - s));
    if (!v.ok()) throw records::ReadError("command line", std::string(option) + " takes " + what + ": " + v.error);
    out.push_back(v.value);
  }
  if (out.size() != count) throw records::ReadError("command line", std::string(option) + " takes " + what);
  return out;
}

float real_of(const std::string& text, const char* option) {
  const auto v = records::parse_free_real(text);
  if (!v.ok() || !(v.value > 0.0f))
    throw records::ReadError("command line", std::string(option) + " takes a number above 0");
  return v.value;
}


}  // namespace

// --section, --rotate and --shift.
void parse_inplane(Options& o, const std::string& section, const std::string& rotate, const std::string& shift) {
  if (!section.empty()) {
    o.section = integers(section, 1, "--section", "a section number")[0];
    if (o.section < 0) throw records::ReadError("command line", "--section " + section + ": sections count from 0");
  }
  auto finite = [](const std::string& text, const char* option, const char* what) {
    const auto v = records::parse_free_real(text);
    if (!v.ok() || !std::isfinite(v.value))
      throw records::ReadError("command line", std::string(option) + " takes " + what + ", not \"" + text + "\"");
    return v.value;
  };
  if (!rotate.empty()) {
    o.rotate = finite(rotate, "--rotate", "an angle in degrees");
    o.resample = true;
  }
  if (!shift.empty()) {
    const std::size_t gap = shift.find(' ');
    if (gap == std::string::npos) throw records::ReadError("command line", "--shift takes two distances DX DY");
    o.shift_x = finite(shift.substr(0, gap), "--shift", "two distances DX DY in Angstroms");
    o.shift_y = finite(shift.substr(gap + 1), "--shift", "two distances DX DY in Angstroms");
    o.resample = true;
  }
}

Options parse_arguments(const std::vector<std::string>& args) {
  // --box and --size take several values: they are joined with the words that follow them.
  std::vector<std::string> joined;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::size_t take = args[i] == "--box"                              ? 4
                             : (args[i] == "--size" || args[i] == "--shift") ? 2
                             : args[i] == "--ctf"                            ? 7
                                                                             : 0;
    joined.push_back(args[i]);
    if (take == 0) continue;
    std::string v;
    for (std::size_t k = 0; k < take && i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0; ++k)
      v += (k ? " " : "") + args[++i];
    joined.push_back(v);
  }
  std::string axis, box, size, taper, repeat, pixel, ctf_values, section, rotate, shift;
  Options o;
  const auto flag = std::find(joined.begin(), joined.end(), "--inverted");
  if (flag != joined.end()) {
    o.inverted = true;
    joined.erase(flag);
  }
  progmain::bind_options(joined,
                         {{"--image", &o.image, "a file name"},
                          {"--transform", &o.transform, "a file name"},
                          {"--axis", &axis, "a column"},
                          {"--box", &box, "four numbers"},
                          {"--size", &size, "two numbers"},
                          {"--taper", &taper, "a number of pixels"},
                          {"--repeat", &repeat, "a distance"},
                          {"--pixel", &pixel, "a pixel size"},
                          {"--ctf", &ctf_values, "six or seven numbers"},
                          {"--section", &section, "a section number"},
                          {"--rotate", &rotate, "an angle"},
                          {"--shift", &shift, "two distances"}},
                         "helixft");
  if (o.image.empty()) throw records::ReadError("command line", "--image names the particle image (needed)");
  if (o.transform.empty())
    throw records::ReadError("command line", "--transform names the transform to write (needed)");
  if (!axis.empty()) {
    o.axis = integers(axis, 1, "--axis", "an image column")[0];
    if (o.axis < 0) throw records::ReadError("command line", "--axis " + axis + ": columns count from 0");
  }
  if (!box.empty()) {
    const auto b = integers(box, 4, "--box", "four whole numbers X0 Y0 W H");
    o.x0 = b[0], o.y0 = b[1], o.w = b[2], o.h = b[3];
    if (o.x0 < 0 || o.y0 < 0 || o.w < 2 || o.h < 2)
      throw records::ReadError("command line", "--box " + box + ": the corner from 0, width and height at least 2");
  }
  if (!size.empty()) {
    const auto s = integers(size, 2, "--size", "two whole numbers NX NY");
    o.nx = s[0], o.ny = s[1];
    if (o.nx < 2 || o.ny < 2 || o.nx % 2 != 0)
      throw records::ReadError("command line", "--size " + size + ": NX even and both at least 2");
  }
  if (!taper.empty()) {
    o.taper = integers(taper, 1, "--taper", "a number of pixels")[0];
    if (o.taper < 0) throw records::ReadError("command line", "--taper must not be negative");
  }
  if (!repeat.empty()) o.repeat = real_of(repeat, "--repeat");
  if (!pixel.empty()) o.pixel = real_of(pixel, "--pixel");
  if (!ctf_values.empty()) {
    o.ctf = ctf::from_option(ctf_values);
    o.has_ctf = true;
  }
  if (o.inverted && !o.has_ctf)
    throw records::ReadError("command line", "--inverted says how to read the CTF's sign: it goes with --ctf");
  parse_inplane(o, section, rotate, shift);
  return o;
}

std::int32_t fast_size(std::int32_t at_least, bool even) {
  for (std::int64_t n = std::max<std::int32_t>(at_least, 1);; ++n) {
    if (even && n % 2 != 0) continue;
    std::int64_t m = n;
    for (std::int64_t f : {2, 3, 5, 7})
      while (m % f == 0) m /= f;
    if (m == 1) return static_cast<std::int32_t>(n);
  }
}

std::vector<float> prepare(const std::vector<float>& image, std::int32_t width, const Options& o) {
  double sum = 0.0;
  for (std::int32_t y = 0; y < o.h; ++y)
    for (std::int32_t x = 0; x < o.w; ++x)
      sum += double(image[std::size_t(o.y0 + y) * std::size_t(width) + std::size_t(o.x0 + x)]);
  const float mean = static_cast<float>(sum / (double(o.w) * double(o.h)));
  auto weight = [&](std::int32_t i, std::int32_t n) {
    const std::int32_t d = std::min(i, n - 1 - i);
    if (d >= o.taper) return 1.0f;
    return static_cast<float>(0.5 * (1.0 - std::cos(pi * (double(d) + 0.5) / double(o.taper))));
  };
  std::vector<float> wx(static_cast<std::size_t>(o.w)), wy(static_cast<std::size_t>(o.h));
  for (std::int32_t x = 0; x < o.w; ++x) wx[std::size_t(x)] = weight(x, o.w);
  for (std::int32_t y = 0; y < o.h; ++y) wy[std::size_t(y)] = weight(y, o.h);
  // Each line in a slot of nx + 2 reals, as the transform works in place.
  const std::size_t slot = std::size_t(o.nx) + 2;
  std::vector<float> out(slot * std::size_t(o.ny), 0.0f);
  for (std::int32_t y = 0; y < o.h; ++y) {
    const float* in = &image[std::size_t(o.y0 + y) * std::size_t(width) + std::size_t(o.x0)];
    float* row = &out[std::size_t(y) * slot];
    for (std::int32_t x = 0; x < o.w; ++x) row[x] = (in[x] - mean) * wx[std::size_t(x)] * wy[std::size_t(y)];
  }
  return out;
}

std::vector<float> transform_of(std::vector<float> padded, std::int32_t nx, std::int32_t ny, std::int32_t ax,
                                std::int32_t ay) {
  adapters::todfft(padded.data(), nx, ny, 0);
  const std::int32_t nh = nx / 2 + 1;
  const std::int32_t ky = ny / 2;
  // exp(+2 pi i h ax / nx) a column and exp(+2 pi i k ay / ny) a row, in double precision.
  std::vector<std::complex<double>> cx(static_cast<std::size_t>(nh)), cy(static_cast<std::size_t>(ny));
  for (std::int32_t h = 0; h < nh; ++h)
    cx[std::size_t(h)] = std::polar(1.0, 2.0 * pi * double((std::int64_t(h) * ax) % nx) / double(nx));
  for (std::int32_t k = 0; k < ny; ++k)
    cy[std::size_t(k)] = std::polar(1.0, 2.0 * pi * double((std::int64_t(k) * ay) % ny) / double(ny));
  std::vector<float> out(2 * std::size_t(nh) * std::size_t(ny));
  for (std::int32_t r = 0; r < ny; ++r) {
    const std::int32_t k = ((r - ky) % ny + ny) % ny;  // the stored row of frequency r - ky
    const float* in = &padded[2 * std::size_t(k) * std::size_t(nh)];
    float* o = &out[2 * std::size_t(r) * std::size_t(nh)];
    for (std::int32_t h = 0; h < nh; ++h) {
      const std::complex<double> v =
          std::complex<double>(double(in[2 * h]), double(in[2 * h + 1])) * cx[std::size_t(h)] * cy[std::size_t(k)];
      o[2 * h] = static_cast<float>(v.real());
      o[2 * h + 1] = static_cast<float>(v.imag());
    }
  }
  return out;
}

int run(const std::vector<std::string>& args, progmain::Streams streams) {
  Options o = parse_arguments(args);
  if (!std::filesystem::exists(o.image)) throw records::ReadError(o.image, "does not exist");
  if (std::filesystem::exists(o.transform))
    throw records::ReadError(o.transform, "exists already; helixft never overwrites a file");

  constexpr int in = 1, out = 2;
  imagefile::imopen(in, o.image, "RO");
  imagefile::Int3 nxyz{}, mxyz{};
  std::int32_t mode = 0;
  float dmin = 0.0f, dmax = 0.0f, dmean = 0.0f;
  imagefile::irdhdr(in, nxyz, mxyz, mode, dmin, dmax, dmean);
  if (mode == 3 || mode == 4)
    throw records::ReadError(o.image, "data mode " + std::to_string(mode) +
                                          " holds complex values; helixft transforms a real image (mode 0, 1 or 2)");
  if (mode != 0 && mode != 1 && mode != 2)
    throw records::ReadError(o.image, "data mode " + std::to_string(mode) + ": helixft reads modes 0, 1 and 2");
  const std::int32_t width = nxyz[0], height = nxyz[1];
  if (o.section < 0 && nxyz[2] != 1)
    throw records::ReadError(o.image,
                             std::to_string(nxyz[2]) + " sections: helixft transforms one image (--section K)");
  if (o.section >= nxyz[2])
    throw records::ReadError(
        o.image, "has no section " + std::to_string(o.section) + ": it holds " + std::to_string(nxyz[2]) + " (from 0)");
  if (width < 2 || height < 2)
    throw records::ReadError(o.image, std::to_string(width) + " x " + std::to_string(height) +
                                          " pixels: an image of at least 2 x 2 is needed");
  if (o.w == 0) {
    o.w = width;
    o.h = height;
  }
  if (std::int64_t(o.x0) + o.w > width || std::int64_t(o.y0) + o.h > height)
    throw records::ReadError("command line", "the box " + std::to_string(o.x0) + " " + std::to_string(o.y0) + " " +
                                                 std::to_string(o.w) + " " + std::to_string(o.h) +
                                                 " does not fit in the " + std::to_string(width) + " x " +
                                                 std::to_string(height) + " image of " + o.image);
  if (o.axis < 0) o.axis = o.x0 + o.w / 2;
  if (o.axis >= width)
    throw records::ReadError("command line", "--axis " + std::to_string(o.axis) + " lies outside the " +
                                                 std::to_string(width) + " columns of " + o.image);
  if (o.axis < o.x0 || o.axis >= o.x0 + o.w)
    throw records::ReadError("command line", "--axis " + std::to_string(o.axis) + " lies outside the box (columns " +
                                                 std::to_string(o.x0) + " to " + std::to_string(o.x0 + o.w - 1) + ")");
  if (o.nx == 0) {
    o.nx = fast_size(o.w, true);
    o.ny = fast_size(o.h, false);
  }
  if (o.nx < o.w || o.ny < o.h)
    throw records::ReadError("command line", "--size " + std::to_string(o.nx) + " " + std::to_string(o.ny) +
                                                 " is smaller than the box (" + std::to_string(o.w) + " x " +
                                                 std::to_string(o.h) + ")");
  if (2 * o.taper > std::min(o.w, o.h))
    throw records::ReadError("command line", "--taper " + std::to_string(o.taper) + " is more than half the box");
  const std::int64_t values = (std::int64_t(o.nx) + 2) * o.ny;
  if (values > (std::int64_t(1) << 28))
    throw records::ReadError("command line", "the padded size " + std::to_string(o.nx) + " x " + std::to_string(o.ny) +
                                                 " is too large (at most 2^28 values)");
  std::array<float, 6> cell{};
  imagefile::irtcel(in, cell);
  float pixel = o.pixel;
  if (pixel == 0.0f && mxyz[0] > 0 && cell[0] > 0.0f) pixel = cell[0] / static_cast<float>(mxyz[0]);
  if (!(pixel > 0.0f) || !std::isfinite(pixel))
    throw records::ReadError(o.image, "the header's cell gives no pixel size: give --pixel");

  // The image must be in the file before room is made for it.
  const std::int32_t section = std::max(o.section, 0);
  imagefile::require_items(in, o.image, std::int64_t{width} * height * (section + 1));
  if (section > 0) imagefile::imposn(in, section, 0);
  std::vector<float> image(std::size_t(width) * std::size_t(height));
  for (std::int32_t y = 0; y < height; ++y)
    if (!imagefile::irdlin(in,
                           std::span<float>(image).subspan(std::size_t(y) * std::size_t(width), std::size_t(width))))
      throw records::ReadError(o.image, "ends within line " + std::to_string(y) + " of the image");
  imagefile::imclose(in);
  if (o.resample)
    image = move_and_turn(image, width, height, o.rotate, o.shift_x / pixel, o.shift_y / pixel,
                          static_cast<float>(o.axis), static_cast<float>(o.y0 + o.h / 2));

  std::vector<float> t = transform_of(prepare(image, width, o), o.nx, o.ny, o.axis - o.x0, o.h / 2);
  if (o.has_ctf) phase_flip(t, o.nx, o.ny, pixel, o.ctf, o.inverted);
  const std::int32_t nh = o.nx / 2 + 1;
  imagefile::imopen(out, o.transform, "NEW");
  imagefile::icrhdr(out, imagefile::Int3{nh, o.ny, 1}, imagefile::Int3{o.nx, o.ny, 1}, 4, {}, 0);
  imagefile::ialcel(out,
                    {static_cast<float>(o.nx) * pixel, static_cast<float>(o.ny) * pixel, pixel, 90.0f, 90.0f, 90.0f});
  imagefile::set_map_frame(out, pixel, pixel, pixel);
  imagefile::write_map_header(out, "helixft: transform of " + std::filesystem::path(o.image).filename().string(),
                              imagefile::undetermined_statistics);
  imagefile::iwrsec(out, t);
  imagefile::imclose(out);

  std::ostream& s = streams.out;
  s << " helixft: " << o.image << " box " << o.x0 << " " << o.y0 << " " << o.w << " x " << o.h << ", axis column "
    << o.axis << ", taper " << o.taper << ", padded to " << o.nx << " x " << o.ny << ", pixel "
    << records::fixed_form(pixel, 8, 3) << " A\n";
  if (o.section >= 0) s << " section " << o.section << " of " << nxyz[2] << "\n";
  if (o.resample)
    s << " moved by " << records::fixed_form(o.shift_x, 9, 2) << records::fixed_form(o.shift_y, 9, 2)
      << " A, then turned by " << records::fixed_form(o.rotate, 9, 3) << " degrees\n";
  s << " transform " << o.transform << ": " << nh << " x " << o.ny << " complex values, zero frequency at row "
    << o.ny / 2 << "\n";
  s << " sampling " << records::fixed_form(1.0f / (static_cast<float>(o.nx) * pixel), 11, 7)
    << " rec. Angstroms a column, " << records::fixed_form(1.0f / (static_cast<float>(o.ny) * pixel), 11, 7)
    << " a row\n";
  if (o.repeat > 0.0f)
    s << " repeat " << records::fixed_form(o.repeat, 8, 2)
      << " A: " << records::fixed_form(static_cast<float>(o.ny) * pixel / o.repeat, 10, 4) << " rows per 1/c\n";
  if (o.has_ctf)
    s << " phase-flipped by the CTF of " << records::fixed_form(o.ctf.voltage, 6, 1) << " kV, Cs "
      << records::fixed_form(o.ctf.cs, 5, 2) << " mm, amplitude contrast "
      << records::fixed_form(o.ctf.amplitude_contrast, 5, 3) << ", defocus "
      << records::fixed_form(o.ctf.defocus_u, 8, 1) << records::fixed_form(o.ctf.defocus_v, 9, 1) << " A at "
      << records::fixed_form(o.ctf.angle, 7, 2) << " deg" << (o.inverted ? ", inverted contrast" : "") << "\n";
  return 0;
}

}  // namespace helixft
