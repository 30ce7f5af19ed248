#include "records/numbers.hpp"

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

Parsed<float> parse_fixed_real(std::string_view field, int decimals) {
  return convert_real(field, strip_blanks(field), decimals);
}

Parsed<std::int32_t> parse_fixed_int(std::string_view field) { return convert_int(field, strip_blanks(field)); }

Parsed<float> parse_free_real(std::string_view token) {
  Parsed<float> r = convert_real(token, std::string(token), 0);
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
  e -= 3;  // the value is digits * 10^e
  if (e > 10 || e < -10) return false;
  // Powers of ten up to 10^10 are exact floats (5^10 < 2^24).
  static constexpr float tens[11] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};
  const float m = static_cast<float>(digits);
  float v = e >= 0 ? m * tens[e] : m / tens[-e];
  value = f[0] == '-' ? -v : v;
  return true;
}

}  // namespace records
