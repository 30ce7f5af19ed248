// The first place where two float arrays differ in their bits: the fast kernels must give
// the literal kernels' sums bit for bit.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>

// The index and the two values of the first difference between two float arrays, or "".
template <typename A>
std::string first_difference(const A& x, const A& y) {
  for (std::size_t i = 0; i < x.size(); ++i)
    if (std::bit_cast<std::uint32_t>(x[i]) != std::bit_cast<std::uint32_t>(y[i]))
      return "at " + std::to_string(i) + ": " + std::to_string(x[i]) + " against " + std::to_string(y[i]);
  return "";
}
