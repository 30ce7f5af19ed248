#include "curvematch/report.hpp"

#include <cmath>
#include <sstream>
#include <vector>

#include "curvematch/search.hpp"
#include "layerline/gridded.hpp"
#include "records/forms.hpp"

namespace curvematch {

using records::fixed_form;
using records::int_form;

namespace {

std::string rule(std::size_t n, char c = '-') { return std::string(n, c); }

// The integer part of a single-precision product, or asterisks when it has none that fits.
std::string truncated_int(float v, int w) {
  if (!std::isfinite(v) || std::fabs(v) >= 2147483648.0f) return std::string(static_cast<std::size_t>(w), '*');
  return int_form(static_cast<std::int32_t>(v), w);
}

float cos_d(float x) { return static_cast<float>(std::cos(static_cast<double>(x))); }
float sin_d(float x) { return static_cast<float>(std::sin(static_cast<double>(x))); }

}  // namespace

void write_start(std::ostream& out, const RunInput& in) {
  out << in.rdlfile << '\n';
  out << std::string(40, '\0') << '\n';
  out << in.tfile << '\n';
  out << "hi there" << int_form(1, 5) << int_form(in.irmin, 5) << int_form(in.irmax, 5) << '\n';
}

void write_data_summary(std::ostream& out, const RunInput& in, const DataSets& d) {
  const std::string b = "  ";  // every report line begins with two blanks
  out << '\n';
  out << b << "     ref. layer-line title : " << d.lgtitle << '\n';
  out << b << "     test layer-line title : " << d.lgtitle2 << '\n';
  out << b << "              reference in : " << in.refile << '\n';
  out << b << "                   test in : " << in.tfile << '\n';
  out << b << "           repeat distance : " << fixed_form(in.rep_dis, 9, 2) << " Angstroms\n";
  out << b << "layer-line sampling (ref.) : " << fixed_form(in.delr1, 13, 9) << " recip. Angstroms\n";
  out << b << "layer-line sampling (test) : " << fixed_form(in.delr2, 13, 9) << " recip. Angstroms\n";
  out << b << "   sum of amplitude (ref.) : " << fixed_form(d.asum, 8, 0) << " (" << int_form(d.ncount, 6)
      << "           points)\n";
  out << b << "   sum of amplitude (test) : " << fixed_form(d.a1sum, 8, 0) << " (" << int_form(d.ncount1, 6)
      << "           points)\n";
  out << b << "         cut-off amplitude : " << fixed_form(d.amin, 7, 2) << "  ( " << fixed_form(in.acut, 4, 2)
      << "% of max ref. amp)\n";
}

void write_scale_block(std::ostream& out, const Search& s, std::int32_t nr) {
  const std::string b = "  ";
  const SearchGrid& g = s.grid();
  const std::size_t width = 7 * static_cast<std::size_t>(g.ipl) + 10;
  out << "\n\n" << b << "radial scaling factor :  " << fixed_form(s.rsc(nr), 10, 4) << "\n\n";
  out << b << " z phi | ";
  for (std::int32_t np = 1; np <= g.ipl; ++np) out << fixed_form(s.pres(np), 7, 2);
  out << '\n';
  out << b << rule(width) << '\n';
  for (std::int32_t nz = 1; nz <= g.izl; ++nz) {
    out << b << fixed_form(s.zres(nz), 7, 2) << ": ";
    for (std::int32_t np = 1; np <= g.ipl; ++np) out << fixed_form(s.res(np, nz), 7, 2);
    out << '\n';
  }
  out << b << rule(width) << '\n';
  out << b << "   minimum residual : " << fixed_form(s.rm(nr), 10, 3) << "    at phi = " << fixed_form(s.pm(nr), 7, 2)
      << ", z = " << fixed_form(s.zm(nr), 7, 2) << '\n';
  out << b << "no. points compared : " << int_form(s.last().npts, 10) << '\n';
  out << b << "amp (ref.) compared : " << fixed_form(s.last().fsum, 11, 0) << '\n';
  out << b << "amp sc. fact. (r/t) : " << fixed_form(s.last().sf, 10, 4) << '\n';
  out << b << "           R factor : " << fixed_form(s.rf(nr), 10, 4) << '\n';
}

void write_minimum_locations(std::ostream& out, const Search& s) {
  const std::string dashes = "  " + rule(42) + rule(13, ' ') + rule(15);
  out << "\n\n  **** minimum locations ****\n";
  out << "  "
      << " rscale       phi         z         R factor               residual\n";
  out << dashes << '\n';
  for (std::int32_t n = 1; n <= s.grid().irl; ++n)
    out << "  " << fixed_form(s.rsc(n), 7, 4) << fixed_form(s.pm(n), 11, 2) << fixed_form(s.zm(n), 11, 2) << "    "
        << fixed_form(s.rf(n), 10, 4) << "   " << fixed_form(s.rm(n), 10, 3) << '\n';
  out << dashes << '\n';
}

std::string residual_line(float gmin, float phimin, float zmin, float rscmin) {
  return "  residual =" + fixed_form(gmin, 8, 3) + "   at phi = " + fixed_form(phimin, 7, 2) +
         ", z = " + fixed_form(zmin, 7, 2) + ", rscale = " + fixed_form(rscmin, 8, 4);
}

void write_global_minimum(std::ostream& out, float gmin, float phimin, float zmin, float rscmin, float rfmin) {
  out << "\n\n  **** global minimum ****\n";
  out << residual_line(gmin, phimin, zmin, rscmin) << "\n\n";
  out << (records::FreeLine() << "Minimum global R factor : " << rfmin).str() << '\n';
}

std::string layer_line_row(const LayerLineRow& r) {
  std::string s = "  " + int_form(r.l, 3) + ":" + int_form(r.L, 5) + int_form(r.N, 5) + fixed_form(r.zr, 7, 1) +
                  fixed_form(0.0f, 7, 1) + int_form(r.npts, 5) + " (" + int_form(r.ipt0, 3) + "-" +
                  int_form(r.iptm, 3) + ")" + fixed_form(r.ra, 7, 2) + fixed_form(r.ta, 7, 2);
  if (r.resl == 0.0f) return s + "      --";
  return s + fixed_form(r.resl, 9, 2);
}

LayerLineRow layer_line_at_minimum(const DataSets& d, std::int32_t l, float phimin, float zmin, float convd,
                                   float rep_dis, float fsum, float f2sum) {
  const std::int32_t N = d.in[static_cast<std::size_t>(l)];
  const std::int32_t L = d.inl[static_cast<std::size_t>(l)];
  std::int32_t npts = 0;
  float bsum = 0.00001f;
  float bdsum = 0.0f;
  float b2sum = 0.0f;
  const float phash = static_cast<float>(N) * phimin - static_cast<float>(L) * convd * zmin;
  for (std::int32_t ir = d.first2(l); ir <= d.last2(l); ++ir) {
    const float a = d.a.at(l, ir);
    if (a < d.amin) continue;
    const float dp = reduce_phase_difference(d.p.at(l, ir) - d.p2.at(l, ir) + phash);
    npts += 1;
    bsum += a;
    bdsum += a * (dp * dp);
    b2sum += d.a2.at(l, ir);
  }
  LayerLineRow r;
  r.l = l;
  r.L = L;
  r.N = N;
  r.zr = rep_dis / static_cast<float>(L);
  r.npts = npts;
  r.ipt0 = d.ismin - 1;
  r.iptm = d.ismax - 1;
  r.ra = 100.0f * bsum / fsum;
  r.ta = 100.0f * b2sum / f2sum;
  r.resl = std::sqrt(bdsum / bsum);
  return r;
}

void write_final_report(std::ostream& out, const DataSets& d, const Search& s, float convd, float rep_dis) {
  const SearchGrid& g = s.grid();
  out << "\n  phase residual for each test layer-line at global minimum \n";
  out << "  " << rule(34) << rule(11, ' ') << rule(33) << '\n';
  out << "  "
      << "        L    N   1/Z   weight    points      ref-amp-test  residual\n";
  out << "  "
      << "                 (A)             (g.u.)           %              (degree)\n";
  out << "  " << rule(54) << rule(7, ' ') << rule(13) << '\n';
  for (std::int32_t l = 1; l <= d.llmax; ++l)
    out << layer_line_row(layer_line_at_minimum(d, l, g.phimin, g.zmin, convd, rep_dis, s.last().fsum, s.last().f2sum))
        << '\n';
  out << "  " << rule(49) << rule(6, ' ') << rule(18) << '\n';
  out << residual_line(s.gmin(), g.phimin, g.zmin, g.rscmin) << "\n\n";
  out << (records::FreeLine() << "Minimum global R factor : " << s.rfmin()).str() << '\n';
}

std::string results_record(float rfmin, float phimin, float zmin, float rscmin, float gmin) {
  return truncated_int((rfmin - 1.0f) * 100000.0f, 10) + fixed_form(phimin, 7, 2) + fixed_form(zmin, 7, 2) +
         fixed_form(rscmin, 8, 4) + truncated_int(gmin * 1000.0f, 10);
}

void fit_test_data(DataSets& d, float phimin, float zmin, float convd) {
  for (std::int32_t l = 1; l <= d.llmax; ++l) {
    const float phash = static_cast<float>(d.in[static_cast<std::size_t>(l)]) * phimin -
                        static_cast<float>(d.inl[static_cast<std::size_t>(l)]) * convd * zmin;
    for (std::int32_t ir = d.ismin; ir <= d.ismax; ++ir) {
      const float amp = d.a2.at(l, ir);
      float phase = static_cast<float>(std::fmod(static_cast<double>(d.p2.at(l, ir) - phash), 360.0));
      if (phase < 0.0f) phase = phase + 360.0f;
      d.ltlga.at(l, ir) = amp * cos_d(phase / deg);
      d.ltlgb.at(l, ir) = amp * sin_d(phase / deg);
    }
  }
}

std::string fitted_file_text(const DataSets& d) {
  std::ostringstream out;
  layerline::GriddedHeader h;
  h.title = d.lgtitle;
  h.llmax = d.llmax;
  h.ismin = d.ismin;
  h.ismax = d.ismax;
  h.dsr = d.dsr;
  layerline::write_gridded_header(out, h);
  std::vector<float> values(static_cast<std::size_t>(d.ismax - d.ismin + 1));
  for (std::int32_t l = 1; l <= d.llmax; ++l) {
    const std::int32_t n = d.in[static_cast<std::size_t>(l)];
    const std::int32_t ll = d.inl[static_cast<std::size_t>(l)];
    for (std::int32_t ir = d.ismin; ir <= d.ismax; ++ir)
      values[static_cast<std::size_t>(ir - d.ismin)] = d.ltlga.at(l, ir);
    layerline::write_value_group(out, n, ll, values);
    for (std::int32_t ir = d.ismin; ir <= d.ismax; ++ir)
      values[static_cast<std::size_t>(ir - d.ismin)] = d.ltlgb.at(l, ir);
    layerline::write_value_group(out, n, ll, values);
  }
  return out.str();
}

}  // namespace curvematch
