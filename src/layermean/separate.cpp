#include "layermean/separate.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "eigline/eigline.hpp"
#include "helix/helix.hpp"
#include "layerline/pointlist.hpp"
#include "records/error.hpp"
#include "records/forms.hpp"

namespace layermean {

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr std::int32_t max_order = 1000;  // orders beyond this are not looked at
constexpr std::size_t max_unknowns = 64;  // complex unknowns at one radius
const std::complex<float> absent{std::numeric_limits<float>::quiet_NaN(), 0.0f};

bool present(std::complex<float> v) { return !std::isnan(v.real()); }

bool admitted(const SeparationSettings& s, std::int32_t l, std::int32_t n) {
  return helix::admits(helix::Rule{s.u, s.t}, n, l);
}

std::vector<std::int32_t> orders_with(const SeparationSettings& s, std::int32_t l, std::int32_t own, float r) {
  const bool equator = l == 0;
  const std::int32_t first = equator ? std::abs(own) : own;
  // |J_n(x)| stays below 0.001 for |n| well beyond x; orders past 1000 are not looked at.
  const double x = 2.0 * pi * double(r) * double(s.rmax);
  const std::int32_t nmax = static_cast<std::int32_t>(std::min(double(max_order), std::ceil(1.5 * x + 20.0)));
  std::vector<std::int32_t> out{first};
  for (std::int32_t n :
       helix::orders_reaching(helix::Rule{s.u, s.t}, l, nmax, double(r), double(s.rmax), double(s.level)))
    if (n != first && !(equator && n < 0)) out.push_back(n);
  std::sort(out.begin() + 1, out.end(), [](std::int32_t a, std::int32_t b) {
    return std::abs(a) != std::abs(b) ? std::abs(a) < std::abs(b) : a > b;
  });
  return out;
}

std::string identity(std::size_t k, std::int32_t n, std::int32_t l) {
  return "layer line " + std::to_string(k + 1) + " (n " + std::to_string(n) + ", l " + std::to_string(l) + ")";
}

float degrees(std::complex<float> v) {
  return static_cast<float>(std::atan2(double(v.imag()), double(v.real())) * 180.0 / pi);
}

// The coefficients of H_n and of conj(H_n) in a data set's value, for one order.
struct Coefficient {
  std::complex<double> direct, conjugate;
};

// Coefficients of every order's near-side value H_n = i^|n| G_n in a data set's value as the
// averager holds it: its polarity undone, its radius and amplitudes taken to the reference's,
// its phase taken to the reference's near side as for the block's own order m. The data set
// sees order n as view_coefficient * G_n on the half of its side; on the equator an order n > 0
// also stands for -n, whose H_-n = conj(H_n).
std::vector<Coefficient> coefficients(const std::vector<std::int32_t>& orders, const LayerLineGrid& g, float repeat,
                                      const Placement& p) {
  const helix::Side side = p.far ? helix::Side::Far : helix::Side::Near;
  const helix::Motion motion{p.phi, p.z, 1.0f, false};
  const double xs = helix::x_sign(g.nn, side, g.other_half);
  const std::complex<double> to_frame =
      std::polar(1.0, helix::phase_to_reference(g.nn, g.nl, motion, repeat, side) * pi / 180.0);
  auto of = [&](std::int32_t n) {
    return helix::view_coefficient(n, g.nl, repeat, motion, xs) * helix::g_from_near(n) * to_frame;
  };
  std::vector<Coefficient> out;
  for (std::int32_t n : orders) {
    Coefficient c;
    c.direct = of(n);
    if (g.nl == 0 && n > 0) c.conjugate = of(-n);
    out.push_back(c);
  }
  return out;
}

std::complex<double> predict(const std::vector<Coefficient>& coef, const std::vector<std::complex<double>>& h) {
  std::complex<double> v{0.0, 0.0};
  for (std::size_t i = 0; i < coef.size(); ++i) v += coef[i].direct * h[i] + coef[i].conjugate * std::conj(h[i]);
  return v;
}

}  // namespace

