#include "layermean/output.hpp"

#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "records/error.hpp"
#include "records/forms.hpp"

namespace layermean {

namespace {

bool present(std::complex<float> v) { return !std::isnan(v.real()); }

float degrees(std::complex<float> v) {
  return static_cast<float>(std::atan2(double(v.imag()), double(v.real())) * 180.0 / 3.14159265358979323846);
}

std::string tab_real(float v) { return "\t" + records::free_real(v); }

}  // namespace

PendingFile::PendingFile(std::string path) : path_(std::move(path)) {
  const std::filesystem::path p(path_);
  const std::filesystem::path folder = p.has_parent_path() ? p.parent_path() : std::filesystem::path(".");
  std::string pattern = (folder / ("." + p.filename().string() + ".XXXXXX")).string();
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) throw records::ReadError(path_, std::string("cannot be created (") + std::strerror(errno) + ")");
  ::close(fd);
  temp_ = pattern;
  out_.open(temp_, std::ios::binary | std::ios::trunc);
  if (!out_) {
    std::remove(temp_.c_str());
    throw records::ReadError(path_, "cannot be created");
  }
}

PendingFile::~PendingFile() {
  if (!committed_) {
    out_.close();
    std::remove(temp_.c_str());
  }
}

void PendingFile::close() {
  out_.close();
  if (!out_) throw records::ReadError(path_, "could not be written in full");
}

void PendingFile::commit() {
  if (std::rename(temp_.c_str(), path_.c_str()) != 0)
    throw records::ReadError(path_, std::string("cannot be put in place (") + std::strerror(errno) + ")");
  committed_ = true;
}

void write_average(std::ostream& out, const std::vector<LayerLineGrid>& grid,
                   const std::vector<std::complex<float>>& mean, const std::string& title) {
  for (const LayerLineGrid& g : grid) {
    std::vector<layerline::Point> pts;
    for (std::size_t j = 0; j < g.r.size(); ++j) {
      const std::complex<float> v = mean[g.offset + j];
      // A radius of 0 after the first point would end the block for gridscan's reader.
      if (!present(v) || (g.r[j] == 0.0f && !pts.empty())) continue;
      pts.push_back({g.r[j], std::abs(v), degrees(v)});
    }
    // A block needs one point to be readable: a layer line no data set reached gets its first
    // radius at amplitude 0.
    if (pts.empty()) pts.push_back({g.r.empty() ? 0.0f : g.r.front(), 0.0f, 0.0f});
    layerline::write_block(out, layerline::sidesplit_label(title, g.nl, true, g.ysp), g.block_weight, g.nn, g.nl, pts);
  }
}

void write_stats(std::ostream& out, const Averager& avg, const std::vector<std::complex<float>>& mean) {
  // The spread: sqrt(sum w c|G| dphi^2 / sum w c|G|) over the data sets at each sample (with
  // the CTF each term also weighted by |CTF|).
  std::vector<double> spread(avg.samples(), 0.0);
  for (const Contribution& c : avg.contributions()) {
    const double wc = double(c.place.weight) * double(c.scale);
    for (std::size_t j = 0; j < c.value.size(); ++j) {
      if (!present(c.value[j]) || !present(mean[j])) continue;
      const double d = phase_difference(std::complex<double>(c.value[j]), std::complex<double>(mean[j]));
      const double f = c.ctf.empty() ? 1.0 : double(c.ctf[j]);
      spread[j] += wc * f * magnitude(std::complex<double>(c.value[j])) * d * d;
    }
  }
  out << "block\tn\tl\tR\tamplitude\tphase\tfom\tcount\tspread\n";
  const std::vector<SampleSums>& sums = avg.sums();
  for (std::size_t k = 0; k < avg.grid().size(); ++k) {
    const LayerLineGrid& g = avg.grid()[k];
    for (std::size_t j = 0; j < g.r.size(); ++j) {
      const std::size_t at = g.offset + j;
      if (sums[at].count == 0) continue;
      const double fom = sums[at].amp > 0.0 ? std::abs(sums[at].sum) / sums[at].amp : 0.0;
      const double sp = sums[at].amp > 0.0 ? std::sqrt(spread[at] / sums[at].amp) : 0.0;
      out << (k + 1) << '\t' << g.nn << '\t' << g.nl << '\t' << records::free_real(g.r[j])
          << tab_real(std::abs(mean[at])) << tab_real(degrees(mean[at])) << tab_real(static_cast<float>(fom)) << '\t'
          << sums[at].count << tab_real(static_cast<float>(sp)) << '\n';
    }
  }
}

double phase_residual(const std::vector<std::complex<float>>& values,
                      const std::vector<std::complex<float>>& reference) {
  double num = 0.0, den = 0.0;
  for (std::size_t j = 0; j < values.size() && j < reference.size(); ++j) {
    if (!present(values[j]) || !present(reference[j])) continue;
    const double a = magnitude(std::complex<double>(reference[j]));
    const double d = phase_difference(std::complex<double>(values[j]), std::complex<double>(reference[j]));
    num += a * d * d;
    den += a;
  }
  return den > 0.0 ? std::sqrt(num / den) : std::nan("");
}

