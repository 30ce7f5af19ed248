#include "records/numbers.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>

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

namespace {

// Whether the field reads the same, bit for bit (or with the same message), by parse_fixed_real
// and by the general path alone.
::testing::AssertionResult same_as_exact(const std::string& field, int decimals) {
  const auto fast = parse_fixed_real(field, decimals);
  const auto exact = records::convert_real_exact(field, decimals);
  if (fast.error == exact.error &&
      std::bit_cast<std::uint32_t>(fast.value) == std::bit_cast<std::uint32_t>(exact.value))
    return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << '"' << field << "\" with " << decimals << " decimals: " << fast.value << " ("
                                       << fast.error << ") against " << exact.value << " (" << exact.error << ")";
}

// Random fields of the forms the files hold and their neighbours: 1 to 17 digits, leading zeros,
// a point or implied decimals, E, D or a bare sign before the exponent, blanks in between,
// values near half-way points (long digit strings), and exponents out to the float range.
std::string random_field(std::mt19937_64& rng, int& decimals) {
  auto pick = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); };
  decimals = pick(0, 1) == 0 ? 3 : 6;
  std::string s;
  const int sign = pick(0, 3);
  if (sign == 0) s += '-';
  if (sign == 1) s += '+';
  const int ndig = pick(0, 4) == 0 ? pick(1, 17) : pick(1, 8);
  const int point = pick(0, 2) == 0 ? -1 : pick(0, ndig);
  for (int k = 0; k < ndig; ++k) {
    if (k == point) s += '.';
    s += static_cast<char>('0' + (k == 0 && pick(0, 3) == 0 ? 0 : pick(0, 9)));
  }
  if (point == ndig) s += '.';
  if (pick(0, 2) == 0) {
    const char* marks[] = {"E", "e", "D", "E+", "E-", "+", "-", "D-"};
    s += marks[pick(0, 7)];
    s += std::to_string(pick(0, 4) == 0 ? pick(0, 45) : pick(0, 5));
  }
  if (pick(0, 9) == 0) s.insert(static_cast<std::size_t>(pick(0, static_cast<int>(s.size()))), " ");
  const auto width = static_cast<std::size_t>(decimals == 3 ? 10 : 12);
  if (s.size() < width) s.insert(0, width - s.size(), ' ');
  return s;
}

void random_fields_read_as_by_the_exact_path(std::uint64_t count) {
  std::mt19937_64 rng(20261210);
  for (std::uint64_t i = 0; i < count; ++i) {
    int decimals = 0;
    const std::string field = random_field(rng, decimals);
    ASSERT_TRUE(same_as_exact(field, decimals)) << "field " << i;
  }
}

}  // namespace

TEST(FixedReal, FastPathAgreesWithTheExactPath) {
  // Every field form of the tests above, with both counts of implied decimals.
  for (const char* field : {"        15",
                            "       1.5",
                            "   1234567",
                            "         5",
                            "     -1500",
                            "       15.",
                            "        .5",
                            "      15E1",
                            "          ",
                            "",
                            " 1 . 5    ",
                            "1 5       ",
                            " 0.100E+01",
                            "-0.999E+03",
                            " 0.000E+00",
                            "    1.5D02",
                            "     1.5+2",
                            "     1.5-2",
                            "    1.5e-1",
                            " 0.100E-46",
                            " 0.250E-44",
                            "         1",
                            "       100",
                            "  0.123457",
                            "    123457",
                            "1.2.3",
                            "abc",
                            "1.5E",
                            "1.5E+",
                            "+",
                            "-",
                            ".",
                            "1e5x",
                            "NaN",
                            "Inf",
                            "1,5",
                            "1.0E39",
                            "1E39",
                            "1E999999999999",
                            "-0",
                            "-0.000",
                            "0.000E+99",
                            "16777217",
                            "0.16777217E+08",
                            "9007199254740993",
                            "  -12.345678",
                            "-123.456789",
                            "1.00000005960464477539"})
    for (int decimals : {3, 6}) EXPECT_TRUE(same_as_exact(field, decimals));
  // Half-way points between floats, and the doubles next to them.
  EXPECT_TRUE(same_as_exact("16777217", 0));  // 2^24 + 1, half way
  EXPECT_TRUE(same_as_exact("0.500000029802322387695", 0));
  EXPECT_TRUE(same_as_exact("3.0000001192092896", 0));  // 3 + 2^-23, half way
  EXPECT_TRUE(same_as_exact("3.0000001192092897", 0));
  random_fields_read_as_by_the_exact_path(300000);
}

// The long run: 10^8 random fields (gridscan's and curvematch's field forms and their
// neighbours). Run with --gtest_also_run_disabled_tests.
TEST(FixedReal, DISABLED_FastPathAgreesWithTheExactPathOn100MillionFields) {
  random_fields_read_as_by_the_exact_path(100000000);
}
