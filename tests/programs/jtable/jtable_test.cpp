// jtable: the table against the selection rule in whole numbers, and bad input.
#include "jtable/jtable.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "runprog.hpp"

using namespace testsupport;

namespace {

RunResult jtable_run(const std::string& input) {
  TempDir dir;
  RunSpec job;
  job.exe = program_path("jtable");
  job.stdin_text = input;
  job.timeout_seconds = 20;
  return run_in(dir.path(), job);
}

std::string line(int l, int n) {
  std::string a = std::to_string(l), b = std::to_string(n);
  return " " + std::string(4 - a.size(), ' ') + a + " " + std::string(4 - b.size(), ' ') + b + "\n";
}

}  // namespace

TEST(Jtable, ListsExactlyThePairsOfTheSelectionRule) {
  // For small values the single-precision quotient is a whole number exactly when i divides
  // j*n + l, so the table must be the pairs with (j*n + l) mod i = 0, l ascending, then n.
  for (int i = -5; i <= 7; ++i) {
    if (i == 0) continue;
    for (int j = -4; j <= 11; j += 3) {
      SCOPED_TRACE("i = " + std::to_string(i) + ", j = " + std::to_string(j));
      const int k = 12, h = 9;
      std::string expected;
      for (int l = 0; l <= k; ++l)
        for (int n = -h; n <= h; ++n)
          if ((j * n + l) % i == 0) expected += line(l, n);
      std::ostringstream out;
      jtable::write_table({i, j, k, h}, out);
      EXPECT_EQ(out.str(), expected);
    }
  }
}

TEST(Jtable, BadInputStopsWithAMessage) {
  struct Case {
    std::string input, message;
  };
  const Case cases[] = {
      {"4 1 x 4\n", "jtable: standard input, line 1, column 5: \"x\""},
      {"4 1 2.5 4\n", "jtable: standard input, line 1, columns 5-7"},
      {"4 1\n4\n", "jtable: standard input, line 3: end of file"},
      {"", "jtable: standard input, line 1: end of file"},
      {"1 1 16777217 0\n", "k = 16777217"},
      {"1 1 0 99999999\n", "h = 99999999"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    RunResult r = jtable_run(c.input);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(contains(r.err, c.message)) << r.err;
  }
  // The lowest h and k are no ranges at all, not an overflow.
  RunResult low = jtable_run("1 1 -2147483648 -2147483648\n");
  EXPECT_EQ(low.status, 0) << low.err;
  EXPECT_EQ(low.out, "");
}
