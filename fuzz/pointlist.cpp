// The point-list reader under each end-of-block rule and parameter layout (first byte).
#include "layerline/pointlist.hpp"

#include <sstream>

#include "records/error.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const auto rule = (data[0] & 1) ? layerline::EndOfBlockRule::AllZero : layerline::EndOfBlockRule::RadiusZero;
  const auto layout =
      (data[0] & 2) ? layerline::ParameterLayout::SkipFirstColumn : layerline::ParameterLayout::Standard;
  const bool streaming = data[0] & 4;
  std::istringstream in(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  records::LineSource src(in, "fuzz");
  layerline::PointListReader reader(src, rule, layout);
  try {
    if (streaming) {
      while (reader.next_header()) {
        for (;;) {
          auto p = reader.next_point();
          if (p.kind != layerline::PointKind::Sample) break;
        }
        if (in.eof()) break;
      }
    } else {
      while (auto b = reader.read_block()) (void)b->header.label50();
    }
  } catch (const records::ReadError&) {
  }
  return 0;
}
