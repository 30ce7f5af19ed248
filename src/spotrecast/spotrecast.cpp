#include "spotrecast/spotrecast.hpp"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "progmain/outputs.hpp"
#include "records/error.hpp"
#include "records/source.hpp"

namespace spotrecast {

const char* const help =
    "Usage: spotrecast\n"
    "\n"
    "Turns a list of two-dimensional reflections into a list of three-dimensional reflections\n"
    "with the third index l = 0. Every field is copied as text, exactly as it was written.\n"
    "\n"
    "Dialogue (standard input and standard output):\n"
    "  $FILE NAME TO BE CONVERTED :   name of the reflection list (one line, up to 80 characters)\n"
    "  $OUTPUT FILE :                 name of the output file; created, or overwritten if present\n"
    "\n"
    "Input file: a first record (the list's title), then one record per reflection:\n"
    "  columns 1-4 h, 5-8 k, 9-16 amplitude, 17-24 phase; columns 25 on are dropped.\n"
    "Output file: the title as its first 40 characters, then per reflection 29 characters:\n"
    "  h, k, \"    0\" (l), amplitude, phase.\n"
    "\n"
    "A missing or empty input file, or an output file that is the input file itself, stops the\n"
    "run with a message and exit status 2 before the output file is touched.\n";

namespace {

// A file name as typed: at most 80 characters, trailing blanks dropped.
std::string file_name(const records::Record& rec) {
  std::string s = rec.text().substr(0, 80);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
  return s;
}

}  // namespace

int run(const std::vector<std::string>& args, progmain::Streams streams) {
  if (!args.empty()) {
    streams.err << "spotrecast: unexpected argument \"" << args[0]
                << "\": the file names are asked at the terminal (see --help)\n";
    return 2;
  }
  records::LineSource terminal(streams.in, "standard input");
  streams.out << "$FILE NAME TO BE CONVERTED : " << std::endl;
  const std::string filein = file_name(terminal.expect("the name of the file to be converted"));
  streams.out << "$OUTPUT FILE : " << std::endl;
  const std::string fileout = file_name(terminal.expect("the name of the output file"));

  namespace fs = std::filesystem;
  std::error_code ec;
  if (filein.empty()) throw records::ReadError("input file", "no file name given");
  if (fs::is_directory(filein, ec)) throw records::ReadError(filein, "cannot open (it is a directory)");
  records::LineSource list = records::LineSource::open_file(filein);
  if (fileout.empty()) throw records::ReadError("output file", "no file name given");
  // Overwriting the list being converted would destroy it before it is read.
  if (fs::exists(fileout, ec) && fs::equivalent(filein, fileout, ec))
    throw records::ReadError(fileout, "is the file to be converted; it is not overwritten");

  // The title is read before the output file is created, so an empty list leaves an existing
  // output file as it was.
  const records::Record id = list.expect("the first record (the title of the list)");

  progmain::begin_output(fileout);
  std::ofstream out(fileout, std::ios::binary | std::ios::trunc);
  if (!out) {
    const int err = errno;
    throw records::ReadError(fileout, std::string("cannot create the output file (") +
                                          (err != 0 ? std::strerror(err) : "unknown reason") + ")");
  }
  out << id.text(1, 40) << '\n';
  while (std::optional<records::Record> rec = list.next()) {
    // h, k, l = 0, amplitude, phase; iq (25-27) and the rest are dropped.
    out << rec->text(1, 4) << rec->text(5, 4) << "    0" << rec->text(9, 8) << rec->text(17, 8) << '\n';
  }
  out.close();
  if (!out) throw records::ReadError(fileout, "the output file could not be written");
  progmain::finish_output(fileout);
  return 0;
}

}  // namespace spotrecast
