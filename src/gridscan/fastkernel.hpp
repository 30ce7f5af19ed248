// The fast accumulation kernel. It gives every grid point the same sums, in the same order, as
// the literal kernel; only the work around the sums changes:
// - the rotation of the test vector at (phi, z) depends only on the block's Bessel order and
//   layer-line number, so its cosine and sine are tabled once per block and pass;
// - the phase difference is reduced modulo 360 exactly in single precision, without a library
//   call, whenever it is small enough for that to be exact;
// - a block's samples are taken in batches, and each run of grid points keeps its sums in
//   registers over the whole batch, in sample order, with the grid points side by side so that
//   the compiler vectorises across them.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "gridscan/kernel.hpp"
#include "phaselanes/phaselanes.hpp"

namespace gridscan {

using phaselanes::inv360;
using phaselanes::mod360_exact_below;
using phaselanes::mod360_small;

class FastKernel final : public BlockKernel {
 public:
  FastKernel();
  void accumulate(const ReferenceGrid& ref, std::int32_t l, const PassGrid& g, float fmean,
                  std::span<const TestSample> samples, Accumulators& acc) override;

  static constexpr std::int32_t lanes = 8;    // grid points of phi taken side by side
  static constexpr std::int32_t batch = 256;  // samples whose sums stay in registers together

 private:
  // Samples of one Bessel order and layer-line number, at most batch of them.
  void accumulate_run(const ReferenceGrid& ref, std::int32_t l, const PassGrid& g, float fmean,
                      std::span<const TestSample> run, Accumulators& acc);
  void set_tables(const PassGrid& g, std::int32_t nn, std::int32_t nl);

  static constexpr std::int32_t row = ((nphcap + lanes - 1) / lanes) * lanes;  // padded phi row

  // What one compared sample brings to one radial scale, in sample order.
  struct ScaleTerms {
    std::int32_t count = 0;
    bool small = true;  // every phase difference stays below mod360_exact_below
    std::array<float, batch> delpsi{}, fwt{}, a1{}, b1{}, a2{}, b2{};
  };
  std::vector<ScaleTerms> terms_;

  // The tables of one block: nn*phi(iph), nl*z phase(iz), cos and sin of the rotation angle.
  struct Tables {
    bool valid = false;
    std::int32_t nn = 0, nl = 0, nph = 0, nz = 0;
    float phimin = 0.0f, dphi = 0.0f, zcmin = 0.0f, dzc = 0.0f;
    double reach = 0.0;  // largest |delzed| + largest |delphi|
    std::array<float, row> delphi{};
    std::array<float, nzcap> delzed{};
    std::vector<float> cos = std::vector<float>(static_cast<std::size_t>(row * nzcap), 0.0f);
    std::vector<float> sin = std::vector<float>(static_cast<std::size_t>(row * nzcap), 0.0f);
  };
  Tables tab_;
};

}  // namespace gridscan
