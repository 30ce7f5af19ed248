// mapsig through its dialogue: hand-computed t statistics, the voxels of zero variance, the
// header carried from the first mean map, every data mode and byte order, and bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "mapbytes.hpp"
#include "runprog.hpp"

using namespace testsupport;
using maptest::map_of;
using maptest::MapFile;
using maptest::MapSpec;

namespace {

std::string dialogue(int n1, int n2, const std::string& a1 = "av1.map", const std::string& s1 = "sd1.map",
                     const std::string& a2 = "av2.map", const std::string& s2 = "sd2.map") {
  return "a title for the run\n" + std::to_string(n1) + "\n" + a1 + "\n" + s1 + "\n" + std::to_string(n2) + "\n" + a2 +
         "\n" + s2 + "\n";
}

struct SigRun {
  RunResult r;
  bool written = false;
  std::string tstat;
  std::string first_after;  // the first mean map after the run
};

// Writes the four maps (mean 1, deviation 1, mean 2, deviation 2) and runs mapsig.
SigRun run_mapsig(const std::vector<MapSpec>& maps, const std::string& input,
                  std::vector<std::pair<std::string, std::string>> env = {}) {
  TempDir dir;
  const char* names[4] = {"av1.map", "sd1.map", "av2.map", "sd2.map"};
  for (std::size_t k = 0; k < maps.size(); ++k) dir.write(names[k], maptest::map_bytes(maps[k]));
  RunSpec job;
  job.exe = program_path("mapsig");
  job.stdin_text = input;
  job.env = std::move(env);
  job.timeout_seconds = 20;
  SigRun run;
  run.r = run_in(dir.path(), job);
  if (!maps.empty()) run.first_after = dir.read(names[0]);
  run.written = dir.exists("TSTAT");
  if (run.written) run.tstat = dir.read("TSTAT");
  return run;
}

// The t statistic of the closed form, in double precision.
double t_of(double m1, double s1, int n1, double m2, double s2, int n2) {
  const double pooled = ((n1 - 1) * s1 * s1 + (n2 - 1) * s2 * s2) / (n1 + n2 - 2);
  return 100.0 * std::fabs(m1 - m2) / std::sqrt(pooled * (1.0 / n1 + 1.0 / n2));
}

// The three 10-character fields after five blanks of the statistics line (the last line).
std::vector<std::string> statistics_fields(const std::string& out) {
  std::string body = out.substr(0, out.size() - 1);
  const std::string last = body.substr(body.rfind('\n') + 1);
  EXPECT_EQ(last.size(), 35u) << last;
  EXPECT_EQ(last.substr(0, 5), "     ");
  return {last.substr(5, 10), last.substr(15, 10), last.substr(25, 10)};
}

}  // namespace

