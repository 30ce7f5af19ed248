// The gridded reader: header, then value groups over the header's radial range.
#include "layerline/gridded.hpp"

#include <sstream>

#include "records/error.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  records::LineSource src(in, "fuzz");
  try {
    auto h = layerline::read_gridded_header(src);
    // a group never holds more values than the input has bytes, so a range wider than that
    // must be refused or fail at the end of the input, not allocate first
    for (int g = 0; g < 64; ++g) (void)layerline::read_value_group(src, h.ismin, h.ismax);
  } catch (const records::ReadError&) {
  }
  return 0;
}
