#include "adapters/fft.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <random>
#include <stdexcept>
#include <vector>

using adapters::odfft;
using adapters::todfft;

namespace {

using cd = std::complex<double>;

std::vector<float> random_values(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> v(n);
  for (auto& x : v) x = dist(gen);
  return v;
}

// Direct transform, kernel exp(-2 pi i jk/n), no scaling.
std::vector<cd> dft(const std::vector<cd>& x) {
  const auto n = x.size();
  std::vector<cd> out(n);
  for (std::size_t k = 0; k < n; ++k) {
    for (std::size_t j = 0; j < n; ++j) {
      out[k] +=
          x[j] * std::polar(1.0, -2.0 * std::numbers::pi * static_cast<double>(j * k % n) / static_cast<double>(n));
    }
  }
  return out;
}

constexpr double tol = 2e-5;

}  // namespace

TEST(Odfft, RealLinesGoToTheirSpectraInTheirSlotsAndBack) {
  for (std::int32_t n : {1, 2, 7, 8, 15, 64}) {
    const std::int32_t m = 3;
    const std::size_t slot = static_cast<std::size_t>(n) + 2;
    std::vector<float> data = random_values(slot * m, static_cast<unsigned>(n));
    const std::vector<float> original = data;
    odfft(data.data(), n, m, 0);
    for (std::int32_t s = 0; s < m; ++s) {
      std::vector<cd> line(static_cast<std::size_t>(n));
      for (std::int32_t j = 0; j < n; ++j)
        line[static_cast<std::size_t>(j)] = original[s * slot + static_cast<std::size_t>(j)];
      const auto want = dft(line);
      for (std::int32_t k = 0; k <= n / 2; ++k) {
        EXPECT_NEAR(data[s * slot + 2 * static_cast<std::size_t>(k)], want[static_cast<std::size_t>(k)].real(), tol * n)
            << "n=" << n;
        EXPECT_NEAR(data[s * slot + 2 * static_cast<std::size_t>(k) + 1], want[static_cast<std::size_t>(k)].imag(),
                    tol * n)
            << "n=" << n;
      }
    }
    odfft(data.data(), n, m, 1);
    for (std::int32_t s = 0; s < m; ++s) {
      for (std::int32_t j = 0; j < n; ++j) {
        const std::size_t p = s * slot + static_cast<std::size_t>(j);
        EXPECT_NEAR(data[p], original[p], tol) << "n=" << n << " line " << s << " value " << j;
      }
    }
  }
}

TEST(Odfft, ComplexSequencesTransformInPlaceAndBack) {
  for (std::int32_t n : {1, 5, 16, 30}) {
    const std::int32_t m = 4;
    std::vector<float> data = random_values(2 * static_cast<std::size_t>(n) * m, 100u + static_cast<unsigned>(n));
    const std::vector<float> original = data;
    odfft(data.data(), n, m, -1);
    for (std::int32_t s = 0; s < m; ++s) {
      std::vector<cd> seq(static_cast<std::size_t>(n));
      for (std::int32_t j = 0; j < n; ++j) {
        const std::size_t p = 2 * (static_cast<std::size_t>(s) * n + static_cast<std::size_t>(j));
        seq[static_cast<std::size_t>(j)] = cd(original[p], original[p + 1]);
      }
      const auto want = dft(seq);
      for (std::int32_t k = 0; k < n; ++k) {
        const std::size_t p = 2 * (static_cast<std::size_t>(s) * n + static_cast<std::size_t>(k));
        EXPECT_NEAR(data[p], want[static_cast<std::size_t>(k)].real(), tol * n);
        EXPECT_NEAR(data[p + 1], want[static_cast<std::size_t>(k)].imag(), tol * n);
      }
    }
    odfft(data.data(), n, m, -2);
    for (std::size_t p = 0; p < data.size(); ++p) EXPECT_NEAR(data[p], original[p], tol) << "n=" << n;
  }
}

TEST(Odfft, OnePlanServesArraysAtAnyAddress) {
  // The same lines at an odd float offset give the same bits as at the start of an array.
  const std::int32_t n = 12, m = 2;
  const std::size_t count = (static_cast<std::size_t>(n) + 2) * m;
  std::vector<float> a = random_values(count, 9);
  std::vector<float> b(count + 1);
  std::copy(a.begin(), a.end(), b.begin() + 1);
  odfft(a.data(), n, m, 0);
  odfft(b.data() + 1, n, m, 0);
  for (std::size_t p = 0; p < count; ++p) EXPECT_EQ(a[p], b[p + 1]);
  EXPECT_THROW(odfft(a.data(), n, m, 2), std::invalid_argument);
}

