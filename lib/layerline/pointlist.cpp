#include "layerline/pointlist.hpp"

#include "records/error.hpp"
#include "records/forms.hpp"

namespace layerline {

std::string BlockHeader::label50() const {
  std::string s = label.substr(0, 50);
  s.resize(50, ' ');
  return s;
}

PointListReader::PointListReader(records::LineSource& src, EndOfBlockRule rule, ParameterLayout layout)
    : src_(src), rule_(rule), layout_(layout) {}

namespace {
bool blank(const records::Record& r) { return r.text().find_first_not_of(" \t") == std::string::npos; }
}  // namespace

std::optional<records::Record> PointListReader::take() {
  if (ahead_.empty()) return src_.next();
  records::Record r = std::move(ahead_.front());
  ahead_.pop_front();
  return r;
}

std::optional<BlockHeader> PointListReader::next_header() {
  std::optional<BlockHeader> h = next_label();
  if (h) parameters(*h);
  return h;
}

std::optional<BlockHeader> PointListReader::next_label() {
  std::optional<records::Record> label = take();
  if (!label) return std::nullopt;
  if (blank(*label)) {
    // Blank to the end of the input is the end; anything after makes this a blank label.
    while (ahead_.empty() || blank(ahead_.back())) {
      std::optional<records::Record> r = src_.next();
      if (!r) return std::nullopt;
      ahead_.push_back(std::move(*r));
    }
  }
  BlockHeader h;
  h.label = label->text();
  h.label_line = label->line();
  block_line_ = label->line();
  return h;
}

void PointListReader::parameters(BlockHeader& h) {
  const std::string expected =
      "the parameter record of the layer-line block that begins at line " + std::to_string(block_line_);
  std::optional<records::Record> next = take();
  if (!next) next = src_.expect(expected);
  const records::Record& param = *next;
  if (layout_ == ParameterLayout::Standard) {
    h.scale = param.real(1, 10, 3);
  } else {
    h.scale = param.real(2, 9, 3);
  }
  h.nn = param.integer(11, 5);
  h.nl = param.integer(16, 5);
  first_point_ = true;
}

PointRead PointListReader::next_point() {
  PointRead pr;
  std::optional<records::Record> rec = take();
  if (!rec) {
    pr.kind = PointKind::EndOfFile;
    return pr;
  }
  pr.line = rec->line();
  pr.point.r = rec->real(1, 10, 3);
  pr.point.amp = rec->real(11, 10, 3);
  pr.point.phase = rec->real(21, 10, 3);
  bool ends = false;
  if (!first_point_) {
    ends = rule_ == EndOfBlockRule::RadiusZero ? pr.point.r == 0.0f
                                               : pr.point.r == 0.0f && pr.point.amp == 0.0f && pr.point.phase == 0.0f;
  }
  first_point_ = false;
  pr.kind = ends ? PointKind::EndOfBlock : PointKind::Sample;
  return pr;
}

std::optional<Block> PointListReader::read_block() {
  std::optional<BlockHeader> h = next_header();
  if (!h) return std::nullopt;
  Block b;
  b.header = std::move(*h);
  for (;;) {
    PointRead pr = next_point();
    if (pr.kind == PointKind::EndOfFile) throw end_of_file_in_block();
    if (pr.kind == PointKind::EndOfBlock) {
      b.terminator = pr.point;
      return b;
    }
    b.points.push_back(pr.point);
  }
}

records::ReadError PointListReader::end_of_file_in_block() const {
  return records::ReadError(src_.name(), src_.line() + 1, 0, 0,
                            "end of file inside the layer-line block that begins at line " +
                                std::to_string(block_line_) + " (no terminator record)");
}

std::string point_record(const Point& p) {
  return records::exp_form(p.r, 10, 3) + records::exp_form(p.amp, 10, 3) + records::exp_form(p.phase, 10, 3);
}

std::string terminator_record() { return point_record(Point{}); }

std::string parameter_record(float scale, std::int32_t nn, std::int32_t nl) {
  return records::fixed_form(scale, 10, 3) + records::int_form(nn, 5) + records::int_form(nl, 5);
}

std::string sidesplit_label(std::string_view title, std::int32_t llno, bool near_side, float ysp) {
  std::string t(title.substr(0, 40));
  t.resize(40, ' ');  // the title is always 40 columns, padded on the right
  return " " + t + "LL" + records::int_form(llno, 3) + " " + (near_side ? "NEAR" : "FAR ") +
         records::fixed_form(ysp, 10, 3);
}

void write_block(std::ostream& out, std::string_view label, float scale, std::int32_t nn, std::int32_t nl,
                 const std::vector<Point>& points) {
  out << label << '\n' << parameter_record(scale, nn, nl) << '\n';
  for (const Point& p : points) out << point_record(p) << '\n';
  out << terminator_record() << '\n';
}

}  // namespace layerline
