#include "imagefile/numformat.hpp"

#include <cmath>
#include <cstring>
#include <utility>

namespace imagefile {

namespace {

// A 32-bit word of the VAX F layout (sign, 8-bit exponent biased 128, 23 fraction bits below
// a hidden 0.1) to the IEEE single bits of the same value.
std::uint32_t vax_bits_to_ieee(std::uint32_t v) {
  const std::uint32_t sign = v & 0x80000000u;
  const std::uint32_t exponent = (v >> 23) & 0xffu;
  const std::uint32_t fraction = v & 0x7fffffu;
  if (exponent == 0) return sign != 0 ? 0x7fc00000u : 0u;
  if (exponent > 2) return sign | ((exponent - 2) << 23) | fraction;
  // Value (0x800000 | fraction) * 2^(exponent - 152): an IEEE subnormal.
  float magnitude =
      static_cast<float>(std::ldexp(static_cast<double>(0x800000u | fraction), static_cast<int>(exponent) - 152));
  std::uint32_t bits = 0;
  std::memcpy(&bits, &magnitude, 4);
  return sign | bits;
}

void store_be(unsigned char* word, std::uint32_t bits) {
  word[0] = static_cast<unsigned char>(bits >> 24);
  word[1] = static_cast<unsigned char>(bits >> 16);
  word[2] = static_cast<unsigned char>(bits >> 8);
  word[3] = static_cast<unsigned char>(bits);
}

std::uint32_t load(unsigned char a, unsigned char b, unsigned char c, unsigned char d) {
  return (std::uint32_t{a} << 24) | (std::uint32_t{b} << 16) | (std::uint32_t{c} << 8) | std::uint32_t{d};
}

}  // namespace

void swap_bytes(unsigned char* data, std::size_t n, int width) {
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char* w = data + i * static_cast<std::size_t>(width);
    if (width == 2) {
      std::swap(w[0], w[1]);
    } else {
      std::swap(w[0], w[3]);
      std::swap(w[1], w[2]);
    }
  }
}

void vax_to_ieee_be(unsigned char* word) { store_be(word, vax_bits_to_ieee(load(word[1], word[0], word[3], word[2]))); }

void convex_to_ieee_be(unsigned char* word) {
  store_be(word, vax_bits_to_ieee(load(word[0], word[1], word[2], word[3])));
}

}  // namespace imagefile
