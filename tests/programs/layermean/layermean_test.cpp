// layermean on particles made by helixsim and sampled by sidesplit: noise-free particles come
// back to the unmoved one from either side, noise falls as 1/sqrt(N), gridscan's own fits give
// an average closer to the reference than any particle, a large batch is fast, and bad input
// is refused without leaving an output file.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <iostream>
#include <map>
#include <random>
#include <sstream>
#include <string>

#include "layerline/pointlist.hpp"
#include "records/source.hpp"
#include "runprog.hpp"

using namespace testsupport;

namespace {

constexpr double pi = 3.14159265358979323846;

// A helix of 10 subunits in 3 turns: 9 layer lines, samples at R = k/500, k = 1..49.
const std::string helix = "repeat 100\nradius 40\npixel 5\nbox 100 100\nrule 10 3 9 4\n";

struct Truth {
  double phi = 0.0, z = 0.0, scale = 1.0, noise = 0.0;
  int seed = 1;
  bool opposite = false;  // of the opposite polarity: every phase negated
};

// helixsim then sidesplit in folder `name` of d: name/near.dat and name/far.dat.
void make_particle(const TempDir& d, const std::string& name, const Truth& t) {
  std::filesystem::create_directories(d / name);
  std::ostringstream s;
  s << helix << "rotate " << t.phi << "\nshift " << t.z << "\nscale " << t.scale << "\nnoise " << t.noise << " "
    << t.seed << "\npolarity " << (t.opposite ? "opposite" : "same") << "\n";
  const auto sim = run_in(d / name, run_spec(program_path("helixsim"), {}, s.str()));
  ASSERT_EQ(sim.status, 0) << sim.err;
  const auto split = run_in(d / name, run_spec(program_path("sidesplit"), {}, std::nullopt, {{"IN", "transform.map"}}));
  ASSERT_EQ(split.status, 0) << split.err;
}

struct Row {
  std::string file;
  double phi, z, scale;
  std::string side = "near";
  std::string polarity = {};  // the polarity column when not empty
};

std::string table_of(const std::vector<Row>& rows) {
  const bool polarity = std::any_of(rows.begin(), rows.end(), [](const Row& r) { return !r.polarity.empty(); });
  std::ostringstream t;
  t << "# made by the test\nfile\tside\tphi\tz\trscale" << (polarity ? "\tpolarity" : "") << "\n";
  for (const Row& r : rows) {
    t << r.file << '\t' << r.side << '\t' << r.phi << '\t' << r.z << '\t' << r.scale;
    if (polarity) t << '\t' << r.polarity;
    t << '\n';
  }
  return t.str();
}

std::vector<layerline::Block> blocks_of(const std::filesystem::path& p) {
  records::LineSource src = records::LineSource::open_file(p.string());
  layerline::PointListReader reader(src, layerline::EndOfBlockRule::RadiusZero);
  std::vector<layerline::Block> out;
  while (auto b = reader.read_block()) out.push_back(std::move(*b));
  return out;
}

// The stats file as (block, R) -> (amplitude, phase).
std::map<std::pair<int, float>, std::pair<double, double>> stats_of(const std::string& text) {
  std::map<std::pair<int, float>, std::pair<double, double>> out;
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "block\tn\tl\tR\tamplitude\tphase\tfom\tcount\tspread");
  while (std::getline(in, line)) {
    std::istringstream w(line);
    int block, n, l;
    float r;
    double amp, phase;
    w >> block >> n >> l >> r >> amp >> phase;
    out[{block, r}] = {amp, phase};
  }
  return out;
}

// Amplitude-weighted phase error of the stats' average against a reference file, over the
// samples whose reference amplitude is at least `floor` of the largest.
double weighted_phase_error(const std::string& stats, const std::filesystem::path& reference, double floor) {
  const auto avg = stats_of(stats);
  const auto ref = blocks_of(reference);
  double amax = 0.0;
  for (const auto& b : ref)
    for (const auto& p : b.points) amax = std::max(amax, double(p.amp));
  double num = 0.0, den = 0.0;
  for (std::size_t k = 0; k < ref.size(); ++k)
    for (const auto& p : ref[k].points) {
      if (double(p.amp) < floor * amax) continue;
      const auto it = avg.find({int(k + 1), p.r});
      if (it == avg.end()) {
        ADD_FAILURE() << "no average at block " << k + 1 << " R " << p.r;
        continue;
      }
      const double d = std::remainder(it->second.second - double(p.phase), 360.0);
      num += double(p.amp) * d * d;
      den += double(p.amp);
    }
  return std::sqrt(num / den);
}

