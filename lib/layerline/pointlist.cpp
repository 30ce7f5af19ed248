#include "layerline/pointlist.hpp"

#include "records/error.hpp"
#include "records/forms.hpp"
#include "records/numbers.hpp"

namespace layerline {

std::string BlockHeader::label50() const {
  std::string s = label.substr(0, 50);
  s.resize(50, ' ');
  return s;
}

PointListReader::PointListReader(records::LineSource& src, EndOfBlockRule rule, ParameterLayout layout)
    : src_(src), rule_(rule), layout_(layout) {}

std::optional<BlockHeader> PointListReader::next_header() {
  std::optional<records::Record> label = src_.next();
  if (!label) return std::nullopt;
  BlockHeader h;
  h.label = label->text();
  h.label_line = label->line();
  block_line_ = label->line();
  records::Record param =
      src_.expect("the parameter record of the layer-line block that begins at line " + std::to_string(block_line_));
  if (layout_ == ParameterLayout::Standard) {
    h.scale = param.real(1, 10, 3);
  } else {
    h.scale = param.real(2, 9, 3);
  }
  h.nn = param.integer(11, 5);
  h.nl = param.integer(16, 5);
  first_point_ = true;
  return h;
}

PointRead PointListReader::next_point() {
  PointRead pr;
  std::optional<records::Record> rec = src_.next();
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

namespace layerline {

namespace {

// Lines of a buffer, each without its newline and a trailing carriage return.
class BufferLines {
 public:
  explicit BufferLines(std::string_view b) : b_(b) {}
  bool next(std::string_view& line) {
    if (pos_ >= b_.size()) return false;
    std::size_t end = b_.find('\n', pos_);
    if (end == std::string_view::npos) end = b_.size();
    line = b_.substr(pos_, end - pos_);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos_ = end + 1;
    ++number_;
    return true;
  }
  int number() const { return number_; }

 private:
  std::string_view b_;
  std::size_t pos_ = 0;
  int number_ = 0;
};

// One 10-wide real field with 3 implied decimals of a point record.
float point_field(std::string_view line, int first, const std::string& name, int number) {
  const std::size_t at = static_cast<std::size_t>(first - 1);
  float v = 0.0f;
  if (line.size() >= at + 10 && records::parse_exponent_form(line.substr(at, 10), v)) return v;
  return records::Record(std::string(line), name, number).real(first, 10, 3);
}

}  // namespace

std::vector<Block> read_point_list(std::string_view bytes, const std::string& name, EndOfBlockRule rule) {
  std::vector<Block> blocks;
  BufferLines lines(bytes);
  std::string_view line;
  while (lines.next(line)) {
    Block b;
    b.header.label = std::string(line);
    b.header.label_line = lines.number();
    const std::string where =
        "the parameter record of the layer-line block that begins at line " + std::to_string(b.header.label_line);
    if (!lines.next(line))
      throw records::ReadError(name, lines.number() + 1, 0, 0, "end of file: " + where + " expected");
    const records::Record param(std::string(line), name, lines.number());
    b.header.scale = param.real(1, 10, 3);
    b.header.nn = param.integer(11, 5);
    b.header.nl = param.integer(16, 5);
    for (bool first = true;; first = false) {
      if (!lines.next(line))
        throw records::ReadError(name, lines.number() + 1, 0, 0,
                                 "end of file inside the layer-line block that begins at line " +
                                     std::to_string(b.header.label_line) + " (no terminator record)");
      Point p;
      p.r = point_field(line, 1, name, lines.number());
      p.amp = point_field(line, 11, name, lines.number());
      p.phase = point_field(line, 21, name, lines.number());
      const bool ends =
          !first &&
          (rule == EndOfBlockRule::RadiusZero ? p.r == 0.0f : p.r == 0.0f && p.amp == 0.0f && p.phase == 0.0f);
      if (ends) {
        b.terminator = p;
        break;
      }
      b.points.push_back(p);
    }
    blocks.push_back(std::move(b));
  }
  return blocks;
}

}  // namespace layerline
