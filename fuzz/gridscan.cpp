// gridscan: control, reference and test files (the input's three parts, cut at lines "%%"),
// read and searched as the program does, with and without --model.
#include "gridscan/gridscan.hpp"

#include "fuzzsupport.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto p = fuzzsupport::parts(data, size, 3);
  const auto put = [](const char* name, const std::string& s) {
    return fuzzsupport::put_file(name, reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
  };
  const std::vector<std::string> args{"--control=" + put("control", p[0]), "--reference=" + put("reference", p[1]),
                                      "--test=" + put("test", p[2]), "--report=" + fuzzsupport::scratch() + "/report"};
  fuzzsupport::remove_file("report");
  fuzzsupport::run_program(gridscan::run, "", args);
  // The same reference read as a model of several orders a layer line.
  std::vector<std::string> model = args;
  model.push_back("--model");
  fuzzsupport::remove_file("report");
  fuzzsupport::run_program(gridscan::run, "", model);
  return 0;
}
