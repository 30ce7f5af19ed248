#include "records/forms.hpp"

#include <charconv>
#include <cmath>
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
  auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(static_cast<double>(v)),
                           std::chars_format::scientific, 120);
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
  for (int i = 0; i < keep; ++i) kept += i < static_cast<int>(digits.size()) ? digits[static_cast<std::size_t>(i)] : '0';
  const bool up = keep < static_cast<int>(digits.size()) && digits[static_cast<std::size_t>(keep)] >= '5';
  if (!up) return kept;
  int i = keep - 1;
  while (i >= 0 && kept[static_cast<std::size_t>(i)] == '9') kept[static_cast<std::size_t>(i--)] = '0';
  if (i >= 0) ++kept[static_cast<std::size_t>(i)];
  else kept.insert(kept.begin(), '1');
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

std::string fixed_form(float v, int w, int d) {
  if (!std::isfinite(v)) return non_finite(v, w);
  std::string int_part, frac_part;
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
  const std::string sign = v < 0.0f ? "-" : "";
  if (!int_part.empty() || d == 0) {
    if (int_part.empty()) int_part = "0";
    return right(sign + int_part + "." + frac_part, w);
  }
  const std::string with_zero = sign + "0." + frac_part;
  if (static_cast<int>(with_zero.size()) <= w) return right(with_zero, w);
  return right(sign + "." + frac_part, w);
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
      out = digits.substr(0, static_cast<std::size_t>(exp10) + 1) + "." + digits.substr(static_cast<std::size_t>(exp10) + 1);
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
