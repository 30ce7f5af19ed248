#include <gtest/gtest.h>

#include <cmath>

#include "records/numbers.hpp"

using records::parse_fixed_int;
using records::parse_fixed_real;
using records::parse_free_int;
using records::parse_free_real;

TEST(FixedReal, ImpliedDecimalsApplyOnlyWithoutAPoint) {
  EXPECT_EQ(parse_fixed_real("        15", 3).value, 0.015f);
  EXPECT_EQ(parse_fixed_real("       1.5", 3).value, 1.5f);
  EXPECT_EQ(parse_fixed_real("   1234567", 6).value, 1.234567f);
  EXPECT_EQ(parse_fixed_real("         5", 3).value, 0.005f);
  EXPECT_EQ(parse_fixed_real("     -1500", 3).value, -1.5f);
  EXPECT_EQ(parse_fixed_real("       15.", 3).value, 15.0f);
  EXPECT_EQ(parse_fixed_real("        .5", 3).value, 0.5f);
  // With an exponent and no point the mantissa still takes its implied decimals.
  EXPECT_EQ(parse_fixed_real("      15E1", 3).value, 0.15f);
}

TEST(FixedReal, BlanksAreIgnoredAndAnEmptyFieldIsZero) {
  EXPECT_EQ(parse_fixed_real("          ", 3).value, 0.0f);
  EXPECT_TRUE(parse_fixed_real("          ", 3).ok());
  EXPECT_EQ(parse_fixed_real("", 3).value, 0.0f);
  EXPECT_EQ(parse_fixed_real(" 1 . 5    ", 3).value, 1.5f);
  EXPECT_EQ(parse_fixed_real("1 5       ", 3).value, 0.015f);
}

TEST(FixedReal, ExponentForms) {
  EXPECT_EQ(parse_fixed_real(" 0.100E+01", 3).value, 1.0f);
  EXPECT_EQ(parse_fixed_real("-0.999E+03", 3).value, -999.0f);
  EXPECT_EQ(parse_fixed_real(" 0.000E+00", 3).value, 0.0f);
  EXPECT_EQ(parse_fixed_real("    1.5D02", 3).value, 150.0f);
  EXPECT_EQ(parse_fixed_real("     1.5+2", 3).value, 150.0f);
  EXPECT_EQ(parse_fixed_real("     1.5-2", 3).value, 0.015f);
  EXPECT_EQ(parse_fixed_real("    1.5e-1", 3).value, 0.15f);
  EXPECT_EQ(parse_fixed_real(" 0.100E-46", 3).value, 0.0f);  // below the smallest float
  EXPECT_GT(parse_fixed_real(" 0.250E-44", 3).value, 0.0f);  // a denormal
}

TEST(FixedReal, ConversionIsCorrectlyRoundedInOneStep) {
  // 0.001 and 0.1 are not floats; the nearest float must come out, not a product's rounding.
  EXPECT_EQ(parse_fixed_real("         1", 3).value, 0.001f);
  EXPECT_EQ(parse_fixed_real("       100", 3).value, 0.1f);
  EXPECT_EQ(parse_fixed_real("  0.123457", 6).value, 0.123457f);
  EXPECT_EQ(parse_fixed_real("    123457", 6).value, 0.123457f);
  for (int i = 0; i < 100000; i += 37) {
    const std::string digits = std::to_string(i);
    EXPECT_EQ(parse_fixed_real(digits, 3).value, std::stof(digits + "e-3")) << digits;
  }
}

TEST(FixedReal, RefusesWhatIsNotANumber) {
  for (const char* bad : {"1.2.3", "abc", "1.5E", "1.5E+", "+", "-", ".", "1e5x", "NaN", "Inf", "1,5"}) {
    auto p = parse_fixed_real(bad, 3);
    EXPECT_FALSE(p.ok()) << bad;
    EXPECT_EQ(p.error, std::string("\"") + bad + "\" is not a number") << bad;
  }
  EXPECT_EQ(parse_fixed_real("1.0E39", 3).error, "\"1.0E39\" is out of range");
  EXPECT_EQ(parse_fixed_real("1E39", 3).value, 1.0e36f);  // implied decimals: 0.001E39
  EXPECT_EQ(parse_fixed_real("1E999999999999", 3).error, "\"1E999999999999\" is out of range");
}

TEST(FixedInt, SignsDigitsBlanksAndRange) {
  EXPECT_EQ(parse_fixed_int("   -3").value, -3);
  EXPECT_EQ(parse_fixed_int("   +3").value, 3);
  EXPECT_EQ(parse_fixed_int("     ").value, 0);
  EXPECT_EQ(parse_fixed_int(" 1 2 ").value, 12);
  EXPECT_EQ(parse_fixed_int("2147483647").value, 2147483647);
  EXPECT_EQ(parse_fixed_int("-2147483648").value, -2147483647 - 1);
  EXPECT_EQ(parse_fixed_int("2147483648").error, "\"2147483648\" is out of range");
  EXPECT_EQ(parse_fixed_int("  1.5").error, "\"  1.5\" is not an integer");
  EXPECT_FALSE(parse_fixed_int("  -  ").ok());
}

TEST(FreeValues, NoImpliedDecimals) {
  EXPECT_EQ(parse_free_real("15").value, 15.0f);
  EXPECT_EQ(parse_free_real("-2.5e1").value, -25.0f);
  EXPECT_EQ(parse_free_int("40").value, 40);
  EXPECT_FALSE(parse_free_int("4.0").ok());
  EXPECT_FALSE(parse_free_real("").ok());
  EXPECT_FALSE(parse_free_int("").ok());
}
