#include "layermean/average.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "helix/motion.hpp"
#include "records/error.hpp"
#include "records/numbers.hpp"

namespace layermean {

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr float flagged = -999.0f;  // an amplitude within a CTF zero band
// Most radii a layer line's grid may have with --delr.
constexpr double max_grid = 100000.0;
const std::complex<float> absent{std::numeric_limits<float>::quiet_NaN(), 0.0f};

bool present(std::complex<float> v) { return !std::isnan(v.real()); }

std::string identity(const layerline::BlockHeader& h) {
  return "(n " + std::to_string(h.nn) + ", l " + std::to_string(h.nl) + ")";
}

// The height in transform rows that sidesplit writes in columns 52-61 of the label.
float label_height(const std::string& label) {
  if (label.size() < 52) return 0.0f;
  const records::Parsed<float> p = records::parse_fixed_real(label.substr(51, 10), 3);
  return p.ok() ? p.value : 0.0f;
}

}  // namespace

Averager::Averager(float repeat, float delr, float wiener, bool from_halves)
    : repeat_(repeat), delr_(delr), wiener_(from_halves ? 0.0 : double(wiener)), from_halves_(from_halves) {}

void Averager::extend_grid(const std::string& name, const std::vector<layerline::Block>& blocks) {
  for (std::size_t k = grid_.size(); k < blocks.size(); ++k) {
    const layerline::Block& b = blocks[k];
    LayerLineGrid g;
    g.nn = b.header.nn;
    g.nl = b.header.nl;
    g.block_weight = b.header.scale;
    g.ysp = label_height(b.header.label);
    g.other_half = k > 0 && helix::second_meridional_block(blocks[k - 1].header.nn, blocks[k - 1].header.nl,
                                                           b.header.nn, b.header.nl);
    if (delr_ > 0.0f) {
      if (!b.points.empty()) {
        // Grid points within the block's radii; the radii are written to three digits, so a
        // radius within a thousandth of a step of a grid point counts as reaching it.
        const double lo = std::ceil(double(b.points.front().r) / double(delr_) - 1e-3);
        const double hi = std::floor(double(b.points.back().r) / double(delr_) + 1e-3);
        if (hi - lo >= double(max_grid))
          throw records::ReadError(name, b.header.label_line, 0, 0,
                                   "the radii of layer line " + std::to_string(k + 1) + " span more than " +
                                       std::to_string(max_grid) + " steps of --delr");
        for (double j = lo; j <= hi; j += 1.0) g.r.push_back(static_cast<float>(j) * delr_);
      }
    } else {
      for (const layerline::Point& p : b.points) g.r.push_back(p.r);
    }
    g.offset = total_;
    total_ += g.r.size();
    grid_.push_back(std::move(g));
  }
  all_.resize(total_);
  half1_.resize(total_);
  half2_.resize(total_);
}

std::vector<std::complex<float>> Averager::in_frame(const std::vector<layerline::Block>& blocks,
                                                    const Placement& p) const {
  std::vector<std::complex<float>> out(total_, absent);
  const double amp_factor = helix::amplitude_to_reference(p.rscale);
  const helix::Motion motion{p.phi, p.z, p.rscale, p.opposite};
  std::vector<std::complex<double>> v;
  std::vector<double> x;
  for (std::size_t k = 0; k < blocks.size(); ++k) {
    const layerline::Block& b = blocks[k];
    const LayerLineGrid& g = grid_[k];
    // The phase change of the block: back to the near side, then the motion undone.
    const double turn =
        helix::phase_to_reference(g.nn, g.nl, motion, repeat_, p.far ? helix::Side::Far : helix::Side::Near);
    v.assign(b.points.size(), {0.0, 0.0});
    x.assign(b.points.size(), 0.0);
    std::vector<bool> ok(b.points.size(), false);
    for (std::size_t i = 0; i < b.points.size(); ++i) {
      const layerline::Point& pt = b.points[i];
      x[i] = helix::reference_radius(pt.r, p.rscale);
      if (pt.amp == flagged || !std::isfinite(pt.amp) || !std::isfinite(pt.phase)) continue;
      const double psi = p.opposite ? -double(pt.phase) : double(pt.phase);
      const double angle = std::fmod(psi + turn, 360.0) * pi / 180.0;
      v[i] = std::polar(double(pt.amp) * amp_factor, angle);
      ok[i] = true;
    }
    // Linear interpolation of the complex values between the samples on either side of each
    // grid radius; a grid radius on a sample takes that sample alone.
    std::size_t i = 0;
    for (std::size_t j = 0; j < g.r.size(); ++j) {
      const double rho = double(g.r[j]);
      while (i + 1 < x.size() && x[i + 1] <= rho) ++i;
      if (i >= x.size()) break;
      std::complex<double> val;
      if (x[i] == rho) {
        if (!ok[i]) continue;
        val = v[i];
      } else {
        if (x[i] > rho || i + 1 >= x.size() || !ok[i] || !ok[i + 1] || !(x[i + 1] > x[i])) continue;
        const double t = (rho - x[i]) / (x[i + 1] - x[i]);
        val = v[i] * (1.0 - t) + v[i + 1] * t;
      }
      out[g.offset + j] = std::complex<float>(static_cast<float>(val.real()), static_cast<float>(val.imag()));
    }
  }
  return out;
}

