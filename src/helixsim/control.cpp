// The control input of helixsim: one keyword a line with its values.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "helix/rule.hpp"
#include "helixsim/helixsim.hpp"
#include "records/error.hpp"
#include "records/numbers.hpp"

namespace helixsim {

namespace {

struct Token {
  std::string text;
  int first = 0;  // columns, from 1
  int last = 0;
};

// Splits a line at blanks and commas; '#' starts a comment.
std::vector<Token> tokens_of(const std::string& line) {
  std::vector<Token> out;
  std::size_t i = 0;
  const std::size_t end = std::min(line.find('#'), line.size());
  while (i < end) {
    while (i < end && (line[i] == ' ' || line[i] == ',' || line[i] == '\t')) ++i;
    if (i >= end) break;
    const std::size_t start = i;
    while (i < end && line[i] != ' ' && line[i] != ',' && line[i] != '\t') ++i;
    out.push_back(Token{line.substr(start, i - start), static_cast<int>(start) + 1, static_cast<int>(i)});
  }
  return out;
}

class Line {
 public:
  Line(const records::Record& rec, std::vector<Token> tokens) : rec_(rec), tokens_(std::move(tokens)) {}

  const std::string& keyword() const { return tokens_[0].text; }

  [[noreturn]] void fail(const std::string& message) const {
    throw records::ReadError(rec_.source(), rec_.line(), 0, 0, message);
  }
  void expect_count(std::size_t values, const char* what) const {
    if (tokens_.size() - 1 != values)
      fail("\"" + keyword() + "\" takes " + what + " (" + std::to_string(tokens_.size() - 1) + " value" +
           (tokens_.size() == 2 ? "" : "s") + " given)");
  }
  float real(std::size_t k, const char* what) const {
    const Token& t = tokens_[k];
    const auto v = records::parse_free_real(t.text);
    if (!v.ok()) throw records::ReadError(rec_.source(), rec_.line(), t.first, t.last, v.error + " (" + what + ")");
    return v.value;
  }
  std::int32_t integer(std::size_t k, const char* what) const {
    const Token& t = tokens_[k];
    const auto v = records::parse_free_int(t.text);
    if (!v.ok()) throw records::ReadError(rec_.source(), rec_.line(), t.first, t.last, v.error + " (" + what + ")");
    return v.value;
  }
  float positive(std::size_t k, const char* what) const {
    const float v = real(k, what);
    if (!(v > 0.0f)) fail(std::string(what) + " must be above 0");
    return v;
  }
  const records::Record& record() const { return rec_; }

