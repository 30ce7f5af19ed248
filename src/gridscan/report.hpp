// The report file of a search. The file is created at its first line, so a run that fails
// before it has anything to report leaves an existing report of that name as it was.
#pragma once

#include <fstream>
#include <memory>
#include <ostream>
#include <string>

#include "layerline/pointlist.hpp"

namespace gridscan {

class ReportWriter {
 public:
  // The report goes to the file at path, created (or truncated) at the first line.
  explicit ReportWriter(std::string path);
  // The report goes to a stream the caller owns (tests).
  explicit ReportWriter(std::ostream& out);

  // Writes one line and its newline; opening the file fails with ReadError.
  void line(const std::string& text);
  // The echo line of a point record: a blank, then R, amplitude and phase (31 columns).
  void echo(const layerline::Point& p);
  // Flushes; a failed write throws ReadError naming the file.
  void finish();

 private:
  std::string path_;
  std::unique_ptr<std::ofstream> file_;
  std::ostream* out_ = nullptr;
};

}  // namespace gridscan
