// curvematch run end to end on synthetic gridded files: a test data set made from the reference
// by a known rotation, shift and radial scale must be found again.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "layerline/gridded.hpp"
#include "records/source.hpp"
#include "runprog.hpp"

using namespace testsupport;

namespace {

constexpr double pi = 3.14159265358979323846;

// The layer lines of the synthetic particle: (Bessel order N, layer-line number L).
const std::vector<std::pair<int, int>> layer_lines = {{0, 0}, {1, 1}, {-2, 1}, {3, 2}, {-1, 3}, {2, 4}};

struct Particle {
  double phi0 = 0.0;  // rotation, degrees
  double z0 = 0.0;    // axial shift, Angstroms
  double c = 100.0;   // repeat distance
  double s = 1.0;     // the test at radius R holds the reference at radius s*(R - offset)
  double offset = 0.0;
  bool ipole = false, iside = false;
  int ismax = 100;
};

// Amplitude and phase of layer line l (1-based) of the reference at radius R (sampling 1).
double amplitude(int l, double r) { return 50.0 * std::exp(-std::pow((r - 25.0 - l) / 10.0, 2)); }
double phase(int l, double r) { return 40.0 * l + 2.0 * r + 20.0 * std::sin(r / 7.0); }

// A gridded layer-line file: the reference (test = false) or the particle moved as p says:
// phase + N*phi0 - L*360*z0/c, stored negated and turned by -180*N when it is written as if
// from the other hand and the other side (the switches undo both).
std::string gridded(const Particle& p, bool test, const std::string& title) {
  std::ostringstream out;
  const int llmax = static_cast<int>(layer_lines.size());
  layerline::write_gridded_header(out, {title, llmax, 1, p.ismax, 1.0f});
  for (int l = 1; l <= llmax; ++l) {
    const auto [n, ll] = layer_lines[static_cast<std::size_t>(l - 1)];
    std::vector<float> re, im;
    for (int j = 1; j <= p.ismax; ++j) {
      double r = j - 1.0;
      double ph;
      if (test) {
        r = p.s * (r - p.offset);
        ph = phase(l, r) + n * p.phi0 - ll * 360.0 * p.z0 / p.c;
        if (p.iside) ph -= 180.0 * n;
        if (p.ipole) ph = -ph;
      } else {
        ph = phase(l, r);
      }
      const double a = amplitude(l, r);
      re.push_back(static_cast<float>(a * std::cos(ph * pi / 180.0)));
      im.push_back(static_cast<float>(a * std::sin(ph * pi / 180.0)));
    }
    layerline::write_value_group(out, n, ll, re);
    layerline::write_value_group(out, n, ll, im);
  }
  return out.str();
}

struct Control {
  std::string tfile = "test.dat";
  int iside = 0, ipole = 0;
  std::string phi = "0.0 2.0 5";
  std::string z = "0.0 1.0 5";
  std::string rsc = "1.0 0.02 4";
  std::string acut = "5.0";
};

std::string control(const Control& c) {
  return "synthetic particle\nref.dat\n1 100.0 0.002 0.002\n" + c.acut + "\n1 1.0\n" + c.tfile + "\n" +
         std::to_string(c.iside) + " " + std::to_string(c.ipole) + "\n" + c.phi + "\n" + c.z + "\n" + c.rsc + "\n0\n";
}

const std::string answers = "ctl.dat\nres.dat\nfit.dat\n2 198\n";

RunResult run_curvematch(const TempDir& dir, const std::string& stdin_text = answers,
                         const std::vector<std::string>& args = {}) {
  RunSpec job;
  job.exe = program_path("curvematch");
  job.args = args;
  job.stdin_text = stdin_text;
  job.timeout_seconds = 60;
  return run_in(dir.path(), job);
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) v.push_back(l);
  return v;
}

struct Results {
  long rfactor = 0;
  double phi = 0, z = 0, rsc = 0;
  long residual = 0;
};

Results results_of(const std::string& record) {
  Results r;
  r.rfactor = std::stol(record.substr(0, 10));
  r.phi = std::stod(record.substr(10, 7));
  r.z = std::stod(record.substr(17, 7));
  r.rsc = std::stod(record.substr(24, 8));
  r.residual = std::stol(record.substr(32, 10));
  return r;
}

