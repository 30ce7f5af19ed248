#include "gridscan/model.hpp"

#include <algorithm>
#include <cmath>
#include <optional>

#include "gridscan/modelfast.hpp"
#include "gridscan/modellanes.hpp"
#include "helix/sides.hpp"
#include "layerline/pointlist.hpp"
#include "records/error.hpp"

namespace gridscan {

OrderSigns order_signs(const ModelGrid& m, std::int32_t l, std::int32_t test_nn, bool far_side) {
  OrderSigns sign{};
  for (std::int32_t o = 0; o < m.orders(l); ++o)
    sign[static_cast<std::size_t>(o)] = static_cast<float>(
        helix::one_order_sign(m.order(l, o), test_nn, far_side ? helix::Side::Far : helix::Side::Near));
  return sign;
}

namespace {

float median_of(std::vector<float> v) {
  if (v.empty()) return 0.0f;
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// Where a point record of layer line l is filed: its grid index (the block's latest), and
// whether it is stored (on the grid, not flagged, within the resolution limit).
struct Filing {
  std::int32_t ir = 0;
  bool stored = false;
  bool within = false;
};

Filing file_point(const Control& c, const layerline::Point& p, std::int32_t nl) {
  Filing f;
  f.ir = truncate_index(p.r / c.delbr + 1.1f);
  f.within = c.within_resolution(p.r, nl);
  f.stored = !(f.ir > nrmax || f.ir < 1 || !c.uses(p.amp) || !f.within);
  return f;
}

}  // namespace

void load_model(records::LineSource& src, const Control& c, ReferenceGrid& ref, ModelGrid& m, ReportWriter& report) {
  layerline::PointListReader reader(src, layerline::EndOfBlockRule::RadiusZero);
  ref.sumf1 = 0.0f;
  ref.allpts = 0.0f;
  std::vector<float> steps;
  std::optional<layerline::Block> next = reader.read_block();
  for (std::int32_t l = 1; l <= c.llmax; ++l) {
    if (!next)
      throw records::ReadError(src.name(), src.line() + 1, 0, 0,
                               "end of file: the model holds " + std::to_string(l - 1) + " layer lines, " +
                                   std::to_string(c.llmax) + " expected (llmax)");
    const auto li = static_cast<std::size_t>(l - 1);
    const std::int32_t nl = next->header.nl;
    // The blocks of this layer line: the next block and those after it of the same number.
    std::vector<layerline::Block> blocks;
    while (next && next->header.nl == nl) {
      for (const layerline::Block& b : blocks)
        if (b.header.nn == next->header.nn)
          throw records::ReadError(src.name(), next->header.label_line, 0, 0,
                                   "order " + std::to_string(next->header.nn) + " of layer line " + std::to_string(nl) +
                                       " appears twice; a model holds each order of a layer line once");
      if (blocks.size() == static_cast<std::size_t>(ordcap))
        throw records::ReadError(src.name(), next->header.label_line, 0, 0,
                                 "layer line " + std::to_string(nl) + " holds more than " + std::to_string(ordcap) +
                                     " orders, at most " + std::to_string(ordcap) + " are supported");
      blocks.push_back(std::move(*next));
      next = reader.read_block();
    }
    const auto orders = static_cast<std::int32_t>(blocks.size());
    m.norders[li] = orders;
    ref.nn1[li] = blocks.front().header.nn;
    ref.nl1[li] = nl;
    for (std::int32_t j = 1; j <= nrmax; ++j) ref.f1(l, j) = 0.0f;
    bool any_within = c.smax == 0.0f;
    std::int32_t irmax = 0;
    float& f0sum = ref.f0sum[li];
    f0sum = 0.0f;
    float pts = 0.0f;
    for (std::int32_t o = 0; o < orders; ++o) {
      const layerline::Block& b = blocks[static_cast<std::size_t>(o)];
      m.nn[li][static_cast<std::size_t>(o)] = b.header.nn;
      if (b.points.size() >= 2)
        steps.push_back((b.points.back().r - b.points.front().r) / static_cast<float>(b.points.size() - 1));
      std::int32_t ir = 0;
      for (const layerline::Point& p : b.points) {
        if (c.iprint == 1) report.echo(p);
        const Filing fl = file_point(c, p, nl);
        ir = fl.ir;
        any_within = any_within || fl.within;
        if (!fl.stored) continue;
        const float f = p.amp * b.header.scale * c.wt(l);
        if (orders == 1) {
          // A later sample at the same grid point replaces the stored one; the sums keep both.
          ref.f1(l, ir) = f;
          ref.psi1(l, ir) = p.phase;
          f0sum += f;
          pts += c.wt(l);
        } else {
          m.f(l, o, ir) = f;
          m.psi(l, o, ir) = p.phase;
        }
      }
      irmax = std::max(irmax, ir);
    }
    if (orders > 1) {
      // Each grid point with a sample of some order counts once, at the root of the sum of the
      // orders' squared amplitudes.
      for (std::int32_t j = 1; j <= nrmax; ++j) {
        float ss = 0.0f;
        for (std::int32_t o = 0; o < orders; ++o) ss += m.f(l, o, j) * m.f(l, o, j);
        bool any = false;
        for (std::int32_t o = 0; o < orders; ++o) any = any || m.f(l, o, j) != 0.0f;
        if (!any) continue;
        m.set_present(l, j);
        f0sum += std::sqrt(ss);
        pts += c.wt(l);
      }
    }
    ref.beyond[li] = !any_within;
    ref.sumf1 += f0sum;
    ref.allpts += pts;
    if (pts > 0.0f) f0sum = f0sum / pts;
    ref.irmax[li] = irmax;
  }
  ref.spacing = median_of(steps);
}

void accumulate_model_sample_literal(const ModelGrid& m, std::int32_t l, const OrderSigns& sign, const PassGrid& g,
                                     float fmean, const TestSample& s, Accumulators& acc, ModelSums& ms) {
  const std::int32_t orders = m.orders(l);
  std::array<float, ordcap> ca{}, cb{};
  for (std::int32_t irs = 1; irs <= g.nrs; ++irs) {
    const float rrs = g.rsc(irs) * s.r / g.delbr + 1.0f;
    const std::int32_t j = truncate_index(rrs);
    if (j > nrmax - 1 || j < 1) continue;
    if (!m.present(l, j) || !m.present(l, j + 1)) continue;
    // Each order's value interpolated linearly as a complex value, on the test's side.
    const float t = rrs - static_cast<float>(j);
    const float u = 1.0f - t;
    for (std::int32_t o = 0; o < orders; ++o) {
      const float fj = m.f(l, o, j), fk = m.f(l, o, j + 1);
      const auto oi = static_cast<std::size_t>(o);
      ca[oi] = sign[oi] * (fj * std::cos(m.psi(l, o, j) * radian) * u + fk * std::cos(m.psi(l, o, j + 1) * radian) * t);
      cb[oi] = sign[oi] * (fj * std::sin(m.psi(l, o, j) * radian) * u + fk * std::sin(m.psi(l, o, j + 1) * radian) * t);
    }
    acc.f2sum(l, irs) += s.f;
    const float fwt = model_weight(ca.data(), cb.data(), orders, 1, s.f, 2.0f * fmean);
    acc.points(irs) += fwt;
    acc.xinc(irs) += s.wt;
    for (std::int32_t iph = 1; iph <= g.nph; ++iph) {
      // The model's prediction for the view turned by phi.
      float pa = 0.0f, pb = 0.0f;
      model_prediction<float>(
          ca.data(), cb.data(), orders, 1,
          [&](std::int32_t o, float& c, float& sn) {
            const float angle = static_cast<float>(m.order(l, o)) * g.phi(iph) * radian;
            c = std::cos(angle);
            sn = std::sin(angle);
          },
          pa, pb);
      float ff1 = 0.0f, delpsi = 0.0f;
      model_term<float>(pa, pb, s.psi, ff1, delpsi);
      ms.f1sum(l, iph, irs) += ff1;
      for (std::int32_t iz = 1; iz <= g.nz; ++iz) {
        const float delzed = static_cast<float>(s.nl) * (static_cast<float>(iz - 1) * g.dzc + g.zcmin);
        float del = std::fabs(delpsi + delzed);
        del = static_cast<float>(std::fmod(static_cast<double>(del), 360.0));
        if (del > 180.0f) del = 360.0f - del;
        acc.resid(iph, iz, irs) += del * fwt;
        // The test vector moved by the axial shift alone.
        const float theta = delzed * radian;
        const float a3 = s.a2 * std::cos(theta) - s.b2 * std::sin(theta);
        const float b3 = s.a2 * std::sin(theta) + s.b2 * std::cos(theta);
        acc.resid2(iph, iz, irs) += (pa - a3) * (pa - a3) + (pb - b3) * (pb - b3);
      }
    }
  }
}

void LiteralModelKernel::accumulate(const ModelGrid& m, std::int32_t l, const OrderSigns& sign, const PassGrid& g,
                                    float fmean, std::span<const TestSample> samples, Accumulators& acc,
                                    ModelSums& ms) {
  for (const TestSample& s : samples) accumulate_model_sample_literal(m, l, sign, g, fmean, s, acc, ms);
}

std::unique_ptr<ModelKernel> make_model_kernel(KernelChoice choice) {
  const std::optional<phaselanes::Level> level = kernel_level(choice);
  if (!level) return std::make_unique<LiteralModelKernel>();
  return std::make_unique<FastModelKernel>(*level);
}

void add_uncovered_model(const ModelGrid& m, std::int32_t l, std::int32_t irmax, std::int32_t irlast, float wt,
                         const PassGrid& g, float fmean, Accumulators& acc) {
  const std::int32_t orders = m.orders(l);
  add_uncovered_samples(irmax, irlast, wt, g, fmean, acc, [&](std::int32_t j) {
    if (!m.present(l, j)) return -1.0f;
    // The mean squared amplitude of the prediction over every rotation: the same penalty at
    // every trial, as for a layer line of one order.
    float s = 0.0f;
    for (std::int32_t o = 0; o < orders; ++o) s += m.f(l, o, j) * m.f(l, o, j);
    return s;
  });
}

}  // namespace gridscan