// layermean on table `name`.tsv of d, writing `name`.dat and `name`.stats, its report kept
// in `name`.out.
void average(const TempDir& d, const std::string& name) {
  const auto r =
      run_in(d.path(), run_spec(program_path("layermean"), {"--table", name + ".tsv", "--repeat", "100", "--output",
                                                            name + ".dat", "--stats", name + ".stats"}));
  ASSERT_EQ(r.status, 0) << r.err;
  d.write(name + ".out", r.out);
}

// Two averages (stats files) both match the reference's layer lines, and each other, to the
// three significant digits of the files: half a degree at phases of 100 and more, 0.5% of an
// amplitude.
void expect_both_match_reference(const std::string& a_stats, const std::string& b_stats,
                                 const std::vector<layerline::Block>& ref) {
  const auto a_avg = stats_of(a_stats), b_avg = stats_of(b_stats);
  for (std::size_t k = 0; k < ref.size(); ++k)
    for (std::size_t j = 0; j < ref[k].points.size(); ++j) {
      const auto& p = ref[k].points[j];
      const auto a = a_avg.at({int(k + 1), p.r}), b = b_avg.at({int(k + 1), p.r});
      EXPECT_NEAR(a.first, double(p.amp), 0.006 * double(p.amp) + 0.05) << k << " " << j;
      EXPECT_NEAR(a.first, b.first, 0.006 * double(p.amp) + 0.05) << k << " " << j;
      if (p.amp < 1.0f) continue;
      EXPECT_NEAR(std::remainder(a.second - double(p.phase), 360.0), 0.0, 0.5) << k << " " << j;
      EXPECT_NEAR(std::remainder(a.second - b.second, 360.0), 0.0, 0.5) << k << " " << j;
    }
}

struct Fit {
  double phi = 0.0, z = 0.0, scale = 0.0, residual = 0.0;
};

// gridscan on a test file against ref/near.dat: the last "0PHASE MINIMUM" line.
Fit run_gridscan(const TempDir& d, const std::string& test_file) {
  std::string ctl = "9 0.01 0.002 0\n 1 1 1 1 1 1 1 1 1\nlayermean test\n0 0\n";
  d.write("gridscan.ctl", ctl);
  std::filesystem::remove(d / "gridscan.txt");
  const auto r =
      run_in(d.path(), run_spec(program_path("gridscan"), {"--control", "gridscan.ctl", "--reference", "ref/near.dat",
                                                           "--test", test_file, "--report", "gridscan.txt"}));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  std::istringstream rep(d.read("gridscan.txt"));
  std::string line;
  Fit f;
  while (std::getline(rep, line)) {
    if (line.rfind("0PHASE MINIMUM", 0) != 0) continue;
    std::istringstream w(line);
    std::string a, b, c, e, g, h;
    w >> a >> b >> f.residual >> c >> e >> f.phi >> g >> f.z >> h >> c >> f.scale;
  }
  return f;
}

