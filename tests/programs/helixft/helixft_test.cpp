// helixft: its transform round-trips to the floated, tapered, padded box; a real-space particle
// of helixsim goes through helixft and sidesplit onto helixsim's analytic layer lines; gridscan
// recovers its rotation and shift and tells its polarity; bad input is refused.
#include "helixft/helixft.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <sstream>
#include <string>

#include "adapters/fft.hpp"
#include "layerline/pointlist.hpp"
#include "records/source.hpp"
#include "runprog.hpp"

using namespace testsupport;

namespace {

constexpr double pi = 3.14159265358979323846;

RunSpec job(std::string exe, std::vector<std::string> args = {}, std::optional<std::string> in = std::nullopt,
            std::vector<std::pair<std::string, std::string>> env = {}) {
  RunSpec r;
  r.exe = std::move(exe);
  r.args = std::move(args);
  r.stdin_text = std::move(in);
  r.env = std::move(env);
  return r;
}

TEST(HelixftTransform, InverseReturnsTheFloatedTaperedPaddedBox) {
  std::mt19937 gen(3);
  std::uniform_real_distribution<float> u(-1.0f, 5.0f);
  helixft::Image im;
  im.nx = 37;
  im.ny = 29;
  for (int i = 0; i < im.nx * im.ny; ++i) im.data.push_back(u(gen));
  const helixft::Image box = helixft::prepare(im, 3, 2, 30, 25, 4);
  double mean = 0.0;
  for (float v : helixft::prepare(im, 3, 2, 30, 25, 0).data) mean += double(v);
  for (const double axis : {14.0, 9.25}) {
    const int n = 42, m = 30;
    std::vector<float> t = helixft::transform(box, axis, n, m);
    // Undo the row order and the fractional turn, then the inverse transform.
    const int h = n / 2 + 1;
    std::vector<float> work(std::size_t((n + 2) * m), 0.0f);
    for (int r = 0; r < m; ++r) {
      const int k = ((r - m / 2) % m + m) % m;
      for (int c = 0; c < h; ++c) {
        std::complex<double> v(t[std::size_t(2 * (r * h + c))], t[std::size_t(2 * (r * h + c) + 1)]);
        v *= std::polar(1.0, -2.0 * pi * c * (axis - std::floor(axis)) / n);
        work[std::size_t(2 * (k * h + c))] = float(v.real());
        work[std::size_t(2 * (k * h + c) + 1)] = float(v.imag());
      }
    }
    adapters::todfft(work.data(), n, m, 1);
    // The box sits cyclically with its pixel (floor(axis), 12) at (0, 0); the rest is 0.
    double worst = 0.0;
    for (int z = 0; z < m; ++z)
      for (int x = 0; x < n; ++x) {
        const int bx = (x + int(std::floor(axis))) % n, bz = (z + 12) % m;
        const double want = bx < 30 && bz < 25 ? double(box.data[std::size_t(bz * 30 + bx)]) : 0.0;
        worst = std::max(worst, std::abs(double(work[std::size_t(z * (n + 2) + x)]) - want));
      }
    EXPECT_LT(worst, 2e-5) << axis;
  }
  // Floated to mean 0; the taper keeps the centre and takes the corner down by
  // (0.5 - 0.5 cos(pi/8))^2, both from the floated value.
  const double centre = double(im.data[std::size_t(14 * 37 + 18)]);
  double boxmean = 0.0;
  for (int y = 0; y < 25; ++y)
    for (int x = 0; x < 30; ++x) boxmean += double(im.data[std::size_t((y + 2) * 37 + x + 3)]);
  boxmean /= 750.0;
  EXPECT_NEAR(mean / double(box.data.size()), 0.0, 1e-5);
  EXPECT_NEAR(box.data[std::size_t(12 * 30 + 15)], centre - boxmean, 1e-5);
  const double w0 = 0.5 - 0.5 * std::cos(pi / 8.0);
  EXPECT_NEAR(box.data[0], (double(im.data[std::size_t(2 * 37 + 3)]) - boxmean) * w0 * w0, 1e-5);
}

// The helix of helixsim's pipeline tests, built in real space.
// Pixels of 2.5 A put layer line 9 at half the Nyquist height, where the Gaussian blobs'
// aliased terms are negligible.
const std::string helix = "model real\nrepeat 100\nradius 40\npixel 2.5\nbox 200 200\nrule 10 3 9 4\n";
constexpr int layer_lines = 9;

// helixsim (projection and analytic sides), helixft, sidesplit in folder `name` of d.
void make_particle(const TempDir& d, const std::string& name, const std::string& control) {
  std::filesystem::create_directory(d / name);
  auto r = run_in(d / name, job(program_path("helixsim"),
                                {"--projection", "p.map", "--near", "an.dat", "--far", "af.dat"}, control));
  ASSERT_EQ(r.status, 0) << r.err;
  r = run_in(d / name, job(program_path("helixft"), {"--image", "p.map", "--transform", "t.map"}));
  ASSERT_EQ(r.status, 0) << r.err << r.out;
  r = run_in(d / name, job(program_path("sidesplit"), {}, std::nullopt, {{"IN", "t.map"}}));
  ASSERT_EQ(r.status, 0) << r.err << r.out;
}

std::vector<layerline::Block> blocks_of(const std::filesystem::path& p) {
  records::LineSource src = records::LineSource::open_file(p.string());
  layerline::PointListReader reader(src, layerline::EndOfBlockRule::AllZero);
  std::vector<layerline::Block> out;
  while (auto b = reader.read_block()) out.push_back(*b);
  return out;
}

TEST(HelixftPipeline, SidesplitOfTheProjectionIsTheAnalyticTransform) {
  TempDir d;
  make_particle(d, "p", helix + "rotate 20\nshift 7\n");
  for (const auto& [sampled, analytic] : {std::pair{"near.dat", "an.dat"}, std::pair{"far.dat", "af.dat"}}) {
    const auto s = blocks_of(d / "p" / sampled), a = blocks_of(d / "p" / analytic);
    ASSERT_EQ(s.size(), std::size_t(layer_lines));
    ASSERT_EQ(a.size(), s.size());
    for (std::size_t b = 0; b < s.size(); ++b) {
      ASSERT_EQ(s[b].header.nn, a[b].header.nn);
      ASSERT_EQ(s[b].points.size(), a[b].points.size());
      float top = 0.0f;
      for (const auto& p : a[b].points) top = std::max(top, p.amp);
      // Where the amplitude is above a tenth of the layer line's maximum.
      double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0, worst = 0;
      int count = 0;
      for (std::size_t k = 0; k < s[b].points.size(); ++k) {
        const auto &x = s[b].points[k], &y = a[b].points[k];
        EXPECT_EQ(x.r, y.r);
        if (y.amp <= 0.1f * top || (s[b].header.nl == 0 && k == 0)) continue;
        ++count;
        sa += double(x.amp), sb += double(y.amp), saa += double(x.amp) * double(x.amp),
            sbb += double(y.amp) * double(y.amp), sab += double(x.amp) * double(y.amp);
        worst = std::max(worst, std::abs(std::remainder(double(x.phase) - double(y.phase), 360.0)));
      }
      ASSERT_GT(count, 3);
      const double corr = (sab - sa * sb / count) / std::sqrt((saa - sa * sa / count) * (sbb - sb * sb / count));
      EXPECT_GE(corr, 0.99) << sampled << " block " << b;
      EXPECT_LE(worst, 5.0) << sampled << " block " << b;
    }
  }
}

struct Found {
  double phi = 0.0, z = 0.0, residual = 0.0;
};

Found run_gridscan(const TempDir& d, const std::string& test, int ipole) {
  std::ostringstream ctl;
  ctl << layer_lines << " 0.01 0.002 0\n";
  for (int l = 0; l < layer_lines; ++l) ctl << " 1.0";
  ctl << "\nhelixft pipeline\n0 " << ipole << "\n";
  d.write("gridscan.ctl", ctl.str());
  std::filesystem::remove(d / "gridscan.txt");
  const auto r =
      run_in(d.path(), job(program_path("gridscan"), {"--control", "gridscan.ctl", "--reference", "ref/near.dat",
                                                      "--test", test, "--report", "gridscan.txt"}));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  std::istringstream rep(d.read("gridscan.txt"));
  std::string line;
  Found f;
  while (std::getline(rep, line)) {
    if (line.rfind("0PHASE MINIMUM", 0) != 0) continue;
    std::istringstream w(line);
    std::string a, b, c, e, g;
    w >> a >> b >> f.residual >> c >> e >> f.phi >> g >> f.z;
  }
  return f;
}

TEST(HelixftPipeline, GridscanRecoversTheMotionAndTellsThePolarity) {
  // gridscan compares one Bessel order a layer line: a thinner helix sampled out to
  // R = 0.028, where the rule's lowest orders still dominate.
  const std::string thin = "model real\nrepeat 100\nradius 25\npixel 2.5\nbox 200 200\nrule 10 3 9 4\nsamples 14\n";
  TempDir d;
  make_particle(d, "ref", thin);
  make_particle(d, "moved", thin + "rotate 7.5\nshift -12\nsnr 1 11\n");
  make_particle(d, "turned", thin + "rotate -6\nshift 20\npolarity opposite\n");
  // gridscan's last passes step by 0.5 degree and 0.5 A.
  const Found m = run_gridscan(d, "moved/near.dat", 0);
  EXPECT_NEAR(m.phi, 7.5, 0.5) << m.z;
  EXPECT_NEAR(m.z, -12.0, 0.5);
  const Found right = run_gridscan(d, "turned/near.dat", 1);
  EXPECT_NEAR(right.phi, -6.0, 0.5);
  EXPECT_NEAR(right.z, 20.0, 0.5);
  // Without a two-fold axis across the helix the wrong polarity fits clearly worse.
  const Found wrong = run_gridscan(d, "turned/near.dat", 0);
  EXPECT_GT(wrong.residual, 5.0 * right.residual + 5.0) << wrong.residual << " " << right.residual;
  const Found wrong_moved = run_gridscan(d, "moved/near.dat", 1);
  EXPECT_GT(wrong_moved.residual, 1.5 * m.residual + 5.0) << wrong_moved.residual << " " << m.residual;
}

TEST(HelixftProgram, RefusesWhatItCannotUse) {
  TempDir d;
  ASSERT_EQ(run_in(d.path(), job(program_path("helixsim"), {"--projection", "p.map"}, helix)).status, 0);
  auto ft = [&](std::vector<std::string> args) { return run_in(d.path(), job(program_path("helixft"), args)); };
  auto r = ft({"--image", "none.map"});
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "helixft: none.map: cannot open: no such file\n");
  r = ft({});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(contains(r.err, "no --image FILE"));
  r = ft({"--image", "p.map", "--axis", "200"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(contains(r.err, "lies outside the box's columns 0 to 199")) << r.err;
  r = ft({"--image", "p.map", "--size", "64"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(contains(r.err, "smaller than the box's 200 x 200")) << r.err;
  r = ft({"--image", "p.map", "--size", "101"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(contains(r.err, "N must be even")) << r.err;
  r = ft({"--image", "p.map", "--box", "150,0,60,100"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(contains(r.err, "reaches beyond the 200 x 200 image")) << r.err;
  r = ft({"--image", "p.map", "--size", "4000"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(contains(r.err, "sidesplit holds at most")) << r.err;
  // A complex map (its own transform) is refused, and an existing output is left alone.
  ASSERT_EQ(ft({"--image", "p.map", "--transform", "t.map", "--repeat", "100"}).status, 0);
  r = ft({"--image", "t.map", "--transform", "t2.map"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(contains(r.err, "t.map: data mode 4 is complex")) << r.err;
  EXPECT_FALSE(d.exists("t2.map"));
  const std::string before = d.read("t.map");
  r = ft({"--image", "p.map", "--transform", "t.map"});
  EXPECT_EQ(r.status, 2);
  EXPECT_TRUE(contains(r.err, "exists already"));
  EXPECT_EQ(d.read("t.map"), before);
  // The same run gives the same bytes.
  ASSERT_EQ(ft({"--image", "p.map", "--transform", "t3.map", "--repeat", "100"}).status, 0);
  EXPECT_EQ(d.read("t3.map"), before);
}

}  // namespace
