#include "jtable/jtable.hpp"

#include <cmath>

#include "records/error.hpp"
#include "records/forms.hpp"
#include "records/free.hpp"
#include "records/source.hpp"

namespace jtable {

const char* const help =
    "Usage: jtable < rule\n"
    "\n"
    "Lists the pairs of layer-line number l and Bessel order n allowed by a helical selection\n"
    "rule: every l from 0 to k and n from -h to h for which (j*n + l)/i, evaluated in single\n"
    "precision, is a whole number. No dialogue, no arguments.\n"
    "\n"
    "Standard input: the four integers i j k h, separated by blanks or commas (they may run on\n"
    "over several lines). k and h may be at most 16777216.\n"
    "Standard output: one line per allowed pair, a blank, l 4 wide, a blank, n 4 wide; ordered\n"
    "by l, then by n from -h. Nothing is listed when i = 0, k < 0 or h < 0.\n"
    "\n"
    "A missing or non-integer value stops the run with a message and exit status 2.\n";

namespace {

void check_count(const records::LineSource& src, const char* name, std::int32_t v) {
  if (v > largest_count)
    throw records::ReadError(src.name(), src.line(), 0, 0,
                             std::string(name) + " = " + std::to_string(v) + " is beyond the largest supported value " +
                                 std::to_string(largest_count));
}

}  // namespace

Rule read_rule(std::istream& in) {
  records::LineSource src(in, "standard input");
  records::FreeRecord rec(src);
  Rule r;
  r.i = rec.integer("the divisor i of the selection rule");
  r.j = rec.integer("the factor j of the Bessel order");
  r.k = rec.integer("the highest layer-line number k");
  r.h = rec.integer("the largest Bessel order h");
  check_count(src, "k", r.k);
  check_count(src, "h", r.h);
  return r;
}

void write_table(const Rule& rule, std::ostream& out) {
  const float fi = static_cast<float>(rule.i);
  const float fj = static_cast<float>(rule.j);
  if (rule.h < 0) return;  // no Bessel orders (and -h would not be representable for the lowest h)
  // l and n are whole numbers held as reals; with k, h <= 2^24 every one is exact.
  for (std::int32_t li = 0; li <= rule.k; ++li) {
    const float l = static_cast<float>(li);
    for (std::int32_t ni = -rule.h; ni <= rule.h; ++ni) {
      const float n = static_cast<float>(ni);
      const float x = (fj * n + l) / fi;
      // i = 0 gives an infinite or undefined quotient, which is never a whole number.
      if (std::isfinite(x) && x == std::trunc(x))
        out << ' ' << records::int_form(li, 4) << ' ' << records::int_form(ni, 4) << '\n';
    }
  }
}

int run(const std::vector<std::string>& args, progmain::Streams streams) {
  if (!args.empty()) {
    streams.err << "jtable: unexpected argument \"" << args[0]
                << "\": i, j, k and h are read from standard input (see --help)\n";
    return 2;
  }
  const Rule rule = read_rule(streams.in);
  write_table(rule, streams.out);
  return 0;
}

}  // namespace jtable
