// The accumulation of one test sample over every grid point of a pass: the inner loop of the
// search, kept apart so that a faster kernel can replace it and be checked against this one.
#pragma once

#include <cstdint>

#include "gridscan/grids.hpp"

namespace gridscan {

// Adds test sample s of layer line l to acc at every radial scale, rotation and axial shift of
// grid g. A kernel must give the same bits as accumulate_sample_literal.
using SampleKernel = void (*)(const ReferenceGrid& ref, std::int32_t l, const PassGrid& g, float fmean,
                              const TestSample& s, Accumulators& acc);

// The accumulation written out step by step, in the order of its sums.
void accumulate_sample_literal(const ReferenceGrid& ref, std::int32_t l, const PassGrid& g, float fmean,
                               const TestSample& s, Accumulators& acc);

}  // namespace gridscan
