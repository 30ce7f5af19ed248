// Number-format conversion of words read from files written on other machines.
#pragma once

#include <cstddef>
#include <cstdint>

namespace imagefile {

// Reverses the bytes of each of n words of `width` bytes (2 or 4) in place.
void swap_bytes(unsigned char* data, std::size_t n, int width);

// One real of the file's format as big-endian IEEE bytes, in place: VAX F floating (16-bit
// words little-endian, high word first) / Convex native (the VAX F layout in big-endian
// order). Both have an exponent bias of 128 and the hidden bit below the point, so a normal
// number keeps its bits with the exponent lowered by 2; the two smallest exponents become
// IEEE subnormals, exponent 0 is zero (a set sign bit, the reserved operand, becomes a NaN).
void vax_to_ieee_be(unsigned char* word);
void convex_to_ieee_be(unsigned char* word);

}  // namespace imagefile
