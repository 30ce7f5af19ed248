// gridscan end to end: synthetic reference and test files whose alignment is known, the pass
// control, the messages, and bad or missing input.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "layerline/pointlist.hpp"
#include "records/forms.hpp"
#include "runprog.hpp"
#include "synthetic.hpp"

using namespace testsupport;

using namespace gridscantest;

TEST(Gridscan, RecoversRotationShiftAndScale) {
  struct Known {
    double phi0, z0, scale;
  };
  for (const Known k : {Known{3.5, -7.5, 1.0}, Known{-2.0, 11.0, 1.03}, Known{0.5, 30.0, 0.96}}) {
    TempDir d;
    Synthetic s;
    s.phi0 = k.phi0;
    s.z0 = k.z0;
    s.scale = k.scale;
    s.write(d);
    const RunResult r = run(d);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    const std::string report = d.read("fort.7");
    expect_recovered(report, k.phi0, k.z0, k.scale);
    // Every pass writes its two lines; the same amplitudes give a mean amplitude scale of 1.
    const std::vector<std::string> lines = lines_of(report);
    ASSERT_EQ(lines.size(), 2 * minima(report).size());
    EXPECT_EQ(lines.back(), "0MEAN AMPSCALE =   1.000");
  }
}

TEST(Gridscan, FlaggedSamplesTakeNoPartInTheSearch) {
  // Flags (-999.0) at different samples of both files: the known alignment is still found, and
  // the amplitude scale of the samples compared is 1; the old rule, by --flags amplitudes, uses
  // the flags as amplitudes and loses it.
  TempDir d;
  Synthetic s;
  s.phi0 = -2.0;
  s.z0 = 11.0;
  s.scale = 1.03;
  s.ref_flag_every = 5;
  s.test_flag_every = 7;
  s.write(d);
  RunResult r = run(d);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  const std::string report = d.read("fort.7");
  expect_recovered(report, -2.0, 11.0, 1.03);
  EXPECT_EQ(lines_of(report).back(), "0MEAN AMPSCALE =   1.000");

  TempDir old;
  s.write(old);
  r = run(old, {"--flags", "amplitudes"});
  const std::vector<Minimum> m = minima(old.read("fort.7"));
  ASSERT_FALSE(m.empty());
  EXPECT_FALSE(m.back().phi == f1(-2.0) && m.back().z == f1(11.0) && m.back().rsc == f3(1.03)) << old.read("fort.7");

  r = run(old, {"--flags=negative"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "gridscan: command line: --flags is ignored or amplitudes, not \"negative\"\n");
}

TEST(Gridscan, ControlValuesThatChangeTheSearchAreSaidOrRefused) {
  // delbr 0.0025 on data spaced 0.002: a warning on standard error, the run goes on
  TempDir d;
  Synthetic s;
  s.delbr = 0.002f;
  s.write(d);
  Synthetic other = s;
  other.delbr = 0.0025f;
  d.write("fort.2", other.control());
  RunResult r = run(d);
  EXPECT_EQ(r.err,
            "gridscan: fort.2, control record 1: delbr = 0.0025 differs by more than 1 percent from the radial "
            "spacing 0.002 of the reference's points (fort.3); samples will not fall one to a grid point\n");
  // within 1 percent: nothing said
  other.delbr = 0.00201f;
  d.write("fort.2", other.control());
  EXPECT_EQ(run(d).err, "");

  // llmax 55: the first 40 layer lines are compared, and standard error says so once
  TempDir big;
  Synthetic forty;
  forty.lines = 40;
  forty.write(big);
  std::string ctl = "55 0.01 0.001 0\n";
  for (int l = 1; l <= 55; ++l) ctl += " 1.0";
  big.write("fort.2", ctl + "\nforty layer lines\n0 0\n");
  r = run(big);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err,
            "gridscan: fort.2, control record 1: llmax = 55; only the first 40 layer lines are compared, at most 40 "
            "are supported\n");

  // recc = 0: refused before any pass, nothing written
  TempDir zero;
  s.write(zero);
  Synthetic norecc = s;
  norecc.recc = 0.0f;
  zero.write("fort.2", norecc.control());
  r = run(zero);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("gridscan: fort.2, line 1: recc = 0.0: the reciprocal of the helical repeat must be positive"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_FALSE(zero.exists("fort.7") && !zero.read("fort.7").empty());
}

TEST(Gridscan, SideAndHandSwitchedTestData) {
  TempDir d;
  Synthetic s;
  s.phi0 = 6.0;
  s.z0 = 20.5;
  s.iside = 1;
  s.ipole = 1;
  s.write(d);
  const RunResult r = run(d);
  EXPECT_EQ(r.status, 0) << r.err;
  expect_recovered(d.read("fort.7"), 6.0, 20.5, 1.0);
}

TEST(Gridscan, PassesFollowTheBestPoint) {
  {
    // Best phi of -13 in the first pass; the second pass, -15.5..-10.5, holds -14.
    TempDir d;
    Synthetic s;
    s.phi0 = -14.0;
    s.z0 = 0.5;
    s.write(d);
    const RunResult r = run(d);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<Minimum> m = minima(d.read("fort.7"));
    ASSERT_GE(m.size(), 2u);
    EXPECT_EQ(m[0].phi, f1(-13.0));
    EXPECT_EQ(m[1].phi, f1(-14.0));
    expect_recovered(d.read("fort.7"), -14.0, 0.5, 1.0);
  }
  {
    // phi0 = 17: the first pass ends at 13, the second on its border phimax = 15.5, the third,
    // centred there, finds 17 inside.
    TempDir d;
    Synthetic s;
    s.phi0 = 17.0;
    s.z0 = -44.0;
    s.write(d);
    const RunResult r = run(d);
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<Minimum> m = minima(d.read("fort.7"));
    ASSERT_EQ(m.size(), 3u);
    EXPECT_EQ(m[0].phi, f1(13.0));
    EXPECT_EQ(m[1].phi, f1(15.5));
    expect_recovered(d.read("fort.7"), 17.0, -44.0, 1.0);
  }
}

TEST(Gridscan, RadialScaleLimitEndsTheSearch) {
  // A test scaled by 1.2: the best scale climbs pass by pass until it reaches 1.15; that pass's
  // report is written, then the message, and no further pass runs.
  TempDir d;
  Synthetic s;
  s.scale = 1.2;
  s.write(d);
  const RunResult r = run(d);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, " Rscale has gotten too large. Aborting search.\n");
  const std::string report = d.read("fort.7");
  const std::vector<Minimum> m = minima(report);
  ASSERT_GE(m.size(), 2u);
  EXPECT_GE(std::stof(m.back().rsc), 1.15f) << report;
  for (std::size_t i = 0; i + 1 < m.size(); ++i) EXPECT_LT(std::stof(m[i].rsc), 1.15f) << report;
  EXPECT_EQ(lines_of(report).back().substr(0, 16), "0MEAN AMPSCALE =");
}

