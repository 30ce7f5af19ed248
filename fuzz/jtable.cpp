// jtable: the selection-rule record; the table itself only when it is small (a valid rule may
// ask for 2^24 layer lines by 2^25 orders, which is a long run, not a fault).
#include "jtable/jtable.hpp"

#include <sstream>

#include "records/error.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
  try {
    auto rule = jtable::read_rule(in);
    if (rule.k >= -1000 && rule.k <= 1000 && rule.h >= -1000 && rule.h <= 1000) {
      std::ostringstream out;
      jtable::write_table(rule, out);
    }
  } catch (const records::ReadError&) {
  }
  return 0;
}
