// The fast kernel of a layer line of several orders. Every grid point gets the same sums, in
// the same order, as from the literal model kernel; only the work around them changes:
// - the turn of each order at each rotation, the axial shift's phase and turn at each shift,
//   and the cosines and sines of the model's phases are tabled once per layer line and pass;
// - the prediction, its phase and the point weight of a sample are worked out for the
//   rotations side by side in vectors (the arithmetic of modellanes.hpp);
// - the sums of every axial shift of one rotation, side by side in vectors, stay in registers
//   over a batch of samples.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "gridscan/model.hpp"
#include "gridscan/sweep.hpp"
#include "phaselanes/phaselanes.hpp"

namespace gridscan {

class FastModelKernel final : public ModelKernel {
 public:
  explicit FastModelKernel(phaselanes::Level level = phaselanes::widest_level());
  void accumulate(const ModelGrid& m, std::int32_t l, const OrderSigns& sign, const PassGrid& g, float fmean,
                  std::span<const TestSample> samples, Accumulators& acc, ModelSums& ms) override;
  phaselanes::Level level() const { return level_; }

  static constexpr std::int32_t batch = 64;  // samples whose sums stay in registers together

 private:
  void set_tables(const ModelGrid& m, std::int32_t l, const PassGrid& g, std::int32_t nl);

  static constexpr std::int32_t zcap = (nzcap + cell_pad - 1) / cell_pad * cell_pad;

  struct Tables {
    bool valid = false;
    std::array<std::int32_t, ordcap> nn{};
    std::int32_t orders = 0, nl = 0, nph = 0, nz = 0, phis = 0, zcells = 0;
    float phimin = 0.0f, dphi = 0.0f, zcmin = 0.0f, dzc = 0.0f;
    double reach = 0.0;  // largest |delzed|
    std::vector<float> ec = std::vector<float>(ordcap * model_stride, 0.0f);
    std::vector<float> es = std::vector<float>(ordcap * model_stride, 0.0f);
    std::vector<float> delzed = std::vector<float>(zcap, 0.0f);
    std::vector<float> cz = std::vector<float>(zcap, 0.0f);
    std::vector<float> sz = std::vector<float>(zcap, 0.0f);
  };
  Tables tab_;
  // One radial scale's batch: what each sample brings, and what it meets at each rotation.
  std::vector<float> ca_ = std::vector<float>(ordcap * batch, 0.0f), cb_ = std::vector<float>(ordcap * batch, 0.0f);
  std::array<float, batch> psi_{}, f_{}, a2_{}, b2_{}, fwt_{};
  std::vector<float> pa_ = std::vector<float>(batch * model_stride, 0.0f);
  std::vector<float> pb_ = std::vector<float>(batch * model_stride, 0.0f);
  std::vector<float> delpsi_ = std::vector<float>(batch * model_stride, 0.0f);
  std::array<float, model_stride> f1sum_{};
  // The rows of one radial scale's sums: rotation after rotation, the shifts side by side.
  std::vector<float> r1_ = std::vector<float>(nphcap * zcap, 0.0f), r2_ = std::vector<float>(nphcap * zcap, 0.0f);
  // cos and sin of the model's phases of the layer line, by order and grid index.
  std::vector<float> cos1_ = std::vector<float>(ordcap * (nrmax + 1), 0.0f);
  std::vector<float> sin1_ = std::vector<float>(ordcap * (nrmax + 1), 0.0f);
  phaselanes::Level level_;
  ModelLanes lanes_;
};

}  // namespace gridscan
