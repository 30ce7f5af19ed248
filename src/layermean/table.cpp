#include "layermean/table.hpp"

#include <cmath>
#include <map>
#include <optional>
#include <tuple>
#include <utility>

#include "records/error.hpp"
#include "records/numbers.hpp"

namespace layermean {

namespace {

struct Field {
  std::string_view text;  // without surrounding blanks
  int first = 0;          // columns of the whole field, counted from 1
  int last = 0;
};

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.back() == ' ')) {
    if (s.front() == ' ') s.remove_prefix(1);
    if (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  }
  return s;
}

std::vector<Field> split_tabs(std::string_view line) {
  std::vector<Field> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    const std::size_t end = tab == std::string_view::npos ? line.size() : tab;
    out.push_back(Field{trim(line.substr(start, end - start)), static_cast<int>(start) + 1, static_cast<int>(end)});
    if (tab == std::string_view::npos) return out;
    start = tab + 1;
  }
}

bool ignorable(std::string_view line) { return trim(line).empty() || line.front() == '#'; }

class RowReader {
 public:
  RowReader(const std::string& name, int line, const std::vector<Field>& fields)
      : name_(name), line_(line), fields_(fields) {}

  records::ReadError fault(const Field& f, std::string_view column, const std::string& what) const {
    return records::ReadError(name_, line_, f.first, f.last < f.first ? f.first : f.last,
                              "column \"" + std::string(column) + "\": " + what);
  }
  float number(int index, std::string_view column) const {
    const Field& f = fields_[static_cast<std::size_t>(index)];
    if (f.text.empty()) throw fault(f, column, "the value is missing");
    const records::Parsed<float> p = records::parse_free_real(f.text);
    if (!p.ok()) throw fault(f, column, p.error);
    if (!std::isfinite(p.value)) throw fault(f, column, "\"" + std::string(f.text) + "\" is not a finite number");
    return p.value;
  }
  const Field& field(int index) const { return fields_[static_cast<std::size_t>(index)]; }

 private:
  const std::string& name_;
  int line_;
  const std::vector<Field>& fields_;
};

bool given(const RowReader& r, int index) {
  return index >= 0 && !r.field(index).text.empty() && r.field(index).text != "-";
}

// The defocus columns of a row: U alone is enough (V = U, angle 0); V or an angle without U is
// a fault, as is a negative defocus.
void read_defocus(const RowReader& r, int c_du, int c_dv, int c_da, Row& row) {
  if (!given(r, c_du)) {
    for (const auto& [c, name] : {std::pair{c_dv, "defocus_v"}, std::pair{c_da, "defocus_angle"}})
      if (given(r, c)) throw r.fault(r.field(c), name, "given without defocus_u");
    return;
  }
  row.has_defocus = true;
  row.defocus_u = r.number(c_du, "defocus_u");
  row.defocus_v = given(r, c_dv) ? r.number(c_dv, "defocus_v") : row.defocus_u;
  if (given(r, c_da)) row.defocus_angle = r.number(c_da, "defocus_angle");
  for (const auto& [c, v, name] :
       {std::tuple{c_du, row.defocus_u, "defocus_u"}, std::tuple{c_dv, row.defocus_v, "defocus_v"}})
    if (v < 0.0f)
      throw r.fault(r.field(c), name,
                    "a defocus is positive underfocus in Angstroms, not " + std::string(r.field(c).text));
}

}  // namespace

