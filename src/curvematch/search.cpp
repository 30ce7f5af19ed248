#include "curvematch/search.hpp"

#include <cmath>
#include <string>

#include "curvematch/fastkernel.hpp"
#include "curvematch/report.hpp"

namespace curvematch {

float reduce_phase_difference(float x) {
  float dp = static_cast<float>(std::fmod(static_cast<double>(x), 360.0));
  if (std::fabs(dp) > 180.0f) dp = 360.0f - std::fabs(dp);
  return dp;
}

TrialScore score_trial(const DataSets& d, float phishf, float zshift) {
  TrialScore s;
  const float amin = d.amin;
  for (std::int32_t l = 1; l <= d.llmax; ++l) {
    const float phash = static_cast<float>(d.in[static_cast<std::size_t>(l)]) * phishf -
                        static_cast<float>(d.inl[static_cast<std::size_t>(l)]) * zshift;
    const float* a = d.a.row(l);
    const float* p = d.p.row(l);
    const float* a2 = d.a2.row(l);
    const float* p2 = d.p2.row(l);
    for (std::int32_t ir = d.first2(l); ir <= d.last2(l); ++ir) {
      if (a[ir] < amin) continue;
      const float dp = reduce_phase_difference(p[ir] - p2[ir] + phash);
      s.fdsum += a[ir] * (dp * dp);
      s.fsum += a[ir];
      s.f2sum += a2[ir];
      s.npts += 1;
    }
  }
  s.sf = s.fsum / s.f2sum;
  for (std::int32_t l = 1; l <= d.llmax; ++l) {
    const float* a = d.a.row(l);
    const float* a2 = d.a2.row(l);
    for (std::int32_t ir = d.first2(l); ir <= d.last2(l); ++ir) {
      if (a[ir] < amin) continue;
      s.fdiff += std::fabs(a[ir] - s.sf * a2[ir]);
    }
  }
  s.rf = s.fdiff / s.fsum;
  s.res = std::sqrt(s.fdsum / s.fsum);
  return s;
}

TrialScore score_scale_literal(const DataSets& d, std::span<const float> phis, std::span<const float> zetas,
                               std::span<float> res) {
  TrialScore last;
  std::size_t k = 0;
  for (const float zshift : zetas)
    for (const float phishf : phis) {
      last = score_trial(d, phishf, zshift);
      res[k++] = last.res;
    }
  return last;
}

std::unique_ptr<ScaleKernel> make_kernel(KernelChoice choice) {
  const std::optional<phaselanes::Level> level = kernel_level(choice);
  if (!level) return std::make_unique<LiteralScaleKernel>();
  return std::make_unique<FastScaleKernel>(*level);
}

Refinement refine_grid(SearchGrid& g, bool on_border) {
  Refinement r;
  if (on_border) {
    g.delz = 10.0f * g.delz;
    g.dphi = 10.0f * g.dphi;
    if (g.delz > 10.0f) g.delz = 10.0f;
    if (g.dphi > 1.0f) g.dphi = 1.0f;
    r = Refinement::Widen;
  } else if (g.delz > 0.01f || g.dphi > 0.01f) {
    g.delz = g.delz / 5.0f;
    g.dphi = g.dphi / 5.0f;
    if (g.delz < 0.01f) g.delz = 0.01f;
    if (g.dphi < 0.01f) g.dphi = 0.01f;
    r = Refinement::Refine;
  } else {
    return Refinement::Final;
  }
  // Re-centre: the best point becomes grid point (n div 2) + 1 of each dimension.
  g.rscmin = g.rscmin - static_cast<float>(g.irl / 2) * g.drsc;
  g.phimin = g.phimin - static_cast<float>(g.ipl / 2) * g.dphi;
  g.zmin = g.zmin - static_cast<float>(g.izl / 2) * g.delz;
  return r;
}

Search::Search(DataSets& d, const SearchGrid& start, float convd, SearchOptions options)
    : d_(d), g_(start), convd_(convd), options_(options) {
  if (options_.own_kernel != nullptr) {
    score_ = options_.own_kernel;
  } else {
    kernel_ = make_kernel(options_.kernel);
    score_ = kernel_.get();
  }
  const auto scales = static_cast<std::size_t>(g_.irl) + 1;
  rsc_.assign(scales, 0.0f);
  rm_.assign(scales, 0.0f);
  pm_.assign(scales, 0.0f);
  zm_.assign(scales, 0.0f);
  rf_.assign(scales, 0.0f);
  pres_.assign(static_cast<std::size_t>(g_.ipl) + 1, 0.0f);
  zres_.assign(static_cast<std::size_t>(g_.izl) + 1, 0.0f);
  zetas_.assign(static_cast<std::size_t>(g_.izl), 0.0f);
  res_.assign(static_cast<std::size_t>(g_.ipl) * static_cast<std::size_t>(g_.izl), 0.0f);
}

void Search::score_scale(std::int32_t nr, std::ostream& out) {
  // The phi and z values of the pass, by repeated addition of the step; z in phase units.
  float zshift = g_.zmin * convd_;
  const float dz = g_.delz * convd_;
  for (std::int32_t nz = 1; nz <= g_.izl; ++nz) {
    zres_[static_cast<std::size_t>(nz)] = zshift / convd_;
    zetas_[static_cast<std::size_t>(nz - 1)] = zshift;
    zshift = zshift + dz;
  }
  float phishf = g_.phimin;
  for (std::int32_t np = 1; np <= g_.ipl; ++np) {
    pres_[static_cast<std::size_t>(np)] = phishf;
    phishf = phishf + g_.dphi;
  }
  last_ = score_->score_scale(d_, std::span<const float>(pres_).subspan(1), zetas_, res_);
  rf_[static_cast<std::size_t>(nr)] = last_.rf;

  // Strict comparison: among equal residuals the first trial (z outer, phi inner) stays.
  float& rm = rm_[static_cast<std::size_t>(nr)];
  rm = 150.0f;
  for (std::int32_t nz = 1; nz <= g_.izl; ++nz)
    for (std::int32_t np = 1; np <= g_.ipl; ++np)
      if (rm > res(np, nz)) {
        rm = res(np, nz);
        pm_[static_cast<std::size_t>(nr)] = pres(np);
        zm_[static_cast<std::size_t>(nr)] = zres(nz);
      }
  write_scale_block(out, *this, nr);
}

void Search::pass(std::ostream& out) {
  ++passes_;
  for (std::int32_t nr = 1; nr <= g_.irl; ++nr) {
    rsc_[static_cast<std::size_t>(nr)] = g_.rscmin + static_cast<float>(nr - 1) * g_.drsc;
    try {
      score_->rescale(d_, rsc(nr), options_.rescale);
    } catch (RunStop& stop) {
      if (passes_ > 1 && !(gmin_ < 150.0f)) stop.message += "; the pass before found no trial below 150 degrees";
      throw;
    }
    score_scale(nr, out);
  }
  write_minimum_locations(out, *this);
  // The global minimum: strict comparison, the lowest nr wins among equal minima. When no
  // radial scale found a residual below 150, the grid origins stay as they were.
  gmin_ = 150.0f;
  std::int32_t best = 0;
  for (std::int32_t nr = 1; nr <= g_.irl; ++nr)
    if (gmin_ > rm(nr)) {
      gmin_ = rm(nr);
      best = nr;
    }
  // Within the flat valley of the phase residual the lowest R factor settles the scale; among
  // equal R factors the lowest nr stays. A scale with no residual below 150 has no minimum.
  if (best != 0 && options_.scale_rule == ScaleRule::amplitudes) {
    const float ceiling = gmin_ + valley_margin(gmin_);
    for (std::int32_t nr = 1; nr <= g_.irl; ++nr)
      if (rm(nr) < 150.0f && rm(nr) <= ceiling && rf(nr) < rf(best)) best = nr;
  }
  if (best != 0) {
    rfmin_ = rf(best);
    gmin_ = rm(best);
    g_.phimin = pm(best);
    g_.zmin = zm(best);
    g_.rscmin = rsc(best);
  }
  write_global_minimum(out, gmin_, g_.phimin, g_.zmin, g_.rscmin, rfmin_);
}

bool Search::on_border() const {
  return g_.rscmin == rsc(1) || g_.rscmin == rsc(g_.irl) || g_.phimin == pres(1) || g_.phimin == pres(g_.ipl) ||
         g_.zmin == zres(1) || g_.zmin == zres(g_.izl);
}

void Search::run(std::ostream& out) {
  for (;;) {
    if (passes_ >= options_.max_passes)
      throw RunStop{"the refinement has not ended after " + std::to_string(passes_) +
                    " search passes: the best point stays on the border of the grid, or no trial scores below 150 "
                    "degrees"};
    pass(out);
    if (refine_grid(g_, on_border()) == Refinement::Final) break;
  }
  // The final pass: one radial scale, rsc(1) = rscmin, rescaled for the final report.
  g_.irl = 1;
  rsc_[1] = g_.rscmin + 0.0f * g_.drsc;
  score_->rescale(d_, rsc(1), options_.rescale);
}

}  // namespace curvematch