std::vector<float> Averager::ctf_at_samples(const Placement& p) const {
  std::vector<float> out(total_, 0.0f);
  const ctf::Ctf c(p.ctf);
  for (const LayerLineGrid& g : grid_) {
    const double side = helix::x_sign(g.nn, p.far ? helix::Side::Far : helix::Side::Near, g.other_half);
    const double z = double(g.nl) / double(repeat_);
    for (std::size_t j = 0; j < g.r.size(); ++j)
      out[g.offset + j] = static_cast<float>(std::abs(c.value(side * double(g.r[j]) / double(p.rscale), z)));
  }
  return out;
}

void Averager::add(const std::string& name, const std::vector<layerline::Block>& blocks, const Placement& p) {
  if (sets_.empty()) first_name_ = name;
  for (std::size_t k = 0; k < blocks.size() && k < grid_.size(); ++k) {
    if (blocks[k].header.nn != grid_[k].nn || blocks[k].header.nl != grid_[k].nl)
      throw records::ReadError(name, blocks[k].header.label_line, 0, 0,
                               "layer line " + std::to_string(k + 1) + " is " + identity(blocks[k].header) + ", but " +
                                   first_name_ + " has (n " + std::to_string(grid_[k].nn) + ", l " +
                                   std::to_string(grid_[k].nl) +
                                   ") there: every data set must hold the same layer lines in the same order");
  }
  extend_grid(name, blocks);
  Contribution c;
  c.name = name;
  c.place = p;
  c.value = in_frame(blocks, p);
  if (p.has_ctf) c.ctf = ctf_at_samples(p);
  // |CTF| at sample j, 1 without the CTF (which leaves every sum as it was).
  auto weight_at = [&](std::size_t j) { return c.ctf.empty() ? 1.0 : double(c.ctf[j]); };

  // Least-squares amplitude scale against the running average (with k from the halves the
  // scales are fitted once all data sets are in: fit_scales_from_halves).
  if (!sets_.empty() && !from_halves_) {
    // c minimises sum (|CTF| |A| - c |g|)^2 over the samples both have.
    double num = 0.0, den = 0.0;
    for (std::size_t j = 0; j < total_; ++j) {
      // With the CTF the running average is sum/weight where the data sets so far carry the
      // sample (weight at least the constant 1/SNR), unbiased by the constant and never far
      // from the data; the new data set is compared as |CTF| times it.
      if (!present(c.value[j]) || all_[j].weight == 0.0 || all_[j].weight < wiener_) continue;
      const double g = magnitude(std::complex<double>(c.value[j]));
      num += magnitude(all_[j].sum) / all_[j].weight * weight_at(j) * g;
      den += g * g;
    }
    if (num > 0.0 && den > 0.0) c.scale = static_cast<float>(num / den);
  }
  accumulate(c);
  sets_.push_back(std::move(c));
}

void Averager::accumulate(const Contribution& c) {
  const double wc = double(c.place.weight) * double(c.scale);
  std::vector<SampleSums>& half = c.place.half == 1 ? half1_ : half2_;
  for (std::size_t j = 0; j < total_ && j < c.value.size(); ++j) {
    if (!present(c.value[j])) continue;
    const std::complex<double> g(c.value[j]);
    const double f = c.ctf.empty() ? 1.0 : double(c.ctf[j]);  // 1 without the CTF
    for (SampleSums* s : {&all_[j], &half[j]}) {
      s->sum += wc * f * g;
      s->weight += double(c.place.weight) * f * f;
      s->amp += wc * f * magnitude(g);
      s->count += 1;
    }
  }
}

