// helixsim's real-space model: the analytic transform equals the discrete Fourier sum of the
// projection of the density map, and the control input of the model is checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <sstream>
#include <string>

#include "helix/helix.hpp"
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

TEST(HelixsimRealSpace, LayerLinesAreTheSumOfTheRulesOrders) {
  // A blob of width w across the axis and wz along it, peak density a, has the transform
  // a (2 pi)^(3/2) w^2 wz / p^3 exp(-2 pi^2 (w^2 R^2 + wz^2 Z^2)) at its place, a factor that
  // depends on R alone: so the helix of the rule u/t at rest has, on every admitted (n, l),
  //   G_nl(R) = K sum over the subunit's blobs of that factor J_n(2 pi R r_b) exp(-i (n phi_b + 2 pi l z_b / c))
  // (K subunits in the box, the sum over them being K where the rule admits (n, l), else 0).
  // Moved, scaled and turned over, its transform on either half of each layer line is what
  // lib/helix predicts from these G_nl: every order of the rule, not only the deck's.
  const helixsim::Particle rest = real_particle("");
  const std::vector<helixsim::Blob> sub = helixsim::subunit_of(rest);
  const double c = double(rest.repeat), a = double(rest.pixel), vox = a * a * a;
  const double count = double(rest.rule_u) * std::round(rest.height * a / c);
  auto g_at_rest = [&](std::int32_t n, std::int32_t l, double R) {
    std::complex<double> g{0.0, 0.0};
    for (const helixsim::Blob& b : sub) {
      const double w = double(b.width), z = l / c;
      const double amp = double(b.weight) * std::pow(2.0 * pi, 1.5) * w * w * w / vox *
                         std::exp(-2.0 * pi * pi * (w * w * R * R + w * w * z * z));
      const double angle = n * double(b.dphi) * pi / 180.0 + 2.0 * pi * l * double(b.dz) / c;
      g += amp * helix::bessel_j(n, 2.0 * pi * R * (double(rest.radius) + double(b.dr))) * std::polar(1.0, -angle);
    }
    return count * g;
  };
  const helix::Rule rule{rest.rule_u, rest.rule_t};
  for (const std::string& extra :
       {std::string(""), std::string("rotate -35\nshift -11\npolarity opposite\nscale 1.1\n"),
        std::string("rotate 123\nshift 17\nscale 0.93\n")}) {
    const helixsim::Particle p = real_particle(extra);
    const auto blobs = helixsim::placed_blobs(p);
    const helix::Motion m{p.phi0, p.z0, p.scale, p.flipped};
    double biggest = 0.0, worst = 0.0;
    for (std::int32_t l = 0; l <= 6; ++l) {
      const std::int32_t block_n = *helix::lowest_order(rule, l, 10);
      for (double R : {0.004, 0.019, 0.052, 0.1}) {
        std::vector<helix::OrderValue> orders;
        for (std::int32_t n : helix::orders_on(rule, l, 80))
          orders.push_back({n, g_at_rest(n, l, double(p.scale) * R)});
        const helix::SideValues v = helix::predict_view(orders, block_n, l, rest.repeat, m);
        const double near_x = helix::x_sign(block_n, helix::Side::Near) * R;
        const std::complex<double> near = helixsim::real_transform(p, blobs, near_x, l / c);
        const std::complex<double> far = helixsim::real_transform(p, blobs, -near_x, l / c);
        biggest = std::max({biggest, std::abs(near), std::abs(far)});
        worst = std::max({worst, std::abs(v.near - near), std::abs(v.far - far)});
      }
    }
    EXPECT_LT(worst, 1e-9 * biggest) << extra;
    EXPECT_GT(biggest, 1.0);
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
