#include "records/forms.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "records/numbers.hpp"

using records::exp_form;
using records::fixed_form;
using records::int_form;
using records::text_form;

TEST(ExponentForm, WorkedExamples) {
  EXPECT_EQ(exp_form(1.0f, 10, 3), " 0.100E+01");
  EXPECT_EQ(exp_form(-999.0f, 10, 3), "-0.999E+03");
  EXPECT_EQ(exp_form(0.0f, 10, 3), " 0.000E+00");
  EXPECT_EQ(exp_form(-0.0f, 10, 3), " 0.000E+00");
  EXPECT_EQ(exp_form(1.0f, 12, 5), " 0.10000E+01");
  EXPECT_EQ(exp_form(0.0f, 12, 5), " 0.00000E+00");
  EXPECT_EQ(exp_form(-999.0f, 17, 5), "     -0.99900E+03");
  EXPECT_EQ(exp_form(0.015f, 10, 3), " 0.150E-01");
  EXPECT_EQ(exp_form(123456.0f, 10, 3), " 0.123E+06");
}

TEST(ExponentForm, RoundingCarriesAndTiesGoAwayFromZero) {
  EXPECT_EQ(exp_form(0.9996f, 10, 3), " 0.100E+01");
  EXPECT_EQ(exp_form(99.96f, 10, 3), " 0.100E+03");
  // 0.125 and 2.5 are exact floats: ties round away from zero.
  EXPECT_EQ(exp_form(0.125f, 9, 2), " 0.13E+00");
  EXPECT_EQ(exp_form(-0.125f, 9, 2), "-0.13E+00");
  EXPECT_EQ(exp_form(2.5f, 8, 1), " 0.3E+01");
  // 0.1235 is not a float: the float below it rounds down.
  EXPECT_EQ(exp_form(0.1235f, 10, 3), " 0.123E+00");
}

TEST(ExponentForm, NarrowFieldsDropTheZeroThenShowAsterisks) {
  EXPECT_EQ(exp_form(-999.0f, 9, 3), "-.999E+03");
  EXPECT_EQ(exp_form(-999.0f, 8, 3), "********");
  EXPECT_EQ(exp_form(1.0e38f, 10, 3), " 0.100E+39");
  EXPECT_EQ(exp_form(1.0e-40f, 10, 3), " 0.100E-39");
}

TEST(FixedForm, RoundingZerosAndWidths) {
  EXPECT_EQ(fixed_form(1.0f, 10, 3), "     1.000");
  EXPECT_EQ(fixed_form(0.5f, 10, 3), "     0.500");
  EXPECT_EQ(fixed_form(-0.5f, 10, 3), "    -0.500");
  EXPECT_EQ(fixed_form(0.0f, 10, 3), "     0.000");
  EXPECT_EQ(fixed_form(0.0f, 12, 6), "    0.000000");
  EXPECT_EQ(fixed_form(12.3456789f, 12, 6), "   12.345679");
  EXPECT_EQ(fixed_form(0.125f, 5, 2), " 0.13");
  EXPECT_EQ(fixed_form(-0.125f, 5, 2), "-0.13");
  EXPECT_EQ(fixed_form(999.9996f, 10, 3), "  1000.000");
  EXPECT_EQ(fixed_form(0.0004f, 10, 3), "     0.000");
  EXPECT_EQ(fixed_form(-0.0004f, 10, 3), "    -0.000");
  EXPECT_EQ(fixed_form(0.0006f, 10, 3), "     0.001");
  EXPECT_EQ(fixed_form(2.5f, 10, 1), "       2.5");
  EXPECT_EQ(fixed_form(0.5f, 4, 3), ".500");
  EXPECT_EQ(fixed_form(-0.5f, 4, 3), "****");
  EXPECT_EQ(fixed_form(123456.0f, 6, 1), "******");
  EXPECT_EQ(fixed_form(12345.0f, 7, 1), "12345.0");
}

TEST(FixedForm, NoDecimalsWritesDigitsThenAPoint) {
  EXPECT_EQ(fixed_form(3.0f, 5, 0), "   3.");
  EXPECT_EQ(fixed_form(2.5f, 5, 0), "   3.");
  EXPECT_EQ(fixed_form(0.0f, 5, 0), "   0.");
  EXPECT_EQ(fixed_form(0.4f, 5, 0), "   0.");
  EXPECT_EQ(fixed_form(-12.0f, 5, 0), " -12.");
  EXPECT_EQ(fixed_form(-12.0f, 4, 0), "-12.");
}