TEST(Mapsig, HandComputedVoxelsAndTheirStatistics) {
  // Two sections of 3 x 2 voxels; sets of 3 and 5 maps.
  //   voxel 0: m 10/7, s 3/1.5: P = 2*9 + 4*2.25 = 27, sp = sqrt(27/6), t = 300/sqrt(4.5*8/15)
  //            = 300/sqrt(2.4) = 193.649167
  //   voxel 1: equal means, P > 0: 0, taking part in the minimum
  //   voxel 2: both deviations 0: 0, left out of minimum and maximum
  //   voxel 3: only set 2 varies: P = 4*4 = 16, sp = sqrt(16/6)
  const std::vector<float> av1 = {10.0f, 5.0f, 1.0f, 2.0f, -1.0f, 0.5f, 4.0f, 4.0f, 4.0f, 4.0f, 4.0f, 100.0f};
  const std::vector<float> sd1 = {3.0f, 1.0f, 0.0f, 0.0f, 2.0f, 0.25f, 1.0f, 2.0f, 3.0f, 4.0f, 5.0f, 6.0f};
  const std::vector<float> av2 = {7.0f, 5.0f, 9.0f, 3.0f, 1.0f, -0.5f, 3.0f, 2.0f, 1.0f, 0.0f, -1.0f, 0.0f};
  const std::vector<float> sd2 = {1.5f, 2.0f, 0.0f, 2.0f, 0.5f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 1.0f, 0.5f};
  MapSpec first = map_of(3, 2, 2, 2, av1);
  first.nxyzstart = {-1, 2, 3};
  first.mxyz = {30, 20, 10};
  first.cell = {45.0f, 55.0f, 65.0f, 80.0f, 95.0f, 120.0f};
  first.dens = {-3.0f, 4.0f, 0.5f};
  first.extra[0] = 7;
  first.extra[24] = -9;
  first.origin = {1.5f, -2.5f, 3.25f};
  first.rms = 0.75f;
  first.labels = {"first label of the mean map", "second label"};
  const SigRun run = run_mapsig({first, map_of(3, 2, 2, 2, sd1),
                                 map_of(3, 2, 2, 1, {7, 5, 9, 3, 1, 0, 3, 2, 1, 0, -1, 0}), map_of(3, 2, 2, 2, sd2)},
                                dialogue(3, 5));
  ASSERT_EQ(run.r.status, 0) << run.r.out << run.r.err;
  ASSERT_TRUE(run.written);
  const MapFile out(run.tstat);
  ASSERT_EQ(out.values().size(), 12u);
  const std::vector<float> t = out.values();
  const std::vector<float> m2 = {7, 5, 9, 3, 1, 0, 3, 2, 1, 0, -1, 0};  // mode 1 holds whole numbers
  EXPECT_NEAR(t[0], 193.649167, 2e-4);
  EXPECT_EQ(t[1], 0.0f);
  EXPECT_EQ(t[2], 0.0f);
  double sum = 0.0, lo = 1e30, hi = -1e30;
  for (std::size_t j = 0; j < 12; ++j) {
    if (j == 2) continue;
    const double want = t_of(av1[j], sd1[j], 3, m2[j], sd2[j], 5);
    EXPECT_NEAR(t[j], want, 1e-5 * want + 1e-6) << "voxel " << j;
    sum += want;
    lo = std::min(lo, want);
    hi = std::max(hi, want);
  }
  // Minimum 0 from voxel 1; the mean divides by all 12 voxels.
  EXPECT_EQ(lo, 0.0);
  EXPECT_EQ(out.dmin(), 0.0f);
  EXPECT_NEAR(out.dmax(), hi, 1e-5 * hi);
  EXPECT_NEAR(out.dmean(), sum / 12.0, 1e-5 * sum / 12.0);
  const std::vector<std::string> f = statistics_fields(run.r.out);
  EXPECT_EQ(f[0], "   0.00000");
  EXPECT_NEAR(std::stod(f[1]), hi, 1e-6 * hi + 1e-5);
  EXPECT_NEAR(std::stod(f[2]), sum / 12.0, 1e-6 * sum / 12.0 + 1e-5);

  // The header is that of the first mean map, but for the densities.
  const std::string in = maptest::map_bytes(first);
  EXPECT_EQ(run.tstat.substr(0, 76), in.substr(0, 76));
  EXPECT_EQ(run.tstat.substr(88, 1024 - 88), in.substr(88, 1024 - 88));
  EXPECT_EQ(out.label(1).substr(0, 27), "first label of the mean map");
  EXPECT_EQ(out.word_i32(56), 2);
  EXPECT_EQ(run.tstat.size(), 1024u + 12u * 4u);
}

TEST(Mapsig, DialogueEchoAndReport) {
  const MapSpec one = map_of(1, 1, 1, 2, {1.0f});
  const SigRun run = run_mapsig({one, one, one, one}, dialogue(4, 6));
  ASSERT_EQ(run.r.status, 0) << run.r.err;
  const std::string name = [](const char* n) {
    return std::string(n) + std::string(60 - std::string(n).size(), ' ');
  }("av1.map");
  const std::string head = "\n MAPSIG , Version 1.0:  Calculate MAPSIG   between two \n 4\n\n";
  EXPECT_EQ(run.r.out.substr(0, head.size()), head);
  EXPECT_TRUE(contains(run.r.out, " 4\n\n ********** INPUT FILE:  " + name + "\n\n\n ********** INPUT FILE:  sd1.map"));
  EXPECT_TRUE(contains(run.r.out, "\n\n 6\n\n ********** INPUT FILE:  av2.map"));
  // The library reports the opens and headers; the title typed does not reach the file.
  EXPECT_TRUE(contains(run.r.out, "Number of columns, rows, sections ........ "));
  EXPECT_EQ(MapFile(run.tstat).word_i32(56), 0);
}

