// linerecast: the whole filter of a point-list file from standard input into the listing.
#include "linerecast/linerecast.hpp"

#include "fuzzsupport.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzsupport::run_program(linerecast::run, std::string(reinterpret_cast<const char*>(data), size));
  return 0;
}
