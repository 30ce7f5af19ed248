#include "mapsig/mapsig.hpp"
#include "progmain/progmain.hpp"

int main(int argc, char** argv) { return progmain::run_main(argc, argv, {"mapsig", mapsig::help}, mapsig::run); }
