#include "planefilt/filter.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "records/error.hpp"

using planefilt::filter;

namespace {

// ny lines of nx random values in slots of nx + 2 reals.
std::vector<float> random_image(std::int32_t nx, std::int32_t ny, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(-5.0f, 20.0f);
  std::vector<float> image(static_cast<std::size_t>(nx + 2) * static_cast<std::size_t>(ny), 0.0f);
  for (std::int32_t iy = 0; iy < ny; ++iy) {
    for (std::int32_t ix = 0; ix < nx; ++ix) image[static_cast<std::size_t>(iy * (nx + 2) + ix)] = dist(gen);
  }
  return image;
}

float at(const std::vector<float>& image, std::int32_t nx, std::int32_t ix, std::int32_t iy) {
  return image[static_cast<std::size_t>(iy * (nx + 2) + ix)];
}

// The filtered image computed directly: the full discrete transform in double, each frequency
// (kx, ky) multiplied by the table entry of its radius (frequencies folded to the nearest
// alias, |kx|/nx and |ky|/ny), and the inverse transform divided by nx*ny.
std::vector<double> direct_filter(const std::vector<float>& image, std::int32_t nx, std::int32_t ny,
                                  const std::vector<float>& table, double rstep) {
  using cd = std::complex<double>;
  const double two_pi = 2.0 * std::numbers::pi;
  std::vector<cd> spectrum(static_cast<std::size_t>(nx * ny));
  for (std::int32_t ky = 0; ky < ny; ++ky) {
    for (std::int32_t kx = 0; kx < nx; ++kx) {
      cd sum = 0.0;
      for (std::int32_t y = 0; y < ny; ++y) {
        for (std::int32_t x = 0; x < nx; ++x) {
          const double phase = -two_pi * (double(kx * x % nx) / nx + double(ky * y % ny) / ny);
          sum += double{at(image, nx, x, y)} * std::polar(1.0, phase);
        }
      }
      const double fx = double(std::min(kx, nx - kx)) / nx, fy = double(std::min(ky, ny - ky)) / ny;
      const double v = std::sqrt(fx * fx + fy * fy) / rstep + 1.5;
      // no radius of the test may lie near the boundary between two entries
      EXPECT_GT(std::fabs(v - std::round(v)), 1e-3) << "radius on an entry boundary: " << kx << "," << ky;
      spectrum[static_cast<std::size_t>(ky * nx + kx)] = sum * double{table[static_cast<std::size_t>(v) - 1]};
    }
  }
  std::vector<double> out(static_cast<std::size_t>(nx * ny));
  for (std::int32_t y = 0; y < ny; ++y) {
    for (std::int32_t x = 0; x < nx; ++x) {
      cd sum = 0.0;
      for (std::int32_t ky = 0; ky < ny; ++ky) {
        for (std::int32_t kx = 0; kx < nx; ++kx) {
          const double phase = two_pi * (double(kx * x % nx) / nx + double(ky * y % ny) / ny);
          sum += spectrum[static_cast<std::size_t>(ky * nx + kx)] * std::polar(1.0, phase);
        }
      }
      out[static_cast<std::size_t>(y * nx + x)] = sum.real() / (nx * ny);
    }
  }
  return out;
}

}  // namespace

TEST(Filter, ATableOfOnesReturnsTheImage) {
  for (auto [nx, ny] : {std::pair{16, 12}, std::pair{9, 7}, std::pair{64, 64}}) {
    std::vector<float> image = random_image(nx, ny, static_cast<unsigned>(nx + ny));
    const std::vector<float> original = image;
    const std::vector<float> ones(40, 1.0f);
    filter(image, nx, ny, ones, 0.02f);
    for (std::int32_t iy = 0; iy < ny; ++iy) {
      for (std::int32_t ix = 0; ix < nx; ++ix) {
        EXPECT_NEAR(at(image, nx, ix, iy), at(original, nx, ix, iy), 2e-5f) << nx << "x" << ny;
      }
    }
  }
}

TEST(Filter, ALowPassTableMatchesTheDirectTransform) {
  // Entry k serves radii near (k - 1)*0.07: full pass, a soft edge, then stop.
  const std::vector<float> table = {1.0f, 1.0f, 0.9f, 0.6f, 0.3f, 0.1f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
  for (auto [nx, ny] : {std::pair{8, 6}, std::pair{7, 5}, std::pair{6, 9}}) {
    std::vector<float> image = random_image(nx, ny, 7u * static_cast<unsigned>(nx + ny));
    const std::vector<double> want = direct_filter(image, nx, ny, table, 0.07);
    filter(image, nx, ny, table, 0.07f);
    for (std::int32_t iy = 0; iy < ny; ++iy) {
      for (std::int32_t ix = 0; ix < nx; ++ix) {
        EXPECT_NEAR(at(image, nx, ix, iy), want[static_cast<std::size_t>(iy * nx + ix)], 2e-5)
            << nx << "x" << ny << " at " << ix << "," << iy;
      }
    }
  }
}

TEST(Filter, RefusesATableTooShortAndBadCallsBeforeTouchingTheImage) {
  const std::int32_t nx = 16, ny = 16;
  std::vector<float> image = random_image(nx, ny, 5);
  const std::vector<float> original = image;
  auto refused = [&](auto call, const std::string& what) {
    try {
      call();
      ADD_FAILURE() << "not refused: " << what;
    } catch (const records::ReadError& e) {
      EXPECT_EQ(e.source(), "filter");
      EXPECT_NE(std::string(e.what()).find(what), std::string::npos) << e.what();
    }
    EXPECT_EQ(image, original);
  };
  // The corner (0.5, 0.5) has radius 0.7071: entry INT(0.7071/0.1 + 1.5) = 8.
  const std::vector<float> seven(7, 1.0f), eight(8, 1.0f);
  refused([&] { filter(image, nx, ny, seven, 0.1f); },
          "the filter table has 7 entries, but the 16 x 16 image needs entry 8");
  refused([&] { filter(image, nx, ny, eight, 0.0f); }, "rstep must be positive");
  refused([&] { filter(image, nx, ny, eight, -0.1f); }, "rstep must be positive");
  refused([&] { filter(image, 0, ny, eight, 0.1f); }, "at least 1 x 1");
  refused([&] { filter(std::span<float>(image).first(100), nx, ny, eight, 0.1f); }, "the image array holds 100 reals");
  filter(image, nx, ny, eight, 0.1f);  // eight entries are enough
}