TEST(FixedForm, IntegerPathAgreesWithTheExactExpansion) {
  // Every value the worked examples use, ties at every number of decimals, the carries of
  // 9.999..., the edge of the integer path (|v| * 10^d near 10^17) and random bit patterns.
  std::mt19937 rng(3);
  auto same = [](float v, int w, int d) {
    ASSERT_EQ(fixed_form(v, w, d), records::fixed_form_exact(v, w, d)) << v << " " << w << " " << d;
  };
  for (int d = 0; d <= 12; ++d)
    for (int w : {1, 4, 8, 12, 30}) {
      for (float v : {0.0f, -0.0f, 0.125f, -0.125f, 2.5f, 999.9996f, 0.0004f, -0.0006f, 9.9999995f, 1e-45f, 1.0e8f,
                      1.0e17f, 1.0e16f, 3.4e38f})
        same(v, w, d);
      const double edge = 1e17 / std::pow(10.0, d);
      for (float v = static_cast<float>(edge * 0.999999); v < static_cast<float>(edge * 1.000001);
           v = std::nextafter(v, 1e38f))
        same(v, w, d);
      for (int k = 1; k < 2000; ++k) same(static_cast<float>(k) * std::ldexp(1.0f, -std::min(d, 10) - 1), w, d);
    }
  for (int i = 0; i < 300000; ++i) {
    const float v = std::bit_cast<float>(static_cast<std::uint32_t>(rng()));
    const int d = std::uniform_int_distribution<int>(0, 10)(rng);
    same(v, std::uniform_int_distribution<int>(1, 40)(rng), d);
    const float small = std::uniform_real_distribution<float>(-2000.0f, 2000.0f)(rng);
    same(small, 12, d);
  }
}

TEST(Forms, NonFiniteValues) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_EQ(exp_form(nan, 10, 3), "       NaN");
  EXPECT_EQ(exp_form(inf, 10, 3), "  Infinity");
  EXPECT_EQ(exp_form(-inf, 10, 3), " -Infinity");
  EXPECT_EQ(fixed_form(-inf, 8, 3), "    -Inf");
  EXPECT_EQ(fixed_form(inf, 2, 0), "**");
}

TEST(Forms, IntegersAndTexts) {
  EXPECT_EQ(int_form(-3, 5), "   -3");
  EXPECT_EQ(int_form(100000, 5), "*****");
  EXPECT_EQ(int_form(-1000, 4), "****");
  EXPECT_EQ(text_form("NEAR", 6), "  NEAR");
  EXPECT_EQ(text_form("NEARSIDE", 4), "NEAR");
  EXPECT_EQ(text_form("", 3), "   ");
}

TEST(Forms, WrittenValuesReadBackWithinTheirDigits) {
  // A value written in the 12/5 exponent form and read back differs by less than half a unit
  // of its fifth digit.
  for (float v : {3.14159265f, -2.7182818f, 1.0e-20f, 6.02e23f, 0.5f, -1.0f}) {
    const std::string s = exp_form(v, 12, 5);
    const float back = records::parse_fixed_real(s, 6).value;
    EXPECT_LE(std::fabs(back - v), std::fabs(v) * 5.0e-5f) << s;
  }
}

TEST(FreeLine, OneBlankBeforeEveryItemAndShortestReals) {
  records::FreeLine line;
  line << std::int32_t{40} << 1.5f << 150.0f << "text" << -0.1f << 1.0e-7f << 3.0e9f << 0.0f;
  EXPECT_EQ(line.str(), " 40 1.5 150.0 text -0.1 1.0E-07 3.0E+09 0.0");
  EXPECT_EQ(records::free_real(0.123456789f), "0.12345679");
  EXPECT_EQ(records::free_real(123456792.0f), "123456790.0");
  EXPECT_EQ(records::free_real(0.0001f), "0.0001");
  EXPECT_EQ(records::free_real(-std::numeric_limits<float>::infinity()), "-Infinity");
  for (float v : {0.1f, 1.0f / 3.0f, 6.02e23f, -1.0e-30f, 7.0f}) {
    EXPECT_EQ(records::parse_free_real(records::free_real(v)).value, v);
  }
}
