#include "curvematch/curvematch.hpp"

int main(int argc, char** argv) {
  return progmain::run_main(argc, argv, {"curvematch", curvematch::help_text},
                            [](const std::vector<std::string>&, progmain::Streams s) { return curvematch::run(s); });
}
