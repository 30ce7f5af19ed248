// mapfsc: the fuzzed bytes are a map, compared with itself under a cylindrical mask.
#include "mapfsc/mapfsc.hpp"

#include "imagesupport.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string in = fuzzsupport::put_file("a.map", data, size);
  fuzzsupport::run_image_program(mapfsc::run, "", {in, in, "--mask", "5"});
  return 0;
}
