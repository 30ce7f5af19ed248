// mapconvert, and with it the image library's header classification and reading: the fuzzed
// bytes are the input map, converted into a new native map. The library's ends of a run come
// back as an exception; its tables are reset before every input.
#include "mapconvert/mapconvert.hpp"

#include "fuzzsupport.hpp"
#include "imagefile/environment.hpp"
#include "imagefile/state.hpp"

namespace {
struct RunEnded {
  int status;
};
[[noreturn]] void throw_end(int status) { throw RunEnded{status}; }
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  imagefile::reset_for_tests();
  imagefile::set_end_run_handler(throw_end);
  const std::string in = fuzzsupport::put_file("in.map", data, size);
  fuzzsupport::remove_file("out.map");
  try {
    fuzzsupport::run_program(mapconvert::run, "", {in, fuzzsupport::scratch() + "/out.map"});
  } catch (const RunEnded&) {
  }
  return 0;
}
