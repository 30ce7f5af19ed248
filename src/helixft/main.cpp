#include "helixft/helixft.hpp"
#include "progmain/progmain.hpp"

int main(int argc, char** argv) { return progmain::run_main(argc, argv, {"helixft", helixft::help}, helixft::run); }
