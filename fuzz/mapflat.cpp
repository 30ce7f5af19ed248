// mapflat: the fuzzed bytes are the density map, named in the dialogue by its file name, and
// projected into a new map. The library's ends of a run come back as an exception.
#include "mapflat/mapflat.hpp"

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
  const std::string in = fuzzsupport::put_file("density.map", data, size);
  fuzzsupport::remove_file("flat.map");
  try {
    fuzzsupport::run_program(mapflat::run, in + "\n" + fuzzsupport::scratch() + "/flat.map\n");
  } catch (const RunEnded&) {
  }
  return 0;
}
