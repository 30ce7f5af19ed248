// Exact reduction of phase differences modulo 360 in single precision, for one value and for
// four lanes side by side (GNU vector extension, which the compiler maps to SSE2 or NEON
// registers on the baseline targets). The fast kernels of the search programs use it in place
// of a library fmod call whenever their phase differences stay below mod360_exact_below.
#pragma once

#include <bit>
#include <cstdint>

namespace phaselanes {

// The smallest single-precision value not below 1/360: the quotient below is never too small
// and too large by at most one.
inline constexpr float inv360 = 0.0027777778f;
// Below this bound the single-precision reduction is exact.
inline constexpr float mod360_exact_below = 4194304.0f;  // 2^22

// The remainder of d (0 <= d < mod360_exact_below) after division by 360: the same value as the
// double-precision fmod rounded to single precision, which is exact.
inline float mod360_small(float d) {
  const float q = static_cast<float>(static_cast<std::int32_t>(d * inv360));
  const float r = d - q * 360.0f;  // exact; in -360..360
  return r < 0.0f ? r + 360.0f : r;
}

using vfloat = float __attribute__((vector_size(16)));
using vint = std::int32_t __attribute__((vector_size(16)));
inline constexpr std::int32_t vlanes = 4;

inline vfloat load(const float* p) {
  vfloat v;
  __builtin_memcpy(&v, p, sizeof v);
  return v;
}

inline void store(float* p, vfloat v) { __builtin_memcpy(p, &v, sizeof v); }

inline vfloat splat(float x) { return vfloat{x, x, x, x}; }

inline vfloat abs_lanes(vfloat x) { return std::bit_cast<vfloat>(std::bit_cast<vint>(x) & 0x7fffffff); }

// mod360_small on every lane (d >= 0, below mod360_exact_below). The correction adds 360 or 0
// (r is never -0, so adding 0 leaves it as it is).
inline vfloat mod360_lanes(vfloat d) {
  const vfloat q = __builtin_convertvector(__builtin_convertvector(d * inv360, vint), vfloat);
  const vfloat r = d - q * 360.0f;
  return r + std::bit_cast<vfloat>((r < 0.0f) & std::bit_cast<std::int32_t>(360.0f));
}

}  // namespace phaselanes
