// linerecast as a filter: bad input stops it with a message, and what was written stays.
#include <gtest/gtest.h>

#include <string>

#include "runprog.hpp"

using namespace testsupport;

namespace {

const std::string kBlock =
    "a label\n     1.000    2    5\n 0.100E-01 0.200E+01 0.300E+02\n"
    " 0.000E+00 0.000E+00 0.000E+00\n";
// The listing of kBlock as block number 0.
const std::string kListed = "LAYER LINE   0" + std::string(79, ' ') + std::string(1, '\0') +
                            "      0.10000E+01    2    5\n"
                            " 0.10000E-01 0.20000E+01 0.30000E+02     0.000      0.00\n"
                            " 0.00000E+00 0.00000E+00 0.00000E+00     0.000      0.00\n";

RunResult filter(const std::string& input, std::vector<std::string> args = {}) {
  TempDir dir;
  RunSpec job;
  job.exe = program_path("linerecast");
  job.args = std::move(args);
  job.stdin_text = input;
  job.timeout_seconds = 20;
  return run_in(dir.path(), job);
}

}  // namespace

TEST(Linerecast, BadInputStopsWithAMessageAfterWhatWasWritten) {
  struct Case {
    std::string name, input, where, what, written;
  };
  const std::string header1 =
      "LAYER LINE   1" + std::string(79, ' ') + std::string(1, '\0') + "      0.10000E+01    2    5\n";
  const Case cases[] = {
      {"the example field \"1.2.3\"", kBlock + "a label\n     1.000    2    5\n 0.100E-01     1.2.3 0.300E+02\n",
       "standard input, line 7, columns 11-20", "is not a number", kListed + header1},
      {"an end of input inside the points", kBlock + "a label\n     1.000    2    5\n 0.100E-01 0.200E+01 0.300E+02\n",
       "standard input, line 8", "end of file inside the layer-line block that begins at line 5",
       kListed + header1 + " 0.10000E-01 0.20000E+01 0.30000E+02     0.000      0.00\n"},
      {"an end of input right after a label", kBlock + "a label\n", "standard input, line 6", "end of file", kListed},
      {"a bad weight", kBlock + "a label\n    1,000    2    5\n", "standard input, line 6, columns 1-10", "not",
       kListed},
      // A block without samples reads the next label as a point record.
      {"a block without samples",
       "a label\n     1.000    2    5\n" + std::string(" 0.000E+00 0.000E+00 0.000E+00\n") + kBlock,
       "standard input, line 4", "not a number",
       kListed.substr(0, kListed.find('\n') + 1) + " 0.00000E+00 0.00000E+00 0.00000E+00     0.000      0.00\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunResult r = filter(c.input);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "linerecast: " + c.where)) << r.err;
    EXPECT_TRUE(contains(r.err, c.what)) << r.err;
    EXPECT_EQ(r.out, c.written);
  }
}

TEST(Linerecast, RefusesArgumentsAndDescribesItsStreams) {
  RunResult r = filter(kBlock, {"near.dat"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(contains(r.err, "linerecast: unexpected argument \"near.dat\"")) << r.err;
  RunResult h = filter("", {"--help"});
  EXPECT_EQ(h.status, 0);
  EXPECT_TRUE(contains(h.out, "standard input")) << h.out;
  EXPECT_TRUE(contains(h.out, "LAYER LINE")) << h.out;
}
