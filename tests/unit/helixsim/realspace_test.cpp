// helixsim's real-space model: the density map projects to the projection image, and the
// analytic transform is the discrete Fourier sum of that projection, equals its Bessel
// expansion over the selection rule, and moves and turns over as the layer-line conventions say.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <sstream>
#include <string>

#include "helixsim/helixsim.hpp"
#include "records/error.hpp"

namespace {

constexpr double pi = 3.14159265358979323846;

helixsim::Particle parse(const std::string& text) {
  std::istringstream in(text);
  records::LineSource src(in, "ctl");
  return helixsim::read_control(src);
}

// 6 subunits in 1 turn over a 40 A repeat, 5 repeats in a 48 x 48 x 50 box of 4 A voxels; blobs
// of at least two pixels' width, so that the aliased terms of the pixel sums stay below 1e-8.
const std::string small =
    "model real\nrepeat 40\nradius 20\npixel 4\nbox 48 50\nrule 6 1 4 6\n"
    "blob 0 0 0 8 1\nblob 6 25 5 9 0.6\nblob -4 -10 -7 8.5 0.3\n";

TEST(HelixsimReal, DensityProjectsToTheProjection) {
  const auto p = parse(small);
  const std::vector<float> map = helixsim::density_map(p);
  const std::vector<float> image = helixsim::projection_image(p);
  ASSERT_EQ(map.size(), 48u * 48u * 50u);
  ASSERT_EQ(image.size(), 48u * 50u);
  double top = 0.0, worst = 0.0;
  for (std::size_t iz = 0; iz < 50; ++iz)
    for (std::size_t ix = 0; ix < 48; ++ix) {
      double sum = 0.0;
      for (std::size_t iy = 0; iy < 48; ++iy) sum += double(map[(iz * 48 + iy) * 48 + ix]);
      top = std::max(top, sum);
      worst = std::max(worst, std::abs(sum - double(image[iz * 48 + ix])));
    }
  EXPECT_GT(top, 1.0);
  EXPECT_LT(worst, 1e-5 * top);
  // The box holds whole repeats: the helix continues across its ends (one repeat, 10 rows,
  // moves the projection onto itself turned by 360 degrees).
  for (std::size_t ix = 0; ix < 48; ++ix) EXPECT_NEAR(image[ix], image[10 * 48 + ix], 1e-5 * top);
}

TEST(HelixsimReal, AnalyticTransformIsTheProjectionsFourierSum) {
  auto p = parse(small + "rotate 17\nshift 3\n");
  const auto g = helixsim::geometry_of(p);
  ASSERT_EQ(g.width, 48);
  ASSERT_EQ(g.rows_per_layer, 5);
  const std::vector<float> image = helixsim::projection_image(p);
  double top = 0.0, worst = 0.0;
  for (int l = -4; l <= 4; ++l)
    for (int h = -23; h <= 23; ++h) {
      const double X = h / (48.0 * 4.0), Z = l / 40.0;
      std::complex<double> sum{0.0, 0.0};
      for (int iz = 0; iz < 50; ++iz)
        for (int ix = 0; ix < 48; ++ix)
          sum += double(image[std::size_t(iz * 48 + ix)]) *
                 std::polar(1.0, -2.0 * pi * (X * (ix - 24) * 4.0 + Z * (iz - 25) * 4.0));
      const std::complex<double> want = helixsim::real_transform(p, g, X, Z);
      top = std::max(top, std::abs(want));
      worst = std::max(worst, std::abs(sum - want));
    }
  EXPECT_LT(worst, 2e-6 * top) << "top " << top;
}

TEST(HelixsimReal, BesselExpansionSelectionRuleMotionAndPolarity) {
  const auto p = parse(small);
  const auto g = helixsim::geometry_of(p);
  const std::complex<double> i(0.0, 1.0);
  for (int l = 0; l <= 3; ++l)
    for (double R : {0.004, 0.03, 0.09}) {
      std::complex<double> plus{0.0, 0.0}, minus{0.0, 0.0};
      for (int n = -60; n <= 60; ++n) {
        const std::complex<double> G = helixsim::bessel_term(p, g, n, l, R);
        // 6 subunits in 1 turn: only (l + n)/6 whole carries data.
        if ((l + n) % 6 != 0) {
          EXPECT_LT(std::abs(G), 1e-9 * (1.0 + std::abs(plus))) << n << " " << l;
        }
        plus += std::pow(-i, n) * G;
        minus += std::pow(i, n) * G;
      }
      const double Z = l / 40.0;
      const std::complex<double> fp = helixsim::real_transform(p, g, R, Z), fm = helixsim::real_transform(p, g, -R, Z);
      EXPECT_LT(std::abs(plus - fp), 1e-9 * std::abs(fp) + 1e-9) << l << " " << R;
      EXPECT_LT(std::abs(minus - fm), 1e-9 * std::abs(fm) + 1e-9) << l << " " << R;
    }
  // Rotation phi0 and shift z0 add n*phi0 - 360*l*z0/c to G_nl; the opposite polarity (after
  // the motion) takes the complex conjugate of the whole transform.
  const auto moved = parse(small + "rotate 17\nshift 3\n");
  const auto turned = parse(small + "rotate 17\nshift 3\npolarity opposite\n");
  for (const auto& [n, l] : {std::pair{1, -1}, std::pair{-2, 2}, std::pair{5, 1}, std::pair{0, 0}}) {
    const double R = 0.05;
    const std::complex<double> want =
        helixsim::bessel_term(p, g, n, l, R) * std::polar(1.0, (n * 17.0 - 360.0 * l * 3.0 / 40.0) * pi / 180.0);
    EXPECT_LT(std::abs(helixsim::bessel_term(moved, g, n, l, R) - want), 1e-9 * std::abs(want) + 1e-12);
    for (double X : {-0.07, 0.02}) {
      const std::complex<double> f = helixsim::real_transform(moved, g, X, l / 40.0);
      EXPECT_LT(std::abs(helixsim::real_transform(turned, g, X, l / 40.0) - std::conj(f)), 1e-9 * std::abs(f) + 1e-12);
    }
  }
}

TEST(HelixsimReal, ControlChecks) {
  auto error_of = [](const std::string& text) -> std::string {
    try {
      parse(text);
    } catch (const records::ReadError& e) {
      return e.what();
    }
    return "no error";
  };
  const std::string base = "model real\nrepeat 40\nradius 20\npixel 4\nbox 48 50\n";
  EXPECT_NE(error_of(base + "layer 1 1\n").find("by a \"rule\" line"), std::string::npos);
  EXPECT_NE(error_of(base + "rule 6 1 4 6\nnoise 0.1 3\n").find("snr RATIO SEED"), std::string::npos);
  EXPECT_NE(error_of("model real\nrepeat 40\nradius 20\npixel 4\nbox 48 44\nrule 6 1 4 6\n").find("2, 3, 5 and 7"),
            std::string::npos);
  EXPECT_NE(error_of(base + "rule 6 1 4 6\nblob 0 0 0 30\n").find("beyond the box"), std::string::npos);
  EXPECT_NE(error_of("repeat 40\nradius 20\npixel 4\nbox 48 50\nrule 6 1 4 6\nsnr 2 1\n").find("real-space"),
            std::string::npos);
  // The default subunit is polar and the default amplitude is 1.
  const auto p = parse(base + "rule 6 1 4 6\nblob 0 0 0 4\n");
  EXPECT_EQ(p.blobs.size(), 1u);
  EXPECT_EQ(p.amplitude, 1.0f);
  const auto d = parse(base + "rule 6 1 4 6\nradius 10\n");
  EXPECT_EQ(d.blobs.size(), 3u);
}

}  // namespace
