// The output number forms of every fixed-format record of the suite.
//
// Rounding: a float is first expanded to its exact decimal value, then rounded to the digits
// shown with ties (an exact 5 in the first dropped place) away from zero: 0.125 in fixed form
// 5 wide with 2 decimals is " 0.13", -0.125 is "-0.13".
// Sign: a minus for values below zero, also when they round to zero in fixed form ("-0.000");
// zero and negative zero are written without a sign.
// Non-finite values, in the exponent and fixed forms: "NaN", "Infinity" and "-Infinity",
// right-justified, shortened to "Inf" and "-Inf" when the long word does not fit, and
// asterisks when even that does not fit.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace records {

// Exponent form, w wide with d digits: sign position, 0, point, d digits, E, exponent sign and
// two digits, right-justified ("1.0" in 10/3 is " 0.100E+01"). The leading 0 is dropped when
// only that makes the value fit; w asterisks when it still does not fit.
std::string exp_form(float v, int w, int d);

// Fixed form, w wide with d decimals ("1.5" in 10/3 is "     1.500"); a 0 before the point when
// the integer part is zero and there is room; with d = 0 the digits then a point ("3."); w
// asterisks when the value does not fit.
std::string fixed_form(float v, int w, int d);
// The same, always by the exact decimal expansion (fixed_form takes it only where its integer
// arithmetic does not reach; the two agree on every value).
std::string fixed_form_exact(float v, int w, int d);

// Integer form, w wide, right-justified; w asterisks when the value does not fit.
std::string int_form(std::int64_t v, int w);

// Text field, w wide: w - n blanks then the text when w > n, else the first w characters.
std::string text_form(std::string_view text, int w);

// Free-format (list-directed) output: one leading blank, items separated by one blank, texts as
// they are, integers without leading zeros, reals in their shortest form that reads back to
// the same float (never more than nine significant digits), always with a point:
// " 40 1.5 150.0 1.0E-07 text". Reals below 1e-4 or from 1e9 up in magnitude use the
// exponent "E+nn"; non-finite reals are "NaN", "Infinity", "-Infinity".
class FreeLine {
 public:
  FreeLine& operator<<(std::int32_t v);
  FreeLine& operator<<(std::int64_t v);
  FreeLine& operator<<(float v);
  FreeLine& operator<<(std::string_view text);
  FreeLine& operator<<(const char* text) { return *this << std::string_view(text); }
  FreeLine& operator<<(const std::string& text) { return *this << std::string_view(text); }
  // The line without its newline.
  const std::string& str() const { return line_; }

 private:
  std::string line_;
};

// A real in the free-format form above, without the leading blank.
std::string free_real(float v);

}  // namespace records
