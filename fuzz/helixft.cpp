// helixft: the fuzzed bytes are the particle image; the transform is written in the scratch
// folder with a taper, so every run that gets past the header reads, floats, tapers, pads and
// transforms; a second run takes section 1 of it as a stack, moved and turned.
#include "helixft/helixft.hpp"

#include "imagesupport.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string image = fuzzsupport::put_file("particle.map", data, size);
  const std::string out = fuzzsupport::scratch() + "/transform.map";
  fuzzsupport::remove_file("transform.map");
  fuzzsupport::run_image_program(helixft::run, "", {"--image", image, "--transform", out, "--taper", "1"});
  fuzzsupport::remove_file("transform.map");
  fuzzsupport::run_image_program(
      helixft::run, "",
      {"--image", image, "--transform", out, "--section", "1", "--shift", "1.5", "-2", "--rotate", "17"});
  return 0;
}
