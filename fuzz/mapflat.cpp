// mapflat: the fuzzed bytes are the density map, named in the dialogue by its file name, and
// projected into a new map. The library's ends of a run come back as an exception.
#include "mapflat/mapflat.hpp"

#include "imagesupport.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string in = fuzzsupport::put_file("density.map", data, size);
  fuzzsupport::remove_file("flat.map");
  fuzzsupport::run_image_program(mapflat::run, in + "\n" + fuzzsupport::scratch() + "/flat.map\n");
  return 0;
}
