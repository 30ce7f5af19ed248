// The double-precision elementary functions of the rescaling, evaluated faster with the same
// single-precision results: each function returns exactly what the double-precision library
// function, rounded to single precision, returns on the same arguments.
//
// atan2_rounded evaluates the arc tangent in double precision by a table of 17 arc tangents
// and a short series, with a relative error far below 2^-40; when the interval of that width
// around the value holds a single-precision rounding boundary (the rounding could go either
// way, about once in a million arguments) it asks the library. sqrt_rounded is the
// single-precision square root: a double square root rounded to single precision never
// differs from it, since 53 bits are more than twice 24 bits plus two.
#pragma once

#include <cstdint>

#include "phaselanes/phaselanes.hpp"

namespace curvematch {

// static_cast<float>(std::atan2(double(y), double(x))), for every y and x.
float atan2_rounded(float y, float x);

// static_cast<float>(std::sqrt(double(x))), for every x.
inline float sqrt_rounded(float x) { return __builtin_sqrtf(x); }

// The library path of atan2_rounded.
inline float atan2_library(float y, float x) {
  return static_cast<float>(__builtin_atan2(static_cast<double>(y), static_cast<double>(x)));
}

// amp[i] = sqrt_rounded(q[i]) and phase[i] = atan2_rounded(y[i], x[i]) for i < count, lanes
// side by side: one copy for each vector width.
using RoundedBatchFn = void (*)(const float* q, const float* y, const float* x, float* amp, float* phase,
                                std::int32_t count);
void rounded_batch_sse2(const float* q, const float* y, const float* x, float* amp, float* phase, std::int32_t count);
#if defined(__x86_64__)
void rounded_batch_avx2(const float* q, const float* y, const float* x, float* amp, float* phase, std::int32_t count);
void rounded_batch_avx512(const float* q, const float* y, const float* x, float* amp, float* phase, std::int32_t count);
#endif
// The batch of a level the processor runs.
RoundedBatchFn rounded_batch_for(phaselanes::Level level);

// How many arguments atan2_rounded passed to the library since the start because their arc
// tangent lay too close to a rounding boundary (for tests).
long atan2_boundary_calls();

}  // namespace curvematch
