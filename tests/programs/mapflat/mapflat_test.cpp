// mapflat through its dialogue: hand-computed projections and statistics, the shift by the
// minimum, the fresh 2-D header, every data mode and byte order, the size limits and bad input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mapbytes.hpp"
#include "records/forms.hpp"
#include "runprog.hpp"

using namespace testsupport;
using maptest::MapFile;
using maptest::MapSpec;

namespace {

// A map with a label and an origin.
MapSpec map_of(std::int32_t nx, std::int32_t ny, std::int32_t nz, std::int32_t mode, std::vector<float> values,
               bool big = false) {
  MapSpec s = maptest::map_of(nx, ny, nz, mode, std::move(values), big);
  s.labels = {"a label of the input"};
  s.origin = {1.0f, 2.0f, 3.0f};
  return s;
}

struct FlatRun {
  RunResult r;
  bool written = false;
  std::string flat;
};

FlatRun run_mapflat(const MapSpec& in, const std::string& input = "in.map\nout.map\n",
                    std::vector<std::pair<std::string, std::string>> env = {}, std::string* input_after = nullptr) {
  TempDir dir;
  dir.write("in.map", maptest::map_bytes(in));
  RunSpec job;
  job.exe = program_path("mapflat");
  job.stdin_text = input;
  job.env = std::move(env);
  job.timeout_seconds = 20;
  FlatRun run;
  run.r = run_in(dir.path(), job);
  run.written = dir.exists("out.map");
  if (run.written) run.flat = dir.read("out.map");
  if (input_after != nullptr) *input_after = dir.read("in.map");
  return run;
}

std::string stats(float dmin, float dmax, float dmean) {
  return (records::FreeLine() << "DMIN,DMAX,DMEAN " << dmin << dmax << dmean).str() + "\n";
}

// The dialogue's report between the questions: sizes, sum, statistics twice, shifted statistics.
std::string report(std::int32_t nsize, float sum, float dmin, float dmax, float dmean, float rise) {
  return (records::FreeLine() << "NSIZE = " << nsize).str() + "\n" + (records::FreeLine() << "SUM= " << sum).str() +
         "\n" + stats(dmin, dmax, dmean) + stats(dmin, dmax, dmean) + stats(dmin + rise, dmax + rise, dmean + rise) +
         " OUTPUT FILE FOR 2D MAP?  \n";
}

}  // namespace

TEST(Mapflat, ThreeDimensionalMapWithNegativeValues) {
  // nx 2, ny 2, nz 3; column sums of each section:
  //   section 0: (1 + 2, -4 - 3)     = (3, -7)
  //   section 1: (0.5 - 1.5, 2 + 6)  = (-1, 8)
  //   section 2: (-2 - 1, -2 + 10)   = (-3, 8)
  // sum 8, minimum -7, maximum 8, mean 8/6; everything raised by 7.
  const FlatRun run = run_mapflat(map_of(2, 2, 3, 2, {1, -4, 2, -3, 0.5f, 2, -1.5f, 6, -2, -2, -1, 10}));
  ASSERT_EQ(run.r.status, 0) << run.r.out << run.r.err;
  const float mean = 8.0f / 6.0f;
  EXPECT_EQ(run.r.out.substr(0, 70), "\n MAPFLAT, Version 1.0:  PROJECTS 3D MAP ALONG Y  \n 3-D INPUT FILE?  \n");
  EXPECT_TRUE(contains(run.r.out, "\n" + report(6, 8.0f, -7.0f, 8.0f, mean, 7.0f))) << run.r.out;
  ASSERT_TRUE(run.written);
  const MapFile out(run.flat);
  EXPECT_EQ(out.values(), (std::vector<float>{10, 0, 6, 15, 4, 15}));
  EXPECT_EQ(out.dmin(), 0.0f);
  EXPECT_EQ(out.dmax(), 15.0f);
  EXPECT_EQ(out.dmean(), mean + 7.0f);

  // A fresh 2-D header: nx by nz, sampling the same, cell edges the sampling, no labels.
  const std::vector<std::int32_t> ints = {2, 3, 1, 2, 0, 0, 0, 2, 3, 1};
  for (int w = 1; w <= 10; ++w) EXPECT_EQ(out.word_i32(w), ints[static_cast<std::size_t>(w - 1)]) << "word " << w;
  const std::vector<float> cell = {2, 3, 1, 90, 90, 90};
  for (int w = 11; w <= 16; ++w) EXPECT_EQ(out.word_f32(w), cell[static_cast<std::size_t>(w - 11)]) << "word " << w;
  for (int w = 17; w <= 19; ++w) EXPECT_EQ(out.word_i32(w), w - 16);
  for (int w = 23; w <= 52; ++w) EXPECT_EQ(out.word_i32(w), 0) << "word " << w;
  EXPECT_EQ(run.flat.substr(208, 8), std::string("MAP \x44\x41\0\0", 8));
  EXPECT_EQ(out.word_f32(55), 0.0f);
  EXPECT_EQ(out.word_i32(56), 0);
  EXPECT_EQ(run.flat.substr(224, 800), std::string(800, ' '));
  // The output header is read back and reported: 2 x 3 x 1 after the question.
  const std::string after = run.r.out.substr(run.r.out.find("OUTPUT FILE FOR 2D MAP?"));
  EXPECT_TRUE(contains(after, "Number of columns, rows, sections ........      2     3     1")) << after;
}

