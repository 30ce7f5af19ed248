#include "besselmap/besselmap.hpp"
#include "progmain/progmain.hpp"

int main(int argc, char** argv) {
  return progmain::run_main(argc, argv, {"besselmap", besselmap::help}, besselmap::run);
}
