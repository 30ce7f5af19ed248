#include "gridscan/fastkernel.hpp"

#include <algorithm>
#include <cmath>

namespace gridscan {

FastKernel::FastKernel() : terms_(nrscap) {}

void FastKernel::accumulate(const ReferenceGrid& ref, std::int32_t l, const PassGrid& g, float fmean,
                            std::span<const TestSample> samples, Accumulators& acc) {
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
  double maxphi = 0.0, maxzed = 0.0;
  t.delphi.fill(0.0f);
  for (std::int32_t iph = 1; iph <= g.nph; ++iph) {
    const float delphi = static_cast<float>(nn) * g.phi(iph);
    t.delphi[static_cast<std::size_t>(iph - 1)] = delphi;
    maxphi = std::max(maxphi, std::fabs(static_cast<double>(delphi)));
  }
  for (std::int32_t iz = 1; iz <= g.nz; ++iz) {
    const float delzed = static_cast<float>(nl) * (static_cast<float>(iz - 1) * g.dzc + g.zcmin);
    t.delzed[static_cast<std::size_t>(iz - 1)] = delzed;
    maxzed = std::max(maxzed, std::fabs(static_cast<double>(delzed)));
    float* c = &t.cos[static_cast<std::size_t>(row * (iz - 1))];
    float* s = &t.sin[static_cast<std::size_t>(row * (iz - 1))];
    for (std::int32_t iph = 1; iph <= g.nph; ++iph) {
      const float theta = (delzed - t.delphi[static_cast<std::size_t>(iph - 1)]) * radian;
      c[iph - 1] = std::cos(theta);
      s[iph - 1] = std::sin(theta);
    }
  }
  // NaN reaches (from non-finite grids) fail every bound test below, as they should.
  t.reach = maxphi + maxzed;
  if (!std::isfinite(t.reach)) t.reach = HUGE_VAL;
}

namespace {

// Grid points side by side in vectors of four lanes; every lane keeps its own sums.
using phaselanes::abs_lanes;
using phaselanes::load;
using phaselanes::mod360_lanes;
using phaselanes::splat;
using phaselanes::store;
using phaselanes::vfloat;
using phaselanes::vlanes;
static_assert(FastKernel::lanes % vlanes == 0);

// The sums of one run of grid points of phi (one z, one radial scale; nv vectors of them) over
// the samples of a scale, with the phase difference reduced in single precision.
template <std::int32_t nvec>
void sweep_small(const float* delpsi, const float* fwt, const float* a1, const float* b1, const float* a2,
                 const float* b2, std::int32_t n, float delzed, const float* delphi, const float* c, const float* s,
                 float* r1out, float* r2out) {
  vfloat dp[nvec], cv[nvec], sv[nvec], r1[nvec], r2[nvec];
  for (std::int32_t v = 0; v < nvec; ++v) {
    dp[v] = load(delphi + vlanes * v);
    cv[v] = load(c + vlanes * v);
    sv[v] = load(s + vlanes * v);
    r1[v] = load(r1out + vlanes * v);
    r2[v] = load(r2out + vlanes * v);
  }
  for (std::int32_t k = 0; k < n; ++k) {
    const vfloat x0 = splat(delpsi[k] + delzed);
    const vfloat wk = splat(fwt[k]), a1k = splat(a1[k]), b1k = splat(b1[k]), a2k = splat(a2[k]), b2k = splat(b2[k]);
    // Unrolled, so that the sums stay in registers.
#pragma GCC unroll 8
    for (std::int32_t v = 0; v < nvec; ++v) {
      const vfloat rem = mod360_lanes(abs_lanes(x0 - dp[v]));
      // The fold into 0..180: for rem in 0..360, 360 - rem is below rem exactly when rem > 180.
      const vfloat other = 360.0f - rem;
      const vfloat del = other < rem ? other : rem;
      r1[v] += del * wk;
      const vfloat a3 = a2k * cv[v] - b2k * sv[v];
      const vfloat b3 = a2k * sv[v] + b2k * cv[v];
      r2[v] += (a1k - a3) * (a1k - a3) + (b1k - b3) * (b1k - b3);
    }
  }
  for (std::int32_t v = 0; v < nvec; ++v) {
    store(r1out + vlanes * v, r1[v]);
    store(r2out + vlanes * v, r2[v]);
  }
}

// The same with the library remainder, for phase differences too large for the reduction above.
void sweep_exact(const float* delpsi, const float* fwt, const float* a1, const float* b1, const float* a2,
                 const float* b2, std::int32_t n, float delzed, const float* delphi, const float* c, const float* s,
                 float* r1, float* r2) {
  constexpr std::int32_t w = FastKernel::lanes;
  for (std::int32_t k = 0; k < n; ++k) {
    const float x0 = delpsi[k] + delzed;
    for (std::int32_t i = 0; i < w; ++i) {
      float del = std::fabs(x0 - delphi[i]);
      del = static_cast<float>(std::fmod(static_cast<double>(del), 360.0));
      if (del > 180.0f) del = 360.0f - del;
      r1[i] += del * fwt[k];
      const float a3 = a2[k] * c[i] - b2[k] * s[i];
      const float b3 = a2[k] * s[i] + b2[k] * c[i];
      r2[i] += (a1[k] - a3) * (a1[k] - a3) + (b1[k] - b3) * (b1[k] - b3);
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
      const float a1 = f1j * std::cos(ref.psi1(l, j) * radian) * u + f1k * std::cos(ref.psi1(l, j + 1) * radian) * t;
      const float b1 = f1j * std::sin(ref.psi1(l, j) * radian) * u + f1k * std::sin(ref.psi1(l, j + 1) * radian) * t;
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

  // Every grid point's two sums, over the samples in order.
  for (std::int32_t irs = 1; irs <= g.nrs; ++irs) {
    const ScaleTerms& st = terms_[static_cast<std::size_t>(irs - 1)];
    if (st.count == 0) continue;
    for (std::int32_t iz = 1; iz <= g.nz; ++iz) {
      float* res1 = &acc.resid(1, iz, irs);
      float* res2 = &acc.resid2(1, iz, irs);
      const float delzed = tab_.delzed[static_cast<std::size_t>(iz - 1)];
      const float* c = &tab_.cos[static_cast<std::size_t>(row * (iz - 1))];
      const float* s = &tab_.sin[static_cast<std::size_t>(row * (iz - 1))];
      for (std::int32_t i0 = 0; i0 < g.nph; i0 += lanes) {
        const std::int32_t used = std::min(lanes, g.nph - i0);
        float r1[lanes] = {}, r2[lanes] = {};
        for (std::int32_t i = 0; i < used; ++i) {
          r1[i] = res1[i0 + i];
          r2[i] = res2[i0 + i];
        }
        // A last run of four grid points or fewer takes one vector.
        if (st.small && used <= vlanes)
          sweep_small<1>(st.delpsi.data(), st.fwt.data(), st.a1.data(), st.b1.data(), st.a2.data(), st.b2.data(),
                         st.count, delzed, &tab_.delphi[static_cast<std::size_t>(i0)], c + i0, s + i0, r1, r2);
        else if (st.small)
          sweep_small<lanes / vlanes>(st.delpsi.data(), st.fwt.data(), st.a1.data(), st.b1.data(), st.a2.data(),
                                      st.b2.data(), st.count, delzed, &tab_.delphi[static_cast<std::size_t>(i0)],
                                      c + i0, s + i0, r1, r2);
        else
          sweep_exact(st.delpsi.data(), st.fwt.data(), st.a1.data(), st.b1.data(), st.a2.data(), st.b2.data(), st.count,
                      delzed, &tab_.delphi[static_cast<std::size_t>(i0)], c + i0, s + i0, r1, r2);
        for (std::int32_t i = 0; i < used; ++i) {
          res1[i0 + i] = r1[i];
          res2[i0 + i] = r2[i];
        }
      }
    }
  }
}

}  // namespace gridscan
