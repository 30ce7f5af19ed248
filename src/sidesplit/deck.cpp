#include "sidesplit/deck.hpp"

#include <cmath>

#include "records/error.hpp"
#include "records/forms.hpp"
#include "records/free.hpp"

namespace sidesplit {

namespace {

using records::ReadError;

std::string str(std::int64_t v) { return std::to_string(v); }

// Refuses a non-empty range of record 6b whose R indices lo..hi (either order) leave n1..n2.
void check_range(const records::LineSource& src, const LayerLineEntry& e, std::size_t entry, const RadialGrid& grid,
                 const char* half, const char* first_name, std::int32_t first, const char* last_name, std::int32_t last,
                 std::int64_t first_index, std::int64_t last_index) {
  if (last < first) return;  // nothing is written from this half
  auto inside = [&](std::int64_t i) { return i >= grid.n1 && i <= grid.n2; };
  if (inside(first_index) && inside(last_index)) return;
  const std::int64_t bad = inside(first_index) ? last_index : first_index;
  std::string sampled = grid.n2 < grid.n1 ? "no radial samples are taken (rmax/delr < rmin/delr)"
                                          : "the sampled R indices run from " + str(grid.n1) + " to " + str(grid.n2) +
                                                " (rmin/delr to rmax/delr)";
  throw ReadError(src.name(), e.line, 0, 0,
                  "layer line " + str(e.llno) + " (entry " + str(static_cast<std::int64_t>(entry)) +
                      " of the deck): the " + half + " range " + first_name + " = " + str(first) + " to " + last_name +
                      " = " + str(last) + " reaches R index " + str(bad) + ", but " + sampled);
}

}  // namespace

RadialGrid radial_grid(float rmin, float rmax, float delr, const std::string& source, int line) {
  if (delr == 0.0f) throw ReadError(source, line, 0, 0, "delr = 0: the radial sampling step must not be zero");
  // Sample indices are truncated towards zero and must be whole numbers we can count.
  auto index = [&](float r, const char* name) {
    const float q = r / delr;
    if (!(std::fabs(q) < 2147483520.0f)) {
      throw ReadError(source, line, 0, 0,
                      std::string(name) + "/delr = " + records::free_real(q) + " is not a usable radial sample index");
    }
    return static_cast<std::int32_t>(q);
  };
  RadialGrid g;
  g.n1 = index(rmin, "rmin");
  g.n2 = index(rmax, "rmax");
  const std::int64_t npts = static_cast<std::int64_t>(g.n2) - g.n1 + 1;
  if (npts > max_radial_samples) {
    throw ReadError(source, line, 0, 0,
                    "rmin, rmax and delr give " + str(npts) + " radial samples per layer line, at most " +
                        str(max_radial_samples) + " are supported");
  }
  g.npts = npts > 0 ? static_cast<std::int32_t>(npts) : 0;
  return g;
}

void echo_parameters(std::ostream& out, const Deck& d) {
  using records::fixed_form;
  out << " Total no of layer lines " << records::int_form(d.lltot, 10) << '\n'
      << " Real space sample size  " << fixed_form(d.sampl, 10, 2) << " Angstroms\n"
      << " X phase origin shift    " << fixed_form(d.xshft, 10, 2) << " steps\n"
      << " Y phase origin shift    " << fixed_form(d.yshft, 10, 2) << " steps\n"
      << " Layer line sampling     " << fixed_form(d.delr, 10, 6) << " rec. Angstroms\n"
      << " Rotation angle          " << fixed_form(d.rot, 10, 2) << " degrees\n"
      << " Shear angle             " << fixed_form(d.shear, 10, 2) << " degrees\n"
      << " Tilt angle              " << fixed_form(d.tilt, 10, 2) << " degrees\n"
      << " Scale factor (yfact)    " << fixed_form(d.yfact, 10, 2) << '\n';
}

Deck read_deck(records::LineSource& src, std::ostream& out, std::int32_t ny) {
  Deck d;
  // Record 1: the title, fixed form.
  d.title = src.expect("the title (record 1)").text(1, 40);

  {
    records::FreeRecord rec(src);
    d.lltot = rec.integer("lltot (record 2)");
    d.sampl = rec.real("sampl (record 2)");
    d.xshft = rec.real("xshft (record 2)");
    d.yshft = rec.real("yshft (record 2)");
    d.delr = rec.real("delr (record 2)");
    d.rot = rec.real("rot (record 2)");
    d.shear = rec.real("shear (record 2)");
    d.tilt = rec.real("tilt (record 2)");
    d.yfact = rec.real("yfact (record 2)");
  }
  echo_parameters(out, d);
  const int line2 = src.line();
  if (!(d.sampl > 0.0f)) {
    throw ReadError(src.name(), line2, 0, 0,
                    "sampl = " + records::free_real(d.sampl) + ": the real-space pixel size must be positive");
  }

  {
    records::FreeRecord rec(src);
    d.rmin = rec.real("rmin (record 3)");
    d.rmax = rec.real("rmax (record 3)");
    d.idump = rec.integer("idump (record 3)");
    d.merid = rec.integer("merid (record 3)");
    d.iywidth = rec.integer("iywidth (record 3)");
    d.iphase = rec.integer("iphase (record 3)");
  }
  d.grid = radial_grid(d.rmin, d.rmax, d.delr, src.name(), src.line());
  if (d.iywidth > ny) {
    throw ReadError(
        src.name(), src.line(), 0, 0,
        "iywidth = " + str(d.iywidth) + ": the band is wider than the " + str(ny) + " rows of the transform");
  }

  {
    records::FreeRecord rec(src);
    d.exclusion = rec.real("exclusion (record 4)");
    d.izeros = rec.integer("izeros (record 4)");
  }
  if (d.izeros < 0) {
    throw ReadError(src.name(), src.line(), 0, 0,
                    "izeros = " + str(d.izeros) + ": the number of CTF zeros cannot be negative");
  }
  // Record 5 is read, and takes a line, even when there are no zeros.
  if (d.izeros == 0) {
    src.expect("the CTF zeros (record 5, an empty line when izeros is 0)");
  } else {
    records::FreeRecord rec(src);
    for (std::int32_t k = 0; k < d.izeros; ++k) d.zeroarray.push_back(rec.real("a CTF zero (record 5)"));
  }

  for (std::int32_t l = 0; l < d.lltot; ++l) {
    LayerLineEntry e;
    {
      records::FreeRecord rec(src);
      e.llno = rec.integer("llno (record 6a)");
      e.nord = rec.integer("nord (record 6a)");
      e.ysp = rec.real("ysp (record 6a)");
    }
    if (d.idump != 0) {
      records::FreeRecord rec(src);
      e.nl1 = rec.integer("nl1 (record 6b)");
      e.nl2 = rec.integer("nl2 (record 6b)");
      e.nr1 = rec.integer("nr1 (record 6b)");
      e.nr2 = rec.integer("nr2 (record 6b)");
    }
    e.line = src.line();
    if (d.idump != 0) {
      const std::size_t entry = static_cast<std::size_t>(l) + 1;
      check_range(src, e, entry, d.grid, "negative-R", "nl1", e.nl1, "nl2", e.nl2, -static_cast<std::int64_t>(e.nl1),
                  -static_cast<std::int64_t>(e.nl2));
      check_range(src, e, entry, d.grid, "positive-R", "nr1", e.nr1, "nr2", e.nr2, e.nr1, e.nr2);
    }
    d.lines.push_back(e);
  }
  return d;
}

}  // namespace sidesplit
