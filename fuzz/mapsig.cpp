// mapsig: the fuzzed bytes are one map, given as both means and both deviations of the two
// sets; the t-statistic map is written as the file TSTAT of the scratch folder.
#include "mapsig/mapsig.hpp"

#include "fuzzsupport.hpp"
#include "imagefile/environment.hpp"
#include "imagefile/state.hpp"

namespace {
struct RunEnded {
  int status;
};
[[noreturn]] void throw_end(int status) { throw RunEnded{status}; }
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzsupport::enter_scratch();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  imagefile::reset_for_tests();
  imagefile::set_end_run_handler(throw_end);
  const std::string m = fuzzsupport::put_file("set.map", data, size);
  fuzzsupport::remove_file("TSTAT");
  try {
    fuzzsupport::run_program(mapsig::run, "fuzz\n8\n" + m + "\n" + m + "\n6\n" + m + "\n" + m + "\n");
  } catch (const RunEnded&) {
  }
  return 0;
}
