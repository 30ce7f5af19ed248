#include "planefilt/interp.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "records/error.hpp"

using planefilt::cinterp;
using planefilt::interp;
using planefilt::Matrix2;

namespace {

const Matrix2 identity = {1.0f, 0.0f, 0.0f, 1.0f};

std::vector<float> random_values(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(-3.0f, 7.0f);
  std::vector<float> v(n);
  for (auto& x : v) x = dist(gen);
  return v;
}

// A smooth image: f at pixel (x, y) counted from 0.
double smooth(double x, double y) {
  return 10.0 + 3.0 * std::sin(0.15 * x + 0.1) * std::cos(0.12 * y - 0.3) + 0.02 * x * y;
}

}  // namespace

TEST(Interp, IdentityWithCentredInputReturnsTheInputExactly) {
  for (auto [nx, ny] : {std::pair{7, 5}, std::pair{8, 6}, std::pair{1, 1}}) {
    const std::size_t n = static_cast<std::size_t>(nx * ny);
    const std::vector<float> ain = random_values(n, static_cast<unsigned>(nx * ny));
    std::vector<float> aout(n, -1.0f);
    interp(ain, aout, nx, ny, nx, ny, identity, 0.5f * static_cast<float>(nx), 0.5f * static_cast<float>(ny), 0.0f,
           0.0f, 1.0f);
    EXPECT_EQ(aout, ain) << nx << "x" << ny;

    std::vector<float> cin = random_values(2 * n, 11u + static_cast<unsigned>(nx));
    std::vector<float> cout(2 * n, -1.0f);
    cinterp(cin, cout, nx, ny, nx, ny, identity, 0.5f * static_cast<float>(nx), 0.5f * static_cast<float>(ny), 0.0f,
            0.0f, 1.0f);
    EXPECT_EQ(cout, cin) << nx << "x" << ny;
  }
}

TEST(Interp, AKnownRotationAndShiftOfASmoothImage) {
  const std::int32_t nxin = 60, nyin = 50, nxout = 90, nyout = 80;
  std::vector<float> ain(static_cast<std::size_t>(nxin * nyin));
  for (std::int32_t j = 0; j < nyin; ++j) {
    for (std::int32_t i = 0; i < nxin; ++i)
      ain[static_cast<std::size_t>(j * nxin + i)] = static_cast<float>(smooth(i, j));
  }
  const double theta = 30.0 * std::numbers::pi / 180.0, mag = 1.25;
  const Matrix2 rmat = {static_cast<float>(mag * std::cos(theta)), static_cast<float>(mag * std::sin(theta)),
                        static_cast<float>(-mag * std::sin(theta)), static_cast<float>(mag * std::cos(theta))};
  const float xcin = 31.3f, ycin = 24.6f, xsh = 1.5f, ysh = -2.25f, scale = 2.0f;
  std::vector<float> aout(static_cast<std::size_t>(nxout * nyout), -1.0f);
  interp(ain, aout, nxin, nyin, nxout, nyout, rmat, xcin, ycin, xsh, ysh, scale);

  // Output pixel (ix, iy) shows the input at rmat^-1 (dx, dy) + (xcin, ycin), counted from 0.
  const double r11 = double{rmat[0]}, r21 = double{rmat[1]}, r12 = double{rmat[2]}, r22 = double{rmat[3]};
  const double det = r11 * r22 - r12 * r21;
  // The quadratic has no cross term: its error is about |f_xy| |fx fy| <= |f_xy|/4, plus
  // third-order terms well below 1e-3.
  const double f_xy = 3.0 * 0.15 * 0.12 + 0.02;
  const double tol = double{scale} * (0.25 * f_xy + 1e-3);
  int inside = 0, outside = 0;
  for (std::int32_t iy = 1; iy <= nyout; ++iy) {
    for (std::int32_t ix = 1; ix <= nxout; ++ix) {
      const double dx = ix - (0.5 * nxout + double{xsh} + 1.0), dy = iy - (0.5 * nyout + double{ysh} + 1.0);
      const double x = (r22 * dx - r12 * dy) / det + double{xcin}, y = (-r21 * dx + r11 * dy) / det + double{ycin};
      const float got = aout[static_cast<std::size_t>((iy - 1) * nxout + ix - 1)];
      if (x > 1.0 && x < nxin - 2.0 && y > 1.0 && y < nyin - 2.0) {
        EXPECT_NEAR(got, double{scale} * smooth(x, y), tol) << "output pixel " << ix << "," << iy;
        ++inside;
      } else if (x < -0.6 || x > nxin - 0.4 || y < -0.6 || y > nyin - 0.4) {
        EXPECT_EQ(got, 0.0f) << "output pixel " << ix << "," << iy;
        ++outside;
      }
    }
  }
  EXPECT_GT(inside, 1000);
  EXPECT_GT(outside, 50);
}

