#include "helixsim/helixsim.hpp"
#include "progmain/progmain.hpp"

int main(int argc, char** argv) { return progmain::run_main(argc, argv, {"helixsim", helixsim::help}, helixsim::run); }
