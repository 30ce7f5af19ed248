#include "layermean/average.hpp"

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

Averager::Averager(float repeat, float delr, float wiener) : repeat_(repeat), delr_(delr), wiener_(double(wiener)) {}

void Averager::extend_grid(const std::string& name, const std::vector<layerline::Block>& blocks) {
  for (std::size_t k = grid_.size(); k < blocks.size(); ++k) {
    const layerline::Block& b = blocks[k];
    LayerLineGrid g;
    g.nn = b.header.nn;
    g.nl = b.header.nl;
    g.block_weight = b.header.scale;
    g.ysp = label_height(b.header.label);
    g.other_half = k > 0 && b.header.nn == 0 && b.header.nl != 0 && blocks[k - 1].header.nn == 0 &&
                   blocks[k - 1].header.nl == b.header.nl;
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

  // Least-squares amplitude scale against the running average: c minimises
  // sum (|A| - c |G|)^2 over the samples both have.
  if (!sets_.empty()) {
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
  const double wc = double(p.weight) * double(c.scale);
  std::vector<SampleSums>& half = p.half == 1 ? half1_ : half2_;
  for (std::size_t j = 0; j < total_; ++j) {
    if (!present(c.value[j])) continue;
    const std::complex<double> g(c.value[j]);
    const double f = weight_at(j);
    for (SampleSums* s : {&all_[j], &half[j]}) {
      s->sum += wc * f * g;
      s->weight += double(p.weight) * f * f;
      s->amp += wc * f * magnitude(g);
      s->count += 1;
    }
  }
  sets_.push_back(std::move(c));
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

double phase_difference(std::complex<double> a, std::complex<double> b) {
  // The phase of a conj(b), in -180..180: one arc tangent.
  const std::complex<double> q = a * std::conj(b);
  return std::atan2(q.imag(), q.real()) * 180.0 / pi;
}

double magnitude(std::complex<double> v) { return std::sqrt(std::norm(v)); }

}  // namespace layermean
