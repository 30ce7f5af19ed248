// The layer-line values of the synthetic particle, its transform, deck and gridded file.
#include <cmath>
#include <complex>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "helix/bessel.hpp"
#include "helix/motion.hpp"
#include "helix/sides.hpp"
#include "helixsim/helixsim.hpp"
#include "layerline/gridded.hpp"
#include "records/forms.hpp"

namespace helixsim {

namespace {

constexpr double pi = 3.14159265358979323846;

}  // namespace

std::complex<double> layer_value(const Particle& p, const LayerLine& ll, double x) {
  if (p.real_model) return real_transform(p, placed_blobs(p), x, double(ll.l) / double(p.repeat));
  const double arg = 2.0 * pi * x * double(p.scale) * double(p.radius);
  const double theta_deg = helix::motion_phase(ll.n, ll.l, p.phi0, p.z0, p.repeat);
  const std::complex<double> turn = std::polar(1.0, theta_deg * pi / 180.0);
  // i^n J_n(2 pi X s r0) at signed X is transform_factor(n, X) G with G = (-1)^n J_n(2 pi |X| s r0).
  std::complex<double> v = double(p.amplitude) * helix::i_power(ll.n) * helix::bessel_j(ll.n, arg) * turn;
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

GriddedLine gridded_line(const Particle& p, const Geometry& g, const LayerLine& ll, Noise& noise) {
  // The half of the layer line that sidesplit writes to the chosen side's file.
  const bool negative_half = helix::x_sign(ll.n, p.gridded_side) < 0.0;
  GriddedLine out;
  for (std::int32_t j = 1; j <= g.grid_points; ++j) {
    const double r = double(j - 1) * double(g.delr) / double(p.gridded_fine);
    const std::complex<double> v = layer_value(p, ll, negative_half ? -r : r);
    out.re.push_back(static_cast<float>(v.real() + noise.next()));
    out.im.push_back(static_cast<float>(v.imag() + noise.next()));
  }
  return out;
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
  layerline::GriddedHeader h;
  h.title = p.title;
  h.llmax = static_cast<std::int32_t>(p.lines.size());
  h.ismin = 1;
  h.ismax = g.grid_points;
  h.dsr = 1.0f;  // the radial unit is one gridded step, delr/gridded_fine
  layerline::write_gridded_header(out, h);
  for (const LayerLine& ll : p.lines) {
    const GriddedLine v = gridded_line(p, g, ll, noise);
    layerline::write_value_group(out, ll.n, ll.l, v.re);
    layerline::write_value_group(out, ll.n, ll.l, v.im);
  }
}

}  // namespace helixsim
