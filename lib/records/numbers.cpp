#include "records/numbers.hpp"

#include <bit>
#include <charconv>
#include <limits>

namespace records {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string strip_blanks(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s)
    if (c != ' ' && c != '\t') out += c;
  return out;
}

std::string quoted(std::string_view s) { return "\"" + std::string(s) + "\""; }

// Reads [sign] digits [. digits] [exponent] from t (no blanks). On success fills the parts.
struct RealParts {
  bool negative = false;
  std::string int_digits;
  std::string frac_digits;
  bool has_point = false;
  long exponent = 0;
};

bool split_real(const std::string& t, RealParts& p) {
  std::size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) p.negative = t[i++] == '-';
  while (i < t.size() && is_digit(t[i])) p.int_digits += t[i++];
  if (i < t.size() && t[i] == '.') {
    p.has_point = true;
    ++i;
    while (i < t.size() && is_digit(t[i])) p.frac_digits += t[i++];
  }
  if (p.int_digits.empty() && p.frac_digits.empty()) return false;
  if (i == t.size()) return true;
  if (t[i] == 'E' || t[i] == 'e' || t[i] == 'D' || t[i] == 'd') {
    ++i;
  } else if (t[i] != '+' && t[i] != '-') {
    return false;
  }
  bool exp_negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) exp_negative = t[i++] == '-';
  if (i == t.size()) return false;
  long e = 0;
  for (; i < t.size(); ++i) {
    if (!is_digit(t[i])) return false;
    if (e < 1000000) e = e * 10 + (t[i] - '0');  // saturates far beyond any float exponent
  }
  p.exponent = exp_negative ? -e : e;
  return true;
}

Parsed<float> convert_real(std::string_view original, const std::string& t, int decimals) {
  Parsed<float> r;
  if (t.empty()) return r;  // an all-blank field is zero
  RealParts p;
  if (!split_real(t, p)) {
    r.error = quoted(original) + " is not a number";
    return r;
  }
  std::string mantissa = p.int_digits + p.frac_digits;
  long point = static_cast<long>(p.int_digits.size());  // digits before the point
  if (!p.has_point) point -= decimals;
  // Value = 0.mantissa-digits-after-point... expressed as digits "mantissa" with the point
  // after `point` digits, times 10^exponent.
  std::size_t first_nonzero = mantissa.find_first_not_of('0');
  if (first_nonzero == std::string::npos) {
    r.value = p.negative ? -0.0f : 0.0f;
    return r;
  }
  // Decimal magnitude of the leading digit, to tell overflow from underflow.
  const long lead_exp = point - static_cast<long>(first_nonzero) - 1 + p.exponent;
  if (lead_exp > 40) {
    r.error = quoted(original) + " is out of range";
    return r;
  }
  if (lead_exp < -60) {
    r.value = p.negative ? -0.0f : 0.0f;
    return r;
  }
  std::string canon = p.negative ? "-" : "";
  canon += "0." + mantissa.substr(first_nonzero) + "e" +
           std::to_string(point - static_cast<long>(first_nonzero) + p.exponent);
  float v = 0.0f;
  auto res = std::from_chars(canon.data(), canon.data() + canon.size(), v);
  if (res.ec == std::errc::result_out_of_range) {
    if (lead_exp > 0) {
      r.error = quoted(original) + " is out of range";
      return r;
    }
    v = p.negative ? -0.0f : 0.0f;  // below the smallest float
  } else if (res.ec != std::errc() || res.ptr != canon.data() + canon.size()) {
    r.error = quoted(original) + " is not a number";
    return r;
  }
  if (v == std::numeric_limits<float>::infinity() || v == -std::numeric_limits<float>::infinity()) {
    r.error = quoted(original) + " is out of range";
    return r;
  }
  r.value = v;
  return r;
}