TEST(LayermeanProgram, NoiseFreeParticlesComeBackToTheUnmovedOneFromEitherSide) {
  // The files hold three significant digits (half a degree at phases of 100 and more, 0.5% of
  // an amplitude), so through files the average matches the unmoved particle to that; the
  // tight tolerances hold for the values themselves (the unit test). Near and far sides of the
  // same particles, averaged apart, agree as closely.
  TempDir d;
  make_particle(d, "ref", {});
  std::mt19937 gen(18);
  std::uniform_real_distribution<double> phi(-40.0, 40.0), z(-60.0, 60.0);
  std::vector<Row> near, far;
  for (int i = 0; i < 6; ++i) {
    const Truth t{phi(gen), z(gen)};
    make_particle(d, "p" + std::to_string(i), t);
    near.push_back({"p" + std::to_string(i) + "/near.dat", t.phi, t.z, 1.0});
    far.push_back({"p" + std::to_string(i) + "/far.dat", t.phi, t.z, 1.0, "far"});
  }
  d.write("near.tsv", table_of(near));
  d.write("far.tsv", table_of(far));
  for (const char* side : {"near", "far"}) average(d, side);
  const auto ref = blocks_of(d / "ref/near.dat");
  const auto n_file = blocks_of(d / "near.dat");
  ASSERT_EQ(n_file.size(), ref.size());
  for (std::size_t k = 0; k < ref.size(); ++k) {
    EXPECT_EQ(n_file[k].header.nn, ref[k].header.nn);
    EXPECT_EQ(n_file[k].header.nl, ref[k].header.nl);
    ASSERT_EQ(n_file[k].points.size(), ref[k].points.size());
    for (std::size_t j = 0; j < ref[k].points.size(); ++j) EXPECT_EQ(n_file[k].points[j].r, ref[k].points[j].r);
  }
  expect_both_match_reference(d.read("near.stats"), d.read("far.stats"), ref);
}

TEST(LayermeanProgram, MixedPolaritiesAverageAsUniformOnes) {
  // The same motions twice: every particle of the reference's polarity, and every other one
  // upside down (helixsim's opposite polarity, its phases negated) with polarity "opposite" in
  // the table. Both average back to the unmoved particle and to each other, near and far sides
  // alike; the mixed data without the polarity column do not.
  TempDir d;
  make_particle(d, "ref", {});
  std::mt19937 gen(29);
  std::uniform_real_distribution<double> phi(-40.0, 40.0), z(-60.0, 60.0);
  for (const std::string side : {"near", "far"}) {
    std::vector<Row> uniform, mixed, unmarked;
    for (int i = 0; i < 6; ++i) {
      const Truth t{phi(gen), z(gen)};
      Truth flipped = t;
      flipped.opposite = i % 2 == 1;
      const std::string u = side + "u" + std::to_string(i), m = side + "m" + std::to_string(i);
      make_particle(d, u, t);
      make_particle(d, m, flipped);
      uniform.push_back({u + "/" + side + ".dat", t.phi, t.z, 1.0, side, "same"});
      mixed.push_back({m + "/" + side + ".dat", t.phi, t.z, 1.0, side, flipped.opposite ? "opposite" : "same"});
      unmarked.push_back({m + "/" + side + ".dat", t.phi, t.z, 1.0, side});
    }
    d.write(side + "-uniform.tsv", table_of(uniform));
    d.write(side + "-mixed.tsv", table_of(mixed));
    d.write(side + "-unmarked.tsv", table_of(unmarked));
    for (const char* kind : {"-uniform", "-mixed", "-unmarked"}) average(d, side + kind);
    EXPECT_TRUE(contains(d.read(side + "-mixed.out"), side + "m1/" + side + ".dat  (opposite polarity)\n"));
    SCOPED_TRACE(side);
    const auto ref = blocks_of(d / "ref/near.dat");
    expect_both_match_reference(d.read(side + "-mixed.stats"), d.read(side + "-uniform.stats"), ref);
    // Unmarked, the upside-down half adds phases at random: the average loses amplitude.
    double avg_sum = 0.0, ref_sum = 0.0;
    const auto unmarked_avg = stats_of(d.read(side + "-unmarked.stats"));
    for (std::size_t k = 0; k < ref.size(); ++k)
      for (const auto& p : ref[k].points) {
        avg_sum += unmarked_avg.at({int(k + 1), p.r}).first;
        ref_sum += double(p.amp);
      }
    EXPECT_LT(avg_sum, 0.8 * ref_sum);
  }
  // A polarity that is neither: refused, naming the line, the columns and the column.
  d.write("bad.tsv", "file\tphi\tz\trscale\tpolarity\nnearu0/near.dat\t0\t0\t1\tup\n");
  const auto r = run_in(d.path(), run_spec(program_path("layermean"), {"--table", "bad.tsv", "--repeat", "100"}));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "layermean: bad.tsv, line 2, columns 23-24: column \"polarity\": same or opposite, not \"up\"\n");
}

