#include "records/source.hpp"

#include <cerrno>
#include <cstring>

#include "records/error.hpp"
#include "records/numbers.hpp"

namespace records {

std::string Record::columns(int first, int width) const {
  std::string out(static_cast<std::size_t>(width > 0 ? width : 0), ' ');
  for (int i = 0; i < width; ++i) {
    const std::size_t pos = static_cast<std::size_t>(first - 1 + i);
    if (first - 1 + i >= 0 && pos < text_.size()) out[static_cast<std::size_t>(i)] = text_[pos];
  }
  return out;
}

float Record::real(int first, int width, int decimals) const {
  // A field inside the record is read where it is; one that runs past the end is padded.
  const bool inside = first >= 1 && width >= 0 && static_cast<std::size_t>(first - 1 + width) <= text_.size();
  Parsed<float> p = inside ? parse_fixed_real(std::string_view(text_).substr(static_cast<std::size_t>(first - 1),
                                                                             static_cast<std::size_t>(width)),
                                              decimals)
                           : parse_fixed_real(columns(first, width), decimals);
  if (!p.ok()) throw ReadError(source_, line_, first, first + width - 1, p.error);
  return p.value;
}

std::int32_t Record::integer(int first, int width) const {
  Parsed<std::int32_t> p = parse_fixed_int(columns(first, width));
  if (!p.ok()) throw ReadError(source_, line_, first, first + width - 1, p.error);
  return p.value;
}

LineSource::LineSource(std::istream& in, std::string name) : in_(&in), name_(std::move(name)) {}

LineSource::LineSource(std::unique_ptr<std::ifstream> owned, std::string name)
    : owned_(std::move(owned)), in_(owned_.get()), name_(std::move(name)) {}

LineSource::LineSource(LineSource&&) noexcept = default;
LineSource& LineSource::operator=(LineSource&&) noexcept = default;
LineSource::~LineSource() = default;

LineSource LineSource::open_file(const std::string& path) {
  auto f = std::make_unique<std::ifstream>(path, std::ios::binary);
  if (!*f) {
    const int err = errno;
    throw ReadError(path, std::string("cannot open (") + (err != 0 ? std::strerror(err) : "unknown reason") + ")");
  }
  return LineSource(std::move(f), path);
}

std::optional<Record> LineSource::next() {
  std::string text;
  if (!std::getline(*in_, text)) {
    if (in_->bad()) throw ReadError(name_, line_ + 1, 0, 0, "the input could not be read");
    return std::nullopt;
  }
  if (!text.empty() && text.back() == '\r') text.pop_back();
  ++line_;
  return Record(std::move(text), name_, line_);
}

Record LineSource::expect(std::string_view expected) {
  std::optional<Record> r = next();
  if (!r) throw ReadError(name_, line_ + 1, 0, 0, "end of file: " + std::string(expected) + " expected");
  return std::move(*r);
}

void LineSource::rewind() {
  if (!owned_) throw std::logic_error("LineSource::rewind on a stream it does not own");
  owned_->clear();
  owned_->seekg(0);
  line_ = 0;
}

}  // namespace records
