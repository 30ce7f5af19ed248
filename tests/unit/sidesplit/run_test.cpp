// The whole run on a transform held in memory: the order of reading and the output files.
#include <gtest/gtest.h>

#include <sstream>

#include "records/error.hpp"
#include "runprog.hpp"
#include "sidesplit/sidesplit.hpp"

namespace {

using testsupport::TempDir;

// A transform of 9 by 8 complex values, all 1 + 2i, or no section at all.
class MemorySource : public sidesplit::TransformSource {
 public:
  explicit MemorySource(bool readable = true, std::int32_t my = 8) : readable_(readable), my_(my) {}
  std::optional<sidesplit::TransformImage> load() override {
    ++loads;
    if (!readable_) return std::nullopt;
    sidesplit::TransformImage t;
    t.nx = 9;
    t.ny = 8;
    t.nz = 1;
    t.my = my_;
    for (int i = 0; i < 9 * 8; ++i) {
      t.section.push_back(1.0f);
      t.section.push_back(2.0f);
    }
    return t;
  }
  void close() override { ++closes; }
  int loads = 0;
  int closes = 0;

 private:
  bool readable_;
  std::int32_t my_;
};

struct Outcome {
  int status = -1;
  std::string out;
  std::string error;  // the ReadError message, if the run ended on one
  std::string warnings;
};

Outcome run(const TempDir& dir, MemorySource& src, std::vector<std::string> args = {}) {
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;
  Outcome o;
  try {
    o.status = sidesplit::run(args, progmain::Streams{in, out, err}, src, dir.path());
  } catch (const records::ReadError& e) {
    o.error = e.what();
  }
  o.out = out.str();
  o.warnings = err.str();
  return o;
}

const std::string deck =
    "RUN TEST\n"
    "2 0.5 0 0 0.125 0 0 0 1\n"
    "-0.5 0.5 1 1 0 0\n"
    "0 0\n"
    "\n"
    "0 0 0.0\n0 4 0 4\n"
    "1 1 1.0\n0 4 0 4\n";

// What the program tests cannot reach as easily: the order of the phases and the refusals that
// need an unusual header. Files, messages and statuses of the real executable are tested there.
TEST(Run, PhasesInOrder) {
  TempDir dir;
  dir.write("sidesplit.dek", deck);
  MemorySource src;
  Outcome o = run(dir, src);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(src.loads, 1);
  EXPECT_EQ(src.closes, 1);
  EXPECT_TRUE(dir.exists("near.dat") && dir.exists("far.dat"));

  // No section: the deck is never opened (there is none here).
  TempDir empty;
  MemorySource unreadable(false);
  o = run(empty, unreadable);
  EXPECT_EQ(o.error, "");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "\n\n\n\n  End of data on stream 1\n");

  // Arguments are refused before the transform is opened.
  MemorySource untouched;
  o = run(dir, untouched, {"mydeck.dek"});
  EXPECT_NE(o.error.find("command line: no arguments are taken"), std::string::npos) << o.error;
  EXPECT_EQ(untouched.loads, 0);
}

TEST(Run, ALayerLineOffTheTransformIsWrittenAsTheRulesMakeItWithAWarning) {
  // 8 rows, origin row 4: ysp 200 lies far above them, ysp 1 inside.
  TempDir dir;
  dir.write("sidesplit.dek",
            "OFF\n2 0.5 0 0 0.125 0 0 0 1\n-0.5 0.5 1 1 0 0\n0 0\n\n1 1 1.0\n0 4 0 4\n"
            "7 1 200.0\n0 4 0 4\n");
  MemorySource src;
  const Outcome o = run(dir, src);
  EXPECT_EQ(o.status, 0) << o.error;
  EXPECT_EQ(o.warnings,
            "sidesplit: sidesplit.dek, line 9: layer line 7 at ysp 200.0 lies outside rows 0 to 7 of the transform for "
            "9 of its 9 samples, which read as zero there\n");
  // its points are there, with amplitude and phase 0
  EXPECT_TRUE(dir.read("near.dat").find(" 0.250E+00 0.000E+00 0.000E+00\n") != std::string::npos);
}

TEST(Run, NoFilesWithoutIdumpAndNoCtfZerosWithoutASamplingCount) {
  TempDir dir;
  dir.write("sidesplit.dek", "NO DUMP\n1 0.5 0 0 0.125 0 0 0 1\n-0.5 0.5 0 1 0 0\n0 0\n\n1 1 1.0\n");
  MemorySource src;
  Outcome o = run(dir, src);
  EXPECT_EQ(o.status, 0);
  EXPECT_FALSE(dir.exists("near.dat"));
  EXPECT_FALSE(dir.exists("far.dat"));

  TempDir ctf;
  ctf.write("sidesplit.dek", "CTF\n1 0.5 0 0 0.125 0 0 0 1\n-0.5 0.5 1 1 0 0\n0.01 1\n0.2\n1 1 1.0\n0 4 0 4\n");
  MemorySource no_my(true, 0);
  o = run(ctf, no_my);
  EXPECT_EQ(o.error,
            "sidesplit.dek: the transform's sampling count along y (MY) is 0, so the spatial frequencies of the "
            "CTF zeros cannot be placed");
  EXPECT_FALSE(ctf.exists("near.dat"));
}

}  // namespace
