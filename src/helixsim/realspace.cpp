// The real-space model: a helix of identical subunits made of Gaussian blobs, its density map,
// its projection along y and the exact transform of that projection on the layer lines.
//
// The box holds L = H*pixel/c whole repeats, so the projection is periodic along the axis with
// the box height, and its discrete transform (as helixft takes it, summed over pixels) is
// nonzero only on rows l*L, the layer lines. A Gaussian of width w sampled at pixel p sums to
// its integral / p to within exp(-2 pi^2 w^2 / p^2) (the aliased terms), so on layer line l
//     F(X, l/c) = L / p^3 * sum over the blobs j of one repeat of
//                 A w_j (2 pi)^(3/2) s_j^3 exp(-2 pi^2 s_j^2 (X^2 + Z^2)) exp(-2 pi i (X x_j + Z z_j))
// with the phase origin on the axis (x = 0) and at the box's centre row (z = 0).
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <string>
#include <vector>

#include "helixsim/helixsim.hpp"
#include "layerline/pointlist.hpp"

namespace helixsim {

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double degree = pi / 180.0;
// Blobs are evaluated out to this many widths: exp(-7^2/2) is 2e-11 of the peak.
constexpr double reach = 7.0;

// The Gaussian's integral over 3-D space relative to its peak: (2 pi)^(3/2) w^3.
double gaussian_volume(double width) { return std::pow(2.0 * pi, 1.5) * width * width * width; }

// Repeats in the box, the analytic transform's factor L / p^3.
double transform_scale(const Particle& p, const Geometry& g) {
  const double pix = double(p.pixel);
  return double(g.rows_per_layer) / (pix * pix * pix);
}

// Samples of one blob along one axis of the box: exp(-(t - c)^2 / (2 w^2)) at t = (i - n/2) p
// for i = first .. first + values.size() - 1, the samples within `reach` widths.
struct Samples1d {
  std::int32_t first = 0;
  std::vector<double> values;
};

Samples1d samples_of(double centre, double width, std::int32_t n, double pixel) {
  Samples1d s;
  const double half = double(n / 2);
  const double lo = std::ceil((centre - reach * width) / pixel + half);
  const double hi = std::floor((centre + reach * width) / pixel + half);
  const std::int32_t a = static_cast<std::int32_t>(std::max(lo, 0.0));
  const std::int32_t b = static_cast<std::int32_t>(std::min(hi, double(n - 1)));
  s.first = a;
  for (std::int32_t i = a; i <= b; ++i) {
    const double d = (double(i) - half) * pixel - centre;
    s.values.push_back(std::exp(-d * d / (2.0 * width * width)));
  }
  return s;
}

// One blob in the box: its samples along x, y and z.
struct BoxBlob {
  double peak = 0.0;
  Samples1d x, y, z;
};

// Every blob whose reach meets the box: the blobs of one repeat, copied by whole repeats
// along z (the infinite helix seen through the box).
std::vector<BoxBlob> blobs_in_box(const Particle& p) {
  const std::vector<PlacedBlob> one = repeat_blobs(p);
  const double c = double(p.repeat);
  const double pix = double(p.pixel);
  const double zlo = -double(p.height / 2) * pix;
  const double zhi = double(p.height - 1 - p.height / 2) * pix;
  std::vector<BoxBlob> out;
  for (const PlacedBlob& b : one) {
    const double span = reach * b.width;
    const auto mlo = static_cast<std::int64_t>(std::floor((zlo - span - b.z) / c));
    const auto mhi = static_cast<std::int64_t>(std::ceil((zhi + span - b.z) / c));
    for (std::int64_t m = mlo; m <= mhi; ++m) {
      BoxBlob bb;
      bb.peak = b.peak;
      bb.z = samples_of(b.z + double(m) * c, b.width, p.height, pix);
      if (bb.z.values.empty()) continue;
      bb.x = samples_of(b.x, b.width, p.width, pix);
      bb.y = samples_of(b.y, b.width, p.width, pix);
      out.push_back(std::move(bb));
    }
  }
  return out;
}

// The Gaussian form factor of a blob and the phase of its centre at (X, Z) (Y = 0).
std::complex<double> blob_term(const PlacedBlob& b, double X, double Z) {
  const double form =
      b.peak * gaussian_volume(b.width) * std::exp(-2.0 * pi * pi * b.width * b.width * (X * X + Z * Z));
  return std::polar(form, -2.0 * pi * (X * b.x + Z * b.z));
}

}  // namespace

std::vector<Blob> default_subunit() {
  // dr dphi dz width weight: a large blob on the helix, a smaller one outside it, ahead in
  // azimuth and above, and a third inside it, behind and below.
  return {Blob{0.0f, 0.0f, 0.0f, 7.0f, 1.0f}, Blob{9.0f, 14.0f, 9.0f, 6.0f, 0.7f},
          Blob{-7.0f, -12.0f, -5.0f, 5.0f, 0.5f}};
}

std::vector<PlacedBlob> repeat_blobs(const Particle& p) {
  std::vector<PlacedBlob> out;
  const double u = double(p.subunits);
  for (std::int32_t k = 0; k < p.subunits; ++k) {
    const double phik = 360.0 * double(p.turns) * double(k) / u;
    const double zk = double(k) * double(p.repeat) / u;
    for (const Blob& b : p.blobs) {
      const double r = double(p.scale) * (double(p.radius) + double(b.dr));
      // The motion: rho'(r, phi, z) = rho(r, phi + phi0, z - z0).
      const double phi = (phik + double(b.dphi) - double(p.phi0)) * degree;
      PlacedBlob pb;
      pb.x = r * std::cos(phi);
      pb.y = r * std::sin(phi);
      pb.z = zk + double(b.dz) + double(p.z0);
      if (p.flipped) {
        // 180 degrees about y: the particle lies the other way up in the image.
        pb.x = -pb.x;
        pb.z = -pb.z;
      }
      pb.width = double(b.width);
      pb.peak = double(b.weight) * double(p.amplitude);
      out.push_back(pb);
    }
  }
  return out;
}

