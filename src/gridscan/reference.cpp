#include "gridscan/reference.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

#include "helix/sides.hpp"
#include "layerline/pointlist.hpp"
#include "records/error.hpp"

namespace gridscan {

namespace {

// The median of the blocks' mean steps (the upper middle one of an even count): a block with a
// gap or an odd point moves it no more than one block can.
float median_step(std::vector<float> steps) {
  if (steps.empty()) return 0.0f;
  std::sort(steps.begin(), steps.end());
  return steps[steps.size() / 2];
}

}  // namespace

void load_reference(records::LineSource& src, const Control& c, ReferenceGrid& ref, ReportWriter& report) {
  layerline::PointListReader reader(src, layerline::EndOfBlockRule::RadiusZero);
  ref.sumf1 = 0.0f;
  ref.allpts = 0.0f;
  // Each block's mean step between successive point records: radii are written with three
  // digits, so single differences can be far off where the mean over a block is not.
  std::vector<float> steps;
  const auto block_step = [&steps](float first, float last, std::int32_t records) {
    if (records >= 2) steps.push_back((last - first) / static_cast<float>(records - 1));
  };
  // |CTF| of the test's image at a reference sample: on the test's side of the helix, where the
  // half of X that side takes follows the block's order (and is the other half in the second
  // block of a meridional layer line written twice).
  const std::optional<ctf::Ctf> transfer = c.ctf ? std::optional<ctf::Ctf>(ctf::Ctf(*c.ctf)) : std::nullopt;
  const helix::Side side = c.iside == 1 ? helix::Side::Far : helix::Side::Near;
  for (std::int32_t l = 1; l <= c.llmax; ++l) {
    std::int32_t ir = 0;  // grid index of the latest point record
    std::optional<layerline::BlockHeader> h = reader.next_header();
    if (!h)
      throw records::ReadError(src.name(), src.line() + 1, 0, 0,
                               "end of file: the label record of reference block " + std::to_string(l) + " of " +
                                   std::to_string(c.llmax) + " expected");
    const float scale = h->scale;
    const bool second_block = l > 1 && helix::second_meridional_block(ref.nn1[static_cast<std::size_t>(l - 2)],
                                                                      ref.nl1[static_cast<std::size_t>(l - 2)], h->nn, h->nl);
    const double xsign = helix::x_sign(h->nn, side, second_block);
    ref.nn1[static_cast<std::size_t>(l - 1)] = h->nn;
    ref.nl1[static_cast<std::size_t>(l - 1)] = h->nl;
    // A layer line none of whose point records lies within the resolution limit takes no part.
    bool any_within = c.smax == 0.0f;
    float& f0sum = ref.f0sum[static_cast<std::size_t>(l - 1)];
    f0sum = 0.0f;
    float pts = 0.0f;
    for (std::int32_t j = 1; j <= nrmax; ++j) ref.f1(l, j) = 0.0f;
    float first_r = 0.0f, last_r = 0.0f;
    std::int32_t records = 0;

    for (;;) {
      const layerline::PointRead pr = reader.next_point();
      if (pr.kind == layerline::PointKind::EndOfFile) {
        ref.beyond[static_cast<std::size_t>(l - 1)] = !any_within;
        block_step(first_r, last_r, records);
        ref.spacing = median_step(steps);
        return;  // the rest keeps what it has
      }
      if (pr.kind == layerline::PointKind::EndOfBlock && ir > 0) {
        ref.beyond[static_cast<std::size_t>(l - 1)] = !any_within;
        block_step(first_r, last_r, records);
        ref.sumf1 += f0sum;
        ref.allpts += pts;
        if (pts > 0.0f) f0sum = f0sum / pts;
        ref.irmax[static_cast<std::size_t>(l - 1)] = ir;
        break;
      }
      if (c.iprint == 1) report.echo(pr.point);
      if (records == 0) first_r = pr.point.r;
      last_r = pr.point.r;
      ++records;
      ir = truncate_index(pr.point.r / c.delbr + 1.1f);
      const bool within = c.within_resolution(pr.point.r, h->nl);
      any_within = any_within || within;
      if (ir > nrmax || ir < 1 || !c.uses(pr.point.amp) || !within) continue;
      // A later sample at the same grid point replaces the stored one; the sums keep both.
      ref.f1(l, ir) = pr.point.amp * scale * c.wt(l);
      if (transfer)
        ref.f1(l, ir) *= static_cast<float>(
            std::abs(transfer->value(xsign * double(pr.point.r), double(h->nl) * double(c.recc))));
      ref.psi1(l, ir) = pr.point.phase;
      f0sum += ref.f1(l, ir);
      pts += c.wt(l);
    }
  }
  ref.spacing = median_step(steps);
}

}  // namespace gridscan
