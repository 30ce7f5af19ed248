#include "imagefile/header.hpp"

#include <algorithm>
#include <cmath>

namespace imagefile {

int bytes_per_item(std::int32_t mode) {
  switch (mode) {
    case 0:
      return 1;
    case 1:
      return 2;
    case 2:
      return 4;
    case 3:
      return 4;
    case 4:
      return 8;
    default:
      return 0;
  }
}

int numbers_per_item(std::int32_t mode) { return mode == 3 || mode == 4 ? 2 : 1; }

std::string padded(std::string_view text, std::size_t n) {
  std::string s(text.substr(0, std::min(n, text.size())));
  s.resize(n, ' ');
  return s;
}

std::string Header::label(int i) const {
  return std::string(labels.data() + (i - 1) * label_length, static_cast<std::size_t>(label_length));
}

void Header::set_label(int i, std::string_view text) {
  const std::string s = padded(text, label_length);
  std::copy(s.begin(), s.end(), labels.begin() + (i - 1) * label_length);
}

void Header::blank_labels() { labels.fill(' '); }

std::int64_t count_unstorable(std::span<const float> values, std::int32_t mode) {
  if (mode != 0 && mode != 1 && mode != 3) return 0;
  const double lo = mode == 0 ? 0.0 : -32768.0;
  const double hi = mode == 0 ? 255.0 : 32767.0;
  std::int64_t n = 0;
  for (const float v : values) {
    const double r = std::round(static_cast<double>(v));
    if (!std::isfinite(r) || r < lo || r > hi) ++n;
  }
  return n;
}

}  // namespace imagefile
