#include "mapconvert/mapconvert.hpp"
#include "progmain/progmain.hpp"

int main(int argc, char** argv) {
  return progmain::run_main(argc, argv, {"mapconvert", mapconvert::help_text}, mapconvert::run);
}
