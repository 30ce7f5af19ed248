#include "progmain/progmain.hpp"
#include "spotrecast/spotrecast.hpp"

int main(int argc, char** argv) {
  return progmain::run_main(argc, argv, {"spotrecast", spotrecast::help}, spotrecast::run);
}
