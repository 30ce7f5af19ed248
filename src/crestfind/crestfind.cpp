#include "crestfind/crestfind.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "layerline/pointlist.hpp"
#include "progmain/outputs.hpp"
#include "records/error.hpp"
#include "records/forms.hpp"
#include "records/source.hpp"

namespace crestfind {

const char* const help =
    "Usage: crestfind\n"
    "\n"
    "Summarises a point-list layer-line file: for every layer-line block its Bessel order, its\n"
    "layer-line number, the largest amplitude along the layer line, and that maximum divided by\n"
    "the maximum of the first block (taken to be the equator). Amplitudes are compared as read;\n"
    "every maximum starts at 0, so a block with no positive amplitude reports 0.0000.\n"
    "\n"
    "Dialogue (standard input and standard output):\n"
    "   Input file ? :      name of the point-list layer-line file (one line, up to 80\n"
    "                       characters); asked again after \" No file by that name. \"\n"
    "   Output file ? :     name of the summary file to create; it must not exist yet (an\n"
    "                       existing file stops the run and is left untouched)\n"
    "Then \" Reading data file. Please wait...\" and, at the end of the input, \" Completed.\".\n"
    "\n"
    "Output file: a heading line made from the first block's label record, then four lines per\n"
    "block: a blank line, \"Bessel order : ... Layer line : ...\", \"Maximum amplitude along layer\n"
    "line : ...\" and \"Ratio to equatorial maximum : ...\" (NaN or Infinity when the first\n"
    "block's maximum is 0). Any number of blocks is handled.\n"
    "\n"
    "A block ends at the first point record after its first whose R, amplitude and phase are all\n"
    "0. A bad field or an end of file inside a block stops the run with a message naming the\n"
    "file and line, exit status 2; what was written to the output file stays written.\n";

namespace {

// A file name as typed: at most 80 characters, trailing blanks dropped.
std::string file_name(const records::Record& rec) {
  std::string s = rec.text().substr(0, 80);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
  return s;
}

std::optional<records::LineSource> open_input(const std::string& path) {
  std::error_code ec;
  if (path.empty() || std::filesystem::is_directory(path, ec)) return std::nullopt;
  try {
    return records::LineSource::open_file(path);
  } catch (const records::ReadError&) {
    return std::nullopt;
  }
}

// Creates the summary file, which must not exist yet: an existing file is never opened for
// writing, so it stays exactly as it was.
std::ofstream create_new(const std::string& path) {
  if (path.empty()) throw records::ReadError("output file", "no file name given");
  progmain::begin_output(path);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
  if (fd < 0) {
    const int err = errno;
    const std::string why = err == EEXIST ? "the file already exists and is left as it is" : std::strerror(err);
    throw records::ReadError(path, "cannot create the output file (" + why + ")");
  }
  ::close(fd);
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  if (!f) throw records::ReadError(path, "cannot open the output file for writing");
  return f;
}

// The heading: a blank, columns 2-43 of the first label, the number 0 two wide, columns 46-50.
std::string heading_line(const std::string& header) {
  return " " + header.substr(0, 42) + records::int_form(0, 2) + header.substr(44, 5);
}

}  // namespace

int run(const std::vector<std::string>& args, progmain::Streams streams) {
  if (!args.empty()) {
    streams.err << "crestfind: unexpected argument \"" << args[0]
                << "\": the file names are asked at the terminal (see --help)\n";
    return 2;
  }
  records::LineSource terminal(streams.in, "standard input");

  std::optional<records::LineSource> input;
  std::string input_name;
  while (!input) {
    streams.out << " Input file ? : " << std::endl;
    input_name = file_name(terminal.expect("the input file name"));
    input = open_input(input_name);
    if (!input) streams.out << " No file by that name. " << std::endl;
  }

  streams.out << " Output file ? : " << std::endl;
  const std::string output_name = file_name(terminal.expect("the output file name"));
  std::ofstream summary = create_new(output_name);

  streams.out << " Reading data file. Please wait..." << std::endl;

  layerline::PointListReader reader(*input, layerline::EndOfBlockRule::AllZero,
                                    layerline::ParameterLayout::SkipFirstColumn);
  std::int64_t kount = 0;
  float divisor = 0.0f;
  while (std::optional<layerline::BlockHeader> h = reader.next_header()) {
    ++kount;
    // Columns 2-50 of the label record.
    std::string label = h->label.substr(0, 50);
    label.resize(50, ' ');
    const std::string header = label.substr(1, 49);
    if (kount == 1) summary << heading_line(header) << '\n';
    summary << "  \n"
            << " Bessel order : " << records::int_form(h->nn, 5) << " Layer line : " << records::int_form(h->nl, 5)
            << '\n';

    // Every record read counts, the terminator too; the maximum starts at 0.
    float maxamp = 0.0f;
    for (;;) {
      const layerline::PointRead pr = reader.next_point();
      if (pr.kind == layerline::PointKind::EndOfFile) {
        summary.flush();
        throw reader.end_of_file_in_block();
      }
      if (pr.point.amp > maxamp) maxamp = pr.point.amp;
      if (pr.kind == layerline::PointKind::EndOfBlock) break;
    }
    if (kount == 1) divisor = maxamp;

    summary << " Maximum amplitude along layer line : " << records::fixed_form(maxamp, 12, 4) << '\n'
            << " Ratio to equatorial maximum : " << records::fixed_form(maxamp / divisor, 12, 4) << '\n';
  }

  summary.close();
  if (!summary) throw records::ReadError(output_name, "the output file could not be written");
  progmain::finish_output(output_name);
  streams.out << " Completed." << std::endl;
  return 0;
}

}  // namespace crestfind
