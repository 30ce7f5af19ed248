// recode: the whole copy of a point-list file from standard input.
#include "recode/recode.hpp"

#include <sstream>

#include "fuzzsupport.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzsupport::run_program(recode::run, std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