// Writes the reference, the moved test and the control file, runs curvematch, checks the
// status and returns the results record read back.
Results fit(const TempDir& dir, const Particle& p, const Control& c, RunResult* result = nullptr,
            const std::vector<std::string>& args = {}) {
  dir.write("ref.dat", gridded(Particle{}, false, "reference particle"));
  dir.write(c.tfile, gridded(p, true, "test particle"));
  dir.write("ctl.dat", control(c));
  RunResult r = run_curvematch(dir, answers, args);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(r.err.empty()) << r.err;
  const std::string rec = dir.read("res.dat");
  EXPECT_EQ(rec.size(), 43u) << rec;
  if (result) *result = r;
  return rec.size() >= 42 ? results_of(rec) : Results{};
}

}  // namespace

TEST(CurvematchRun, RecoversRotationAndShift) {
  TempDir dir;
  Particle p;
  p.phi0 = 3.3;
  p.z0 = 1.7;
  RunResult run;
  const Results r = fit(dir, p, Control{}, &run);
  EXPECT_NEAR(r.phi, 3.3, 0.0101);
  EXPECT_NEAR(r.z, 1.7, 0.0101);
  EXPECT_EQ(r.rsc, 1.0);
  EXPECT_LT(r.residual, 100);  // below 0.1 degree

  // the final report shows the same global minimum as the results record
  const auto lines = lines_of(run.out);
  std::size_t table = 0;
  while (table < lines.size() && lines[table] != "  phase residual for each test layer-line at global minimum ")
    ++table;
  ASSERT_LT(table + 5 + layer_lines.size() + 2, lines.size());
  for (std::size_t k = 0; k < layer_lines.size(); ++k) {
    const std::string& row = lines[table + 5 + k];
    EXPECT_EQ(row.size(), 68u) << row;
    EXPECT_EQ(row.substr(35, 10), " (  0- 99)") << row;
    EXPECT_EQ(std::stoi(row.substr(6, 5)), layer_lines[k].second);
    EXPECT_EQ(std::stoi(row.substr(11, 5)), layer_lines[k].first);
  }
  const std::string& closing = lines[table + 5 + layer_lines.size() + 1];
  EXPECT_EQ(closing.substr(0, 12), "  residual =");
  EXPECT_NEAR(std::stod(closing.substr(32, 7)), r.phi, 1e-9);  // phimin in columns 33-39

  // the fitted test file: the reference title and header, and values that match the reference
  records::LineSource ref_src = records::LineSource::open_file((dir / "ref.dat").string());
  records::LineSource fit_src = records::LineSource::open_file((dir / "fit.dat").string());
  const layerline::GriddedHeader rh = layerline::read_gridded_header(ref_src);
  const layerline::GriddedHeader fh = layerline::read_gridded_header(fit_src);
  EXPECT_EQ(fh.title, rh.title);
  EXPECT_EQ(fh.llmax, rh.llmax);
  EXPECT_EQ(fh.ismax, rh.ismax);
  for (int g = 0; g < 2 * rh.llmax; ++g) {
    const layerline::ValueGroup want = layerline::read_value_group(ref_src, rh.ismin, rh.ismax);
    const layerline::ValueGroup got = layerline::read_value_group(fit_src, fh.ismin, fh.ismax);
    EXPECT_EQ(got.n, want.n);
    EXPECT_EQ(got.l, want.l);
    EXPECT_EQ(got.values[0], 0.0f);  // sample 1 is outside the window: absent, written as 0
    for (std::size_t j = 1; j < want.values.size(); ++j)
      EXPECT_NEAR(got.values[j], want.values[j], 0.05f) << "group " << g << " sample " << j + 1;
  }
}

TEST(CurvematchRun, RecoversARadialScaleOnTheGridByTheTruncatedRule) {
  // at the scale 0.5 the walk of the old rule visits every second test sample from index 2:
  // target k takes test sample 2k, radius 2(k-1) + 1, so the test holds the reference at
  // 0.5*(R - 1)
  TempDir dir;
  Particle p;
  p.phi0 = -2.6;
  p.z0 = -4.2;
  p.s = 0.5;
  p.offset = 1.0;
  Control c;
  c.rsc = "0.5 0.05 4";  // 0.40, 0.45, 0.50, 0.55
  const Results r = fit(dir, p, c, nullptr, {"--rescale=truncated"});
  EXPECT_NEAR(r.phi, -2.6, 0.0101);
  EXPECT_NEAR(r.z, -4.2, 0.0101);
  EXPECT_EQ(r.rsc, 0.5);
}

