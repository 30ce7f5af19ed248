#include "ctf/ctf.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr double pi = 3.14159265358979323846;

ctf::Params microscope(float du, float dv, float angle, float a = 0.07f) {
  ctf::Params p;
  p.voltage = 300.0f;
  p.cs = 2.7f;
  p.amplitude_contrast = a;
  p.defocus_u = du;
  p.defocus_v = dv;
  p.angle = angle;
  return p;
}

// The k-th zero along a direction of defocus df: chi = k pi - asin(A), since
// sqrt(1 - A^2) sin chi + A cos chi = sin(chi + asin A). With Cs the quartic in s is a
// quadratic in s^2, whose smaller root is the zero.
double zero_at(int k, double df, double cs_mm, double a, double kv) {
  const double lam = ctf::wavelength(kv), cs = cs_mm * 1e7;
  const double chi = k * pi - std::asin(a);
  const double b = pi * lam * df, q = 0.5 * pi * cs * lam * lam * lam;
  const double s2 = (b - std::sqrt(b * b - 4.0 * q * chi)) / (2.0 * q);
  return std::sqrt(s2);
}

}  // namespace

TEST(Ctf, WavelengthAndWorkedPoints) {
  // Relativistic wavelengths, from h / sqrt(2 m e V (1 + eV / 2mc^2)).
  EXPECT_NEAR(ctf::wavelength(300.0), 0.0196875, 2e-7);
  EXPECT_NEAR(ctf::wavelength(200.0), 0.0250793, 2e-7);
  EXPECT_NEAR(ctf::wavelength(100.0), 0.0370144, 2e-7);

  // At s = 0 the CTF is -A: density dark.
  const ctf::Ctf c(microscope(15000.0f, 15000.0f, 0.0f));
  EXPECT_NEAR(c.value(0.0, 0.0), -double(0.07f), 1e-12);
  EXPECT_EQ(c.sign(0.0, 0.0), -1.0);

  // No Cs, no amplitude contrast: CTF = -sin(pi lambda dF s^2), -1 where the argument is pi/2
  // and +1 where it is 3 pi/2.
  ctf::Params p = microscope(10000.0f, 10000.0f, 0.0f, 0.0f);
  p.cs = 0.0f;
  const ctf::Ctf plain(p);
  const double lam = ctf::wavelength(300.0);
  const double s1 = std::sqrt(0.5 / (lam * 10000.0)), s3 = std::sqrt(1.5 / (lam * 10000.0));
  EXPECT_NEAR(plain.value(s1, 0.0), -1.0, 1e-12);
  EXPECT_NEAR(plain.value(0.0, s3), 1.0, 1e-12);
  EXPECT_NEAR(plain.chi(s1 * std::cos(1.0), s1 * std::sin(1.0)), pi / 2.0, 1e-12);

  // Cs alone at focus: chi = -(pi/2) Cs lambda^3 s^4.
  const ctf::Ctf focus(microscope(0.0f, 0.0f, 0.0f));
  const double s = 0.3;
  EXPECT_NEAR(focus.chi(0.0, s), -0.5 * pi * double(2.7f) * 1e7 * lam * lam * lam * std::pow(s, 4), 1e-12);

  // The B-factor envelope exp(-B s^2 / 4), and a phase shift adds to chi.
  ctf::Params pb = microscope(20000.0f, 20000.0f, 0.0f);
  pb.bfactor = 100.0f;
  pb.phase_shift = 90.0f;
  const ctf::Ctf env(pb), bare(microscope(20000.0f, 20000.0f, 0.0f));
  EXPECT_NEAR(env.chi(0.05, 0.02), bare.chi(0.05, 0.02) + pi / 2.0, 1e-12);
  ctf::Params pn = pb;
  pn.phase_shift = 0.0f;
  EXPECT_NEAR(ctf::Ctf(pn).value(0.05, 0.02) / bare.value(0.05, 0.02), std::exp(-100.0 * 0.0029 / 4.0), 1e-12);
}