void Averager::fit_scales_from_halves() {
  // Data set i of half h should hold |CTF| G / c_i plus noise. Against the other half's
  // CTF-weighted sum N_o (= S_o G plus noise that is not i's) and its own half's without it
  // (N_h', S_h'), at every sample
  //     E |CTF| S_h' Re(g conj N_o) = |CTF|^2 S_h' S_o |G|^2 / c_i,
  //     E |CTF|^2 Re(N_h' conj N_o) = |CTF|^2 S_h' S_o |G|^2,
  // so the ratio of their sums is c_i, and no data set's noise enters its own scale (in |g|^2
  // it would pull every scale down, further for each data set measured against those before
  // it). The halves' sums hold the scales being fitted: three rounds settle them; the first
  // data set keeps scale 1.
  for (int round = 0; round < 3; ++round) {
    std::vector<float> next(sets_.size(), 1.0f);
    for (std::size_t i = 0; i < sets_.size(); ++i) {
      const Contribution& c = sets_[i];
      const std::vector<SampleSums>& own = c.place.half == 1 ? half1_ : half2_;
      const std::vector<SampleSums>& other = c.place.half == 1 ? half2_ : half1_;
      const double wc = double(c.place.weight) * double(c.scale);
      double num = 0.0, den = 0.0;
      for (std::size_t j = 0; j < total_ && j < c.value.size(); ++j) {
        if (!present(c.value[j]) || other[j].count == 0) continue;
        const std::complex<double> g(c.value[j]);
        const double f = c.ctf.empty() ? 1.0 : double(c.ctf[j]);
        const std::complex<double> rest = own[j].sum - wc * f * g;
        const double rest_weight = own[j].weight - double(c.place.weight) * f * f;
        num += f * rest_weight * (g * std::conj(other[j].sum)).real();
        den += f * f * (rest * std::conj(other[j].sum)).real();
      }
      if (num > 0.0 && den > 0.0) next[i] = static_cast<float>(den / num);
    }
    const float first = next.empty() ? 1.0f : next.front();
    std::fill(all_.begin(), all_.end(), SampleSums{});
    std::fill(half1_.begin(), half1_.end(), SampleSums{});
    std::fill(half2_.begin(), half2_.end(), SampleSums{});
    for (std::size_t i = 0; i < sets_.size(); ++i) {
      sets_[i].scale = next[i] / first;
      accumulate(sets_[i]);
    }
  }
}

std::vector<std::complex<float>> mean_of(const std::vector<SampleSums>& sums, double wiener) {
  std::vector<std::complex<float>> out(sums.size(), absent);
  for (std::size_t j = 0; j < sums.size(); ++j) {
    if (sums[j].count == 0 || !(sums[j].weight + wiener > 0.0)) continue;
    const std::complex<double> m = sums[j].sum / (sums[j].weight + wiener);
    out[j] = std::complex<float>(static_cast<float>(m.real()), static_cast<float>(m.imag()));
  }
  return out;
}

std::vector<std::complex<float>> mean_of(const std::vector<SampleSums>& sums, const std::vector<double>& k) {
  std::vector<std::complex<float>> out(sums.size(), absent);
  for (std::size_t j = 0; j < sums.size() && j < k.size(); ++j) {
    if (sums[j].count == 0 || !(sums[j].weight + k[j] > 0.0)) continue;
    const std::complex<double> m = sums[j].sum / (sums[j].weight + k[j]);
    out[j] = std::complex<float>(static_cast<float>(m.real()), static_cast<float>(m.imag()));
  }
  return out;
}

double frequency(const LayerLineGrid& g, std::size_t j, float repeat) {
  const double z = double(g.nl) / double(repeat);
  return std::sqrt(double(g.r[j]) * double(g.r[j]) + z * z);
}