TEST(Mapflat, OneSectionGivesOneLineOfColumnSums) {
  // Columns sum to 0, 5 and 8: the minimum 0 raises nothing.
  const FlatRun run = run_mapflat(map_of(3, 2, 1, 2, {1, 2, 4, -1, 3, 4}));
  ASSERT_EQ(run.r.status, 0) << run.r.err;
  const MapFile out(run.flat);
  EXPECT_EQ(out.nx(), 3);
  EXPECT_EQ(out.ny(), 1);
  EXPECT_EQ(out.nz(), 1);
  EXPECT_EQ(out.values(), (std::vector<float>{0, 5, 8}));
  EXPECT_TRUE(contains(run.r.out, report(3, 13.0f, 0.0f, 8.0f, 13.0f / 3.0f, 0.0f)));
}

TEST(Mapflat, PositiveProjectionsAreRaisedByTheirMinimum) {
  // Sums 5, 9, 7: raised by 5, the minimum reported doubled.
  FlatRun run = run_mapflat(map_of(3, 1, 1, 2, {5, 9, 7}));
  ASSERT_EQ(run.r.status, 0) << run.r.err;
  EXPECT_EQ(MapFile(run.flat).values(), (std::vector<float>{10, 14, 12}));
  EXPECT_TRUE(contains(run.r.out, report(3, 21.0f, 5.0f, 9.0f, 7.0f, 5.0f)));
  // Every sum above 2000: the minimum stays at its starting 2000, which is what is added.
  run = run_mapflat(map_of(2, 2, 1, 2, {1500, 3000, 1500, 2000}));
  ASSERT_EQ(run.r.status, 0) << run.r.err;
  EXPECT_EQ(MapFile(run.flat).values(), (std::vector<float>{5000, 7000}));
  // The header describes the values written, not the shifted starting value.
  EXPECT_EQ(MapFile(run.flat).dmin(), 5000.0f);
  EXPECT_EQ(MapFile(run.flat).dmax(), 7000.0f);
  EXPECT_TRUE(contains(run.r.out, report(2, 8000.0f, 2000.0f, 5000.0f, 4000.0f, 2000.0f)));
}

TEST(Mapflat, AllZeroMap) {
  const FlatRun run = run_mapflat(map_of(2, 3, 2, 2, std::vector<float>(12, 0.0f)));
  ASSERT_EQ(run.r.status, 0) << run.r.err;
  const MapFile out(run.flat);
  EXPECT_EQ(out.values(), std::vector<float>(4, 0.0f));
  EXPECT_EQ(out.dmin(), 0.0f);
  EXPECT_EQ(out.dmax(), 0.0f);
  EXPECT_EQ(out.dmean(), 0.0f);
  EXPECT_TRUE(contains(run.r.out, report(4, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f)));
}

TEST(Mapflat, EveryDataModeAndByteOrder) {
  for (int mode = 0; mode <= 4; ++mode) {
    for (const bool big : {false, true}) {
      SCOPED_TRACE("mode " + std::to_string(mode) + (big ? " big-endian" : " little-endian"));
      // Two sections of two lines of two items. Real maps: column sums (4, 6) and (1, 5),
      // raised by 1. Complex maps: real and imaginary parts summed apart, (6, 8, 10, 12) and
      // (1, 1, 2, 3), raised by 1.
      const bool complex = mode >= 3;
      const std::vector<float> values = complex ? std::vector<float>{1, 2, 3, 4, 5, 6, 7, 8, 0, 1, 2, 0, 1, 0, 0, 3}
                                                : std::vector<float>{1, 2, 3, 4, 0, 5, 1, 0};
      const std::vector<float> want =
          complex ? std::vector<float>{7, 9, 11, 13, 2, 2, 3, 4} : std::vector<float>{5, 7, 2, 6};
      const FlatRun run = run_mapflat(map_of(2, 2, 2, mode, values, big));
      ASSERT_EQ(run.r.status, 0) << run.r.out << run.r.err;
      const MapFile out(run.flat);
      EXPECT_EQ(out.mode(), mode);
      EXPECT_EQ(out.values(), want);
      EXPECT_EQ(out.dmin(), 2.0f);
      EXPECT_TRUE(contains(run.r.out, complex ? " NSIZE =  8\n" : " NSIZE =  4\n"));
    }
  }
}

