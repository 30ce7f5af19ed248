// The fast kernel at every vector width and the literal kernel write the same report, messages
// and exit status, byte for byte, on random files: negative amplitudes, phases far outside -180..180, large Bessel
// orders and layer-line numbers, repeated records, both switches, echoed records.
#include <gtest/gtest.h>

#include <iostream>
#include <random>
#include <sstream>
#include <string>

#include "layerline/pointlist.hpp"
#include "runprog.hpp"

using namespace testsupport;

namespace {

struct Files {
  std::string control, reference, test;
};

Files random_files(std::uint32_t seed) {
  std::mt19937 rng(seed);
  auto uni = [&](double a, double b) { return static_cast<float>(std::uniform_real_distribution<double>(a, b)(rng)); };
  auto pick = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); };
  auto phase = [&] { return pick(0, 9) == 0 ? uni(-9.0e4, 9.0e4) : uni(-540.0, 540.0); };
  const int lines = pick(1, 4);
  const float delbr = 0.001f;
  const float recc = uni(0.001, 0.02);
  Files f;
  std::ostringstream ctl;
  ctl << lines << " " << recc << " " << delbr << " " << (pick(0, 3) == 0 ? 1 : 0) << "\n";
  for (int l = 1; l <= lines; ++l) ctl << " " << uni(0.0, 2.0);
  ctl << "\nrandom case " << seed << "\n" << pick(0, 1) << " " << pick(0, 1) << "\n";
  f.control = ctl.str();
  for (int l = 1; l <= lines; ++l) {
    const int nn = pick(0, 3) == 0 ? pick(-40, 40) : pick(-3, 3);
    const int nl = pick(0, 3) == 0 ? pick(-900, 900) : pick(0, 30);
    const std::string head = layerline::sidesplit_label("random", nl, true, 1.0f) + "\n";
    f.reference += head + layerline::parameter_record(uni(0.5, 1.5), nn, nl) + "\n";
    // The test block is sometimes of another order or layer-line number.
    f.test += head +
              layerline::parameter_record(uni(0.5, 1.5), pick(0, 9) == 0 ? nn + 1 : nn, pick(0, 9) == 0 ? nl + 2 : nl) +
              "\n";
    const int nref = pick(3, 30);
    for (int k = 1; k <= nref; ++k) {
      const float amp = pick(0, 9) == 0 ? -999.0f : uni(-20.0, 200.0);
      f.reference +=
          layerline::point_record(layerline::Point{static_cast<float>(k) * delbr * uni(0.9, 1.1), amp, phase()}) + "\n";
    }
    f.reference += layerline::terminator_record() + "\n";
    const int ntest = pick(1, 35);
    std::string last;
    for (int k = 1; k <= ntest; ++k) {
      std::string rec = layerline::point_record(
          layerline::Point{static_cast<float>(k) * delbr * uni(0.85, 1.15), uni(-20.0, 200.0), phase()});
      if (k > 1 && pick(0, 7) == 0) rec = last;  // the same record again
      f.test += rec + "\n";
      last = rec;
    }
    f.test += layerline::terminator_record() + "\n";
  }
  return f;
}

RunResult run(const TempDir& d, const Files& f, const std::string& kernel) {
  d.write("fort.2", f.control);
  d.write("fort.3", f.reference);
  d.write("fort.1", f.test);
  RunSpec job;
  job.exe = program_path("gridscan");
  if (!kernel.empty()) job.args = {"--kernel=" + kernel};
  return run_in(d.path(), job);
}

// Whether the program accepts --kernel level on this processor (it refuses, with status 2, a
// width the processor does not run).
bool kernel_runs_here(const std::string& program, const std::string& level) {
  TempDir d;
  RunSpec job;
  job.exe = program_path(program);
  job.args = {"--kernel", level, "--control", "missing"};
  const RunResult r = run_in(d.path(), job);
  return r.err.find("this processor does not run") == std::string::npos;
}

}  // namespace

TEST(GridscanKernels, SameReportOnRandomFilesAtEveryWidth) {
  // The default, and every vector width this processor runs.
  std::vector<std::string> kernels = {""};
  for (const std::string level : {"sse2", "avx2", "avx512"}) {
    if (kernel_runs_here("gridscan", level))
      kernels.push_back(level);
    else
      std::cout << "[ SKIPPED  ] --kernel " << level << ": not run by this processor\n";
  }
  for (std::uint32_t seed = 1; seed <= 16; ++seed) {
    const Files f = random_files(seed);
    TempDir literal;
    const RunResult a = run(literal, f, "literal");
    ASSERT_TRUE(literal.exists("fort.7")) << seed << a.err;
    for (const std::string& kernel : kernels) {
      TempDir fast;
      const RunResult b = run(fast, f, kernel);
      ASSERT_FALSE(a.timed_out || b.timed_out) << seed;
      EXPECT_EQ(a.status, b.status) << seed << kernel;
      EXPECT_EQ(a.out, b.out) << seed << kernel;
      EXPECT_EQ(a.err, b.err) << seed << kernel;
      EXPECT_EQ(literal.read("fort.7"), fast.read("fort.7")) << seed << kernel;
    }
  }
}

TEST(GridscanKernels, KernelOption) {
  TempDir d;
  RunSpec job;
  job.exe = program_path("gridscan");
  job.args = {"--kernel", "quick"};
  const RunResult r = run_in(d.path(), job);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "gridscan: command line: --kernel is fast, literal, sse2, avx2 or avx512, not \"quick\"\n");
  job.args = {"--help"};
  EXPECT_NE(run_in(d.path(), job).out.find("--kernel fast|literal|sse2|avx2|avx512"), std::string::npos);
}
