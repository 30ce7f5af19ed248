#include "mapflat/mapflat.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "imagefile/diskio.hpp"
#include "imagefile/header.hpp"
#include "imagefile/imageio.hpp"
#include "records/error.hpp"
#include "records/forms.hpp"
#include "records/source.hpp"

namespace mapflat {

const char* const help =
    "Usage: mapflat\n"
    "\n"
    "Projects a 3-D map along y: every output value is the sum of one x column of one section\n"
    "over all its lines, output line l coming from input section l. The projection is then\n"
    "raised by the magnitude of its minimum (so a negative minimum becomes 0; the extremes are\n"
    "started at 2000 and -2000) and written as a 2-D map of nx values per line and nz lines, in\n"
    "the data mode of the input, with a fresh header and no labels. Sums that a byte or 16-bit\n"
    "map cannot hold keep their low bits, with a warning on standard error.\n"
    "\n"
    "Dialogue (standard input and standard output):\n"
    "   \" 3-D INPUT FILE?  \"          the input map (the whole line), opened\n"
    "                                 read-only; any data mode 0-4 (complex maps are projected\n"
    "                                 number by number), either byte order\n"
    "   \" OUTPUT FILE FOR 2D MAP?  \"  the output map; it must not exist yet (unless\n"
    "                                 IMAGE_OPEN=UNKNOWN)\n"
    "Each name is looked up first as an environment variable holding the file name. Between the\n"
    "two questions the number of values, their sum and their minimum, maximum and mean are shown,\n"
    "then the raised minimum, maximum and mean; the image library reports both headers.\n"
    "\n"
    "An empty name is refused. The header's minimum, maximum and mean are those of the values\n"
    "written. Limits: nx * ny at most 16384 and nx at most 256; a larger map is refused with \"Map\n"
    "dimensions too large for program, ...\" and exit status 1, and no output is asked for. A map\n"
    "that ends before all its sections are read stops with \" END OF FILE ON MAP INPUT FILE !!!!\"\n"
    "and exit status 1 before any output exists. An empty map or an end of the input stops with a\n"
    "message on standard error and exit status 2. The image library's own failures end the run\n"
    "with its messages.\n";

namespace {

constexpr int nin = 1;
constexpr int nout = 2;

std::string trimmed(const std::string& s) {
  const std::size_t end = s.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

// A map name typed at a prompt, whole; an empty answer is refused rather than left to the image
// library's default name.
std::string map_name(records::LineSource& src, const std::string& what) {
  const records::Record rec = src.expect(what);
  const std::string name = trimmed(rec.text());
  if (name.empty()) throw records::ReadError(src.name(), rec.line(), 0, 0, "no file name given: " + what + " expected");
  return name;
}

std::string statistics_line(float dmin, float dmax, float dmean) {
  return (records::FreeLine() << "DMIN,DMAX,DMEAN " << dmin << dmax << dmean).str();
}

}  // namespace

void project_section(std::span<const float> section, std::int64_t line, std::span<float> projected) {
  const std::size_t nline = static_cast<std::size_t>(line);
  for (std::size_t j = 0; j + nline <= section.size(); j += nline)
    for (std::size_t i = 0; i < nline; ++i) projected[i] += section[j + i];
}

Densities densities(std::span<const float> barray) {
  Densities d;
  for (const float v : barray) {
    d.sum += v;
    if (v > d.dmax) d.dmax = v;
    if (v < d.dmin) d.dmin = v;
  }
  d.dmean = d.sum / static_cast<float>(barray.size());
  return d;
}

void shift_up(std::span<float> barray, Densities& d) {
  const float rise = std::fabs(d.dmin);
  for (float& v : barray) v += rise;
  d.dmax += rise;
  d.dmean += rise;
  d.dmin += rise;
}

int run(const std::vector<std::string>& args, progmain::Streams streams) {
  if (!args.empty()) {
    streams.err << "mapflat: unexpected argument \"" << args[0]
                << "\": the file names are asked for on standard input (see --help)\n";
    return 2;
  }
  std::ostream& out = streams.out;
  records::LineSource src(streams.in, "standard input");
  out << "\n MAPFLAT, Version 1.0:  PROJECTS 3D MAP ALONG Y  \n";
  out << (records::FreeLine() << "3-D INPUT FILE?  ").str() << '\n';
  out.flush();
  const std::string infil = map_name(src, "the name of the 3-D input file");

  imagefile::imopen(nin, infil, "RO");
  imagefile::Int3 nxyz{}, mxyz{};
  std::int32_t mode = 0;
  float dmin0 = 0.0f, dmax0 = 0.0f, dmean0 = 0.0f;
  imagefile::irdhdr(nin, nxyz, mxyz, mode, dmin0, dmax0, dmean0);
  const std::int32_t nx = nxyz[0], ny = nxyz[1], nz = nxyz[2];
  if (static_cast<std::int64_t>(nx) * ny > map_limit || nx > line_limit) {
    out << "\n\nMap dimensions too large for program, NX =" << records::int_form(nx, 5)
        << ", NY =" << records::int_form(ny, 5) << ", line limit =" << records::int_form(line_limit, 5)
        << ", map limit =" << records::int_form(map_limit, 7) << '\n';
    return 1;
  }
  if (nx < 1 || ny < 1 || nz < 1)
    throw records::ReadError(trimmed(infil), "map of " + std::to_string(nx) + " x " + std::to_string(ny) + " x " +
                                                 std::to_string(nz) + " holds no data");

  // A complex item is two numbers: its real and imaginary parts are summed apart.
  const std::int64_t line = static_cast<std::int64_t>(nx) * imagefile::numbers_per_item(mode);
  std::vector<float> array(static_cast<std::size_t>(line * ny));
  // Grown a line per section read, so a header claiming more sections than the file holds
  // costs nothing before its read fails.
  std::vector<float> barray;
  for (std::int32_t l = 0; l < nz; ++l) {
    imagefile::imposn(nin, l, 0);
    if (!imagefile::irdsec(nin, array)) {
      out << "\n END OF FILE ON MAP INPUT FILE !!!!\n";
      out.flush();
      streams.err << "mapflat: " << trimmed(infil) << ": the file ends before section " << l
                  << " (counted from 0) of its " << nz << " sections is complete\n";
      return 1;
    }
    barray.resize(barray.size() + static_cast<std::size_t>(line), 0.0f);
    project_section(array, line, std::span<float>(barray).subspan(static_cast<std::size_t>(l * line)));
  }

  const std::int64_t nsize = static_cast<std::int64_t>(barray.size());
  Densities d = densities(barray);
  out << (records::FreeLine() << "NSIZE = " << nsize).str() << '\n';
  out << (records::FreeLine() << "SUM= " << d.sum).str() << '\n';
  out << statistics_line(d.dmin, d.dmax, d.dmean) << '\n';
  out << statistics_line(d.dmin, d.dmax, d.dmean) << '\n';
  shift_up(barray, d);
  out << statistics_line(d.dmin, d.dmax, d.dmean) << '\n';

  out << (records::FreeLine() << "OUTPUT FILE FOR 2D MAP?  ").str() << '\n';
  out.flush();
  const std::string outfil = map_name(src, "the name of the 2-D output file");

  // Even where IMAGE_OPEN lets a new file replace an old one, the input is not overwritten.
  int in_unit = imagefile::imunit(nin), unopened = 0;
  std::string in_file, out_file;
  std::int64_t length = 0;
  imagefile::qqinq(in_unit, infil, in_file, length);
  imagefile::qqinq(unopened, outfil, out_file, length);
  std::error_code ec;
  if (std::filesystem::equivalent(in_file, out_file, ec))
    throw records::ReadError(trimmed(outfil), "the output " + out_file + " is the input map " + trimmed(infil) +
                                                  ", which would be overwritten");

  const imagefile::Int3 flat{nx, nz, 1};
  imagefile::imopen(nout, outfil, "NEW");
  imagefile::icrhdr(nout, flat, flat, mode, {}, 0);
  // The header describes the values written: their own extremes (the shift's starting values
  // of 2000 and -2000 would hide extremes beyond them) and their mean.
  const auto [lowest, highest] = std::minmax_element(barray.begin(), barray.end());
  imagefile::iwrhdr(nout, std::string(80, ' '), -1, *lowest, *highest, d.dmean);
  imagefile::iwrsec(nout, barray);
  if (const std::int64_t wrapped = imagefile::count_unstorable(barray, mode); wrapped > 0)
    streams.err << "mapflat: warning: " << wrapped << " of " << nsize << " values do not fit data mode " << mode
                << " of " << trimmed(outfil) << " and are stored as their low " << (mode == 0 ? 8 : 16) << " bits\n";
  imagefile::irdhdr(nout, nxyz, mxyz, mode, dmin0, dmax0, dmean0);
  imagefile::imclose(nin);
  imagefile::imclose(nout);
  return 0;
}

}  // namespace mapflat