TEST(LayermeanProgram, NoiseFallsAsOneOverRootN) {
  // Noise of 5% of A on every part of every transform value. The error is weighted by the
  // reference amplitude over the samples above a tenth of the largest, where a phase error is
  // still small enough to average linearly; from 4 to 16 particles it must halve within 25%.
  for (int seed : {3, 17, 101}) {
    TempDir d;
    make_particle(d, "ref", {});
    std::mt19937 gen(static_cast<unsigned>(seed));
    std::uniform_real_distribution<double> phi(-20.0, 20.0), z(-40.0, 40.0);
    std::vector<Row> rows;
    for (int i = 0; i < 16; ++i) {
      const Truth t{phi(gen), z(gen), 1.0, 0.05, seed * 100 + i};
      make_particle(d, "p" + std::to_string(i), t);
      rows.push_back({"p" + std::to_string(i) + "/near.dat", t.phi, t.z, 1.0});
    }
    double err[2] = {};
    for (int k = 0; k < 2; ++k) {
      const std::size_t n = k == 0 ? 4 : 16;
      d.write("t.tsv", table_of(std::vector<Row>(rows.begin(), rows.begin() + long(n))));
      const auto r = run_in(
          d.path(), run_spec(program_path("layermean"), {"--table", "t.tsv", "--repeat", "100", "--stats", "s.tsv"}));
      ASSERT_EQ(r.status, 0) << r.err;
      err[k] = weighted_phase_error(d.read("s.tsv"), d / "ref/near.dat", 0.1);
    }
    SCOPED_TRACE("seed " + std::to_string(seed) + ": " + std::to_string(err[0]) + " -> " + std::to_string(err[1]));
    std::cout << "seed " << seed << ": phase error " << err[0] << " (N = 4), " << err[1] << " (N = 16)\n";
    EXPECT_GT(err[0] / err[1], 2.0 * 0.75);
    EXPECT_LT(err[0] / err[1], 2.0 * 1.25);
  }
}

TEST(LayermeanProgram, GridscanFitsGiveAnAverageCloserThanAnyParticle) {
  TempDir d;
  make_particle(d, "ref", {});
  std::mt19937 gen(8);
  std::uniform_real_distribution<double> phi(-10.0, 10.0), z(-30.0, 30.0);
  const double scales[] = {0.99, 1.0, 1.01};
  std::vector<Row> rows;
  double best_single = 1e9;
  for (int i = 0; i < 8; ++i) {
    const Truth t{phi(gen), z(gen), scales[i % 3], 0.08, 500 + i};
    make_particle(d, "p" + std::to_string(i), t);
    const std::string file = "p" + std::to_string(i) + "/near.dat";
    const Fit f = run_gridscan(d, file);
    best_single = std::min(best_single, f.residual);
    rows.push_back({file, f.phi, f.z, f.scale});
  }
  d.write("t.tsv", table_of(rows));
  const auto r = run_in(d.path(), run_spec(program_path("layermean"), {"--table", "t.tsv", "--repeat", "100"}));
  ASSERT_EQ(r.status, 0) << r.err;
  const Fit avg = run_gridscan(d, "average.dat");
  std::cout << "gridscan residual: best particle " << best_single << ", average " << avg.residual << "\n";
  EXPECT_LT(avg.residual, best_single) << r.out;
  // The average lies in the reference frame.
  EXPECT_NEAR(avg.phi, 0.0, 1.0);
  EXPECT_NEAR(avg.z, 0.0, 1.0);
  EXPECT_NEAR(avg.scale, 1.0, 0.0101);
}

