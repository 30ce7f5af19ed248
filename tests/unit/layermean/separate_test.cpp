// The separation of overlapping Bessel orders: known G_nl of two or three orders a layer line
// come back from a dozen views at random azimuths, views at one azimuth are reported as
// under-determined without writing anything non-finite, and with one order a layer line the
// separation is the mean (CTF weights and all).
#include "layermean/separate.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <map>
#include <random>
#include <sstream>

#include "layerline/pointlist.hpp"
#include "layermean/average.hpp"
#include "records/numbers.hpp"

namespace {

using cd = std::complex<double>;
constexpr double pi = 3.14159265358979323846;
constexpr float repeat = 100.0f;

// i^k for any whole k.
cd ipow(std::int64_t k) {
  static const cd p[4] = {{1, 0}, {0, 1}, {-1, 0}, {0, -1}};
  return p[((k % 4) + 4) % 4];
}

// Layer lines of the 10/3 rule: the equator (order 0), l = 1 (order 3) and l = 5 (order 5), on
// the radii R = 0.03 .. 0.048 1/A; a particle of radius 30 A puts orders 10 (equator), -7 and
// 13 (l = 1) and -5 (l = 5) beside them there.
const std::int32_t own[3][2] = {{0, 0}, {3, 1}, {5, 5}};
const layermean::SeparationSettings settings{10, 3, 30.0f, 0.01f, 0.1f};
float radius(int k) { return 0.03f + 0.002f * static_cast<float>(k); }
constexpr int radii = 10;

// The true G_nl of every order, random, keyed by (n, l), one value a radius (0 below where the
// order starts to count); the equator's order 0 is real and G_-n,0 = (-1)^n conj(G_n,0), as
// for a real density.
using Truth = std::map<std::pair<std::int32_t, std::int32_t>, std::vector<cd>>;
Truth make_truth(std::mt19937& rng) {
  std::uniform_real_distribution<double> u(-100.0, 100.0);
  Truth t;
  for (const auto& [n, l] : own)
    for (std::int32_t m : layermean::orders_at(settings, l, n, radius(radii - 1))) {
      auto& g = t[{m, l}];
      for (int k = 0; k < radii; ++k) {
        const std::vector<std::int32_t> here = layermean::orders_at(settings, l, n, radius(k));
        const cd v{u(rng), l == 0 && m == 0 ? 0.0 : u(rng)};
        g.push_back(std::find(here.begin(), here.end(), m) != here.end() ? v : 0.0);
      }
    }
  return t;
}

// G_nl of any order from the truth (0 for orders it does not hold).
cd g_of(const Truth& t, std::int32_t n, std::int32_t l, int k) {
  if (auto it = t.find({n, l}); it != t.end()) return it->second[std::size_t(k)];
  if (l == 0 && n < 0)
    if (auto it = t.find({-n, 0}); it != t.end()) return (n % 2 ? -1.0 : 1.0) * std::conj(it->second[std::size_t(k)]);
  return 0.0;
}

// The file a view's side would hold: on layer line l at signed X the raw transform holds
// i^-n G (X >= 0) or i^n G (X < 0) turned by n phi - 360 l z / c for every order n; the near
// side of a block of order m is its X < 0 half when m >= 0; the opposite polarity conjugates.
std::vector<layerline::Block> view(const Truth& t, double phi, double z, bool far, bool opposite) {
  std::vector<layerline::Block> out;
  for (const auto& [m, l] : own) {
    layerline::Block b;
    b.header.nn = m, b.header.nl = l, b.header.scale = 1.0f;
    const bool negative = (m >= 0) != far;
    for (int k = 0; k < radii; ++k) {
      cd v = 0.0;
      for (std::int32_t n = -40; n <= 40; ++n) {
        const cd g = g_of(t, n, l, k);
        if (g == 0.0) continue;
        const double turn = (double(n) * phi - 360.0 * double(l) * z / double(repeat)) * pi / 180.0;
        v += ipow(negative ? n : -n) * g * std::polar(1.0, turn);
      }
      if (opposite) v = std::conj(v);
      b.points.push_back({radius(k), static_cast<float>(std::abs(v)), static_cast<float>(std::arg(v) * 180.0 / pi)});
    }
    out.push_back(std::move(b));
  }
  return out;
}

// Twelve particles (both sides each), at the azimuths phis, random shifts and weights, every
// third of the opposite polarity.
layermean::Averager views(const Truth& t, std::mt19937& rng, const std::vector<double>& phis) {
  std::uniform_real_distribution<double> z(-50.0, 50.0), w(0.5, 2.0);
  layermean::Averager avg(repeat, 0.0f);
  for (std::size_t i = 0; i < phis.size(); ++i) {
    const double zi = z(rng), wi = w(rng);
    for (bool far : {false, true}) {
      layermean::Placement p{static_cast<float>(phis[i]), static_cast<float>(zi), 1.0f,      far,
                             static_cast<float>(wi),      1 + int(i % 2),         i % 3 == 2};
      avg.add("view", view(t, double(p.phi), double(p.z), far, p.opposite), p);
    }
  }
  return avg;
}

}  // namespace

