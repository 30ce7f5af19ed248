// spotrecast through its real dialogue: what happens to the files when the input is bad.
#include <gtest/gtest.h>

#include <string>

#include "runprog.hpp"

using namespace testsupport;

namespace {

const std::string kPrompts = "$FILE NAME TO BE CONVERTED : \n$OUTPUT FILE : \n";
const std::string kList = "title\n   1   2   123.4    45.6\n";

RunResult spotrecast(const TempDir& dir, const std::string& dialogue) {
  RunSpec job;
  job.exe = program_path("spotrecast");
  job.stdin_text = dialogue;
  job.timeout_seconds = 20;
  return run_in(dir.path(), job);
}

}  // namespace

TEST(Spotrecast, AMissingInputStopsBeforeTheOutputIsCreated) {
  TempDir dir;
  RunResult r = spotrecast(dir, "nosuch.txt\nout.txt\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.out, kPrompts);
  EXPECT_TRUE(contains(r.err, "spotrecast: nosuch.txt: cannot open")) << r.err;
  EXPECT_FALSE(dir.exists("out.txt"));
}

TEST(Spotrecast, AnEmptyInputLeavesAnExistingOutputAsItWas) {
  TempDir dir;
  dir.write("empty.txt", "");
  dir.write("out.txt", "an earlier list\n");
  RunResult r = spotrecast(dir, "empty.txt\nout.txt\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(contains(r.err, "spotrecast: empty.txt, line 1: end of file")) << r.err;
  EXPECT_EQ(dir.read("out.txt"), "an earlier list\n");
}

TEST(Spotrecast, TheInputIsNeverOverwrittenByItsOwnConversion) {
  for (const std::string out_name : {"spots.txt", "./spots.txt"}) {
    SCOPED_TRACE(out_name);
    TempDir dir;
    dir.write("spots.txt", kList);
    RunResult r = spotrecast(dir, "spots.txt\n" + out_name + "\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, "is the file to be converted")) << r.err;
    EXPECT_EQ(dir.read("spots.txt"), kList);
  }
}

TEST(Spotrecast, DialogueEndingEarlyOrNamingADirectory) {
  TempDir dir;
  dir.write("spots.txt", kList);
  RunResult r = spotrecast(dir, "spots.txt\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(contains(r.err, "spotrecast: standard input, line 2: end of file")) << r.err;

  std::filesystem::create_directory(dir / "folder");
  RunResult d = spotrecast(dir, "folder\nout.txt\n");
  EXPECT_EQ(d.status, 2);
  EXPECT_TRUE(contains(d.err, "spotrecast: folder: cannot open")) << d.err;
  EXPECT_FALSE(dir.exists("out.txt"));

  RunResult o = spotrecast(dir, "spots.txt\nfolder\n");
  EXPECT_EQ(o.status, 2);
  EXPECT_TRUE(contains(o.err, "spotrecast: folder: cannot create")) << o.err;
}