// The float nearest to (-1 if negative) m * 10^e10, for m from 1 to 10^15 - 1 and |e10| <= 22:
// m and 10^|e10| are exact doubles, so q = m / 10^-e10 (or m * 10^e10) is the correctly
// rounded double of the decimal value x. Rounding q to float gives the correctly rounded float
// of x unless q is exactly half way between two floats: a half-way point h strictly between x
// and q would be a double nearer to x than q is. So this declines exactly those q (and results
// outside the normal float range, and other m and e10), returning false.
bool decimal_to_float(bool negative, std::uint64_t m, long e10, float& out) {
  if (e10 < -22 || e10 > 22 || m >= 1000000000000000) return false;
  static constexpr double pow10[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                       1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  const double dm = static_cast<double>(m);  // exact: below 10^15
  const double q = e10 < 0 ? dm / pow10[-e10] : dm * pow10[e10];
  if (!(q >= 0x1p-126 && q < 0x1p127)) return false;  // keep to normal floats
  const std::uint64_t low = std::bit_cast<std::uint64_t>(q) & ((std::uint64_t{1} << 29) - 1);
  if (low == std::uint64_t{1} << 28) return false;  // exactly half way between two floats
  const float v = static_cast<float>(q);
  out = negative ? -v : v;
  return true;
}

// The common forms of a real field in one pass, without building a canonical text: a mantissa
// of at most 15 digits (M, as an integer) and a decimal exponent e10 of at most 22 in magnitude,
// converted by decimal_to_float; the exact path takes what it declines. Returns false when the
// field is not of these forms or the result is declined.
bool convert_real_fast(std::string_view field, int decimals, float& out) {
  std::size_t i = 0;
  const std::size_t n = field.size();
  auto skip_blanks = [&] {
    while (i < n && (field[i] == ' ' || field[i] == '\t')) ++i;
  };
  skip_blanks();
  if (i == n) return false;  // all blank: the exact path gives its zero
  bool negative = false;
  if (field[i] == '+' || field[i] == '-') {
    negative = field[i++] == '-';
    skip_blanks();
  }
  std::uint64_t m = 0;
  int digits = 0, frac = 0;
  bool point = false, any_digit = false;
  for (; i < n; ++i) {
    const char c = field[i];
    if (c == ' ' || c == '\t') continue;
    if (is_digit(c)) {
      any_digit = true;
      if (m != 0 || c != '0') ++digits;  // leading zeros do not count
      if (digits > 15) return false;
      m = m * 10 + static_cast<std::uint64_t>(c - '0');
      if (point) ++frac;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      break;
    }
  }
  long e10 = 0;
  if (i < n) {
    char c = field[i];
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd') {
      ++i;
      skip_blanks();
      if (i == n) return false;
      c = field[i];
    } else if (c != '+' && c != '-') {
      return false;
    }
    bool exp_negative = false;
    if (c == '+' || c == '-') {
      exp_negative = c == '-';
      ++i;
    }
    int exp_digits = 0;
    long e = 0;
    for (; i < n; ++i) {
      const char d = field[i];
      if (d == ' ' || d == '\t') continue;
      if (!is_digit(d) || ++exp_digits > 3) return false;
      e = e * 10 + (d - '0');
    }
    if (exp_digits == 0) return false;
    e10 = exp_negative ? -e : e;
  }
  e10 -= point ? frac : decimals;
  if (!any_digit) return false;  // no mantissa: the exact path says what is wrong
  if (m == 0) {
    out = negative ? -0.0f : 0.0f;
    return true;
  }
  return decimal_to_float(negative, m, e10, out);
}

Parsed<std::int32_t> convert_int(std::string_view original, const std::string& t) {
  Parsed<std::int32_t> r;
  if (t.empty()) return r;
  std::size_t i = 0;
  bool negative = false;
  if (t[0] == '+' || t[0] == '-') negative = t[i++] == '-';
  if (i == t.size()) {
    r.error = quoted(original) + " is not an integer";
    return r;
  }
  std::int64_t v = 0;
  for (; i < t.size(); ++i) {
    if (!is_digit(t[i])) {
      r.error = quoted(original) + " is not an integer";
      return r;
    }
    v = v * 10 + (t[i] - '0');
    if (v > std::int64_t{1} << 31) {
      r.error = quoted(original) + " is out of range";
      return r;
    }
  }
  if (negative) v = -v;
  if (v > std::numeric_limits<std::int32_t>::max() || v < std::numeric_limits<std::int32_t>::min()) {
    r.error = quoted(original) + " is out of range";
    return r;
  }
  r.value = static_cast<std::int32_t>(v);
  return r;
}

}  // namespace

Parsed<float> convert_real_exact(std::string_view field, int decimals) {
  return convert_real(field, strip_blanks(field), decimals);
}

Parsed<float> parse_fixed_real(std::string_view field, int decimals) {
  Parsed<float> r;
  if (convert_real_fast(field, decimals, r.value)) return r;
  return convert_real_exact(field, decimals);
}

Parsed<std::int32_t> parse_fixed_int(std::string_view field) { return convert_int(field, strip_blanks(field)); }

Parsed<float> parse_free_real(std::string_view token) {
  Parsed<float> r;
  if (token.find_first_of(" \t") == std::string_view::npos && convert_real_fast(token, 0, r.value)) return r;
  r = convert_real(token, std::string(token), 0);
  if (token.empty() && r.ok()) r.error = "an empty value is not a number";
  return r;
}

Parsed<std::int32_t> parse_free_int(std::string_view token) {
  Parsed<std::int32_t> r = convert_int(token, std::string(token));
  if (token.empty() && r.ok()) r.error = "an empty value is not an integer";
  return r;
}

}  // namespace records

namespace records {

bool parse_exponent_form(std::string_view f, float& value) {
  if (f.size() != 10 || (f[0] != ' ' && f[0] != '-') || f[1] != '0' || f[2] != '.' || f[6] != 'E' ||
      (f[7] != '+' && f[7] != '-'))
    return false;
  for (const int i : {3, 4, 5, 8, 9})
    if (f[static_cast<std::size_t>(i)] < '0' || f[static_cast<std::size_t>(i)] > '9') return false;
  const int digits = (f[3] - '0') * 100 + (f[4] - '0') * 10 + (f[5] - '0');
  int e = (f[8] - '0') * 10 + (f[9] - '0');
  if (f[7] == '-') e = -e;
  const bool negative = f[0] == '-';
  if (digits == 0) {
    value = negative ? -0.0f : 0.0f;
    return true;
  }
  // The value is digits * 10^(e - 3), converted as every fixed field is.
  return decimal_to_float(negative, static_cast<std::uint64_t>(digits), e - 3, value);
}

}  // namespace records
