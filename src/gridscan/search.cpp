#include "gridscan/search.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "helix/sides.hpp"
#include "records/error.hpp"
#include "records/forms.hpp"

namespace gridscan {

PassGrid make_grid(float phimin, float phimax, float dphi, float zmin, float zmax, float dzed, float rscmin,
                   float rscmax, float drsc, float recc, float delbr) {
  PassGrid g;
  g.phimin = phimin;
  g.phimax = phimax;
  g.dphi = dphi;
  g.zmin = zmin;
  g.zmax = zmax;
  g.dzed = dzed;
  g.rscmin = rscmin;
  g.rscmax = rscmax;
  g.drsc = drsc;
  g.nph = std::min(truncate_index((phimax - phimin) / dphi + 1.1f), nphcap);
  g.nz = std::min(truncate_index((zmax - zmin) / dzed + 1.1f), nzcap);
  g.nrs = std::min(truncate_index((rscmax - rscmin) / drsc + 1.1f), nrscap);
  for (std::int32_t iz = 1; iz <= g.nz; ++iz)
    g.delz[static_cast<std::size_t>(iz - 1)] = static_cast<float>(iz - 1) * dzed + zmin;
  g.zcmin = 360.0f * zmin * recc;
  g.dzc = 360.0f * dzed * recc;
  g.delbr = delbr;
  return g;
}

PassGrid first_pass_grid(float recc, float delbr) {
  return make_grid(-13.0f, 13.0f, 1.0f, -45.0f, 45.0f, 1.0f, 0.97f, 1.02f, 0.01f, recc, delbr);
}

PassGrid later_pass_grid(const SearchState& st, float recc, float delbr) {
  const float rscmin = st.rsc0 - 0.03f;
  return make_grid(st.phi0 - 2.5f, st.phi0 + 2.5f, 0.5f, st.z0 - 2.5f, st.z0 + 2.5f, 0.5f, rscmin, rscmin + 0.05f,
                   0.01f, recc, delbr);
}

PassGrid opening_grid(const Control& c) {
  if (!c.around) return first_pass_grid(c.recc, c.delbr);
  SearchState centre;
  centre.phi0 = c.around->phi;
  centre.z0 = c.around->z;
  centre.rsc0 = c.around->rscale;
  return later_pass_grid(centre, c.recc, c.delbr);
}

TestSample prepare_test_sample(const layerline::Point& p, float scale, float wt, std::int32_t nn, std::int32_t nl,
                               std::int32_t iside, std::int32_t ipole) {
  TestSample s;
  s.r = p.r;
  s.psi = helix::phase_as_near(p.phase, nn, iside == 1, ipole == 1);
  s.f = p.amp * scale * wt;
  s.a2 = s.f * std::cos(s.psi * radian);
  s.b2 = s.f * std::sin(s.psi * radian);
  s.wt = wt;
  s.nn = nn;
  s.nl = nl;
  return s;
}

void add_uncovered(const ReferenceGrid& ref, std::int32_t l, std::int32_t irlast, float wt, const PassGrid& g,
                   float fmean, Accumulators& acc) {
  add_uncovered_samples(ref.irmax[static_cast<std::size_t>(l - 1)], irlast, wt, g, fmean, acc, [&](std::int32_t j) {
    if (ref.f1(l, j) == 0.0f) return -1.0f;
    const float a1 = ref.f1(l, j) * std::cos(ref.psi1(l, j) * radian);
    const float b1 = ref.f1(l, j) * std::sin(ref.psi1(l, j) * radian);
    return a1 * a1 + b1 * b1;
  });
}

void read_test_pass(records::LineSource& test, const Control& c, const ReferenceGrid& ref, const PassGrid& g,
                    float fmean, Accumulators& acc, SearchState& st, ReportWriter& report, BlockKernel& kernel,
                    ModelPass* model) {
  layerline::PointListReader reader(test, layerline::EndOfBlockRule::RadiusZero);
  // Samples wait here until their block ends, at most block_batch of them.
  constexpr std::size_t block_batch = 1024;
  std::vector<TestSample> samples;
  samples.reserve(block_batch);
  for (std::int32_t l = 1; l <= c.llmax; ++l) {
    for (std::int32_t irs = 1; irs <= g.nrs; ++irs) {
      acc.f1sum(l, irs) = 0.0f;
      acc.f2sum(l, irs) = 0.0f;
      if (model)
        for (std::int32_t iph = 1; iph <= g.nph; ++iph) model->sums.f1sum(l, iph, irs) = 0.0f;
    }
    std::int32_t ir = 0;  // grid index of the latest point record
    std::optional<layerline::BlockHeader> h = reader.next_header();
    if (!h)
      throw records::ReadError(test.name(), test.line() + 1, 0, 0,
                               "end of file: the label record of test block " + std::to_string(l) + " of " +
                                   std::to_string(c.llmax) + " expected");
    const bool multi = model != nullptr && model->m.multi(l);
    // A block of another Bessel order is read but not compared.
    bool compared = h->nn == ref.nn1[static_cast<std::size_t>(l - 1)];
    OrderSigns sign{};
    if (multi) {
      compared = false;
      for (std::int32_t o = 0; o < model->m.orders(l); ++o) compared = compared || model->m.order(l, o) == h->nn;
      sign = order_signs(model->m, l, h->nn, c.iside == 1);
    }
    std::int32_t nl = h->nl;
    if (nl != ref.nl1[static_cast<std::size_t>(l - 1)]) {
      st.illdiff = true;
      nl = ref.nl1[static_cast<std::size_t>(l - 1)];
    }
    const auto flush = [&] {
      if (multi)
        model->kernel.accumulate(model->m, l, sign, g, fmean, samples, acc, model->sums);
      else
        kernel.accumulate(ref, l, g, fmean, samples, acc);
      samples.clear();
    };
    // The block's samples go to the kernel together, in file order, before its penalty step.
    samples.clear();
    for (;;) {
      const layerline::PointRead pr = reader.next_point();
      // The end of the file inside a block ends the pass's reading, without the penalty step.
      if (pr.kind == layerline::PointKind::EndOfFile) {
        flush();
        return;
      }
      if (pr.kind == layerline::PointKind::EndOfBlock && ir != 0) break;
      if (c.iprint == 1) report.echo(pr.point);
      ir = truncate_index(pr.point.r / c.delbr + 1.1f);
      if (ir > nrmax || !compared || !c.uses(pr.point.amp)) continue;
      // On a layer line of several orders the side is the prediction's, not the test phases'.
      samples.push_back(prepare_test_sample(pr.point, h->scale, c.wt(l), h->nn, nl, multi ? 0 : c.iside, c.ipole));
      if (samples.size() == block_batch) flush();
    }
    flush();
    if (multi)
      add_uncovered_model(model->m, l, ref.irmax[static_cast<std::size_t>(l - 1)], ir, c.wt(l), g, fmean, acc);
    else
      add_uncovered(ref, l, ir, c.wt(l), g, fmean, acc);
  }
}

PassResult evaluate_pass(const PassGrid& g, Accumulators& acc, SearchState& st, ScaleRule rule, FitRule fit) {
  PassResult r;
  // The phase minimum of each radial scale, its grid point and the vector residual there, and
  // the scale's vector minimum and its grid point.
  struct ScaleMinimum {
    float resid = 1.0e20f, resid2 = 0.0f;
    std::int32_t iph = 0, iz = 0;
    float vector = 1.0e20f;
    std::int32_t viph = 0, viz = 0;
  };
  std::array<ScaleMinimum, nrscap> at{};
  std::int32_t chosen = 0;  // the radial scale of the pass's minimum
  for (std::int32_t irs = 1; irs <= g.nrs; ++irs) {
    if (acc.points(irs) == 0.0f) continue;
    ScaleMinimum& m = at[static_cast<std::size_t>(irs - 1)];
    for (std::int32_t iph = 1; iph <= g.nph; ++iph) {
      for (std::int32_t iz = 1; iz <= g.nz; ++iz) {
        float& r2 = acc.resid2(iph, iz, irs);
        r2 = std::sqrt(r2 / acc.xinc(irs));
        if (r2 < r.resmn2) {
          r.resmn2 = r2;
          r.vector_found = true;
          st.ir20 = irs;
          st.iph20 = iph;
        }
        if (r2 < m.vector) {
          m.vector = r2;
          m.viph = iph;
          m.viz = iz;
        }
        float& r1 = acc.resid(iph, iz, irs);
        r1 = r1 / acc.points(irs);
        if (r1 < m.resid) {
          m.resid = r1;
          m.resid2 = r2;
          m.iph = iph;
          m.iz = iz;
        }
        if (r1 < r.resmin) {
          r.resmin = r1;
          r.phase_found = true;
          st.phi0 = g.phi(iph);
          st.z0 = g.z(iz);
          st.rsc0 = g.rsc(irs);
          chosen = irs;
        }
      }
    }
  }
  if (!r.phase_found) return r;
  if (rule == ScaleRule::amplitudes) {
    // Within the flat valley of the phase residual the vector residual at each scale's phase
    // minimum settles the scale; among equal ones the lowest scale stays.
    const float ceiling = r.resmin + valley_margin(r.resmin);
    std::int32_t best = 0;
    for (std::int32_t irs = 1; irs <= g.nrs; ++irs) {
      const ScaleMinimum& m = at[static_cast<std::size_t>(irs - 1)];
      if (m.iph == 0 || !(m.resid <= ceiling)) continue;
      // (by FitRule::vector each scale's own vector minimum, where its motion is taken)
      const auto key = [fit](const ScaleMinimum& x) { return fit == FitRule::vector ? x.vector : x.resid2; };
      if (best == 0 || key(m) < key(at[static_cast<std::size_t>(best - 1)])) best = irs;
    }
    if (best != 0) {
      const ScaleMinimum& m = at[static_cast<std::size_t>(best - 1)];
      r.resmin = m.resid;
      st.phi0 = g.phi(m.iph);
      st.z0 = g.z(m.iz);
      st.rsc0 = g.rsc(best);
      chosen = best;
    }
  }
  if (fit == FitRule::vector) {
    // At the scale so settled, the rotation and shift of the lowest vector residual: between
    // scales the vector residual also weighs how the amplitudes match, which is the phase
    // rule's to settle.
    const ScaleMinimum& m = at[static_cast<std::size_t>(chosen - 1)];
    r.resmin = acc.resid(m.viph, m.viz, chosen);
    st.phi0 = g.phi(m.viph);
    st.z0 = g.z(m.viz);
    // Between grid points: the vertex of the quadratic through the squared vector residual at
    // the minimum and its eight neighbours (the sum is quadratic about its least value; phi and
    // z err together, so the cross term counts), for the report; the grid point stays the
    // pass's centre. Where phi and z are pinned together more than apart the least grid point
    // can lie more than a step from the vertex; at most two steps are taken. On the border of
    // the grid, or where the surface does not curve upward, the grid point stands.
    const auto sq = [&](std::int32_t iph, std::int32_t iz) {
      const float v = acc.resid2(iph, iz, chosen);
      return v * v;
    };
    r.phi_fit = st.phi0;
    r.z_fit = st.z0;
    if (m.viph > 1 && m.viph < g.nph && m.viz > 1 && m.viz < g.nz) {
      const std::int32_t i = m.viph, k = m.viz;
      const float f0 = sq(i, k);
      const float fx = 0.5f * (sq(i + 1, k) - sq(i - 1, k));
      const float fy = 0.5f * (sq(i, k + 1) - sq(i, k - 1));
      const float fxx = sq(i + 1, k) - 2.0f * f0 + sq(i - 1, k);
      const float fyy = sq(i, k + 1) - 2.0f * f0 + sq(i, k - 1);
      const float fxy = 0.25f * (sq(i + 1, k + 1) - sq(i + 1, k - 1) - sq(i - 1, k + 1) + sq(i - 1, k - 1));
      const float det = fxx * fyy - fxy * fxy;
      if (fxx > 0.0f && fyy > 0.0f && det > 0.0f) {
        const float dx = std::clamp((fxy * fy - fyy * fx) / det, -2.0f, 2.0f);
        const float dy = std::clamp((fxy * fx - fxx * fy) / det, -2.0f, 2.0f);
        r.phi_fit += g.dphi * dx;
        r.z_fit += g.dzed * dy;
      }
    }
    r.fitted = true;
  }
  return r;
}

std::optional<float> mean_ampscale(const Control& c, const ReferenceGrid& ref, Accumulators& acc, std::int32_t ir20,
                                   ModelPass* model, std::int32_t iph20) {
  float sum = 0.0f;
  std::int32_t count = 0;
  for (std::int32_t l = 1; l <= c.llmax; ++l) {
    const float f2 = acc.f2sum(l, ir20);
    const float f1 = model && model->m.multi(l) ? model->sums.f1sum(l, iph20, ir20) : acc.f1sum(l, ir20);
    const float scale = f2 > 0.0f ? f1 / f2 : f2;
    if (c.wt(l) > 0.0f && !ref.beyond[static_cast<std::size_t>(l - 1)]) {
      sum += scale;
      ++count;
    }
  }
  if (count == 0) return std::nullopt;
  return sum / static_cast<float>(count);
}

std::string phase_minimum_line(float resmin, float phi0, float z0, float rsc0) {
  return "0PHASE MINIMUM " + records::fixed_form(resmin, 10, 3) + " AT PHI= " + records::fixed_form(phi0, 10, 1) +
         " Z= " + records::fixed_form(z0, 10, 1) + " RSCALE =  " + records::fixed_form(rsc0, 10, 3);
}

std::string ampscale_line(std::optional<float> scale) {
  return "0MEAN AMPSCALE = " + (scale ? records::fixed_form(*scale, 7, 3) : std::string(7, '*'));
}

bool needs_another_pass(const SearchState& st, const PassGrid& g) {
  return st.phi0 == g.phimin || st.phi0 == g.phimax || st.z0 == g.zmin || st.z0 == g.zmax || st.rsc0 == g.rscmin ||
         st.rsc0 == g.rscmin + g.drsc || st.rsc0 == g.rscmax || g.dphi > 0.5f || g.dzed > 0.5f;
}

int run_search(const Control& c, const ReferenceGrid& ref, records::LineSource& test, ReportWriter& report,
               std::ostream& out, std::ostream& err, BlockKernel& kernel, ModelPass* model) {
  SearchState st;
  Accumulators acc;
  int status = 0;
  for (std::int32_t pass = 1;; ++pass) {
    PassGrid g;
    if (pass == 1) {
      g = opening_grid(c);
    } else {
      test.rewind();
      g = later_pass_grid(st, c.recc, c.delbr);
    }
    std::fill(acc.residv.begin(), acc.residv.end(), 0.0f);
    std::fill(acc.resid2v.begin(), acc.resid2v.end(), 0.0f);
    acc.pointsv.fill(0.0f);
    acc.xincv.fill(0.0f);
    const float fmean = ref.sumf1 / ref.allpts;

    read_test_pass(test, c, ref, g, fmean, acc, st, report, kernel, model);

    const PassResult r = evaluate_pass(g, acc, st, c.scale_rule, c.fit_rule);
    report.line(phase_minimum_line(r.resmin, r.fitted ? r.phi_fit : st.phi0, r.fitted ? r.z_fit : st.z0, st.rsc0));
    report.line(ampscale_line(r.vector_found ? mean_ampscale(c, ref, acc, st.ir20, model, st.iph20) : std::nullopt));

    if (!r.phase_found) {
      // A further pass would be centred on nothing: the search ends here.
      err << "gridscan: " << test.name() << ": no test sample could be compared with the reference in pass " << pass
          << "; the search stops without a minimum\n";
      status = 1;
      break;
    }
    if (st.rsc0 >= 1.15f) {
      out << " Rscale has gotten too large. Aborting search.\n";
      status = 1;
      break;
    }
    if (!needs_another_pass(st, g)) break;
    if (pass == max_passes) {
      err << "gridscan: the best point still lies on the border of the grid after " << max_passes
          << " passes; the report of the last pass stands\n";
      status = 1;
      break;
    }
  }
  if (st.illdiff) out << " Note: layer line numbers differ in your two files. Using those from reference.\n";
  report.finish();
  return status;
}

}  // namespace gridscan