std::vector<WienerShell> wiener_shells(const Averager& avg, const std::string& name) {
  const std::vector<SampleSums>&h1 = avg.half_sums(1), &h2 = avg.half_sums(2);
  auto both = [&](std::size_t at) { return h1[at].count > 0 && h2[at].count > 0; };
  double smax = 0.0;
  std::size_t n = 0;
  for (const LayerLineGrid& g : avg.grid())
    for (std::size_t j = 0; j < g.r.size(); ++j)
      if (both(g.offset + j)) {
        smax = std::max(smax, frequency(g, j, avg.repeat()));
        ++n;
      }
  if (n == 0 || !(smax > 0.0))
    throw records::ReadError(name,
                             "the two halves share no sample: the signal-to-noise ratio that the CTF weights "
                             "follow cannot be estimated (give a constant with --wiener K)");
  const std::size_t count = std::clamp<std::size_t>((n + 50) / 100, 4, 24);
  std::vector<WienerShell> shells(count);
  // Per shell: sum Re N1 conj(N2), sum |N1|^2 + |N2|^2, sum S1 S2, sum S1^2 + S2^2, sum S1 + S2.
  std::vector<double> cross(count, 0.0), power(count, 0.0), n1(count, 0.0), n2(count, 0.0), ss(count, 0.0),
      sq(count, 0.0), sl(count, 0.0);
  for (const LayerLineGrid& g : avg.grid())
    for (std::size_t j = 0; j < g.r.size(); ++j) {
      const std::size_t at = g.offset + j;
      if (!both(at)) continue;
      const std::size_t k =
          std::min(count - 1, static_cast<std::size_t>(frequency(g, j, avg.repeat()) / smax * double(count)));
      const SampleSums &a = h1[at], &b = h2[at];
      cross[k] += (a.sum * std::conj(b.sum)).real();
      n1[k] += std::norm(a.sum);
      n2[k] += std::norm(b.sum);
      ss[k] += a.weight * b.weight;
      sq[k] += a.weight * a.weight + b.weight * b.weight;
      sl[k] += a.weight + b.weight;
      shells[k].samples += 1;
    }
  for (std::size_t k = 0; k < count; ++k) {
    WienerShell& w = shells[k];
    w.s_lo = smax * double(k) / double(count);
    w.s_hi = smax * double(k + 1) / double(count);
    if (n1[k] > 0.0 && n2[k] > 0.0) w.fsc = cross[k] / std::sqrt(n1[k] * n2[k]);
    const double signal = ss[k] > 0.0 ? std::max(0.0, cross[k] / ss[k]) : 0.0;
    const double noise = sl[k] > 0.0 ? (n1[k] + n2[k] - signal * sq[k]) / sl[k] : 0.0;
    if (signal <= 0.0) {
      w.snr = 0.0;
      w.k = wiener_most;
    } else if (noise <= 0.0) {
      w.snr = 1.0 / wiener_least;
      w.k = wiener_least;
    } else {
      w.snr = signal / noise;
      w.k = std::clamp(noise / signal, wiener_least, wiener_most);
    }
  }
  return shells;
}

std::vector<double> wiener_at_samples(const Averager& avg, const std::vector<WienerShell>& shells) {
  std::vector<double> centre, logk;
  for (const WienerShell& w : shells)
    if (w.samples > 0) {
      centre.push_back((w.s_lo + w.s_hi) / 2.0);
      logk.push_back(std::log(w.k));
    }
  std::vector<double> out(avg.samples(), avg.wiener());
  if (centre.empty()) return out;
  for (const LayerLineGrid& g : avg.grid())
    for (std::size_t j = 0; j < g.r.size(); ++j) {
      const double s = frequency(g, j, avg.repeat());
      std::size_t i = 0;
      while (i + 1 < centre.size() && centre[i + 1] <= s) ++i;
      double v = logk[i];
      if (s > centre[i] && i + 1 < centre.size())
        v += (logk[i + 1] - logk[i]) * (s - centre[i]) / (centre[i + 1] - centre[i]);
      out[g.offset + j] = std::exp(v);
    }
  return out;
}

double phase_difference(std::complex<double> a, std::complex<double> b) {
  // The phase of a conj(b), in -180..180: one arc tangent.
  const std::complex<double> q = a * std::conj(b);
  return std::atan2(q.imag(), q.real()) * 180.0 / pi;
}

double magnitude(std::complex<double> v) { return std::sqrt(std::norm(v)); }

}  // namespace layermean