TEST(Interp, EdgesNearestPixelAndHalfwayPoints) {
  // 3 x 3 input, one output pixel; identity, no shift: xp = xcin + 0.5, yp = ycin + 0.5.
  const std::vector<float> ain = {1.0f, 2.0f, 5.0f,  //
                                  4.0f, 8.0f, 9.0f,  //
                                  3.0f, 6.0f, 7.0f};
  auto one = [&](float xcin, float ycin) {
    std::vector<float> aout(1, -1.0f);
    interp(ain, aout, 3, 3, 1, 1, identity, xcin, ycin, 0.0f, 0.0f, 1.0f);
    return aout[0];
  };
  // xp = 0.75, yp = 2: pixel (1, 2), fx = -0.25; the missing left neighbour is the centre 4:
  // ((8 + 4)/2 - 4)*0.0625 + ((8 - 4)/2)*(-0.25) + 4 = 3.625
  EXPECT_EQ(one(0.25f, 1.5f), 3.625f);
  // xp = 1.5 goes to pixel 2 (away from zero), fx = -0.5, yp = 2:
  // ((9 + 4)/2 - 8)*0.25 + ((9 - 4)/2)*(-0.5) + 8 = 6.375
  EXPECT_EQ(one(1.0f, 1.5f), 6.375f);
  // yp = 3.25 on the top edge row 3 at xp = 2: ((7 + 3)/2 - 6)*0 ... ((6 + 8)/2 - 6)*0.0625 + ((6 - 8)/2)*0.25 + 6
  EXPECT_EQ(one(1.5f, 2.75f), 5.8125f);
  // xp = 0.5 rounds to pixel 1 (inside), xp = -0.5 to pixel -1 (outside), xp = 3.5 to 4 (outside)
  EXPECT_EQ(one(0.0f, 1.5f), ((8.0f + 4.0f) / 2.0f - 4.0f) * 0.25f + ((8.0f - 4.0f) / 2.0f) * -0.5f + 4.0f);
  EXPECT_EQ(one(-1.0f, 1.5f), 0.0f);
  EXPECT_EQ(one(3.0f, 1.5f), 0.0f);
  EXPECT_EQ(one(1.5f, 3.0f), 0.0f);
  // scale factor
  std::vector<float> aout(1);
  interp(ain, aout, 3, 3, 1, 1, identity, 1.5f, 1.5f, 0.0f, 0.0f, -0.5f);
  EXPECT_EQ(aout[0], -4.0f);
}

TEST(Cinterp, BothPartsGoThroughTheSameInterpolation) {
  const std::int32_t nx = 9, ny = 8;
  const std::size_t n = static_cast<std::size_t>(nx * ny);
  const std::vector<float> re = random_values(n, 1), im = random_values(n, 2);
  std::vector<float> complex_in(2 * n);
  for (std::size_t p = 0; p < n; ++p) {
    complex_in[2 * p] = re[p];
    complex_in[2 * p + 1] = im[p];
  }
  const Matrix2 rmat = {0.8f, -0.3f, 0.4f, 1.1f};
  const std::int32_t nxo = 7, nyo = 10;
  const std::size_t no = static_cast<std::size_t>(nxo * nyo);
  std::vector<float> re_out(no), im_out(no), complex_out(2 * no);
  interp(re, re_out, nx, ny, nxo, nyo, rmat, 4.2f, 3.7f, 0.3f, -0.6f, 1.5f);
  interp(im, im_out, nx, ny, nxo, nyo, rmat, 4.2f, 3.7f, 0.3f, -0.6f, 1.5f);
  cinterp(complex_in, complex_out, nx, ny, nxo, nyo, rmat, 4.2f, 3.7f, 0.3f, -0.6f, 1.5f);
  int zeros = 0;
  for (std::size_t p = 0; p < no; ++p) {
    EXPECT_EQ(complex_out[2 * p], re_out[p]);
    EXPECT_EQ(complex_out[2 * p + 1], im_out[p]);
    zeros += re_out[p] == 0.0f ? 1 : 0;
  }
  EXPECT_GT(zeros, 0);  // some points fall outside the input
  EXPECT_LT(zeros, static_cast<int>(no));
}

TEST(Interp, RefusesASingularMatrixAndShortArrays) {
  const std::vector<float> ain(12, 1.0f);
  std::vector<float> aout(12, -1.0f);
  auto refused = [&](auto call, const char* routine, const std::string& what) {
    try {
      call();
      ADD_FAILURE() << "not refused: " << what;
    } catch (const records::ReadError& e) {
      EXPECT_EQ(e.source(), routine);
      EXPECT_NE(std::string(e.what()).find(what), std::string::npos) << e.what();
    }
    EXPECT_EQ(aout, std::vector<float>(12, -1.0f));
  };
  const Matrix2 singular = {1.0f, 2.0f, 2.0f, 4.0f};
  refused([&] { interp(ain, aout, 4, 3, 4, 3, singular, 2.0f, 1.5f, 0.0f, 0.0f, 1.0f); }, "interp",
          "has determinant 0.0 and cannot be inverted");
  refused([&] { cinterp(ain, aout, 2, 3, 2, 3, singular, 1.0f, 1.5f, 0.0f, 0.0f, 1.0f); }, "cinterp",
          "has determinant 0.0");
  const Matrix2 nan_matrix = {std::nanf(""), 0.0f, 0.0f, 1.0f};
  refused([&] { interp(ain, aout, 4, 3, 4, 3, nan_matrix, 2.0f, 1.5f, 0.0f, 0.0f, 1.0f); }, "interp",
          "determinant NaN");
  refused([&] { interp(ain, aout, 4, 3, 4, 4, identity, 2.0f, 1.5f, 0.0f, 0.0f, 1.0f); }, "interp",
          "the output array holds 12 reals, 16 are needed");
  refused([&] { cinterp(ain, aout, 4, 3, 2, 3, identity, 2.0f, 1.5f, 0.0f, 0.0f, 1.0f); }, "cinterp",
          "the input array holds 12 reals, 24 are needed");
  refused([&] { interp(ain, aout, -4, 3, 4, 3, identity, 2.0f, 1.5f, 0.0f, 0.0f, 1.0f); }, "interp", "negative");
}
