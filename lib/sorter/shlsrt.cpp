#include "sorter/shlsrt.hpp"

#include <cmath>

namespace sorter {

void shlsrt(const float* key, std::int32_t n, std::int32_t* ipoint, std::int32_t incdec) {
  // 1-based views of the two arrays
  auto ip = [ipoint](std::int32_t i) -> std::int32_t& { return ipoint[i - 1]; };
  auto k_of = [key](std::int32_t i) { return key[i - 1]; };

  ip(1) = 1;
  if (n <= 1) return;
  for (std::int32_t i = 2; i <= n; ++i) ip(i) = i;

  // Number of increments: ln(2n+1)/ln 3 - 0.95, the logarithm in double of the float 2n+1.
  const float lg = static_cast<float>(std::log(static_cast<double>(static_cast<float>(2 * n + 1))));
  auto s = static_cast<std::int32_t>(lg / 1.0986123f - 0.95f);
  if (s < 1) s = 1;
  std::int32_t h = 1;
  for (std::int32_t i = 0; i < s; ++i) h *= 3;
  h = (h - 1) / 2;

  for (;;) {
    for (std::int32_t j = h + 1; j <= n; ++j) {
      const std::int32_t ipt = ip(j);
      const float k = k_of(ipt);
      std::int32_t i = j - h;
      while (i > 0 && k - k_of(ip(i)) <= 0.0f) {
        ip(i + h) = ip(i);
        i -= h;
      }
      ip(i + h) = ipt;
    }
    if (h <= 1) break;
    h = (h - 1) / 3;
  }

  if (incdec < 0) {
    for (std::int32_t i = 1; i <= n / 2; ++i) {
      const std::int32_t t = ip(i);
      ip(i) = ip(n + 1 - i);
      ip(n + 1 - i) = t;
    }
  }
}

}  // namespace sorter
