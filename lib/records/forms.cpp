#include "records/forms.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace records {

namespace {

// The exact decimal value of a finite nonzero float: digits d1 d2 ... (d1 != 0) meaning
// 0.d1d2... x 10^exp10.
struct Decimal {
  std::string digits;
  int exp10 = 0;
};

Decimal exact_decimal(float v) {
  // Every float is exactly a double, and 120 significant digits hold any float's expansion.
  char buf[200];
  auto res =
      std::to_chars(buf, buf + sizeof buf, std::fabs(static_cast<double>(v)), std::chars_format::scientific, 120);
  std::string s(buf, res.ptr);
  const std::size_t e = s.find('e');
  Decimal d;
  d.digits = s.substr(0, 1) + s.substr(2, e - 2);
  d.exp10 = std::atoi(s.c_str() + e + 1) + 1;
  const std::size_t last = d.digits.find_last_not_of('0');
  d.digits.erase(last + 1);
  return d;
}

// Rounds digits to keep `keep` digits (keep >= 0), ties away from zero. Returns the kept digits
// (exactly `keep` of them, or keep + 1 when rounding carried out of the first digit: "999" -> "1000").
std::string round_digits(const std::string& digits, int keep) {
  std::string kept;
  for (int i = 0; i < keep; ++i)
    kept += i < static_cast<int>(digits.size()) ? digits[static_cast<std::size_t>(i)] : '0';
  const bool up = keep < static_cast<int>(digits.size()) && digits[static_cast<std::size_t>(keep)] >= '5';
  if (!up) return kept;
  int i = keep - 1;
  while (i >= 0 && kept[static_cast<std::size_t>(i)] == '9') kept[static_cast<std::size_t>(i--)] = '0';
  if (i >= 0)
    ++kept[static_cast<std::size_t>(i)];
  else
    kept.insert(kept.begin(), '1');
  return kept;
}

std::string stars(int w) { return std::string(static_cast<std::size_t>(w > 0 ? w : 0), '*'); }

std::string right(const std::string& s, int w) {
  if (static_cast<int>(s.size()) > w) return stars(w);
  return std::string(static_cast<std::size_t>(w) - s.size(), ' ') + s;
}

std::string non_finite(float v, int w) {
  if (std::isnan(v)) return right("NaN", w);
  const std::string sign = v < 0.0f ? "-" : "";
  if (static_cast<int>(sign.size()) + 8 <= w) return right(sign + "Infinity", w);
  return right(sign + "Inf", w);
}

std::string two_digit_exponent(int e) {
  std::string s = e < 0 ? "-" : "+";
  const int a = std::abs(e);
  if (a > 99) return std::to_string(a);  // not reachable for floats
  s += static_cast<char>('0' + a / 10);
  s += static_cast<char>('0' + a % 10);
  return s;
}

}  // namespace

std::string exp_form(float v, int w, int d) {
  if (!std::isfinite(v)) return non_finite(v, w);
  std::string mant;
  int e = 0;
  if (v == 0.0f) {
    mant = std::string(static_cast<std::size_t>(d), '0');
  } else {
    Decimal dec = exact_decimal(v);
    mant = round_digits(dec.digits, d);
    e = dec.exp10;
    if (static_cast<int>(mant.size()) > d) {  // 0.9995 -> 0.100E+01
      mant.pop_back();
      ++e;
    }
  }
  const std::string sign = v < 0.0f ? "-" : "";
  const std::string tail = "." + mant + "E" + two_digit_exponent(e);
  const std::string full = sign + "0" + tail;
  if (static_cast<int>(full.size()) <= w) return right(full, w);
  return right(sign + tail, w);
}