TEST(Mapsig, SetsOfOneMapGiveAnAllZeroMap) {
  const MapSpec m = map_of(2, 2, 3, 2, std::vector<float>(12, 5.0f));
  const MapSpec other = map_of(2, 2, 3, 2, std::vector<float>(12, 1.0f));
  const SigRun run = run_mapsig({m, other, other, m}, dialogue(1, 1));
  ASSERT_EQ(run.r.status, 0) << run.r.err;
  const MapFile out(run.tstat);
  EXPECT_EQ(out.values(), std::vector<float>(12, 0.0f));
  EXPECT_EQ(out.dmin(), 1.0e7f);
  EXPECT_EQ(out.dmax(), -1.0e7f);
  EXPECT_EQ(out.dmean(), 0.0f);
  // Neither extreme fits ten characters with five decimals.
  const std::vector<std::string> f = statistics_fields(run.r.out);
  EXPECT_EQ(f[0], "**********");
  EXPECT_EQ(f[1], "**********");
  EXPECT_EQ(f[2], "   0.00000");
}

TEST(Mapsig, EveryDataModeAndByteOrder) {
  // Sets of 2 maps: sqrt(1/2 + 1/2) = 1 and with s1 = s2 = s the pooled deviation is s, so
  // t = 100 |m1 - m2| / s: 50 (d 2, s 4), 60 (d 3, s 5), 0 (equal means), 0 (no variance).
  const std::vector<float> av1 = {6, 9, 4, 7};
  const std::vector<float> sd = {4, 5, 3, 0};
  const std::vector<float> av2 = {8, 6, 4, 2};
  const std::vector<float> want = {50, 60, 0, 0};
  for (int mode = 0; mode <= 4; ++mode) {
    for (const bool big : {false, true}) {
      SCOPED_TRACE("mode " + std::to_string(mode) + (big ? " big-endian" : " little-endian"));
      // A complex item holds two numbers: the second half of the numbers forms the imaginary
      // parts, each compared on its own.
      const bool complex = mode >= 3;
      const auto numbers = [&](const std::vector<float>& v) {
        std::vector<float> r;
        for (std::size_t k = 0; k < v.size(); ++k) {
          r.push_back(v[k]);
          if (complex) r.push_back(v[(k + 1) % v.size()]);
        }
        return r;
      };
      const std::int32_t nx = 2, ny = 1, nz = 2;
      const SigRun run =
          run_mapsig({map_of(nx, ny, nz, mode, numbers(av1), big), map_of(nx, ny, nz, mode, numbers(sd), big),
                      map_of(nx, ny, nz, mode, numbers(av2), big), map_of(nx, ny, nz, mode, numbers(sd), big)},
                     dialogue(2, 2));
      ASSERT_EQ(run.r.status, 0) << run.r.out << run.r.err;
      const MapFile out(run.tstat);
      EXPECT_EQ(out.mode(), mode);
      EXPECT_EQ(run.tstat.substr(208, 8), std::string("MAP \x44\x41\0\0", 8));  // written natively
      // 100 * (3 / 5) is 60 within a rounding; the integer modes store it rounded.
      const std::vector<float> got = out.values();
      ASSERT_EQ(got.size(), numbers(want).size());
      for (std::size_t k = 0; k < got.size(); ++k) EXPECT_NEAR(got[k], numbers(want)[k], 1e-4) << "number " << k;
      EXPECT_EQ(out.dmin(), 0.0f);
      EXPECT_NEAR(out.dmax(), 60.0f, 1e-4);
      // 110 over the 4 voxels (8 numbers of complex maps) of 2 sections, 2 zeros of no variance
      // included in the divisor.
      EXPECT_NEAR(out.dmean(), 110.0 / 4.0, 1e-4);
    }
  }
}

