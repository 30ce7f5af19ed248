// gridscan --model: a reference of several Bessel orders a layer line. One order a layer line
// is gridscan's search exactly; the prediction over several orders finds a real-space helix's
// known alignment, where the single-order reference fails.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <sstream>
#include <string>
#include <vector>

#include "helixsim/helixsim.hpp"
#include "layerline/pointlist.hpp"
#include "records/forms.hpp"
#include "runprog.hpp"
#include "synthetic.hpp"

using namespace gridscantest;

TEST(GridscanModel, OneOrderALayerLineIsTheSearchWithoutModel) {
  // Every report byte, message and status the same, over the options that change the search.
  struct Variant {
    int iside, ipole;
    std::vector<std::string> args;
  };
  for (const Variant& v : {Variant{0, 0, {}}, Variant{1, 1, {"--resolution", "15"}},
                           Variant{0, 1, {"--around", "-1.5", "10.5", "1.02", "--kernel", "literal"}}}) {
    TempDir plain, model;
    Synthetic s;
    s.phi0 = -2.0;
    s.z0 = 11.0;
    s.scale = 1.03;
    s.iside = v.iside;
    s.ipole = v.ipole;
    s.ref_flag_every = 6;
    s.write(plain);
    s.write(model);
    std::vector<std::string> margs = v.args;
    margs.push_back("--model");
    const RunResult a = run(plain, v.args), b = run(model, margs);
    EXPECT_EQ(a.status, 0) << a.err;
    EXPECT_EQ(b.status, a.status);
    EXPECT_EQ(b.out, a.out);
    EXPECT_EQ(b.err, a.err);
    EXPECT_EQ(model.read("fort.7"), plain.read("fort.7"));
    const std::vector<Minimum> m = minima(model.read("fort.7"));
    ASSERT_FALSE(m.empty());
    EXPECT_EQ(m.back().phi, f1(-2.0));
    EXPECT_EQ(m.back().z, f1(11.0));
    EXPECT_EQ(m.back().rsc, f3(1.03));
  }
}

TEST(GridscanModel, APredictionOfOneOrderFindsWhatTheSingleOrderSearchFinds) {
  // A second order of amplitude 0 on every layer line takes the prediction's path (the model
  // turned by n*phi instead of the test by -n*phi, the far side and the halves by sign): it
  // must find the same alignment, on either side, of either hand, for orders of both signs.
  for (int iside = 0; iside <= 1; ++iside)
    for (int ipole = 0; ipole <= 1; ++ipole) {
      SCOPED_TRACE("iside " + std::to_string(iside) + ", ipole " + std::to_string(ipole));
      TempDir d;
      Synthetic s;
      s.phi0 = 3.5;
      s.z0 = -7.5;
      s.scale = 0.98;
      s.iside = iside;
      s.ipole = ipole;
      s.zero_order_offset = -5;
      s.write(d);
      const RunResult r = run(d, {"--model"});
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(r.err, "");
      expect_recovered(d.read("fort.7"), 3.5, -7.5, 0.98);
      EXPECT_EQ(lines_of(d.read("fort.7")).back(), "0MEAN AMPSCALE =   1.000");
    }
}