namespace {

// The digits before and after the point of |v| (finite) rounded to d decimals, by its exact
// decimal expansion; an integer part of zero is empty.
void fixed_parts_exact(float v, int d, std::string& int_part, std::string& frac_part) {
  if (v != 0.0f) {
    Decimal dec = exact_decimal(v);
    // Digits before the point: dec.exp10 (may be <= 0). Keep exp10 + d digits in all.
    const int keep = dec.exp10 + d;
    if (keep >= 0) {
      std::string r = round_digits(dec.digits, keep);
      const int n_int = static_cast<int>(r.size()) - d;  // carry may add one integer digit
      int_part = n_int > 0 ? r.substr(0, static_cast<std::size_t>(n_int)) : "";
      frac_part = r.substr(static_cast<std::size_t>(n_int > 0 ? n_int : 0));
      if (n_int < 0) frac_part = std::string(static_cast<std::size_t>(-n_int), '0') + frac_part;
    }
  }
  if (frac_part.empty()) frac_part = std::string(static_cast<std::size_t>(d), '0');
  const std::size_t nz = int_part.find_first_not_of('0');
  int_part = nz == std::string::npos ? "" : int_part.substr(nz);
}

constexpr double powers_of_ten[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9};
constexpr std::uint64_t integer_powers_of_ten[] = {1,      10,      100,      1000,      10000,
                                                   100000, 1000000, 10000000, 100000000, 1000000000};

// The same for 0 <= d <= 9 and |v| * 10^d below 10^17, in integers: |v| * 10^d is exact in double
// precision (24 bits of the float and at most 21 of 5^d), so are its integer part and the rest,
// and a rest of one half or more rounds up (ties away from zero). False for other values.
bool fixed_parts_fast(float v, int d, std::string& int_part, std::string& frac_part) {
  if (d < 0 || d > 9) return false;
  const double s = std::fabs(static_cast<double>(v)) * powers_of_ten[d];
  if (!(s < 1e17)) return false;
  auto n = static_cast<std::uint64_t>(s);
  if (s - static_cast<double>(n) >= 0.5) ++n;
  const std::uint64_t ten_d = integer_powers_of_ten[d];
  const std::uint64_t whole = n / ten_d;
  std::uint64_t frac = n % ten_d;
  if (whole != 0) int_part = std::to_string(whole);
  frac_part.assign(static_cast<std::size_t>(d), '0');
  for (int i = d - 1; i >= 0; --i) {
    frac_part[static_cast<std::size_t>(i)] = static_cast<char>('0' + frac % 10);
    frac /= 10;
  }
  return true;
}

std::string fixed_from_parts(float v, int w, int d, std::string& int_part, const std::string& frac_part) {
  const std::string sign = v < 0.0f ? "-" : "";
  if (!int_part.empty() || d == 0) {
    if (int_part.empty()) int_part = "0";
    return right(sign + int_part + "." + frac_part, w);
  }
  const std::string with_zero = sign + "0." + frac_part;
  if (static_cast<int>(with_zero.size()) <= w) return right(with_zero, w);
  return right(sign + "." + frac_part, w);
}

}  // namespace

std::string fixed_form(float v, int w, int d) {
  if (!std::isfinite(v)) return non_finite(v, w);
  std::string int_part, frac_part;
  if (!fixed_parts_fast(v, d, int_part, frac_part)) fixed_parts_exact(v, d, int_part, frac_part);
  return fixed_from_parts(v, w, d, int_part, frac_part);
}

std::string fixed_form_exact(float v, int w, int d) {
  if (!std::isfinite(v)) return non_finite(v, w);
  std::string int_part, frac_part;
  fixed_parts_exact(v, d, int_part, frac_part);
  return fixed_from_parts(v, w, d, int_part, frac_part);
}

std::string int_form(std::int64_t v, int w) { return right(std::to_string(v), w); }

std::string text_form(std::string_view text, int w) {
  if (w <= 0) return "";
  const auto uw = static_cast<std::size_t>(w);
  if (uw > text.size()) return std::string(uw - text.size(), ' ') + std::string(text);
  return std::string(text.substr(0, uw));
}

std::string free_real(float v) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v < 0.0f ? "-Infinity" : "Infinity";
  if (v == 0.0f) return "0.0";
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
  std::string s(buf, res.ptr);  // shortest round-trip digits: "-1.5e+02"
  const bool negative = s[0] == '-';
  if (negative) s.erase(0, 1);
  const std::size_t e = s.find('e');
  int exp10 = std::atoi(s.c_str() + e + 1);
  std::string digits = s.substr(0, 1) + (e > 2 ? s.substr(2, e - 2) : "");
  std::string out;
  if (exp10 >= -4 && exp10 < 9) {
    if (exp10 >= 0) {
      while (static_cast<int>(digits.size()) < exp10 + 2) digits += '0';
      out = digits.substr(0, static_cast<std::size_t>(exp10) + 1) + "." +
            digits.substr(static_cast<std::size_t>(exp10) + 1);
    } else {
      out = "0." + std::string(static_cast<std::size_t>(-exp10 - 1), '0') + digits;
    }
  } else {
    out = digits.substr(0, 1) + "." + (digits.size() > 1 ? digits.substr(1) : "0") + "E" + two_digit_exponent(exp10);
  }
  return negative ? "-" + out : out;
}

FreeLine& FreeLine::operator<<(std::int32_t v) {
  line_ += " " + std::to_string(v);
  return *this;
}
FreeLine& FreeLine::operator<<(std::int64_t v) {
  line_ += " " + std::to_string(v);
  return *this;
}
FreeLine& FreeLine::operator<<(float v) {
  line_ += " " + free_real(v);
  return *this;
}
FreeLine& FreeLine::operator<<(std::string_view text) {
  line_ += " ";
  line_ += text;
  return *this;
}

}  // namespace records
