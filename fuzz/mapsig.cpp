// mapsig: the fuzzed bytes are one map, given as both means and both deviations of the two
// sets; the t-statistic map is written as the file TSTAT of the scratch folder.
#include "mapsig/mapsig.hpp"

#include "imagesupport.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzsupport::enter_scratch();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string m = fuzzsupport::put_file("set.map", data, size);
  fuzzsupport::remove_file("TSTAT");
  fuzzsupport::run_image_program(mapsig::run, "fuzz\n8\n" + m + "\n" + m + "\n6\n" + m + "\n" + m + "\n");
  return 0;
}