TEST(CurvematchRun, RecoversAScaleOffTheSampleGridFromAnyStartAndFillsEveryFittedSample) {
  // The test holds the reference at 1.02 R (noise-free): the true point is found from starts
  // below and above it, and the fitted test file matches the reference at every sample inside
  // the window, with no zero left between filled samples.
  for (const std::string start : {"0.96 0.02 4", "1.00 0.02 4", "1.08 0.02 4"}) {
    TempDir dir;
    Particle p;
    p.phi0 = 7.5;
    p.z0 = 2.0;
    p.s = 1.02;
    Control c;
    c.phi = "0.0 2.0 5";
    c.rsc = start;
    const Results r = fit(dir, p, c);
    EXPECT_NEAR(r.phi, 7.5, 0.0101) << start;
    EXPECT_NEAR(r.z, 2.0, 0.0101) << start;
    EXPECT_EQ(r.rsc, 1.02) << start;
    EXPECT_LT(r.residual, 100) << start;  // below 0.1 degree

    records::LineSource ref_src = records::LineSource::open_file((dir / "ref.dat").string());
    records::LineSource fit_src = records::LineSource::open_file((dir / "fit.dat").string());
    const layerline::GriddedHeader rh = layerline::read_gridded_header(ref_src);
    const layerline::GriddedHeader fh = layerline::read_gridded_header(fit_src);
    ASSERT_EQ(fh.ismax, rh.ismax);
    for (int g = 0; g < 2 * rh.llmax; ++g) {
      const layerline::ValueGroup want = layerline::read_value_group(ref_src, rh.ismin, rh.ismax);
      const layerline::ValueGroup got = layerline::read_value_group(fit_src, fh.ismin, fh.ismax);
      // samples 2..100 are inside the window; sample 2 would take its source 1.98 from samples 1
      // and 2, and sample 1 is outside the window, so sample 2 is absent. The tolerance is that
      // of linear interpolation between samples (amplitudes up to 50).
      for (std::size_t j = 2; j < want.values.size(); ++j)
        ASSERT_NEAR(got.values[j], want.values[j], 0.25f) << start << " group " << g << " sample " << j + 1;
    }
  }
  // The old rule keeps more than ten times that residual on the same noise-free data.
  TempDir dir;
  Particle p;
  p.phi0 = 7.5;
  p.z0 = 2.0;
  p.s = 1.02;
  Control c;
  c.rsc = "1.00 0.02 4";
  const Results old = fit(dir, p, c, nullptr, {"--rescale=truncated"});
  EXPECT_GT(old.residual, 1000);
}

TEST(CurvematchRun, HandAndSideSwitchesUndoATestFromTheOtherSide) {
  TempDir dir;
  Particle p;
  p.phi0 = 3.3;
  p.z0 = 1.7;
  p.ipole = p.iside = true;
  Control c;
  c.iside = c.ipole = 1;
  const Results r = fit(dir, p, c);
  EXPECT_NEAR(r.phi, 3.3, 0.0101);
  EXPECT_NEAR(r.z, 1.7, 0.0101);
  // without the switches the same files match much worse
  TempDir dir2;
  const Results wrong = fit(dir2, p, Control{});
  EXPECT_GT(wrong.residual, 10 * std::max(r.residual, 1L));
}

TEST(CurvematchRun, ReportBlocksAndResultsFileRewritten) {
  TempDir dir;
  dir.write("res.dat", std::string(200, 'x') + "\nold second line\n");
  Particle p;
  p.phi0 = 1.0;
  RunResult run;
  fit(dir, p, Control{}, &run);
  EXPECT_EQ(lines_of(dir.read("res.dat")).size(), 1u);  // only the new record

  const auto lines = lines_of(run.out);
  ASSERT_GT(lines.size(), 24u);
  EXPECT_EQ(lines[0], "  new file : ");
  EXPECT_EQ(lines[1], "res.dat" + std::string(33, ' '));
  EXPECT_EQ(lines[2], std::string(40, '\0'));
  EXPECT_EQ(lines[3], "test.dat" + std::string(32, ' '));
  EXPECT_EQ(lines[4], "hi there    1    2  198");
  EXPECT_EQ(lines[5], "  --- reading in reference data : ref.dat" + std::string(33, ' '));
  EXPECT_EQ(lines[6].find(" llmax = "), 0u);
  EXPECT_EQ(std::stoi(lines[6].substr(9)), 6);
  EXPECT_EQ(lines[7], "  --- reading in test data : test.dat" + std::string(32, ' '));
  EXPECT_EQ(lines[8], "");
  EXPECT_EQ(lines[9], "");
  EXPECT_EQ(lines[11], "");
  EXPECT_EQ(lines[12], "       ref. layer-line title : reference particle" + std::string(22, ' '));
  EXPECT_EQ(lines[16], "             repeat distance :    100.00 Angstroms");
  EXPECT_EQ(lines[17], "  layer-line sampling (ref.) :   0.002000000 recip. Angstroms");
  // 6 layer lines of 100 samples, the window 2..100
  EXPECT_EQ(lines[19].substr(39), " (   600           points)");
  EXPECT_EQ(lines[21].substr(38), "  ( 5.00% of max ref. amp)");

  // every search pass writes 4 scale blocks (irl = 4) and one pass summary
  int blocks = 0, summaries = 0, globals = 0;
  for (const auto& l : lines) {
    if (l.rfind("  radial scaling factor :  ", 0) == 0) ++blocks;
    if (l == "  **** minimum locations ****") ++summaries;
    if (l == "  **** global minimum ****") ++globals;
  }
  EXPECT_GE(summaries, 5);
  EXPECT_EQ(blocks, 4 * summaries);
  EXPECT_EQ(globals, summaries);
  // phi grid of 5 points: rules of 7*5 + 10 minus signs
  EXPECT_EQ(lines[26], "   z phi |   -4.00  -2.00   0.00   2.00   4.00");
  EXPECT_EQ(lines[27], "  " + std::string(45, '-'));
  EXPECT_EQ(lines[lines.size() - 2].substr(0, 36), "  --- now writing fitted test file: ");
}