TEST(Todfft, ImageGoesToItsPackedTransformAndBack) {
  for (auto [nx, ny] : {std::pair{8, 6}, std::pair{7, 5}, std::pair{1, 4}, std::pair{6, 1}, std::pair{32, 32}}) {
    const std::size_t slot = static_cast<std::size_t>(nx) + 2;
    const std::int32_t h = nx / 2 + 1;
    std::vector<float> image = random_values(slot * ny, static_cast<unsigned>(nx * 31 + ny));
    const std::vector<float> original = image;
    todfft(image.data(), nx, ny, 0);
    for (std::int32_t ky = 0; ky < ny; ++ky) {
      for (std::int32_t kx = 0; kx < h; ++kx) {
        cd want = 0.0;
        for (std::int32_t y = 0; y < ny; ++y) {
          for (std::int32_t x = 0; x < nx; ++x) {
            const double phase = -2.0 * std::numbers::pi *
                                 (static_cast<double>(kx * x % nx) / nx + static_cast<double>(ky * y % ny) / ny);
            want += static_cast<double>(original[static_cast<std::size_t>(y) * slot + static_cast<std::size_t>(x)]) *
                    std::polar(1.0, phase);
          }
        }
        const std::size_t p = 2 * (static_cast<std::size_t>(ky) * h + static_cast<std::size_t>(kx));
        EXPECT_NEAR(image[p], want.real(), tol * nx * ny) << nx << "x" << ny << " (" << kx << "," << ky << ")";
        EXPECT_NEAR(image[p + 1], want.imag(), tol * nx * ny) << nx << "x" << ny << " (" << kx << "," << ky << ")";
      }
    }
    todfft(image.data(), nx, ny, 1);
    for (std::int32_t y = 0; y < ny; ++y) {
      for (std::int32_t x = 0; x < nx; ++x) {
        const std::size_t p = static_cast<std::size_t>(y) * slot + static_cast<std::size_t>(x);
        EXPECT_NEAR(image[p], original[p], tol) << nx << "x" << ny;
      }
    }
  }
}

TEST(Rfft3d, MapGoesToItsHalfSpectrumAndBack) {
  // Odd and even sizes along each axis, against the direct sum over every voxel.
  for (const auto& [nx, ny, nz] : {std::array{4, 3, 5}, std::array{5, 4, 2}, std::array{1, 1, 3}}) {
    const std::size_t count = static_cast<std::size_t>(nx * ny * nz);
    const std::vector<float> map = random_values(count, static_cast<unsigned>(nx * 100 + ny * 10 + nz));
    const std::int32_t h = nx / 2 + 1;
    std::vector<float> spectrum(2 * static_cast<std::size_t>(h * ny * nz));
    adapters::rfft3d_forward(map.data(), spectrum.data(), nx, ny, nz);
    for (std::int32_t kz = 0; kz < nz; ++kz)
      for (std::int32_t ky = 0; ky < ny; ++ky)
        for (std::int32_t kx = 0; kx < h; ++kx) {
          cd want{};
          for (std::int32_t z = 0; z < nz; ++z)
            for (std::int32_t y = 0; y < ny; ++y)
              for (std::int32_t x = 0; x < nx; ++x) {
                const double t = double(kx * x) / nx + double(ky * y) / ny + double(kz * z) / nz;
                want += double(map[static_cast<std::size_t>((z * ny + y) * nx + x)]) *
                        std::polar(1.0, -2.0 * std::numbers::pi * t);
              }
          const std::size_t at = 2 * static_cast<std::size_t>((kz * ny + ky) * h + kx);
          EXPECT_NEAR(spectrum[at], want.real(), 1e-4);
          EXPECT_NEAR(spectrum[at + 1], want.imag(), 1e-4);
        }
    std::vector<float> back(count, 99.0f);
    adapters::rfft3d_inverse(spectrum.data(), back.data(), nx, ny, nz);
    for (std::size_t i = 0; i < count; ++i) EXPECT_NEAR(back[i], map[i], 1e-5f);
  }
}