std::vector<std::int32_t> orders_at(const SeparationSettings& s, std::int32_t l, std::int32_t own, float r) {
  return orders_with(s, l, own, r);
}

namespace {

// One solution of every layer line with the data sets' amplitude scales `scale`; with `fit`,
// also each data set's sums for the least-squares scale of its amplitudes against what the
// solution predicts for it: fit[2d] = sum |prediction| |v|, fit[2d+1] = sum |v|^2.
Separation solve(const Averager& avg, const SeparationSettings& s, const std::vector<const Contribution*>& sets,
                 const std::vector<double>& scale, const std::vector<double>& wiener_k, const std::string& table,
                 std::vector<double>* fit_sums) {
  Separation out;
  out.fits.resize(avg.samples());
  std::vector<double> residual(2 * sets.size(), 0.0);

  for (std::size_t k = 0; k < avg.grid().size(); ++k) {
    const LayerLineGrid& g = avg.grid()[k];
    if (!admitted(s, g.nl, g.nn))
      throw records::ReadError(table, identity(k, g.nn, g.nl) + " of the data sets breaks the rule " +
                                          std::to_string(s.u) + "/" + std::to_string(s.t) + " ((l + " +
                                          std::to_string(s.t) + " n)/" + std::to_string(s.u) + " is not whole)");
    const bool equator = g.nl == 0;
    // Every order that comes in anywhere on the layer line: those of its largest radius.
    const std::vector<std::int32_t> all = orders_with(s, g.nl, g.nn, g.r.empty() ? 0.0f : g.r.back());
    std::vector<std::vector<std::int32_t>> at_radius;  // the orders solved at each radius
    for (float r : g.r) at_radius.push_back(orders_with(s, g.nl, g.nn, r));
    const std::size_t first_line = out.lines.size();
    for (std::int32_t n : all) {
      SeparatedLine line;
      line.nn = n, line.nl = g.nl, line.block_weight = g.block_weight, line.ysp = g.ysp, line.source = k;
      line.r = g.r;
      line.value.assign(g.r.size(), absent);
      line.fom.assign(g.r.size(), 0.0f);
      out.lines.push_back(std::move(line));
    }

    // Radii in runs that share the unknowns and the design matrix, each run one eigline call.
    std::size_t j = 0;
    while (j < g.r.size()) {
      const std::vector<std::int32_t>& orders = at_radius[j];
      if (orders.size() > max_unknowns)
        throw records::ReadError(table, identity(k, g.nn, g.nl) + ": " + std::to_string(orders.size()) +
                                            " orders at R = " + records::free_real(g.r[j]) + ", at most " +
                                            std::to_string(max_unknowns) + " are supported");
      const std::int32_t nparm = static_cast<std::int32_t>(2 * orders.size());
      // The design matrix of radius jj (its rows, column by column) and the data sets in it.
      auto design = [&](std::size_t jj, std::vector<float>& a, std::vector<std::size_t>& used, std::int32_t& nobs) {
        used.clear();
        for (std::size_t d = 0; d < sets.size(); ++d)
          if (present(sets[d]->value[g.offset + jj])) used.push_back(d);
        const double kj = wiener_k.empty() ? avg.wiener() : wiener_k[g.offset + jj];
        const std::size_t extra = kj > 0.0 ? static_cast<std::size_t>(nparm) : 0;
        nobs = static_cast<std::int32_t>(2 * used.size() + extra);
        const std::size_t rows = static_cast<std::size_t>(std::max(nobs, nparm));
        a.assign(rows * static_cast<std::size_t>(nparm), 0.0f);
        for (std::size_t u = 0; u < used.size(); ++u) {
          const Contribution& c = *sets[used[u]];
          const double f = c.ctf.empty() ? 1.0 : double(c.ctf[g.offset + jj]);
          const double root = std::sqrt(double(c.place.weight)) * f;
          const std::vector<Coefficient> coef = coefficients(orders, g, avg.repeat(), c.place);
          for (std::size_t i = 0; i < orders.size(); ++i) {
            const std::complex<double> cd = coef[i].direct, cc = coef[i].conjugate;
            const std::size_t re = 2 * i * rows, im = (2 * i + 1) * rows;
            a[re + 2 * u] = static_cast<float>(root * (cd.real() + cc.real()));
            a[im + 2 * u] = static_cast<float>(root * (cc.imag() - cd.imag()));
            a[re + 2 * u + 1] = static_cast<float>(root * (cd.imag() + cc.imag()));
            a[im + 2 * u + 1] = static_cast<float>(root * (cd.real() - cc.real()));
          }
        }
        const float ridge = static_cast<float>(std::sqrt(kj));
        for (std::size_t p = 0; p < extra; ++p) a[p * rows + 2 * used.size() + p] = ridge;
      };
      std::vector<float> a, next;
      std::vector<std::size_t> used, next_used;
      std::int32_t nobs = 0, next_nobs = 0;
      design(j, a, used, nobs);
      std::size_t end = j + 1;
      while (end < g.r.size() && at_radius[end] == orders) {
        design(end, next, next_used, next_nobs);
        if (next != a || next_used != used) break;
        ++end;
      }
      if (used.empty()) {
        j = end;
        continue;
      }
      const std::int32_t nrhs = static_cast<std::int32_t>(end - j);
      const std::int32_t iabdim = std::max(nobs, nparm);
      const std::size_t rows = static_cast<std::size_t>(iabdim);
      std::vector<float> b(rows * static_cast<std::size_t>(nrhs), 0.0f), c(b.size(), 0.0f);
      for (std::size_t col = 0; col < static_cast<std::size_t>(nrhs); ++col)
        for (std::size_t u = 0; u < used.size(); ++u) {
          const Contribution& con = *sets[used[u]];
          const std::complex<float> v = con.value[g.offset + j + col];
          const double root = std::sqrt(double(con.place.weight)) * scale[used[u]];
          b[col * rows + 2 * u] = static_cast<float>(root * double(v.real()));
          b[col * rows + 2 * u + 1] = static_cast<float>(root * double(v.imag()));
        }
      const std::vector<float> data = b;
      const std::size_t np = static_cast<std::size_t>(nparm);
      std::vector<float> ata(np * np), atb(np * static_cast<std::size_t>(nrhs)), vec(np * np), val(np);
      std::vector<std::int32_t> ipoint(np);
      std::int32_t nfilt = 0;
      try {
        eigline::eigline(a, b, c, iabdim, nobs, nparm, nrhs, s.filter, nfilt, ata, atb, vec, val, ipoint, {});
      } catch (const records::ReadError& e) {
        throw records::ReadError(table, identity(k, g.nn, g.nl) + " at R = " + records::free_real(g.r[j]) +
                                            ": the least squares failed (" + e.what() + ")");
      }
      const std::size_t observed = 2 * used.size();
      for (std::size_t col = 0; col < static_cast<std::size_t>(nrhs); ++col) {
        const std::size_t jj = j + col;
        SampleFit& fit = out.fits[g.offset + jj];
        fit.source = k, fit.sample = jj;
        fit.orders = static_cast<std::int32_t>(orders.size());
        fit.directions = nparm, fit.kept = nfilt;
        fit.count = static_cast<std::int32_t>(used.size());
        std::vector<std::complex<double>> h(orders.size());
        bool finite = true;
        for (std::size_t i = 0; i < orders.size(); ++i) {
          h[i] = {double(c[col * rows + 2 * i]), double(c[col * rows + 2 * i + 1])};
          finite = finite && std::isfinite(h[i].real()) && std::isfinite(h[i].imag());
        }
        double rss = 0.0, total = 0.0;
        for (std::size_t o = 0; o < observed; ++o) {
          rss += double(b[col * rows + o]) * double(b[col * rows + o]);
          total += double(data[col * rows + o]) * double(data[col * rows + o]);
        }
        fit.rss = rss, fit.total = total;
        if (!finite) fit.kept = -1;  // nothing to trust: left out like an under-determined radius
        if (!fit.determined()) continue;
        // The spread of the data sets' phases about what the fit predicts for each view.
        double num = 0.0, den = 0.0;
        for (std::size_t u = 0; u < used.size(); ++u) {
          const Contribution& con = *sets[used[u]];
          const std::complex<double> v(con.value[g.offset + jj]);
          const std::complex<double> pred = predict(coefficients(orders, g, avg.repeat(), con.place), h);
          const double f = con.ctf.empty() ? 1.0 : double(con.ctf[g.offset + jj]);
          const double wt = double(con.place.weight) * scale[used[u]] * f * magnitude(v);
          const double dphi = phase_difference(scale[used[u]] * f * v, pred);
          const double amp = f * magnitude(pred);
          residual[2 * used[u]] += amp * phase_difference(v, pred) * phase_difference(v, pred);
          residual[2 * used[u] + 1] += amp;
          if (fit_sums) {
            (*fit_sums)[2 * used[u]] += f * magnitude(pred) * magnitude(v);
            (*fit_sums)[2 * used[u] + 1] += std::norm(v);
          }
          num += wt * dphi * dphi;
          den += wt;
        }
        fit.spread = den > 0.0 ? static_cast<float>(std::sqrt(num / den)) : 0.0f;
        const std::int32_t dof = static_cast<std::int32_t>(observed) - nparm;
        const double s2 = dof > 0 ? rss / double(dof) : 0.0;
        for (std::size_t line = first_line; line < out.lines.size(); ++line) {
          SeparatedLine& sl = out.lines[line];
          const auto at = std::find(orders.begin(), orders.end(), sl.nn);
          if (at == orders.end()) {
            sl.value[jj] = {0.0f, 0.0f};  // its J_n stays below the level within the particle here
            continue;
          }
          const std::size_t i = static_cast<std::size_t>(at - orders.begin());
          const double factor = equator && sl.nn > 0 ? 2.0 : 1.0;
          sl.value[jj] =
              std::complex<float>(static_cast<float>(factor * h[i].real()), static_cast<float>(factor * h[i].imag()));
          double var = 0.0;
          for (std::int32_t q = 0; q < nfilt; ++q) {
            const std::size_t e = static_cast<std::size_t>(ipoint[static_cast<std::size_t>(q)] - 1);
            const double vr = double(vec[e * np + 2 * i]), vi = double(vec[e * np + 2 * i + 1]);
            var += (vr * vr + vi * vi) / double(val[e]);
          }
          var *= s2;
          const double p = std::norm(h[i]);
          sl.fom[jj] = dof > 0 && p > 0.0 && std::isfinite(var) ? static_cast<float>(p / (p + var)) : 0.0f;
        }
      }
      j = end;
    }
  }
  for (std::size_t d = 0; d < sets.size(); ++d)
    out.residuals.push_back(
        residual[2 * d + 1] > 0.0 ? static_cast<float>(std::sqrt(residual[2 * d] / residual[2 * d + 1])) : 0.0f);
  return out;
}

}  // namespace

