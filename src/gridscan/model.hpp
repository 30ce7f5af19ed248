// Alignment against a model that holds several Bessel orders on a layer line (--model): each
// order is a block of its own (n, l), consecutive blocks of one layer-line number making up
// the layer line, in the phase convention of a near-side file. A view turned by phi holds on
// layer line l at radius R the sum over the orders of N_nl(R) exp(i n phi); the search
// predicts that sum for every trial rotation, and moves the test data by the axial shift
// alone (common to every order of a layer line), instead of rotating the test data by n*phi
// against a fixed reference. A layer line of one order is searched exactly as without
// --model.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "gridscan/control.hpp"
#include "gridscan/grids.hpp"
#include "gridscan/kernel.hpp"
#include "gridscan/report.hpp"
#include "phaselanes/phaselanes.hpp"
#include "records/source.hpp"

namespace gridscan {

inline constexpr std::int32_t ordcap = 8;  // orders on one layer line, at most

// The orders of the model's layer lines on the radial grid. A layer line of one order is held
// in the ReferenceGrid as gridscan holds any reference; one of two or more orders here.
struct ModelGrid {
  std::array<std::int32_t, llcap> norders{};                                   // orders of layer line l
  std::array<std::array<std::int32_t, ordcap>, llcap> nn{};                    // their Bessel orders, in file order
  std::vector<float> fv = std::vector<float>(ordcap * llcap * nrmax, 0.0f);    // weighted amplitude, 0: none
  std::vector<float> psiv = std::vector<float>(ordcap * llcap * nrmax, 0.0f);  // phase, degrees
  // Some order of layer line l has a sample at grid point ir; an order without one there
  // contributes nothing to the prediction.
  std::vector<std::uint8_t> presentv = std::vector<std::uint8_t>(llcap * nrmax, 0);

  bool multi(std::int32_t l) const { return norders[static_cast<std::size_t>(l - 1)] >= 2; }
  std::int32_t orders(std::int32_t l) const { return norders[static_cast<std::size_t>(l - 1)]; }
  std::int32_t order(std::int32_t l, std::int32_t o) const {
    return nn[static_cast<std::size_t>(l - 1)][static_cast<std::size_t>(o)];
  }
  float& f(std::int32_t l, std::int32_t o, std::int32_t ir) { return fv[at(l, o, ir)]; }
  float f(std::int32_t l, std::int32_t o, std::int32_t ir) const { return fv[at(l, o, ir)]; }
  float& psi(std::int32_t l, std::int32_t o, std::int32_t ir) { return psiv[at(l, o, ir)]; }
  float psi(std::int32_t l, std::int32_t o, std::int32_t ir) const { return psiv[at(l, o, ir)]; }
  bool present(std::int32_t l, std::int32_t ir) const {
    return presentv[static_cast<std::size_t>((l - 1) + llcap * (ir - 1))] != 0;
  }
  void set_present(std::int32_t l, std::int32_t ir) {
    presentv[static_cast<std::size_t>((l - 1) + llcap * (ir - 1))] = 1;
  }

 private:
  static std::size_t at(std::int32_t l, std::int32_t o, std::int32_t ir) {
    return static_cast<std::size_t>(o + ordcap * ((l - 1) + llcap * (ir - 1)));
  }
};

// The sums of a pass that depend on the rotation on a layer line of several orders: the
// predicted amplitude, summed for the amplitude scale (taken at the vector minimum's rotation).
struct ModelSums {
  std::vector<float> f1sumv = std::vector<float>(nphcap * llcap * nrscap, 0.0f);

  float& f1sum(std::int32_t l, std::int32_t iph, std::int32_t irs) {
    return f1sumv[static_cast<std::size_t>((iph - 1) + nphcap * ((l - 1) + llcap * (irs - 1)))];
  }
};

// +1 or -1 per order of a layer line: the sign with which each order, held in the one-order
// form of its own near side, enters the test block's side (helix::one_order_sign): -1 where
// the order is odd and the sample lies on that order's own far half.
using OrderSigns = std::array<float, ordcap>;
OrderSigns order_signs(const ModelGrid& m, std::int32_t l, std::int32_t test_nn, bool far_side);

// Reads the model from a point-list file: consecutive blocks of one layer-line number
// form a layer line, llmax of them used (the rest of the file is not read). Each sample is
// filed on the grid as gridscan files a reference sample (flags, resolution, grid range);
// with iprint = 1 every point record of the layer lines used is echoed. A layer line of one
// order goes to ref exactly as a reference block does; one of several orders goes to m, its
// weight in sumf1 and allpts being at each grid point held the root of the sum of its orders'
// squared amplitudes (the mean amplitude of the prediction over every rotation). ReadError
// on a file of fewer than llmax layer lines, an end of file inside a block, an order twice on
// one layer line or more than ordcap orders on one.
void load_model(records::LineSource& src, const Control& c, ReferenceGrid& ref, ModelGrid& m, ReportWriter& report);

// Adds the test samples of a layer line of several orders to the sums of a pass, at every
// radial scale, rotation and axial shift; sign from order_signs. A kernel must give the same
// bits as the literal one.
class ModelKernel {
 public:
  virtual ~ModelKernel() = default;
  virtual void accumulate(const ModelGrid& m, std::int32_t l, const OrderSigns& sign, const PassGrid& g, float fmean,
                          std::span<const TestSample> samples, Accumulators& acc, ModelSums& ms) = 0;
};

// One sample written out step by step, in the order of its sums.
void accumulate_model_sample_literal(const ModelGrid& m, std::int32_t l, const OrderSigns& sign, const PassGrid& g,
                                     float fmean, const TestSample& s, Accumulators& acc, ModelSums& ms);

class LiteralModelKernel final : public ModelKernel {
 public:
  void accumulate(const ModelGrid& m, std::int32_t l, const OrderSigns& sign, const PassGrid& g, float fmean,
                  std::span<const TestSample> samples, Accumulators& acc, ModelSums& ms) override;
};

std::unique_ptr<ModelKernel> make_model_kernel(KernelChoice choice);

// The model's samples of layer line l (several orders) that the test block does not reach: as
// add_uncovered, each with the root of the sum of its orders' squared amplitudes (the mean
// amplitude of the prediction over every rotation), so that it costs the same at every trial.
void add_uncovered_model(const ModelGrid& m, std::int32_t l, std::int32_t irmax, std::int32_t irlast, float wt,
                         const PassGrid& g, float fmean, Accumulators& acc);

}  // namespace gridscan
