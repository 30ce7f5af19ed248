// sidesplit: the deck and the transform image (the input's two parts, cut at a line "%%"),
// the image bound to IN; near.dat and far.dat are written in the scratch folder.
#include "sidesplit/sidesplit.hpp"

#include <cstdlib>

#include "imagesupport.hpp"

namespace {
int run_sidesplit(const std::vector<std::string>& args, progmain::Streams streams) {
  sidesplit::ImageTransformSource transform;
  return sidesplit::run(args, streams, transform, fuzzsupport::scratch());
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto p = fuzzsupport::parts(data, size, 2);
  fuzzsupport::put_file("sidesplit.dek", reinterpret_cast<const std::uint8_t*>(p[0].data()), p[0].size());
  const std::string map =
      fuzzsupport::put_file("t.map", reinterpret_cast<const std::uint8_t*>(p[1].data()), p[1].size());
  setenv("IN", map.c_str(), 1);
  fuzzsupport::remove_file("near.dat");
  fuzzsupport::remove_file("far.dat");
  fuzzsupport::run_image_program(run_sidesplit, "");
  return 0;
}
