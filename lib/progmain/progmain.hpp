// What every program's main() shares: --help and --version, and the end of a run on bad input.
#pragma once

#include <functional>
#include <initializer_list>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace progmain {

// The suite's release, as quorvan prints it.
struct Release {
  std::string processor;  // the processor build, e.g. "x86_64"
  std::string release;    // "1.4"
  std::string date;       // "01/10/2008", day/month/year as written
};
const Release& release();
// "Quorvan x86_64 1.4 (01/10/2008)" without the newline.
std::string release_line();

struct Streams {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
};

// A run that must end now with this exit status, its message (if any) already written.
struct Exit {
  int status;
};

struct ProgramInfo {
  std::string_view name;  // used in error messages: "<name>: <message>"
  std::string_view help;  // the text --help prints: what the program reads and writes
};

// A command-line option that takes a value: "--name value" or "--name=value".
struct Option {
  std::string_view name;   // "--control"
  std::string* value;      // where the value goes
  std::string_view needs;  // what the value is, for the message: "a file name"
};

// Sets each option's value from the arguments. An argument that is no option throws
// records::ReadError on "command line": unknown argument "x" (see <program> --help); a missing
// or empty value: "--name needs <needs>".
void bind_options(const std::vector<std::string>& args, std::initializer_list<Option> options,
                  std::string_view program);

using RunFunction = std::function<int(const std::vector<std::string>& args, Streams streams)>;

// Answers a lone --help or --version argument; otherwise calls run with the arguments after
// argv[0] and the standard streams. A records::ReadError ends the run with
// "<name>: <message>" on standard error and status 2, an Exit with its status, any other
// exception with its message and status 1. Every end then goes through end_of_run().
int run_main(int argc, char** argv, const ProgramInfo& info, const RunFunction& run);

// The end of every run, with the status it would end with: flushes standard output, so what
// was written stays written; standard output that could not be written is
// "<name>: standard output could not be written" on standard error and turns status 0 into 1;
// a non-zero status removes the outputs the run began and did not finish (progmain/outputs.hpp).
// Returns the status to exit with.
int end_of_run(std::string_view name, int status);

}  // namespace progmain
