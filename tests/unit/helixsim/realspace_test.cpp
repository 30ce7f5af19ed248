// helixsim's real-space model: the analytic transform equals the discrete Fourier sum of the
// projection of the density map, and the control input of the model is checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <sstream>
#include <string>

#include "helixsim/helixsim.hpp"
#include "records/error.hpp"

namespace {

constexpr double pi = 3.14159265358979323846;

helixsim::Particle real_particle(const std::string& extra) {
  std::istringstream in("model real\nrepeat 60\nradius 25\npixel 3\nbox 40 40\nrule 5 2 6 3\n" + extra);
  records::LineSource src(in, "ctl");
  return helixsim::read_control(src);
}

std::string error_of(const std::string& extra) {
  try {
    real_particle(extra);
  } catch (const records::ReadError& e) {
    return e.what();
  }
  return "no error";
}

TEST(HelixsimRealSpace, AnalyticTransformIsTheFourierSumOfTheProjection) {
  // Moved and turned over, with a subunit of the control's own and the default one: the
  // projection's transform, summed directly with the origin at column W/2 and row H/2, is the
  // blobs' transform on the same scale. The image is 40 x 40 pixels of 3 A, 2 repeats of 60 A.
  for (const std::string& extra :
       {std::string("rotate 20\nshift 7\n"), std::string("rotate -35\nshift -11\npolarity opposite\nscale 1.1\n"),
        std::string("subunit 0 0 0 5 1\nsubunit 4 15 6 4.5 0.5\n")}) {
    const helixsim::Particle p = real_particle(extra);
    const auto blobs = helixsim::placed_blobs(p);
    ASSERT_EQ(blobs.size(), 10u * helixsim::subunit_of(p).size());
    const std::vector<float> rho = helixsim::density_map(p, blobs);
    const std::vector<float> proj = helixsim::project_map(p, rho);
    ASSERT_EQ(proj.size(), 40u * 40u);
    // The projection made from the blobs without the map is the same sum.
    const std::vector<float> direct = helixsim::project_blobs(p, blobs);
    ASSERT_EQ(direct.size(), proj.size());
    const float top = *std::max_element(proj.begin(), proj.end());
    for (std::size_t i = 0; i < proj.size(); ++i)
      ASSERT_NEAR(direct[i], proj[i], 1e-5f * top) << extra << " pixel " << i;
    double biggest = 0.0, worst = 0.0;
    for (const auto& [h, k] : {std::pair{1, 0}, std::pair{3, 2}, std::pair{7, -4}, std::pair{2, 6}, std::pair{5, -8},
                               std::pair{0, 10}, std::pair{9, 12}}) {
      std::complex<double> sum{0.0, 0.0};
      for (int iz = 0; iz < 40; ++iz)
        for (int ix = 0; ix < 40; ++ix)
          sum += double(proj[std::size_t(iz) * 40 + std::size_t(ix)]) *
                 std::polar(1.0, -2.0 * pi * (h * (ix - 20) + k * (iz - 20)) / 40.0);
      const std::complex<double> want = helixsim::real_transform(p, blobs, h / 120.0, k / 120.0);
      biggest = std::max(biggest, std::abs(want));
      worst = std::max(worst, std::abs(sum - want));
    }
    EXPECT_LT(worst, 1e-4 * biggest) << extra;
    EXPECT_GT(biggest, 1.0);
  }
}

TEST(HelixsimRealSpace, RadialScaleIsRhoOfROverS) {
  // rho'(r, phi, z) = rho(r/s, phi, z) has the transform F'(R, Phi, Z) = s^2 F(s R, Phi, Z): the
  // scale the search programs fit and layermean divides out. Moved and turned over too.
  for (const std::string& motion : {std::string("rotate 20\nshift 7\n"), std::string("polarity opposite\n")}) {
    const helixsim::Particle one = real_particle(motion);
    for (const char* factor : {"0.9", "1.08"}) {
      const helixsim::Particle scaled = real_particle(motion + "scale " + factor + "\n");
      const double s = double(scaled.scale);  // as read, in single precision
      const auto b1 = helixsim::placed_blobs(one), bs = helixsim::placed_blobs(scaled);
      double biggest = 0.0, worst = 0.0;
      for (double x : {0.0, 0.011, -0.023, 0.047, -0.08})
        for (double z : {0.0, 1.0 / 60.0, -3.0 / 60.0, 5.0 / 60.0}) {
          const std::complex<double> want = s * s * helixsim::real_transform(one, b1, s * x, z);
          biggest = std::max(biggest, std::abs(want));
          worst = std::max(worst, std::abs(helixsim::real_transform(scaled, bs, x, z) - want));
        }
      EXPECT_LT(worst, 1e-9 * biggest) << motion << " scale " << factor;
    }
  }
}

TEST(HelixsimRealSpace, ControlOfTheModel) {
  EXPECT_EQ(error_of(""), "no error");
  EXPECT_NE(error_of("subunit 0 0 0 0 1\n").find("the blob width must be above 0"), std::string::npos);
  EXPECT_NE(error_of("subunit 0 0 0 3 1 2\n").find("\"subunit\" takes"), std::string::npos);
  EXPECT_NE(error_of("model helical\n").find("the model is \"real\" or \"fourier\""), std::string::npos);
  EXPECT_NE(error_of("subunit 30 0 0 3 1\n").find("does not fit in the box"), std::string::npos);
  // Subunits without the real model, the real model without a rule.
  std::istringstream a("repeat 60\nradius 25\npixel 3\nbox 40 40\nrule 5 2 6 3\nsubunit 0 0 0 3 1\n");
  records::LineSource sa(a, "ctl");
  EXPECT_THROW(helixsim::read_control(sa), records::ReadError);
  std::istringstream b("model real\nrepeat 60\nradius 25\npixel 3\nbox 40 40\nlayer 1 2\n");
  records::LineSource sb(b, "ctl");
  try {
    helixsim::read_control(sb);
    ADD_FAILURE() << "no error";
  } catch (const records::ReadError& e) {
    EXPECT_NE(std::string(e.what()).find("by a \"rule\" line"), std::string::npos);
  }
}

}  // namespace