TEST(Mapsig, RefusesBadInputBeforeTheOutputExists) {
  const MapSpec m = map_of(2, 2, 1, 2, {1, 2, 3, 4});
  struct Case {
    std::string name;
    std::vector<MapSpec> maps;
    std::string input, message;
  };
  const Case cases[] = {
      {"unequal dimensions",
       {m, m, m, map_of(2, 1, 2, 2, {1, 2, 3, 4})},
       dialogue(3, 3),
       "mapsig: sd2.map: map of 2 x 1 x 2, but av1.map is 2 x 2 x 1: the four maps must have equal dimensions"},
      {"real and complex",
       {m, map_of(2, 2, 1, 4, std::vector<float>(8, 1.0f)), m, m},
       dialogue(3, 3),
       "real and complex maps cannot be mixed"},
      {"no data", {map_of(2, 0, 1, 2, {}), m, m, m}, dialogue(3, 3), "mapsig: av1.map: map of 2 x 0 x 1 holds no data"},
      {"n1 of 0",
       {m, m, m, m},
       dialogue(0, 3),
       "mapsig: standard input, line 2: the number of maps in set 1 is 0, it must be at least 1"},
      {"n2 negative", {m, m, m, m}, dialogue(3, -2), "standard input, line 5: the number of maps in set 2 is -2"},
      {"n1 not a number",
       {m, m, m, m},
       "title\nthree\n",
       "standard input, line 2, columns 1-5: \"three\" is not an integer"},
      {"end of input among the names",
       {m, m, m, m},
       "title\n3\nav1.map\nsd1.map\n4\nav2.map\n",
       "mapsig: standard input, line 7: end of file: the name of the standard-deviation map of set 2 expected"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const SigRun run = run_mapsig(c.maps, c.input);
    EXPECT_EQ(run.r.status, 2);
    EXPECT_TRUE(contains(run.r.err, c.message)) << run.r.err;
    EXPECT_FALSE(run.written);
  }
}

TEST(Mapsig, MapEndingEarlyStopsAndRemovesTheUnfinishedOutput) {
  // The header of the second deviation map claims 3 sections; its file holds 2.
  const std::vector<float> six = {1, 2, 3, 4, 5, 6};
  MapSpec shorter = map_of(2, 1, 3, 2, {1, 2, 3, 4});
  const SigRun run =
      run_mapsig({map_of(2, 1, 3, 2, six), map_of(2, 1, 3, 2, six), map_of(2, 1, 3, 2, six), shorter}, dialogue(2, 2));
  EXPECT_EQ(run.r.status, 1);
  EXPECT_TRUE(contains(run.r.out, "\n\n END OF FILE ON MAP INPUT FILE !!!!\n")) << run.r.out;
  EXPECT_TRUE(contains(run.r.err, "mapsig: sd2.map: the file ends before section 2")) << run.r.err;
  // Two sections were written before the end, but no header: the unfinished map is removed.
  EXPECT_FALSE(run.written);

  // A header that claims far more than any file holds fails at the first section.
  MapSpec huge = map_of(100000, 100000, 1, 2, {1, 2});
  const SigRun big = run_mapsig({huge, huge, huge, huge}, dialogue(2, 2));
  EXPECT_EQ(big.r.status, 1);
  EXPECT_TRUE(contains(big.r.err, "mapsig: av1.map: the file ends before section 0")) << big.r.err;
}

TEST(Mapsig, OutputThroughTheLogicalNameTstat) {
  const MapSpec one = map_of(1, 1, 1, 2, {3.0f});
  TempDir dir;
  for (const char* n : {"av1.map", "sd1.map", "av2.map", "sd2.map"}) dir.write(n, maptest::map_bytes(one));
  RunSpec job;
  job.exe = program_path("mapsig");
  job.stdin_text = dialogue(2, 2);
  job.env = {{"TSTAT", "result.map"}};
  const RunResult r = run_in(dir.path(), job);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(dir.exists("result.map"));
  EXPECT_FALSE(dir.exists("TSTAT"));
  // An existing output is not overwritten.
  const std::string before = dir.read("result.map");
  const RunResult again = run_in(dir.path(), job);
  EXPECT_NE(again.status, 0);
  EXPECT_EQ(dir.read("result.map"), before);
}

TEST(Mapsig, StatisticsBeyondAByteMapAreStoredWrappedWithAWarning) {
  // Sets of 2, deviations 1, means 3 apart: t = 300, which a mode 0 file holds as 300 - 256.
  const SigRun run =
      run_mapsig({map_of(1, 1, 1, 0, {5}), map_of(1, 1, 1, 2, {1}), map_of(1, 1, 1, 0, {2}), map_of(1, 1, 1, 2, {1})},
                 dialogue(2, 2));
  ASSERT_EQ(run.r.status, 0) << run.r.err;
  const MapFile out(run.tstat);
  EXPECT_EQ(out.mode(), 0);
  EXPECT_EQ(out.values(), std::vector<float>{44});
  EXPECT_EQ(out.dmax(), 300.0f);
  EXPECT_TRUE(contains(run.r.err, "mapsig: warning: 1 of 1 values do not fit data mode 0 of the output")) << run.r.err;
}

TEST(Mapsig, NoInputIsOverwritten) {
  // Even when IMAGE_OPEN lets a new file replace an existing one.
  const MapSpec one = map_of(1, 1, 1, 2, {3.0f});
  const SigRun run =
      run_mapsig({one, one, one, one}, dialogue(2, 2), {{"TSTAT", "av1.map"}, {"IMAGE_OPEN", "UNKNOWN"}});
  EXPECT_EQ(run.r.status, 2);
  EXPECT_TRUE(contains(run.r.err, "mapsig: TSTAT: the output av1.map is the input map av1.map")) << run.r.err;
  EXPECT_EQ(run.first_after, maptest::map_bytes(one));
}
