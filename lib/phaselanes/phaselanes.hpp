// Exact reduction of phase differences modulo 360 in single precision, for one value and for
// vectors of lanes side by side (GNU vector extension: 4 lanes map to SSE2 or NEON registers on
// the baseline targets, 8 to AVX2 and 16 to AVX-512 registers in units compiled for those). The
// fast kernels of the search programs use it in place of a library fmod call whenever their
// phase differences stay below mod360_exact_below, and pick the widest vectors the processor
// runs (widest_level).
//
// The lane helpers have internal linkage: a unit compiled for AVX-512 and one compiled for the
// baseline never share a copy, so baseline code never calls an instruction the processor lacks.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

// W single-precision lanes; comparisons of two such vectors give the integer vector of W lanes.
template <int W>
struct Lanes {
  typedef float vf __attribute__((vector_size(4 * W)));
};
template <int W>
using vfloat_n = typename Lanes<W>::vf;

namespace {

template <int W>
inline vfloat_n<W> load_n(const float* p) {
  vfloat_n<W> v;
  __builtin_memcpy(&v, p, sizeof v);
  return v;
}

template <class V>
inline void store_n(float* p, V v) {
  __builtin_memcpy(p, &v, sizeof v);
}

template <int W>
inline vfloat_n<W> splat_n(float x) {
  return vfloat_n<W>{} + x;
}

template <class V>
inline V abs_lanes(V x) {
  using VI = decltype(x < x);
  return __builtin_bit_cast(V, __builtin_bit_cast(VI, x) & 0x7fffffff);
}

// mod360_small on every lane (d >= 0, below mod360_exact_below). The correction adds 360 or 0
// (r is never -0, so adding 0 leaves it as it is).
template <class V>
inline V mod360_lanes(V d) {
  using VI = decltype(d < d);
  const V q = __builtin_convertvector(__builtin_convertvector(d * inv360, VI), V);
  const V r = d - q * 360.0f;
  constexpr std::int32_t bits360 = 0x43b40000;  // 360.0f
  return r + __builtin_bit_cast(V, (r < 0.0f) & bits360);
}

// The four-lane names of the baseline.
using vfloat = vfloat_n<4>;
inline constexpr std::int32_t vlanes = 4;
inline vfloat load(const float* p) { return load_n<4>(p); }
inline void store(float* p, vfloat v) { store_n(p, v); }
inline vfloat splat(float x) { return splat_n<4>(x); }

}  // namespace

// The vector widths a fast kernel can be built for: the baseline (SSE2 on x86-64, 4 lanes),
// AVX2 (8 lanes) and AVX-512 (16 lanes). The wider ones exist on x86-64 only.
enum class Level { sse2, avx2, avx512 };

inline constexpr int lanes_of(Level level) { return level == Level::avx512 ? 16 : level == Level::avx2 ? 8 : 4; }

inline std::string_view level_name(Level level) {
  return level == Level::avx512 ? "avx512" : level == Level::avx2 ? "avx2" : "sse2";
}

// "sse2", "avx2" or "avx512"; nothing for any other name.
inline std::optional<Level> level_by_name(std::string_view name) {
  if (name == "sse2") return Level::sse2;
  if (name == "avx2") return Level::avx2;
  if (name == "avx512") return Level::avx512;
  return std::nullopt;
}

// The instruction set of a level, for messages: "SSE2", "AVX2", "AVX-512".
inline std::string_view level_title(Level level) {
  return level == Level::avx512 ? "AVX-512" : level == Level::avx2 ? "AVX2" : "SSE2";
}

// Whether this processor runs the kernels of a level (the baseline always).
inline bool level_supported(Level level) {
#if defined(__x86_64__) || defined(__i386__)
  if (level == Level::avx2) return __builtin_cpu_supports("avx2");
  if (level == Level::avx512) return __builtin_cpu_supports("avx512f");
  return true;
#else
  return level == Level::sse2;
#endif
}

// The widest level this processor runs, found once.
inline Level widest_level() {
  static const Level widest = level_supported(Level::avx512) ? Level::avx512
                              : level_supported(Level::avx2) ? Level::avx2
                                                             : Level::sse2;
  return widest;
}

// How a search program scores: the literal kernel, the fast one at the widest vectors the
// processor runs, or the fast one at a given width (the option --kernel).
enum class KernelChoice { fast, literal, sse2, avx2, avx512 };

// "fast", "literal", "sse2", "avx2" or "avx512"; nothing for any other name.
inline std::optional<KernelChoice> kernel_by_name(std::string_view name) {
  if (name == "fast") return KernelChoice::fast;
  if (name == "literal") return KernelChoice::literal;
  if (name == "sse2") return KernelChoice::sse2;
  if (name == "avx2") return KernelChoice::avx2;
  if (name == "avx512") return KernelChoice::avx512;
  return std::nullopt;
}

// The vector width of a fast kernel choice (the widest the processor runs for "fast"); nothing
// for "literal".
inline std::optional<Level> kernel_level(KernelChoice choice) {
  switch (choice) {
    case KernelChoice::literal:
      return std::nullopt;
    case KernelChoice::sse2:
      return Level::sse2;
    case KernelChoice::avx2:
      return Level::avx2;
    case KernelChoice::avx512:
      return Level::avx512;
    case KernelChoice::fast:
      break;
  }
  return widest_level();
}

// The value of --kernel read: the choice, or (choice empty) the message refusing the name or a
// width the processor does not run.
struct KernelOption {
  std::optional<KernelChoice> choice;
  std::string problem;
};

inline KernelOption read_kernel_option(std::string_view name) {
  const std::optional<KernelChoice> k = kernel_by_name(name);
  if (!k) return {std::nullopt, "--kernel is fast, literal, sse2, avx2 or avx512, not \"" + std::string(name) + "\""};
  const std::optional<Level> level = kernel_level(*k);
  if (level && !level_supported(*level))
    return {std::nullopt, "--kernel " + std::string(name) + ": this processor does not run " +
                              std::string(level_title(*level)) + " instructions"};
  return {k, {}};
}

}  // namespace phaselanes
