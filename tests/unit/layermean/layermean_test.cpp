// The averaging of layermean on the values of helixsim's Fourier-space model (no file
// rounding), the whole-buffer point-list reader against the streaming one, and the table.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <sstream>

#include "ctf/ctf.hpp"
#include "helixsim/helixsim.hpp"
#include "layerline/pointlist.hpp"
#include "layermean/average.hpp"
#include "layermean/table.hpp"
#include "records/error.hpp"
#include "records/forms.hpp"
#include "records/numbers.hpp"
#include "records/source.hpp"

namespace {

constexpr double pi = 3.14159265358979323846;

helixsim::Particle particle(double phi0, double z0, double scale) {
  helixsim::Particle p;
  p.repeat = 100.0f;
  p.radius = 40.0f;
  p.lines = helixsim::rule_layer_lines(10, 3, 9, 4);
  p.phi0 = static_cast<float>(phi0);
  p.z0 = static_cast<float>(z0);
  p.scale = static_cast<float>(scale);
  return p;
}

// The blocks sidesplit would write for one side, at R = k*delr, k = 1..m, with exact values:
// near holds the negative-R half when n >= 0.
std::vector<layerline::Block> side_blocks(const helixsim::Particle& p, bool far, float delr, int m) {
  std::vector<layerline::Block> out;
  for (const helixsim::LayerLine& ll : p.lines) {
    layerline::Block b;
    b.header.nn = ll.n;
    b.header.nl = ll.l;
    b.header.scale = 1.0f;
    const bool negative = (ll.n >= 0) != far;
    for (int k = 1; k <= m; ++k) {
      const float r = static_cast<float>(k) * delr;
      const std::complex<double> v = helixsim::layer_value(p, ll, negative ? -double(r) : double(r));
      b.points.push_back({r, static_cast<float>(std::abs(v)), static_cast<float>(std::arg(v) * 180.0 / pi)});
    }
    out.push_back(std::move(b));
  }
  return out;
}

struct Worst {
  double phase = 0.0, amp = 0.0;
};

// Largest phase and relative amplitude errors of `mean` against the unmoved particle's near
// side where its amplitude is above 1% of the largest.
Worst compare(const layermean::Averager& avg, const std::vector<std::complex<float>>& mean,
              const std::vector<layerline::Block>& truth) {
  double amax = 0.0;
  for (const auto& b : truth)
    for (const auto& pt : b.points) amax = std::max(amax, double(pt.amp));
  Worst w;
  for (std::size_t k = 0; k < truth.size(); ++k) {
    const layermean::LayerLineGrid& g = avg.grid()[k];
    for (std::size_t j = 0; j < g.r.size(); ++j) {
      const layerline::Point& t = truth[k].points[j];
      if (double(t.amp) <= 0.01 * amax) continue;
      const std::complex<float> m = mean[g.offset + j];
      EXPECT_FALSE(std::isnan(m.real())) << k << " " << j;
      const std::complex<double> want = std::polar(double(t.amp), double(t.phase) * pi / 180.0);
      w.phase = std::max(w.phase, std::abs(layermean::phase_difference(std::complex<double>(m), want)));
      w.amp = std::max(w.amp, std::abs(double(std::abs(m)) / double(t.amp) - 1.0));
    }
  }
  return w;
}

TEST(LayermeanAverage, MovedParticlesComeBackToTheUnmovedOne) {
  std::mt19937 gen(18);
  std::uniform_real_distribution<double> phi(-90.0, 90.0), z(-80.0, 80.0), scale(0.97, 1.03);
  const float delr = 0.002f;
  const std::vector<layerline::Block> truth = side_blocks(particle(0, 0, 1), false, delr, 49);
  // At scale 1, from either side: the samples fall on the grid, so only the phase changes act.
  for (bool far : {false, true}) {
    layermean::Averager avg(100.0f, 0.0f);
    avg.add("first", side_blocks(particle(0, 0, 1), far, delr, 49), {0, 0, 1, far, 1, 1});
    for (int i = 0; i < 7; ++i) {
      const double f = phi(gen), s = z(gen);
      avg.add("p", side_blocks(particle(f, s, 1), far, delr, 49),
              {float(f), float(s), 1.0f, far, 1.0f + float(i % 3), 1 + i % 2});
    }
    const Worst w = compare(avg, layermean::mean_of(avg.sums()), truth);
    EXPECT_LT(w.phase, 0.05) << (far ? "far" : "near");
    EXPECT_LT(w.amp, 0.001) << (far ? "far" : "near");
    for (const auto& c : avg.contributions()) EXPECT_NEAR(c.scale, 1.0f, 1e-5f);
    // Both halves agree with the whole.
    EXPECT_LT(compare(avg, layermean::mean_of(avg.half_sums(2)), truth).phase, 0.05);
  }
  // Scales away from 1: a sample at R stands for the reference at s*R, so the values are
  // interpolated; with samples four times finer than the grid the linear interpolation error
  // stays below 0.5 degree and 1% (the data set of scale 1 comes first and sets the scale).
  layermean::Averager avg(100.0f, delr);
  avg.add("first", side_blocks(particle(0, 0, 1), false, delr / 4, 200), {0, 0, 1, false, 1, 1});
  for (int i = 0; i < 7; ++i) {
    const double f = phi(gen), s = z(gen), sc = scale(gen);
    avg.add("p", side_blocks(particle(f, s, sc), i % 2 == 1, delr / 4, 200),
            {float(f), float(s), float(sc), i % 2 == 1, 1, 1});
  }
  ASSERT_EQ(avg.grid()[0].r.size(), 50u);  // k*delr, k = 1..50, within the first data set's radii
  const Worst w = compare(avg, layermean::mean_of(avg.sums()), truth);
  EXPECT_LT(w.phase, 0.5);
  EXPECT_LT(w.amp, 0.01);
}

TEST(LayermeanAverage, CtfWeightsRestoreTheAmplitudes) {
  // Four phase-flipped images of the unmoved particle, noise-free, at different defoci (two
  // astigmatic): each sample holds |CTF| times the particle's value, the CTF taken at the
  // sample's frequency in its image, X the signed radius sidesplit sampled and Z = l/c.
  const float delr = 0.002f;
  const int m = 49;
  const std::vector<layerline::Block> truth = side_blocks(particle(0, 0, 1), false, delr, m);
  const float defoci[4][3] = {{12000, 11500, 20}, {17000, 17000, 0}, {22000, 21000, -60}, {27000, 27000, 0}};
  for (bool far : {false, true}) {
    layermean::Averager wiener(100.0f, 0.0f, 1e-4f), plain(100.0f, 0.0f);
    std::vector<double> power(truth.size() * std::size_t(m), 0.0);  // sum of CTF^2 a sample
    for (int i = 0; i < 4; ++i) {
      ctf::Params c;
      c.voltage = 300.0f, c.cs = 2.7f, c.amplitude_contrast = 0.07f;
      c.defocus_u = defoci[i][0], c.defocus_v = defoci[i][1], c.angle = defoci[i][2];
      const ctf::Ctf f(c);
      std::vector<layerline::Block> b = side_blocks(particle(0, 0, 1), far, delr, m);
      for (std::size_t k = 0; k < b.size(); ++k) {
        const bool negative = (b[k].header.nn >= 0) != far;
        for (std::size_t j = 0; j < b[k].points.size(); ++j) {
          const double r = double(b[k].points[j].r);
          const double v = f.value(negative ? -r : r, double(b[k].header.nl) / 100.0);
          b[k].points[j].amp *= static_cast<float>(std::abs(v));
          power[k * std::size_t(m) + j] += v * v;
        }
      }
      layermean::Placement p{0.0f, 0.0f, 1.0f, far, 1.0f, 1 + i % 2};
      plain.add("p", b, p);
      p.has_ctf = true;
      p.ctf = c;
      wiener.add("p", b, p);
    }
    // Where the images together carry the sample (sum CTF^2 above 0.05, 500 times the
    // constant), the Wiener mean is the particle; the plain mean is damped by the mean |CTF|.
    const std::vector<std::complex<float>> mw = layermean::mean_of(wiener.sums(), wiener.wiener()),
                                           mp = layermean::mean_of(plain.sums());
    double amax = 0.0;
    for (const auto& b : truth)
      for (const auto& pt : b.points) amax = std::max(amax, double(pt.amp));
    double worst_amp = 0.0, worst_phase = 0.0, plain_ratio = 0.0;
    int n = 0;
    for (std::size_t k = 0; k < truth.size(); ++k)
      for (std::size_t j = 0; j < std::size_t(m); ++j) {
        const layerline::Point& t = truth[k].points[j];
        if (double(t.amp) <= 0.01 * amax || power[k * std::size_t(m) + j] < 0.05) continue;
        const std::size_t at = wiener.grid()[k].offset + j;
        const std::complex<double> want = std::polar(double(t.amp), double(t.phase) * pi / 180.0);
        worst_amp = std::max(worst_amp, std::abs(std::abs(double(std::abs(mw[at]))) / double(t.amp) - 1.0));
        worst_phase = std::max(worst_phase, std::abs(layermean::phase_difference(std::complex<double>(mw[at]), want)));
        plain_ratio += double(std::abs(mp[at])) / double(t.amp);
        ++n;
      }
    ASSERT_GT(n, 100);
    EXPECT_LT(worst_amp, 0.01) << (far ? "far" : "near");
    EXPECT_LT(worst_phase, 0.05) << (far ? "far" : "near");
    EXPECT_LT(plain_ratio / n, 0.8) << (far ? "far" : "near");
  }
}

TEST(LayermeanAverage, WienerConstantFollowsEachShellsSignalToNoiseRatio) {
  // Eight phase-flipped data sets of a layer-line "particle" of |G| = 1 at every sample (random
  // phases), so that the signal power is 1 in every shell, on 20 equatorial blocks (s = R, up
  // to 0.2): each value |CTF| G plus complex noise of power 1/snr(s), the signal-to-noise ratio
  // of a data set falling from 4 at s = 0 to 1/4 at s = 0.2 as 4 * 16^(-s/0.2).
  const int blocks = 20, m = 100, sets = 8;
  const float delr = 0.002f;
  auto snr = [](double s) { return 4.0 * std::pow(16.0, -s / 0.2); };
  std::mt19937 gen(26);
  std::uniform_real_distribution<double> angle(-pi, pi), defocus(10000.0, 30000.0), astig(0.0, 500.0);
  std::normal_distribution<double> normal(0.0, 1.0);
  std::vector<std::complex<double>> truth(std::size_t(blocks * m));
  for (auto& g : truth) g = std::polar(1.0, angle(gen));
  layermean::Averager weighted(100.0f, 0.0f, 0.0f, true), plain(100.0f, 0.0f);
  for (int i = 0; i < sets; ++i) {
    ctf::Params c;
    c.voltage = 300.0f, c.cs = 2.7f, c.amplitude_contrast = 0.07f;
    c.defocus_u = static_cast<float>(defocus(gen));
    c.defocus_v = c.defocus_u - static_cast<float>(astig(gen));
    c.angle = static_cast<float>(angle(gen) * 180.0 / pi);
    const ctf::Ctf f(c);
    std::vector<layerline::Block> b(blocks);
    for (int k = 0; k < blocks; ++k) {
      b[std::size_t(k)].header.nn = k, b[std::size_t(k)].header.nl = 0, b[std::size_t(k)].header.scale = 1.0f;
      for (int j = 1; j <= m; ++j) {
        const double r = j * double(delr);
        // A near side of n >= 0: its samples lie at X = -R in the image.
        const double sd = std::sqrt(0.5 / snr(r));
        const std::complex<double> v = std::abs(f.value(-r, 0.0)) * truth[std::size_t(k * m + j - 1)] +
                                       std::complex<double>(sd * normal(gen), sd * normal(gen));
        b[std::size_t(k)].points.push_back(
            {static_cast<float>(r), static_cast<float>(std::abs(v)), static_cast<float>(std::arg(v) * 180.0 / pi)});
      }
    }
    layermean::Placement p{0.0f, 0.0f, 1.0f, false, 1.0f, 1 + i % 2};
    plain.add("p", b, p);
    p.has_ctf = true;
    p.ctf = c;
    weighted.add("p", b, p);
  }
  weighted.fit_scales_from_halves();
  const std::vector<layermean::WienerShell> shells = layermean::wiener_shells(weighted, "test");
  ASSERT_EQ(shells.size(), 20u);  // 2000 samples, one shell for every 100

  // Shell by shell, the correlation with the truth (as the FSC of a map takes it) of the mean
  // whose constant follows the shells, of the plain mean of the phase-flipped data sets, and of
  // the two constants that suit the ends. The first shell, where |CTF| is near the amplitude
  // contrast in every image, carries too little to tell.
  const std::vector<double> k = layermean::wiener_at_samples(weighted, shells);
  const std::vector<std::complex<float>> follow = layermean::mean_of(weighted.sums(), k),
                                         low_k = layermean::mean_of(weighted.sums(), 0.25),
                                         high_k = layermean::mean_of(weighted.sums(), 4.0),
                                         mean = layermean::mean_of(plain.sums());
  auto correlation = [&](const std::vector<std::complex<float>>& v, double lo, double hi) {
    double cross = 0.0, pv = 0.0, pt = 0.0;
    for (std::size_t j = 0; j < v.size(); ++j) {
      const double s = double(weighted.grid()[j / m].r[j % m]);
      if (s < lo || s >= hi) continue;
      cross += (std::complex<double>(v[j]) * std::conj(truth[j])).real();
      pv += std::norm(std::complex<double>(v[j]));
      pt += std::norm(truth[j]);
    }
    return cross / std::sqrt(pv * pt);
  };
  double bias = 0.0, over_low = 0.0, over_high = 0.0;
  for (std::size_t i = 1; i < shells.size(); ++i) {
    const layermean::WienerShell& w = shells[i];
    const double want = snr((w.s_lo + w.s_hi) / 2.0);
    EXPECT_GT(w.snr, want / 2.5) << w.s_lo;  // 100 samples a shell: a rough estimate each
    EXPECT_LT(w.snr, want * 2.5) << w.s_lo;
    bias += std::log(w.snr / want) / double(shells.size() - 1);
    const double f = correlation(follow, w.s_lo, w.s_hi), a = correlation(low_k, w.s_lo, w.s_hi),
                 b = correlation(high_k, w.s_lo, w.s_hi);
    EXPECT_GT(f, correlation(mean, w.s_lo, w.s_hi)) << w.s_lo;
    EXPECT_GT(f, std::max(a, b) - 0.01) << w.s_lo;
    over_low += f - a;
    over_high += f - b;
  }
  EXPECT_LT(std::abs(bias), 0.15);  // no systematic error beyond 15 percent
  EXPECT_GT(over_low, 0.0);
  EXPECT_GT(over_high, 0.0);
}

TEST(LayermeanAverage, FlaggedAndMissingSamplesTakeNoPart) {
  const helixsim::Particle p = particle(0, 0, 1);
  std::vector<layerline::Block> a = side_blocks(p, false, 0.002f, 20);
  std::vector<layerline::Block> b = a;
  b[1].points[5].amp = -999.0f;  // a CTF zero band
  b.pop_back();                  // the last layer line is missing
  layermean::Averager avg(100.0f, 0.0f);
  avg.add("a", a, {});
  avg.add("b", b, {});
  const layermean::LayerLineGrid& g1 = avg.grid()[1];
  const layermean::LayerLineGrid& gl = avg.grid().back();
  EXPECT_EQ(avg.sums()[g1.offset + 5].count, 1);
  EXPECT_EQ(avg.sums()[g1.offset + 4].count, 2);
  EXPECT_EQ(avg.sums()[gl.offset].count, 1);
  const std::vector<std::complex<float>> m = layermean::mean_of(avg.sums());
  // Not pulled towards zero: the one data set's value stands.
  const std::complex<float> want = std::polar(a[1].points[5].amp, a[1].points[5].phase * float(pi) / 180.0f);
  EXPECT_NEAR(std::abs(m[g1.offset + 5] - want), 0.0f, 1e-4f * std::abs(want));
  // A data set whose layer lines differ is refused.
  b = a;
  b[2].header.nn += 1;
  EXPECT_THROW(avg.add("c", b, {}), records::ReadError);
}

TEST(LayermeanReader, WholeBufferReaderGivesTheStreamingReadersBlocks) {
  // Random fields: exponent forms as written, then other forms the general reader takes.
  std::mt19937 gen(7);
  std::uniform_real_distribution<float> u(-1.0f, 1.0f);
  std::uniform_int_distribution<int> ex(-14, 14);
  for (int i = 0; i < 200000; ++i) {
    const float v = u(gen) * std::pow(10.0f, static_cast<float>(ex(gen)));
    const std::string f = records::exp_form(v, 10, 3);
    float fast = 0.0f;
    if (!records::parse_exponent_form(f, fast)) continue;
    const records::Parsed<float> slow = records::parse_fixed_real(f, 3);
    ASSERT_TRUE(slow.ok());
    ASSERT_EQ(std::signbit(fast), std::signbit(slow.value)) << f;
    ASSERT_EQ(fast, slow.value) << f;
  }
  std::ostringstream text;
  for (int b = 0; b < 30; ++b) {
    text << " label " << b << "\r\n"
         << records::fixed_form(0.5f, 10, 3) << records::int_form(b - 15, 5) << records::int_form(b, 5) << "\n";
    text << " 0.000E+00 0.123E+02 0.000E+00\n";  // a first sample at R = 0
    for (int k = 0; k < 20; ++k) {
      if (k % 7 == 3)
        text << "      1.5      -999.        15\n";  // other forms, and a record cut short:
      else if (k % 7 == 5)
        text << " 0.2E-1   " << records::exp_form(u(gen), 10, 3) << "\n";
      else
        text << layerline::point_record({float(k + 1) * 0.001f, 100.0f * u(gen), 180.0f * u(gen)}) << "\n";
    }
    text << (b % 2 ? " 0.000E+00 0.500E+01 0.000E+00" : layerline::terminator_record()) << "\n";
  }
  std::istringstream in(text.str());
  records::LineSource src(in, "f");
  layerline::PointListReader reader(src, layerline::EndOfBlockRule::RadiusZero);
  const std::vector<layerline::Block> fast =
      layerline::read_point_list(text.str(), "f", layerline::EndOfBlockRule::RadiusZero);
  std::size_t k = 0;
  while (auto b = reader.read_block()) {
    ASSERT_LT(k, fast.size());
    EXPECT_EQ(fast[k].header.label, b->header.label);
    EXPECT_EQ(fast[k].header.label_line, b->header.label_line);
    EXPECT_EQ(fast[k].header.nn, b->header.nn);
    EXPECT_EQ(fast[k].header.scale, b->header.scale);
    ASSERT_EQ(fast[k].points.size(), b->points.size());
    for (std::size_t j = 0; j < b->points.size(); ++j) {
      EXPECT_EQ(fast[k].points[j].r, b->points[j].r);
      EXPECT_EQ(fast[k].points[j].amp, b->points[j].amp);
      EXPECT_EQ(fast[k].points[j].phase, b->points[j].phase);
    }
    ++k;
  }
  EXPECT_EQ(k, fast.size());
  // The same messages on a file cut short and on a bad field.
  for (const std::string& bad : {text.str().substr(0, text.str().size() - 40), text.str() + " x\n1.0 2 3\n 1.2.3\n"}) {
    std::istringstream in2(bad);
    records::LineSource src2(in2, "f");
    layerline::PointListReader r2(src2, layerline::EndOfBlockRule::RadiusZero);
    std::string slow_msg, fast_msg;
    try {
      while (r2.read_block()) {
      }
    } catch (const records::ReadError& e) {
      slow_msg = e.what();
    }
    try {
      layerline::read_point_list(bad, "f", layerline::EndOfBlockRule::RadiusZero);
    } catch (const records::ReadError& e) {
      fast_msg = e.what();
    }
    EXPECT_FALSE(slow_msg.empty());
    EXPECT_EQ(fast_msg, slow_msg);
  }
}

TEST(LayermeanTable, ColumnsDefaultsAndHalves) {
  const std::string text =
      "# alignments\n"
      "particle\tside\tfile\tphi\tz\trscale\tresidual\tstatus\treason\n"
      "p1\tnear\ta/n.dat\t1.5\t-2\t1.01\t20\tok\t\n"
      "p1\tfar\ta/f.dat\t1.5\t-2\t1.01\t21\tok\t\n"
      "\n"
      "p2\tnear\tb/n.dat\tNA\tNA\tNA\t\tfailed\tno fit\n"
      "p3\tnear\tc/n.dat\t0\t0\t1\t9\tok\t\n"
      "p4\tfar\td/f.dat\t0\t0\t1\t9\tok\t\n";
  const layermean::Table t = layermean::read_table(text, "t.tsv");
  ASSERT_EQ(t.rows.size(), 4u);
  EXPECT_EQ(t.left_out, 1);
  EXPECT_EQ(t.rows[0].file, "a/n.dat");
  EXPECT_EQ(t.rows[0].phi, 1.5f);
  EXPECT_EQ(t.rows[0].z, -2.0f);
  EXPECT_EQ(t.rows[0].rscale, 1.01f);
  EXPECT_FALSE(t.rows[0].far);
  EXPECT_TRUE(t.rows[1].far);
  EXPECT_EQ(t.rows[0].weight, 1.0f);
  EXPECT_EQ(t.rows[2].line, 7);
  // Particles alternate; both sides of p1 in half 1.
  EXPECT_EQ(t.rows[0].half, 1);
  EXPECT_EQ(t.rows[1].half, 1);
  EXPECT_EQ(t.rows[2].half, 2);
  EXPECT_EQ(t.rows[3].half, 1);
  // Without a particle column the file is the particle; a half given for one side holds for
  // the particle's other rows.
  const layermean::Table u = layermean::read_table(
      "file\tphi\tz\trscale\thalf\tparticle\tweight\na\t0\t0\t1\t\tq\t2\nb\t0\t0\t1\t2\tq\t\nc\t0\t0\t1\t\t\t\n", "u");
  EXPECT_EQ(u.rows[0].half, 2);
  EXPECT_EQ(u.rows[1].half, 2);
  EXPECT_EQ(u.rows[2].half, 1);
  EXPECT_EQ(u.rows[2].particle, "c");
  EXPECT_EQ(u.rows[0].weight, 2.0f);
  // Faults name the line, the columns and the column.
  auto message = [](const std::string& s) {
    try {
      layermean::read_table(s, "t");
    } catch (const records::ReadError& e) {
      return std::string(e.what());
    }
    return std::string("accepted");
  };
  EXPECT_EQ(message(""), "t: holds no header line naming the columns");
  EXPECT_EQ(message("file\tphi\tz\trscale\tz\n"), "t, line 1, column 19: the column \"z\" is named twice");
  EXPECT_EQ(message("file\tphi\tz\trscale\na\t1\t2\n"),
            "t, line 2: 3 fields, but the header on line 1 names 4 columns");
  EXPECT_EQ(message("file\tphi\tz\trscale\na\t\t2\t1\n"), "t, line 2, column 3: column \"phi\": the value is missing");
  EXPECT_EQ(message("file\tphi\tz\trscale\na\tinf\t2\t1\n"),
            "t, line 2, columns 3-5: column \"phi\": \"inf\" is not a number");
  EXPECT_EQ(message("file\tphi\tz\trscale\tweight\na\t0\t2\t1\t-1\n"),
            "t, line 2, columns 9-10: column \"weight\": the weight must be above 0, not -1");
  EXPECT_EQ(message("file\tphi\tz\trscale\thalf\tparticle\na\t0\t0\t1\t1\tq\nb\t0\t0\t1\t2\tq\n"),
            "t, line 3, column 9: column \"half\": particle \"q\" is in half 1 on another line: both sides of a "
            "particle go into the same half");
  // The defocus columns: U alone stands for a stigmatic image; "-" is none.
  const layermean::Table d = layermean::read_table(
      "file\tphi\tz\trscale\tdefocus_u\tdefocus_v\tdefocus_angle\n"
      "a\t0\t0\t1\t15000\t14500\t-30\nb\t0\t0\t1\t20000\t\t\nc\t0\t0\t1\t-\t-\t-\n",
      "d");
  EXPECT_TRUE(d.rows[0].has_defocus);
  EXPECT_EQ(d.rows[0].defocus_v, 14500.0f);
  EXPECT_EQ(d.rows[0].defocus_angle, -30.0f);
  EXPECT_EQ(d.rows[1].defocus_v, 20000.0f);
  EXPECT_EQ(d.rows[1].defocus_angle, 0.0f);
  EXPECT_FALSE(d.rows[2].has_defocus);
  const std::string head = "file\tphi\tz\trscale\tdefocus_u\tdefocus_v\tdefocus_angle\n";
  EXPECT_EQ(message(head + "a\t0\t0\t1\t-5\t\t\n"),
            "t, line 2, columns 9-10: column \"defocus_u\": a defocus is positive underfocus in Angstroms, not -5");
  EXPECT_EQ(message(head + "a\t0\t0\t1\t1e4\t1e4\tx\n"),
            "t, line 2, column 17: column \"defocus_angle\": \"x\" is not a number");
  EXPECT_EQ(message(head + "a\t0\t0\t1\t\t1e4\t\n"),
            "t, line 2, columns 10-12: column \"defocus_v\": given without defocus_u");
}

}  // namespace
