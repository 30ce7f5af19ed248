#include "gridscan/report.hpp"

#include <cerrno>
#include <cstring>

#include "progmain/outputs.hpp"
#include "records/error.hpp"

namespace gridscan {

ReportWriter::ReportWriter(std::string path) : path_(std::move(path)) {}

ReportWriter::ReportWriter(std::ostream& out) : path_("the report"), out_(&out) {}

void ReportWriter::line(const std::string& text) {
  if (out_ == nullptr) {
    progmain::begin_output(path_);
    file_ = std::make_unique<std::ofstream>(path_, std::ios::binary | std::ios::trunc);
    if (!*file_) {
      const int err = errno;
      throw records::ReadError(
          path_, std::string("cannot open for writing (") + (err != 0 ? std::strerror(err) : "unknown reason") + ")");
    }
    out_ = file_.get();
  }
  *out_ << text << '\n';
}

void ReportWriter::echo(const layerline::Point& p) { line(" " + layerline::point_record(p)); }

void ReportWriter::finish() {
  if (out_ == nullptr) return;
  out_->flush();
  if (!*out_) throw records::ReadError(path_, "the report could not be written");
  if (file_) progmain::finish_output(path_);
}

}  // namespace gridscan
