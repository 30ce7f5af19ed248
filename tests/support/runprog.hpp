// Running a real executable of the suite in a temporary working directory, for program tests.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// A fresh directory under the system's temporary area, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  void write(const std::string& name, const std::string& bytes) const;
  std::string read(const std::string& name) const;
  bool exists(const std::string& name) const;

 private:
  std::filesystem::path path_;
};

struct RunSpec {
  std::string exe;                                       // full path of the executable
  std::vector<std::string> args;                         // arguments after argv[0]
  std::optional<std::string> stdin_text;                 // nullopt: standard input is /dev/null
  std::vector<std::pair<std::string, std::string>> env;  // added to a minimal environment
  std::optional<std::string> argv0;                      // argv[0] if not the path
  int timeout_seconds = 120;
};

struct RunResult {
  int status = -1;  // exit status when the program exited
  int signal = 0;   // the signal that ended it, or 0
  bool timed_out = false;
  std::string out;  // standard output
  std::string err;  // standard error
};

// Runs job in dir. The environment holds only PATH, HOME, the sanitizer options of the caller
// and job.env, so a developer's own logical names never leak into a case.
RunResult run_in(const std::filesystem::path& dir, const RunSpec& job);

// build/bin/<name>: from QUORVAN_BIN when set, else the build tree this was compiled in.
std::string program_path(const std::string& name);

// A run of exe (a full path: program_path(name) for the suite's own programs) with these
// arguments, standard input and added environment.
RunSpec run_spec(std::string exe, std::vector<std::string> args = {}, std::optional<std::string> in = std::nullopt,
                 std::vector<std::pair<std::string, std::string>> env = {});

// Processor time, user and system, of this process's finished children so far, in seconds:
// whole-program timings take it, as other work on a shared machine disturbs it far less than
// the wall clock.
double children_cpu_seconds();
// The same, user mode only: the programs' own computing, without the kernel's share (page
// faults and file transfers of a fresh process), which varies from machine to machine.
double children_user_seconds();

std::string read_file(const std::filesystem::path& p);
void write_file(const std::filesystem::path& p, const std::string& bytes);

// Whether part stands anywhere in text (output and messages are checked for their lines).
inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace testsupport