TEST(Gridscan, DifferingLayerLineNumbersUseTheReference) {
  TempDir d;
  Synthetic s;
  s.phi0 = 2.5;
  s.z0 = 4.0;
  s.differing_nl_block = 3;
  s.write(d);
  const RunResult r = run(d);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, " Note: layer line numbers differ in your two files. Using those from reference.\n");
  // Block 3 is compared with the reference's layer-line number, so the shift still comes out.
  expect_recovered(d.read("fort.7"), 2.5, 4.0, 1.0);
}

TEST(Gridscan, TestFileEndingInsideABlock) {
  // The end of the file inside the last test block ends each pass's reading normally.
  TempDir d;
  Synthetic s;
  s.phi0 = -1.5;
  s.z0 = 9.0;
  s.cut_last_test_block = true;
  s.write(d);
  const RunResult r = run(d);
  EXPECT_EQ(r.status, 0) << r.err;
  expect_recovered(d.read("fort.7"), -1.5, 9.0, 1.0);
}

TEST(Gridscan, EchoOfEveryPointRecord) {
  TempDir d;
  Synthetic s;
  s.lines = 2;
  s.points = 12;
  s.phi0 = 1.0;
  s.iprint = 1;
  s.write(d);
  const RunResult r = run(d);
  EXPECT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> lines = lines_of(d.read("fort.7"));
  const std::size_t passes = minima(d.read("fort.7")).size();
  // 11 reference records a block, 14 test records a block in every pass; no terminators.
  const std::size_t ref_records = 2 * 11, test_records = 2 * 14;
  ASSERT_EQ(lines.size(), ref_records + passes * (test_records + 2));
  EXPECT_EQ(lines[0], " " + layerline::point_record(
                                {0.001f, static_cast<float>(Synthetic::amp(1, 2)), static_cast<float>(s.phase(1, 2))}));
  for (std::size_t i = 0; i < ref_records; ++i) EXPECT_EQ(lines[i].size(), 31u);
  EXPECT_EQ(lines[ref_records + test_records].substr(0, 15), "0PHASE MINIMUM ");
}

