// recode as a filter: bad input, and two shifts of 180 degrees giving the file back.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "layerline/pointlist.hpp"
#include "runprog.hpp"

using namespace testsupport;

namespace {

const std::string kLabel = std::string("a label") + std::string(43, ' ');  // 50 columns
const std::string kBlock = kLabel +
                           "\n     1.000    2    5\n 0.100E-01 0.200E+01 0.300E+02\n"
                           " 0.000E+00 0.000E+00 0.000E+00\n";
const std::string kShifted = kLabel +
                             "\n     1.000    2    5\n 0.100E-01 0.200E+01 0.210E+03\n"
                             " 0.000E+00 0.000E+00 0.000E+00\n";

RunResult filter(const std::string& input, std::vector<std::string> args = {}) {
  TempDir dir;
  RunSpec job;
  job.exe = program_path("recode");
  job.args = std::move(args);
  job.stdin_text = input;
  job.timeout_seconds = 20;
  return run_in(dir.path(), job);
}

}  // namespace

TEST(Recode, BadInputStopsWithAMessageAfterWhatWasWritten) {
  struct Case {
    std::string name, input, where, what, written;
  };
  const std::string head2 = kLabel + "\n     1.000    2    5\n";
  const Case cases[] = {
      {"the example field \"1.2.3\"", kBlock + "a label\n     1.000    2    5\n 0.100E-01     1.2.3 0.300E+02\n",
       "standard input, line 7, columns 11-20", "is not a number", kShifted + head2},
      {"a bad phase", kBlock + "a label\n     1.000    2    5\n 0.100E-01 0.200E+01      abc\n",
       "standard input, line 7, columns 21-30", "is not a number", kShifted + head2},
      {"an end of input inside the points", kBlock + "a label\n     1.000    2    5\n 0.100E-01 0.200E+01 0.300E+02\n",
       "standard input, line 8", "end of file inside the layer-line block that begins at line 5",
       kShifted + head2 + " 0.100E-01 0.200E+01 0.210E+03\n"},
      // the label is written before its parameter record is read, so it stays when that fails
      {"an end of input right after a label", kBlock + "a label\n", "standard input, line 6", "end of file",
       kShifted + kLabel + "\n"},
      {"a bad layer-line number", kBlock + "a label\n     1.000    2  5.0\n", "standard input, line 6, columns 16-20",
       "not", kShifted + kLabel + "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RunResult r = filter(c.input);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "recode: " + c.where)) << r.err;
    EXPECT_TRUE(contains(r.err, c.what)) << r.err;
    EXPECT_EQ(r.out, c.written);
  }
}

TEST(PointListReaders, BlankLinesAtTheEndOfTheInputEndItNormally) {
  // recode, linerecast and crestfind give the same output with and without the blank lines an
  // editor leaves at the end of a file; a blank line with a block after it is still a label.
  const std::string two = kBlock + kBlock;
  const std::string blank_label = kBlock + "\n" + kBlock.substr(kLabel.size() + 1);
  for (const std::string prog : {"recode", "linerecast", "crestfind"}) {
    SCOPED_TRACE(prog);
    auto run = [&](const std::string& input) {
      TempDir dir;
      dir.write("in.dat", input);
      RunSpec job;
      job.exe = program_path(prog);
      job.stdin_text = prog == "crestfind" ? "in.dat\nout.txt\n" : input;
      job.timeout_seconds = 20;
      RunResult r = run_in(dir.path(), job);
      if (prog == "crestfind" && dir.exists("out.txt")) r.out = dir.read("out.txt");
      return r;
    };
    const RunResult plain = run(two);
    ASSERT_EQ(plain.status, 0) << plain.err;
    for (const std::string tail : {"\n", "\n\n", "   \n\t\n", "\n \n  "}) {
      const RunResult r = run(two + tail);
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.out, plain.out);
    }
    const RunResult labelled = run(blank_label);
    EXPECT_EQ(labelled.status, 0) << labelled.err;
    // only recode shows the label: blank, 50 columns; the others read the same two blocks
    if (prog == "recode")
      EXPECT_TRUE(contains(labelled.out, "\n" + std::string(50, ' ') + "\n")) << labelled.out;
    else
      EXPECT_EQ(labelled.out, plain.out);
  }
}

TEST(Recode, TwoShiftsGiveTheFileBack) {
  // Whole-degree phases 0..359 are exact in the 3-digit exponent form and stay whole after
  // each shift, so recode applied twice (+360, taken off again) writes the input back.
  std::ostringstream file;
  for (int b = 0; b < 24; ++b) {
    std::vector<layerline::Point> points;
    for (int p = 0; p < 30; ++p) {
      const float phase = static_cast<float>((b * 30 + p) % 360);
      points.push_back({0.01f * static_cast<float>(p), 1.0f + 0.5f * static_cast<float>(p), phase});
    }
    layerline::write_block(file, kLabel, 0.5f, b - 12, b, points);
  }
  const std::string input = file.str();
  RunResult once = filter(input);
  ASSERT_EQ(once.status, 0) << once.err;
  EXPECT_NE(once.out, input);
  RunResult twice = filter(once.out);
  ASSERT_EQ(twice.status, 0) << twice.err;
  EXPECT_EQ(twice.out, input);
}

TEST(Recode, RefusesArguments) {
  RunResult r = filter(kBlock, {"near.dat"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, "");
  EXPECT_TRUE(contains(r.err, "recode: unexpected argument \"near.dat\"")) << r.err;
}
