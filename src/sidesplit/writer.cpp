#include "sidesplit/writer.hpp"

#include <cmath>

#include "helix/sides.hpp"
#include "layerline/pointlist.hpp"

namespace sidesplit {

namespace {

// Replaces the amplitude of sample k by the flag when its spatial frequency lies within the
// exclusion band of any CTF zero (both band edges included).
void flag_ctf_zero(const Deck& deck, float ysp, std::int32_t my, LayerLineSamples& s, std::size_t k) {
  const float rr = s.recsp[k];
  const float fy = ysp / (static_cast<float>(my) * deck.sampl);
  const float freq = std::sqrt(fy * fy + rr * rr);
  for (float zero : deck.zeroarray) {
    if (zero - deck.exclusion <= freq && freq <= zero + deck.exclusion) s.arrf[k] = ctf_zero_flag;
  }
}

void append_point(std::string& out, float r, float amp, float phase) {
  out += layerline::point_record(layerline::Point{r, amp, phase});
  out += '\n';
}

}  // namespace

void write_layer_line(std::string& near, std::string& far, const Deck& deck, const LayerLineEntry& e, std::int32_t my,
                      LayerLineSamples& s) {
  const bool meridional = e.nord == 0 && e.llno != 0 && deck.merid == 0;
  const float wtfac = meridional ? 0.5f : 1.0f;
  const std::int64_t n1 = deck.grid.n1;
  // The negative-R half goes to the near side, unless the Bessel order is negative.
  bool negative_to_near = helix::near_is_negative_x(e.nord);
  for (int pass = 0; pass < (meridional ? 2 : 1); ++pass) {
    std::string& neg_out = negative_to_near ? near : far;
    std::string& pos_out = negative_to_near ? far : near;
    const std::string param = layerline::parameter_record(wtfac, e.nord, e.llno);
    near += layerline::sidesplit_label(deck.title, e.llno, true, e.ysp) + '\n' + param + '\n';
    far += layerline::sidesplit_label(deck.title, e.llno, false, e.ysp) + '\n' + param + '\n';

    // R from -nl1*delr to -nl2*delr, written as |R| rising.
    for (std::int64_t i = -static_cast<std::int64_t>(e.nl1); i >= -static_cast<std::int64_t>(e.nl2); --i) {
      const std::size_t k = static_cast<std::size_t>(i - n1);
      flag_ctf_zero(deck, e.ysp, my, s, k);
      append_point(neg_out, std::fabs(s.recsp[k]), s.arrf[k], s.arrp[k]);
    }
    // R from nr1*delr to nr2*delr, with its sign.
    for (std::int64_t i = e.nr1; i <= e.nr2; ++i) {
      const std::size_t k = static_cast<std::size_t>(i - n1);
      flag_ctf_zero(deck, e.ysp, my, s, k);
      append_point(pos_out, s.recsp[k], s.arrf[k], s.arrp[k]);
    }
    near += layerline::terminator_record() + '\n';
    far += layerline::terminator_record() + '\n';
    // A meridional layer line is written a second time with the halves exchanged.
    negative_to_near = !negative_to_near;
  }
}

}  // namespace sidesplit