TEST(CurvematchRun, AnExistingFittedTestFileStopsTheRunAndTouchesNothing) {
  TempDir dir;
  const std::string ref = gridded(Particle{}, false, "reference particle");
  dir.write("ref.dat", ref);
  dir.write("test.dat", ref);
  dir.write("ctl.dat", control(Control{}));
  dir.write("res.dat", "previous results\n");
  dir.write("fit.dat", "an earlier fitted file\n");
  RunResult r = run_curvematch(dir);
  EXPECT_NE(r.status, 0);
  EXPECT_EQ(r.out, "  new file : \n");
  EXPECT_NE(r.err.find("fit.dat"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("already exists"), std::string::npos) << r.err;
  EXPECT_EQ(dir.read("fit.dat"), "an earlier fitted file\n");
  EXPECT_EQ(dir.read("res.dat"), "previous results\n");
  EXPECT_EQ(dir.read("ref.dat"), ref);
  EXPECT_EQ(dir.read("test.dat"), ref);
}

TEST(CurvematchRun, InputTheRunCannotUseIsRefusedWithItsPlace) {
  TempDir dir;
  dir.write("ref.dat", "big\n      1200         1       100       1.0\n");
  dir.write("test.dat", gridded(Particle{}, false, "t"));
  dir.write("ctl.dat", control(Control{}));
  RunResult r = run_curvematch(dir);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "curvematch: ref.dat, line 2, columns 1-10: 1200 layer lines, at most 1000 are supported\n");
  EXPECT_FALSE(dir.exists("res.dat") && !dir.read("res.dat").empty());

  // a two-point rotation grid could never finish its refinement: refused before the data files
  TempDir dir2;
  Control c;
  c.phi = "0.0 2.0 2";
  dir2.write("ctl.dat", control(c));
  r = run_curvematch(dir2);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("ctl.dat: control record 8: the rotation grid has 2 point(s)"), std::string::npos) << r.err;
  EXPECT_FALSE(dir2.exists("fit.dat"));

  // a field that is not a number
  TempDir dir3;
  std::string bad = gridded(Particle{}, false, "t");
  bad.replace(bad.find('\n', bad.find('\n', bad.find('\n') + 1) + 1) + 1, 5, "  x.y");
  dir3.write("ref.dat", bad);
  dir3.write("test.dat", bad);
  dir3.write("ctl.dat", control(Control{}));
  r = run_curvematch(dir3);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("curvematch: ref.dat, line 4, columns 1-12"), std::string::npos) << r.err;

  // the results file named as the reference file would be destroyed: refused
  TempDir dir4;
  dir4.write("ref.dat", gridded(Particle{}, false, "t"));
  dir4.write("test.dat", gridded(Particle{}, false, "t"));
  dir4.write("ctl.dat", control(Control{}));
  const std::string before = dir4.read("ref.dat");
  r = run_curvematch(dir4, "ctl.dat\nref.dat\nfit.dat\n2 198\n");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(dir4.read("ref.dat"), before);
}

TEST(CurvematchRun, ARunThatCannotEndStopsWithStatusOne) {
  // no reference amplitude reaches a cut-off above 100 percent: every residual is undefined
  TempDir dir;
  Control c;
  c.acut = "120.0";
  dir.write("ref.dat", gridded(Particle{}, false, "r"));
  dir.write("test.dat", gridded(Particle{}, false, "t"));
  dir.write("ctl.dat", control(c));
  RunResult r = run_curvematch(dir);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("cut-off"), std::string::npos) << r.err;
}
