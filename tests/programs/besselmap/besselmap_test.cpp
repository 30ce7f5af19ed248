// besselmap against ground truth: the Bessel functions against the standard library's and
// their sum rule, and the map of a thin continuous helix whose layer lines follow from the
// helical expansion in closed form, compared voxel by voxel with the same helix limited to
// the same resolution (and worse with its mirror image); bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "besselmap/synthesis.hpp"
#include "helix/bessel.hpp"
#include "layerline/pointlist.hpp"
#include "mapbytes.hpp"
#include "mapcompare.hpp"
#include "runprog.hpp"

using namespace testsupport;
using helix::bessel_orders;
using mapcompare::correlation;

namespace {

constexpr double pi = std::numbers::pi;

}  // namespace

TEST(Bessel, AllOrdersAgreeWithTheStandardLibraryAndTheSumRule) {
  std::vector<double> j;
  for (double x : {0.0, 1e-3, 0.5, 1.0, 7.3, 30.0, 99.5, 200.0, 480.0, 900.0}) {
    bessel_orders(x, 220, j);
    double squares = j[0] * j[0];
    for (int n = 1; n <= 220; ++n) squares += 2.0 * j[static_cast<std::size_t>(n)] * j[static_cast<std::size_t>(n)];
    // J_0^2 + 2 sum J_n^2 = 1 (the orders beyond 220 are negligible only for x well below).
    if (x < 150.0) {
      EXPECT_NEAR(squares, 1.0, 1e-12) << x;
    }
    for (int n : {0, 1, 2, 5, 17, 50, 100, 150, 200, 220}) {
      const double want = std::cyl_bessel_j(double(n), x);
      EXPECT_NEAR(j[static_cast<std::size_t>(n)], want, 1e-12 + 1e-9 * std::fabs(want)) << "n=" << n << " x=" << x;
    }
  }
  // Large orders at small arguments: tiny but not lost, J_200(10) ~ 1e-236, J_100(1) ~ 8e-189.
  bessel_orders(1.0, 100, j);
  EXPECT_NEAR(j[100] / std::cyl_bessel_j(100.0, 1.0), 1.0, 1e-9);
  // The interpolated table, both signs of order.
  const helix::BesselTable t({3, -7, 200}, 600.0);
  for (double x : {0.0, 0.013, 2.71, 55.5, 333.3, 599.9}) {
    EXPECT_NEAR(t(3, x), std::cyl_bessel_j(3.0, x), 1e-8) << x;
    EXPECT_NEAR(t(-7, x), -std::cyl_bessel_j(7.0, x), 1e-8) << x;
    EXPECT_NEAR(t(200, x), std::cyl_bessel_j(200.0, x), 1e-8) << x;
  }
}

namespace {

// A thin continuous helix of radius r0 turning once a repeat: its density on r = r0 is
// delta(phi - 2 pi z / c), so g_{n,-n}(r) = delta(r - r0) / (2 pi r0) and layer line l >= 0
// carries order n = -l with G(R) = J_-l(2 pi R r0), near side i^l G.
struct Helix {
  double r0 = 16.0, c = 32.0, p = 2.0, res = 8.0;
  int nx = 48, nz = 32, lmax = 3;
  double dR = 0.002;
  int samples = 66;  // to 0.132 1/A, beyond the limit

  std::string layer_lines() const {
    std::ostringstream out;
    for (int l = 0; l <= lmax; ++l) {
      std::vector<layerline::Point> pts;
      for (int j = 1; j <= samples; ++j) {
        const double R = j * dR;
        const std::complex<double> near = std::pow(std::complex<double>(0.0, 1.0), l) *
                                          std::cyl_bessel_j(double(l), 2 * pi * R * r0) * ((l % 2) ? -1.0 : 1.0);
        pts.push_back({static_cast<float>(R), static_cast<float>(std::abs(near)),
                       static_cast<float>(std::arg(near) * 180.0 / pi)});
      }
      layerline::write_block(out, " thin helix", 1.0f, -l, l, pts);
    }
    return out.str();
  }