Separation separate(const Averager& avg, const SeparationSettings& s, std::int32_t half, const std::string& table,
                    const std::vector<double>& k) {
  std::vector<const Contribution*> sets;
  for (const Contribution& c : avg.contributions())
    if (half == 0 || c.place.half == half) sets.push_back(&c);
  // With one order everywhere the solution is the mean, with the mean's amplitude scales (each
  // data set's against the running average). Where orders mix, one view's amplitudes differ
  // from the mean's by more than its scale: the scales are then those of each data set against
  // what a first solution with scale 1 predicts for it.
  bool several = false;
  for (const LayerLineGrid& g : avg.grid())
    several = several || orders_with(s, g.nl, g.nn, g.r.empty() ? 0.0f : g.r.back()).size() > 1;
  std::vector<double> scale(sets.size(), 1.0);
  if (several) {
    std::vector<double> sums(2 * sets.size(), 0.0);
    solve(avg, s, sets, scale, k, table, &sums);
    for (std::size_t d = 0; d < sets.size(); ++d)
      if (sums[2 * d] > 0.0 && sums[2 * d + 1] > 0.0) scale[d] = sums[2 * d] / sums[2 * d + 1];
  } else {
    for (std::size_t d = 0; d < sets.size(); ++d) scale[d] = double(sets[d]->scale);
  }
  Separation out = solve(avg, s, sets, scale, k, table, nullptr);
  for (double c : scale) out.scales.push_back(static_cast<float>(c));
  return out;
}

