// The layer-line values of the synthetic particle, its transform, deck and gridded file.
#include <cmath>
#include <complex>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "helixsim/helixsim.hpp"
#include "layerline/gridded.hpp"
#include "records/forms.hpp"

namespace helixsim {

namespace {

constexpr double pi = 3.14159265358979323846;

// i^n for any integer n.
std::complex<double> i_power(std::int32_t n) {
  switch (((n % 4) + 4) % 4) {
    case 0:
      return {1.0, 0.0};
    case 1:
      return {0.0, 1.0};
    case 2:
      return {-1.0, 0.0};
    default:
      return {0.0, -1.0};
  }
}

}  // namespace

double bessel_j(std::int32_t n, double x) {
  const std::int32_t m = n < 0 ? -n : n;
  double v = std::cyl_bessel_j(static_cast<double>(m), std::abs(x));
  // J_-m = (-1)^m J_m and J_m(-x) = (-1)^m J_m(x).
  if (m % 2 == 1 && n < 0) v = -v;
  if (m % 2 == 1 && x < 0.0) v = -v;
  return v;
}

std::complex<double> layer_value(const Particle& p, const LayerLine& ll, double x) {
  const double arg = 2.0 * pi * x * double(p.scale) * double(p.radius);
  const double theta_deg = double(ll.n) * double(p.phi0) - 360.0 * double(ll.l) * double(p.z0) / double(p.repeat);
  const std::complex<double> turn = std::polar(1.0, theta_deg * pi / 180.0);
  std::complex<double> v = double(p.amplitude) * i_power(ll.n) * bessel_j(ll.n, arg) * turn;
  return p.flipped ? std::conj(v) : v;
}

double Noise::next() {
  if (sigma_ == 0.0) return 0.0;
  if (have_spare_) {
    have_spare_ = false;
    return sigma_ * spare_;
  }
  // Two uniform numbers in (0, 1], then the Box-Muller pair.
  const double u1 = (static_cast<double>(gen_()) + 1.0) / 4294967296.0;
  const double u2 = (static_cast<double>(gen_()) + 1.0) / 4294967296.0;
  const double r = std::sqrt(-2.0 * std::log(u1));
  spare_ = r * std::sin(2.0 * pi * u2);
  have_spare_ = true;
  return sigma_ * r * std::cos(2.0 * pi * u2);
}

std::vector<float> transform_section(const Particle& p, const Geometry& g, Noise& noise) {
  std::vector<float> a(static_cast<std::size_t>(2) * static_cast<std::size_t>(g.nx) * static_cast<std::size_t>(g.ny),
                       0.0f);
  // The layer line on each row above the equator (l) and below it (-l), if any.
  std::vector<const LayerLine*> on_row(static_cast<std::size_t>(g.ny), nullptr);
  for (const LayerLine& ll : p.lines) {
    on_row[static_cast<std::size_t>(g.ky + ll.l * g.rows_per_layer)] = &ll;
    on_row[static_cast<std::size_t>(g.ky - ll.l * g.rows_per_layer)] = &ll;
  }
  for (std::int32_t k = 0; k < g.ny; ++k) {
    const LayerLine* ll = on_row[static_cast<std::size_t>(k)];
    const bool below = k < g.ky;
    for (std::int32_t h = 0; h < g.nx; ++h) {
      std::complex<double> v{0.0, 0.0};
      if (ll != nullptr) {
        const double x = double(h) * double(g.convx);
        // Below the equator the half plane holds the Friedel mates of the layer line above:
        // F(x, -l/c) = conj(F(-x, l/c)), the transform of a real image.
        v = below ? std::conj(layer_value(p, *ll, -x)) : layer_value(p, *ll, x);
      }
      const double re = v.real() + noise.next();
      const double im = v.imag() + noise.next();
      const std::size_t at =
          2 * (static_cast<std::size_t>(k) * static_cast<std::size_t>(g.nx) + static_cast<std::size_t>(h));
      a[at] = static_cast<float>(re);
      a[at + 1] = static_cast<float>(im);
    }
  }
  return a;
}

namespace {

GriddedLine gridded_values(const Particle& p, const Geometry& g, const LayerLine& ll, const LayerValue& value,
                           Noise& noise) {
  // sidesplit writes the negative-R half to the near-side file, the positive-R half when the
  // Bessel order is negative.
  const bool negative_half = (p.gridded_side == Side::Near) == (ll.n >= 0);
  GriddedLine out;
  for (std::int32_t j = 1; j <= g.grid_points; ++j) {
    const double r = double(j - 1) * double(g.delr) / double(p.gridded_fine);
    const std::complex<double> v = value(ll, negative_half ? -r : r);
    out.re.push_back(static_cast<float>(v.real() + noise.next()));
    out.im.push_back(static_cast<float>(v.imag() + noise.next()));
  }
  return out;
}

}  // namespace

GriddedLine gridded_line(const Particle& p, const Geometry& g, const LayerLine& ll, Noise& noise) {
  return gridded_values(
      p, g, ll, [&p](const LayerLine& line, double x) { return layer_value(p, line, x); }, noise);
}

std::string deck_text(const Particle& p, const Geometry& g) {
  std::string s = p.title + "\n";  // the first 40 columns
  const float zero = 0.0f;
  const std::int32_t lltot = static_cast<std::int32_t>(p.lines.size());
  // lltot sampl xshft yshft delr rot shear tilt yfact
  s += (records::FreeLine() << lltot << p.pixel << zero << zero << g.delr << zero << zero << zero << 1.0f).str() + "\n";
  // rmin and rmax half a step beyond the last sample, so that their quotients by delr
  // truncate to the sample indices. idump 1, merid 1 (one block a layer line), iywidth 0,
  // iphase 0.
  const float rmax = (static_cast<float>(g.samples) + 0.5f) * g.delr;
  const std::int32_t one = 1;
  const std::int32_t none = 0;
  s += (records::FreeLine() << -rmax << rmax << one << one << none << none).str() + "\n";
  s += (records::FreeLine() << zero << none).str() + "\n";  // no CTF zeros
  s += "\n";                                                // the (empty) list of CTF zeros
  for (const LayerLine& ll : p.lines) {
    const float ysp = static_cast<float>(ll.l * g.rows_per_layer);
    s += (records::FreeLine() << ll.l << ll.n << ysp).str() + "\n";
    s += (records::FreeLine() << one << g.samples << one << g.samples).str() + "\n";
  }
  return s;
}

void write_gridded(std::ostream& out, const Particle& p, const Geometry& g, Noise& noise) {
  write_gridded(
      out, p, g, [&p](const LayerLine& line, double x) { return layer_value(p, line, x); }, noise);
}

void write_gridded(std::ostream& out, const Particle& p, const Geometry& g, const LayerValue& value, Noise& noise) {
  layerline::GriddedHeader h;
  h.title = p.title;
  h.llmax = static_cast<std::int32_t>(p.lines.size());
  h.ismin = 1;
  h.ismax = g.grid_points;
  h.dsr = 1.0f;  // the radial unit is one gridded step, delr/gridded_fine
  layerline::write_gridded_header(out, h);
  for (const LayerLine& ll : p.lines) {
    const GriddedLine v = gridded_values(p, g, ll, value, noise);
    layerline::write_value_group(out, ll.n, ll.l, v.re);
    layerline::write_value_group(out, ll.n, ll.l, v.im);
  }
}

}  // namespace helixsim