  // The helix limited to the resolution with the program's soft edge (width 0.1/res),
  // g_f(r) = 2 pi integral w(s) J_n(2 pi R r0) J_n(2 pi R r) R dR by Simpson's rule, on a fine
  // radial table; mirror turns phi into -phi.
  std::vector<double> truth(bool mirror) const {
    besselmap::Setup s;
    s.smax = 1.0 / res;
    s.edge = 0.1 * s.smax;
    const double dr = 0.1, rmax = 0.75 * nx * p;
    const int nr = static_cast<int>(rmax / dr) + 2, steps = 400;
    std::vector<std::vector<double>> g(static_cast<std::size_t>(lmax + 1),
                                       std::vector<double>(static_cast<std::size_t>(nr)));
    for (int l = 0; l <= lmax; ++l) {
      const double z = l / c, top = std::sqrt(s.smax * s.smax - z * z), h = top / steps;
      for (int k = 0; k < nr; ++k) {
        double sum = 0.0;
        for (int i = 0; i <= steps; ++i) {
          const double R = i * h, w = (i == 0 || i == steps) ? 1.0 : (i % 2 ? 4.0 : 2.0);
          sum += w * besselmap::resolution_weight(s, std::hypot(R, z)) * std::cyl_bessel_j(double(l), 2 * pi * R * r0) *
                 std::cyl_bessel_j(double(l), 2 * pi * R * k * dr) * R;
        }
        g[static_cast<std::size_t>(l)][static_cast<std::size_t>(k)] = 2 * pi * sum * h / 3.0;  // J_-l J_-l = J_l J_l
      }
    }
    std::vector<double> rho;
    for (int iz = 0; iz < nz; ++iz)
      for (int iy = 0; iy < nx; ++iy)
        for (int ix = 0; ix < nx; ++ix) {
          const double x = (ix - nx / 2) * p, y = (iy - nx / 2) * p, zz = (iz - nz / 2) * p;
          const double r = std::hypot(x, y), phi = (mirror ? -1.0 : 1.0) * std::atan2(y, x);
          const double u = r / dr;
          const auto k = static_cast<std::size_t>(u);
          double v = 0.0;
          for (int l = 0; l <= lmax; ++l) {
            const auto& gl = g[static_cast<std::size_t>(l)];
            const double gr = gl[k] + (u - double(k)) * (gl[k + 1] - gl[k]);
            v += (l == 0 ? 1.0 : 2.0) * gr * std::cos(-l * phi + 2 * pi * l * zz / c);
          }
          rho.push_back(v);
        }
    return rho;
  }
};

RunResult run_besselmap(TempDir& dir, std::vector<std::string> args) {
  RunSpec job;
  job.exe = program_path("besselmap");
  job.args = std::move(args);
  job.timeout_seconds = 60;
  return run_in(dir.path(), job);
}

std::vector<std::string> helix_args(const Helix& h) {
  return {"--input", "ll.dat", "--map",  "helix.map",          "--repeat",           "32",      "--resolution", "8",
          "--voxel", "2",      "--size", std::to_string(h.nx), std::to_string(h.nz), "--gfile", "g.txt"};
}

}  // namespace

TEST(Besselmap, AThinHelixComesBackAtItsResolutionAndWithItsHand) {
  const Helix h;
  TempDir dir;
  dir.write("ll.dat", h.layer_lines());
  const RunResult r = run_besselmap(dir, helix_args(h));
  ASSERT_EQ(r.status, 0) << r.err << r.out;
  const maptest::MapFile map(dir.read("helix.map"));
  ASSERT_EQ(map.nx(), h.nx);
  ASSERT_EQ(map.ny(), h.nx);
  ASSERT_EQ(map.nz(), h.nz);
  EXPECT_EQ(map.mode(), 2);
  EXPECT_FLOAT_EQ(map.word_f32(11), 96.0f);  // cell 48 * 2 A
  EXPECT_FLOAT_EQ(map.word_f32(13), 64.0f);
  // The frame of every map of the suite: grid = size (words 8-10), no start offsets (5-7),
  // origin 0 (50-52, the axis at voxel nx/2 like the true density's), the version word 20140
  // (word 28) and the rms deviation (word 55).
  for (int w : {5, 6, 7, 50, 51, 52}) EXPECT_EQ(map.word_i32(w), 0) << "word " << w;
  EXPECT_EQ(map.word_i32(8), h.nx);
  EXPECT_EQ(map.word_i32(9), h.nx);
  EXPECT_EQ(map.word_i32(10), h.nz);
  EXPECT_EQ(map.word_i32(28), 20140);
  const std::vector<float> values = map.values();
  std::vector<double> got(values.begin(), values.end());
  float lo = values[0], hi = values[0];
  double sum = 0, sum2 = 0;
  for (float v : values) {
    lo = std::min(lo, v);
    hi = std::max(hi, v);
    sum += double(v);
  }
  const double mean = sum / double(values.size());
  for (float v : values) sum2 += (double(v) - mean) * (double(v) - mean);
  EXPECT_FLOAT_EQ(map.dmin(), lo);
  EXPECT_FLOAT_EQ(map.dmax(), hi);
  EXPECT_NEAR(double(map.word_f32(55)), std::sqrt(sum2 / double(values.size())), 1e-5 * double(hi));

  const std::vector<double> truth = h.truth(false), mirror = h.truth(true);
  const double same = correlation(got, truth), other = correlation(got, mirror);
  EXPECT_GT(same, 0.999);
  EXPECT_LT(other, 0.5);
  // On the scale of the expansion itself: the least-squares slope is 1.
  double ab = 0, bb = 0;
  for (std::size_t i = 0; i < got.size(); ++i) {
    ab += got[i] * truth[i];
    bb += truth[i] * truth[i];
  }
  EXPECT_NEAR(ab / bb, 1.0, 0.03);
  EXPECT_TRUE(contains(dir.read("g.txt"), "# n -3 l 3"));

  // mapfsc of the map and the truth stays above 0.5 to within 10 percent of the limit.
  maptest::MapSpec spec = maptest::map_of(h.nx, h.nx, h.nz, 2, std::vector<float>(truth.begin(), truth.end()));
  spec.mxyz = {h.nx, h.nx, h.nz};
  spec.cell = {96.0f, 96.0f, 64.0f, 90.0f, 90.0f, 90.0f};
  dir.write("truth.map", maptest::map_bytes(spec));
  RunSpec fsc;
  fsc.exe = program_path("mapfsc");
  fsc.args = {"helix.map", "truth.map"};
  const RunResult f = run_in(dir.path(), fsc);
  ASSERT_EQ(f.status, 0) << f.err;
  const mapcompare::Shells shells = mapcompare::fsc_up_to(f.out, 0.9 / h.res);
  EXPECT_GT(shells.lowest, 0.5);
  EXPECT_GE(shells.counted, 10);
}

