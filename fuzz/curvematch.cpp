// curvematch: standard-input records, control file, reference and test files (the input's
// four parts, cut at lines "%%"), in the scratch folder as the working directory. The
// standard-input part names the files; the seeds name curvematch.ctl, ref.dat and test.dat.
#include "curvematch/curvematch.hpp"

#include <sstream>

#include "fuzzsupport.hpp"
#include "records/error.hpp"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzsupport::enter_scratch();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto p = fuzzsupport::parts(data, size, 4);
  const auto put = [](const char* name, const std::string& s) {
    fuzzsupport::put_file(name, reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
  };
  put("curvematch.ctl", p[1]);
  put("ref.dat", p[2]);
  put("test.dat", p[3]);
  fuzzsupport::remove_file("curvematch.res");
  fuzzsupport::remove_file("fitted.dat");
  std::istringstream in(p[0]);
  std::ostringstream out, err;
  try {
    curvematch::run(progmain::Streams{in, out, err});
  } catch (const records::ReadError&) {
  } catch (const progmain::Exit&) {
  }
  return 0;
}
