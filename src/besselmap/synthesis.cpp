#include "besselmap/synthesis.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

#include "adapters/fft.hpp"
#include "helix/sides.hpp"

namespace besselmap {
namespace {

constexpr double pi = std::numbers::pi;
using cd = std::complex<double>;

// Cubic convolution weights (a = -1/2) of the four samples around fraction t in [0, 1).
void keys_weights(double t, double w[4]) {
  const double t2 = t * t, t3 = t2 * t;
  w[0] = -0.5 * t3 + t2 - 0.5 * t;
  w[1] = 1.5 * t3 - 2.5 * t2 + 1.0;
  w[2] = -1.5 * t3 + 2.0 * t2 + 0.5 * t;
  w[3] = 0.5 * t3 - 0.5 * t2;
}

// The smallest even 2^a 3^b 5^c at least n.
std::int32_t good_size(std::int32_t n) {
  for (std::int32_t m = std::max(n, 2);; ++m) {
    if (m % 2 != 0) continue;
    std::int32_t k = m;
    for (std::int32_t f : {2, 3, 5})
      while (k % f == 0) k /= f;
    if (k == 1) return m;
  }
}

// The polar grid: rings at k * dr, each of P_k angles.
struct Polar {
  double dr = 0.0;
  std::vector<std::int32_t> size;   // P_k
  std::vector<std::size_t> offset;  // start of ring k in a section of the polar grid
  std::size_t points = 0;
};

Polar polar_grid(const Setup& s, std::int32_t mmax) {
  Polar g;
  // Four samples a period at the resolution limit, and never coarser than half a voxel.
  g.dr = std::min(s.voxel / 2.0, 1.0 / (4.0 * s.smax));
  const double corner = std::sqrt(2.0) * (s.nx / 2 + 1) * s.voxel;
  const auto rings = static_cast<std::int32_t>(std::ceil(corner / g.dr)) + 3;
  for (std::int32_t k = 0; k < rings; ++k) {
    const auto arc = static_cast<std::int32_t>(std::ceil(2.0 * pi * k));  // arc step dr
    const std::int32_t p = good_size(std::max(2 * mmax + 2, arc));
    g.offset.push_back(g.points);
    g.size.push_back(p);
    g.points += static_cast<std::size_t>(p);
  }
  return g;
}

std::vector<double> ring_radii(const Polar& g) {
  std::vector<double> r(g.size.size());
  for (std::size_t k = 0; k < r.size(); ++k) r[k] = double(k) * g.dr;
  return r;
}

std::vector<std::int32_t> orders_of(const std::vector<LayerLine>& lines) {
  std::vector<std::int32_t> o;
  for (const LayerLine& ll : lines) o.push_back(ll.n);
  return o;
}

}  // namespace

double resolution_weight(const Setup& s, double frequency) {
  if (frequency >= s.smax) return 0.0;
  const double start = s.smax - s.edge;
  if (frequency <= start) return 1.0;
  return 0.5 * (1.0 + std::cos(pi * (frequency - start) / s.edge));
}

double largest_argument(const std::vector<LayerLine>& lines, const Setup& s, double rmax) {
  double rr = 0.0;
  for (const LayerLine& ll : lines)
    for (double R : ll.radius) rr = std::max(rr, std::min(R, s.smax));
  return 2.0 * pi * rr * rmax;
}

std::vector<cd> radial_function(const LayerLine& ll, const Setup& s, const helix::BesselTable& j,
                                const std::vector<double>& r) {
  const std::size_t m = ll.radius.size();
  const double z = ll.l / s.repeat;
  // Trapezoid weights on the samples, the integrand (a factor R) being 0 at R = 0.
  std::vector<cd> c(m);
  for (std::size_t i = 0; i < m; ++i) {
    const double left = i == 0 ? 0.0 : ll.radius[i - 1];
    const double right = i + 1 < m ? ll.radius[i + 1] : ll.radius[i];
    const double w = 0.5 * (right - left);
    const double R = ll.radius[i];
    c[i] = 2.0 * pi * w * R * resolution_weight(s, std::sqrt(R * R + z * z)) * helix::g_from_near(ll.n) * ll.near[i];
  }
  std::vector<cd> g(r.size());
  for (std::size_t k = 0; k < r.size(); ++k) {
    cd sum{0.0, 0.0};
    for (std::size_t i = 0; i < m; ++i) {
      if (c[i] == cd{0.0, 0.0}) continue;
      sum += c[i] * j(ll.n, 2.0 * pi * ll.radius[i] * r[k]);
    }
    g[k] = sum;
  }
  return g;
}

RadialTable radial_table(const std::vector<LayerLine>& lines, const Setup& s) {
  std::int32_t mmax = 0;
  for (const LayerLine& ll : lines) mmax = std::max(mmax, std::abs(ll.n));
  const Polar grid = polar_grid(s, mmax);
  RadialTable t;
  t.r = ring_radii(grid);
  const helix::BesselTable j(orders_of(lines), largest_argument(lines, s, t.r.back()));
  for (const LayerLine& ll : lines) t.g.push_back(radial_function(ll, s, j, t.r));
  return t;
}

std::vector<float> synthesize(const std::vector<LayerLine>& lines, const Setup& s) {
  std::int32_t mmax = 0;
  for (const LayerLine& ll : lines) mmax = std::max(mmax, std::abs(ll.n));
  const Polar grid = polar_grid(s, mmax);
  const std::vector<double> radii = ring_radii(grid);
  const helix::BesselTable j(orders_of(lines), largest_argument(lines, s, radii.back()));

  // The terms of non-negative order: each layer line (n, l) and its conjugate (-n, -l).
  struct Term {
    std::int32_t m, l;
    std::vector<cd> g;
  };
  std::vector<Term> terms;
  for (const LayerLine& ll : lines) {
    std::vector<cd> g = radial_function(ll, s, j, radii);
    if (ll.l == 0 && ll.n == 0) {
      for (cd& v : g) v = cd{v.real(), 0.0};
      terms.push_back({0, 0, g});
      continue;
    }
    // The equator of a projection holds the orders n and -n together.
    if (ll.l == 0)
      for (cd& v : g) v *= 0.5;
    std::vector<cd> conj_g(g.size());
    for (std::size_t k = 0; k < g.size(); ++k) conj_g[k] = std::conj(g[k]);
    if (ll.n >= 0) terms.push_back({ll.n, ll.l, g});
    if (-ll.n >= 0) terms.push_back({-ll.n, -ll.l, conj_g});
  }

  // Interpolation taps of every pixel of a section, the same for every section.
  const std::int32_t nx = s.nx, c0 = nx / 2;
  constexpr int taps = 16;
  const std::size_t pixels = static_cast<std::size_t>(nx) * static_cast<std::size_t>(nx);
  std::vector<std::uint32_t> index(pixels * taps);
  std::vector<float> weight(pixels * taps);
  for (std::int32_t iy = 0; iy < nx; ++iy)
    for (std::int32_t ix = 0; ix < nx; ++ix) {
      const double x = (ix - c0) * s.voxel, y = (iy - c0) * s.voxel;
      const double r = std::hypot(x, y);
      const double phi = std::atan2(y, x);
      double outer = 1.0;
      if (s.outer > 0.0 && r > s.outer) {
        const double edge = 2.0 * s.voxel;
        outer = r >= s.outer + edge ? 0.0 : 0.5 * (1.0 + std::cos(pi * (r - s.outer) / edge));
      }
      const double u = r / grid.dr;
      const auto k0 = static_cast<std::int32_t>(std::floor(u));
      double wr[4];
      keys_weights(u - k0, wr);
      const std::size_t p = static_cast<std::size_t>(iy) * static_cast<std::size_t>(nx) + static_cast<std::size_t>(ix);
      for (int a = 0; a < 4; ++a) {
        std::int32_t k = k0 - 1 + a;
        double angle = phi;
        // Ring -k at angle phi is ring k at phi + pi.
        if (k < 0) {
          k = -k;
          angle += pi;
        }
        const std::int32_t size = grid.size[static_cast<std::size_t>(k)];
        double v = angle / (2.0 * pi) * size;
        v -= std::floor(v / size) * size;
        const auto a0 = static_cast<std::int32_t>(std::floor(v));
        double wa[4];
        keys_weights(v - a0, wa);
        for (int b = 0; b < 4; ++b) {
          const std::int32_t at = ((a0 - 1 + b) % size + size) % size;
          const std::size_t t = p * taps + static_cast<std::size_t>(a * 4 + b);
          index[t] =
              static_cast<std::uint32_t>(grid.offset[static_cast<std::size_t>(k)] + static_cast<std::size_t>(at));
          weight[t] = static_cast<float>(wr[a] * wa[b] * outer);
        }
      }
    }

  std::vector<float> map(pixels * static_cast<std::size_t>(s.nz));
  std::vector<float> polar(grid.points);
  std::vector<float> line;
  for (std::int32_t iz = 0; iz < s.nz; ++iz) {
    const double z = (iz - s.nz / 2) * s.voxel;
    std::vector<cd> turn(terms.size());
    for (std::size_t t = 0; t < terms.size(); ++t) turn[t] = std::polar(1.0, 2.0 * pi * terms[t].l * z / s.repeat);
    for (std::size_t k = 0; k < radii.size(); ++k) {
      const std::int32_t size = grid.size[k];
      line.assign(static_cast<std::size_t>(size) + 2, 0.0f);
      std::vector<cd> spectrum(static_cast<std::size_t>(size / 2 + 1));
      for (std::size_t t = 0; t < terms.size(); ++t)
        spectrum[static_cast<std::size_t>(terms[t].m)] += terms[t].g[k] * turn[t];
      // The inverse transform divides by the number of angles: the sum itself is wanted.
      for (std::size_t m = 0; m < spectrum.size(); ++m) {
        line[2 * m] = static_cast<float>(spectrum[m].real() * size);
        line[2 * m + 1] = m == 0 ? 0.0f : static_cast<float>(spectrum[m].imag() * size);
      }
      adapters::odfft(line.data(), size, 1, 1);
      std::copy_n(line.data(), size, polar.data() + grid.offset[k]);
    }
    float* section = map.data() + static_cast<std::size_t>(iz) * pixels;
    for (std::size_t p = 0; p < pixels; ++p) {
      float v = 0.0f;
      for (int t = 0; t < taps; ++t)
        v += weight[p * taps + static_cast<std::size_t>(t)] * polar[index[p * taps + static_cast<std::size_t>(t)]];
      section[p] = v;
    }
  }
  return map;
}

}  // namespace besselmap