TEST(Besselmap, BadInputIsRefusedAndLeavesNoMap) {
  const Helix h;
  struct Case {
    std::string file;
    std::vector<std::string> change;  // option and value replacing the helix's
    std::string message;
  };
  std::ostringstream beyond;
  layerline::write_block(beyond, " too high", 1.0f, 0, 4, {{0.01f, 1.0f, 0.0f}});
  const std::vector<Case> cases = {
      {"", {}, "ll.dat: holds no layer lines"},
      {h.layer_lines() + beyond.str(), {}, "layer line 4 lies at"},
      {h.layer_lines(), {"--size", "48", "33"}, "does not hold a whole number of repeats"},
      {h.layer_lines(), {"--resolution", "3"}, "finer than the voxels allow"},
      {h.layer_lines(), {"--voxel", "-1"}, "--voxel needs a positive number"},
      {"garbage\n", {}, "ll.dat"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    dir.write("ll.dat", c.file);
    std::vector<std::string> args = helix_args(h);
    if (!c.change.empty())
      for (std::size_t i = 0; i < args.size(); ++i)
        if (args[i] == c.change[0])
          for (std::size_t k = 1; k < c.change.size(); ++k) args[i + k] = c.change[k];
    const RunResult r = run_besselmap(dir, args);
    EXPECT_EQ(r.status, 2) << c.message;
    EXPECT_TRUE(contains(r.err, "besselmap: ")) << r.err;
    EXPECT_TRUE(contains(r.err, c.message)) << r.err;
    EXPECT_FALSE(dir.exists("helix.map")) << c.message;
    EXPECT_FALSE(dir.exists("g.txt")) << c.message;
  }
}

TEST(Besselmap, HelixsimsAnalyticLayerLinesGiveItsDensityWithItsHand) {
  // 40 subunits in one turn of 80 A at radius 12 A: on each layer line l <= 9 the order -l
  // carries the data, the next order (|n| >= 31) is negligible within 8 A.
  TempDir dir;
  dir.write("h.sim", "model real\nrepeat 80\nradius 12\npixel 2\nbox 64 80\nrule 40 1 9 9\n");
  RunSpec sim;
  sim.exe = program_path("helixsim");
  sim.args = {"--control", "h.sim", "--density", "density.map", "--near", "near.dat", "--far", "far.dat"};
  const RunResult s = run_in(dir.path(), sim);
  ASSERT_EQ(s.status, 0) << s.err;
  const RunResult r = run_besselmap(dir, {"--input", "near.dat", "--map", "bm.map", "--repeat", "80", "--resolution",
                                          "8", "--voxel", "2", "--size", "64", "80"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<float> truth = maptest::MapFile(dir.read("density.map")).values();
  const std::vector<float> got = maptest::MapFile(dir.read("bm.map")).values();
  const int nx = 64, nz = 80;
  ASSERT_EQ(truth.size(), got.size());

  // helixsim's density limited by the same soft edge, inside the helix's outer radius, and its
  // mirror image (x -> -x about the axis).
  const mapcompare::Agreement agree =
      mapcompare::agreement(got, mapcompare::limited(truth, nx, nz, 2.0, 8.0), nx, nz, 2.0, 26.0);
  EXPECT_GT(agree.same, 0.99);
  EXPECT_LT(agree.mirror, 0.5);

  RunSpec fsc;
  fsc.exe = program_path("mapfsc");
  fsc.args = {"bm.map", "density.map", "--mask", "26"};
  const RunResult f = run_in(dir.path(), fsc);
  ASSERT_EQ(f.status, 0) << f.err;
  const mapcompare::Shells shells = mapcompare::fsc_up_to(f.out, 0.9 * 0.125);
  EXPECT_GT(shells.lowest, 0.5);
  EXPECT_GE(shells.counted, 10);
}
