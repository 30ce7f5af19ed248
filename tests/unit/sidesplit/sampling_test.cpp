// Sampling along layer lines on small synthetic transforms held in memory.
#include "sidesplit/sampling.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <functional>
#include <limits>

namespace {

using sidesplit::interpt;
using sidesplit::LayerLineSamples;
using sidesplit::make_transform;
using sidesplit::RadialGrid;
using sidesplit::SamplingParams;
using sidesplit::Transform;
using cd = std::complex<double>;

constexpr double pi = 3.14159265358979323846;

// nx = 9 columns (a real-space image 16 pixels wide), ny = 8 rows (origin row ky = 4), pixels of
// 0.5 Angstroms: convx = 1/8, convy = 1/4 reciprocal Angstroms.
constexpr std::int32_t nx = 9;
constexpr std::int32_t ny = 8;
constexpr float sampl = 0.5f;

// A transform whose value at column h, row k (from 0) is f(h, k).
Transform transform_of(const std::function<cd(int, int)>& f, float xorig = 0.0f, float yorig = 0.0f) {
  std::vector<float> a(2 * nx * ny);
  for (int k = 0; k < ny; ++k) {
    for (int h = 0; h < nx; ++h) {
      const cd v = f(h, k);
      a[static_cast<std::size_t>(2 * (k * nx + h))] = static_cast<float>(v.real());
      a[static_cast<std::size_t>(2 * (k * nx + h) + 1)] = static_cast<float>(v.imag());
    }
  }
  return make_transform(nx, ny, xorig, yorig, 0.0f, 0.0f, sampl, std::move(a));
}

// A function linear in column and row, so that bilinear interpolation reproduces it exactly.
cd linear(double col, double row) { return {1.0 + 0.5 * col + 0.25 * row, 2.0 - 0.125 * col + 0.5 * row}; }

// The phase factor that moves the phase origin by (xorig, yorig) pixels at column h, row k.
cd origin_factor(double h, double k, double xorig, double yorig) {
  const double ph = -(xorig * h * 2.0 * pi / 16.0) - (yorig * (k - 4.0) * 2.0 * pi / 8.0);
  return std::polar(1.0, ph);
}

// The samples as complex numbers: amplitude and phase back to real and imaginary parts.
cd sample_value(const LayerLineSamples& s, std::size_t k) {
  return std::polar(static_cast<double>(s.arrf[k]), static_cast<double>(s.arrp[k]) * pi / 180.0);
}

void expect_near(cd got, cd want, double tol, const std::string& what) {
  EXPECT_NEAR(got.real(), want.real(), tol) << what;
  EXPECT_NEAR(got.imag(), want.imag(), tol) << what;
}

SamplingParams plain(float delr) {
  SamplingParams p;
  p.delr = delr;
  return p;
}

LayerLineSamples sample(const Transform& t, const SamplingParams& p, RadialGrid g, std::int32_t nord, float ysp) {
  LayerLineSamples s;
  sidesplit::sample_layer_line(t, p, g, nord, ysp, s);
  return s;
}

TEST(Transform, DerivedConstants) {
  const Transform t = transform_of([](int, int) { return cd{}; }, 2.0f, 1.0f);
  EXPECT_EQ(t.nxp2, 18);
  EXPECT_EQ(t.ky, 4);
  EXPECT_EQ(t.convx, 0.125f);
  EXPECT_EQ(t.convy, 0.25f);
  // -(2 + 0)*6.283185/16 and -(1 + 0)*6.283185/8 in single precision
  EXPECT_EQ(t.delpx, -(2.0f * 6.283185f) / 16.0f);
  EXPECT_EQ(t.delpy, -6.283185f / 8.0f);
}

TEST(Interpt, PointsOnPixelsReturnThePhaseShiftedPixel) {
  auto f = [](int h, int k) { return cd{1.0 + h, 0.5 * k - 1.0}; };
  const Transform t = transform_of(f, 2.0f, 1.0f);
  for (int h = 0; h < nx; ++h) {
    for (int k = 0; k < ny; ++k) {
      float a = 0.0f;
      float b = 0.0f;
      interpt(t, static_cast<float>(h) * t.convx, static_cast<float>(k - 4) * t.convy, a, b);
      expect_near(cd{a, b}, f(h, k) * origin_factor(h, k, 2.0, 1.0), 2e-5,
                  "column " + std::to_string(h) + " row " + std::to_string(k));
    }
  }
}

TEST(Interpt, BilinearBetweenPixelsAndFriedelMates) {
  // Phase-shifted values linear in column and row: the interpolation is the linear function.
  auto f = [](int h, int k) { return linear(h, k) / origin_factor(h, k, 3.0, -1.5); };
  const Transform t = transform_of(f, 3.0f, -1.5f);
  for (double col : {0.0, 0.25, 1.5, 3.75, 7.5}) {
    for (double row : {0.5, 2.25, 4.0, 5.75, 6.5}) {
      float a = 0.0f;
      float b = 0.0f;
      interpt(t, static_cast<float>(col * 0.125), static_cast<float>((row - 4.0) * 0.25), a, b);
      expect_near(cd{a, b}, linear(col, row), 2e-5, "at " + std::to_string(col) + ", " + std::to_string(row));
      // The point mirrored through the origin reads the conjugate of the same value.
      interpt(t, static_cast<float>(-col * 0.125), static_cast<float>(-(row - 4.0) * 0.25), a, b);
      if (col > 0.0) expect_near(cd{a, b}, std::conj(linear(col, row)), 2e-5, "mirrored");
    }
  }
}

TEST(Interpt, PointsOutsideTheTransformReadZero) {
  auto f = [](int h, int k) { return cd{1.0 + h, 1.0 + k}; };
  const Transform t = transform_of(f);
  float a = 0.0f;
  float b = 0.0f;
  // The last column and the last row are inside: their neighbours beyond have zero weight.
  interpt(t, 8.0f * 0.125f, 3.0f * 0.25f, a, b);
  expect_near(cd{a, b}, f(8, 7), 1e-6, "last column, last row");
  interpt(t, 8.0f * 0.125f, 0.5f * 0.25f, a, b);
  expect_near(cd{a, b}, 0.5 * f(8, 4) + 0.5 * f(8, 5), 1e-6, "last column between rows");
  // Beyond the last column or row, below row 0, or not a number: zero.
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  for (auto [x, y] : {std::pair{8.5f * 0.125f, 0.0f}, std::pair{0.0f, 3.5f * 0.25f}, std::pair{0.0f, -4.5f * 0.25f},
                      std::pair{-8.5f * 0.125f, 0.0f}, std::pair{-1.0f * 0.125f, 4.25f * 0.25f}, std::pair{nan, 0.0f},
                      std::pair{0.0f, nan}, std::pair{inf, 0.0f}, std::pair{1e30f, -1e30f}}) {
    a = b = 1.0f;
    interpt(t, x, y, a, b);
    EXPECT_EQ(a, 0.0f) << x << ", " << y;
    EXPECT_EQ(b, 0.0f) << x << ", " << y;
  }
}

TEST(SampleLayerLine, PlainGeometryReadsRowKyPlusYspAtColumnROverConvx) {
  // rot = shear = tilt = 0, one row: sample n is the interpolation at column R/convx,
  // row ky + ysp; a negative R reads the conjugate at column -R/convx, row ky - ysp.
  auto f = [](int h, int k) { return linear(h, k) / origin_factor(h, k, 2.0, 1.0); };
  const Transform t = transform_of(f, 2.0f, 1.0f);
  const RadialGrid g{-12, 12, 25};  // R from -12*delr to 12*delr, columns -6 to 6
  const LayerLineSamples s = sample(t, plain(0.0625f), g, 5, 1.5f);
  ASSERT_EQ(s.recsp.size(), 25u);
  for (std::size_t k = 0; k < 25; ++k) {
    const int idx = static_cast<int>(k) - 12;
    EXPECT_EQ(s.recsp[k], static_cast<float>(idx) * 0.0625f);
    const double col = idx * 0.5;
    const cd want = col >= 0 ? linear(col, 5.5) : std::conj(linear(-col, 2.5));
    expect_near(sample_value(s, k), want, 1e-4, "R index " + std::to_string(idx));
  }
}

TEST(SampleLayerLine, ShearAndRotationPlaceTheLayerLine) {
  auto f = [](int h, int k) { return linear(h, k); };
  const Transform t = transform_of(f);
  const double ysp = 1.0;
  for (double deg : {20.0, -15.0}) {
    SamplingParams p = plain(0.0625f);
    // rot = shear: the layer line runs at angle rot, meets the meridian (also at angle rot
    // from the y axis) at distance convy*ysp*cos(rot) from the origin.
    p.rot = static_cast<float>(deg) * sidesplit::deg_to_rad;
    p.shear = p.rot;
    const LayerLineSamples s = sample(t, p, RadialGrid{2, 8, 7}, 1, static_cast<float>(ysp));
    const double th = deg * pi / 180.0;
    for (std::size_t k = 0; k < 7; ++k) {
      const double r = (2.0 + static_cast<double>(k)) * 0.0625;
      const double spll = 0.25 * ysp * std::cos(th);
      const double x = r * std::cos(th) - spll * std::sin(th);
      const double y = r * std::sin(th) + spll * std::cos(th);
      expect_near(sample_value(s, k), linear(x / 0.125, 4.0 + y / 0.25), 2e-3, "rot " + std::to_string(deg));
    }
  }
}

TEST(SampleLayerLine, BandSums) {
  // At column 2 rows 5, 6, 7 hold 1, i and 1 + i; the band of iywidth 1 about ysp = 2 sums them.
  auto f = [](int h, int k) {
    if (h != 2) return cd{0.25, 0.0};
    if (k == 5) return cd{1.0, 0.0};
    if (k == 6) return cd{0.0, 1.0};
    if (k == 7) return cd{1.0, 1.0};
    return cd{0.25, 0.0};
  };
  const Transform t = transform_of(f);
  SamplingParams p = plain(0.125f);
  p.iywidth = 1;
  const RadialGrid g{2, 2, 1};
  LayerLineSamples s = sample(t, p, g, 1, 2.0f);
  EXPECT_FLOAT_EQ(s.arrf[0], std::sqrt(8.0f));
  EXPECT_FLOAT_EQ(s.arrp[0], 90.0f);  // the centre row alone
  p.iphase = 1;
  s = sample(t, p, g, 1, 2.0f);
  EXPECT_FLOAT_EQ(s.arrf[0], std::sqrt(8.0f));
  EXPECT_FLOAT_EQ(s.arrp[0], 45.0f);  // the band sum

  // The equator takes its centre row only, however wide the band.
  auto eq = [](int h, int k) { return k == 4 && h == 2 ? cd{0.0, -2.0} : cd{5.0, 5.0}; };
  p.iywidth = 3;
  s = sample(transform_of(eq), p, g, 0, 0.0f);
  EXPECT_FLOAT_EQ(s.arrf[0], 2.0f);
  EXPECT_FLOAT_EQ(s.arrp[0], -90.0f);

  // A band sum of exactly zero: amplitude 0 and phase 0, whatever the centre row holds.
  auto cancel = [](int h, int k) {
    if (h == 2 && (k == 5 || k == 7)) return cd{1.0, 1.0};
    if (h == 2 && k == 6) return cd{-2.0, -2.0};
    return cd{3.0, 0.0};
  };
  for (std::int32_t iphase : {0, 1}) {
    p.iywidth = 1;
    p.iphase = iphase;
    s = sample(transform_of(cancel), p, g, 1, 2.0f);
    EXPECT_EQ(s.arrf[0], 0.0f);
    EXPECT_EQ(s.arrp[0], 0.0f);
  }

  // A negative half-width takes no rows at all.
  p.iywidth = -1;
  s = sample(t, p, g, 1, 2.0f);
  EXPECT_EQ(s.arrf[0], 0.0f);
  EXPECT_EQ(s.arrp[0], 0.0f);
}

TEST(SampleLayerLine, TiltBeyondTheRadiusOnAnyRowZeroesThePoint) {
  auto f = [](int h, int k) { return cd{1.0 + h, 1.0 + k}; };
  const Transform t = transform_of(f);
  SamplingParams p = plain(0.0625f);
  p.tilt = 30.0f * sidesplit::deg_to_rad;  // sin(tilt) = 1/2
  p.yfact = 1.0f;
  p.iywidth = 1;
  // ysp = 2: rows at heights 1, 2, 3 have offsets d = 0.125, 0.25, 0.375 (just under, as
  // sin(tilt) is just under 1/2). The bottom row decides for 0.3125 < R < 0.375.
  const LayerLineSamples s = sample(t, p, RadialGrid{0, 8, 9}, 2, 2.0f);
  for (std::size_t k = 0; k < 9; ++k) {
    if (k <= 5) {
      EXPECT_EQ(s.arrf[k], 0.0f) << "R index " << k;
      EXPECT_EQ(s.arrp[k], 0.0f) << "R index " << k;
    } else {
      EXPECT_GT(s.arrf[k], 0.0f) << "R index " << k;
    }
  }
}

TEST(SampleLayerLine, TiltCorrectsTheRadiusAndTurnsThePhaseByTheBesselOrder) {
  auto f = [](int h, int k) { return linear(h, k); };
  const Transform t = transform_of(f);
  const RadialGrid g{-8, 8, 17};
  const double d = 0.5 * 0.25 * 2.0;  // sin(30 degrees) * convy * ysp
  for (float tilt_deg : {30.0f, -30.0f}) {
    SamplingParams p = plain(0.0625f);
    p.tilt = tilt_deg * sidesplit::deg_to_rad;
    p.yfact = 1.0f;
    // nord = 0: the radius is corrected, the phase is not.
    const LayerLineSamples s0 = sample(t, p, g, 0, 2.0f);
    for (std::size_t k = 0; k < 17; ++k) {
      const double rr = (static_cast<double>(k) - 8.0) * 0.0625;
      if (std::fabs(rr) <= d + 1e-6) continue;  // on or inside the offset
      const double r = std::copysign(std::sqrt(rr * rr - d * d), rr);
      const cd want = r >= 0 ? linear(r / 0.125, 6.0) : std::conj(linear(-r / 0.125, 2.0));
      expect_near(sample_value(s0, k), want, 1e-3, "nord 0, R " + std::to_string(rr));
    }
    // Other orders: the same sample turned by -+|nord|*asin(|d/R|), the sign following the
    // signs of tilt, R and nord.
    for (std::int32_t nord : {3, -3}) {
      const LayerLineSamples s = sample(t, p, g, nord, 2.0f);
      for (std::size_t k = 0; k < 17; ++k) {
        const double rr = (static_cast<double>(k) - 8.0) * 0.0625;
        if (std::fabs(rr) <= d + 1e-6) continue;
        const double sign = (tilt_deg < 0 ? -1.0 : 1.0) * (rr < 0 ? -1.0 : 1.0) * (nord < 0 ? -1.0 : 1.0);
        const double theta = 3.0 * std::asin(d / std::fabs(rr));
        expect_near(sample_value(s, k), sample_value(s0, k) * std::polar(1.0, -sign * theta), 1e-3,
                    "nord " + std::to_string(nord) + ", R " + std::to_string(rr));
      }
    }
  }
}

TEST(SampleLayerLine, TiltWithNoOffsetAtZeroRadiusIsTheUncorrectedSample) {
  auto f = [](int h, int k) { return cd{1.0 + h, 0.5 + k}; };
  const Transform t = transform_of(f);
  SamplingParams p = plain(0.125f);
  p.tilt = 10.0f * sidesplit::deg_to_rad;
  p.yfact = 0.0f;  // d = 0 on every row, also at R = 0
  const LayerLineSamples tilted = sample(t, p, RadialGrid{-2, 2, 5}, 4, 1.0f);
  p.tilt = 0.0f;
  const LayerLineSamples flat = sample(t, p, RadialGrid{-2, 2, 5}, 4, 1.0f);
  for (std::size_t k = 0; k < 5; ++k) {
    EXPECT_TRUE(std::isfinite(tilted.arrf[k]) && std::isfinite(tilted.arrp[k])) << k;
    EXPECT_EQ(tilted.arrf[k], flat.arrf[k]) << k;
    EXPECT_EQ(tilted.arrp[k], flat.arrp[k]) << k;
  }
}

TEST(SampleLayerLine, LayerLinesReachingBeyondTheTransformReadZeroThere) {
  auto f = [](int h, int k) { return cd{1.0 + h, 1.0 + k}; };
  const Transform t = transform_of(f);
  SamplingParams p = plain(0.125f);
  p.iywidth = 2;
  // ysp = 3: rows ky + 1 .. ky + 5, of which ky + 4 and ky + 5 lie beyond the last row;
  // columns up to 20 lie beyond the last column 8.
  const LayerLineSamples s = sample(t, p, RadialGrid{-20, 20, 41}, 1, 3.0f);
  for (std::size_t k = 0; k < 41; ++k) {
    const int col = std::abs(static_cast<int>(k) - 20);
    if (col > 8) {
      EXPECT_EQ(s.arrf[k], 0.0f) << col;
    } else {
      EXPECT_GT(s.arrf[k], 0.0f) << col;
    }
  }
}

}  // namespace
