#include "crestfind/crestfind.hpp"
#include "progmain/progmain.hpp"

int main(int argc, char** argv) {
  return progmain::run_main(argc, argv, {"crestfind", crestfind::help}, crestfind::run);
}
