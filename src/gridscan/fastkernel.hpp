// The fast accumulation kernel. It gives every grid point the same sums, in the same order, as
// the literal kernel; only the work around the sums changes:
// - the rotation of the test vector at (phi, z) depends only on the block's Bessel order and
//   layer-line number, so its cosine and sine are tabled once per block and pass, and the
//   cosines and sines of the reference phases once per block;
// - the phase difference is reduced modulo 360 exactly in single precision, without a library
//   call, whenever it is small enough for that to be exact;
// - a block's samples are taken in batches, and the grid points of a radial scale (every phi
//   and z, side by side in vectors as wide as the processor runs) keep their sums in registers
//   over the whole batch, in sample order.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "gridscan/kernel.hpp"
#include "gridscan/sweep.hpp"
#include "phaselanes/phaselanes.hpp"

namespace gridscan {

using phaselanes::inv360;
using phaselanes::mod360_exact_below;
using phaselanes::mod360_small;

class FastKernel final : public BlockKernel {
 public:
  // The vectors of level (which the processor must run); by default the widest it runs.
  explicit FastKernel(phaselanes::Level level = phaselanes::widest_level());
  void accumulate(const ReferenceGrid& ref, std::int32_t l, const PassGrid& g, float fmean,
                  std::span<const TestSample> samples, Accumulators& acc) override;
  phaselanes::Level level() const { return level_; }

  static constexpr std::int32_t batch = 256;  // samples whose sums stay in registers together

 private:
  // Samples of one Bessel order and layer-line number, at most batch of them.
  void accumulate_run(const ReferenceGrid& ref, std::int32_t l, const PassGrid& g, float fmean,
                      std::span<const TestSample> run, Accumulators& acc);
  void set_tables(const PassGrid& g, std::int32_t nn, std::int32_t nl);

  static constexpr std::int32_t cellcap = (nphcap * nzcap + cell_pad - 1) / cell_pad * cell_pad;

  // What one compared sample brings to one radial scale, in sample order.
  struct ScaleTerms {
    std::int32_t count = 0;
    bool small = true;  // every phase difference stays below mod360_exact_below
    std::array<float, batch> delpsi{}, fwt{}, a1{}, b1{}, a2{}, b2{};
  };
  std::vector<ScaleTerms> terms_;

  // The tables of one block, per cell c = (iz - 1) * nph + (iph - 1): nn*phi(iph), nl*z phase(iz),
  // cos and sin of the rotation angle; padded with zeros to whole vectors.
  struct Tables {
    bool valid = false;
    std::int32_t nn = 0, nl = 0, nph = 0, nz = 0, cells = 0;
    float phimin = 0.0f, dphi = 0.0f, zcmin = 0.0f, dzc = 0.0f;
    double reach = 0.0;  // largest |delzed| + largest |delphi|
    std::vector<float> delphi = std::vector<float>(cellcap, 0.0f);
    std::vector<float> delzed = std::vector<float>(cellcap, 0.0f);
    std::vector<float> cos = std::vector<float>(cellcap, 0.0f);
    std::vector<float> sin = std::vector<float>(cellcap, 0.0f);
  };
  Tables tab_;
  // One radial scale's sums in cell order.
  std::vector<float> r1_ = std::vector<float>(cellcap, 0.0f), r2_ = std::vector<float>(cellcap, 0.0f);
  // cos and sin of the reference phases of the block, by grid index.
  std::array<float, nrmax + 1> cos1_{}, sin1_{};
  phaselanes::Level level_;
  SweepFn sweep_;
};

}  // namespace gridscan