TEST(LayermeanSeparate, KnownOrdersComeBackFromViewsAtRandomAzimuths) {
  std::mt19937 rng(28);
  const Truth truth = make_truth(rng);
  for (const auto& [n, l] : own) {
    const std::size_t count = layermean::orders_at(settings, l, n, radius(radii - 1)).size();
    EXPECT_TRUE(count == 2 || count == 3) << "layer line " << l << ": " << count << " orders";
  }
  std::uniform_real_distribution<double> azimuth(-180.0, 180.0);
  std::vector<double> phis(12);
  for (double& p : phis) p = azimuth(rng);
  const layermean::Averager avg = views(truth, rng, phis);
  const layermean::Separation sep = layermean::separate(avg, settings, 0, "table");

  // Every order of the truth has its block, holding H = i^|n| G (the equator's n > 0: 2 H).
  std::map<std::int32_t, double> largest;  // by layer line
  for (const auto& [key, g] : truth)
    for (const cd& v : g) largest[key.second] = std::max(largest[key.second], std::abs(v));
  std::size_t seen = 0;
  for (const layermean::SeparatedLine& line : sep.lines) {
    const auto it = truth.find({line.nn, line.nl});
    ASSERT_NE(it, truth.end()) << "order " << line.nn << " on layer line " << line.nl;
    ++seen;
    for (int k = 0; k < radii; ++k) {
      const cd want = (line.nl == 0 && line.nn > 0 ? 2.0 : 1.0) * ipow(std::abs(line.nn)) * it->second[std::size_t(k)];
      const cd got(line.value[std::size_t(k)]);
      EXPECT_LT(std::abs(got - want), 0.01 * largest[line.nl])
          << "order " << line.nn << ", layer line " << line.nl << ", R " << radius(k);
    }
  }
  EXPECT_EQ(seen, truth.size());
  for (const layermean::SampleFit& f : sep.fits) EXPECT_TRUE(f.determined());
  // Each half alone (six particles) separates them too.
  for (std::int32_t half : {1, 2})
    for (const layermean::SampleFit& f : layermean::separate(avg, settings, half, "table").fits)
      EXPECT_TRUE(f.determined()) << "half " << half;
}

TEST(LayermeanSeparate, ViewsAtOneAzimuthAreReportedUnderDetermined) {
  std::mt19937 rng(7);
  const Truth truth = make_truth(rng);
  const layermean::Averager avg = views(truth, rng, std::vector<double>(12, 30.0));
  const layermean::Separation sep = layermean::separate(avg, settings, 0, "table");
  std::ostringstream stats, blocks, summary;
  layermean::write_separation_stats(stats, avg, sep);
  layermean::write_separated(blocks, sep, "one azimuth");
  layermean::write_separation_summary(summary, avg, sep, sep, sep, settings);

  // Columns: block n l R amplitude phase fom count spread orders directions kept. Where two or
  // more orders meet, one azimuth cannot tell them apart: fewer directions kept than unknowns.
  std::istringstream in(stats.str());
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line, "block\tn\tl\tR\tamplitude\tphase\tfom\tcount\tspread\torders\tdirections\tkept");
  int under = 0, rows = 0;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::istringstream cols(line);
    for (std::string c; std::getline(cols, c, '\t');) f.push_back(c);
    ASSERT_EQ(f.size(), 12u) << line;
    for (const std::string& c : f) {
      const auto p = records::parse_free_real(c);
      ASSERT_TRUE(p.ok() && std::isfinite(p.value)) << line;
    }
    ++rows;
    const int orders = std::stoi(f[9]), directions = std::stoi(f[10]), kept = std::stoi(f[11]);
    EXPECT_EQ(directions, 2 * orders);
    if (orders > 1) {
      EXPECT_LT(kept, directions) << line;
      ++under;
    }
  }
  EXPECT_GT(under, 0);
  EXPECT_GT(rows, 0);
  for (const auto& [n, l] : own)
    EXPECT_NE(summary.str().find("under-determined: layer line " + std::to_string(l) + " "), std::string::npos)
        << summary.str();

  // The blocks leave the under-determined radii out and hold only finite numbers.
  const std::vector<layerline::Block> read =
      layerline::read_point_list(blocks.str(), "blocks", layerline::EndOfBlockRule::RadiusZero);
  ASSERT_EQ(read.size(), sep.lines.size());
  for (const layerline::Block& r : read)
    for (const layerline::Point& p : r.points)
      EXPECT_TRUE(std::isfinite(p.r) && std::isfinite(p.amp) && std::isfinite(p.phase));
}

