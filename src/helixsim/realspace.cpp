// The real-space model of helixsim: a helix of subunits, each a few Gaussian blobs, its density
// map, projection and analytic transform.
#include <cmath>
#include <complex>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "adapters/fft.hpp"
#include "helix/rule.hpp"
#include "helix/sides.hpp"
#include "helixsim/helixsim.hpp"
#include "layerline/pointlist.hpp"

namespace helixsim {

namespace {

constexpr double pi = 3.14159265358979323846;

// Blobs are drawn out to this many widths from their centres (exp(-18) of the peak beyond).
constexpr double reach = 6.0;

}  // namespace

std::vector<Blob> subunit_of(const Particle& p) {
  if (!p.blobs.empty()) return p.blobs;
  // Three blobs of different sizes, none related to another by a two-fold axis across the
  // helix: the outer one above and ahead, the inner one slightly above and behind.
  const float a = p.pixel;
  return {Blob{0.0f, 0.0f, 0.0f, 2.0f * a, 1.0f}, Blob{2.5f * a, 6.0f, 3.0f * a, 1.6f * a, 0.7f},
          Blob{-2.0f * a, -8.0f, 1.0f * a, 1.6f * a, 0.45f}};
}

std::vector<PlacedBlob> placed_blobs(const Particle& p) {
  const std::vector<Blob> sub = subunit_of(p);
  const double c = double(p.repeat);
  const std::int64_t repeats = std::lround(double(p.height) * double(p.pixel) / c);
  const std::int64_t count = std::int64_t(p.rule_u < 0 ? -p.rule_u : p.rule_u) * repeats;
  const helix::Rule rule{p.rule_u, p.rule_t};
  std::vector<PlacedBlob> out;
  out.reserve(static_cast<std::size_t>(count) * sub.size());
  for (std::int64_t k = 0; k < count; ++k) {
    const double phik = helix::subunit_azimuth(rule, k);
    const double zk = helix::subunit_height(rule, k, c);
    for (const Blob& b : sub) {
      const double r = double(p.scale) * (double(p.radius) + double(b.dr));
      const double phi = (phik + double(b.dphi) - double(p.phi0)) * pi / 180.0;
      PlacedBlob q;
      q.x = r * std::cos(phi);
      q.y = r * std::sin(phi);
      q.z = zk + double(b.dz) + double(p.z0);
      if (p.flipped) {
        q.x = -q.x;
        q.z = -q.z;
      }
      // rho(r/s) stretches each blob across the axis by s, not along it
      q.width = std::abs(double(p.scale)) * double(b.width);
      q.width_z = double(b.width);
      q.weight = double(b.weight);
      out.push_back(q);
    }
  }
  return out;
}

std::complex<double> real_transform(const Particle& p, const std::vector<PlacedBlob>& blobs, double x, double z) {
  const double vox = double(p.pixel) * double(p.pixel) * double(p.pixel);
  std::complex<double> sum{0.0, 0.0};
  for (const PlacedBlob& b : blobs) {
    const double w2 = b.width * b.width, wz2 = b.width_z * b.width_z;
    const double amp = b.weight * std::pow(2.0 * pi, 1.5) * w2 * b.width_z / vox *
                       std::exp(-2.0 * pi * pi * (w2 * x * x + wz2 * z * z));
    sum += std::polar(amp, -2.0 * pi * (x * b.x + z * b.z));
  }
  return sum;
}

namespace {

// A blob's Gaussian factors along one direction over the voxels it reaches: f[i] at voxel
// first + i, centre in Angstroms from the voxel `origin`.
void blob_factors(double centre, std::int64_t origin, double width, double a, std::int64_t& first,
                  std::vector<double>& f) {
  const std::int64_t k = static_cast<std::int64_t>(std::ceil(reach * width / a));
  const std::int64_t mid = static_cast<std::int64_t>(std::floor(centre / a)) + origin;
  first = mid - k;
  f.clear();
  for (std::int64_t i = first; i <= mid + k; ++i) {
    const double d = double(i - origin) * a - centre;
    f.push_back(std::exp(-d * d / (2.0 * width * width)));
  }
}

// A blob's factors along x, y and z over the voxels of a width x width x height box, the axis
// through column and row width/2, z = 0 at section height/2.
struct BlobFactors {
  std::int64_t x0 = 0, y0 = 0, z0 = 0;  // the first voxel of each
  std::vector<double> fx, fy, fz;
  void of(const Particle& p, const PlacedBlob& b) {
    const double a = double(p.pixel);
    blob_factors(b.x, p.width / 2, b.width, a, x0, fx);
    blob_factors(b.y, p.width / 2, b.width, a, y0, fy);
    blob_factors(b.z, p.height / 2, b.width_z, a, z0, fz);
  }
};

}  // namespace

std::vector<float> density_map(const Particle& p, const std::vector<PlacedBlob>& blobs) {
  const std::int64_t n = p.width, nz = p.height;
  std::vector<double> rho(static_cast<std::size_t>(n * n * nz), 0.0);
  BlobFactors f;
  auto& [x0, y0, z0, fx, fy, fz] = f;
  for (const PlacedBlob& b : blobs) {
    // The Gaussian is separable: one factor a direction over the voxels it reaches.
    f.of(p, b);
    for (std::size_t iz = 0; iz < fz.size(); ++iz) {
      const std::int64_t sz = (((z0 + std::int64_t(iz)) % nz) + nz) % nz;  // wrapped along the axis
      for (std::size_t iy = 0; iy < fy.size(); ++iy) {
        const std::int64_t sy = y0 + std::int64_t(iy);
        if (sy < 0 || sy >= n) continue;
        const double wyz = b.weight * fz[iz] * fy[iy];
        double* row = &rho[static_cast<std::size_t>((sz * n + sy) * n)];
        for (std::size_t ix = 0; ix < fx.size(); ++ix) {
          const std::int64_t sx = x0 + std::int64_t(ix);
          if (sx >= 0 && sx < n) row[sx] += wyz * fx[ix];
        }
      }
    }
  }
  return std::vector<float>(rho.begin(), rho.end());
}

std::vector<float> project_blobs(const Particle& p, const std::vector<PlacedBlob>& blobs) {
  const std::int64_t n = p.width, nz = p.height;
  std::vector<double> proj(static_cast<std::size_t>(n * nz), 0.0);
  BlobFactors f;
  auto& [x0, y0, z0, fx, fy, fz] = f;
  for (const PlacedBlob& b : blobs) {
    // The sum along y of a separable blob is its y factors' sum over the rows inside the box.
    f.of(p, b);
    double sy = 0.0;
    for (std::size_t iy = 0; iy < fy.size(); ++iy)
      if (y0 + std::int64_t(iy) >= 0 && y0 + std::int64_t(iy) < n) sy += fy[iy];
    for (std::size_t iz = 0; iz < fz.size(); ++iz) {
      const std::int64_t sz = (((z0 + std::int64_t(iz)) % nz) + nz) % nz;  // wrapped along the axis
      const double wz = b.weight * fz[iz] * sy;
      double* row = &proj[static_cast<std::size_t>(sz * n)];
      for (std::size_t ix = 0; ix < fx.size(); ++ix) {
        const std::int64_t sx = x0 + std::int64_t(ix);
        if (sx >= 0 && sx < n) row[sx] += wz * fx[ix];
      }
    }
  }
  return std::vector<float>(proj.begin(), proj.end());
}

std::vector<float> project_map(const Particle& p, const std::vector<float>& density) {
  const std::size_t n = static_cast<std::size_t>(p.width), nz = static_cast<std::size_t>(p.height);
  std::vector<float> out(n * nz, 0.0f);
  for (std::size_t iz = 0; iz < nz; ++iz)
    for (std::size_t ix = 0; ix < n; ++ix) {
      double s = 0.0;
      for (std::size_t iy = 0; iy < n; ++iy) s += double(density[(iz * n + iy) * n + ix]);
      out[iz * n + ix] = static_cast<float>(s);
    }
  return out;
}

void apply_ctf(const Particle& p, std::vector<float>& projection) {
  const std::int32_t nx = p.width, ny = p.height, nh = nx / 2 + 1;
  const std::size_t slot = std::size_t(nx) + 2;
  std::vector<float> work(slot * std::size_t(ny), 0.0f);
  for (std::int32_t y = 0; y < ny; ++y)
    for (std::int32_t x = 0; x < nx; ++x)
      work[std::size_t(y) * slot + std::size_t(x)] = projection[std::size_t(y) * std::size_t(nx) + std::size_t(x)];
  adapters::todfft(work.data(), nx, ny, 0);
  const ctf::Ctf c(p.ctf);
  const double ax = 1.0 / (double(nx) * double(p.pixel)), az = 1.0 / (double(ny) * double(p.pixel));
  for (std::int32_t k = 0; k < ny; ++k) {
    const double z = double(k <= ny / 2 ? k : k - ny) * az;
    float* row = &work[2 * std::size_t(k) * std::size_t(nh)];
    for (std::int32_t h = 0; h < nh; ++h) {
      const float f = static_cast<float>(c.value(double(h) * ax, z));
      row[2 * h] *= f;
      row[2 * h + 1] *= f;
    }
  }
  adapters::todfft(work.data(), nx, ny, 1);
  for (std::int32_t y = 0; y < ny; ++y)
    for (std::int32_t x = 0; x < nx; ++x)
      projection[std::size_t(y) * std::size_t(nx) + std::size_t(x)] = work[std::size_t(y) * slot + std::size_t(x)];
}

void write_sides(std::ostream& near, std::ostream& far, const Particle& p, const Geometry& g) {
  const std::vector<PlacedBlob> blobs = placed_blobs(p);
  for (const LayerLine& ll : p.lines) {
    const double z = double(ll.l) / double(p.repeat);
    const float ysp = static_cast<float>(ll.l * g.rows_per_layer);
    std::vector<layerline::Point> neg, pos;
    for (std::int32_t k = 1; k <= g.samples; ++k) {
      const float r = static_cast<float>(k) * g.delr;  // as sidesplit steps along the layer line
      for (int side = 0; side < 2; ++side) {
        const double x = side == 0 ? -double(r) : double(r);
        const std::complex<double> v = real_transform(p, blobs, x, z);
        const float phase = std::abs(v) == 0.0 ? 0.0f : static_cast<float>(std::arg(v) * 180.0 / pi);
        (side == 0 ? neg : pos).push_back(layerline::Point{r, static_cast<float>(std::abs(v)), phase});
      }
    }
    const bool neg_near = helix::near_is_negative_x(ll.n);
    layerline::write_block(near, layerline::sidesplit_label(p.title, ll.l, true, ysp), 1.0f, ll.n, ll.l,
                           neg_near ? neg : pos);
    layerline::write_block(far, layerline::sidesplit_label(p.title, ll.l, false, ysp), 1.0f, ll.n, ll.l,
                           neg_near ? pos : neg);
  }
}

}  // namespace helixsim
