// The map image format: the 1024-byte header as the library holds it in memory, and the
// constants of the layout.
//
// On disk the header is 256 words of 4 bytes: NX NY NZ MODE, NXSTART NYSTART NZSTART, MX MY
// MZ, CELLA (3 reals), CELLB (3 reals), MAPC MAPR MAPS, DMIN DMAX DMEAN, ISPG NSYMBT, 25 EXTRA
// words, ORIGIN (3 reals), "MAP " (word 53), the machine stamp (word 54), RMS, NLABL, then 10
// labels of 80 characters. Data start at byte 1024 + NSYMBT: NZ sections of NY lines of NX
// items, in the data mode's item size.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace imagefile {

inline constexpr int header_bytes = 1024;
inline constexpr int label_bytes = 800;  // 10 labels of 80 characters
inline constexpr int max_labels = 10;
inline constexpr int label_length = 80;
inline constexpr int extra_words = 25;
inline constexpr int symmetry_record_bytes = 80;

// Bytes one item of data mode 0-4 occupies in the file: 1, 2, 4, 4, 8; 0 for other modes.
int bytes_per_item(std::int32_t mode);
// Numbers (REALs in the programs' arrays) per item of data mode 0-4: 1, 1, 1, 2, 2.
int numbers_per_item(std::int32_t mode);
// How many of these values data mode 0 (0 to 255) or modes 1 and 3 (-32768 to 32767) cannot
// hold once rounded (non-finite ones included); the file keeps only their low bits. Modes 2
// and 4 hold every value: 0.
std::int64_t count_unstorable(std::span<const float> values, std::int32_t mode);

using Int3 = std::array<std::int32_t, 3>;
using Real3 = std::array<float, 3>;

struct Header {
  Int3 nxyz{0, 0, 0};             // NX, NY, NZ: columns, rows, sections
  std::int32_t mode = 0;          // MODE: data mode 0-4
  Int3 nxyzstart{0, 0, 0};        // NXSTART, NYSTART, NZSTART
  Int3 mxyz{0, 0, 0};             // MX, MY, MZ: grid intervals along the cell edges
  Real3 cella{0.0f, 0.0f, 0.0f};  // cell edges (Angstroms)
  Real3 cellb{0.0f, 0.0f, 0.0f};  // cell angles (degrees)
  Int3 mapcrs{1, 2, 3};           // MAPC, MAPR, MAPS: axis along columns, rows, sections
  float dmin = 0.0f, dmax = 0.0f, dmean = 0.0f;
  std::int32_t ispg = 0;    // space group
  std::int32_t nsymbt = 0;  // bytes of symmetry records after the header
  std::array<std::int32_t, extra_words> extra{};
  Real3 origin{0.0f, 0.0f, 0.0f};
  // Words 53 and 54 as read ("MAP " and the machine stamp of a new-style map), 4 bytes each.
  std::array<unsigned char, 8> map_stamp{};
  float rms = 0.0f;
  std::int32_t nlabl = 0;                  // labels in use, 0-10
  std::array<char, label_bytes> labels{};  // 10 x 80 characters, blank-padded

  // Label i (1-10) as 80 characters.
  std::string label(int i) const;
  // Stores text cut or blank-padded to 80 characters as label i (1-10).
  void set_label(int i, std::string_view text);
  // Blanks every label slot.
  void blank_labels();
};

// The symmetry record the library writes for space group 1.
inline constexpr std::string_view p1_symmetry_operator = " X,Y,Z";

// Text cut or blank-padded to n characters.
std::string padded(std::string_view text, std::size_t n);

}  // namespace imagefile
