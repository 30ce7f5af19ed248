// besselmap: the fuzzed bytes are the layer-line file, synthesised into a small map.
#include "besselmap/besselmap.hpp"

#include "imagesupport.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string in = fuzzsupport::put_file("layerlines.dat", data, size);
  const std::string out = fuzzsupport::scratch() + "/helix.map";
  fuzzsupport::remove_file("helix.map");
  fuzzsupport::run_image_program(
      besselmap::run, "",
      {"--input", in, "--map", out, "--repeat", "16", "--resolution", "5", "--voxel", "2", "--size", "12", "8"});
  return 0;
}
