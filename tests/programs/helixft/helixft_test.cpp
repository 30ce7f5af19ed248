// helixft on helixsim's real-space particles: sidesplit samples of its transform equal the
// analytic layer lines, the transform inverts back to the prepared image, gridscan recovers a
// known motion and tells the polarity, and bad input is refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <complex>
#include <filesystem>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "adapters/fft.hpp"
#include "imagefile/imageio.hpp"
#include "layerline/pointlist.hpp"
#include "records/source.hpp"
#include "runprog.hpp"

using namespace testsupport;

namespace {

constexpr double pi = 3.14159265358979323846;

// A run of the suite's program prog.
RunSpec job(const std::string& prog, std::vector<std::string> args, std::optional<std::string> in = std::nullopt,
            std::vector<std::pair<std::string, std::string>> env = {}) {
  return run_spec(program_path(prog), std::move(args), std::move(in), std::move(env));
}

// The polar particle: 10 subunits in 3 turns of 100 A, 2.5 A pixels, 200 x 200 (5 rows per 1/c).
const std::string polar = "model real\nrepeat 100\nradius 40\npixel 2.5\nbox 200 200\nrule 10 3 9 4\n";
constexpr int layer_lines = 9;

// helixsim (projection and analytic sides), helixft and sidesplit in folder `name` of d.
void make_particle(const TempDir& d, const std::string& name, const std::string& control) {
  std::filesystem::create_directory(d / name);
  const auto sim = run_in(
      d / name, job("helixsim", {"--projection", "proj.map", "--near", "an_near.dat", "--far", "an_far.dat"}, control));
  ASSERT_EQ(sim.status, 0) << sim.err;
  const auto ft = run_in(d / name, job("helixft", {"--image", "proj.map", "--transform", "ft.map", "--repeat", "100"}));
  ASSERT_EQ(ft.status, 0) << ft.err;
  EXPECT_TRUE(contains(ft.out, "5.0000 rows per 1/c")) << ft.out;
  const auto split = run_in(d / name, job("sidesplit", {}, std::nullopt, {{"IN", "ft.map"}}));
  ASSERT_EQ(split.status, 0) << split.err;
}

std::map<int, layerline::Block> blocks_of(const std::filesystem::path& file) {
  records::LineSource src = records::LineSource::open_file(file.string());
  layerline::PointListReader reader(src, layerline::EndOfBlockRule::AllZero);
  std::map<int, layerline::Block> out;
  while (auto b = reader.read_block()) out[b->header.nl] = *b;
  return out;
}

TEST(HelixftPipeline, SidesplitSamplesAreTheAnalyticLayerLines) {
  TempDir d;
  make_particle(d, "p", polar + "rotate 17\nshift 9\n");
  for (const char* side : {"near", "far"}) {
    const auto want = blocks_of(d / "p" / (std::string("an_") + side + ".dat"));
    const auto got = blocks_of(d / "p" / (std::string(side) + ".dat"));
    ASSERT_EQ(want.size(), std::size_t(layer_lines));
    ASSERT_EQ(got.size(), want.size());
    for (const auto& [l, w] : want) {
      const auto& g = got.at(l);
      ASSERT_EQ(g.header.nn, w.header.nn);
      ASSERT_EQ(g.points.size(), w.points.size());
      float top = 0.0f;
      for (const auto& pt : w.points) top = std::max(top, pt.amp);
      // Amplitude correlation and phase differences where the amplitude passes 10% of the top.
      double sa = 0, sb = 0, sab = 0, saa = 0, sbb = 0, n = 0, worst_phase = 0;
      for (std::size_t k = 0; k < w.points.size(); ++k) {
        const auto& a = w.points[k];
        const auto& b = g.points[k];
        EXPECT_NEAR(a.r, b.r, 1e-6);
        if (a.amp <= 0.1f * top) continue;
        const double x = a.amp, y = b.amp;
        sa += x, sb += y, sab += x * y, saa += x * x, sbb += y * y, n += 1;
        worst_phase = std::max(worst_phase, std::abs(std::remainder(double(a.phase) - double(b.phase), 360.0)));
        // On the same scale: no factor between them.
        EXPECT_NEAR(y, x, 0.01 * x) << side << " l " << l << " k " << k;
      }
      ASSERT_GT(n, 5) << l;
      const double corr = (sab - sa * sb / n) / std::sqrt((saa - sa * sa / n) * (sbb - sb * sb / n));
      EXPECT_GE(corr, 0.99) << side << " l " << l;
      EXPECT_LE(worst_phase, 5.0) << side << " l " << l;
    }
  }
}

// A real image of a file through the image library: nx, ny and the values.
struct Image {
  int nx = 0, ny = 0, mode = 0;
  std::vector<float> v;
};
Image read_image(const std::filesystem::path& file) {
  imagefile::imopen(3, file.string(), "RO");
  imagefile::Int3 n{}, m{};
  Image im;
  float a, b, c;
  imagefile::irdhdr(3, n, m, im.mode, a, b, c);
  im.nx = n[0], im.ny = n[1];
  im.v.assign(std::size_t(n[0]) * std::size_t(n[1]) * (im.mode == 4 ? 2 : 1), 0.0f);
  EXPECT_TRUE(imagefile::irdsec(3, im.v));
  imagefile::imclose(3);
  return im;
}

TEST(HelixftTransform, InvertsToTheFloatedPaddedImage) {
  TempDir d;
  ASSERT_EQ(run_in(d.path(), job("helixsim", {"--projection", "proj.map"}, polar)).status, 0);
  const Image proj = read_image(d / "proj.map");
  // A box off the centre, the axis not in its middle, padded to 256 x 216.
  const int x0 = 30, y0 = 10, w = 150, h = 170, ax = 95, nx = 256, ny = 216;
  for (int taper : {0, 12}) {
    const std::string out = "ft" + std::to_string(taper) + ".map";
    const auto r = run_in(
        d.path(), job("helixft", {"--image", "proj.map", "--transform", out, "--axis", std::to_string(ax), "--box",
                                  "30", "10", "150", "170", "--size", "256", "216", "--taper", std::to_string(taper)}));
    ASSERT_EQ(r.status, 0) << r.err;
    const Image t = read_image(d / out);
    ASSERT_EQ(t.mode, 4);
    ASSERT_EQ(t.nx, nx / 2 + 1);
    ASSERT_EQ(t.ny, ny);
    // Undo the origin and the row order, then the suite's inverse transform.
    const int nh = nx / 2 + 1;
    std::vector<float> work(std::size_t(nx + 2) * ny, 0.0f);
    for (int row = 0; row < ny; ++row) {
      const int k = row - ny / 2;
      const int stored = (k + ny) % ny;
      for (int hh = 0; hh < nh; ++hh) {
        std::complex<double> v(t.v[2 * (std::size_t(row) * nh + hh)], t.v[2 * (std::size_t(row) * nh + hh) + 1]);
        v *= std::polar(1.0, -2.0 * pi * (double(hh) * (ax - x0) / nx + double(k) * (h / 2) / ny));
        work[2 * (std::size_t(stored) * nh + hh)] = float(v.real());
        work[2 * (std::size_t(stored) * nh + hh) + 1] = float(v.imag());
      }
    }
    adapters::todfft(work.data(), nx, ny, 1);
    double mean = 0.0, top = 0.0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) mean += double(proj.v[std::size_t(y0 + y) * proj.nx + x0 + x]);
    mean /= double(w) * h;
    double worst = 0.0;
    for (int y = 0; y < ny; ++y)
      for (int x = 0; x < nx; ++x) {
        const double got = work[std::size_t(y) * (nx + 2) + x];
        const bool inside = x < w && y < h;
        const bool away = x >= taper && x < w - taper && y >= taper && y < h - taper;
        if (inside && !away) {
          // In the tapered rim the floated value is scaled down, never up, never turned over.
          const double f = double(proj.v[std::size_t(y0 + y) * proj.nx + x0 + x]) - mean;
          EXPECT_LE(std::abs(got), std::abs(f) + 1e-3 * std::abs(mean));
          EXPECT_GE(got * f, -1e-6 * mean * mean);
          continue;
        }
        const double want = inside ? double(proj.v[std::size_t(y0 + y) * proj.nx + x0 + x]) - mean : 0.0;
        top = std::max(top, std::abs(want));
        worst = std::max(worst, std::abs(got - want));
      }
    EXPECT_LT(worst, 2e-6 * (top + std::abs(mean))) << "taper " << taper;
  }
}

