// mapfsc on maps whose curve is known: a map with itself, independent noise, a sum of plane
// waves moved by a sub-voxel shift (each wave keeps its power and turns its phase), maps that
// differ only outside the mask, and bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "mapbytes.hpp"
#include "runprog.hpp"

using namespace testsupport;

namespace {

constexpr int n = 24;  // cubic maps of n^3 voxels of 1.5 A
constexpr float voxel = 1.5f;

maptest::MapSpec cube(std::vector<float> values) {
  maptest::MapSpec s = maptest::map_of(n, n, n, 2, std::move(values));
  s.mxyz = {n, n, n};
  s.cell = {n * voxel, n * voxel, n * voxel, 90.0f, 90.0f, 90.0f};
  return s;
}

struct Row {
  int shell = 0;
  double frequency = 0, resolution = 0, fsc = 0;
  long voxels = 0;
};

struct FscRun {
  RunResult r;
  std::vector<Row> rows;
  bool table = false;
  std::string text;  // the table file
};

FscRun run_fsc(const maptest::MapSpec& a, const maptest::MapSpec& b, std::vector<std::string> extra = {}) {
  TempDir dir;
  dir.write("a.map", maptest::map_bytes(a));
  dir.write("b.map", maptest::map_bytes(b));
  RunSpec job;
  job.exe = program_path("mapfsc");
  job.args = {"a.map", "b.map", "--table", "fsc.txt"};
  job.args.insert(job.args.end(), extra.begin(), extra.end());
  job.timeout_seconds = 30;
  FscRun run;
  run.r = run_in(dir.path(), job);
  run.table = dir.exists("fsc.txt");
  if (run.table) {
    run.text = dir.read("fsc.txt");
    std::istringstream in(run.text);
    std::string line;
    while (std::getline(in, line)) {
      if (line.empty() || line[0] == '#') continue;
      std::istringstream f(line);
      Row row;
      f >> row.shell >> row.frequency >> row.resolution >> row.fsc >> row.voxels;
      run.rows.push_back(row);
    }
  }
  return run;
}

// A resolution as the report writes it: fixed, 10 wide, 2 decimals.
std::string records_fixed(double r) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%10.2f", r);
  return buf;
}

std::vector<float> noise(unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<float> d(0.0f, 1.0f);
  std::vector<float> v(static_cast<std::size_t>(n * n * n));
  for (float& x : v) x = d(gen);
  return v;
}

// A plane wave of integer frequency vector k (cycles per box), amplitude a and phase phi.
struct Wave {
  int kx, ky, kz;
  double a, phi;
  double length() const { return std::sqrt(double(kx * kx + ky * ky + kz * kz)); }
  int shell() const { return static_cast<int>(std::floor(length() + 0.5)); }
};

// `count` waves of distinct frequencies (no two the same or opposite) with lengths from
// `shortest` up to below Nyquist.
std::vector<Wave> random_waves(std::mt19937& gen, std::size_t count, double shortest) {
  std::uniform_int_distribution<int> comp(-n / 2 + 1, n / 2 - 1);
  std::uniform_real_distribution<double> amp(0.2, 1.0), phase(0.0, 2.0 * std::numbers::pi);
  std::vector<Wave> waves;
  while (waves.size() < count) {
    Wave w{comp(gen), comp(gen), comp(gen), amp(gen), phase(gen)};
    if (w.length() > n / 2 - 0.5 || w.length() < shortest) continue;
    bool repeated = false;
    for (const Wave& o : waves)
      repeated = repeated || (o.kx == w.kx && o.ky == w.ky && o.kz == w.kz) ||
                 (o.kx == -w.kx && o.ky == -w.ky && o.kz == -w.kz);
    if (!repeated) waves.push_back(w);
  }
  return waves;
}

// The map of the waves, each turned by turn(w) radians.
template <class Turn>
std::vector<float> render(const std::vector<Wave>& waves, Turn turn) {
  std::vector<float> v(static_cast<std::size_t>(n * n * n));
  for (int z = 0; z < n; ++z)
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) {
        double sum = 0.0;
        for (const Wave& w : waves)
          sum += w.a * std::cos(2.0 * std::numbers::pi * (w.kx * x + w.ky * y + w.kz * z) / n + w.phi - turn(w));
        v[static_cast<std::size_t>((z * n + y) * n + x)] = static_cast<float>(sum);
      }
  return v;
}

// Shells 1 and 2 of a cube of n^3 voxels hold 18 and 62 Fourier voxels (the integer vectors of
// squared length 1-2 and 3-6), shell 3 holds 98: the first two are too few for a correlation.
const std::string few_voxels =
    " shells 1-2 skipped: fewer than 72 Fourier voxels, too few for a correlation of 0.5 to stand out of chance\n";

}  // namespace