Table read_table(std::string_view text, const std::string& name) {
  std::size_t pos = 0;
  int number = 0;
  auto next_line = [&](std::string_view& line) {
    while (pos < text.size()) {
      std::size_t end = text.find('\n', pos);
      if (end == std::string_view::npos) end = text.size();
      line = text.substr(pos, end - pos);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      pos = end + 1;
      ++number;
      if (!ignorable(line)) return true;
    }
    return false;
  };

  std::string_view line;
  if (!next_line(line)) throw records::ReadError(name, "holds no header line naming the columns");
  const int header_line = number;
  std::map<std::string, int, std::less<>> column;
  const std::vector<Field> header = split_tabs(line);
  for (std::size_t i = 0; i < header.size(); ++i) {
    if (!column.emplace(std::string(header[i].text), static_cast<int>(i)).second)
      throw records::ReadError(name, header_line, header[i].first, header[i].last,
                               "the column \"" + std::string(header[i].text) + "\" is named twice");
  }
  auto index_of = [&](std::string_view c) -> int {
    const auto it = column.find(c);
    return it == column.end() ? -1 : it->second;
  };
  for (const char* required : {"file", "phi", "z", "rscale"})
    if (index_of(required) < 0)
      throw records::ReadError(
          name, header_line, 0, 0,
          std::string("the header names no column \"") + required + "\" (needed: file, phi, z, rscale)");
  const int c_file = index_of("file"), c_phi = index_of("phi"), c_z = index_of("z"), c_rscale = index_of("rscale");
  const int c_side = index_of("side"), c_weight = index_of("weight"), c_half = index_of("half");
  const int c_particle = index_of("particle"), c_status = index_of("status"), c_polarity = index_of("polarity");
  const int c_du = index_of("defocus_u"), c_dv = index_of("defocus_v"), c_da = index_of("defocus_angle");

  Table t;
  std::map<std::string, std::int32_t, std::less<>> half_of;  // halves the table gives a particle
  while (next_line(line)) {
    const std::vector<Field> fields = split_tabs(line);
    if (fields.size() != header.size())
      throw records::ReadError(name, number, 0, 0,
                               std::to_string(fields.size()) + " fields, but the header on line " +
                                   std::to_string(header_line) + " names " + std::to_string(header.size()) +
                                   " columns");
    const RowReader r(name, number, fields);
    if (c_status >= 0 && r.field(c_status).text != "ok") {
      ++t.left_out;
      continue;
    }
    Row row;
    row.line = number;
    row.file = std::string(r.field(c_file).text);
    if (row.file.empty()) throw r.fault(r.field(c_file), "file", "the file name is missing");
    row.phi = r.number(c_phi, "phi");
    row.z = r.number(c_z, "z");
    row.rscale = r.number(c_rscale, "rscale");
    if (!(row.rscale > 0.0f))
      throw r.fault(r.field(c_rscale), "rscale",
                    "the radial scale must be above 0, not " + std::string(r.field(c_rscale).text));
    if (c_side >= 0 && !r.field(c_side).text.empty()) {
      const std::string_view s = r.field(c_side).text;
      if (s != "near" && s != "far")
        throw r.fault(r.field(c_side), "side", "near or far, not \"" + std::string(s) + "\"");
      row.far = s == "far";
    }
    if (c_polarity >= 0 && !r.field(c_polarity).text.empty()) {
      const std::string_view s = r.field(c_polarity).text;
      if (s != "same" && s != "opposite")
        throw r.fault(r.field(c_polarity), "polarity", "same or opposite, not \"" + std::string(s) + "\"");
      row.opposite = s == "opposite";
    }
    if (c_weight >= 0 && !r.field(c_weight).text.empty()) {
      row.weight = r.number(c_weight, "weight");
      if (!(row.weight > 0.0f))
        throw r.fault(r.field(c_weight), "weight",
                      "the weight must be above 0, not " + std::string(r.field(c_weight).text));
    }
    row.particle =
        c_particle >= 0 && !r.field(c_particle).text.empty() ? std::string(r.field(c_particle).text) : row.file;
    if (c_half >= 0 && !r.field(c_half).text.empty()) {
      const std::string_view h = r.field(c_half).text;
      if (h != "1" && h != "2") throw r.fault(r.field(c_half), "half", "1 or 2, not \"" + std::string(h) + "\"");
      row.half = h == "1" ? 1 : 2;
      const auto [it, fresh] = half_of.emplace(row.particle, row.half);
      if (!fresh && it->second != row.half)
        throw r.fault(r.field(c_half), "half",
                      "particle \"" + row.particle + "\" is in half " + std::to_string(it->second) +
                          " on another line: both sides of a particle go into the same half");
    }
    read_defocus(r, c_du, c_dv, c_da, row);
    t.rows.push_back(std::move(row));
  }
  // Rows without a half: their particle's half if the table gives one, else particles alternate.
  std::map<std::string, std::int32_t, std::less<>> assigned;
  std::int32_t next_half = 1;
  for (Row& row : t.rows) {
    if (row.half != 0) continue;
    if (const auto it = half_of.find(row.particle); it != half_of.end()) {
      row.half = it->second;
      continue;
    }
    const auto [it, fresh] = assigned.emplace(row.particle, next_half);
    if (fresh) next_half = 3 - next_half;
    row.half = it->second;
  }
  return t;
}

}  // namespace layermean
