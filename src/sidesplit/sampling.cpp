#include "sidesplit/sampling.hpp"

#include <cmath>
#include <cstdlib>
#include <utility>

namespace sidesplit {

namespace {

// The elementary functions are evaluated in double precision and rounded back, so that every
// build gives the same bits.
float fsin(float v) { return static_cast<float>(std::sin(static_cast<double>(v))); }
float fcos(float v) { return static_cast<float>(std::cos(static_cast<double>(v))); }
float fasin(float v) { return static_cast<float>(std::asin(static_cast<double>(v))); }
float fatan2(float y, float x) {
  return static_cast<float>(std::atan2(static_cast<double>(y), static_cast<double>(x)));
}

}  // namespace

Transform make_transform(std::int32_t nx, std::int32_t ny, float xorig, float yorig, float xshft, float yshft,
                         float sampl, std::vector<float> array) {
  Transform t;
  t.nx = nx;
  t.ny = ny;
  t.nxp2 = 2 * nx;
  t.ky = ny / 2;
  // The real-space image was 2*(nx-1) pixels wide and ny high.
  const std::int32_t nx2 = 2 * (nx - 1);
  t.delpx = -(xorig + xshft) * two_pi / static_cast<float>(nx2);
  t.delpy = -(yorig + yshft) * two_pi / static_cast<float>(ny);
  t.convx = 1.0f / (static_cast<float>(nx2) * sampl);
  t.convy = 1.0f / (static_cast<float>(ny) * sampl);
  t.array = std::move(array);
  return t;
}

void shift(float& apart, float& bpart, float pshft, std::int64_t ind, std::span<const float> array) {
  const float c = fcos(pshft);
  const float s = fsin(pshft);
  const float re = array[static_cast<std::size_t>(ind - 1)];
  const float im = array[static_cast<std::size_t>(ind)];
  apart = re * c - im * s;
  bpart = im * c + re * s;
}

void interpt(const Transform& t, float x, float y, float& a, float& b) {
  a = 0.0f;
  b = 0.0f;
  float xx;
  float yy;
  if (x >= 0.0f) {
    xx = x / t.convx;
    yy = y / t.convy;
  } else {
    xx = -x / t.convx;
    yy = -y / t.convy;
  }
  // Only the stored half plane can be read; a point beyond it (or not a number) reads as zero.
  const float row = static_cast<float>(t.ky) + yy;
  if (!(xx >= 0.0f && xx <= static_cast<float>(t.nx - 1) && row >= 0.0f && row <= static_cast<float>(t.ny - 1))) {
    return;
  }
  const std::int32_t ix = static_cast<std::int32_t>(xx);
  const float xfr = xx - static_cast<float>(ix);
  const std::int32_t iy = static_cast<std::int32_t>(row);
  const float yfr = (yy - static_cast<float>(iy)) + static_cast<float>(t.ky);
  const float xbar = 1.0f - xfr;
  const float ybar = 1.0f - yfr;

  // A neighbour beyond the last column or row (reached only with zero weight) counts as zero.
  const std::span<const float> arr(t.array);
  auto corner = [&](std::int32_t col, std::int32_t line, float pshft, std::int64_t ind, float& ca, float& cb) {
    if (col >= 0 && col < t.nx && line >= 0 && line < t.ny) {
      shift(ca, cb, pshft, ind, arr);
    } else {
      ca = 0.0f;
      cb = 0.0f;
    }
  };
  float a1, b1, a2, b2, a3, b3, a4, b4;
  std::int64_t ind = static_cast<std::int64_t>(t.nxp2) * iy + 2 * static_cast<std::int64_t>(ix) + 1;
  float pshft = static_cast<float>(ix) * t.delpx + static_cast<float>(iy - t.ky) * t.delpy;
  corner(ix, iy, pshft, ind, a1, b1);
  ind += 2;
  pshft += t.delpx;
  corner(ix + 1, iy, pshft, ind, a2, b2);
  ind += t.nxp2;
  pshft += t.delpy;
  corner(ix + 1, iy + 1, pshft, ind, a4, b4);
  ind -= 2;
  pshft -= t.delpx;
  corner(ix, iy + 1, pshft, ind, a3, b3);

  a = a1 * xbar * ybar + a2 * xfr * ybar + a3 * xbar * yfr + a4 * xfr * yfr;
  b = b1 * xbar * ybar + b2 * xfr * ybar + b3 * xbar * yfr + b4 * xfr * yfr;
  if (x < 0.0f) b = -b;  // the Friedel mate: complex conjugate
}

void sample_layer_line(const Transform& t, const SamplingParams& p, const RadialGrid& grid, std::int32_t nord,
                       float ysp, LayerLineSamples& out) {
  const std::size_t npts = grid.npts > 0 ? static_cast<std::size_t>(grid.npts) : 0;
  out.recsp.assign(npts, 0.0f);
  out.arrf.assign(npts, 0.0f);
  out.arrp.assign(npts, 0.0f);
  out.off_rows = 0;

  const float crot = fcos(p.rot);
  const float srot = fsin(p.rot);
  const float cmer = fcos(p.shear - p.rot);
  const float sshear = fsin(p.shear);
  const float cshear = fcos(p.shear);
  const float stilt = fsin(p.tilt);
  const float order = static_cast<float>(std::llabs(static_cast<long long>(nord)));
  const std::int64_t width = p.iywidth;

  for (std::size_t k = 0; k < npts; ++k) {
    const float rr = static_cast<float>(grid.n1 + static_cast<std::int32_t>(k)) * p.delr;
    out.recsp[k] = rr;
    float r = rr;
    float at = 0.0f;
    float bt = 0.0f;
    float asave = 0.0f;
    float bsave = 0.0f;
    bool abandoned = false;
    // Rows of the band from the top down; the equator takes its centre row only.
    for (std::int64_t iyw = width; iyw >= -width; --iyw) {
      float yreal;
      if (ysp == 0.0f) {
        if (iyw != 0) continue;
        yreal = ysp;
      } else {
        yreal = ysp - static_cast<float>(iyw);
      }
      // The layer line crosses the meridian at (cllx, clly) and runs in the direction rot.
      const float spll = t.convy * yreal * crot / cmer;
      const float cllx = -spll * sshear;
      const float clly = spll * cshear;
      const float d = spll * stilt * p.yfact;
      const float dsq = d * d;
      if (p.tilt != 0.0f) {
        // The tilt moves the point off the layer line by d: a radius below |d| is not sampled.
        if (std::fabs(d) > std::fabs(rr)) {
          abandoned = true;
          break;
        }
        r = std::sqrt(rr * rr - dsq);
        if (rr < 0.0f) r = -r;
      }
      const float x = r * crot + cllx;
      const float y = r * srot + clly;
      if (iyw == 0) {
        // The row read: a point with x < 0 is taken from its mate at -y.
        const float row = static_cast<float>(t.ky) + (x >= 0.0f ? y : -y) / t.convy;
        if (!(row >= 0.0f && row <= static_cast<float>(t.ny - 1))) ++out.off_rows;
      }
      float a;
      float b;
      interpt(t, x, y, a, b);
      if (p.tilt != 0.0f && spll != 0.0f) {
        // With no offset there is nothing to correct (also at R = 0, where d/R would be 0/0).
        float theta = d == 0.0f ? 0.0f : order * fasin(std::fabs(d / rr));
        if (p.tilt < 0.0f) theta = -theta;
        const float cth = fcos(theta);
        float sth = fsin(theta);
        if (rr < 0.0f) sth = -sth;
        if (nord < 0) sth = -sth;
        const float a0 = a;
        a = a0 * cth + b * sth;
        b = b * cth - a0 * sth;
      }
      if (iyw == 0) {
        asave = a;
        bsave = b;
      }
      at += a;
      bt += b;
    }
    if (abandoned) continue;
    out.arrf[k] = std::sqrt(at * at + bt * bt);
    if (at == 0.0f && bt == 0.0f) {
      out.arrp[k] = 0.0f;
    } else if (p.iphase == 0) {
      out.arrp[k] = fatan2(bsave, asave) * rad_to_deg;
    } else {
      out.arrp[k] = fatan2(bt, at) * rad_to_deg;
    }
  }
}

}  // namespace sidesplit