TEST(Mapfsc, AMapWithItselfIsOneInEveryShellUpToNyquist) {
  const maptest::MapSpec a = cube(noise(1));
  const FscRun run = run_fsc(a, a);
  ASSERT_EQ(run.r.status, 0) << run.r.err;
  ASSERT_EQ(run.rows.size(), static_cast<std::size_t>(n / 2));
  for (const Row& row : run.rows) {
    EXPECT_NEAR(row.fsc, 1.0, 1e-4);
    EXPECT_NEAR(row.frequency, row.shell / (n * voxel), 1e-5);
    EXPECT_NEAR(row.resolution, n * voxel / row.shell, 0.006);
  }
  // Shell 1 holds the 6 neighbours and the 12 next-nearest points of the origin.
  EXPECT_EQ(run.rows[0].voxels, 18);
  EXPECT_TRUE(contains(run.r.out, "FSC 0.5: not reached")) << run.r.out;
  EXPECT_TRUE(contains(run.r.out, "FSC 0.143: not reached"));
}

TEST(Mapfsc, IndependentNoiseStaysWithinItsStatisticalSpread) {
  const FscRun run = run_fsc(cube(noise(2)), cube(noise(3)));
  ASSERT_EQ(run.r.status, 0) << run.r.err;
  ASSERT_EQ(run.rows.size(), static_cast<std::size_t>(n / 2));
  // Each shell's correlation has a spread of about 1/sqrt(voxels).
  for (const Row& row : run.rows) EXPECT_LT(std::fabs(row.fsc), 3.0 / std::sqrt(double(row.voxels))) << row.shell;
  // It lies below 0.5 from the lowest shell that holds data on (shell 3 of the 36 A box, at
  // 12 A): no crossing, and no resolution claimed.
  EXPECT_TRUE(contains(run.r.out, few_voxels +
                                      " FSC 0.5: below it from shell 3 at      12.00 A, the lowest shell that holds "
                                      "data: no crossing\n"))
      << run.r.out;
}

TEST(Mapfsc, CrossingsAreMeasuredFromTheLowestShellThatHoldsData) {
  // Plane waves from shell 4 on, the same in both maps up to shell 7 and turned by 90 degrees
  // in B from shell 8 on (correlation 0 there); A alone also holds a wave in shell 3. Shells 1-2
  // are skipped for their few voxels, shell 3 as B holds no data there; the curve is 1 up to
  // shell 7 and 0 from shell 8, so 0.5 is crossed half way between them, at frequency
  // 7.5/36 A.
  std::mt19937 gen(11);
  std::vector<Wave> waves = random_waves(gen, 300, 3.5);
  auto b_turn = [](const Wave& w) { return w.shell() >= 8 ? std::numbers::pi / 2.0 : 0.0; };
  std::vector<float> a = render(waves, [](const Wave&) { return 0.0; });
  const std::vector<float> b = render(waves, b_turn);
  const std::vector<float> extra = render({Wave{3, 0, 0, 1.0, 0.3}}, [](const Wave&) { return 0.0; });
  for (std::size_t i = 0; i < a.size(); ++i) a[i] += extra[i];
  const FscRun run = run_fsc(cube(a), cube(b));
  ASSERT_EQ(run.r.status, 0) << run.r.err;
  const std::string half = records_fixed(36.0 / 7.5);
  EXPECT_TRUE(
      contains(run.r.out, few_voxels + " shell 3 skipped: b.map holds no data there\n FSC 0.5 at " + half + " A\n"))
      << run.r.out;
  // The table names the skipped shells in its comments.
  EXPECT_TRUE(contains(run.text, "# shell 3 skipped: b.map holds no data there\n")) << run.text;

  // Without the 90-degree turn the curve stays 1 from shell 4 to shell 11; no wave reaches
  // shell 12, where the maps hold no data and the correlation is 0: the crossing lies half way,
  // at frequency 11.5/36 A.
  const FscRun same = run_fsc(cube(a), cube(render(waves, [](const Wave&) { return 0.0; })));
  EXPECT_TRUE(contains(
      same.r.out, "shell 3 skipped: b.map holds no data there\n FSC 0.5 at " + records_fixed(36.0 / 11.5) + " A\n"))
      << same.r.out;
  ASSERT_EQ(same.rows.size(), 12u);
  EXPECT_EQ(same.rows[11].fsc, 0.0);

  // A box of 4^3 voxels: its two shells hold too few voxels, nothing is measured.
  maptest::MapSpec tiny = maptest::map_of(4, 4, 4, 2, std::vector<float>(a.begin(), a.begin() + 64));
  tiny.mxyz = {4, 4, 4};
  tiny.cell = {6.0f, 6.0f, 6.0f, 90.0f, 90.0f, 90.0f};
  const FscRun small = run_fsc(tiny, tiny);
  EXPECT_TRUE(contains(small.r.out, " FSC 0.5: not measured, every shell was skipped\n")) << small.r.out;
}

