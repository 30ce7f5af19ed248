#include "jtable/jtable.hpp"
#include "progmain/progmain.hpp"

int main(int argc, char** argv) { return progmain::run_main(argc, argv, {"jtable", jtable::help}, jtable::run); }
