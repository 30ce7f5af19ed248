// mapconvert, and with it the image library's header classification and reading: the fuzzed
// bytes are the input map, converted into a new native map. The library's ends of a run come
// back as an exception; its tables are reset before every input.
#include "mapconvert/mapconvert.hpp"

#include "imagesupport.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string in = fuzzsupport::put_file("in.map", data, size);
  fuzzsupport::remove_file("out.map");
  fuzzsupport::run_image_program(mapconvert::run, "", {in, fuzzsupport::scratch() + "/out.map"});
  return 0;
}
