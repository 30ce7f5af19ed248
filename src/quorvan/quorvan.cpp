#include "quorvan/quorvan.hpp"

#include "progmain/progmain.hpp"

namespace quorvan {

int run(std::ostream& out) {
  out << progmain::release_line() << '\n';
  return 0;
}

}  // namespace quorvan
