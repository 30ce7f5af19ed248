// The whole chain from particle images to a map: real-space particles of one polar helix,
// turned and shifted by known amounts, are projected by helixsim, transformed by helixft,
// sampled by sidesplit, brought back into one frame and averaged by layermean with their
// known alignments, and synthesised by besselmap; the map must be helixsim's own density
// (limited to the same resolution, inside the helix's outer radius) with the right hand.
//
// The particle: 40 subunits in one turn of 80 A at radius 12 A, 2 A pixels, 64 x 80 images
// (two repeats, 2 transform rows per 1/c). Layer line l <= 9 carries the order -l; the next
// order of the rule on it is 40 - l >= 31, whose J_n(2 pi R r) is negligible for R <= 1/8 and
// r within the particle, so every layer line holds one order and inverts on its own.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "mapbytes.hpp"
#include "mapcompare.hpp"
#include "runprog.hpp"

using namespace testsupport;

namespace {

const std::string particle = "model real\nrepeat 80\nradius 12\npixel 2\nbox 64 80\nrule 40 1 9 9\n";
constexpr int nx = 64, nz = 80;
constexpr double voxel = 2.0, resolution = 8.0, outer = 26.0;

struct Motion {
  double phi, z;
};

RunResult run(const std::filesystem::path& dir, const std::string& prog, std::vector<std::string> args,
              std::vector<std::pair<std::string, std::string>> env = {}) {
  RunSpec job;
  job.exe = program_path(prog);
  job.args = std::move(args);
  job.env = std::move(env);
  job.timeout_seconds = 60;
  return run_in(dir, job);
}

// Particles p0, p1, ... of d moved by `moves`, each with its own noise seed, through helixsim,
// helixft and sidesplit; then layermean with the known alignments and besselmap (map.map).
// The unmoved, noise-free density is truth/density.map, its analytic near side truth/near.dat.
void run_chain(const TempDir& d, const std::vector<Motion>& moves, double noise) {
  std::filesystem::create_directory(d / "truth");
  d.write("truth/h.sim", particle);
  const RunResult t = run(d / "truth", "helixsim",
                          {"--control", "h.sim", "--density", "density.map", "--near", "near.dat", "--far", "far.dat"});
  ASSERT_EQ(t.status, 0) << t.err;
  std::ostringstream table;
  table << "file\tside\tphi\tz\trscale\n";
  for (std::size_t i = 0; i < moves.size(); ++i) {
    const std::string name = "p" + std::to_string(i);
    std::filesystem::create_directory(d / name);
    std::ostringstream control;
    control << particle << "rotate " << moves[i].phi << "\nshift " << moves[i].z << "\n";
    if (noise > 0.0) control << "noise " << noise << " " << 11 + i << "\n";
    d.write(name + "/h.sim", control.str());
    const RunResult sim = run(d / name, "helixsim", {"--control", "h.sim", "--projection", "proj.map"});
    ASSERT_EQ(sim.status, 0) << sim.err;
    const RunResult ft = run(d / name, "helixft", {"--image", "proj.map", "--transform", "ft.map", "--repeat", "80"});
    ASSERT_EQ(ft.status, 0) << ft.err;
    const RunResult split = run(d / name, "sidesplit", {}, {{"IN", "ft.map"}});
    ASSERT_EQ(split.status, 0) << split.err;
    table << name << "/near.dat\tnear\t" << moves[i].phi << '\t' << moves[i].z << "\t1\n";
  }
  d.write("alignments.tsv", table.str());
  const RunResult mean =
      run(d.path(), "layermean", {"--table", "alignments.tsv", "--repeat", "80", "--output", "average.dat"});
  ASSERT_EQ(mean.status, 0) << mean.err;
  for (const auto& [input, map] : {std::pair{"average.dat", "map.map"}, std::pair{"truth/near.dat", "analytic.map"}}) {
    const RunResult bm = run(d.path(), "besselmap",
                             {"--input", input, "--map", map, "--repeat", "80", "--resolution", "8", "--voxel", "2",
                              "--size", std::to_string(nx), std::to_string(nz)});
    ASSERT_EQ(bm.status, 0) << bm.err;
  }
}

std::vector<float> values_of(const TempDir& d, const std::string& file) {
  return maptest::MapFile(d.read(file)).values();
}

// The map against the truth: correlations with the limited density and its mirror image, and
// the lowest mapfsc value (inside the outer radius) up to 90 percent of the resolution limit.
struct Figures {
  mapcompare::Agreement agree;
  mapcompare::Shells fsc;
};

Figures figures(const TempDir& d, const std::string& map) {
  const std::vector<float> truth = mapcompare::limited(values_of(d, "truth/density.map"), nx, nz, voxel, resolution);
  Figures f;
  f.agree = mapcompare::agreement(values_of(d, map), truth, nx, nz, voxel, outer);
  const RunResult fsc = run(d.path(), "mapfsc", {map, "truth/density.map", "--mask", "26"});
  EXPECT_EQ(fsc.status, 0) << fsc.err;
  f.fsc = mapcompare::fsc_up_to(fsc.out, 0.9 / resolution);
  std::cout << map << ": correlation " << f.agree.same << ", mirror image " << f.agree.mirror << ", lowest FSC "
            << f.fsc.lowest << " over " << f.fsc.counted << " shells\n";
  return f;
}

const std::vector<Motion> moves = {{0.0, 0.0}, {37.0, -11.0}, {-113.0, 23.5}, {201.0, 7.0}};

TEST(BesselmapChain, AlignedParticleImagesGiveTheDensityWithItsHand) {
  TempDir d;
  run_chain(d, moves, 0.0);
  if (HasFatalFailure()) return;
  const Figures f = figures(d, "map.map");
  EXPECT_GE(f.agree.same, 0.95);
  EXPECT_LT(f.agree.mirror, 0.5);
  EXPECT_GE(f.fsc.counted, 10);
  EXPECT_GT(f.fsc.lowest, 0.5);
  // The same map as from helixsim's analytic layer lines of the unmoved particle: nothing
  // along the chain (transform, sampling, alignment, averaging) changes what besselmap sees.
  const std::vector<float> chain = values_of(d, "map.map"), analytic = values_of(d, "analytic.map");
  EXPECT_GT(mapcompare::agreement(chain, analytic, nx, nz, voxel, outer).same, 0.999);
  double ab = 0, bb = 0;
  for (std::size_t i = 0; i < chain.size(); ++i) {
    ab += double(chain[i]) * double(analytic[i]);
    bb += double(analytic[i]) * double(analytic[i]);
  }
  EXPECT_NEAR(ab / bb, 1.0, 0.01);  // on the same scale
}

TEST(BesselmapChain, NoisyParticlesAverageToTheDensity) {
  // Noise of 0.3 times the projection's standard deviation on each of eight particle images:
  // the average's map holds the density to the resolution limit, better than one particle's.
  std::vector<Motion> many = moves;
  for (const Motion& m : moves) many.push_back({m.phi + 71.0, m.z - 17.5});
  TempDir d;
  run_chain(d, many, 0.3);
  if (HasFatalFailure()) return;
  const RunResult one = run(d.path(), "besselmap",
                            {"--input", "p0/near.dat", "--map", "one.map", "--repeat", "80", "--resolution", "8",
                             "--voxel", "2", "--size", std::to_string(nx), std::to_string(nz)});
  ASSERT_EQ(one.status, 0) << one.err;
  const Figures f = figures(d, "map.map"), single = figures(d, "one.map");
  EXPECT_GE(f.agree.same, 0.95);
  EXPECT_LT(f.agree.mirror, 0.5);
  EXPECT_GE(f.fsc.counted, 10);
  EXPECT_GT(f.fsc.lowest, 0.5);
  EXPECT_GT(f.agree.same, single.agree.same);
  EXPECT_GT(f.fsc.lowest, single.fsc.lowest + 0.1);
}

}  // namespace
