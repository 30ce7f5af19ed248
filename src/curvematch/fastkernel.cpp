#include "curvematch/fastkernel.hpp"

#include <algorithm>
#include <bit>
#include <cmath>

namespace curvematch {

TrialScore FastScaleKernel::score_scale(const DataSets& d, std::span<const float> phis, std::span<const float> zetas,
                                        std::span<float> res) {
  const std::size_t trials = phis.size() * zetas.size();
  if (trials == 0) return TrialScore{};

  // The compared samples, in layer-line order and within a layer line in sample order.
  a_.clear();
  diff_.clear();
  a2_.clear();
  lines_.clear();
  double maxdiff = 0.0, maxn = 0.0, maxl = 0.0;
  for (std::int32_t l = 1; l <= d.llmax; ++l) {
    const float* a = d.a.row(l);
    const float* p = d.p.row(l);
    const float* a2 = d.a2.row(l);
    const float* p2 = d.p2.row(l);
    Line line;
    line.begin = static_cast<std::int32_t>(a_.size());
    for (std::int32_t ir = d.first2(l); ir <= d.last2(l); ++ir) {
      if (a[ir] < d.amin) continue;
      a_.push_back(a[ir]);
      diff_.push_back(p[ir] - p2[ir]);
      a2_.push_back(a2[ir]);
      maxdiff = std::max(maxdiff, std::fabs(static_cast<double>(diff_.back())));
      // A NaN difference makes the bound below fail.
      if (std::isnan(diff_.back())) maxdiff = HUGE_VAL;
    }
    line.end = static_cast<std::int32_t>(a_.size());
    if (line.end == line.begin) continue;
    line.n = static_cast<float>(d.in[static_cast<std::size_t>(l)]);
    line.l = static_cast<float>(d.inl[static_cast<std::size_t>(l)]);
    maxn = std::max(maxn, std::fabs(static_cast<double>(line.n)));
    maxl = std::max(maxl, std::fabs(static_cast<double>(line.l)));
    lines_.push_back(line);
  }

  // The sums of the radial scale, each in the order of the literal trial.
  TrialScore s;
  for (std::size_t k = 0; k < a_.size(); ++k) {
    s.fsum += a_[k];
    s.f2sum += a2_[k];
    s.npts += 1;
  }
  s.sf = s.fsum / s.f2sum;
  for (std::size_t k = 0; k < a_.size(); ++k) s.fdiff += std::fabs(a_[k] - s.sf * a2_[k]);
  s.rf = s.fdiff / s.fsum;

  // The trials, z outer and phi inner, padded with zeros to whole vectors.
  const std::size_t padded = (trials + lanes - 1) / lanes * lanes;
  phi_.assign(padded, 0.0f);
  zeta_.assign(padded, 0.0f);
  fdsum_.assign(padded, 0.0f);
  double maxphi = 0.0, maxzeta = 0.0;
  for (std::size_t t = 0; t < trials; ++t) {
    phi_[t] = phis[t % phis.size()];
    zeta_[t] = zetas[t / phis.size()];
    maxphi = std::max(maxphi, std::fabs(static_cast<double>(phi_[t])));
    maxzeta = std::max(maxzeta, std::fabs(static_cast<double>(zeta_[t])));
  }
  // A margin of a factor 2 covers the rounding of phash and of the addition to it.
  const bool small = maxdiff + maxn * maxphi + maxl * maxzeta < 0.5 * static_cast<double>(mod360_exact_below);

  if (small) {
    sweep_(TrialSweep{a_.data(), diff_.data(), lines_.data(), static_cast<std::int32_t>(lines_.size()), phi_.data(),
                      zeta_.data(), static_cast<std::int32_t>(padded), fdsum_.data()});
  } else {
    // Phase differences too large for the single-precision reduction: the library remainder.
    for (std::size_t t = 0; t < trials; ++t) {
      float fdsum = 0.0f;
      for (const Line& line : lines_) {
        const float phash = line.n * phi_[t] - line.l * zeta_[t];
        for (std::int32_t k = line.begin; k < line.end; ++k) {
          const float dp = reduce_phase_difference(diff_[static_cast<std::size_t>(k)] + phash);
          fdsum += a_[static_cast<std::size_t>(k)] * (dp * dp);
        }
      }
      fdsum_[t] = fdsum;
    }
  }

  for (std::size_t t = 0; t < trials; ++t) res[t] = std::sqrt(fdsum_[t] / s.fsum);
  s.fdsum = fdsum_[trials - 1];
  s.res = res[trials - 1];
  return s;
}

void FastScaleKernel::rescale(DataSets& d, float rsc, RescaleRule rule) {
  if (!tabled_) {
    test_phase_tables(d, ac_, as_);
    tabled_ = true;
  }
  // Only the interpolated rule is kept: it writes targets ismin..ismax and nothing else, so
  // those are all there is to restore. (The truncated walk can also write below ismin, where
  // what it leaves depends on the scales before.)
  const auto bits = std::bit_cast<std::uint32_t>(rsc);
  if (rule == RescaleRule::interpolated)
    for (const Rescaled& r : rescaled_)
      if (r.rsc_bits == bits) {
        for (std::int32_t l = 1; l <= d.llmax; ++l) {
          std::copy(r.a2.row(l) + d.ismin, r.a2.row(l) + d.ismax + 1, d.a2.row(l) + d.ismin);
          std::copy(r.p2.row(l) + d.ismin, r.p2.row(l) + d.ismax + 1, d.p2.row(l) + d.ismin);
        }
        d.a2_first = r.first;
        d.a2_last = r.last;
        return;
      }
  rescale_test(d, rsc, rule, ac_, as_, level_);
  const std::size_t bytes =
      2 * sizeof(float) * static_cast<std::size_t>(d.a2.rows()) * static_cast<std::size_t>(d.a2.cols());
  if (rule != RescaleRule::interpolated || bytes > cache_bytes) return;
  while (!rescaled_.empty() && (rescaled_.size() + 1) * bytes > cache_bytes) rescaled_.erase(rescaled_.begin());
  rescaled_.push_back(Rescaled{bits, d.a2, d.p2, d.a2_first, d.a2_last});
}

}  // namespace curvematch