namespace {

constexpr double pi = 3.14159265358979323846;

// A polar helix of 10 subunits in 3 turns of a 90 A repeat at radius 40 A: at the radii
// sampled (to 1/13.7 A) two to four orders share every layer line.
std::string helix_control(double phi0, double z0, bool opposite) {
  std::ostringstream s;
  s << "title  model 10/3\nmodel  real\nrepeat 90\nradius 40\npixel  3\nbox    64 60\nrule   10 3 10 25\n"
    << "samples 14\nrotate " << phi0 << "\nshift " << z0 << "\n";
  if (opposite) s << "polarity opposite\n";
  return s.str();
}

// The helix's model: on each layer line every order n the rule admits (|n| <= 25) reaching 1
// percent of the layer line's strongest, each on its own near half (negative R for n >= 0),
// as the n-th Fourier component over the view's rotation phi of the transform there:
// N_n(R) = 1/M sum_m T_phi_m(R) exp(-i n phi_m), M = 72 views (orders n and n + 72 alias, and
// none beyond 30 is left at these radii). The deck's order of each layer line (the near file's)
// comes first; with deck_order_only the model keeps that order alone.
std::string helix_model(bool deck_order_only) {
  std::istringstream in(helix_control(0.0, 0.0, false));
  records::LineSource src(in, "control");
  helixsim::Particle p = helixsim::read_control(src);
  const helixsim::Geometry g = helixsim::geometry_of(p);
  constexpr int views = 72;
  std::vector<std::vector<helixsim::PlacedBlob>> blobs;
  for (int m = 0; m < views; ++m) {
    p.phi0 = static_cast<float>(360.0 * m / views);
    blobs.push_back(helixsim::placed_blobs(p));
  }
  std::string text;
  for (const helixsim::LayerLine& ll : p.lines) {
    std::vector<int> orders{ll.n};
    for (int n = -25; n <= 25; ++n)
      if (n != ll.n && (ll.l + 3 * n) % 10 == 0) orders.push_back(n);
    std::vector<std::vector<layerline::Point>> blocks;
    double strongest = 0.0;
    for (const int n : orders) {
      std::vector<layerline::Point> pts;
      for (int k = 1; k <= g.samples; ++k) {
        const float r = static_cast<float>(k) * g.delr;
        std::complex<double> sum{0.0, 0.0};
        for (int m = 0; m < views; ++m) {
          const std::complex<double> t = helixsim::real_transform(
              p, blobs[static_cast<std::size_t>(m)], n >= 0 ? -double(r) : double(r), double(ll.l) / double(p.repeat));
          sum += t * std::polar(1.0, -n * 2.0 * pi * m / views);
        }
        sum /= double(views);
        strongest = std::max(strongest, std::abs(sum));
        pts.push_back({r, static_cast<float>(std::abs(sum)), static_cast<float>(std::arg(sum) * 180.0 / pi)});
      }
      blocks.push_back(pts);
    }
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      double peak = 0.0;
      for (const layerline::Point& q : blocks[i]) peak = std::max(peak, double(q.amp));
      if (i > 0 && (deck_order_only || peak < 0.01 * strongest)) continue;
      std::ostringstream out;
      layerline::write_block(out, layerline::sidesplit_label("model 10/3", ll.l, true, 0.0f), 1.0f, orders[i], ll.l,
                             blocks[i]);
      text += out.str();
    }
  }
  return text;
}

// llmax 11, recc 1/90, delbr the sampling step 1/192, every weight 1.
std::string helix_search_control(int iside, int ipole) {
  return "11 0.0111111 0.00520833 0\n 1 1 1 1 1 1 1 1 1 1 1\nmodel 10/3\n" + std::to_string(iside) + " " +
         std::to_string(ipole) + "\n";
}

RunResult helixsim_sides(const TempDir& d, double phi0, double z0, bool opposite) {
  d.write("particle.ctl", helix_control(phi0, z0, opposite));
  return run_in(d.path(), run_spec(program_path("helixsim"),
                                   {"--control", "particle.ctl", "--near", "near.dat", "--far", "far.dat"}));
}

}  // namespace

