#include "curvematch/fastkernel.hpp"

#include <algorithm>
#include <cmath>

namespace curvematch {

namespace {

// Trials side by side in vectors of four lanes.
using phaselanes::abs_lanes;
using phaselanes::load;
using phaselanes::splat;
using phaselanes::store;
using phaselanes::vfloat;
using phaselanes::vlanes;
static_assert(FastScaleKernel::lanes % vlanes == 0);

// The square of the reduced phase difference of x: with r = |x| mod 360, the difference is r,
// or 360 - r when r > 180, and its sign does not matter once squared. 360 - r is below r
// exactly when r > 180.
vfloat reduced_square(vfloat x) {
  const vfloat r = phaselanes::mod360_lanes(abs_lanes(x));
  const vfloat other = 360.0f - r;
  const vfloat dp = other < r ? other : r;
  return dp * dp;
}

// fdsum of nvec vectors of trials (phi, zeta from index t0) over the compared samples in order.
template <std::int32_t nvec>
void sweep_small(const std::vector<float>& a, const std::vector<float>& diff,
                 std::span<const FastScaleKernel::Line> lines, const float* phi, const float* zeta, float* fdsum) {
  vfloat ph[nvec], ze[nvec], acc[nvec];
  for (std::int32_t v = 0; v < nvec; ++v) {
    ph[v] = load(phi + vlanes * v);
    ze[v] = load(zeta + vlanes * v);
    acc[v] = vfloat{};
  }
  for (const auto& line : lines) {
    vfloat phash[nvec];
    for (std::int32_t v = 0; v < nvec; ++v) phash[v] = line.n * ph[v] - line.l * ze[v];
    for (std::int32_t k = line.begin; k < line.end; ++k) {
      const vfloat ak = splat(a[static_cast<std::size_t>(k)]);
      const vfloat dk = splat(diff[static_cast<std::size_t>(k)]);
      // Unrolled, so that the sums stay in registers.
#pragma GCC unroll 8
      for (std::int32_t v = 0; v < nvec; ++v) acc[v] += ak * reduced_square(dk + phash[v]);
    }
  }
  for (std::int32_t v = 0; v < nvec; ++v) store(fdsum + vlanes * v, acc[v]);
}

}  // namespace

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
    const std::span<const Line> lines(lines_.data(), lines_.size());
    for (std::size_t t0 = 0; t0 < trials; t0 += lanes) {
      if (trials - t0 <= static_cast<std::size_t>(vlanes))
        sweep_small<1>(a_, diff_, lines, &phi_[t0], &zeta_[t0], &fdsum_[t0]);
      else
        sweep_small<lanes / vlanes>(a_, diff_, lines, &phi_[t0], &zeta_[t0], &fdsum_[t0]);
    }
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
    test_phase_tables(d, cos1_, sin1_);
    tabled_ = true;
  }
  rescale_test(d, rsc, rule, cos1_, sin1_);
}

}  // namespace curvematch
