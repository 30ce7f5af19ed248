// atan2_rounded and sqrt_rounded on W lanes side by side, included by the unit of each vector
// width (sweep_sse2.cpp, sweep_avx2.cpp, sweep_avx512.cpp). Everything here has internal
// linkage, so each unit keeps its own copy compiled for its own processor.
//
// The lanes evaluate the arc tangent without a table: with n = min(|y|, |x|), d = max(|y|, |x|),
// atan(n/d) is atan(u) with u = n/d, or pi/4 + atan(u) with u = (n - d)/(n + d) when n/d lies
// above tan(pi/8) (n - d and n + d are exact), so |u| <= tan(pi/8); atan(u) is its series to the
// power 33, whose first omitted term is below 2^-48 |u|. The quadrant follows from the signs and
// from the swap of y and x, as in atan2_rounded, and so does the test of the rounding interval.
#pragma once

#include <cstdint>

#include "curvematch/roundedmath.hpp"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace curvematch {
namespace {

template <int W>
struct RoundedLanes {
  typedef float vf __attribute__((vector_size(4 * W)));
  typedef double vd __attribute__((vector_size(8 * W)));
};

// The single-precision square roots of W lanes.
template <int W>
inline typename RoundedLanes<W>::vf sqrt_lanes(typename RoundedLanes<W>::vf q) {
  using VF = typename RoundedLanes<W>::vf;
#if defined(__AVX512F__)
  if constexpr (W == 16) return reinterpret_cast<VF>(_mm512_maskz_sqrt_ps(0xffff, reinterpret_cast<__m512>(q)));
#endif
#if defined(__AVX__)
  if constexpr (W == 8) return reinterpret_cast<VF>(_mm256_sqrt_ps(reinterpret_cast<__m256>(q)));
#endif
#if defined(__SSE2__)
  if constexpr (W == 4) return reinterpret_cast<VF>(_mm_sqrt_ps(reinterpret_cast<__m128>(q)));
#endif
  VF r;
  for (int i = 0; i < W; ++i) r[i] = sqrt_rounded(q[i]);
  return r;
}

// amp[i] = sqrt_rounded(q[i]) and phase[i] = atan2_rounded(y[i], x[i]) for i < count: the
// square roots W single-precision lanes at a time, the arc tangents W/2 double-precision lanes
// (whole registers of each).
template <int W>
inline void rounded_batch(const float* q, const float* y, const float* x, float* amp, float* phase,
                          std::int32_t count) {
  std::int32_t i = 0;
  for (; i + W <= count; i += W) {
    typename RoundedLanes<W>::vf qf;
    __builtin_memcpy(&qf, q + i, sizeof qf);
    const typename RoundedLanes<W>::vf root = sqrt_lanes<W>(qf);
    __builtin_memcpy(amp + i, &root, sizeof root);
  }
  for (; i < count; ++i) amp[i] = sqrt_rounded(q[i]);

  constexpr int D = W / 2;
  using VF = typename RoundedLanes<D>::vf;
  using VD = typename RoundedLanes<D>::vd;
  i = 0;
  for (; i + D <= count; i += D) {
    VF yf, xf;
    __builtin_memcpy(&yf, y + i, sizeof yf);
    __builtin_memcpy(&xf, x + i, sizeof xf);
    const VD yd = __builtin_convertvector(yf, VD);
    const VD xd = __builtin_convertvector(xf, VD);
    const VD ay = yd < 0.0 ? -yd : yd;
    const VD ax = xd < 0.0 ? -xd : xd;
    // Zeros, infinities and NaNs go to the library.
    const auto plain = (ay > 0.0) & (ax > 0.0) & (ay < __builtin_huge_val()) & (ax < __builtin_huge_val());
    const auto swapped = ay > ax;
    const VD n = swapped ? ax : ay;
    const VD d = swapped ? ay : ax;
    const auto upper = n > 0.41421356237309503 * d;
    const VD u = (upper ? n - d : n) / (upper ? n + d : d);
    const VD u2 = u * u;
    // s = -1/3 + u2/5 - u2^2/7 + ... + u2^15/33, then atan(u) = u + u*u2*s.
    VD s = VD{} + 1.0 / 33.0;
    s = s * u2 - 1.0 / 31.0;
    s = s * u2 + 1.0 / 29.0;
    s = s * u2 - 1.0 / 27.0;
    s = s * u2 + 1.0 / 25.0;
    s = s * u2 - 1.0 / 23.0;
    s = s * u2 + 1.0 / 21.0;
    s = s * u2 - 1.0 / 19.0;
    s = s * u2 + 1.0 / 17.0;
    s = s * u2 - 1.0 / 15.0;
    s = s * u2 + 1.0 / 13.0;
    s = s * u2 - 1.0 / 11.0;
    s = s * u2 + 1.0 / 9.0;
    s = s * u2 - 1.0 / 7.0;
    s = s * u2 + 1.0 / 5.0;
    s = s * u2 - 1.0 / 3.0;
    VD a = (upper ? VD{} + 0.7853981633974483 : VD{}) + (u + u * (u2 * s));
    a = swapped ? 1.5707963267948966 - a : a;
    a = xd < 0.0 ? 3.141592653589793 - a : a;
    a = yd < 0.0 ? -a : a;
    const VD spread = (a < 0.0 ? -a : a) * 0x1p-40;
    const VF lo = __builtin_convertvector(a - spread, VF);
    const VF hi = __builtin_convertvector(a + spread, VF);
    __builtin_memcpy(phase + i, &lo, sizeof lo);
    // lo != hi: the rounding could go either way. (The comparison of floats gives 32-bit lanes,
    // that of doubles 64-bit ones.)
    const auto open = lo != hi;
    for (int k = 0; k < D; ++k)
      if (!plain[k] || open[k]) phase[i + k] = atan2_library(y[i + k], x[i + k]);
  }
  for (; i < count; ++i) phase[i] = atan2_rounded(y[i], x[i]);
}

}  // namespace
}  // namespace curvematch
