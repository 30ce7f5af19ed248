#include "imagefile/mapframe.hpp"

#include <algorithm>
#include <array>
#include <cmath>

#include "imagefile/imageio.hpp"

namespace imagefile {

Statistics statistics_of(std::span<const float> values) {
  if (values.empty()) return undetermined_statistics;
  Statistics s;
  s.dmin = s.dmax = values[0];
  double sum = 0.0;
  for (float v : values) {
    s.dmin = std::min(s.dmin, v);
    s.dmax = std::max(s.dmax, v);
    sum += double(v);
  }
  const double mean = sum / double(values.size());
  double sum2 = 0.0;
  for (float v : values) sum2 += (double(v) - mean) * (double(v) - mean);
  s.dmean = static_cast<float>(mean);
  s.rms = static_cast<float>(std::sqrt(sum2 / double(values.size())));
  return s;
}

void set_map_frame(int istream, float vx, float vy, float vz) {
  Int3 nxyz{}, mxyz{}, start{};
  irtsiz(istream, nxyz, mxyz, start);
  ialsiz(istream, nxyz, Int3{0, 0, 0});
  const std::array<std::int32_t, 1> version{format_version};
  ialext(istream, version, format_version_extra_word, 1);
  ialorg(istream, 0.0f, 0.0f, 0.0f);
  const Header& h = header_of(istream);
  if (h.mode == 3 || h.mode == 4) return;
  ialsam(istream, nxyz);
  if (nxyz[2] > 1) {
    std::int32_t nbsym = 0;
    ialsym(istream, 1, nbsym);
    const std::array<std::int32_t, 1> type{symmetry_records_type};
    ialext(istream, type, extended_type_extra_word, 1);
  }
  ialcel(istream, {static_cast<float>(nxyz[0]) * vx, static_cast<float>(nxyz[1]) * vy, static_cast<float>(nxyz[2]) * vz,
                   90.0f, 90.0f, 90.0f});
}

void write_map_header(int istream, std::string_view title, const Statistics& s) {
  ialrms(istream, s.rms);
  iwrhdr(istream, title, 0, s.dmin, s.dmax, s.dmean);
}

}  // namespace imagefile