TEST(Gridscan, PassBoundOnDataThatTies) {
  // Only Bessel order 0: the residual does not depend on phi, the first phi always wins and
  // lies on the border. The search stops at its bound with the last report standing.
  TempDir d;
  Synthetic s;
  s.lines = 2;
  s.points = 20;
  s.orders = {0};
  s.z0 = 3.0;
  s.write(d);
  const RunResult r = run(d);
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("after 50 passes"), std::string::npos) << r.err;
  const std::vector<Minimum> m = minima(d.read("fort.7"));
  ASSERT_EQ(m.size(), 50u);
  EXPECT_EQ(m.back().z, f1(3.0));
}

TEST(Gridscan, NoSampleCompared) {
  // The test data lie wholly beyond the reference: no minimum in the first pass. The report
  // says so in asterisks, and no pass is centred on it.
  TempDir d;
  std::string ref = Synthetic::label(1) + layerline::parameter_record(1.0f, 1, 1) + "\n";
  std::string test = ref;
  for (int k = 2; k <= 10; ++k) ref += Synthetic::point((k - 1) * 0.001, 50.0, 10.0 * k);
  for (int k = 30; k <= 50; ++k) test += Synthetic::point((k - 1) * 0.001, 50.0, 10.0 * k);
  d.write("fort.3", ref + layerline::terminator_record() + "\n");
  d.write("fort.1", test + layerline::terminator_record() + "\n");
  d.write("fort.2", "1 0.01 0.001 0\n1.0\ntitle\n0 0\n");
  const RunResult r = run(d);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err,
            "gridscan: fort.1: no test sample could be compared with the reference in pass 1; the search "
            "stops without a minimum\n");
  EXPECT_EQ(d.read("fort.7"),
            "0PHASE MINIMUM ********** AT PHI=        0.0 Z=        0.0 RSCALE =       0.000\n"
            "0MEAN AMPSCALE = *******\n");
}