TEST(Mapfsc, ASubVoxelShiftGivesTheCurveOfItsPhaseRamp) {
  // Plane waves of integer frequency vectors k (cycles per box): moving the map by d voxels
  // along x turns wave k by 2 pi kx d / n and keeps its power, so shell s correlates at
  // sum a^2 cos(2 pi kx d / n) / sum a^2 over the waves of the shell.
  std::mt19937 gen(7);
  const double d = 0.6;
  const std::vector<Wave> waves = random_waves(gen, 200, 0.5);
  const std::vector<float> a = render(waves, [](const Wave&) { return 0.0; });
  const std::vector<float> b = render(waves, [&](const Wave& w) { return 2.0 * std::numbers::pi * w.kx * d / n; });
  const FscRun run = run_fsc(cube(a), cube(b));
  ASSERT_EQ(run.r.status, 0) << run.r.err;
  for (const Row& row : run.rows) {
    double num = 0.0, den = 0.0;
    for (const Wave& w : waves) {
      if (w.shell() != row.shell) continue;
      num += w.a * w.a * std::cos(2.0 * std::numbers::pi * w.kx * d / n);
      den += w.a * w.a;
    }
    if (den > 0.0) {
      EXPECT_NEAR(row.fsc, num / den, 2e-4) << "shell " << row.shell;
    }
  }
}

TEST(Mapfsc, TheCylindricalMaskIgnoresWhatLiesOutsideIt) {
  // Two maps that differ only beyond radius 6 A + edge 3 A of the axis correlate perfectly
  // within the mask, and not without it.
  std::vector<float> a = noise(4), b = a;
  const std::vector<float> other = noise(5);
  for (int z = 0; z < n; ++z)
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) {
        const double r = double(voxel) * std::hypot(x - n / 2, y - n / 2);
        const std::size_t i = static_cast<std::size_t>((z * n + y) * n + x);
        if (r >= 9.0) b[i] = other[i];
      }
  const FscRun masked = run_fsc(cube(a), cube(b), {"--mask", "6", "--edge", "3"});
  ASSERT_EQ(masked.r.status, 0) << masked.r.err;
  for (const Row& row : masked.rows) EXPECT_NEAR(row.fsc, 1.0, 1e-4);
  EXPECT_TRUE(contains(masked.r.out, "cylindrical mask of radius"));
  const FscRun bare = run_fsc(cube(a), cube(b));
  EXPECT_LT(bare.rows.back().fsc, 0.9);
}

TEST(Mapfsc, BadInputIsRefusedAndWritesNoTable) {
  const maptest::MapSpec a = cube(noise(6));
  maptest::MapSpec small =
      maptest::map_of(n, n, n - 1, 2, std::vector<float>(static_cast<std::size_t>(n * n * (n - 1))));
  small.mxyz = {n, n, n - 1};
  small.cell = {n * voxel, n * voxel, (n - 1) * voxel, 90.0f, 90.0f, 90.0f};
  const FscRun sizes = run_fsc(a, small);
  EXPECT_EQ(sizes.r.status, 2);
  EXPECT_TRUE(contains(sizes.r.err, "mapfsc: b.map: a map of 24 x 24 x 23 cannot be compared with a.map"))
      << sizes.r.err;
  EXPECT_FALSE(sizes.table);

  maptest::MapSpec complex = maptest::map_of(n, n, n, 4, std::vector<float>(static_cast<std::size_t>(2 * n * n * n)));
  const FscRun modes = run_fsc(a, complex);
  EXPECT_EQ(modes.r.status, 2);
  EXPECT_TRUE(contains(modes.r.err, "data mode 4")) << modes.r.err;
  EXPECT_FALSE(modes.table);

  maptest::MapSpec coarse = a;
  coarse.cell = {n * 2.0f, n * 2.0f, n * 2.0f, 90.0f, 90.0f, 90.0f};
  const FscRun voxels = run_fsc(a, coarse);
  EXPECT_EQ(voxels.r.status, 2);
  EXPECT_TRUE(contains(voxels.r.err, "voxel size")) << voxels.r.err;

  // a map that is not there, either first or second: status 2 naming it, no table
  for (const std::vector<std::string>& pair :
       {std::vector<std::string>{"nowhere.map", "a.map"}, {"a.map", "nowhere.map"}}) {
    TempDir dir;
    dir.write("a.map", maptest::map_bytes(a));
    RunSpec job;
    job.exe = program_path("mapfsc");
    job.args = {pair[0], pair[1], "--table", "fsc.txt"};
    const RunResult r = run_in(dir.path(), job);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_TRUE(contains(r.err, "mapfsc: nowhere.map: does not exist")) << r.err;
    EXPECT_FALSE(dir.exists("fsc.txt"));
  }

  for (const std::vector<std::string>& extra :
       {std::vector<std::string>{"--mask", "-3"}, {"--edge", "2"}, {"--bogus", "1"}, {"--mask", "x"}}) {
    const FscRun opt = run_fsc(a, a, extra);
    EXPECT_EQ(opt.r.status, 2) << extra[0];
    EXPECT_TRUE(contains(opt.r.err, "mapfsc: command line")) << opt.r.err;
    EXPECT_FALSE(opt.table);
  }
}
