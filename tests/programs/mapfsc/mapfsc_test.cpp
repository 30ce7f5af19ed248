// mapfsc on maps whose curve is known: a map with itself, independent noise, a sum of plane
// waves moved by a sub-voxel shift (each wave keeps its power and turns its phase), maps that
// differ only outside the mask, and bad input.
#include <gtest/gtest.h>

#include <cmath>
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
    std::istringstream in(dir.read("fsc.txt"));
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

std::vector<float> noise(unsigned seed) {
  std::mt19937 gen(seed);
  std::normal_distribution<float> d(0.0f, 1.0f);
  std::vector<float> v(static_cast<std::size_t>(n * n * n));
  for (float& x : v) x = d(gen);
  return v;
}

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
  // It falls below both thresholds in the first shell.
  EXPECT_TRUE(contains(run.r.out, " FSC 0.5 at      36.00 A")) << run.r.out;
}

TEST(Mapfsc, ASubVoxelShiftGivesTheCurveOfItsPhaseRamp) {
  // Plane waves of integer frequency vectors k (cycles per box): moving the map by d voxels
  // along x turns wave k by 2 pi kx d / n and keeps its power, so shell s correlates at
  // sum a^2 cos(2 pi kx d / n) / sum a^2 over the waves of the shell.
  std::mt19937 gen(7);
  std::uniform_int_distribution<int> comp(-n / 2 + 1, n / 2 - 1);
  std::uniform_real_distribution<double> amp(0.2, 1.0), phase(0.0, 2.0 * std::numbers::pi);
  const double d = 0.6;
  struct Wave {
    int kx, ky, kz;
    double a, phi;
  };
  std::vector<Wave> waves;
  while (waves.size() < 200) {
    Wave w{comp(gen), comp(gen), comp(gen), amp(gen), phase(gen)};
    const double len = std::sqrt(double(w.kx * w.kx + w.ky * w.ky + w.kz * w.kz));
    if (len > n / 2 - 0.5 || len < 0.5) continue;
    bool repeated = false;
    for (const Wave& o : waves)
      repeated = repeated || (o.kx == w.kx && o.ky == w.ky && o.kz == w.kz) ||
                 (o.kx == -w.kx && o.ky == -w.ky && o.kz == -w.kz);
    if (!repeated) waves.push_back(w);
  }
  std::vector<float> a(static_cast<std::size_t>(n * n * n)), b(a.size());
  for (int z = 0; z < n; ++z)
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) {
        double va = 0.0, vb = 0.0;
        for (const Wave& w : waves) {
          const double t = 2.0 * std::numbers::pi * (w.kx * x + w.ky * y + w.kz * z) / n + w.phi;
          va += w.a * std::cos(t);
          vb += w.a * std::cos(t - 2.0 * std::numbers::pi * w.kx * d / n);
        }
        a[static_cast<std::size_t>((z * n + y) * n + x)] = static_cast<float>(va);
        b[static_cast<std::size_t>((z * n + y) * n + x)] = static_cast<float>(vb);
      }
  const FscRun run = run_fsc(cube(a), cube(b));
  ASSERT_EQ(run.r.status, 0) << run.r.err;
  for (const Row& row : run.rows) {
    double num = 0.0, den = 0.0;
    for (const Wave& w : waves) {
      const double len = std::sqrt(double(w.kx * w.kx + w.ky * w.ky + w.kz * w.kz));
      if (static_cast<int>(std::floor(len + 0.5)) != row.shell) continue;
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