TEST(Gridscan, CommandLineBindsTheFiles) {
  TempDir d;
  Synthetic s;
  s.phi0 = 1.5;
  s.z0 = -2.0;
  d.write("run.ctl", s.control());
  d.write("ref.dat", s.reference());
  d.write("near.dat", s.test());
  const RunResult r =
      run(d, {"--control", "run.ctl", "--reference=ref.dat", "--test", "near.dat", "--report", "fit.txt"});
  EXPECT_EQ(r.status, 0) << r.err;
  expect_recovered(d.read("fit.txt"), 1.5, -2.0, 1.0);
  EXPECT_FALSE(d.exists("fort.7"));

  const RunResult bad = run(d, {"--tset", "near.dat"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.err, "gridscan: command line: unknown argument \"--tset\" (see gridscan --help)\n");
  EXPECT_EQ(run(d, {"--test"}).status, 2);
  // A report over an input file is refused before anything is read or written.
  const RunResult over =
      run(d, {"--control", "run.ctl", "--reference=ref.dat", "--test", "near.dat", "--report", "./ref.dat"});
  EXPECT_EQ(over.status, 2);
  EXPECT_NE(over.err.find("same file as the input ref.dat"), std::string::npos) << over.err;
  EXPECT_EQ(d.read("ref.dat"), s.reference());
}

TEST(Gridscan, MissingAndShortFiles) {
  Synthetic s;
  s.lines = 3;
  struct Bad {
    std::string file, content, message;
  };
  const std::string ref = s.reference();
  const std::string test = s.test();
  const std::string ctl = s.control();
  const std::vector<Bad> cases = {
      {"fort.2", "", "gridscan: fort.2: cannot open (No such file or directory)\n"},
      {"fort.3", "", "gridscan: fort.3: cannot open (No such file or directory)\n"},
      {"fort.1", "", "gridscan: fort.1: cannot open (No such file or directory)\n"},
      {"fort.2", "3 0.01 0.001\n", "gridscan: fort.2, line 2: end of file: iprint (control record 1) expected\n"},
      {"fort.2", ctl.substr(0, ctl.find("synthetic")),
       "gridscan: fort.2, line 3: end of file: the title (control record 3) expected\n"},
      {"fort.3", ref.substr(0, ref.rfind(" synthetic")),
       "gridscan: fort.3, line " + std::to_string(2 * 42 + 1) +
           ": end of file: the label record of reference block 3 of 3 expected\n"},
      {"fort.1", test.substr(0, test.rfind(" synthetic")),
       "gridscan: fort.1, line " + std::to_string(2 * 52 + 1) +
           ": end of file: the label record of test block 3 of 3 expected\n"},
      {"fort.3", ref.substr(0, ref.find('\n') + 1),
       "gridscan: fort.3, line 2: end of file: the parameter record of the layer-line block that begins at line 1 "
       "expected\n"},
  };
  for (const Bad& b : cases) {
    TempDir d;
    s.write(d);
    // A report from an earlier run stays as it was when the run cannot get going.
    d.write("fort.7", "an earlier report\n");
    if (b.content.empty())
      std::filesystem::remove(d / b.file);
    else
      d.write(b.file, b.content);
    const RunResult r = run(d);
    EXPECT_EQ(r.status, 2) << b.message;
    EXPECT_EQ(r.err, b.message);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(d.read("fort.7"), "an earlier report\n") << b.message;
  }
}

TEST(Gridscan, ReferenceWithoutWeightsIsRefused) {
  TempDir d;
  Synthetic s;
  s.lines = 2;
  s.write(d);
  d.write("fort.2", "2 0.01 0.001 0\n0 0\ntitle\n0 0\n");
  const RunResult r = run(d);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err,
            "gridscan: fort.3: no reference sample was stored in the 2 blocks used (their layer-line weights sum to "
            "0): nothing to compare the test data with\n");
  EXPECT_FALSE(d.exists("fort.7"));
}

