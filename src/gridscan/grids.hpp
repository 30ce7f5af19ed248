// The arrays of a phase-residual search: the reference on its radial grid, the search grid of
// one pass and the accumulators that every test sample adds to. Indices run from 1, as in the
// data model; the first index varies fastest.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <vector>

namespace gridscan {

inline constexpr std::int32_t nrmax = 150;  // points of the radial grid
inline constexpr std::int32_t llcap = 40;   // layer lines compared, at most
inline constexpr std::int32_t nphcap = 50;  // grid values of phi, at most
inline constexpr std::int32_t nzcap = 100;  // grid values of z, at most
inline constexpr std::int32_t nrscap = 10;  // radial scales, at most
inline constexpr float degree = 57.295826f;
inline constexpr float radian = 0.01745328f;

// Truncation toward zero of a grid position. Positions beyond +-1e9 lie far outside every grid;
// clamping them (and NaN, to the large end) keeps the conversion defined on any input.
inline std::int32_t truncate_index(float v) {
  if (!(v < 1.0e9f)) return 1000000000;
  if (!(v > -1.0e9f)) return -1000000000;
  return static_cast<std::int32_t>(v);
}

// The reference data set filed on the radial grid: grid point ir stands for R = (ir-1)*delbr.
struct ReferenceGrid {
  std::vector<float> f1v = std::vector<float>(llcap * nrmax, 0.0f);    // weighted amplitude, 0: no sample
  std::vector<float> psi1v = std::vector<float>(llcap * nrmax, 0.0f);  // phase, degrees
  std::array<std::int32_t, llcap> nn1{};                               // Bessel order of block l
  std::array<std::int32_t, llcap> nl1{};                               // layer-line number of block l
  std::array<float, llcap> f0sum{};                                    // mean weighted amplitude of block l
  std::array<std::int32_t, llcap> irmax{};                             // grid index of the block's last point record
  std::array<bool, llcap> beyond{};  // no point record of block l lies within the resolution limit
  float sumf1 = 0.0f;                // sum of the weighted amplitudes of complete blocks
  float allpts = 0.0f;               // sum of the layer-line weights of those samples
  // The radial spacing of the reference's points: the median over its blocks of two or more
  // point records of (last R - first R)/(records - 1); 0 when no block has two records.
  float spacing = 0.0f;

  float& f1(std::int32_t l, std::int32_t ir) { return f1v[at(l, ir)]; }
  float f1(std::int32_t l, std::int32_t ir) const { return f1v[at(l, ir)]; }
  float& psi1(std::int32_t l, std::int32_t ir) { return psi1v[at(l, ir)]; }
  float psi1(std::int32_t l, std::int32_t ir) const { return psi1v[at(l, ir)]; }

 private:
  static std::size_t at(std::int32_t l, std::int32_t ir) {
    return static_cast<std::size_t>((l - 1) + llcap * (ir - 1));
  }
};

// The grid of rotations, axial shifts and radial scales searched in one pass.
struct PassGrid {
  float phimin = 0.0f, phimax = 0.0f, dphi = 0.0f;
  float zmin = 0.0f, zmax = 0.0f, dzed = 0.0f;
  float rscmin = 0.0f, rscmax = 0.0f, drsc = 0.0f;
  std::int32_t nph = 0, nz = 0, nrs = 0;
  float zcmin = 0.0f;               // 360*zmin*recc: the first z as phase per unit layer-line number
  float dzc = 0.0f;                 // 360*dzed*recc
  float delbr = 0.0f;               // step of the radial grid
  std::array<float, nzcap> delz{};  // z(iz)

