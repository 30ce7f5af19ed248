// Turning the text of one numeric field or free-format value into a number.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace records {

// A converted value, or (error not empty) why the text is not one, e.g. "1.2.3" is not a number.
template <class T>
struct Parsed {
  T value{};
  std::string error;
  bool ok() const { return error.empty(); }
};

// A fixed-column real field read with `decimals` implied decimals. Blanks anywhere are ignored
// and an all-blank field is zero. Without a decimal point the last `decimals` digits of the
// mantissa are the fraction ("15" with 3 decimals is 0.015); with a point the text is read as
// written ("1.5" is 1.5). An exponent is E or D followed by an optionally signed integer, or a
// signed integer alone ("1.5+2" is 150). The decimal text is rounded to float in one correctly
// rounded step. Values beyond the float range, and NaN or infinity, are refused.
Parsed<float> parse_fixed_real(std::string_view field, int decimals);

// parse_fixed_real by the general path alone (from_chars on a canonical text), which the fast
// path for the common forms must match bit for bit; for tests and benchmarks.
Parsed<float> convert_real_exact(std::string_view field, int decimals);

// A fixed-column integer field: optional sign and digits, blanks ignored, all blanks is zero.
Parsed<std::int32_t> parse_fixed_int(std::string_view field);

// A free-format value (no blanks inside): the real forms above with no implied decimals.
Parsed<float> parse_free_real(std::string_view token);
Parsed<std::int32_t> parse_free_int(std::string_view token);

}  // namespace records

namespace records {

// The exponent form that exp_form writes 10 wide with 3 digits, exactly: a blank or minus,
// "0.", three digits, "E", the exponent's sign and two digits (" 0.123E+02"). Returns false for
// a field in any other form, which the caller then reads with parse_fixed_real, and for the
// rare values the fast path of parse_fixed_real also declines. The value is the same float that
// parse_fixed_real gives: both take the same conversion of digits and exponent.
bool parse_exponent_form(std::string_view field, float& value);

}  // namespace records