 private:
  const records::Record& rec_;
  std::vector<Token> tokens_;
};

// The title is the rest of the line after the keyword, blanks at both ends removed.
std::string title_of(const std::string& text) {
  std::size_t i = text.find_first_not_of(" \t");
  i = text.find_first_of(" \t", i);
  if (i == std::string::npos) return {};
  i = text.find_first_not_of(" \t", i);
  if (i == std::string::npos) return {};
  std::size_t j = text.find_last_not_of(" \t");
  return text.substr(i, j - i + 1);
}

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

std::vector<LayerLine> rule_layer_lines(std::int32_t i, std::int32_t j, std::int32_t lmax, std::int32_t nmax) {
  std::vector<LayerLine> out;
  for (std::int32_t l = 0; l <= lmax; ++l)
    if (const std::optional<std::int32_t> n = helix::lowest_order(helix::Rule{i, j}, l, nmax))
      out.push_back(LayerLine{l, *n});
  return out;
}

Geometry geometry_of(const Particle& p) {
  Geometry g;
  g.nx = p.width / 2 + 1;
  g.ny = p.height;
  g.ky = g.ny / 2;
  const double rows = double(p.height) * double(p.pixel) / double(p.repeat);
  g.rows_per_layer = static_cast<std::int32_t>(std::lround(rows));
  // sidesplit computes the same single-precision steps from the deck and the header.
  g.convx = 1.0f / (static_cast<float>(2 * (g.nx - 1)) * p.pixel);
  g.convy = 1.0f / (static_cast<float>(g.ny) * p.pixel);
  g.delr = g.convx;
  g.samples = p.samples > 0 ? p.samples : std::min(g.nx - 2, max_samples);
  // The default number of samples shrinks so that the gridded file keeps to 512 samples.
  if (p.samples == 0) g.samples = std::min(g.samples, max_samples / p.gridded_fine);
  g.grid_points = p.gridded_fine * g.samples + 1;
  return g;
}

Particle read_control(records::LineSource& src) {
  Particle p;
  bool have_repeat = false, have_radius = false, have_pixel = false, have_box = false;
  std::optional<records::Record> last;
  int rule_line = 0, layer_line = 0, subunit_line = 0, ctf_line = 0;
  std::vector<int> line_of;  // control line of each layer line, for messages
  while (auto rec = src.next()) {
    last = rec;
    std::vector<Token> toks = tokens_of(rec->text());
    if (toks.empty()) continue;
    const Line ln(*rec, toks);
    const std::string key = lower(ln.keyword());
    if (key == "title") {
      p.title = title_of(rec->text().substr(0, std::min(rec->text().find('#'), rec->text().size())));
      if (p.title.size() > 40)
        ln.fail("the title has " + std::to_string(p.title.size()) + " characters, at most 40 fit");
    } else if (key == "repeat") {
      ln.expect_count(1, "the repeat distance in Angstroms");
      p.repeat = ln.positive(1, "the repeat distance");
      have_repeat = true;
    } else if (key == "radius") {
      ln.expect_count(1, "the helix radius in Angstroms");
      p.radius = ln.positive(1, "the helix radius");
      have_radius = true;
    } else if (key == "pixel") {
      ln.expect_count(1, "the pixel size in Angstroms");
      p.pixel = ln.positive(1, "the pixel size");
      have_pixel = true;
    } else if (key == "box") {
      ln.expect_count(2, "the image width and height in pixels");
      p.width = ln.integer(1, "the image width");
      p.height = ln.integer(2, "the image height");
      if (p.width < 6 || p.width % 2 != 0) ln.fail("the image width must be even and at least 6");
      if (p.height < 4) ln.fail("the image height must be at least 4");
      const std::int64_t values = (static_cast<std::int64_t>(p.width) / 2 + 1) * p.height;
      if (values > max_complex_values)
        ln.fail("the transform would hold " + std::to_string(values) + " complex values, at most " +
                std::to_string(max_complex_values) + " are supported");
      have_box = true;
    } else if (key == "amplitude") {
      ln.expect_count(1, "the amplitude scale A");
      p.amplitude = ln.positive(1, "the amplitude scale");
      if (p.amplitude > 10000.0f) ln.fail("the amplitude scale must be at most 10000 (the gridded file's field)");
    } else if (key == "layer") {
      ln.expect_count(2, "a layer-line number and a Bessel order");
      if (rule_line != 0) ln.fail("layer lines are listed and given by the rule of line " + std::to_string(rule_line));
      p.lines.push_back(LayerLine{ln.integer(1, "the layer-line number"), ln.integer(2, "the Bessel order")});
      line_of.push_back(rec->line());
      layer_line = rec->line();
    } else if (key == "rule") {
      ln.expect_count(4, "i, j, the highest layer line and the largest |n|");
      if (layer_line != 0) ln.fail("a rule and the layer lines listed up to line " + std::to_string(layer_line));
      if (rule_line != 0) ln.fail("a second rule (the first is on line " + std::to_string(rule_line) + ")");
      const std::int32_t i = ln.integer(1, "the divisor i");
      const std::int32_t j = ln.integer(2, "the factor j");
      const std::int32_t lmax = ln.integer(3, "the highest layer line");
      const std::int32_t nmax = ln.integer(4, "the largest Bessel order");
      if (i == 0) ln.fail("the divisor i must not be 0");
      if (lmax < 0 || lmax >= max_layer_lines) ln.fail("the highest layer line must be 0 to 999");
      if (nmax < 0 || nmax > 1000) ln.fail("the largest Bessel order must be 0 to 1000");
      p.lines = rule_layer_lines(i, j, lmax, nmax);
      p.rule_u = i;
      p.rule_t = j;
      line_of.assign(p.lines.size(), rec->line());
      rule_line = rec->line();
    } else if (key == "samples") {
      ln.expect_count(1, "the number of radial samples a side");
      p.samples = ln.integer(1, "the number of radial samples");
      if (p.samples < 1 || p.samples > max_samples) ln.fail("the number of radial samples must be 1 to 511");
    } else if (key == "rotate") {
      ln.expect_count(1, "the rotation phi0 in degrees");
      p.phi0 = ln.real(1, "the rotation");
    } else if (key == "shift") {
      ln.expect_count(1, "the axial shift z0 in Angstroms");
      p.z0 = ln.real(1, "the axial shift");
    } else if (key == "inplane") {
      ln.expect_count(3, "the in-plane angle in degrees and the offsets DX DY in Angstroms");
      p.inplane_psi = ln.real(1, "the in-plane angle");
      p.inplane_dx = ln.real(2, "the offset DX");
      p.inplane_dy = ln.real(3, "the offset DY");
      p.inplane = true;
    } else if (key == "scale") {
      ln.expect_count(1, "the radial scale");
      p.scale = ln.positive(1, "the radial scale");
    } else if (key == "polarity") {
      ln.expect_count(1, "\"same\" or \"opposite\"");
      const std::string v = lower(toks[1].text);
      if (v != "same" && v != "opposite") ln.fail("polarity is \"same\" or \"opposite\", not \"" + toks[1].text + "\"");
      p.flipped = v == "opposite";
    } else if (key == "noise") {
      ln.expect_count(2, "the noise level and a seed");
      p.noise = ln.real(1, "the noise level");
      if (!(p.noise >= 0.0f) || p.noise > 100.0f) ln.fail("the noise level must be 0 to 100");
      const std::int32_t seed = ln.integer(2, "the seed");
      if (seed < 0) ln.fail("the seed must not be negative");
      p.seed = static_cast<std::uint32_t>(seed);
    } else if (key == "model") {
      ln.expect_count(1, "\"real\" or \"fourier\"");
      const std::string v = lower(toks[1].text);
      if (v != "real" && v != "fourier") ln.fail("the model is \"real\" or \"fourier\", not \"" + toks[1].text + "\"");
      p.real_model = v == "real";
    } else if (key == "subunit") {
      ln.expect_count(5, "a blob's radial, azimuthal and axial offsets, its width and its weight");
      Blob b;
      b.dr = ln.real(1, "the radial offset");
      b.dphi = ln.real(2, "the azimuthal offset");
      b.dz = ln.real(3, "the axial offset");
      b.width = ln.positive(4, "the blob width");
      b.weight = ln.positive(5, "the blob weight");
      p.blobs.push_back(b);
      subunit_line = rec->line();
    } else if (key == "ctf") {
      if (toks.size() != 7 && toks.size() != 8)
        ln.expect_count(6,
                        "the voltage (kV), Cs (mm), the amplitude contrast, defocus U and V (A), the "
                        "astigmatism angle (degrees) and an optional B-factor");
      ctf::Params c;
      c.voltage = ln.real(1, "the voltage");
      c.cs = ln.real(2, "Cs");
      c.amplitude_contrast = ln.real(3, "the amplitude contrast");
      c.defocus_u = ln.real(4, "defocus U");
      c.defocus_v = ln.real(5, "defocus V");
      c.angle = ln.real(6, "the astigmatism angle");
      if (toks.size() == 8) c.bfactor = ln.real(7, "the B-factor");
      if (const std::string f = ctf::fault(c); !f.empty()) ln.fail(f);
      p.has_ctf = true;
      p.ctf = c;
      ctf_line = rec->line();
    } else if (key == "gridded") {
      if (toks.size() != 2 && toks.size() != 3) ln.expect_count(1, "\"near\" or \"far\" and samples per column");
      const std::string v = lower(toks[1].text);
      if (toks.size() == 3) {
        p.gridded_fine = ln.integer(2, "the gridded samples per column");
        if (p.gridded_fine < 1 || p.gridded_fine > 8) ln.fail("the gridded samples per column must be 1 to 8");
      }
      if (v != "near" && v != "far") ln.fail("the gridded side is \"near\" or \"far\", not \"" + toks[1].text + "\"");
      p.gridded_side = v == "near" ? Side::Near : Side::Far;
    } else {
      throw records::ReadError(src.name(), rec->line(), toks[0].first, toks[0].last,
                               "unknown keyword \"" + toks[0].text + "\" (see helixsim --help)");
    }
  }

  // Checks of the whole particle, once everything is read.
  auto missing = [&](const char* what) { throw records::ReadError(src.name(), what); };
  if (!have_repeat) missing("no \"repeat\" line: the repeat distance is needed");
  if (!have_radius) missing("no \"radius\" line: the helix radius is needed");
  if (!have_pixel) missing("no \"pixel\" line: the pixel size is needed");
  if (!have_box) missing("no \"box\" line: the image width and height are needed");
  if (p.lines.empty()) missing("no layer lines: give \"layer l n\" lines or a \"rule\"");
  if (p.lines.size() > static_cast<std::size_t>(max_layer_lines))
    missing("more than 1000 layer lines are not supported");

  const double rows = double(p.height) * double(p.pixel) / double(p.repeat);
  const double whole = std::round(rows);
  if (whole < 1.0 || std::abs(rows - whole) > 1e-4 * rows)
    throw records::ReadError(src.name(), "the image height (" + std::to_string(p.height) +
                                             " pixels) times the pixel size must be a whole multiple of the repeat "
                                             "distance, so that every layer line falls on a transform row");
  if (!p.real_model && subunit_line != 0)
    throw records::ReadError(src.name(), subunit_line, 0, 0,
                             "subunit blobs belong to the real-space model: add \"model real\"");
  if (!p.real_model && ctf_line != 0)
    throw records::ReadError(src.name(), ctf_line, 0, 0,
                             "the CTF is imposed on the real-space model's projection: add \"model real\"");
  if (p.real_model) {
    if (rule_line == 0)
      throw records::ReadError(src.name(), "the real-space model places its subunits by a \"rule\" line");
    if (p.rule_u < 0) throw records::ReadError(src.name(), rule_line, 0, 0, "the real-space model needs i above 0");
    const std::int64_t pixels = std::int64_t(p.width) * p.height;
    if (pixels > max_pixels)
      throw records::ReadError(src.name(), "the projection would hold " + std::to_string(pixels) + " pixels, at most " +
                                               std::to_string(max_pixels) + " are supported");
    // Every blob, out to four widths, inside the box across the axis.
    const double room = (double(p.width) / 2.0 - 1.0) * double(p.pixel);
    for (const Blob& b : subunit_of(p)) {
      const double r = std::abs(double(p.scale) * (double(p.radius) + double(b.dr)));
      if (r + 4.0 * std::abs(double(p.scale)) * double(b.width) > room)
        throw records::ReadError(src.name(), "a blob at radius " + std::to_string(r) + " A of width " +
                                                 std::to_string(b.width) + " A does not fit in the box (" +
                                                 std::to_string(room) + " A from the axis to the edge)");
    }
  }
  const Geometry g = geometry_of(p);
  if (g.samples > g.nx - 2)
    throw records::ReadError(src.name(), std::to_string(g.samples) + " radial samples a side, the transform's " +
                                             std::to_string(g.nx) + " columns hold at most " +
                                             std::to_string(g.nx - 2));
  if (g.grid_points > max_samples + 1)
    throw records::ReadError(src.name(), std::to_string(g.grid_points) +
                                             " gridded samples a layer line, at most 512 are supported (fewer "
                                             "\"samples\" or fewer gridded samples per column)");
  for (std::size_t k = 0; k < p.lines.size(); ++k) {
    const LayerLine& ll = p.lines[k];
    const int at = line_of[k];
    if (ll.l < 0)
      throw records::ReadError(src.name(), at, 0, 0,
                               "layer line " + std::to_string(ll.l) + ": layer-line numbers start at 0");
    if (ll.l == 0 && ll.n != 0)
      throw records::ReadError(src.name(), at, 0, 0, "the equator (layer line 0) carries Bessel order 0 only");
    if (ll.n < -1000 || ll.n > 1000)
      throw records::ReadError(src.name(), at, 0, 0, "Bessel order " + std::to_string(ll.n) + " is beyond +-1000");
    const std::int64_t row = static_cast<std::int64_t>(ll.l) * g.rows_per_layer;
    // sidesplit reads the row of the layer line and the next one above it, on both halves.
    if (row + 1 > g.ny - 1 - g.ky || row > g.ky)
      throw records::ReadError(src.name(), at, 0, 0,
                               "layer line " + std::to_string(ll.l) + " lies " + std::to_string(row) +
                                   " rows from the equator, beyond the transform's " + std::to_string(g.ny - 2 - g.ky) +
                                   " (make the image taller)");
    for (std::size_t m = 0; m < k; ++m)
      if (p.lines[m].l == ll.l)
        throw records::ReadError(
            src.name(), at, 0, 0,
            "layer line " + std::to_string(ll.l) + " is listed twice (one Bessel order a layer line)");
  }
  return p;
}

}  // namespace helixsim
