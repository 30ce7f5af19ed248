#include "mapbytes.hpp"

#include <cstring>
#include <stdexcept>

namespace maptest {

namespace {

void put(std::string& b, bool big, std::size_t at, std::uint32_t v, int width) {
  if (b.size() < at + static_cast<std::size_t>(width)) b.resize(at + static_cast<std::size_t>(width), '\0');
  for (int k = 0; k < width; ++k) {
    const int shift = 8 * (big ? width - 1 - k : k);
    b[at + static_cast<std::size_t>(k)] = static_cast<char>((v >> shift) & 0xFFu);
  }
}

std::uint32_t float_bits(float v) {
  std::uint32_t u = 0;
  std::memcpy(&u, &v, 4);
  return u;
}

std::uint32_t get(const std::string& b, std::size_t at, int width) {
  if (b.size() < at + static_cast<std::size_t>(width)) throw std::runtime_error("map file too short");
  std::uint32_t v = 0;
  for (int k = 0; k < width; ++k)
    v |= static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + static_cast<std::size_t>(k)])) << (8 * k);
  return v;
}

}  // namespace

std::string map_bytes(const MapSpec& s) {
  std::string b(1024, '\0');
  const bool big = s.big_endian;
  const auto i32 = [&](int word, std::int32_t v) {
    put(b, big, static_cast<std::size_t>(4 * (word - 1)), static_cast<std::uint32_t>(v), 4);
  };
  const auto f32 = [&](int word, float v) { put(b, big, static_cast<std::size_t>(4 * (word - 1)), float_bits(v), 4); };
  i32(1, s.nx);
  i32(2, s.ny);
  i32(3, s.nz);
  i32(4, s.mode);
  for (int k = 0; k < 3; ++k) {
    i32(5 + k, s.nxyzstart[static_cast<std::size_t>(k)]);
    i32(8 + k, s.mxyz[static_cast<std::size_t>(k)]);
    i32(17 + k, k + 1);
    f32(20 + k, s.dens[static_cast<std::size_t>(k)]);
    f32(50 + k, s.origin[static_cast<std::size_t>(k)]);
  }
  for (int k = 0; k < 6; ++k) f32(11 + k, s.cell[static_cast<std::size_t>(k)]);
  for (int k = 0; k < 25; ++k) i32(25 + k, s.extra[static_cast<std::size_t>(k)]);
  std::memcpy(&b[208], "MAP ", 4);
  b[212] = static_cast<char>(big ? 0x11 : 0x44);
  b[213] = static_cast<char>(big ? 0x11 : 0x41);
  f32(55, s.rms);
  i32(56, static_cast<std::int32_t>(s.labels.size()));
  for (std::size_t k = 0; k < 800; ++k) b[224 + k] = ' ';
  for (std::size_t i = 0; i < s.labels.size(); ++i) {
    std::string l = s.labels[i];
    l.resize(80, ' ');
    b.replace(224 + 80 * i, 80, l);
  }
  for (const float v : s.values) {
    const std::size_t at = b.size();
    switch (s.mode) {
      case 0:
        b.push_back(static_cast<char>(static_cast<unsigned char>(v)));
        break;
      case 1:
      case 3:
        put(b, big, at, static_cast<std::uint16_t>(static_cast<std::int16_t>(v)), 2);
        break;
      default:
        put(b, big, at, float_bits(v), 4);
    }
  }
  return b;
}

std::int32_t MapFile::word_i32(int word) const {
  return static_cast<std::int32_t>(get(bytes_, static_cast<std::size_t>(4 * (word - 1)), 4));
}

float MapFile::word_f32(int word) const {
  const std::uint32_t u = get(bytes_, static_cast<std::size_t>(4 * (word - 1)), 4);
  float v = 0.0f;
  std::memcpy(&v, &u, 4);
  return v;
}

std::string MapFile::label(int i) const { return bytes_.substr(224 + 80 * static_cast<std::size_t>(i - 1), 80); }

std::vector<float> MapFile::values() const {
  const std::size_t start = 1024 + static_cast<std::size_t>(word_i32(24));
  const std::int32_t m = mode();
  const std::size_t width = m == 0 ? 1 : m == 1 || m == 3 ? 2 : 4;
  const std::size_t count = static_cast<std::size_t>(nx()) * static_cast<std::size_t>(ny()) *
                            static_cast<std::size_t>(nz()) * (m >= 3 ? 2 : 1);
  if (bytes_.size() != start + count * width) throw std::runtime_error("map file size does not match its header");
  std::vector<float> v;
  for (std::size_t k = 0; k < count; ++k) {
    const std::size_t at = start + k * width;
    if (width == 1)
      v.push_back(static_cast<float>(static_cast<unsigned char>(bytes_[at])));
    else if (width == 2)
      v.push_back(static_cast<float>(static_cast<std::int16_t>(get(bytes_, at, 2))));
    else {
      const std::uint32_t u = get(bytes_, at, 4);
      float f = 0.0f;
      std::memcpy(&f, &u, 4);
      v.push_back(f);
    }
  }
  return v;
}

}  // namespace maptest
