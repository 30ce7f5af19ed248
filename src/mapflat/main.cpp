#include "mapflat/mapflat.hpp"
#include "progmain/progmain.hpp"

int main(int argc, char** argv) { return progmain::run_main(argc, argv, {"mapflat", mapflat::help}, mapflat::run); }