std::complex<double> real_transform(const Particle& p, const Geometry& g, double X, double Z) {
  std::complex<double> sum{0.0, 0.0};
  for (const PlacedBlob& b : repeat_blobs(p)) sum += blob_term(b, X, Z);
  return transform_scale(p, g) * sum;
}

std::complex<double> bessel_term(const Particle& p, const Geometry& g, std::int32_t n, std::int32_t l, double R) {
  const double Z = double(l) / double(p.repeat);
  std::complex<double> sum{0.0, 0.0};
  for (const PlacedBlob& b : repeat_blobs(p)) {
    const double r = std::hypot(b.x, b.y);
    const double phi = std::atan2(b.y, b.x);
    const double form =
        b.peak * gaussian_volume(b.width) * std::exp(-2.0 * pi * pi * b.width * b.width * (R * R + Z * Z));
    sum += std::polar(form * bessel_j(n, 2.0 * pi * R * r), -(double(n) * phi + 2.0 * pi * Z * b.z));
  }
  return transform_scale(p, g) * sum;
}

std::vector<float> density_map(const Particle& p) {
  const auto w = static_cast<std::size_t>(p.width);
  const auto h = static_cast<std::size_t>(p.height);
  const std::vector<BoxBlob> blobs = blobs_in_box(p);
  std::vector<float> map(w * w * h, 0.0f);
  std::vector<double> section(w * w);
  for (std::size_t iz = 0; iz < h; ++iz) {
    std::fill(section.begin(), section.end(), 0.0);
    for (const BoxBlob& b : blobs) {
      const auto k = static_cast<std::int64_t>(iz) - b.z.first;
      if (k < 0 || k >= static_cast<std::int64_t>(b.z.values.size())) continue;
      const double fz = b.peak * b.z.values[static_cast<std::size_t>(k)];
      for (std::size_t j = 0; j < b.y.values.size(); ++j) {
        const double fyz = fz * b.y.values[j];
        double* row =
            section.data() + (static_cast<std::size_t>(b.y.first) + j) * w + static_cast<std::size_t>(b.x.first);
        for (std::size_t i = 0; i < b.x.values.size(); ++i) row[i] += fyz * b.x.values[i];
      }
    }
    for (std::size_t v = 0; v < w * w; ++v) map[iz * w * w + v] = static_cast<float>(section[v]);
  }
  return map;
}

std::vector<float> projection_image(const Particle& p) {
  const auto w = static_cast<std::size_t>(p.width);
  const auto h = static_cast<std::size_t>(p.height);
  std::vector<double> sum(w * h, 0.0);
  for (const BoxBlob& b : blobs_in_box(p)) {
    double along_y = 0.0;
    for (const double v : b.y.values) along_y += v;
    for (std::size_t k = 0; k < b.z.values.size(); ++k) {
      const double fz = b.peak * b.z.values[k] * along_y;
      double* row = sum.data() + (static_cast<std::size_t>(b.z.first) + k) * w + static_cast<std::size_t>(b.x.first);
      for (std::size_t i = 0; i < b.x.values.size(); ++i) row[i] += fz * b.x.values[i];
    }
  }
  std::vector<float> image(w * h);
  for (std::size_t v = 0; v < w * h; ++v) image[v] = static_cast<float>(sum[v]);
  return image;
}

void add_projection_noise(const Particle& p, std::vector<float>& image) {
  if (!(p.snr > 0.0f) || image.empty()) return;
  double mean = 0.0;
  for (const float v : image) mean += double(v);
  mean /= double(image.size());
  double var = 0.0;
  for (const float v : image) var += (double(v) - mean) * (double(v) - mean);
  var /= double(image.size());
  Noise noise(p.snr_seed, std::sqrt(var / double(p.snr)));
  for (float& v : image) v = static_cast<float>(double(v) + noise.next());
}

std::string analytic_side(const Particle& p, const Geometry& g, Side side) {
  std::string out;
  const double column = 1.0 / (double(g.width) * double(p.pixel));
  for (const LayerLine& ll : p.lines) {
    const float ysp = static_cast<float>(ll.l * g.rows_per_layer);
    out += layerline::sidesplit_label(p.title, ll.l, side == Side::Near, ysp) + "\n";
    out += layerline::parameter_record(1.0f, ll.n, ll.l) + "\n";
    // The near side holds the negative-X half when n >= 0, the positive-X half otherwise.
    const bool negative = (side == Side::Near) == (ll.n >= 0);
    const double Z = double(ll.l) / double(p.repeat);
    for (std::int32_t i = 1; i <= g.samples; ++i) {
      const float r = static_cast<float>(negative ? -i : i) * g.delr;
      const std::complex<double> v = real_transform(p, g, (negative ? -1.0 : 1.0) * double(i) * column, Z);
      const float amp = static_cast<float>(std::abs(v));
      const float phase = v == std::complex<double>{} ? 0.0f : static_cast<float>(std::arg(v) / degree);
      out += layerline::point_record(layerline::Point{std::fabs(r), amp, phase}) + "\n";
    }
    out += layerline::terminator_record() + "\n";
  }
  return out;
}

}  // namespace helixsim