struct Found {
  double phi = 0.0, z = 0.0, residual = 0.0;
};

Found run_gridscan(const TempDir& d, const std::string& test_file, int ipole) {
  std::ostringstream ctl;
  ctl << 5 << " 0.01 0.002 0\n";
  for (int l = 0; l < 5; ++l) ctl << " 1.0";
  ctl << "\nhelixft pipeline\n0 " << ipole << "\n";
  d.write("gridscan.ctl", ctl.str());
  std::filesystem::remove(d / "gridscan.txt");
  const auto r = run_in(d.path(), job("gridscan", {"--control", "gridscan.ctl", "--reference", "ref/near.dat", "--test",
                                                   test_file, "--report", "gridscan.txt"}));
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  std::istringstream rep(d.read("gridscan.txt"));
  std::string line;
  Found f;
  while (std::getline(rep, line)) {
    if (line.rfind("0PHASE MINIMUM", 0) != 0) continue;
    std::istringstream w(line);
    std::string a, b, c, e, g, hh;
    w >> a >> b >> f.residual >> c >> e >> f.phi >> g >> f.z;
  }
  return f;
}

// For the search a thinner helix of 20 subunits in 7 turns, its layer lines 0, 1, 6, 7, 8
// (orders 0, -3, 2, -1, -4) sampled to R = 0.06 only, where the next orders (16 and more)
// are still negligible, so that one Bessel order dominates every layer line.
const std::string thin = "model real\nrepeat 100\nradius 25\npixel 2.5\nbox 200 200\nrule 20 7 9 4\nsamples 30\n";

