#include "mapsig/mapsig.hpp"

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
#include "records/free.hpp"

namespace mapsig {

const char* const help =
    "Usage: mapsig < dialogue\n"
    "\n"
    "Compares two sets of 3-D maps voxel by voxel. Each set is given by its mean map, its\n"
    "standard-deviation map and the number of maps that went into them; the output map holds at\n"
    "every voxel 100 times the two-sample Student t statistic (pooled variance) of the difference\n"
    "of the two means:\n"
    "   100 |m1 - m2| / (sp sqrt(1/n1 + 1/n2)),  sp^2 = ((n1-1) s1^2 + (n2-1) s2^2) / (n1 + n2 - 2)\n"
    "A voxel where the pooled sum of squares is 0 (every voxel when n1 = n2 = 1) is written as 0\n"
    "and left out of the minimum and maximum, but counted in the mean.\n"
    "\n"
    "Standard input, seven records:\n"
    "   1  a title (80 characters; shown nowhere, the output keeps the labels of the first map)\n"
    "   2  n1, the number of maps in set 1 (free format, at least 1)\n"
    "   3  the mean map of set 1 (the whole line; an empty name is refused)\n"
    "   4  the standard-deviation map of set 1\n"
    "   5  n2, the number of maps in set 2\n"
    "   6  the mean map of set 2\n"
    "   7  the standard-deviation map of set 2\n"
    "Each name is looked up first as an environment variable holding the file name. The four\n"
    "maps are opened read-only; they must have equal dimensions, may be in any data mode 0-4\n"
    "(real and complex maps cannot be mixed; complex maps are taken number by number) and may\n"
    "come from a machine of other byte order (machine stamp).\n"
    "\n"
    "Output: the image file named by environment variable TSTAT (else a file named TSTAT), which\n"
    "must not exist yet (unless IMAGE_OPEN=UNKNOWN). Its header is that of the mean map of set 1\n"
    "(also its data mode) with new minimum, maximum and mean densities. Values that the data\n"
    "mode of a byte or 16-bit map cannot hold keep their low bits, with a warning on standard\n"
    "error.\n"
    "\n"
    "Standard output: the echo of the set sizes and names, the image library's reports, and the\n"
    "minimum, maximum and mean of the output. A map that ends before all its sections are read\n"
    "stops the run with \" END OF FILE ON MAP INPUT FILE !!!!\" and exit status 1; the unfinished\n"
    "output is then removed. Bad records, set sizes below 1, maps of unequal dimensions\n"
    "or empty maps stop the run before the output is created, with a message on standard error\n"
    "and exit status 2. The image library's own failures end the run with its messages.\n";

namespace {

constexpr int stream_tstat = 7;
constexpr std::string_view banner = " MAPSIG , Version 1.0:  Calculate MAPSIG  ";
constexpr std::string_view banner_tail = " between two ";

std::string trimmed(const std::string& s) {
  const std::size_t end = s.find_last_not_of(' ');
  return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

std::int32_t set_size(records::LineSource& src, std::string_view what, int set) {
  records::FreeRecord rec(src);
  const std::int32_t n = rec.integer(what);
  if (n < 1)
    throw records::ReadError(
        src.name(), src.line(), 0, 0,
        "the number of maps in set " + std::to_string(set) + " is " + std::to_string(n) + ", it must be at least 1");
  return n;
}

// A map name typed on standard input, whole; an empty answer is refused rather than left to the
// image library's default name.
std::string file_name(records::LineSource& src, std::string_view what) {
  const records::Record rec = src.expect(what);
  const std::string name = trimmed(rec.text());
  if (name.empty())
    throw records::ReadError(src.name(), rec.line(), 0, 0, "no file name given: " + std::string(what) + " expected");
  return name;
}

std::string dims_text(const imagefile::Int3& n) {
  return std::to_string(n[0]) + " x " + std::to_string(n[1]) + " x " + std::to_string(n[2]);
}

// One input map: its name as typed, its dimensions and how many whole sections its file holds.
struct InputMap {
  std::string name;
  std::string file;  // the file the name resolves to
  imagefile::Int3 nxyz{};
  std::int32_t mode = 0;
  std::int64_t numbers_per_section = 0;
  std::int64_t sections_in_file = 0;
};

InputMap open_input(int istream, const std::string& name) {
  InputMap m;
  m.name = trimmed(name);
  imagefile::imopen(istream, name, "RO");
  imagefile::Int3 mxyz{};
  float dmin = 0.0f, dmax = 0.0f, dmean = 0.0f;
  imagefile::irdhdr(istream, m.nxyz, mxyz, m.mode, dmin, dmax, dmean);
  if (m.nxyz[0] < 1 || m.nxyz[1] < 1 || m.nxyz[2] < 1)
    throw records::ReadError(m.name, "map of " + dims_text(m.nxyz) + " holds no data");
  const std::int64_t items = static_cast<std::int64_t>(m.nxyz[0]) * m.nxyz[1];
  m.numbers_per_section = items * imagefile::numbers_per_item(m.mode);
  // The sections actually present bound the buffers, whatever the header claims.
  int unit = imagefile::imunit(istream);
  std::int64_t length = 0;
  imagefile::qqinq(unit, name, m.file, length);
  const std::int64_t data = length - imagefile::header_bytes - imagefile::header_of(istream).nsymbt;
  const std::int64_t b = imagefile::bytes_per_item(m.mode);
  m.sections_in_file = data <= 0 || items > data / b ? 0 : data / (items * b);
  return m;
}

void require_same_shape(const InputMap& first, const InputMap& m) {
  if (m.nxyz != first.nxyz)
    throw records::ReadError(m.name, "map of " + dims_text(m.nxyz) + ", but " + first.name + " is " +
                                         dims_text(first.nxyz) + ": the four maps must have equal dimensions");
  if (imagefile::numbers_per_item(m.mode) != imagefile::numbers_per_item(first.mode))
    throw records::ReadError(m.name, "map of mode " + std::to_string(m.mode) + " cannot be compared with " +
                                         first.name + " of mode " + std::to_string(first.mode) +
                                         ": real and complex maps cannot be mixed");
}

}  // namespace

Dialogue read_dialogue(records::LineSource& src) {
  Dialogue d;
  d.title = src.expect("the title").text(1, 80);
  d.n1 = set_size(src, "n1, the number of maps in set 1", 1);
  d.iav1 = file_name(src, "the name of the mean map of set 1");
  d.isd1 = file_name(src, "the name of the standard-deviation map of set 1");
  d.n2 = set_size(src, "n2, the number of maps in set 2", 2);
  d.iav2 = file_name(src, "the name of the mean map of set 2");
  d.isd2 = file_name(src, "the name of the standard-deviation map of set 2");
  return d;
}

Pooling::Pooling(std::int32_t n1, std::int32_t n2)
    : n1ls1(static_cast<float>(n1 - 1)),
      n2ls1(static_cast<float>(n2 - 1)),
      // Summed wide: two set sizes near the integer limit must not overflow.
      idegf(static_cast<float>(static_cast<std::int64_t>(n1 - 1) + (n2 - 1))),
      btbit(std::sqrt(1.0f / static_cast<float>(n1) + 1.0f / static_cast<float>(n2))) {}

void tstat_section(const Pooling& p, std::span<const float> aav1, std::span<const float> ssd1,
                   std::span<const float> aav2, std::span<const float> ssd2, std::span<float> tstat, Densities& d) {
  for (std::size_t j = 0; j < tstat.size(); ++j) {
    const float sd1sq = ssd1[j] * ssd1[j];
    const float sd2sq = ssd2[j] * ssd2[j];
    const float amndif = std::fabs(aav1[j] - aav2[j]);
    const float pooled = p.n1ls1 * sd1sq + p.n2ls1 * sd2sq;
    if (pooled <= 0.0f) {
      tstat[j] = 0.0f;
      continue;
    }
    const float sdpop = std::sqrt(pooled / p.idegf);
    const float t = 100.0f * (amndif / (sdpop * p.btbit));
    tstat[j] = t;
    if (t < d.dmin) d.dmin = t;
    if (t > d.dmax) d.dmax = t;
    d.sum += t;
  }
}

int run(const std::vector<std::string>& args, progmain::Streams streams) {
  if (!args.empty()) {
    streams.err << "mapsig: unexpected argument \"" << args[0]
                << "\": the set sizes and map names are read from standard input (see --help)\n";
    return 2;
  }
  std::ostream& out = streams.out;
  out << '\n' << banner << banner_tail << '\n';

  records::LineSource src(streams.in, "standard input");
  const Dialogue dlg = read_dialogue(src);
  const auto echo_name = [&out](const std::string& name) {
    out << "\n ********** INPUT FILE:  " << imagefile::padded(name, 60) << "\n\n";
  };
  out << (records::FreeLine() << dlg.n1).str() << '\n';
  echo_name(dlg.iav1);
  echo_name(dlg.isd1);
  out << (records::FreeLine() << dlg.n2).str() << '\n';
  echo_name(dlg.iav2);
  echo_name(dlg.isd2);

  // Streams 1-4: mean and deviation of set 1, mean and deviation of set 2.
  const std::string* names[4] = {&dlg.iav1, &dlg.isd1, &dlg.iav2, &dlg.isd2};
  std::vector<InputMap> maps;
  for (int s = 1; s <= 4; ++s) maps.push_back(open_input(s, *names[s - 1]));
  for (int s = 2; s <= 4; ++s) require_same_shape(maps[0], maps[static_cast<std::size_t>(s - 1)]);
  const std::int32_t nz = maps[0].nxyz[2];
  const std::int64_t npts = maps[0].numbers_per_section;

  // Even where IMAGE_OPEN lets a new file replace an old one, no input is overwritten.
  int unopened = 0;
  std::string tstat_file;
  std::int64_t tstat_length = 0;
  imagefile::qqinq(unopened, "TSTAT", tstat_file, tstat_length);
  for (const InputMap& m : maps) {
    std::error_code ec;
    if (std::filesystem::equivalent(tstat_file, m.file, ec))
      throw records::ReadError(
          "TSTAT", "the output " + tstat_file + " is the input map " + m.name + ", which would be overwritten");
  }
  imagefile::imopen(stream_tstat, "TSTAT", "NEW");
  imagefile::itrhdr(stream_tstat, 1);

  const auto end_of_file = [&](const InputMap& m, std::int32_t isec) {
    out << "\n END OF FILE ON MAP INPUT FILE !!!!\n";
    out.flush();
    streams.err << "mapsig: " << m.name << ": the file ends before section " << isec << " (counted from 0) of its "
                << nz << " sections is complete\n";
    return 1;
  };
  // A map without even one whole section fails at the first read; its buffer is not sized.
  for (const InputMap& m : maps)
    if (m.sections_in_file < 1) return end_of_file(m, 0);

  const std::size_t n = static_cast<std::size_t>(npts);
  std::vector<float> buffers[4] = {std::vector<float>(n), std::vector<float>(n), std::vector<float>(n),
                                   std::vector<float>(n)};
  std::vector<float> tstat(n);
  const Pooling pooling(dlg.n1, dlg.n2);
  Densities d;
  std::int64_t wrapped = 0;
  for (std::int32_t isec = 0; isec < nz; ++isec) {
    for (int s = 1; s <= 4; ++s) {
      const InputMap& m = maps[static_cast<std::size_t>(s - 1)];
      if (isec >= m.sections_in_file) return end_of_file(m, isec);
      imagefile::imposn(s, isec, 0);
      if (!imagefile::irdsec(s, buffers[s - 1])) return end_of_file(m, isec);
    }
    tstat_section(pooling, buffers[0], buffers[1], buffers[2], buffers[3], tstat, d);
    imagefile::imposn(stream_tstat, isec, 0);
    imagefile::iwrsec(stream_tstat, tstat);
    wrapped += imagefile::count_unstorable(tstat, maps[0].mode);
  }

  // Voxels of zero variance count in the divisor of the mean.
  const float dmean = (d.sum / static_cast<float>(npts)) / static_cast<float>(nz);
  out << "     " << records::fixed_form(d.dmin, 10, 5) << records::fixed_form(d.dmax, 10, 5)
      << records::fixed_form(dmean, 10, 5) << '\n';
  imagefile::iwrhdr(stream_tstat, dlg.title, -1, d.dmin, d.dmax, dmean);
  imagefile::imclose(stream_tstat);
  if (wrapped > 0)
    streams.err << "mapsig: warning: " << wrapped << " of " << npts * nz << " values do not fit data mode "
                << maps[0].mode << " of the output (the mode of " << maps[0].name << ") and are stored as their low "
                << (maps[0].mode == 0 ? 8 : 16) << " bits\n";
  return 0;
}

}  // namespace mapsig
