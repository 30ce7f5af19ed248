// The arithmetic of a layer line of several orders, written once for a single value (V =
// float, the literal kernel) and for vectors of W lanes (the fast kernel's units, one per
// vector width), so that both perform the same operations in the same order and give the same
// bits. Everything has internal linkage, as in phaselanes.hpp: a unit compiled for AVX-512 and
// one for the baseline never share a copy.
#pragma once

#include <cmath>
#include <cstdint>
#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "gridscan/sweep.hpp"
#include "phaselanes/phaselanes.hpp"

namespace gridscan {
namespace {

template <class V>
inline V splat_v(float x) {
  return V{} + x;
}

inline float abs_v(float x) { return std::fabs(x); }
template <class V>
inline V abs_v(V x) {
  return phaselanes::abs_lanes(x);
}

inline float sqrt_v(float x) { return std::sqrt(x); }
// Correctly rounded on every lane, as the single-precision square root is.
template <class V>
inline V sqrt_v(V x) {
#if defined(__AVX512F__)
  if constexpr (sizeof(V) == 64)
    return __builtin_bit_cast(V, _mm512_maskz_sqrt_ps(static_cast<__mmask16>(0xffff), __builtin_bit_cast(__m512, x)));
#endif
#if defined(__AVX__)
  if constexpr (sizeof(V) == 32) return __builtin_bit_cast(V, _mm256_sqrt_ps(__builtin_bit_cast(__m256, x)));
#endif
#if defined(__SSE2__)
  if constexpr (sizeof(V) == 16) return __builtin_bit_cast(V, _mm_sqrt_ps(__builtin_bit_cast(__m128, x)));
#endif
  V r = x;
  for (std::size_t i = 0; i < sizeof(V) / sizeof(float); ++i) r[i] = std::sqrt(x[i]);
  return r;
}

// The phase of the complex value (a, b) in degrees, -180..180: the two-argument arc tangent by
// a polynomial on the octant, in plain arithmetic so that a lane
// gives what a single value gives: within a few units in the last place of the result (2e-6
// degree and less away from +-180). (0, 0) has phase 0.
template <class V>
inline V phase_degrees(V a, V b) {
  const V ax = abs_v(a), ay = abs_v(b);
  const V mx = ax < ay ? ay : ax;
  const V mn = ax < ay ? ax : ay;
  const V q = mn / mx;
  const V t = mx > 0.0f ? q : V{};
  const V s = t * t;
  // atan(t)/t as a polynomial in t^2 on 0..1.
  V p = splat_v<V>(-0.00407312065f);
  p = p * s + 0.021945959f;
  p = p * s - 0.0560622811f;
  p = p * s + 0.096561946f;
  p = p * s - 0.139157802f;
  p = p * s + 0.199485049f;
  p = p * s - 0.333301067f;
  p = p * s + 0.999999464f;
  V r = t * p;
  r = ay > ax ? 1.57079637f - r : r;
  r = a < 0.0f ? 3.14159274f - r : r;
  r = b < 0.0f ? V{} - r : r;
  return r * 57.2957802f;
}

// The prediction at one rotation (or W of them): the sum over the orders of the order's value
// (ca + i cb) turned by (ec + i es), the cosine and sine of n*phi.
template <class V, class Turn>
inline void model_prediction(const float* ca, const float* cb, std::int32_t orders, std::int32_t cstride, Turn turn,
                             V& pa, V& pb) {
  pa = V{};
  pb = V{};
  for (std::int32_t o = 0; o < orders; ++o) {
    const V a = splat_v<V>(ca[o * cstride]), b = splat_v<V>(cb[o * cstride]);
    V c, s;
    turn(o, c, s);
    pa = pa + (a * c - b * s);
    pb = pb + (a * s + b * c);
  }
}

// What a test sample of phase psi meets at a prediction (pa, pb): the predicted amplitude and
// the phase difference.
template <class V>
inline void model_term(V pa, V pb, float psi, V& ff1, V& delpsi) {
  ff1 = sqrt_v(pa * pa + pb * pb);
  delpsi = splat_v<V>(psi) - phase_degrees(pa, pb);
}

// The point weight of a sample of amplitude f where the orders' values are (ca, cb): from the
// root of the sum of their squared amplitudes, the mean amplitude of the prediction over every
// rotation, so that every trial weighs the sample alike (as a reference of one order does).
inline float model_weight(const float* ca, const float* cb, std::int32_t orders, std::int32_t cstride, float f,
                          float fmean2) {
  float ss = 0.0f;
  for (std::int32_t o = 0; o < orders; ++o) ss += ca[o * cstride] * ca[o * cstride] + cb[o * cstride] * cb[o * cstride];
  return (std::sqrt(ss) + f) / fmean2;
}

template <int W>
inline void model_terms_lanes(const ModelBatch& b) {
  using V = phaselanes::vfloat_n<W>;
  using phaselanes::load_n;
  using phaselanes::store_n;
  for (std::int32_t k = 0; k < b.count; ++k) {
    for (std::int32_t p0 = 0; p0 < b.phis; p0 += W) {
      V pa, pb;
      model_prediction<V>(
          b.ca + k, b.cb + k, b.orders, b.kstride,
          [&](std::int32_t o, V& c, V& s) {
            c = load_n<W>(b.ec + o * model_stride + p0);
            s = load_n<W>(b.es + o * model_stride + p0);
          },
          pa, pb);
      V ff1, delpsi;
      model_term<V>(pa, pb, b.psi[k], ff1, delpsi);
      const std::int32_t at = k * model_stride + p0;
      store_n(b.pa + at, pa);
      store_n(b.pb + at, pb);
      store_n(b.delpsi + at, delpsi);
      store_n(b.f1sum + p0, load_n<W>(b.f1sum + p0) + ff1);
    }
  }
}

// nv vectors of axial shifts from z0 in phi row p, their sums kept in registers over the samples.
template <int W, int nv>
inline void model_sweep_run(const ModelBatch& b, std::int32_t p, std::int32_t z0) {
  using V = phaselanes::vfloat_n<W>;
  using phaselanes::load_n;
  float* r1p = b.r1 + p * b.zcells + z0;
  float* r2p = b.r2 + p * b.zcells + z0;
  V r1[nv], r2[nv];
  for (int v = 0; v < nv; ++v) {
    r1[v] = load_n<W>(r1p + W * v);
    r2[v] = load_n<W>(r2p + W * v);
  }
  for (std::int32_t k = 0; k < b.count; ++k) {
    const std::int32_t at = k * model_stride + p;
    const V x0 = splat_v<V>(b.delpsi[at]), wk = splat_v<V>(b.fwt[k]);
    const V pak = splat_v<V>(b.pa[at]), pbk = splat_v<V>(b.pb[at]);
    const V a2k = splat_v<V>(b.a2[k]), b2k = splat_v<V>(b.b2[k]);
#pragma GCC unroll 8
    for (int v = 0; v < nv; ++v) {
      const std::int32_t z = z0 + W * v;
      const V x = x0 + load_n<W>(b.delzed + z);
      const V rem = phaselanes::mod360_lanes(phaselanes::abs_lanes(x));
      const V other = 360.0f - rem;
      const V del = other < rem ? other : rem;
      r1[v] += del * wk;
      const V cv = load_n<W>(b.cz + z), sv = load_n<W>(b.sz + z);
      const V a3 = a2k * cv - b2k * sv;
      const V b3 = a2k * sv + b2k * cv;
      r2[v] += (pak - a3) * (pak - a3) + (pbk - b3) * (pbk - b3);
    }
  }
  for (int v = 0; v < nv; ++v) {
    phaselanes::store_n(r1p + W * v, r1[v]);
    phaselanes::store_n(r2p + W * v, r2[v]);
  }
}

template <int W>
inline void model_sweep_lanes(const ModelBatch& b) {
  for (std::int32_t p = 0; p < b.nph; ++p) {
    std::int32_t z0 = 0;
    for (; z0 + 4 * W <= b.zcells; z0 += 4 * W) model_sweep_run<W, 4>(b, p, z0);
    for (; z0 < b.zcells; z0 += W) model_sweep_run<W, 1>(b, p, z0);
  }
}

}  // namespace
}  // namespace gridscan