TEST(Ctf, ZerosWhereTheFormulaPutsThem) {
  // Stigmatic: the first five zeros in every direction, each a change of sign, and no other
  // change of sign between them.
  const ctf::Ctf c(microscope(20000.0f, 20000.0f, 0.0f));
  std::vector<double> zeros;
  for (int k = 1; k <= 5; ++k) zeros.push_back(zero_at(k, 20000.0, 2.7, 0.07, 300.0));
  for (double theta : {0.0, 0.7, 2.0}) {
    const double cx = std::cos(theta), cy = std::sin(theta);
    for (double z : zeros) {
      EXPECT_NEAR(c.value(z * cx, z * cy), 0.0, 1e-9);
      EXPECT_NE(c.sign(0.999 * z * cx, 0.999 * z * cy), c.sign(1.001 * z * cx, 1.001 * z * cy));
    }
    int changes = 0;
    const int steps = 20000;
    const double top = 0.5 * (zeros[4] + zero_at(6, 20000.0, 2.7, 0.07, 300.0));
    for (int i = 1; i <= steps; ++i) {
      const double a = top * (i - 1) / steps, b = top * i / steps;
      if (c.sign(a * cx, a * cy) != c.sign(b * cx, b * cy)) ++changes;
    }
    EXPECT_EQ(changes, 5);
  }

  // Astigmatic, the U axis at 30 degrees: along it the zeros of dU, across it those of dV,
  // at 45 degrees from it those of the mean; the angle wraps by 180 degrees.
  const ctf::Ctf a(microscope(25000.0f, 24500.0f, 30.0f));
  const double u = 30.0 * pi / 180.0;
  for (int k = 1; k <= 3; ++k) {
    const struct {
      double theta, df;
    } cases[] = {{u, 25000.0}, {u + pi, 25000.0}, {u + pi / 2, 24500.0}, {u - pi / 2, 24500.0}, {u + pi / 4, 24750.0}};
    for (const auto& t : cases) {
      const double z = zero_at(k, t.df, 2.7, 0.07, 300.0);
      EXPECT_NEAR(a.value(z * std::cos(t.theta), z * std::sin(t.theta)), 0.0, 1e-9) << k << " " << t.theta;
    }
    // The zero of dU is not one across the U axis.
    const double zu = zero_at(k, 25000.0, 2.7, 0.07, 300.0);
    EXPECT_GT(std::abs(a.value(zu * std::cos(u + pi / 2), zu * std::sin(u + pi / 2))), 0.05);
  }
  EXPECT_NEAR(a.defocus(u), 25000.0, 1e-9);
  EXPECT_NEAR(a.defocus(u + pi / 2), 24500.0, 1e-9);
}

TEST(Ctf, FaultsNameTheValue) {
  EXPECT_EQ(ctf::fault(microscope(10000.0f, 9000.0f, 45.0f)), "");
  ctf::Params p = microscope(10000.0f, 9000.0f, 45.0f);
  p.voltage = 0.0f;
  EXPECT_EQ(ctf::fault(p), "the voltage must be above 0 kV (0 given)");
  p = microscope(-5.0f, 9000.0f, 45.0f);
  EXPECT_EQ(ctf::fault(p), "defocus U must not be negative (-5 A given)");
  p = microscope(10000.0f, 9000.0f, std::nanf(""));
  EXPECT_EQ(ctf::fault(p), "the astigmatism angle is not a finite number");
  p = microscope(10000.0f, 9000.0f, 0.0f, 1.0f);
  EXPECT_NE(ctf::fault(p).find("amplitude contrast"), std::string::npos);
  p = microscope(10000.0f, 9000.0f, 0.0f);
  p.cs = -1.0f;
  EXPECT_NE(ctf::fault(p).find("Cs"), std::string::npos);
}