TEST(LayermeanSeparate, OneOrderALayerLineIsTheMean) {
  // Noisy views with weights and CTF weights: a particle radius of 1 A leaves each layer line
  // its own order, and the least squares are the Wiener-type mean sample by sample.
  std::mt19937 rng(3);
  const Truth truth = make_truth(rng);
  std::uniform_real_distribution<double> azimuth(-180.0, 180.0), z(-50.0, 50.0), w(0.5, 2.0), df(8000, 30000);
  std::normal_distribution<double> noise(0.0, 20.0);
  layermean::Averager avg(repeat, 0.0f, 0.1f);
  for (int i = 0; i < 8; ++i) {
    layermean::Placement p{static_cast<float>(azimuth(rng)),
                           static_cast<float>(z(rng)),
                           1.0f,
                           i % 2 == 1,
                           static_cast<float>(w(rng)),
                           1 + i % 2};
    p.has_ctf = true;
    p.ctf.defocus_u = p.ctf.defocus_v = static_cast<float>(df(rng));
    std::vector<layerline::Block> b = view(truth, double(p.phi), double(p.z), p.far, false);
    for (auto& blk : b)
      for (auto& pt : blk.points) {
        const cd v =
            std::polar(double(pt.amp), double(pt.phase) * pi / 180.0) * (0.5 + 0.1 * i) + cd(noise(rng), noise(rng));
        pt = {pt.r, static_cast<float>(std::abs(v)), static_cast<float>(std::arg(v) * 180.0 / pi)};
      }
    avg.add("view", b, p);
  }
  layermean::SeparationSettings one = settings;
  one.rmax = 1.0f;
  const layermean::Separation sep = layermean::separate(avg, one, 0, "table");
  ASSERT_EQ(sep.lines.size(), avg.grid().size());
  const std::vector<std::complex<float>> mean = layermean::mean_of(avg.sums(), avg.wiener());
  for (std::size_t k = 0; k < sep.lines.size(); ++k) {
    const layermean::LayerLineGrid& g = avg.grid()[k];
    EXPECT_EQ(sep.lines[k].nn, g.nn);
    double largest = 0.0;
    for (std::size_t j = 0; j < g.r.size(); ++j) largest = std::max(largest, double(std::abs(mean[g.offset + j])));
    for (std::size_t j = 0; j < g.r.size(); ++j)
      EXPECT_LT(std::abs(cd(sep.lines[k].value[j]) - cd(mean[g.offset + j])), 1e-4 * largest)
          << "layer line " << g.nl << ", R " << g.r[j];
  }
  // With a constant of its own at every sample: sum w c |CTF| G / (sum w CTF^2 + k_j).
  std::vector<double> kj(avg.samples());
  for (std::size_t j = 0; j < kj.size(); ++j) kj[j] = 0.01 * double(j % 7 + 1);
  const layermean::Separation own_k = layermean::separate(avg, one, 0, "table", kj);
  for (std::size_t k = 0; k < own_k.lines.size(); ++k) {
    const layermean::LayerLineGrid& g = avg.grid()[k];
    for (std::size_t j = 0; j < g.r.size(); ++j) {
      const layermean::SampleSums& s = avg.sums()[g.offset + j];
      const cd want = s.sum / (s.weight + kj[g.offset + j]);
      EXPECT_LT(std::abs(cd(own_k.lines[k].value[j]) - want), 1e-4 * std::abs(want) + 1e-3)
          << "layer line " << g.nl << ", R " << g.r[j];
    }
  }
}
