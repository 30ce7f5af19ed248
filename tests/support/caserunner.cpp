// caserunner <executable> <case folder>
//
// Runs one end-to-end case of a program. The case folder holds:
//   args             optional; one command-line argument per line
//   stdin            optional; fed to standard input (absent: standard input is /dev/null)
//   env              optional; NAME=VALUE lines added to the environment
//   in/              optional; files copied into the empty working directory first
//   expect/status    optional; the exit status (default 0)
//   expect/stdout    optional; standard output, byte for byte
//   expect/stderr    optional; standard error, byte for byte
//   expect/files/    optional; each file must exist in the working directory with these bytes
//   expect/absent    optional; names (one a line) that must not exist after the run
// Prints what differed and exits 1 on any difference.
#include <filesystem>
#include <iostream>
#include <sstream>

#include "runprog.hpp"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

std::vector<std::string> lines_of(const fs::path& p) {
  std::vector<std::string> out;
  if (!fs::exists(p)) return out;
  std::istringstream in(read_file(p));
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}

std::string show(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\0') out += "\\0";
    else out += c;
  }
  return out;
}

bool compare(const std::string& what, const std::string& expected, const std::string& actual) {
  if (expected == actual) return true;
  std::cout << what << " differs\n--- expected\n" << show(expected) << "\n--- actual\n" << show(actual) << "\n";
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: caserunner <executable> <case folder>\n";
    return 2;
  }
  const fs::path exe = fs::absolute(argv[1]);
  const fs::path cs = argv[2];
  TempDir dir;
  if (fs::exists(cs / "in")) fs::copy(cs / "in", dir.path(), fs::copy_options::recursive);

  RunSpec job;
  job.exe = exe.string();
  job.args = lines_of(cs / "args");
  if (fs::exists(cs / "stdin")) job.stdin_text = read_file(cs / "stdin");
  for (const auto& line : lines_of(cs / "env")) {
    auto eq = line.find('=');
    if (eq != std::string::npos) job.env.emplace_back(line.substr(0, eq), line.substr(eq + 1));
  }
  RunResult r = run_in(dir.path(), job);

  bool ok = true;
  if (r.timed_out || r.signal != 0) {
    std::cout << "program " << (r.timed_out ? "timed out" : "was killed by signal " + std::to_string(r.signal))
              << "\nstderr:\n" << r.err << "\n";
    return 1;
  }
  int want_status = 0;
  if (fs::exists(cs / "expect/status")) want_status = std::stoi(read_file(cs / "expect/status"));
  if (r.status != want_status) {
    std::cout << "exit status " << r.status << ", expected " << want_status << "\nstderr:\n" << r.err << "\n";
    ok = false;
  }
  if (fs::exists(cs / "expect/stdout")) ok &= compare("standard output", read_file(cs / "expect/stdout"), r.out);
  if (fs::exists(cs / "expect/stderr")) ok &= compare("standard error", read_file(cs / "expect/stderr"), r.err);
  if (fs::exists(cs / "expect/files")) {
    for (const auto& entry : fs::directory_iterator(cs / "expect/files")) {
      const std::string name = entry.path().filename().string();
      if (!dir.exists(name)) {
        std::cout << "output file " << name << " is missing\n";
        ok = false;
        continue;
      }
      ok &= compare("file " + name, read_file(entry.path()), dir.read(name));
    }
  }
  for (const auto& name : lines_of(cs / "expect/absent")) {
    if (dir.exists(name)) {
      std::cout << "file " << name << " should not exist\n";
      ok = false;
    }
  }
  return ok ? 0 : 1;
}
