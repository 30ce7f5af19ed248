#include "mapfsc/mapfsc.hpp"
#include "progmain/progmain.hpp"

int main(int argc, char** argv) { return progmain::run_main(argc, argv, {"mapfsc", mapfsc::help}, mapfsc::run); }