TEST(HelixftPipeline, GridscanFindsTheMotionAndThePolarity) {
  TempDir d;
  const std::string& particle = thin;
  make_particle(d, "ref", particle);
  // Rotated, shifted and noisy (noise of 0.3 times the projection's standard deviation).
  make_particle(d, "moved", particle + "rotate 7.5\nshift -12\nnoise 0.3 7\n");
  const Found f = run_gridscan(d, "moved/near.dat", 0);
  EXPECT_NEAR(f.phi, 7.5, 0.5);
  EXPECT_NEAR(f.z, -12.0, 0.5);
  // Turned over: found with the polarity switch, clearly worse without it.
  make_particle(d, "turned", particle + "rotate -6\nshift 20\npolarity opposite\n");
  const Found right = run_gridscan(d, "turned/near.dat", 1);
  const Found wrong = run_gridscan(d, "turned/near.dat", 0);
  EXPECT_NEAR(right.phi, -6.0, 0.5);
  EXPECT_NEAR(right.z, 20.0, 0.5);
  EXPECT_LT(right.residual, 0.5);
  EXPECT_GT(wrong.residual, 10.0 * right.residual + 2.0);
}

// Sections of equal size written as one stack (mode 2).
void write_stack(const std::filesystem::path& file, const std::vector<Image>& sections) {
  imagefile::imopen(4, file.string(), "NEW");
  const int nz = int(sections.size());
  imagefile::icrhdr(4, {sections[0].nx, sections[0].ny, nz}, {sections[0].nx, sections[0].ny, nz}, 2, {}, 0);
  imagefile::ialcel(4, {2.5f * float(sections[0].nx), 2.5f * float(sections[0].ny), 2.5f * float(nz), 90, 90, 90});
  imagefile::iwrhdr(4, "stack", 0, 0.0f, 1.0f, 0.5f);
  for (const Image& im : sections) imagefile::iwrsec(4, im.v);
  imagefile::imclose(4);
}

