// helixsim's pieces: the control input, the selection rule, the Bessel terms and the helical
// phase relations of the layer-line values, the transform's half plane, the noise, the deck and
// the gridded file.
#include "helixsim/helixsim.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <sstream>
#include <string>

#include "helix/bessel.hpp"
#include "layerline/gridded.hpp"
#include "records/error.hpp"
#include "records/free.hpp"

namespace {

constexpr double pi = 3.14159265358979323846;

helixsim::Particle parse(const std::string& text) {
  std::istringstream in(text);
  records::LineSource src(in, "ctl");
  return helixsim::read_control(src);
}

const std::string base =
    "repeat 100\n"
    "radius 40\n"
    "pixel 5\n"
    "box 100 100\n";

std::string error_of(const std::string& text) {
  try {
    parse(text);
  } catch (const records::ReadError& e) {
    return e.what();
  }
  return "no error";
}

// Phase difference reduced to -180..180.
double phase_diff(std::complex<double> a, std::complex<double> b) {
  return std::remainder((std::arg(a) - std::arg(b)) * 180.0 / pi, 360.0);
}

TEST(HelixsimControl, KeywordsAndDefaults) {
  const auto p = parse(
      "# a comment line\n"
      "title  a test particle   # trailing comment\n" +
      base +
      "layer 0 0\nlayer 1 3\nlayer 2, -4\n"
      "rotate 7.5\nshift -12\nscale 1.02\npolarity opposite\nnoise 0.05 11\ngridded far 4\nsamples 20\n"
      "AMPLITUDE 50\n");
  EXPECT_EQ(p.title, "a test particle");
  EXPECT_EQ(p.repeat, 100.0f);
  EXPECT_EQ(p.width, 100);
  ASSERT_EQ(p.lines.size(), 3u);
  EXPECT_EQ(p.lines[2].l, 2);
  EXPECT_EQ(p.lines[2].n, -4);
  EXPECT_EQ(p.phi0, 7.5f);
  EXPECT_EQ(p.z0, -12.0f);
  EXPECT_EQ(p.scale, 1.02f);
  EXPECT_TRUE(p.flipped);
  EXPECT_EQ(p.noise, 0.05f);
  EXPECT_EQ(p.seed, 11u);
  EXPECT_EQ(p.gridded_side, helixsim::Side::Far);
  EXPECT_EQ(p.gridded_fine, 4);
  EXPECT_EQ(p.amplitude, 50.0f);

  const auto g = helixsim::geometry_of(p);
  EXPECT_EQ(g.nx, 51);
  EXPECT_EQ(g.ny, 100);
  EXPECT_EQ(g.ky, 50);
  EXPECT_EQ(g.rows_per_layer, 5);  // 100 rows of 5 A make 500 A, five repeats
  EXPECT_EQ(g.samples, 20);
  EXPECT_EQ(g.grid_points, 81);
  EXPECT_FLOAT_EQ(g.delr, 0.002f);

  const auto d = parse(base + "layer 1 1\n");
  EXPECT_EQ(d.title, "helixsim particle");
  EXPECT_EQ(helixsim::geometry_of(d).samples, 49);  // every column but the last
  EXPECT_EQ(d.scale, 1.0f);
  EXPECT_FALSE(d.flipped);
}

TEST(HelixsimControl, BadInputNamesTheLineAndWhatIsWrong) {
  EXPECT_EQ(error_of(base + "layer 1 1\nwobble 3\n"),
            "ctl, line 6, columns 1-6: unknown keyword \"wobble\" (see helixsim --help)");
  EXPECT_NE(error_of(base + "layer 1 x\n").find("ctl, line 5, column 9: \"x\" is not an integer (the Bessel order)"),
            std::string::npos);
  EXPECT_NE(error_of(base + "layer 1\n").find("line 5: \"layer\" takes a layer-line number and a Bessel order"),
            std::string::npos);
  EXPECT_NE(error_of("radius 40\npixel 5\nbox 100 100\nlayer 1 1\n").find("no \"repeat\" line"), std::string::npos);
  EXPECT_NE(error_of(base).find("no layer lines"), std::string::npos);
  EXPECT_NE(error_of(base + "radius -1\nlayer 1 1\n").find("the helix radius must be above 0"), std::string::npos);
  EXPECT_NE(error_of(base + "box 99 100\nlayer 1 1\n").find("even"), std::string::npos);
  // 90 rows of 5 A are 4.5 repeats: the layer lines would fall between rows.
  EXPECT_NE(error_of(base + "box 100 90\nlayer 1 1\n").find("whole multiple of the repeat"), std::string::npos);
  // Layer line 10 lies 50 rows from the equator of a transform with 49 rows above it.
  EXPECT_NE(error_of(base + "layer 10 1\n").find("line 5: layer line 10 lies 50 rows"), std::string::npos);
  EXPECT_NE(error_of(base + "layer 2 1\nlayer 2 -1\n").find("line 6: layer line 2 is listed twice"), std::string::npos);
  EXPECT_NE(error_of(base + "layer 0 2\n").find("the equator"), std::string::npos);
  EXPECT_NE(error_of(base + "layer -1 2\n").find("start at 0"), std::string::npos);
  EXPECT_NE(error_of(base + "layer 1 1\nrule 10 3 9 4\n").find("line 6"), std::string::npos);
  EXPECT_NE(error_of(base + "layer 1 1\nsamples 50\n").find("at most 49"), std::string::npos);
  EXPECT_NE(error_of(base + "layer 1 1\ngridded near 9\n").find("1 to 8"), std::string::npos);
  EXPECT_NE(error_of(base + "box 200 100\nlayer 1 1\nsamples 70\ngridded near 8\n").find("at most 512"),
            std::string::npos);
  EXPECT_NE(error_of(base + "box 4000 4000\nlayer 1 1\n").find("at most 2549600"), std::string::npos);
  EXPECT_NE(error_of(base + "layer 1 1\npolarity upside\n").find("\"same\" or \"opposite\""), std::string::npos);
  EXPECT_NE(error_of(base + "layer 1 1\ninplane 30 1\n").find("line 6: \"inplane\" takes the in-plane angle"),
            std::string::npos);
  EXPECT_NE(error_of(base + "layer 1 1\ninplane 30 x 1\n").find("\"x\" is not a number"), std::string::npos);
  EXPECT_NE(error_of("title " + std::string(41, 'x') + "\n" + base + "layer 1 1\n").find("at most 40"),
            std::string::npos);
}

TEST(HelixsimRule, SmallestOrderOfEachLayerLine) {
  // l + n divisible by 4: l = 0 allows -4, 0, 4; l = 1 allows -1 and 3; l = 2 allows -2 and 2.
  const auto a = helixsim::rule_layer_lines(4, 1, 4, 4);
  ASSERT_EQ(a.size(), 5u);
  EXPECT_EQ(a[0].n, 0);
  EXPECT_EQ(a[1].n, -1);
  EXPECT_EQ(a[2].n, 2);  // of the pair -2, 2 the positive one
  EXPECT_EQ(a[3].n, 1);
  EXPECT_EQ(a[4].n, 0);
  // l + 3n divisible by 10 with |n| <= 4: layer line 5 (n = +-5) has no order and is left out.
  const auto b = helixsim::rule_layer_lines(10, 3, 9, 4);
  ASSERT_EQ(b.size(), 9u);
  const int want_l[] = {0, 1, 2, 3, 4, 6, 7, 8, 9};
  const int want_n[] = {0, 3, -4, -1, 2, -2, 1, 4, -3};
  for (std::size_t k = 0; k < b.size(); ++k) {
    EXPECT_EQ(b[k].l, want_l[k]);
    EXPECT_EQ(b[k].n, want_n[k]);
    EXPECT_EQ((b[k].l + 3 * b[k].n) % 10, 0);
  }
  EXPECT_TRUE(helixsim::rule_layer_lines(0, 1, 4, 4).empty());
}

TEST(HelixsimValues, BesselTermsAndHelicalPhases) {
  EXPECT_DOUBLE_EQ(helix::bessel_j(0, 0.0), 1.0);
  EXPECT_NEAR(helix::bessel_j(0, 2.404825557695773), 0.0, 1e-12);  // first zero of J_0
  EXPECT_NEAR(helix::bessel_j(1, 1.0), 0.4400505857449335, 1e-12);
  for (int n = -5; n <= 5; ++n) {
    const double x = 3.7;
    const double sign = (n % 2 == 0) ? 1.0 : -1.0;
    EXPECT_NEAR(helix::bessel_j(-n, x), sign * helix::bessel_j(n, x), 1e-12);
    EXPECT_NEAR(helix::bessel_j(n, -x), sign * helix::bessel_j(n, x), 1e-12);
  }

  auto p = parse(base + "layer 3 -2\n");
  const helixsim::LayerLine ll{3, -2};
  const double x = 0.013;
  const std::complex<double> v = helixsim::layer_value(p, ll, x);
  // A * i^-2 * J_-2 = 100 * (-1) * J_2(2 pi x r0)
  EXPECT_NEAR(v.real(), -100.0 * std::cyl_bessel_j(2.0, 2.0 * pi * x * 40.0), 1e-9);
  EXPECT_NEAR(v.imag(), 0.0, 1e-9);

  // Near and far sides of layer line (n, l) differ by n*180 degrees.
  for (int n : {-3, -2, 1, 4}) {
    const helixsim::LayerLine m{2, n};
    const auto plus = helixsim::layer_value(p, m, 0.011);
    const auto minus = helixsim::layer_value(p, m, -0.011);
    EXPECT_NEAR(std::abs(plus), std::abs(minus), 1e-9);
    EXPECT_NEAR(std::abs(phase_diff(minus, plus * std::polar(1.0, n * pi))), 0.0, 1e-7) << n;
  }

  // Moving the particle adds n*phi0 - 360*l*z0/c; scaling it by s samples J_n at s*R;
  // the opposite polarity negates every phase.
  helixsim::Particle moved = p;
  moved.phi0 = 7.5f;
  moved.z0 = -12.0f;
  const auto a = helixsim::layer_value(p, ll, x);
  const auto b = helixsim::layer_value(moved, ll, x);
  EXPECT_NEAR(phase_diff(b, a), std::remainder(-2 * 7.5 + 360.0 * 3 * 12.0 / 100.0, 360.0), 1e-6);
  moved.flipped = true;
  EXPECT_NEAR(std::abs(helixsim::layer_value(moved, ll, x) - std::conj(b)), 0.0, 1e-9);
  helixsim::Particle scaled = p;
  scaled.scale = 1.25f;
  EXPECT_NEAR(std::abs(helixsim::layer_value(scaled, ll, x)), std::abs(helixsim::layer_value(p, ll, 1.25 * x)), 1e-9);
}

TEST(HelixsimTransform, LayerLinesOnTheirRowsWithFriedelMatesBelow) {
  auto p = parse(base + "layer 0 0\nlayer 2 3\nrotate 10\nshift 4\n");
  const auto g = helixsim::geometry_of(p);
  helixsim::Noise quiet(1, 0.0);
  const auto a = helixsim::transform_section(p, g, quiet);
  ASSERT_EQ(a.size(), static_cast<std::size_t>(2 * g.nx * g.ny));
  auto at = [&](int h, int k) {
    const std::size_t i =
        2 * (static_cast<std::size_t>(k) * static_cast<std::size_t>(g.nx) + static_cast<std::size_t>(h));
    return std::complex<double>(a[i], a[i + 1]);
  };
  const helixsim::LayerLine ll{2, 3};
  for (int h : {1, 7, 30}) {
    const double x = h * double(g.convx);
    const auto above = at(h, g.ky + 10);
    const auto below = at(h, g.ky - 10);
    const auto want = helixsim::layer_value(p, ll, x);
    EXPECT_NEAR(std::abs(above - want), 0.0, 1e-4 * std::max(1.0, std::abs(want)));
    // The half plane below the equator holds F(x, -l/c) = conj(F(-x, l/c)).
    const auto mate = std::conj(helixsim::layer_value(p, ll, -x));
    EXPECT_NEAR(std::abs(below - mate), 0.0, 1e-4 * std::max(1.0, std::abs(mate)));
    // Rows off the layer lines are empty.
    EXPECT_EQ(std::abs(at(h, g.ky + 3)), 0.0);
    EXPECT_EQ(std::abs(at(h, g.ky - 7)), 0.0);
  }
  // The equator (n = 0) is real: J_0 with no phase of its own.
  EXPECT_NEAR(at(4, g.ky).imag(), 0.0, 1e-5);
  EXPECT_NEAR(at(0, g.ky).real(), 100.0, 1e-4);
}

TEST(HelixsimNoise, ReproducibleGaussian) {
  helixsim::Noise a(7, 2.0), b(7, 2.0), c(8, 2.0);
  double sum = 0.0, sum2 = 0.0;
  bool differs = false;
  const int count = 20000;
  for (int i = 0; i < count; ++i) {
    const double x = a.next();
    EXPECT_EQ(x, b.next());
    if (x != c.next()) differs = true;
    sum += x;
    sum2 += x * x;
  }
  EXPECT_TRUE(differs);
  // Mean within four standard errors (2/sqrt(20000) = 0.014) of 0, variance within 5% of 4.
  EXPECT_NEAR(sum / count, 0.0, 0.06);
  EXPECT_NEAR(sum2 / count, 4.0, 0.2);
  helixsim::Noise none(7, 0.0);
  EXPECT_EQ(none.next(), 0.0);
}

TEST(HelixsimOutputs, DeckAndGriddedFileReadBack) {
  auto p = parse("title deck test\n" + base + "layer 0 0\nlayer 3 -1\nsamples 25\ngridded near 2\n");
  const auto g = helixsim::geometry_of(p);
  std::istringstream deck(helixsim::deck_text(p, g));
  records::LineSource src(deck, "deck");
  EXPECT_EQ(src.expect("title").text(), "deck test");
  {
    records::FreeRecord r(src);
    EXPECT_EQ(r.integer("lltot"), 2);
    EXPECT_EQ(r.real("sampl"), 5.0f);
    r.real("xshft");
    r.real("yshft");
    EXPECT_EQ(r.real("delr"), g.delr);
    for (const char* w : {"rot", "shear", "tilt"}) EXPECT_EQ(r.real(w), 0.0f);
    EXPECT_EQ(r.real("yfact"), 1.0f);
  }
  {
    records::FreeRecord r(src);
    const float rmin = r.real("rmin");
    const float rmax = r.real("rmax");
    // sidesplit's sample indices: rmin/delr and rmax/delr truncated.
    EXPECT_EQ(static_cast<int>(rmin / g.delr), -25);
    EXPECT_EQ(static_cast<int>(rmax / g.delr), 25);
    EXPECT_EQ(r.integer("idump"), 1);
    EXPECT_EQ(r.integer("merid"), 1);
    EXPECT_EQ(r.integer("iywidth"), 0);
    EXPECT_EQ(r.integer("iphase"), 0);
  }
  {
    records::FreeRecord r(src);
    EXPECT_EQ(r.real("exclusion"), 0.0f);
    EXPECT_EQ(r.integer("izeros"), 0);
  }
  EXPECT_EQ(src.expect("zeros").text(), "");
  for (const auto& ll : p.lines) {
    records::FreeRecord r(src);
    EXPECT_EQ(r.integer("llno"), ll.l);
    EXPECT_EQ(r.integer("nord"), ll.n);
    EXPECT_EQ(r.real("ysp"), static_cast<float>(5 * ll.l));
    records::FreeRecord q(src);
    EXPECT_EQ(q.integer("nl1"), 1);
    EXPECT_EQ(q.integer("nl2"), 25);
    EXPECT_EQ(q.integer("nr1"), 1);
    EXPECT_EQ(q.integer("nr2"), 25);
  }
  EXPECT_FALSE(src.next().has_value());

  std::ostringstream out;
  helixsim::Noise quiet(1, 0.0);
  helixsim::write_gridded(out, p, g, quiet);
  std::istringstream in(out.str());
  records::LineSource gs(in, "gridded");
  const auto h = layerline::read_gridded_header(gs);
  EXPECT_EQ(h.llmax, 2);
  EXPECT_EQ(h.ismin, 1);
  EXPECT_EQ(h.ismax, 51);
  EXPECT_EQ(h.dsr, 1.0f);
  for (const auto& ll : p.lines) {
    const auto re = layerline::read_value_group(gs, h.ismin, h.ismax);
    const auto im = layerline::read_value_group(gs, h.ismin, h.ismax);
    EXPECT_EQ(re.n, ll.n);
    EXPECT_EQ(im.l, ll.l);
    // Near side: the positive-R half for a negative order, sample j at (j-1)*delr/2.
    for (int j : {1, 8, 51}) {
      const auto want = helixsim::layer_value(p, ll, (ll.n < 0 ? 1.0 : -1.0) * (j - 1) * double(g.delr) / 2.0);
      EXPECT_NEAR(re.values[static_cast<std::size_t>(j - 1)], want.real(), 5e-6);
      EXPECT_NEAR(im.values[static_cast<std::size_t>(j - 1)], want.imag(), 5e-6);
    }
  }
}

}  // namespace
