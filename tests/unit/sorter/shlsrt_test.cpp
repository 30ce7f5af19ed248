#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "sorter/shlsrt.hpp"

using sorter::shlsrt;

namespace {

std::vector<std::int32_t> order(const std::vector<float>& key, std::int32_t incdec) {
  std::vector<std::int32_t> ip(std::max<std::size_t>(key.size(), 1), -7);
  shlsrt(key.data(), static_cast<std::int32_t>(key.size()), ip.data(), incdec);
  return ip;
}

}  // namespace

TEST(Shlsrt, WorkedExamples) {
  EXPECT_EQ(order({3, 1, 2}, 0), (std::vector<std::int32_t>{2, 3, 1}));
  EXPECT_EQ(order({3, 1, 2}, -1), (std::vector<std::int32_t>{1, 3, 2}));
  // equal keys: the second moves in front of the first
  EXPECT_EQ(order({5, 5}, 1), (std::vector<std::int32_t>{2, 1}));
  EXPECT_EQ(order({5, 5}, -1), (std::vector<std::int32_t>{1, 2}));
}

TEST(Shlsrt, SmallAndEmptyInputsSetOnlyTheFirstIndex) {
  EXPECT_EQ(order({4.0f}, -1), (std::vector<std::int32_t>{1}));
  std::int32_t ip[2] = {-7, -7};
  const float key[1] = {0.0f};
  shlsrt(key, 0, ip, 0);
  EXPECT_EQ(ip[0], 1);
  EXPECT_EQ(ip[1], -7);
  shlsrt(key, -5, ip, -1);
  EXPECT_EQ(ip[0], 1);
}

TEST(Shlsrt, OrdersEverySizeAcrossTheIncrementBoundaries) {
  std::mt19937 gen(7);
  std::uniform_int_distribution<int> dist(0, 20);  // many equal keys
  for (int n : {2, 12, 13, 37, 38, 114, 115, 344, 345, 1034, 1035, 5000}) {
    std::vector<float> key(static_cast<std::size_t>(n));
    for (auto& k : key) k = static_cast<float>(dist(gen));
    for (std::int32_t incdec : {0, -1}) {
      auto ip = order(key, incdec);
      std::vector<std::int32_t> sorted_ip = ip;
      std::sort(sorted_ip.begin(), sorted_ip.end());
      for (int i = 0; i < n; ++i) ASSERT_EQ(sorted_ip[static_cast<std::size_t>(i)], i + 1) << "not a permutation, n=" << n;
      for (int i = 1; i < n; ++i) {
        const float a = key[static_cast<std::size_t>(ip[static_cast<std::size_t>(i - 1)] - 1)];
        const float b = key[static_cast<std::size_t>(ip[static_cast<std::size_t>(i)] - 1)];
        if (incdec < 0) ASSERT_GE(a, b) << "n=" << n;
        else ASSERT_LE(a, b) << "n=" << n;
      }
      EXPECT_EQ(key.size(), static_cast<std::size_t>(n));
    }
  }
}
