// The fast kernel, the default and at every vector width the processor runs, and the literal
// kernel write the same report, results record and fitted test file, byte for byte, on random
// gridded files: negative parts, large Bessel orders and layer-line numbers, both switches,
// random grids and windows, under both rescaling rules.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "layerline/gridded.hpp"
#include "phaselanes/phaselanes.hpp"
#include "runprog.hpp"

using namespace testsupport;

namespace {

struct Case {
  std::string control, reference, test, answers;
};

Case random_case(std::uint32_t seed) {
  std::mt19937 rng(seed);
  auto uni = [&](double a, double b) { return static_cast<float>(std::uniform_real_distribution<double>(a, b)(rng)); };
  auto pick = [&](int a, int b) { return std::uniform_int_distribution<int>(a, b)(rng); };
  const int lines = pick(1, 5), ismax = pick(8, 40);
  std::vector<std::pair<int, int>> nl;
  for (int l = 0; l < lines; ++l)
    nl.push_back({pick(0, 3) == 0 ? pick(-40, 40) : pick(-4, 4), pick(0, 3) == 0 ? pick(-500, 500) : pick(0, 20)});
  auto file = [&](const std::string& title) {
    std::ostringstream out;
    layerline::write_gridded_header(out, layerline::GriddedHeader{title, lines, 1, ismax, 1.0f});
    for (int l = 0; l < lines; ++l)
      for (int part = 0; part < 2; ++part) {
        std::vector<float> v;
        for (int j = 1; j <= ismax; ++j) v.push_back(uni(-50.0, 50.0));
        layerline::write_value_group(out, nl[static_cast<std::size_t>(l)].first, nl[static_cast<std::size_t>(l)].second,
                                     v);
      }
    return out.str();
  };
  Case c;
  c.reference = file("random reference");
  c.test = file("random test");
  std::ostringstream ctl;
  ctl << "random case\nref.dat\n1 " << uni(20.0, 200.0) << " 0.002 0.002\n"
      << uni(0.0, 60.0) << "\n1 1.0\ntest.dat\n"
      << pick(0, 1) << " " << pick(0, 1) << "\n"
      << uni(-20.0, 20.0) << " " << uni(0.5, 3.0) << " " << pick(3, 8) << "\n"
      << uni(-20.0, 20.0) << " " << uni(0.5, 3.0) << " " << pick(3, 9) << "\n"
      << uni(0.95, 1.05) << " 0.01 " << pick(3, 5) << "\n0\n";
  c.control = ctl.str();
  c.answers = "case.ctl\ncase.res\nfitted.dat\n" + std::to_string(pick(0, 6)) + " " + std::to_string(2 * ismax) + "\n";
  return c;
}

RunResult run(const TempDir& d, const Case& c, const std::string& kernel, const std::string& rescale) {
  d.write("case.ctl", c.control);
  d.write("ref.dat", c.reference);
  d.write("test.dat", c.test);
  RunSpec job;
  job.exe = program_path("curvematch");
  if (!kernel.empty()) job.args.push_back("--kernel=" + kernel);
  if (!rescale.empty()) job.args.push_back("--rescale=" + rescale);
  job.stdin_text = c.answers;
  return run_in(d.path(), job);
}

}  // namespace

TEST(CurvematchKernels, SameReportAndFilesOnRandomFilesAtEveryWidthUnderBothRules) {
  std::vector<std::string> kernels = {""};  // the default kernel
  for (const phaselanes::Level level : {phaselanes::Level::sse2, phaselanes::Level::avx2, phaselanes::Level::avx512})
    if (phaselanes::level_supported(level)) kernels.emplace_back(phaselanes::level_name(level));
  for (std::uint32_t seed = 1; seed <= 12; ++seed) {
    const Case c = random_case(seed);
    for (const std::string rescale : {"interpolated", "truncated"}) {
      TempDir literal;
      const RunResult a = run(literal, c, "literal", rescale);
      ASSERT_FALSE(a.timed_out) << seed;
      for (const std::string& kernel : kernels) {
        SCOPED_TRACE("seed " + std::to_string(seed) + ", --rescale " + rescale + ", kernel " + kernel);
        TempDir fast;
        const RunResult b = run(fast, c, kernel, rescale);
        ASSERT_FALSE(b.timed_out);
        EXPECT_EQ(a.status, b.status);
        EXPECT_EQ(a.out, b.out);
        EXPECT_EQ(a.err, b.err);
        for (const char* name : {"case.res", "fitted.dat"}) {
          ASSERT_EQ(literal.exists(name), fast.exists(name)) << name;
          if (literal.exists(name)) {
            EXPECT_EQ(literal.read(name), fast.read(name)) << name;
          }
        }
      }
    }
  }
}

TEST(CurvematchKernels, KernelOption) {
  TempDir d;
  RunSpec job;
  job.exe = program_path("curvematch");
  job.args = {"--kernel=quick"};
  const RunResult r = run_in(d.path(), job);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "curvematch: command line: --kernel is fast, literal, sse2, avx2 or avx512, not \"quick\"\n");
  job.args = {"--help"};
  EXPECT_NE(run_in(d.path(), job).out.find("--kernel chooses"), std::string::npos);
}