  float phi(std::int32_t iph) const { return static_cast<float>(iph - 1) * dphi + phimin; }
  float z(std::int32_t iz) const { return delz[static_cast<std::size_t>(iz - 1)]; }
  float rsc(std::int32_t irs) const { return static_cast<float>(irs - 1) * drsc + rscmin; }
};

// What the test samples of one pass add up.
struct Accumulators {
  std::vector<float> residv = std::vector<float>(nphcap * nzcap * nrscap, 0.0f);   // phase residual
  std::vector<float> resid2v = std::vector<float>(nphcap * nzcap * nrscap, 0.0f);  // vector residual
  std::array<float, nrscap> pointsv{};  // sum of the point weights, per radial scale
  std::array<float, nrscap> xincv{};    // sum of the layer-line weights, per radial scale
  std::vector<float> f1sumv = std::vector<float>(llcap * nrscap, 0.0f);  // interpolated reference amplitudes
  std::vector<float> f2sumv = std::vector<float>(llcap * nrscap, 0.0f);  // test amplitudes

  float& resid(std::int32_t iph, std::int32_t iz, std::int32_t irs) { return residv[cell(iph, iz, irs)]; }
  float& resid2(std::int32_t iph, std::int32_t iz, std::int32_t irs) { return resid2v[cell(iph, iz, irs)]; }
  float& points(std::int32_t irs) { return pointsv[static_cast<std::size_t>(irs - 1)]; }
  float& xinc(std::int32_t irs) { return xincv[static_cast<std::size_t>(irs - 1)]; }
  float& f1sum(std::int32_t l, std::int32_t irs) { return f1sumv[line_scale(l, irs)]; }
  float& f2sum(std::int32_t l, std::int32_t irs) { return f2sumv[line_scale(l, irs)]; }

 private:
  static std::size_t cell(std::int32_t iph, std::int32_t iz, std::int32_t irs) {
    return static_cast<std::size_t>((iph - 1) + nphcap * ((iz - 1) + nzcap * (irs - 1)));
  }
  static std::size_t line_scale(std::int32_t l, std::int32_t irs) {
    return static_cast<std::size_t>((l - 1) + llcap * (irs - 1));
  }
};

// One usable test sample of block l, ready for the accumulation.
struct TestSample {
  float r = 0.0f;    // radius as read
  float f = 0.0f;    // amplitude times the block's weight and the layer line's weight
  float psi = 0.0f;  // phase in degrees after the hand and side switches
  float a2 = 0.0f;   // f*cos(psi)
  float b2 = 0.0f;   // f*sin(psi)
  float wt = 0.0f;   // weight of the layer line
  std::int32_t nn = 0;
  std::int32_t nl = 0;  // the reference block's layer-line number
};

// The reference samples from the first grid point beyond the scaled end of a test block (its
// last point record at grid index irlast) to grid point jrm2, at each radial scale: each counts
// in the phase residual as a phase difference of 8100 weighted by its amplitude over fmean,
// and in the vector residual as a test amplitude of zero. square(j) is the squared amplitude
// at grid point j, negative where the reference has no sample.
template <class Square>
void add_uncovered_samples(std::int32_t jrm2, std::int32_t irlast, float wt, const PassGrid& g, float fmean,
                           Accumulators& acc, Square square) {
  jrm2 = std::min(jrm2, nrmax);
  for (std::int32_t irs = 1; irs <= g.nrs; ++irs) {
    // The first reference grid point beyond the scaled end of the test block; never before
    // grid point 1, which a scale of zero or below would give.
    std::int32_t jrm1 = truncate_index(2.5f + static_cast<float>(irlast - 1) * g.rsc(irs));
    if (jrm1 < 1) jrm1 = 1;
    if (jrm1 > jrm2) continue;
    float residx = 0.0f;
    float residy = 0.0f;
    for (std::int32_t j = jrm1; j <= jrm2; ++j) {
      const float s = square(j);
      if (s < 0.0f) continue;
      residx += s;
      const float fwt = std::sqrt(s) / fmean;
      acc.points(irs) += fwt;
      acc.xinc(irs) += wt;
      residy += fwt * 8100.0f;
    }
    for (std::int32_t iph = 1; iph <= g.nph; ++iph) {
      for (std::int32_t iz = 1; iz <= g.nz; ++iz) {
        acc.resid(iph, iz, irs) += residy;
        acc.resid2(iph, iz, irs) += residx;
      }
    }
  }
}

}  // namespace gridscan
