#include "progmain/outputs.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <map>

namespace progmain {

namespace {

struct Output {
  FinishedBy by = FinishedBy::program;
  bool ours = false;  // nothing existed at the path when it was begun
  bool finished = false;
};

// The one table of a run, keyed by path so that a file begun again (a fuzz target writing the
// same output every time) holds one entry.
std::map<std::string, Output>& outputs() {
  static std::map<std::string, Output> table;
  return table;
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

void begin_output(const std::string& path, FinishedBy by) {
  auto& table = outputs();
  if (const auto it = table.find(path); it != table.end() && !it->second.finished) return;
  table[path] = Output{by, !exists(path), false};
}

void finish_output(const std::string& path) {
  if (const auto it = outputs().find(path); it != outputs().end()) it->second.finished = true;
}

void output_closed(const std::string& path) {
  if (const auto it = outputs().find(path); it != outputs().end() && it->second.by == FinishedBy::close)
    it->second.finished = true;
}

void remove_unfinished_outputs() {
  for (const auto& [path, o] : outputs())
    if (o.ours && !o.finished) ::unlink(path.c_str());
  outputs().clear();
}

void forget_outputs() { outputs().clear(); }

}  // namespace progmain
