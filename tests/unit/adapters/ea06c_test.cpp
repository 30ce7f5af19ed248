#include "adapters/ea06c.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

using adapters::ea06c;

namespace {

// A random symmetric m x m matrix in an array of leading dimension ld, with `upper` written
// over the upper triangle (which the solver must not read).
std::vector<float> lower_triangle(std::int32_t m, std::int32_t ld, float upper, unsigned seed,
                                  std::vector<double>& full) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(-2.0f, 2.0f);
  std::vector<float> a(static_cast<std::size_t>(ld) * m, upper);
  full.assign(static_cast<std::size_t>(m) * m, 0.0);
  for (std::int32_t j = 0; j < m; ++j) {
    for (std::int32_t i = j; i < m; ++i) {
      const float v = dist(gen);
      a[static_cast<std::size_t>(j) * ld + i] = v;
      full[static_cast<std::size_t>(j) * m + i] = v;
      full[static_cast<std::size_t>(i) * m + j] = v;
    }
  }
  return a;
}

}  // namespace

TEST(Ea06c, GivesOrthonormalSignedEigenvectorsFromTheLowerTriangle) {
  for (std::int32_t m : {1, 2, 5, 12}) {
    const std::int32_t ia = m + 2, iq = m + 1;
    std::vector<double> full;
    const std::vector<float> a = lower_triangle(m, ia, 1.0e30f, static_cast<unsigned>(m), full);
    std::vector<float> val(static_cast<std::size_t>(m)), vec(static_cast<std::size_t>(iq) * m, -9.0f);
    ea06c(a.data(), val.data(), vec.data(), m, ia, iq, nullptr);
    auto v = [&](std::int32_t i, std::int32_t k) {
      return static_cast<double>(vec[static_cast<std::size_t>(k) * iq + i]);
    };
    for (std::int32_t k = 0; k < m; ++k) {
      // A v = lambda v
      for (std::int32_t i = 0; i < m; ++i) {
        double av = 0.0;
        for (std::int32_t j = 0; j < m; ++j) av += full[static_cast<std::size_t>(j) * m + i] * v(j, k);
        EXPECT_NEAR(av, static_cast<double>(val[static_cast<std::size_t>(k)]) * v(i, k), 1e-4) << "m=" << m;
      }
      // orthonormal columns
      for (std::int32_t l = 0; l < m; ++l) {
        double dot = 0.0;
        for (std::int32_t i = 0; i < m; ++i) dot += v(i, k) * v(i, l);
        EXPECT_NEAR(dot, k == l ? 1.0 : 0.0, 1e-5) << "m=" << m;
      }
      // the entry of largest magnitude is positive
      std::int32_t big = 0;
      for (std::int32_t i = 1; i < m; ++i) {
        if (std::fabs(v(i, k)) > std::fabs(v(big, k))) big = i;
      }
      EXPECT_GT(v(big, k), 0.0);
      // rows beyond the order in the eigenvector array are not written
      if (iq > m) {
        EXPECT_EQ(vec[static_cast<std::size_t>(k) * iq + static_cast<std::size_t>(m)], -9.0f);
      }
    }
  }
}

TEST(Ea06c, KnownEigenpairsAndTheSameResultEveryTime) {
  // [[2, 1], [1, 2]]: eigenvalues 1 and 3, eigenvectors (1, -1)/sqrt 2 and (1, 1)/sqrt 2.
  const float a[4] = {2.0f, 1.0f, 777.0f, 2.0f};
  float val[2], vec[4];
  ea06c(a, val, vec, 2, 2, 2, nullptr);
  const float lo = std::fmin(val[0], val[1]), hi = std::fmax(val[0], val[1]);
  EXPECT_NEAR(lo, 1.0f, 1e-6f);
  EXPECT_NEAR(hi, 3.0f, 1e-6f);
  const int k3 = val[0] > val[1] ? 0 : 1;
  const float r = 1.0f / std::sqrt(2.0f);
  EXPECT_NEAR(vec[2 * k3], r, 1e-6f);
  EXPECT_NEAR(vec[2 * k3 + 1], r, 1e-6f);
  EXPECT_NEAR(std::fabs(vec[2 * (1 - k3)]), r, 1e-6f);
  EXPECT_NEAR(vec[2 * (1 - k3)] + vec[2 * (1 - k3) + 1], 0.0f, 1e-6f);

  float val2[2], vec2[4];
  ea06c(a, val2, vec2, 2, 2, 2, nullptr);
  for (int i = 0; i < 2; ++i) EXPECT_EQ(val[i], val2[i]);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(vec[i], vec2[i]);
}
