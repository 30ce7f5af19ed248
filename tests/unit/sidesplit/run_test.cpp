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

TEST(Run, WritesBothFilesAndEchoes) {
  TempDir dir;
  dir.write("sidesplit.dek", deck);
  MemorySource src;
  const Outcome o = run(dir, src);
  EXPECT_EQ(o.error, "");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(src.closes, 1);
  EXPECT_NE(o.out.find(" Total no of layer lines          2\n"), std::string::npos);
  // Two layer lines of five points each, |1 + 2i| = sqrt(5) inside the transform.
  const std::string near = dir.read("near.dat");
  EXPECT_NE(near.find(" 0.000E+00 0.224E+01 0.634E+02\n"), std::string::npos) << near;
  EXPECT_EQ(std::count(near.begin(), near.end(), '\n'), 2 * (2 + 5 + 1));
  const std::string far = dir.read("far.dat");
  EXPECT_EQ(std::count(far.begin(), far.end(), '\n'), 2 * (2 + 5 + 1));
}

TEST(Run, NothingIsWrittenWithoutIdumpOrWithoutASection) {
  TempDir dir;
  dir.write("sidesplit.dek", "NO DUMP\n1 0.5 0 0 0.125 0 0 0 1\n-0.5 0.5 0 1 0 0\n0 0\n\n1 1 1.0\n");
  MemorySource src;
  Outcome o = run(dir, src);
  EXPECT_EQ(o.status, 0);
  EXPECT_FALSE(dir.exists("near.dat"));
  EXPECT_FALSE(dir.exists("far.dat"));

  // No section: four empty lines and the message, status 1, and the deck is never opened.
  TempDir empty;
  MemorySource unreadable(false);
  o = run(empty, unreadable);
  EXPECT_EQ(o.error, "");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.out, "\n\n\n\n  End of data on stream 1\n");
}

TEST(Run, ExistingOutputFilesAndBadDecksLeaveEverythingAsItWas) {
  {
    TempDir dir;
    dir.write("sidesplit.dek", deck);
    dir.write("near.dat", "precious near\n");
    MemorySource src;
    const Outcome o = run(dir, src);
    EXPECT_EQ(o.error, "near.dat: the output file exists already; it is left as it is");
    EXPECT_EQ(dir.read("near.dat"), "precious near\n");
    EXPECT_FALSE(dir.exists("far.dat"));
  }
  {
    TempDir dir;
    dir.write("sidesplit.dek", deck);
    dir.write("far.dat", "precious far\n");
    MemorySource src;
    const Outcome o = run(dir, src);
    EXPECT_EQ(o.error, "far.dat: the output file exists already; it is left as it is");
    EXPECT_EQ(dir.read("far.dat"), "precious far\n");
    EXPECT_FALSE(dir.exists("near.dat"));  // not even created empty
  }
  {
    TempDir dir;
    MemorySource src;
    const Outcome o = run(dir, src);
    EXPECT_NE(o.error.find("sidesplit.dek: cannot open"), std::string::npos) << o.error;
    EXPECT_EQ(src.loads, 1);  // the transform comes first
  }
  {
    // The deck ends inside the second layer line: no file is created at all.
    TempDir dir;
    dir.write("sidesplit.dek", deck.substr(0, deck.size() - 8));
    MemorySource src;
    const Outcome o = run(dir, src);
    EXPECT_NE(o.error.find("end of file: nl1 (record 6b) expected"), std::string::npos) << o.error;
    EXPECT_FALSE(dir.exists("near.dat"));
    EXPECT_FALSE(dir.exists("far.dat"));
  }
  {
    // CTF zeros need the sampling count along y to place them.
    TempDir dir;
    dir.write("sidesplit.dek", "CTF\n1 0.5 0 0 0.125 0 0 0 1\n-0.5 0.5 1 1 0 0\n0.01 1\n0.2\n1 1 1.0\n0 4 0 4\n");
    MemorySource src(true, 0);
    const Outcome o = run(dir, src);
    EXPECT_EQ(o.error,
              "sidesplit.dek: the transform's sampling count along y (MY) is 0, so the spatial frequencies of the "
              "CTF zeros cannot be placed");
    EXPECT_FALSE(dir.exists("near.dat"));
  }
  {
    TempDir dir;
    dir.write("sidesplit.dek", deck);
    MemorySource src;
    const Outcome o = run(dir, src, {"mydeck.dek"});
    EXPECT_NE(o.error.find("command line: no arguments are taken"), std::string::npos) << o.error;
    EXPECT_EQ(src.loads, 0);
  }
}

}  // namespace
