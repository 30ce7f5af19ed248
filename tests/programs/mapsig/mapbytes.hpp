// Map image files for the program tests, written and read byte by byte from the file layout
// (1024-byte header of 256 words, then sections of lines of items), independent of the image
// library the programs use.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace maptest {

// A map to write: every header field the tests vary, and the data as numbers (two per complex
// item, real part first), column index fastest.
struct MapSpec {
  std::int32_t nx = 1, ny = 1, nz = 1, mode = 2;
  bool big_endian = false;  // stamp 0x11 0x11 and every number byte-reversed
  std::array<std::int32_t, 3> nxyzstart{0, 0, 0};
  std::array<std::int32_t, 3> mxyz{1, 1, 1};
  std::array<float, 6> cell{10.0f, 20.0f, 30.0f, 90.0f, 90.0f, 90.0f};
  std::array<float, 3> dens{0.0f, 0.0f, 0.0f};
  std::array<std::int32_t, 25> extra{};
  std::array<float, 3> origin{0.0f, 0.0f, 0.0f};
  float rms = 0.0f;
  std::vector<std::string> labels;  // up to 10, each cut or padded to 80 characters
  std::vector<float> values;        // written in the data mode: bytes, 16-bit integers or reals
};

// A map of nx x ny x nz items in the given mode holding values, the other fields as above.
inline MapSpec map_of(std::int32_t nx, std::int32_t ny, std::int32_t nz, std::int32_t mode, std::vector<float> values,
                      bool big = false) {
  MapSpec s;
  s.nx = nx;
  s.ny = ny;
  s.nz = nz;
  s.mode = mode;
  s.big_endian = big;
  s.values = std::move(values);
  return s;
}

// The file bytes of job.
std::string map_bytes(const MapSpec& job);

// A map file as this machine's library writes it (little-endian), decoded.
class MapFile {
 public:
  explicit MapFile(std::string bytes) : bytes_(std::move(bytes)) {}
  std::int32_t word_i32(int word) const;  // words counted from 1
  float word_f32(int word) const;
  std::string label(int i) const;  // 1-10, 80 characters
  std::int32_t nx() const { return word_i32(1); }
  std::int32_t ny() const { return word_i32(2); }
  std::int32_t nz() const { return word_i32(3); }
  std::int32_t mode() const { return word_i32(4); }
  float dmin() const { return word_f32(20); }
  float dmax() const { return word_f32(21); }
  float dmean() const { return word_f32(22); }
  // The data as numbers (two per complex item), from byte 1024 + NSYMBT.
  std::vector<float> values() const;
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

}  // namespace maptest
