#include "progmain/progmain.hpp"
#include "recode/recode.hpp"

int main(int argc, char** argv) { return progmain::run_main(argc, argv, {"recode", recode::help}, recode::run); }