void write_separated(std::ostream& out, const Separation& sep, const std::string& title) {
  for (const SeparatedLine& line : sep.lines) {
    std::vector<layerline::Point> pts;
    for (std::size_t j = 0; j < line.r.size(); ++j) {
      const std::complex<float> v = line.value[j];
      if (!present(v) || !std::isfinite(std::abs(v)) || (line.r[j] == 0.0f && !pts.empty())) continue;
      pts.push_back({line.r[j], std::abs(v), degrees(v)});
    }
    if (pts.empty()) pts.push_back({line.r.empty() ? 0.0f : line.r.front(), 0.0f, 0.0f});
    layerline::write_block(out, layerline::sidesplit_label(title, line.nl, true, line.ysp), line.block_weight, line.nn,
                           line.nl, pts);
  }
}

void write_separation_stats(std::ostream& out, const Averager& avg, const Separation& sep) {
  out << "block\tn\tl\tR\tamplitude\tphase\tfom\tcount\tspread\torders\tdirections\tkept\n";
  for (std::size_t b = 0; b < sep.lines.size(); ++b) {
    const SeparatedLine& line = sep.lines[b];
    const LayerLineGrid& g = avg.grid()[line.source];
    for (std::size_t j = 0; j < line.r.size(); ++j) {
      const SampleFit& fit = sep.fits[g.offset + j];
      if (fit.count == 0) continue;
      const std::complex<float> v = present(line.value[j]) ? line.value[j] : std::complex<float>{0.0f, 0.0f};
      out << (b + 1) << '\t' << line.nn << '\t' << line.nl << '\t' << records::free_real(line.r[j]) << '\t'
          << records::free_real(std::abs(v)) << '\t' << records::free_real(degrees(v)) << '\t'
          << records::free_real(line.fom[j]) << '\t' << fit.count << '\t' << records::free_real(fit.spread) << '\t'
          << fit.orders << '\t' << fit.directions << '\t' << std::max(fit.kept, 0) << '\n';
    }
  }
}

