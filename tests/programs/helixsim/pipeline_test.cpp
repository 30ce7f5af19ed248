// helixsim through the pipeline: sidesplit samples its transform at the Bessel terms that made
// it, gridscan and curvematch recover the rotation, shift and scale applied to a test particle,
// and helixsim refuses bad input without writing anything.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <sstream>
#include <string>

#include "layerline/pointlist.hpp"
#include "records/source.hpp"
#include "runprog.hpp"

using namespace testsupport;

namespace {

constexpr double pi = 3.14159265358979323846;

// A helix of 10 subunits in 3 turns: layer lines 0-9 but 5, orders 0, 3, -4, -1, 2, -2, 1, 4, -3.
const std::string helix = "repeat 100\nradius 40\npixel 5\nbox 100 100\nrule 10 3 9 4\ngridded near 4\n";
constexpr int layer_lines = 9;

struct Truth {
  double phi0 = 0.0, z0 = 0.0, scale = 1.0;
  double noise = 0.0;
  int seed = 1;
  bool flipped = false;
};

std::string sim(const Truth& t) {
  std::ostringstream s;
  s << helix << "rotate " << t.phi0 << "\nshift " << t.z0 << "\nscale " << t.scale << "\nnoise " << t.noise << " "
    << t.seed << "\npolarity " << (t.flipped ? "opposite" : "same") << "\n";
  return s.str();
}

// helixsim then sidesplit in folder `name` of d.
void make_particle(const TempDir& d, const std::string& name, const std::string& control) {
  std::filesystem::create_directory(d / name);
  const auto sim_run = run_in(d / name, run_spec(program_path("helixsim"), {}, control));
  ASSERT_EQ(sim_run.status, 0) << sim_run.err;
  const auto split = run_in(d / name, run_spec(program_path("sidesplit"), {}, std::nullopt, {{"IN", "transform.map"}}));
  ASSERT_EQ(split.status, 0) << split.err << split.out;
}

struct Found {
  double phi = 0.0, z = 0.0, scale = 0.0, residual = 0.0;
};

// gridscan on test/<side>.dat against ref/near.dat.
Found run_gridscan(const TempDir& d, const std::string& test_file, int iside, int ipole) {
  std::ostringstream ctl;
  ctl << layer_lines << " 0.01 0.002 0\n";
  for (int l = 0; l < layer_lines; ++l) ctl << " 1.0";
  ctl << "\nhelixsim pipeline\n" << iside << " " << ipole << "\n";
  d.write("gridscan.ctl", ctl.str());
  std::filesystem::remove(d / "gridscan.txt");
  const auto r =
      run_in(d.path(), run_spec(program_path("gridscan"), {"--control", "gridscan.ctl", "--reference", "ref/near.dat",
                                                           "--test", test_file, "--report", "gridscan.txt"}));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  // The last "0PHASE MINIMUM" line: residual, phi, z, scale.
  std::istringstream rep(d.read("gridscan.txt"));
  std::string line;
  Found f;
  while (std::getline(rep, line)) {
    if (line.rfind("0PHASE MINIMUM", 0) != 0) continue;
    std::istringstream w(line);
    std::string a, b, c, e, g, h;
    w >> a >> b >> f.residual >> c >> e >> f.phi >> g >> f.z >> h >> c >> f.scale;
  }
  return f;
}

// curvematch on test/layerlines.dat against ref/layerlines.dat.
Found run_curvematch(const TempDir& d, int iside, int ipole, const std::string& window = "2 398") {
  std::ostringstream ctl;
  ctl << "helixsim pipeline\nref/layerlines.dat\n0 100.0 0.0005 0.0005\n5.0\n0 1.0\ntest/layerlines.dat\n"
      << iside << " " << ipole << "\n0.0 2.0 5\n0.0 5.0 7\n1.0 0.01 4\n0\n";
  d.write("curvematch.ctl", ctl.str());
  std::filesystem::remove(d / "fitted.dat");
  const auto r = run_in(d.path(), run_spec(program_path("curvematch"), {},
                                           "curvematch.ctl\ncurvematch.res\nfitted.dat\n" + window + "\n"));
  EXPECT_EQ(r.status, 0) << r.err;
  // The last line: gmin phimin zmin rscmin rfmin.
  const std::string out = r.out;
  const std::size_t end = out.find_last_not_of('\n');
  const std::size_t start = out.rfind('\n', end);
  std::istringstream w(out.substr(start + 1));
  Found f;
  w >> f.residual >> f.phi >> f.z >> f.scale;
  return f;
}

TEST(HelixsimPipeline, SidesplitSamplesAreTheBesselTerms) {
  TempDir d;
  const Truth t{12.0, 7.0, 1.0, 0.0, 1, false};
  make_particle(d, "p", sim(t));
  for (const char* side : {"near.dat", "far.dat"}) {
    records::LineSource src = records::LineSource::open_file((d / "p" / side).string());
    layerline::PointListReader reader(src, layerline::EndOfBlockRule::AllZero);
    int blocks = 0;
    while (auto b = reader.read_block()) {
      ++blocks;
      const int n = b->header.nn, l = b->header.nl;
      ASSERT_EQ(b->points.size(), 49u);
      // near.dat holds the negative-R half when n >= 0, the positive-R half otherwise.
      const bool negative = (std::string(side) == "near.dat") == (n >= 0);
      for (std::size_t k = 0; k < b->points.size(); ++k) {
        const auto& pt = b->points[k];
        // Sample k+1 falls on transform column k+1, R = (k+1)/(100*5).
        const double r = double(k + 1) * 0.002;
        EXPECT_NEAR(pt.r, r, 1e-6);
        const double x = negative ? -r : r;
        // A i^n J_n(2 pi x r0) turned by n phi0 - 360 l z0 / c, with J_n(-x) = (-1)^n J_n(x).
        const int m = std::abs(n);
        double j = std::cyl_bessel_j(double(m), 2.0 * pi * std::abs(x) * 40.0);
        if (m % 2 == 1 && (n < 0) != (x < 0)) j = -j;
        const std::complex<double> want = 100.0 * std::pow(std::complex<double>(0.0, 1.0), n) * j *
                                          std::polar(1.0, (n * t.phi0 - 360.0 * l * t.z0 / 100.0) * pi / 180.0);
        // The file holds three significant digits: 0.5% of the amplitude, half a degree of
        // phase (phases of 100 degrees and more), which is what the test allows.
        EXPECT_NEAR(pt.amp, std::abs(want), 0.005 * std::abs(want) + 1e-4) << side << " l " << l << " k " << k;
        if (std::abs(want) > 1.0) {
          const double dp = std::remainder(double(pt.phase) - std::arg(want) * 180.0 / pi, 360.0);
          EXPECT_NEAR(dp, 0.0, 0.51) << side << " l " << l << " k " << k;
        }
      }
    }
    EXPECT_EQ(blocks, layer_lines);
  }
}

TEST(HelixsimPipeline, GridscanRecoversRotationShiftAndScale) {
  struct Case {
    Truth t;
    const char* test_file;
    int iside, ipole;
    double tolerance;  // phi and z
  };
  // gridscan's last passes have steps of 0.5 degree and 0.5 A and its scales lie on 0.97 +
  // 0.01k; noise-free truths on that grid are found within one step. The noisy cases add
  // noise of 2% of A to each part of each value: at amplitudes of about 20 that is a phase
  // error of some 6 degrees a sample, averaged over some 400 samples, which moves the best
  // point by a fraction of a step; the test allows a second step.
  const Case cases[] = {
      {{7.5, -12.0, 1.02, 0.0, 1, false}, "test/near.dat", 0, 0, 0.5},
      {{14.5, -46.0, 1.0, 0.0, 1, false}, "test/near.dat", 0, 0, 0.5},  // outside the first grid
      {{-6.0, 20.0, 1.0, 0.0, 1, true}, "test/near.dat", 0, 1, 0.5},    // opposite polarity
      {{3.5, 9.0, 1.01, 0.0, 1, false}, "test/far.dat", 1, 0, 0.5},     // the other side
      {{7.5, -12.0, 1.02, 0.02, 11, false}, "test/near.dat", 0, 0, 1.0},
      {{-4.0, 30.0, 1.0, 0.02, 5, false}, "test/near.dat", 0, 0, 1.0},
  };
  for (const Case& c : cases) {
    TempDir d;
    make_particle(d, "ref", helix);
    make_particle(d, "test", sim(c.t));
    const Found f = run_gridscan(d, c.test_file, c.iside, c.ipole);
    SCOPED_TRACE("truth phi " + std::to_string(c.t.phi0) + " z " + std::to_string(c.t.z0) + " seed " +
                 std::to_string(c.t.seed));
    EXPECT_NEAR(f.phi, c.t.phi0, c.tolerance) << f.z << " " << f.scale;
    EXPECT_NEAR(f.z, c.t.z0, c.tolerance);
    EXPECT_NEAR(f.scale, c.t.scale, 0.0051);
  }
}

TEST(HelixsimPipeline, CurvematchRecoversRotationAndShift) {
  // curvematch refines its steps to 0.01 degree and 0.01 A; its rescaling interpolates every
  // sample at radius R/rscale, so noise-free truths are found within a step, scaled or not.
  // The radial scale is searched on steps of 0.01; the phase residual hardly tells neighbouring
  // scales apart on these layer lines (their phases are constant between the Bessel zeros), but
  // the R factor does, and it settles the scale within the flat valley: the truth exactly.
  struct Case {
    Truth t;
    int iside, ipole;
    const char* side;
    double tolerance;
  };
  const Case cases[] = {
      {{7.5, -12.0, 1.0, 0.0, 1, false}, 0, 0, "near", 0.011},
      {{-6.0, 20.0, 1.0, 0.0, 1, true}, 0, 1, "near", 0.011},  // opposite polarity, outside the first grid
      {{3.5, 9.0, 1.0, 0.0, 1, false}, 1, 0, "far", 0.011},    // the other side
      {{7.5, -12.0, 1.02, 0.0, 1, false}, 0, 0, "near", 0.011},
  };
  for (const Case& c : cases) {
    TempDir d;
    std::filesystem::create_directory(d / "ref");
    std::filesystem::create_directory(d / "test");
    ASSERT_EQ(run_in(d / "ref", run_spec(program_path("helixsim"), {}, helix)).status, 0);
    const auto r = run_in(d / "test", run_spec(program_path("helixsim"), {}, sim(c.t) + "gridded " + c.side + " 4\n"));
    ASSERT_EQ(r.status, 0) << r.err;
    const Found f = run_curvematch(d, c.iside, c.ipole);
    SCOPED_TRACE("truth phi " + std::to_string(c.t.phi0) + " z " + std::to_string(c.t.z0));
    EXPECT_NEAR(f.phi, c.t.phi0, c.tolerance) << f.z << " " << f.scale;
    EXPECT_NEAR(f.z, c.t.z0, c.tolerance);
    EXPECT_NEAR(f.scale, c.t.scale, 1e-4);
  }
}

TEST(HelixsimPipeline, CurvematchSettlesTheRadialScaleByAmplitudesUnderEveryWindow) {
  // The noise-free pair at scales 1.02 and 1, under every radial window the demo and the tests
  // use: the scale comes out exactly, with the rotation and shift.
  for (const double scale : {1.02, 1.0}) {
    TempDir d;
    std::filesystem::create_directory(d / "ref");
    std::filesystem::create_directory(d / "test");
    ASSERT_EQ(run_in(d / "ref", run_spec(program_path("helixsim"), {}, helix)).status, 0);
    ASSERT_EQ(
        run_in(d / "test", run_spec(program_path("helixsim"), {}, sim({7.5, -12.0, scale, 0.0, 1, false}))).status, 0);
    for (const std::string window : {"0 398", "2 398", "2 198", "2 118"}) {
      SCOPED_TRACE("scale " + std::to_string(scale) + " window " + window);
      const Found f = run_curvematch(d, 0, 0, window);
      EXPECT_NEAR(f.scale, scale, 1e-4);
      EXPECT_NEAR(f.phi, 7.5, 0.011);
      EXPECT_NEAR(f.z, -12.0, 0.011);
    }
  }
}

TEST(HelixsimProgram, RefusalsWriteNothing) {
  TempDir d;
  // An output file that exists: none of the three is written.
  d.write("sidesplit.dek", "keep me\n");
  auto r = run_in(d.path(), run_spec(program_path("helixsim"), {}, helix));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "helixsim: sidesplit.dek: exists already; helixsim never overwrites a file\n");
  EXPECT_EQ(d.read("sidesplit.dek"), "keep me\n");
  EXPECT_FALSE(d.exists("transform.map"));
  EXPECT_FALSE(d.exists("layerlines.dat"));
  // Bad control input and bad arguments.
  r = run_in(d.path(), run_spec(program_path("helixsim"), {"--deck", "x.dek"}, "repeat 100\nradius forty\n"));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "helixsim: standard input, line 2, columns 8-12: \"forty\" is not a number (the helix radius)\n");
  EXPECT_FALSE(d.exists("transform.map"));
  // The CTF's values are checked where they are read, and belong to the real model.
  const std::string real = "model real\nrepeat 100\nradius 40\npixel 5\nbox 100 100\nrule 10 3 9 4\n";
  r = run_in(d.path(), run_spec(program_path("helixsim"), {"--deck", "x.dek"}, real + "ctf 300 2.7 0.07 1e4 1e4\n"));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("standard input, line 7: \"ctf\" takes the voltage"), std::string::npos) << r.err;
  r = run_in(d.path(), run_spec(program_path("helixsim"), {"--deck", "x.dek"}, real + "ctf 0 2.7 0.07 1e4 1e4 0\n"));
  EXPECT_EQ(r.err, "helixsim: standard input, line 7: the voltage must be above 0 kV (0 given)\n");
  r = run_in(d.path(), run_spec(program_path("helixsim"), {"--deck", "x.dek"}, real + "ctf 300 2.7 0.07 1e4 -1 0\n"));
  EXPECT_EQ(r.err, "helixsim: standard input, line 7: defocus V must not be negative (-1 A given)\n");
  r = run_in(d.path(), run_spec(program_path("helixsim"), {"--deck", "x.dek"}, helix + "ctf 300 2.7 0.07 1e4 1e4 0\n"));
  EXPECT_NE(r.err.find("the CTF is imposed on the real-space model's projection"), std::string::npos) << r.err;
  EXPECT_FALSE(d.exists("x.dek"));
  r = run_in(d.path(), run_spec(program_path("helixsim"), {"--deck"}));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "helixsim: command line: --deck needs a file name\n");
  r = run_in(d.path(), run_spec(program_path("helixsim"), {"--control", "missing.sim", "--deck", "a.dek"}));
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("missing.sim: cannot open"), std::string::npos);
}

}  // namespace