// |<a, b>| / (|a| |b|) of two complex images.
double complex_correlation(const Image& a, const Image& b) {
  std::complex<double> ab = 0;
  double aa = 0, bb = 0;
  for (std::size_t i = 0; i + 1 < a.v.size(); i += 2) {
    const std::complex<double> x(a.v[i], a.v[i + 1]), y(b.v[i], b.v[i + 1]);
    ab += std::conj(x) * y, aa += std::norm(x), bb += std::norm(y);
  }
  return std::abs(ab) / std::sqrt(aa * bb);
}

TEST(HelixftInplane, TurnedAndMovedSegmentsOfAStackComeBackVertical) {
  // The small polar particle: 64 x 80 pixels of 2.5 A, two repeats.
  const std::string small = "model real\nrepeat 100\nradius 40\npixel 2.5\nbox 64 80\nrule 10 3 9 4\n";
  TempDir d;
  auto sim = [&](const std::string& name, const std::string& extra) {
    std::filesystem::create_directory(d / name);
    ASSERT_EQ(run_in(d / name, job("helixsim", {"--projection", "proj.map"}, small + extra)).status, 0);
  };
  auto transform = [&](const std::string& name, std::vector<std::string> extra) {
    std::vector<std::string> args{"--image", "stack.map", "--transform", name + ".map", "--taper", "4"};
    args.insert(args.end(), extra.begin(), extra.end());
    const auto r = run_in(d.path(), job("helixft", args));
    EXPECT_EQ(r.status, 0) << r.err;
    return read_image(d / (name + ".map"));
  };
  // Section 0 vertical; the others turned by psi and moved by (dx, dy) as extracted segments are.
  struct Turn {
    const char *psi, *dx, *dy, *minus_psi, *minus_dx, *minus_dy;
  };
  const std::vector<Turn> turns = {{"0", "0", "0", "0", "0", "0"},
                                   {"30", "5", "-7.5", "-30", "-5", "7.5"},
                                   {"-72.5", "-3.2", "1.7", "72.5", "3.2", "-1.7"},
                                   {"180", "0", "4", "-180", "0", "-4"}};
  std::vector<Image> sections;
  for (std::size_t k = 0; k < turns.size(); ++k) {
    const Turn& t = turns[k];
    sim("s" + std::to_string(k), std::string("inplane ") + t.psi + " " + t.dx + " " + t.dy + "\n");
    sections.push_back(read_image(d / ("s" + std::to_string(k)) / "proj.map"));
  }
  write_stack(d / "stack.map", sections);

  const Image vertical = transform("v", {"--section", "0"});
  // Turning by 0 and moving by 0 resamples every pixel onto itself: the same transform, bit for bit.
  EXPECT_EQ(transform("v0", {"--section", "0", "--rotate", "0", "--shift", "0", "0"}).v, vertical.v);
  for (std::size_t k = 1; k < turns.size(); ++k) {
    const Turn& t = turns[k];
    const std::string sec = std::to_string(k);
    const Image back =
        transform("b" + sec, {"--section", sec, "--shift", t.minus_dx, t.minus_dy, "--rotate", t.minus_psi});
    // Up to what the corners of a turned box lose.
    const double c = complex_correlation(vertical, back);
    EXPECT_GT(c, 0.9) << "section " << k;
    // The turn alone, or the move the wrong way, comes back clearly worse.
    const Image unmoved = transform("u" + sec, {"--section", sec, "--rotate", t.minus_psi});
    const Image wrong = transform("w" + sec, {"--section", sec, "--shift", t.dx, t.dy, "--rotate", t.minus_psi});
    EXPECT_LT(complex_correlation(vertical, wrong), c - 0.05) << "section " << k;
    if (std::string(t.dx) != "0" || std::string(t.dy) != "0") {
      EXPECT_LT(complex_correlation(vertical, unmoved), c - 0.05) << "section " << k;
    }
    std::cout << "section " << k << ": correlation " << c << ", turned only " << complex_correlation(vertical, unmoved)
              << ", moved the wrong way " << complex_correlation(vertical, wrong) << "\n";
  }
  // A stack needs its section, which must exist.
  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{}, "4 sections: helixft transforms one image (--section K)"},
           {{"--section", "4"}, "stack.map: has no section 4: it holds 4 (from 0)"},
           {{"--section", "0", "--rotate", "ten"}, "--rotate takes an angle in degrees"},
           {{"--section", "0", "--shift", "1"}, "--shift takes two distances"}}) {
    std::vector<std::string> all{"--image", "stack.map", "--transform", "t.map"};
    all.insert(all.end(), args.begin(), args.end());
    const auto r = run_in(d.path(), job("helixft", all));
    EXPECT_EQ(r.status, 2) << message;
    EXPECT_TRUE(contains(r.err, message)) << r.err;
    EXPECT_FALSE(d.exists("t.map"));
  }
}