void write_separation_summary(std::ostream& out, const Averager& avg, const Separation& sep, const Separation& half1,
                              const Separation& half2, const SeparationSettings& s) {
  out << "\n orders separated by least squares: rule " << s.u << "/" << s.t << ", particle radius "
      << records::fixed_form(s.rmax, 7, 1) << " A, orders where |J_n(2 pi R r)| reaches "
      << records::fixed_form(s.level, 5, 3) << ", directions kept down to " << records::fixed_form(s.filter, 7, 4)
      << " of the best\n";
  out << " layer line    n    l  samples  R factor  orders\n";
  for (std::size_t k = 0; k < avg.grid().size(); ++k) {
    const LayerLineGrid& g = avg.grid()[k];
    std::string orders;
    for (const SeparatedLine& line : sep.lines)
      if (line.source == k) orders += (orders.empty() ? "" : " ") + std::to_string(line.nn);
    double rss = 0.0, total = 0.0;
    int n = 0;
    std::vector<std::pair<std::size_t, std::size_t>> bad;  // runs of under-determined radii
    for (std::size_t j = 0; j < g.r.size(); ++j) {
      const SampleFit& fit = sep.fits[g.offset + j];
      if (fit.count == 0) continue;
      if (!fit.determined()) {
        if (!bad.empty() && bad.back().second + 1 == j)
          bad.back().second = j;
        else
          bad.push_back({j, j});
        continue;
      }
      rss += fit.rss, total += fit.total;
      ++n;
    }
    out << records::int_form(static_cast<std::int64_t>(k + 1), 11) << records::int_form(g.nn, 5)
        << records::int_form(g.nl, 5) << records::int_form(n, 9)
        << records::fixed_form(total > 0.0 && std::isfinite(rss) ? static_cast<float>(std::sqrt(rss / total)) : 0.0f,
                               10, 4)
        << "  " << orders << '\n';
    for (const auto& [from, to] : bad) {
      const SampleFit& fit = sep.fits[g.offset + from];
      out << " under-determined: layer line " << g.nl << " (block " << (k + 1) << "), R "
          << records::free_real(g.r[from]) << " to " << records::free_real(g.r[to]) << ": " << std::max(fit.kept, 0)
          << " of " << fit.directions << " directions kept from " << fit.count << " data sets; left out\n";
    }
  }
  // Each data set against what the separated orders predict for its view.
  out << "\n data set half  weight    scale  residual against the separated orders' prediction\n";
  const std::vector<Contribution>& sets = avg.contributions();
  for (std::size_t d = 0; d < sets.size() && d < sep.scales.size() && d < sep.residuals.size(); ++d)
    out << records::int_form(static_cast<std::int64_t>(d + 1), 9) << records::int_form(sets[d].place.half, 5)
        << records::fixed_form(sets[d].place.weight, 8, 3) << records::fixed_form(sep.scales[d], 9, 4)
        << records::fixed_form(sep.residuals[d], 10, 2) << "  " << sets[d].name << '\n';

  // The two halves, each separated on its own, per shell of R as for the mean.
  constexpr int shells = 8;
  float rmax = 0.0f;
  for (const SeparatedLine& line : sep.lines)
    for (std::size_t j = 0; j < line.r.size(); ++j)
      if (present(line.value[j])) rmax = std::max(rmax, line.r[j]);
  double pw[shells] = {}, w[shells] = {}, cross[shells] = {}, n1[shells] = {}, n2[shells] = {};
  int count[shells] = {};
  for (std::size_t b = 0; b < half1.lines.size() && b < half2.lines.size(); ++b) {
    const SeparatedLine &l1 = half1.lines[b], &l2 = half2.lines[b];
    for (std::size_t j = 0; j < l1.r.size() && j < l2.r.size(); ++j) {
      const std::complex<double> a(l1.value[j]), c(l2.value[j]);
      if (std::isnan(a.real()) || std::isnan(c.real()) || !(rmax > 0.0f)) continue;
      const int sh = std::min(shells - 1, std::max(0, static_cast<int>(double(l1.r[j]) / double(rmax) * shells)));
      const double wt = (std::abs(a) + std::abs(c)) / 2.0;
      const double dp = phase_difference(a, c);
      pw[sh] += wt * dp * dp;
      w[sh] += wt;
      cross[sh] += (a * std::conj(c)).real();
      n1[sh] += std::norm(a);
      n2[sh] += std::norm(c);
      ++count[sh];
    }
  }
  out << "\n separated halves  R from      R to  resolution  samples  residual  correlation\n";
  for (int sh = 0; sh < shells; ++sh) {
    const float lo = rmax * static_cast<float>(sh) / shells, hi = rmax * static_cast<float>(sh + 1) / shells;
    const float res = w[sh] > 0.0 ? static_cast<float>(std::sqrt(pw[sh] / w[sh])) : 0.0f;
    const float cor = n1[sh] > 0.0 && n2[sh] > 0.0 ? static_cast<float>(cross[sh] / std::sqrt(n1[sh] * n2[sh])) : 0.0f;
    out << "          " << records::fixed_form(lo, 10, 5) << records::fixed_form(hi, 10, 5)
        << records::fixed_form(hi > 0.0f ? 1.0f / hi : 0.0f, 10, 1) << " A" << records::int_form(count[sh], 9)
        << records::fixed_form(res, 10, 2) << records::fixed_form(cor, 13, 4) << '\n';
  }
}

}  // namespace layermean