TEST(Gridscan, ResolutionLimitComparesOnlyWhatLiesWithin) {
  // Test phases beyond 1/25 A^-1 (R^2 + (l/c)^2 beyond 0.04^2: layer lines 4 to 6 wholly, the
  // outer samples of layer lines 1 to 3) are garbled. With --resolution 25 only what lies within
  // is compared: the known motion comes out with a residual of about 0, and the mean amplitude
  // scale of the layer lines compared is 1 (the layer lines left out do not count as 0).
  // Without it the garbled samples spoil the residual.
  TempDir d;
  Synthetic s;
  s.phi0 = 4.5;
  s.z0 = -6.0;
  s.scale = 1.02;
  s.garble_beyond = 0.04;
  s.write(d);
  RunResult r = run(d, {"--resolution", "25"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  std::string report = d.read("fort.7");
  expect_recovered(report, 4.5, -6.0, 1.02);
  EXPECT_EQ(lines_of(report).back(), "0MEAN AMPSCALE =   1.000");

  r = run(d);
  const std::vector<Minimum> m = minima(d.read("fort.7"));
  ASSERT_FALSE(m.empty());
  EXPECT_GT(std::stof(m.back().resmin), 10.0f) << d.read("fort.7");

  // A limit that leaves no reference sample: refused, naming the option and the file.
  r = run(d, {"--resolution", "1000"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err,
            "gridscan: fort.3: no reference sample of the 6 blocks used lies within --resolution 1000.0 A: nothing "
            "to compare the test data with\n");
}

TEST(Gridscan, AroundStartsFromAPreviousAnswer) {
  // The motion lies beyond the wide first grid (phi 20 > 13). Started around it, the first pass
  // is the narrow grid of a later pass: centred on the answer, one pass finds it inside; centred
  // 2 degrees and 2 A off, likewise; 4 degrees off, the best point lies on the border and a
  // second pass, centred there, finds it.
  struct Start {
    const char* phi;
    const char* z;
    std::size_t passes;
    double first_phi;
  };
  for (const Start st : {Start{"20", "-31", 1, 20.0}, Start{"18", "-29", 1, 20.0}, Start{"16", "-31", 2, 18.5}}) {
    TempDir d;
    Synthetic s;
    s.phi0 = 20.0;
    s.z0 = -31.0;
    s.scale = 0.99;
    s.write(d);
    const RunResult r = run(d, {"--around", st.phi, st.z, "0.99"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string report = d.read("fort.7");
    const std::vector<Minimum> m = minima(report);
    ASSERT_EQ(m.size(), st.passes) << report;
    EXPECT_EQ(m.front().phi, f1(st.first_phi)) << report;
    const Minimum last = m.back();
    EXPECT_EQ(last.phi, f1(20.0)) << report;
    EXPECT_EQ(last.z, f1(-31.0)) << report;
    EXPECT_EQ(last.rsc, f3(0.99)) << report;
    EXPECT_LT(std::stof(last.resmin), 0.05f) << report;
  }
  // Options that cannot start a search are refused before anything is read.
  TempDir d;
  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--around", "1", "2"}, "--around needs three numbers: PHI Z RSCALE"},
           {{"--around", "1", "x", "1"}, "--around needs a number for Z (Angstroms), not \"x\""},
           {{"--around", "1", "2", "0"}, "--around needs a positive number for RSCALE, not \"0\""},
           {{"--resolution", "-20"}, "--resolution needs a positive number of Angstroms, not \"-20\""}}) {
    const RunResult r = run(d, args);
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "gridscan: command line: " + message + "\n");
  }
}

TEST(Gridscan, RadialScaleSettledByTheVectorResidualWherePhasesAreFlat) {
  // Phases constant along every layer line: the phase residual is the same at every radial
  // scale, only the amplitudes tell the scale. The vector residual settles it (the default);
  // the old rule, by --scale-by phase, takes the first of the equal scales and misses it.
  for (const double scale : {1.03, 0.99}) {
    TempDir d;
    Synthetic s;
    s.flat_phases = true;
    s.phi0 = -3.0;
    s.z0 = 8.5;
    s.scale = scale;
    s.write(d);
    RunResult r = run(d);
    EXPECT_EQ(r.status, 0) << r.err;
    expect_recovered(d.read("fort.7"), -3.0, 8.5, scale);

    r = run(d, {"--scale-by", "phase"});
    const std::vector<Minimum> m = minima(d.read("fort.7"));
    ASSERT_FALSE(m.empty());
    EXPECT_NE(m.back().rsc, f3(scale)) << d.read("fort.7");
  }
  const RunResult bad = run(TempDir(), {"--scale-by", "amplitude"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.err, "gridscan: command line: --scale-by is amplitudes or phase, not \"amplitude\"\n");
}

TEST(Gridscan, CtfWeighsTheReferenceAsTheTestImageHoldsIt) {
  // Test data whose amplitudes carry |CTF| (a phase-flipped image, 2 um underfocus: |CTF| rises
  // from 0.07 at the origin to 1 at 0.036 1/A, with zeros at 0.050 and 0.071 1/A among the
  // samples): with --ctf the reference compared is
  // |CTF| times its own, the test's amplitudes exactly, so the vector fit finds the motion and the
  // scale 1 with an amplitude scale of 1, whichever scale the rings would favour. A bad CTF and
  // --ctf with --model are refused before anything is read.
  ctf::Params c;
  c.voltage = 300.0f, c.cs = 2.7f, c.amplitude_contrast = 0.07f, c.defocus_u = 20000.0f, c.defocus_v = 20000.0f;
  TempDir d;
  Synthetic s;
  s.flat_phases = true;
  s.phi0 = 3.3;
  s.z0 = -7.2;
  s.test_ctf = c;
  s.write(d);
  const RunResult r = run(d, {"--fit", "vector", "--ctf", "300", "2.7", "0.07", "20000", "20000", "-30"});
  EXPECT_EQ(r.status, 0) << r.err;
  const std::string report = d.read("fort.7");
  const Minimum m = minima(report).back();
  EXPECT_NEAR(std::stod(m.phi), 3.3, 0.1) << report;
  EXPECT_NEAR(std::stod(m.z), -7.2, 0.1) << report;
  EXPECT_EQ(m.rsc, f3(1.0)) << report;
  EXPECT_EQ(lines_of(report).back(), "0MEAN AMPSCALE =   1.000");

  for (const auto& [args, message] :
       {std::pair<std::vector<std::string>, std::string>{{"--ctf", "0", "2.7", "0.07", "2e4", "2e4", "0"},
                                                          "--ctf: the voltage must be above 0 kV (0 given)"},
        {{"--ctf", "300", "2.7", "0.07", "2e4", "2e4", "x"}, "--ctf: the astigmatism angle: "},
        {{"--ctf", "300", "2.7", "0.07", "2e4", "2e4", "0", "--model"},
         "--ctf is not taken with --model (a model's orders are weighed alike)"}}) {
    TempDir bad;
    const RunResult b = run(bad, args);
    EXPECT_EQ(b.status, 2);
    EXPECT_EQ(b.err.rfind("gridscan: command line: " + message, 0), 0u) << b.err;
    EXPECT_FALSE(bad.exists("fort.7"));
  }
}

TEST(Gridscan, VectorFitFindsTheMotionBetweenGridPoints) {
  // A motion off the final grid (steps of 0.5): the vector fit reports the vertex of its
  // quadratic surface, within 0.1 of the motion, where the phase fit can only give a grid
  // point; a fit that is neither is refused. Phases flat along the layer lines keep the radial scale (a
  // grid of its own, whose step could stand in for part of the motion) apart from the motion.
  for (const auto& [phi0, z0] : {std::pair{3.3, -7.2}, std::pair{-1.15, 12.4}}) {
    TempDir d;
    Synthetic s;
    s.flat_phases = true;
    s.phi0 = phi0;
    s.z0 = z0;
    s.write(d);
    const RunResult r = run(d, {"--fit", "vector"});
    EXPECT_EQ(r.status, 0) << r.err;
    const Minimum vector = minima(d.read("fort.7")).back();
    EXPECT_NEAR(std::stod(vector.phi), phi0, 0.1) << d.read("fort.7");
    EXPECT_NEAR(std::stod(vector.z), z0, 0.1) << d.read("fort.7");
    EXPECT_EQ(vector.rsc, f3(1.0));
  }
  const RunResult bad = run(TempDir(), {"--fit", "correlation"});
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.err, "gridscan: command line: --fit is phase or vector, not \"correlation\"\n");
}
