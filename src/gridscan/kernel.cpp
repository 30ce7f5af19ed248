#include "gridscan/kernel.hpp"

#include <cmath>

#include "gridscan/fastkernel.hpp"

namespace gridscan {

void accumulate_sample_literal(const ReferenceGrid& ref, std::int32_t l, const PassGrid& g, float fmean,
                               const TestSample& s, Accumulators& acc) {
  for (std::int32_t irs = 1; irs <= g.nrs; ++irs) {
    // The scaled test radius as a position on the reference grid, between j and j+1.
    const float rrs = g.rsc(irs) * s.r / g.delbr + 1.0f;
    const std::int32_t j = truncate_index(rrs);
    // Positions before the first grid point (radial scales of zero or below) have no reference.
    if (j > nrmax - 1 || j < 1) continue;
    const float f1j = ref.f1(l, j);
    const float f1k = ref.f1(l, j + 1);
    if (f1j == 0.0f || f1k == 0.0f) continue;

    // The reference interpolated linearly as a complex value.
    const float t = rrs - static_cast<float>(j);
    const float u = 1.0f - t;
    const float a1 = f1j * std::cos(ref.psi1(l, j) * radian) * u + f1k * std::cos(ref.psi1(l, j + 1) * radian) * t;
    const float b1 = f1j * std::sin(ref.psi1(l, j) * radian) * u + f1k * std::sin(ref.psi1(l, j + 1) * radian) * t;
    const float ff1 = std::sqrt(a1 * a1 + b1 * b1);
    const float psi11 = std::atan2(b1, a1) * degree;

    acc.f1sum(l, irs) += ff1;
    acc.f2sum(l, irs) += s.f;
    const float delpsi = s.psi - psi11;
    const float fwt = (ff1 + s.f) / (2.0f * fmean);
    acc.points(irs) += fwt;
    acc.xinc(irs) += s.wt;

    for (std::int32_t iph = 1; iph <= g.nph; ++iph) {
      const float delphi = static_cast<float>(s.nn) * g.phi(iph);
      for (std::int32_t iz = 1; iz <= g.nz; ++iz) {
        const float delzed = static_cast<float>(s.nl) * (static_cast<float>(iz - 1) * g.dzc + g.zcmin);
        // Phase difference folded into 0..180 degrees.
        float del = std::fabs(delpsi + delzed - delphi);
        del = static_cast<float>(std::fmod(static_cast<double>(del), 360.0));
        if (del > 180.0f) del = 360.0f - del;
        acc.resid(iph, iz, irs) += del * fwt;

        // The test vector moved by the same rotation and shift.
        const float theta = (delzed - delphi) * radian;
        const float a3 = s.a2 * std::cos(theta) - s.b2 * std::sin(theta);
        const float b3 = s.a2 * std::sin(theta) + s.b2 * std::cos(theta);
        acc.resid2(iph, iz, irs) += (a1 - a3) * (a1 - a3) + (b1 - b3) * (b1 - b3);
      }
    }
  }
}

void LiteralKernel::accumulate(const ReferenceGrid& ref, std::int32_t l, const PassGrid& g, float fmean,
                               std::span<const TestSample> samples, Accumulators& acc) {
  for (const TestSample& s : samples) accumulate_sample_literal(ref, l, g, fmean, s, acc);
}

std::unique_ptr<BlockKernel> make_kernel(KernelChoice choice) {
  const std::optional<phaselanes::Level> level = kernel_level(choice);
  if (!level) return std::make_unique<LiteralKernel>();
  return std::make_unique<FastKernel>(*level);
}

}  // namespace gridscan