TEST(LayermeanProgram, AThousandDataSetsAverageQuickly) {
  // 1000 rows naming data sets of 40 layer lines of 200 samples each (one file, named by
  // every row with its own rotation and shift), the whole program, median of 5 runs.
#if !defined(__OPTIMIZE__) || defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "timing is checked in an optimised build without sanitizers";
#endif
  TempDir d;
  std::ostringstream f;
  std::mt19937 gen(1000);
  std::uniform_real_distribution<float> u(0.0f, 1.0f);
  for (int l = 0; l < 40; ++l) {
    std::vector<layerline::Point> pts;
    for (int k = 1; k <= 200; ++k) pts.push_back({float(k) * 0.0005f, 100.0f * u(gen), 360.0f * u(gen) - 180.0f});
    layerline::write_block(f, layerline::sidesplit_label("timing", l, true, float(l)), 1.0f, l % 7 - 3, l, pts);
  }
  d.write("d.dat", f.str());
  std::ostringstream t;
  t << "file\tphi\tz\trscale\n";
  for (int i = 0; i < 1000; ++i) t << "d.dat\t" << 20.0f * u(gen) << '\t' << 50.0f * u(gen) << "\t1\n";
  d.write("t.tsv", t.str());
  std::vector<double> seconds, wall;
  for (int run = 0; run < 5; ++run) {
    const double cpu0 = children_cpu_seconds();
    const auto start = std::chrono::steady_clock::now();
    const auto r = run_in(d.path(), run_spec(program_path("layermean"), {"--table", "t.tsv", "--repeat", "100"}));
    wall.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    seconds.push_back(children_cpu_seconds() - cpu0);
    ASSERT_EQ(r.status, 0) << r.err;
  }
  std::sort(seconds.begin(), seconds.end());
  std::sort(wall.begin(), wall.end());
  std::cout << "layermean, 1000 x 40 x 200: median " << seconds[2] << " s processor time, " << wall[2] << " s wall\n";
  EXPECT_LT(seconds[2], 2.0);
}