TEST(HelixftProgram, TransformsA1024SquareImageQuickly) {
  // A 1024 x 1024 particle image, the whole program, median of 5 runs.
#if !defined(__OPTIMIZE__) || defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "timing is checked in an optimised build without sanitizers";
#endif
  TempDir d;
  const std::string big = "model real\nrepeat 128\nradius 40\npixel 2.5\nbox 1024 1024\nrule 10 3 9 4\nnoise 0.5 7\n";
  ASSERT_EQ(run_in(d.path(), job("helixsim", {"--projection", "big.map"}, big)).status, 0);
  std::vector<double> cpu, user, wall;
  for (int run = 0; run < 5; ++run) {
    std::filesystem::remove(d / "ft.map");
    const double cpu0 = children_cpu_seconds(), user0 = children_user_seconds();
    const auto start = std::chrono::steady_clock::now();
    const auto r = run_in(d.path(), job("helixft", {"--image", "big.map", "--transform", "ft.map", "--taper", "8"}));
    wall.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    cpu.push_back(children_cpu_seconds() - cpu0);
    user.push_back(children_user_seconds() - user0);
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_TRUE(contains(r.out, "padded to 1024 x 1024")) << r.out;
  }
  std::sort(cpu.begin(), cpu.end());
  std::sort(user.begin(), user.end());
  std::sort(wall.begin(), wall.end());
  std::cout << "helixft, 1024 x 1024: median " << cpu[2] * 1e3 << " ms processor time (" << user[2] * 1e3
            << " ms in user mode), " << wall[2] * 1e3 << " ms wall\n";
  // The bound is on the program's own computing: the kernel's share of a fresh process (its
  // page faults, 8 MB of file) differs between machines by more than the whole computation.
  EXPECT_LT(user[2], 0.050);
}

// The transform of a real image as the suite's forward transform gives it: nx/2 + 1 complex
// values a row, row k of frequency k (k above ny/2 the negative ones).
std::vector<std::complex<double>> spectrum_of(const Image& im) {
  const std::size_t slot = std::size_t(im.nx) + 2, nh = std::size_t(im.nx) / 2 + 1;
  std::vector<float> w(slot * std::size_t(im.ny), 0.0f);
  for (int y = 0; y < im.ny; ++y)
    for (int x = 0; x < im.nx; ++x) w[std::size_t(y) * slot + std::size_t(x)] = im.v[std::size_t(y * im.nx + x)];
  adapters::todfft(w.data(), im.nx, im.ny, 0);
  std::vector<std::complex<double>> out(nh * std::size_t(im.ny));
  for (std::size_t j = 0; j < out.size(); ++j) out[j] = {double(w[2 * j]), double(w[2 * j + 1])};
  return out;
}

