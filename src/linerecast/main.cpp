#include "linerecast/linerecast.hpp"
#include "progmain/progmain.hpp"

int main(int argc, char** argv) {
  return progmain::run_main(argc, argv, {"linerecast", linerecast::help}, linerecast::run);
}
