#include "gridscan/modelfast.hpp"

#include <algorithm>
#include <cmath>

#include "gridscan/modellanes.hpp"

namespace gridscan {

FastModelKernel::FastModelKernel(phaselanes::Level level) : level_(level), lanes_(model_lanes_for(level)) {}

void FastModelKernel::set_tables(const ModelGrid& m, std::int32_t l, const PassGrid& g, std::int32_t nl) {
  Tables& t = tab_;
  const std::int32_t orders = m.orders(l);
  bool same = t.valid && t.orders == orders && t.nl == nl && t.nph == g.nph && t.nz == g.nz && t.phimin == g.phimin &&
              t.dphi == g.dphi && t.zcmin == g.zcmin && t.dzc == g.dzc;
  for (std::int32_t o = 0; same && o < orders; ++o) same = t.nn[static_cast<std::size_t>(o)] == m.order(l, o);
  if (same) return;
  t.valid = true;
  t.orders = orders;
  for (std::int32_t o = 0; o < orders; ++o) t.nn[static_cast<std::size_t>(o)] = m.order(l, o);
  t.nl = nl;
  t.nph = g.nph;
  t.nz = g.nz;
  t.phimin = g.phimin;
  t.dphi = g.dphi;
  t.zcmin = g.zcmin;
  t.dzc = g.dzc;
  t.phis = (g.nph + cell_pad - 1) / cell_pad * cell_pad;
  t.zcells = (g.nz + cell_pad - 1) / cell_pad * cell_pad;
  std::fill(t.ec.begin(), t.ec.end(), 0.0f);
  std::fill(t.es.begin(), t.es.end(), 0.0f);
  for (std::int32_t o = 0; o < orders; ++o)
    for (std::int32_t iph = 1; iph <= g.nph; ++iph) {
      const float angle = static_cast<float>(m.order(l, o)) * g.phi(iph) * radian;
      const auto at = static_cast<std::size_t>(o * model_stride + iph - 1);
      t.ec[at] = std::cos(angle);
      t.es[at] = std::sin(angle);
    }
  std::fill(t.delzed.begin(), t.delzed.end(), 0.0f);
  std::fill(t.cz.begin(), t.cz.end(), 0.0f);
  std::fill(t.sz.begin(), t.sz.end(), 0.0f);
  double reach = 0.0;
  for (std::int32_t iz = 1; iz <= g.nz; ++iz) {
    const float delzed = static_cast<float>(nl) * (static_cast<float>(iz - 1) * g.dzc + g.zcmin);
    const auto at = static_cast<std::size_t>(iz - 1);
    t.delzed[at] = delzed;
    t.cz[at] = std::cos(delzed * radian);
    t.sz[at] = std::sin(delzed * radian);
    reach = std::max(reach, std::fabs(static_cast<double>(delzed)));
  }
  // NaN reaches (from non-finite grids) fail every bound test, as they should.
  t.reach = std::isfinite(reach) ? reach : HUGE_VAL;
}

namespace {

// The sweep with the library remainder, for phase differences too large for the
// single-precision reduction.
void model_sweep_exact(const ModelBatch& b) {
  for (std::int32_t p = 0; p < b.nph; ++p)
    for (std::int32_t k = 0; k < b.count; ++k) {
      const std::int32_t at = k * model_stride + p;
      for (std::int32_t z = 0; z < b.zcells; ++z) {
        float del = std::fabs(b.delpsi[at] + b.delzed[z]);
        del = static_cast<float>(std::fmod(static_cast<double>(del), 360.0));
        if (del > 180.0f) del = 360.0f - del;
        b.r1[p * b.zcells + z] += del * b.fwt[k];
        const float a3 = b.a2[k] * b.cz[z] - b.b2[k] * b.sz[z];
        const float b3 = b.a2[k] * b.sz[z] + b.b2[k] * b.cz[z];
        b.r2[p * b.zcells + z] += (b.pa[at] - a3) * (b.pa[at] - a3) + (b.pb[at] - b3) * (b.pb[at] - b3);
      }
    }
}

}  // namespace

void FastModelKernel::accumulate(const ModelGrid& m, std::int32_t l, const OrderSigns& sign, const PassGrid& g,
                                 float fmean, std::span<const TestSample> samples, Accumulators& acc, ModelSums& ms) {
  if (samples.empty()) return;
  const std::int32_t orders = m.orders(l);
  // The model's cosines and sines, the same values the literal kernel computes per sample.
  for (std::int32_t o = 0; o < orders; ++o)
    for (std::int32_t j = 1; j <= nrmax; ++j) {
      const auto at = static_cast<std::size_t>(o * (nrmax + 1) + j);
      cos1_[at] = std::cos(m.psi(l, o, j) * radian);
      sin1_[at] = std::sin(m.psi(l, o, j) * radian);
    }
  set_tables(m, l, g, samples.front().nl);
  const Tables& t = tab_;
  ModelBatch b;
  b.orders = orders;
  b.kstride = batch;
  b.ca = ca_.data();
  b.cb = cb_.data();
  b.psi = psi_.data();
  b.f = f_.data();
  b.a2 = a2_.data();
  b.b2 = b2_.data();
  b.ec = t.ec.data();
  b.es = t.es.data();
  b.nph = g.nph;
  b.phis = t.phis;
  b.fmean2 = 2.0f * fmean;
  const float fmean2 = 2.0f * fmean;
  b.pa = pa_.data();
  b.pb = pb_.data();
  b.delpsi = delpsi_.data();
  b.fwt = fwt_.data();
  b.f1sum = f1sum_.data();
  b.delzed = t.delzed.data();
  b.cz = t.cz.data();
  b.sz = t.sz.data();
  b.zcells = t.zcells;
  b.r1 = r1_.data();
  b.r2 = r2_.data();

  for (std::size_t start = 0; start < samples.size(); start += batch) {
    const std::span<const TestSample> run =
        samples.subspan(start, std::min(samples.size() - start, static_cast<std::size_t>(batch)));
    for (std::int32_t irs = 1; irs <= g.nrs; ++irs) {
      // What each sample brings at this scale, worked out exactly as the literal kernel does.
      std::int32_t count = 0;
      for (const TestSample& s : run) {
        const float rrs = g.rsc(irs) * s.r / g.delbr + 1.0f;
        const std::int32_t j = truncate_index(rrs);
        if (j > nrmax - 1 || j < 1) continue;
        if (!m.present(l, j) || !m.present(l, j + 1)) continue;
        const float tt = rrs - static_cast<float>(j);
        const float u = 1.0f - tt;
        for (std::int32_t o = 0; o < orders; ++o) {
          const float fj = m.f(l, o, j), fk = m.f(l, o, j + 1);
          const auto oi = static_cast<std::size_t>(o);
          const auto at = static_cast<std::size_t>(o * (nrmax + 1) + j);
          const auto k = static_cast<std::size_t>(o * batch + count);
          ca_[k] = sign[oi] * (fj * cos1_[at] * u + fk * cos1_[at + 1] * tt);
          cb_[k] = sign[oi] * (fj * sin1_[at] * u + fk * sin1_[at + 1] * tt);
        }
        acc.f2sum(l, irs) += s.f;
        const auto k = static_cast<std::size_t>(count++);
        fwt_[k] = model_weight(&ca_[k], &cb_[k], orders, batch, s.f, fmean2);
        acc.points(irs) += fwt_[k];
        acc.xinc(irs) += s.wt;
        psi_[k] = s.psi;
        f_[k] = s.f;
        a2_[k] = s.a2;
        b2_[k] = s.b2;
      }
      if (count == 0) continue;
      b.count = count;

      // The prediction at every rotation, and the running sums that depend on it.
      std::fill(f1sum_.begin(), f1sum_.end(), 0.0f);
      for (std::int32_t iph = 1; iph <= g.nph; ++iph) f1sum_[static_cast<std::size_t>(iph - 1)] = ms.f1sum(l, iph, irs);
      lanes_.terms(b);
      double largest = 0.0;
      for (std::int32_t iph = 1; iph <= g.nph; ++iph) {
        ms.f1sum(l, iph, irs) = f1sum_[static_cast<std::size_t>(iph - 1)];
        for (std::int32_t k = 0; k < count; ++k)
          largest = std::max(
              largest, std::fabs(static_cast<double>(delpsi_[static_cast<std::size_t>(k * model_stride + iph - 1)])));
      }
      // NaN differences fail the bound and take the exact path, as they should.
      const bool small = largest + t.reach < 0.5 * static_cast<double>(phaselanes::mod360_exact_below);

      // Every grid point's two sums over the samples in order: gathered into rows, swept, put back.
      for (std::int32_t iph = 1; iph <= g.nph; ++iph) {
        const auto row = static_cast<std::size_t>((iph - 1) * t.zcells);
        for (std::int32_t iz = 1; iz <= g.nz; ++iz) {
          r1_[row + static_cast<std::size_t>(iz - 1)] = acc.resid(iph, iz, irs);
          r2_[row + static_cast<std::size_t>(iz - 1)] = acc.resid2(iph, iz, irs);
        }
      }
      if (small)
        lanes_.sweep(b);
      else
        model_sweep_exact(b);
      for (std::int32_t iph = 1; iph <= g.nph; ++iph) {
        const auto row = static_cast<std::size_t>((iph - 1) * t.zcells);
        for (std::int32_t iz = 1; iz <= g.nz; ++iz) {
          acc.resid(iph, iz, irs) = r1_[row + static_cast<std::size_t>(iz - 1)];
          acc.resid2(iph, iz, irs) = r2_[row + static_cast<std::size_t>(iz - 1)];
        }
      }
    }
  }
}

}  // namespace gridscan