TEST(HelixftCtf, ThonRingsAndPhaseFlipping) {
  // 300 kV, Cs 2.7 mm, 7 percent amplitude contrast, 2.1 and 1.9 micrometres of underfocus
  // along and across an axis at 30 degrees from the image's x axis (columns; y along rows).
  TempDir d;
  const std::string ctf = "ctf 300 2.7 0.07 21000 19000 30\n";
  std::filesystem::create_directory(d / "a");
  ASSERT_EQ(run_in(d / "a", job("helixsim", {"--projection", "../plain.map"}, polar)).status, 0);
  const auto sim = run_in(d.path(), job("helixsim", {"--projection", "imaged.map"}, polar + ctf));
  ASSERT_EQ(sim.status, 0) << sim.err;
  const Image plain = read_image(d / "plain.map"), imaged = read_image(d / "imaged.map");
  const auto fp = spectrum_of(plain), fi = spectrum_of(imaged);

  // Where chi = pi lambda dF(theta) s^2 - pi/2 Cs lambda^3 s^4 equals k pi - asin(A) the CTF
  // -(sqrt(1 - A^2) sin chi + A cos chi) = -sin(chi + asin A) is zero; half-way, at
  // k pi + pi/2 - asin(A), it is +-1. lambda = 0.019687 A at 300 kV; dF(theta) = 20000 +
  // 1000 cos 2(theta - 30 degrees).
  const double lam = 0.0196875, cs = 2.7e7, a = 0.07;
  auto chi = [&](double sx, double sy) {
    const double s2 = sx * sx + sy * sy, df = 20000.0 + 1000.0 * std::cos(2.0 * (std::atan2(sy, sx) - pi / 6.0));
    return pi * lam * df * s2 - 0.5 * pi * cs * lam * lam * lam * s2 * s2;
  };
  const double off = std::asin(a);
  double zero_power = 0, zero_plain = 0, peak_power = 0, peak_plain = 0;
  int zero_pixels = 0;
  const int nh = plain.nx / 2 + 1;
  for (int k = 0; k < plain.ny; ++k)
    for (int h = 0; h < nh; ++h) {
      const double sx = h / (plain.nx * 2.5), sy = (k <= plain.ny / 2 ? k : k - plain.ny) / (plain.ny * 2.5);
      const double s = std::hypot(sx, sy);
      if (s > 0.12 || s == 0.0) continue;
      const double c = chi(sx, sy) + off;  // a zero where c is a whole number of pi
      const double from_zero = std::abs(std::remainder(c, pi)), from_peak = std::abs(std::remainder(c - pi / 2, pi));
      const std::size_t j = std::size_t(k) * std::size_t(nh) + std::size_t(h);
      if (from_zero < 0.03) {
        zero_power += std::norm(fi[j]), zero_plain += std::norm(fp[j]), ++zero_pixels;
      } else if (from_peak < 0.1) {
        peak_power += std::norm(fi[j]), peak_plain += std::norm(fp[j]);
      }
    }
  // The image's power spectrum vanishes on the Thon rings the formula predicts and keeps the
  // particle's power half-way between them.
  ASSERT_GT(zero_pixels, 50);
  EXPECT_LT(zero_power, 0.002 * zero_plain);
  EXPECT_GT(peak_power, 0.95 * peak_plain);

  // Phase flipping: the flipped transform of the image agrees in phase with the transform of
  // the particle itself at every frequency (|CTF| times it); unflipped, the low resolutions
  // are inverted. With --inverted every value changes sign.
  auto ft = [&](const std::string& in, const std::string& out, std::vector<std::string> extra) {
    std::vector<std::string> args{"--image", in, "--transform", out};
    args.insert(args.end(), extra.begin(), extra.end());
    const auto r = run_in(d.path(), job("helixft", args));
    EXPECT_EQ(r.status, 0) << r.err;
    return read_image(d / out);
  };
  const std::vector<std::string> values{"--ctf", "300", "2.7", "0.07", "21000", "19000", "30"};
  const Image tp = ft("plain.map", "tp.map", {}), tf = ft("imaged.map", "tf.map", values),
              tu = ft("imaged.map", "tu.map", {});
  std::vector<std::string> inv = values;
  inv.push_back("--inverted");
  const Image tn = ft("imaged.map", "tn.map", inv);
  auto agreement = [&](const Image& t) {
    double dot = 0, mag = 0;
    for (std::size_t j = 0; j + 1 < t.v.size(); j += 2) {
      const std::complex<double> x(t.v[j], t.v[j + 1]), y(tp.v[j], tp.v[j + 1]);
      dot += (x * std::conj(y)).real(), mag += std::abs(x) * std::abs(y);
    }
    return dot / mag;
  };
  EXPECT_GT(agreement(tf), 0.999);
  EXPECT_LT(agreement(tu), 0.0);
  ASSERT_EQ(tn.v.size(), tf.v.size());
  for (std::size_t j = 0; j < tf.v.size(); ++j) ASSERT_EQ(tn.v[j], -tf.v[j]) << j;
}

