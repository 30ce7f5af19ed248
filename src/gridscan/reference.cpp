#include "gridscan/reference.hpp"

#include "layerline/pointlist.hpp"
#include "records/error.hpp"

namespace gridscan {

void load_reference(records::LineSource& src, const Control& c, ReferenceGrid& ref, ReportWriter& report) {
  layerline::PointListReader reader(src, layerline::EndOfBlockRule::RadiusZero);
  ref.sumf1 = 0.0f;
  ref.allpts = 0.0f;
  for (std::int32_t l = 1; l <= c.llmax; ++l) {
    std::int32_t ir = 0;  // grid index of the latest point record
    std::optional<layerline::BlockHeader> h = reader.next_header();
    if (!h)
      throw records::ReadError(src.name(), src.line() + 1, 0, 0,
                               "end of file: the label record of reference block " + std::to_string(l) + " of " +
                                   std::to_string(c.llmax) + " expected");
    const float scale = h->scale;
    ref.nn1[static_cast<std::size_t>(l - 1)] = h->nn;
    ref.nl1[static_cast<std::size_t>(l - 1)] = h->nl;
    float& f0sum = ref.f0sum[static_cast<std::size_t>(l - 1)];
    f0sum = 0.0f;
    float pts = 0.0f;
    for (std::int32_t j = 1; j <= nrmax; ++j) ref.f1(l, j) = 0.0f;

    for (;;) {
      const layerline::PointRead pr = reader.next_point();
      if (pr.kind == layerline::PointKind::EndOfFile) return;  // the rest keeps what it has
      if (pr.kind == layerline::PointKind::EndOfBlock && ir > 0) {
        ref.sumf1 += f0sum;
        ref.allpts += pts;
        if (pts > 0.0f) f0sum = f0sum / pts;
        ref.irmax[static_cast<std::size_t>(l - 1)] = ir;
        break;
      }
      if (c.iprint == 1) report.echo(pr.point);
      ir = truncate_index(pr.point.r / c.delbr + 1.1f);
      if (ir > nrmax || ir < 1 || !c.uses(pr.point.amp)) continue;
      // A later sample at the same grid point replaces the stored one; the sums keep both.
      ref.f1(l, ir) = pr.point.amp * scale * c.wt(l);
      ref.psi1(l, ir) = pr.point.phase;
      f0sum += ref.f1(l, ir);
      pts += c.wt(l);
    }
  }
}

}  // namespace gridscan
