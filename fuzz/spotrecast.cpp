// spotrecast: the dialogue names the fuzzed file as input and a new file as output, then the run
// reads and converts it.
#include "spotrecast/spotrecast.hpp"

#include "fuzzsupport.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string in = fuzzsupport::put_file("input", data, size);
  fuzzsupport::remove_file("output");
  fuzzsupport::run_program(spotrecast::run, in + "\n" + fuzzsupport::scratch() + "/output\n");
  return 0;
}
