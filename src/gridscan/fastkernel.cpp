#include "gridscan/fastkernel.hpp"

#include <algorithm>
#include <cmath>

namespace gridscan {

FastKernel::FastKernel(phaselanes::Level level) : terms_(nrscap), level_(level), sweep_(sweep_for(level)) {}

void FastKernel::accumulate(const ReferenceGrid& ref, std::int32_t l, const PassGrid& g, float fmean,
                            std::span<const TestSample> samples, Accumulators& acc) {
  if (samples.empty()) return;
  // The reference's cosines and sines, the same values the literal kernel computes per sample.
  for (std::int32_t j = 1; j <= nrmax; ++j) {
    if (ref.f1(l, j) == 0.0f) continue;  // never interpolated
    cos1_[static_cast<std::size_t>(j)] = std::cos(ref.psi1(l, j) * radian);
    sin1_[static_cast<std::size_t>(j)] = std::sin(ref.psi1(l, j) * radian);
  }
  std::size_t start = 0;
  while (start < samples.size()) {
    std::size_t end = start + 1;
    while (end < samples.size() && end - start < static_cast<std::size_t>(batch) &&
           samples[end].nn == samples[start].nn && samples[end].nl == samples[start].nl)
      ++end;
    accumulate_run(ref, l, g, fmean, samples.subspan(start, end - start), acc);
    start = end;
  }
}

void FastKernel::set_tables(const PassGrid& g, std::int32_t nn, std::int32_t nl) {
  Tables& t = tab_;
  if (t.valid && t.nn == nn && t.nl == nl && t.nph == g.nph && t.nz == g.nz && t.phimin == g.phimin &&
      t.dphi == g.dphi && t.zcmin == g.zcmin && t.dzc == g.dzc)
    return;
  t.valid = true;
  t.nn = nn;
  t.nl = nl;
  t.nph = g.nph;
  t.nz = g.nz;
  t.phimin = g.phimin;
  t.dphi = g.dphi;
  t.zcmin = g.zcmin;
  t.dzc = g.dzc;
  t.cells = (g.nph * g.nz + cell_pad - 1) / cell_pad * cell_pad;
  std::fill(t.delphi.begin(), t.delphi.end(), 0.0f);
  std::fill(t.delzed.begin(), t.delzed.end(), 0.0f);
  std::fill(t.cos.begin(), t.cos.end(), 0.0f);
  std::fill(t.sin.begin(), t.sin.end(), 0.0f);
  double maxphi = 0.0, maxzed = 0.0;
  for (std::int32_t iz = 1; iz <= g.nz; ++iz) {
    const float delzed = static_cast<float>(nl) * (static_cast<float>(iz - 1) * g.dzc + g.zcmin);
    maxzed = std::max(maxzed, std::fabs(static_cast<double>(delzed)));
    for (std::int32_t iph = 1; iph <= g.nph; ++iph) {
      const float delphi = static_cast<float>(nn) * g.phi(iph);
      maxphi = std::max(maxphi, std::fabs(static_cast<double>(delphi)));
      const auto c = static_cast<std::size_t>((iz - 1) * g.nph + (iph - 1));
      t.delphi[c] = delphi;
      t.delzed[c] = delzed;
      const float theta = (delzed - delphi) * radian;
      t.cos[c] = std::cos(theta);
      t.sin[c] = std::sin(theta);
    }
  }
  // NaN reaches (from non-finite grids) fail every bound test below, as they should.
  t.reach = maxphi + maxzed;
  if (!std::isfinite(t.reach)) t.reach = HUGE_VAL;
}

namespace {

// The sums of every cell with the library remainder, for phase differences too large for the
// single-precision reduction.
void sweep_exact(const CellSweep& s) {
  for (std::int32_t k = 0; k < s.count; ++k) {
    for (std::int32_t c = 0; c < s.cells; ++c) {
      float del = std::fabs(s.delpsi[k] + s.delzed[c] - s.delphi[c]);
      del = static_cast<float>(std::fmod(static_cast<double>(del), 360.0));
      if (del > 180.0f) del = 360.0f - del;
      s.r1[c] += del * s.fwt[k];
      const float a3 = s.a2[k] * s.cos[c] - s.b2[k] * s.sin[c];
      const float b3 = s.a2[k] * s.sin[c] + s.b2[k] * s.cos[c];
      s.r2[c] += (s.a1[k] - a3) * (s.a1[k] - a3) + (s.b1[k] - b3) * (s.b1[k] - b3);
    }
  }
}

}  // namespace

void FastKernel::accumulate_run(const ReferenceGrid& ref, std::int32_t l, const PassGrid& g, float fmean,
                                std::span<const TestSample> run, Accumulators& acc) {
  // What each sample brings to each radial scale, worked out exactly as the literal kernel does.
  for (std::int32_t irs = 1; irs <= g.nrs; ++irs) {
    terms_[static_cast<std::size_t>(irs - 1)].count = 0;
    terms_[static_cast<std::size_t>(irs - 1)].small = true;
  }
  set_tables(g, run.front().nn, run.front().nl);
  for (const TestSample& sm : run) {
    for (std::int32_t irs = 1; irs <= g.nrs; ++irs) {
      const float rrs = g.rsc(irs) * sm.r / g.delbr + 1.0f;
      const std::int32_t j = truncate_index(rrs);
      if (j > nrmax - 1 || j < 1) continue;
      const float f1j = ref.f1(l, j);
      const float f1k = ref.f1(l, j + 1);
      if (f1j == 0.0f || f1k == 0.0f) continue;
      const float t = rrs - static_cast<float>(j);
      const float u = 1.0f - t;
      const auto jj = static_cast<std::size_t>(j);
      const float a1 = f1j * cos1_[jj] * u + f1k * cos1_[jj + 1] * t;
      const float b1 = f1j * sin1_[jj] * u + f1k * sin1_[jj + 1] * t;
      const float ff1 = std::sqrt(a1 * a1 + b1 * b1);
      const float psi11 = std::atan2(b1, a1) * degree;
      acc.f1sum(l, irs) += ff1;
      acc.f2sum(l, irs) += sm.f;
      const float delpsi = sm.psi - psi11;
      const float fwt = (ff1 + sm.f) / (2.0f * fmean);
      acc.points(irs) += fwt;
      acc.xinc(irs) += sm.wt;

      ScaleTerms& st = terms_[static_cast<std::size_t>(irs - 1)];
      const auto k = static_cast<std::size_t>(st.count++);
      st.delpsi[k] = delpsi;
      st.fwt[k] = fwt;
      st.a1[k] = a1;
      st.b1[k] = b1;
      st.a2[k] = sm.a2;
      st.b2[k] = sm.b2;
      // A margin of a factor 2 covers the rounding of the two additions.
      if (!(std::fabs(static_cast<double>(delpsi)) + tab_.reach < 0.5 * static_cast<double>(mod360_exact_below)))
        st.small = false;
    }
  }

  // Every grid point's two sums, over the samples in order: the cells of a radial scale are
  // gathered into cell order, swept, and put back.
  const std::int32_t nph = g.nph;
  for (std::int32_t irs = 1; irs <= g.nrs; ++irs) {
    const ScaleTerms& st = terms_[static_cast<std::size_t>(irs - 1)];
    if (st.count == 0) continue;
    for (std::int32_t iz = 1; iz <= g.nz; ++iz) {
      const float* res1 = &acc.resid(1, iz, irs);
      const float* res2 = &acc.resid2(1, iz, irs);
      std::copy(res1, res1 + nph, &r1_[static_cast<std::size_t>((iz - 1) * nph)]);
      std::copy(res2, res2 + nph, &r2_[static_cast<std::size_t>((iz - 1) * nph)]);
    }
    const CellSweep s{st.delpsi.data(), st.fwt.data(), st.a1.data(),       st.b1.data(),       st.a2.data(),
                      st.b2.data(),     st.count,      tab_.delzed.data(), tab_.delphi.data(), tab_.cos.data(),
                      tab_.sin.data(),  tab_.cells,    r1_.data(),         r2_.data()};
    if (st.small)
      sweep_(s);
    else
      sweep_exact(s);
    for (std::int32_t iz = 1; iz <= g.nz; ++iz) {
      const float* c1 = &r1_[static_cast<std::size_t>((iz - 1) * nph)];
      const float* c2 = &r2_[static_cast<std::size_t>((iz - 1) * nph)];
      std::copy(c1, c1 + nph, &acc.resid(1, iz, irs));
      std::copy(c2, c2 + nph, &acc.resid2(1, iz, irs));
    }
  }
}

}  // namespace gridscan
