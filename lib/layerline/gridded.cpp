#include "layerline/gridded.hpp"

#include <algorithm>

#include "records/error.hpp"
#include "records/forms.hpp"

namespace layerline {

GriddedHeader read_gridded_header(records::LineSource& src) {
  GriddedHeader h;
  h.title = src.expect("the title record").text(1, 40);
  records::Record rec = src.expect("the header record (llmax, ismin, ismax, dsr)");
  h.llmax = rec.integer(1, 10);
  h.ismin = rec.integer(11, 10);
  h.ismax = rec.integer(21, 10);
  h.dsr = rec.real(31, 10, 1);
  return h;
}

ValueGroup read_value_group(records::LineSource& src, std::int32_t ismin, std::int32_t ismax) {
  if (ismax < ismin)
    throw records::ReadError(src.name(), "ismax " + std::to_string(ismax) + " is below ismin " + std::to_string(ismin) +
                                             ": the layer lines hold no samples");
  ValueGroup g;
  records::Record head = src.expect("the n, l record of a value group");
  g.n = head.integer(1, 10);
  g.l = head.integer(11, 10);
  const std::int64_t count = std::int64_t{ismax} - ismin + 1;
  // storage grows with the records actually read: a header that claims 2^31 samples over a short
  // file ends at the end of the input, not in a multi-gigabyte allocation first
  g.values.reserve(static_cast<std::size_t>(std::min<std::int64_t>(count, 1000)));
  const std::string expected = "a value record of the group that begins at line " + std::to_string(head.line());
  while (static_cast<std::int64_t>(g.values.size()) < count) {
    records::Record rec = src.expect(expected);
    for (int k = 0; k < 10 && static_cast<std::int64_t>(g.values.size()) < count; ++k)
      g.values.push_back(rec.real(1 + 12 * k, 12, 6));
  }
  return g;
}

void write_gridded_header(std::ostream& out, const GriddedHeader& h) {
  std::string title = h.title.substr(0, 40);
  title.resize(40, ' ');  // a 40-character text, padded on the right
  out << title << '\n'
      << records::int_form(h.llmax, 10) << records::int_form(h.ismin, 10) << records::int_form(h.ismax, 10)
      << records::fixed_form(h.dsr, 10, 1) << '\n';
}

void write_value_group(std::ostream& out, std::int32_t n, std::int32_t l, const std::vector<float>& values) {
  out << records::int_form(n, 10) << records::int_form(l, 10) << '\n';
  for (std::size_t i = 0; i < values.size(); ++i) {
    out << records::fixed_form(values[i], 12, 6);
    if (i % 10 == 9 || i + 1 == values.size()) out << '\n';
  }
}

}  // namespace layerline
