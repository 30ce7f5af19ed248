#include "gridscan/gridscan.hpp"
#include "progmain/progmain.hpp"

int main(int argc, char** argv) {
  return progmain::run_main(argc, argv, progmain::ProgramInfo{"gridscan", gridscan::help_text}, gridscan::run);
}
