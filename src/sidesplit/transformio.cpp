// The transform image through the image file library: stream 1, logical name IN, read-only.
#include <cstdint>
#include <string>

#include "imagefile/diskio.hpp"
#include "imagefile/header.hpp"
#include "imagefile/imageio.hpp"
#include "records/error.hpp"
#include "sidesplit/sidesplit.hpp"

namespace sidesplit {

namespace {
constexpr int in_stream = 1;
}

std::optional<TransformImage> ImageTransformSource::load() {
  imagefile::imopen(in_stream, "IN", "RO");
  imagefile::Int3 nxyz{};
  imagefile::Int3 mxyz{};
  std::int32_t mode = 0;
  float dmin = 0.0f;
  float dmax = 0.0f;
  float dmean = 0.0f;
  imagefile::irdhdr(in_stream, nxyz, mxyz, mode, dmin, dmax, dmean);
  float xorig = 0.0f;
  float yorig = 0.0f;
  float zorig = 0.0f;
  imagefile::irtorg(in_stream, xorig, yorig, zorig);

  int unit = imagefile::imunit(in_stream);
  std::string filename;
  std::int64_t length = -1;
  imagefile::qqinq(unit, "IN", filename, length);
  if (mode != 3 && mode != 4) {
    throw records::ReadError(filename, "data mode " + std::to_string(mode) +
                                           " holds real values; the transform must be complex (mode 3 or 4)");
  }
  if (nxyz[0] < 2 || nxyz[1] < 1) {
    throw records::ReadError(filename, std::to_string(nxyz[0]) + " columns and " + std::to_string(nxyz[1]) +
                                           " rows: a transform needs at least 2 columns and 1 row");
  }
  // A file too short for one section cannot be read: say so before storage is set aside. The
  // sizes may claim up to (2^31-1)^2 items, so the bytes the file holds are counted in items.
  const std::int64_t items = static_cast<std::int64_t>(nxyz[0]) * nxyz[1];
  // NSYMBT may be as large as 2^31 - 1: the start of the data is formed in 64 bits.
  const std::int64_t data_start =
      imagefile::header_bytes + static_cast<std::int64_t>(imagefile::header_of(in_stream).nsymbt);
  if (length >= 0 && (length < data_start || items > (length - data_start) / imagefile::bytes_per_item(mode))) {
    return std::nullopt;
  }

  TransformImage t;
  t.nx = nxyz[0];
  t.ny = nxyz[1];
  t.nz = nxyz[2];
  t.my = mxyz[1];
  t.xorig = xorig;
  t.yorig = yorig;
  t.section.assign(static_cast<std::size_t>(2 * items), 0.0f);
  if (!imagefile::irdsec(in_stream, t.section)) return std::nullopt;
  return t;
}

void ImageTransformSource::close() { imagefile::imclose(in_stream); }

}  // namespace sidesplit