TEST(GridscanModel, RealSpaceHelixOfOverlappingOrdersFoundAtItsAlignment) {
  const std::string model = helix_model(false), single = helix_model(true);
  // Layer lines of two orders and more: the model holds more blocks than the 11 layer lines.
  ASSERT_GT(std::count(model.begin(), model.end(), '\n') - std::count(single.begin(), single.end(), '\n'), 5 * 16);
  TempDir d;
  const RunResult sim = helixsim_sides(d, 6.5, -3.5, false);
  ASSERT_EQ(sim.status, 0) << sim.err;
  d.write("model.dat", model);
  d.write("single.dat", single);
  d.write("fort.2", helix_search_control(0, 0));
  const std::vector<std::string> files{"--reference", "model.dat", "--test", "near.dat", "--report", "model.rep"};
  std::vector<std::string> args = files;
  args.push_back("--model");
  RunResult r = run(d, args);
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<Minimum> m = minima(d.read("model.rep"));
  ASSERT_FALSE(m.empty());
  EXPECT_EQ(m.back().phi, f1(6.5)) << d.read("model.rep");
  EXPECT_EQ(m.back().z, f1(-3.5)) << d.read("model.rep");
  EXPECT_EQ(m.back().rsc, f3(1.0)) << d.read("model.rep");
  const float model_resid = std::stof(m.back().resmin);

  // The same model's deck order alone, as a single-order reference: it misaligns, or fits
  // far worse.
  r = run(d, {"--reference", "single.dat", "--test", "near.dat", "--report", "single.rep"});
  const std::vector<Minimum> s = minima(d.read("single.rep"));
  ASSERT_FALSE(s.empty());
  const bool misaligned = s.back().phi != f1(6.5) || s.back().z != f1(-3.5);
  EXPECT_TRUE(misaligned || std::stof(s.back().resmin) > 3.0f * model_resid + 5.0f)
      << d.read("single.rep") << "\nagainst the model:\n"
      << d.read("model.rep");

  // The far side (iside 1), and the near side of the particle of opposite polarity (ipole 1).
  d.write("fort.2", helix_search_control(1, 0));
  r = run(d, {"--model", "--reference", "model.dat", "--test", "far.dat", "--report", "far.rep"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<Minimum> far = minima(d.read("far.rep"));
  ASSERT_FALSE(far.empty());
  EXPECT_EQ(far.back().phi, f1(6.5)) << d.read("far.rep");
  EXPECT_EQ(far.back().z, f1(-3.5)) << d.read("far.rep");
  TempDir o;
  ASSERT_EQ(helixsim_sides(o, 6.5, -3.5, true).status, 0);
  o.write("model.dat", model);
  o.write("fort.2", helix_search_control(0, 1));
  r = run(o, {"--model", "--reference", "model.dat", "--test", "near.dat"});
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<Minimum> op = minima(o.read("fort.7"));
  ASSERT_FALSE(op.empty());
  EXPECT_EQ(op.back().phi, f1(6.5)) << o.read("fort.7");
  EXPECT_EQ(op.back().z, f1(-3.5)) << o.read("fort.7");
}

TEST(GridscanModel, ModelsThatCannotBeReadAreRefusedAndTwoOrdersWithoutModelAreSaid) {
  // Without --model, a reference of two orders a layer line is read as before, with a warning.
  TempDir d;
  Synthetic s;
  s.zero_order_offset = 10;
  s.write(d);
  RunResult r = run(d);
  EXPECT_TRUE(contains(r.err,
                       "gridscan: fort.3: blocks 1 and 2 hold orders 0 and 10 of layer line 1; a reference of "
                       "several orders a layer line is read with --model\n"))
      << r.err;

  // Each fault names the file and the line; nothing is written.
  const std::string block = s.reference().substr(
      0, s.reference().find(layerline::terminator_record()) + layerline::terminator_record().size() + 1);
  std::string nine;  // nine orders on layer line 1
  for (int n = 0; n < 9; ++n) {
    std::string b = block;
    const std::size_t at = b.find('\n') + 1;
    b.replace(at, 20, layerline::parameter_record(1.0f, n, 1));
    nine += b;
  }
  struct Bad {
    std::string model, message;
  };
  for (const Bad& bad :
       {Bad{block + block,
            "gridscan: model.dat, line " + std::to_string(std::count(block.begin(), block.end(), '\n') + 1) +
                ": order 0 of layer line 1 appears twice; a model holds each order of a layer line once\n"},
        Bad{nine, "layer line 1 holds more than 8 orders, at most 8 are supported\n"},
        Bad{block, "end of file: the model holds 1 layer lines, 6 expected (llmax)\n"},
        Bad{block.substr(0, block.size() - 31), "end of file inside the layer-line block"}}) {
    TempDir b;
    s.write(b);
    b.write("model.dat", bad.model);
    r = run(b, {"--model", "--reference", "model.dat"});
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(contains(r.err, bad.message)) << r.err;
    EXPECT_FALSE(b.exists("fort.7"));
  }
}