TEST(HelixftBadInput, RefusedWithAMessageAndNothingWritten) {
  TempDir d;
  ASSERT_EQ(run_in(d.path(), job("helixsim", {"--projection", "proj.map"}, polar)).status, 0);
  {
    // The same image cut short: its header announces 200 x 200 values the file does not hold.
    std::string bytes = d.read("proj.map");
    d.write("short.map", bytes.substr(0, bytes.size() - 4));
  }
  struct Case {
    std::vector<std::string> args;
    const char* message;
  };
  const std::vector<Case> cases = {
      {{"--image", "none.map", "--transform", "t.map"}, "none.map: does not exist"},
      {{"--image", "transform.map", "--transform", "t.map"}, "holds complex values"},
      {{"--image", "proj.map", "--transform", "t.map", "--axis", "200"}, "lies outside the 200 columns"},
      {{"--image", "proj.map", "--transform", "t.map", "--box", "100", "0", "120", "50"},
       "does not fit in the 200 x 200"},
      {{"--image", "proj.map", "--transform", "t.map", "--box", "0", "0", "50", "50", "--axis", "60"},
       "lies outside the box"},
      {{"--image", "proj.map", "--transform", "t.map", "--size", "128", "256"}, "smaller than the box"},
      {{"--image", "proj.map", "--transform", "t.map", "--size", "255", "256"}, "NX even"},
      {{"--image", "proj.map", "--transform", "t.map", "--box", "0", "0", "50"}, "--box takes four whole numbers"},
      {{"--image", "proj.map", "--transform", "proj.map"}, "exists already"},
      {{"--image", "proj.map"}, "--transform names"},
      {{"--image", "proj.map", "--transform", "t.map", "--ctf", "0", "2.7", "0.07", "1e4", "1e4", "0"},
       "--ctf: the voltage must be above 0 kV"},
      {{"--image", "proj.map", "--transform", "t.map", "--ctf", "300", "2.7", "0.07", "1e4", "-1", "0"},
       "--ctf: defocus V must not be negative"},
      {{"--image", "proj.map", "--transform", "t.map", "--ctf", "300", "2.7", "0.07", "1e4", "1e4", "x"},
       "--ctf: the astigmatism angle"},
      {{"--image", "proj.map", "--transform", "t.map", "--ctf", "300", "2.7", "0.07"}, "--ctf takes the voltage"},
      {{"--image", "proj.map", "--transform", "t.map", "--inverted"}, "it goes with --ctf"},
      {{"--image", "short.map", "--transform", "t.map"},
       "short.map: the file holds 161020 bytes, its header announces 161024"},
  };
  for (const Case& c : cases) {
    const auto r = run_in(d.path(), job("helixft", c.args));
    EXPECT_EQ(r.status, 2) << c.message;
    EXPECT_TRUE(contains(r.err, c.message)) << r.err;
    EXPECT_FALSE(d.exists("t.map")) << c.message;
  }
}

}  // namespace