TEST(Mapflat, SizeLimits) {
  // 256 x 64 items is at both limits.
  FlatRun run = run_mapflat(map_of(256, 64, 1, 0, std::vector<float>(256 * 64, 1.0f)));
  ASSERT_EQ(run.r.status, 0) << run.r.err;
  EXPECT_EQ(MapFile(run.flat).values(), std::vector<float>(256, 128.0f));

  struct Case {
    std::int32_t nx, ny;
    std::string message;
  };
  const Case cases[] = {
      {257, 1,
       "\n\nMap dimensions too large for program, NX =  257, NY =    1, line limit =  256, map limit =  16384\n"},
      {128, 129,
       "\n\nMap dimensions too large for program, NX =  128, NY =  129, line limit =  256, map limit =  16384\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.nx) + " x " + std::to_string(c.ny));
    run = run_mapflat(map_of(c.nx, c.ny, 1, 0, std::vector<float>(static_cast<std::size_t>(c.nx * c.ny), 1.0f)));
    EXPECT_EQ(run.r.status, 1);
    ASSERT_GE(run.r.out.size(), c.message.size());
    EXPECT_EQ(run.r.out.substr(run.r.out.size() - c.message.size()), c.message);
    EXPECT_FALSE(contains(run.r.out, "OUTPUT FILE"));
    EXPECT_FALSE(run.written);
  }
}

TEST(Mapflat, BadInputLeavesNoOutput) {
  // A header claiming 3 sections over a file of 2.
  FlatRun run = run_mapflat(map_of(2, 1, 3, 2, {1, 2, 3, 4}));
  EXPECT_EQ(run.r.status, 1);
  EXPECT_TRUE(contains(run.r.out, "\n\n END OF FILE ON MAP INPUT FILE !!!!\n"));
  EXPECT_TRUE(contains(run.r.err, "mapflat: in.map: the file ends before section 2 (counted from 0) of its 3 sections"))
      << run.r.err;
  EXPECT_FALSE(contains(run.r.out, "OUTPUT FILE"));
  EXPECT_FALSE(run.written);

  run = run_mapflat(map_of(2, 1, 1, 2, {1, 2}), "in.map\n");
  EXPECT_EQ(run.r.status, 2);
  EXPECT_TRUE(
      contains(run.r.err, "mapflat: standard input, line 2: end of file: the name of the 2-D output file expected"))
      << run.r.err;
  EXPECT_FALSE(run.written);

  // An empty answer for a map name is refused, never left to the library's default name.
  run = run_mapflat(map_of(2, 1, 1, 2, {1, 2}), "in.map\n  \n");
  EXPECT_EQ(run.r.status, 2);
  EXPECT_TRUE(contains(run.r.err, "mapflat: standard input, line 2: no file name given")) << run.r.err;
  EXPECT_FALSE(run.written);

  run = run_mapflat(map_of(2, 1, 0, 2, {}));
  EXPECT_EQ(run.r.status, 2);
  EXPECT_TRUE(contains(run.r.err, "mapflat: in.map: map of 2 x 1 x 0 holds no data")) << run.r.err;
  EXPECT_FALSE(run.written);
}

TEST(Mapflat, SumsBeyondAByteMapAreStoredWrappedWithAWarning) {
  // Column sums 300 and 3, raised by 3: 303 keeps its low 8 bits (47) in a mode 0 file.
  const FlatRun run = run_mapflat(map_of(2, 2, 1, 0, {200, 1, 100, 2}));
  ASSERT_EQ(run.r.status, 0) << run.r.err;
  const MapFile out(run.flat);
  EXPECT_EQ(out.mode(), 0);
  EXPECT_EQ(out.values(), (std::vector<float>{47, 6}));
  EXPECT_EQ(out.dmax(), 303.0f);
  EXPECT_TRUE(contains(run.r.err, "mapflat: warning: 1 of 2 values do not fit data mode 0 of out.map")) << run.r.err;
}

TEST(Mapflat, TheInputIsNeverOverwritten) {
  // Even when IMAGE_OPEN lets a new file replace an existing one.
  const MapSpec in = map_of(2, 1, 1, 2, {1, 2});
  std::string after;
  const FlatRun run = run_mapflat(in, "in.map\nin.map\n", {{"IMAGE_OPEN", "UNKNOWN"}}, &after);
  EXPECT_EQ(run.r.status, 2);
  EXPECT_TRUE(contains(run.r.err, "mapflat: in.map: the output in.map is the input map in.map")) << run.r.err;
  EXPECT_EQ(after, maptest::map_bytes(in));
}