TEST(LayermeanProgram, BadInputIsRefusedAndLeavesNoOutput) {
  TempDir d;
  make_particle(d, "a", {});
  const std::string good = "file\tphi\tz\trscale\na/near.dat\t1\t2\t1\n";
  struct Case {
    std::string table;
    std::vector<std::string> extra;
    int status;
    std::string message;
  };
  // A data file whose second layer line is another (n, l).
  std::string other = d.read("a/near.dat");
  other.replace(other.find("    3    1"), 10, "    2    1");
  d.write("other.dat", other);
  const Case cases[] = {
      {"file\tphi\trscale\na/near.dat\t1\t1\n",
       {},
       2,
       "layermean: t.tsv, line 1: the header names no column \"z\" (needed: file, phi, z, rscale)\n"},
      {"# comment\nfile\tphi\tz\trscale\na/near.dat\t1\tx2\t1\n",
       {},
       2,
       "layermean: t.tsv, line 3, columns 14-15: column \"z\": \"x2\" is not a number\n"},
      {"file\tphi\tz\trscale\na/near.dat\t1\t2\t0\n",
       {},
       2,
       "layermean: t.tsv, line 2, column 16: column \"rscale\": the radial scale must be above 0, not 0\n"},
      {"file\tphi\tz\trscale\na/near.dat\t1\t2\t-1.0\n",
       {},
       2,
       "layermean: t.tsv, line 2, columns 16-19: column \"rscale\": the radial scale must be above 0, not -1.0\n"},
      {"file\tphi\tz\trscale\tside\na/near.dat\t1\t2\t1\tup\n",
       {},
       2,
       "layermean: t.tsv, line 2, columns 18-19: column \"side\": near or far, not \"up\"\n"},
      {good + "b/near.dat\t0\t0\t1\n",
       {},
       2,
       "layermean: t.tsv, line 3: the data file b/near.dat cannot be opened (No such file or directory); "
       "--skip-missing goes on without it\n"},
      {good + "other.dat\t0\t0\t1\n",
       {},
       2,
       "layermean: other.dat, line 53: layer line 2 is (n 2, l 1), but a/near.dat has (n 3, l 1) there: every "
       "data set must hold the same layer lines in the same order\n"},
      {good, {"--repeat", "0"}, 2, "layermean: command line: --repeat needs a number above 0, not \"0\"\n"},
      {good,
       {"--repeat", "100", "--ctf", "300", "2.7", "0.07"},
       2,
       "layermean: t.tsv, line 2: column \"defocus_u\": the row gives no defocus, and --ctf weights every data set "
       "by its CTF\n"},
      {"file\tphi\tz\trscale\tdefocus_u\na/near.dat\t1\t2\t1\t2e4\n",
       {"--repeat", "100", "--ctf", "0", "2.7", "0.07"},
       2,
       "layermean: command line: --ctf: the voltage must be above 0 kV (0 given)\n"},
      {good,
       {"--repeat", "100", "--wiener", "0.1"},
       2,
       "layermean: command line: --wiener is the constant of the CTF weights: give --ctf\n"},
      // The separation's options, and data whose orders the rule does not admit.
      {good,
       {"--repeat", "100", "--rule", "10", "3"},
       2,
       "layermean: command line: --rule needs --radius RMAX, the particle's radius\n"},
      {good,
       {"--repeat", "100", "--radius", "40"},
       2,
       "layermean: command line: --radius, --filter and --bessel-level go with --rule U T\n"},
      {good,
       {"--repeat", "100", "--rule", "0", "3", "--radius", "40"},
       2,
       "layermean: command line: --rule needs U from 1 to 1000 and T from -1000 to 1000, not \"0\"\n"},
      {good,
       {"--repeat", "100", "--rule", "10", "3", "--radius", "40", "--filter", "1"},
       2,
       "layermean: command line: --filter needs a fraction above 0 and below 1, not \"1\"\n"},
      {good,
       {"--repeat", "100", "--rule", "20", "7", "--radius", "40"},
       2,
       "layermean: t.tsv: layer line 2 (n 3, l 1) of the data sets breaks the rule 20/7 ((l + 7 n)/20 is not "
       "whole)\n"},
      // One data set: the halves share no sample from which the SNR could follow.
      {"file\tphi\tz\trscale\tdefocus_u\na/near.dat\t1\t2\t1\t2e4\n",
       {"--repeat", "100", "--ctf", "300", "2.7", "0.07", "--wiener", "auto"},
       2,
       "layermean: t.tsv: the two halves share no sample: the signal-to-noise ratio that the CTF weights follow "
       "cannot be estimated (give a constant with --wiener K)\n"},
  };
  for (const Case& c : cases) {
    d.write("t.tsv", c.table);
    std::vector<std::string> args{"--table", "t.tsv", "--stats", "s.tsv", "--halves", "h1.dat", "h2.dat"};
    if (c.extra.empty()) args.insert(args.end(), {"--repeat", "100"});
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const auto r = run_in(d.path(), run_spec(program_path("layermean"), args));
    EXPECT_EQ(r.status, c.status) << c.table;
    EXPECT_EQ(r.err, c.message);
    for (const char* f : {"average.dat", "s.tsv", "h1.dat", "h2.dat"}) EXPECT_FALSE(d.exists(f)) << f;
    std::size_t left = 0;
    for (const auto& e : std::filesystem::directory_iterator(d.path())) left += e.path().filename().string()[0] == '.';
    EXPECT_EQ(left, 0u) << "a temporary file was left";
  }
  // --skip-missing goes on and counts; rows whose status is not ok are left out and counted.
  d.write("t.tsv",
          "file\tphi\tz\trscale\tstatus\na/near.dat\t1\t2\t1\tok\nb/near.dat\t0\t0\t1\tok\n"
          "c.dat\tNA\tNA\tNA\tfailed\n");
  const auto r =
      run_in(d.path(), run_spec(program_path("layermean"), {"--table", "t.tsv", "--repeat", "100", "--skip-missing"}));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(contains(r.out,
                       " 1 data sets from t.tsv averaged; 1 rows left out by their status, 1 missing files "
                       "skipped\n"));
  EXPECT_TRUE(d.exists("average.dat"));
  // A full standard output is a failure too, and the average is not left behind.
  std::filesystem::remove(d / "average.dat");
  RunSpec full = run_spec("/bin/sh", {"-c", program_path("layermean") + " --table t.tsv --repeat 100 --skip-missing "
                                                                        ">/dev/full"});
  const auto w = run_in(d.path(), full);
  EXPECT_EQ(w.status, 1);
  EXPECT_EQ(w.err.rfind("layermean: standard output: could not be written\n", 0), 0u) << w.err;
  EXPECT_FALSE(d.exists("average.dat"));
}

}  // namespace
