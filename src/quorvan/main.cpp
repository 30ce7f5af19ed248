#include <iostream>

#include "progmain/progmain.hpp"
#include "quorvan/quorvan.hpp"

// Every argument is ignored, --help and --version included: the one line is the answer.
int main() { return progmain::end_of_run("quorvan", quorvan::run(std::cout)); }
