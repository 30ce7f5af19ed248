// The accumulation of test samples over every grid point of a pass: the inner loop of the
// search, kept apart so that a faster kernel can replace it and be checked against the literal
// one. Every grid point's sums take the samples in file order, whatever the kernel.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "gridscan/grids.hpp"
#include "phaselanes/phaselanes.hpp"

namespace gridscan {

// Adds test samples to the accumulators of a pass. A kernel must give the same bits as
// LiteralKernel on any input.
class BlockKernel {
 public:
  virtual ~BlockKernel() = default;
  // Adds samples (in file order, all of layer line l) to acc at every radial scale, rotation and
  // axial shift of grid g.
  virtual void accumulate(const ReferenceGrid& ref, std::int32_t l, const PassGrid& g, float fmean,
                          std::span<const TestSample> samples, Accumulators& acc) = 0;
};

// The accumulation of one sample written out step by step, in the order of its sums.
void accumulate_sample_literal(const ReferenceGrid& ref, std::int32_t l, const PassGrid& g, float fmean,
                               const TestSample& s, Accumulators& acc);

// accumulate_sample_literal for each sample in turn.
class LiteralKernel final : public BlockKernel {
 public:
  void accumulate(const ReferenceGrid& ref, std::int32_t l, const PassGrid& g, float fmean,
                  std::span<const TestSample> samples, Accumulators& acc) override;
};

// The literal kernel, the fast one at the widest vectors the processor runs, or the fast one at
// a given width (shared with the other search program).
using phaselanes::kernel_by_name;
using phaselanes::kernel_level;
using phaselanes::KernelChoice;
// The kernel of a choice; a width the processor does not run must have been refused before.
std::unique_ptr<BlockKernel> make_kernel(KernelChoice choice);

}  // namespace gridscan