void write_summary(std::ostream& out, const Averager& avg, const std::vector<std::complex<float>>& mean,
                   const Weighting& wk, int left_out, int skipped, const std::string& table) {
  const std::vector<Contribution>& sets = avg.contributions();
  out << " layermean: " << sets.size() << " data sets from " << table << " averaged; " << left_out
      << " rows left out by their status, " << skipped << " missing files skipped\n";
  if (!sets.empty() && !sets.front().ctf.empty() && wk.shells.empty())
    out << " CTF-weighted: sum w c |CTF| G / (sum w CTF^2 + "
        << records::fixed_form(static_cast<float>(avg.wiener()), 8, 4) << ")\n";
  if (!wk.shells.empty()) {
    out << " CTF-weighted: sum w c |CTF| G / (sum w CTF^2 + k(s)), k = 1/SNR of one data set, from the halves\n"
        << "\n wiener    s from      s to  resolution  samples  halves FSC         SNR           k\n";
    for (const WienerShell& w : wk.shells)
      out << "       " << records::fixed_form(static_cast<float>(w.s_lo), 10, 5)
          << records::fixed_form(static_cast<float>(w.s_hi), 10, 5)
          << records::fixed_form(w.s_hi > 0.0 ? static_cast<float>(1.0 / w.s_hi) : 0.0f, 10, 1) << " A"
          << records::int_form(w.samples, 9) << records::fixed_form(static_cast<float>(w.fsc), 12, 4)
          << records::exp_form(static_cast<float>(w.snr), 12, 4) << records::exp_form(static_cast<float>(w.k), 12, 4)
          << '\n';
  }
  out << "\n data set half  weight    scale  residual  file\n";
  for (std::size_t i = 0; i < sets.size(); ++i) {
    const Contribution& c = sets[i];
    out << records::int_form(static_cast<std::int64_t>(i + 1), 9) << records::int_form(c.place.half, 5)
        << records::fixed_form(c.place.weight, 8, 3) << records::fixed_form(c.scale, 9, 4)
        << records::fixed_form(static_cast<float>(phase_residual(c.value, mean)), 10, 2) << "  " << c.name
        << (c.place.opposite ? "  (opposite polarity)" : "") << '\n';
  }

  out << "\n layer line    n    l  samples  mean FOM\n";
  const std::vector<SampleSums>& sums = avg.sums();
  float rmax = 0.0f;
  for (std::size_t k = 0; k < avg.grid().size(); ++k) {
    const LayerLineGrid& g = avg.grid()[k];
    double fom = 0.0;
    int n = 0;
    for (std::size_t j = 0; j < g.r.size(); ++j) {
      const SampleSums& s = sums[g.offset + j];
      if (s.count == 0) continue;
      fom += s.amp > 0.0 ? std::abs(s.sum) / s.amp : 0.0;
      ++n;
      if (g.r[j] > rmax) rmax = g.r[j];
    }
    out << records::int_form(static_cast<std::int64_t>(k + 1), 11) << records::int_form(g.nn, 5)
        << records::int_form(g.nl, 5) << records::int_form(n, 9)
        << records::fixed_form(n > 0 ? static_cast<float>(fom / n) : 0.0f, 10, 3) << '\n';
  }

  // The two halves per shell of R (eight shells of equal width up to the largest radius):
  // their amplitude-weighted phase residual, weights (|A1| + |A2|)/2, and their correlation
  // Re sum A1 conj(A2) / sqrt(sum |A1|^2 sum |A2|^2).
  constexpr int shells = 8;
  const std::vector<std::complex<float>> h1 = wk.shells.empty() ? mean_of(avg.half_sums(1), avg.wiener())
                                                                : mean_of(avg.half_sums(1), wk.per_sample),
                                         h2 = wk.shells.empty() ? mean_of(avg.half_sums(2), avg.wiener())
                                                                : mean_of(avg.half_sums(2), wk.per_sample);
  double pw[shells] = {}, w[shells] = {}, cross[shells] = {}, n1[shells] = {}, n2[shells] = {};
  int count[shells] = {};
  for (const LayerLineGrid& g : avg.grid()) {
    for (std::size_t j = 0; j < g.r.size(); ++j) {
      const std::complex<double> a(h1[g.offset + j]), b(h2[g.offset + j]);
      if (std::isnan(a.real()) || std::isnan(b.real()) || !(rmax > 0.0f)) continue;
      const int s = std::min(shells - 1, std::max(0, static_cast<int>(double(g.r[j]) / double(rmax) * shells)));
      const double wt = (std::abs(a) + std::abs(b)) / 2.0;
      const double d = phase_difference(a, b);
      pw[s] += wt * d * d;
      w[s] += wt;
      cross[s] += (a * std::conj(b)).real();
      n1[s] += std::norm(a);
      n2[s] += std::norm(b);
      ++count[s];
    }
  }
  out << "\n halves    R from      R to  resolution  samples  residual  correlation\n";
  for (int s = 0; s < shells; ++s) {
    const float lo = rmax * static_cast<float>(s) / shells, hi = rmax * static_cast<float>(s + 1) / shells;
    const float res = w[s] > 0.0 ? static_cast<float>(std::sqrt(pw[s] / w[s])) : 0.0f;
    const float cor = n1[s] > 0.0 && n2[s] > 0.0 ? static_cast<float>(cross[s] / std::sqrt(n1[s] * n2[s])) : 0.0f;
    out << "       " << records::fixed_form(lo, 10, 5) << records::fixed_form(hi, 10, 5)
        << records::fixed_form(hi > 0.0f ? 1.0f / hi : 0.0f, 10, 1) << " A" << records::int_form(count[s], 9)
        << records::fixed_form(res, 10, 2) << records::fixed_form(cor, 13, 4) << '\n';
  }
}

}  // namespace layermean
