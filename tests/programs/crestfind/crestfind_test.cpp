// crestfind through its real dialogue: bad input, the end of the dialogue, many blocks.
#include <gtest/gtest.h>

#include <string>

#include "runprog.hpp"

using namespace testsupport;

namespace {

const std::string kLabel = " TMV test particle                       LL  1 NEAR     4.000";
const std::string kParam = "     1.000    0    1\n";
const std::string kTerm = " 0.000E+00 0.000E+00 0.000E+00\n";

RunResult crestfind(const TempDir& dir, const std::string& dialogue) {
  RunSpec job;
  job.exe = program_path("crestfind");
  job.stdin_text = dialogue;
  job.timeout_seconds = 20;
  return run_in(dir.path(), job);
}

}  // namespace

TEST(Crestfind, BadRecordsStopTheRunAndRemoveTheUnfinishedSummary) {
  const std::string block1 = kLabel + "\n" + kParam + " 0.100E-01 0.200E+01 0.000E+00\n" + kTerm;
  struct Case {
    std::string name;
    std::string input;
    std::string where;  // the place the message must name
    std::string what;   // and what was wrong
  };
  const Case cases[] = {
      {"a field that is not a number", block1 + kLabel + "\n" + kParam + " 0.100E-01   1.2.3   0.000E+00\n",
       "in.dat, line 7, columns 11-20", "not a number"},
      {"an end of file inside the points", block1 + kLabel + "\n" + kParam + " 0.100E-01 0.200E+01 0.000E+00\n",
       "in.dat, line 8", "end of file inside the layer-line block that begins at line 5"},
      {"an end of file at the parameter record", block1 + kLabel + "\n", "in.dat, line 6", "end of file"},
      {"a bad Bessel order", block1 + kLabel + "\n     1.000   x0    1\n" + kTerm, "in.dat, line 6, columns 11-15",
       "not"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    dir.write("in.dat", c.input);
    RunResult r = crestfind(dir, "in.dat\nout.txt\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "crestfind: " + c.where)) << r.err;
    EXPECT_TRUE(contains(r.err, c.what)) << r.err;
    EXPECT_FALSE(contains(r.out, "Completed.")) << r.out;
    // The summary this run created and could not complete is gone, so a rerun can create it.
    EXPECT_FALSE(dir.exists("out.txt"));
  }
  // A summary that was there before the run is never touched.
  TempDir dir;
  dir.write("in.dat", block1 + kLabel + "\n");
  dir.write("out.txt", "mine\n");
  EXPECT_NE(crestfind(dir, "in.dat\nout.txt\n").status, 0);
  EXPECT_EQ(dir.read("out.txt"), "mine\n");
}

TEST(Crestfind, TheDialogueEndsWhenStandardInputEnds) {
  TempDir dir;
  dir.write("in.dat", kLabel + "\n" + kParam + kTerm + kTerm);
  std::filesystem::create_directory(dir / "adirectory");
  // Missing names and a directory are asked again, until the input ends.
  RunResult r = crestfind(dir, "nosuch.dat\nadirectory\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out,
            " Input file ? : \n No file by that name. \n Input file ? : \n No file by that name. \n"
            " Input file ? : \n");
  EXPECT_TRUE(contains(r.err, "crestfind: standard input, line 3: end of file")) << r.err;

  RunResult r2 = crestfind(dir, "in.dat\n");
  EXPECT_EQ(r2.status, 2);
  EXPECT_TRUE(contains(r2.err, "standard input, line 2: end of file")) << r2.err;
  EXPECT_FALSE(dir.exists("out.txt"));
}

TEST(Crestfind, OutputFileThatCannotBeCreated) {
  TempDir dir;
  dir.write("in.dat", kLabel + "\n" + kParam + kTerm + kTerm);
  RunResult r = crestfind(dir, "in.dat\nno/such/folder/out.txt\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(contains(r.err, "no/such/folder/out.txt: cannot create")) << r.err;
  // The output name is the input file: refused, the input stays whole.
  RunResult r2 = crestfind(dir, "in.dat\nin.dat\n");
  EXPECT_EQ(r2.status, 2);
  EXPECT_EQ(dir.read("in.dat"), kLabel + "\n" + kParam + kTerm + kTerm);
}

TEST(Crestfind, HandlesMoreBlocksThanTwoHundred) {
  // Block b (1..250) has largest amplitude b; the first block's is 1, so the ratio is b too.
  const int blocks = 250;
  std::string input;
  for (int b = 1; b <= blocks; ++b) {
    input += kLabel + "\n" + kParam;
    const std::string amp = std::to_string(b) + ".0";  // right-justified in columns 11-20
    input += " 0.100E-01" + std::string(10 - amp.size(), ' ') + amp + " 0.000E+00\n";
    input += " 0.200E-01 0.500E+00 0.000E+00\n" + kTerm;
  }
  TempDir dir;
  dir.write("in.dat", input);
  RunResult r = crestfind(dir, "in.dat\nout.txt\n");
  ASSERT_EQ(r.status, 0) << r.err;
  const std::string out = dir.read("out.txt");
  std::size_t count = 0;
  for (std::size_t pos = out.find("Bessel order"); pos != std::string::npos; pos = out.find("Bessel order", pos + 1))
    ++count;
  EXPECT_EQ(count, 250u);
  const std::string tail =
      " Maximum amplitude along layer line :     250.0000\n"
      " Ratio to equatorial maximum :     250.0000\n";
  ASSERT_GE(out.size(), tail.size());
  EXPECT_EQ(out.substr(out.size() - tail.size()), tail);
}

TEST(Crestfind, RefusesCommandLineArguments) {
  TempDir dir;
  RunSpec job;
  job.exe = program_path("crestfind");
  job.args = {"in.dat"};
  RunResult r = run_in(dir.path(), job);
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(contains(r.err, "crestfind: unexpected argument")) << r.err;
  job.args = {"--help"};
  RunResult h = run_in(dir.path(), job);
  EXPECT_EQ(h.status, 0);
  EXPECT_TRUE(contains(h.out, "Input file ? :")) << h.out;
  EXPECT_TRUE(contains(h.out, "Output file ? :")) << h.out;
}
