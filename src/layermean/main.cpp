#include "layermean/layermean.hpp"
#include "progmain/progmain.hpp"

int main(int argc, char** argv) {
  return progmain::run_main(argc, argv, progmain::ProgramInfo{"layermean", layermean::help_text}, layermean::run);
}
