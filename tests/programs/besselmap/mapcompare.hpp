// Comparing a synthesised map with a ground-truth density: the truth limited to the map's
// resolution by besselmap's own soft edge (through the 3-D transform), the correlation inside
// a radius with the truth and with its mirror image, and mapfsc's curve read back.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "adapters/fft.hpp"
#include "besselmap/synthesis.hpp"

namespace mapcompare {

inline double correlation(const std::vector<double>& a, const std::vector<double>& b) {
  double ma = 0, mb = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    ma += a[i];
    mb += b[i];
  }
  ma /= double(a.size());
  mb /= double(b.size());
  double ab = 0, aa = 0, bb = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    ab += (a[i] - ma) * (b[i] - mb);
    aa += (a[i] - ma) * (a[i] - ma);
    bb += (b[i] - mb) * (b[i] - mb);
  }
  return ab / std::sqrt(aa * bb);
}

// An nx x nx x nz map of voxel size p with every frequency weighted as besselmap weights it at
// resolution res (edge 0.1/res).
inline std::vector<float> limited(std::vector<float> map, int nx, int nz, double p, double res) {
  besselmap::Setup setup;
  setup.smax = 1.0 / res;
  setup.edge = 0.1 * setup.smax;
  const int h = nx / 2 + 1;
  std::vector<float> spectrum(2 * static_cast<std::size_t>(h) * std::size_t(nx) * std::size_t(nz));
  adapters::rfft3d_forward(map.data(), spectrum.data(), nx, nx, nz);
  for (int kz = 0; kz < nz; ++kz)
    for (int ky = 0; ky < nx; ++ky)
      for (int kx = 0; kx < h; ++kx) {
        const double fz = (kz <= nz / 2 ? kz : kz - nz) / (nz * p), fy = (ky <= nx / 2 ? ky : ky - nx) / (nx * p),
                     fx = kx / (nx * p);
        const auto w = static_cast<float>(besselmap::resolution_weight(setup, std::sqrt(fx * fx + fy * fy + fz * fz)));
        const std::size_t at =
            2 * ((std::size_t(kz) * std::size_t(nx) + std::size_t(ky)) * std::size_t(h) + std::size_t(kx));
        spectrum[at] *= w;
        spectrum[at + 1] *= w;
      }
  adapters::rfft3d_inverse(spectrum.data(), map.data(), nx, nx, nz);
  return map;
}

struct Agreement {
  double same = 0.0;    // correlation with the truth
  double mirror = 0.0;  // with the truth's mirror image x -> -x about the axis (the other hand)
};

// The voxels within `outer` Angstroms of the axis (column and row nx/2) of both maps.
inline Agreement agreement(const std::vector<float>& got, const std::vector<float>& truth, int nx, int nz, double p,
                           double outer) {
  std::vector<double> a, b, m;
  for (int iz = 0; iz < nz; ++iz)
    for (int iy = 0; iy < nx; ++iy)
      for (int ix = 1; ix < nx; ++ix) {
        if (p * std::hypot(ix - nx / 2, iy - nx / 2) > outer) continue;
        const std::size_t row = (std::size_t(iz) * std::size_t(nx) + std::size_t(iy)) * std::size_t(nx);
        a.push_back(got[row + std::size_t(ix)]);
        b.push_back(truth[row + std::size_t(ix)]);
        m.push_back(truth[row + std::size_t(nx - ix)]);
      }
  return {correlation(a, b), correlation(a, m)};
}

struct Shells {
  int counted = 0;  // shells at or below the frequency asked for
  double lowest = std::numeric_limits<double>::infinity();
};

// mapfsc's standard output: the lowest correlation of the shells up to `frequency`.
inline Shells fsc_up_to(const std::string& out, double frequency) {
  Shells s;
  const std::size_t head = out.find("voxels\n");
  if (head == std::string::npos) return s;
  std::istringstream rows(out.substr(head + 7));
  for (std::string line; std::getline(rows, line) && !line.empty();) {
    std::istringstream in(line);
    int k = 0;
    double freq = 0, res = 0, value = 0;
    in >> k >> freq >> res >> value;
    if (freq <= frequency) {
      ++s.counted;
      s.lowest = std::min(s.lowest, value);
    }
  }
  return s;
}

}  // namespace mapcompare
