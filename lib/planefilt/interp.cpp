#include "planefilt/interp.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>

#include "records/error.hpp"
#include "records/forms.hpp"

namespace planefilt {
namespace {

// The nearest integer to v, halfway values away from zero; false when v is beyond any image
// (or not finite), which callers treat as a point outside the input.
bool nearest(float v, std::int32_t& n) {
  if (!(std::fabs(v) < 1.0e9f)) return false;
  n = static_cast<std::int32_t>(std::round(v));
  return true;
}

// parts: 1 for real images, 2 for complex ones (both parts through the same formula).
void resample(std::span<const float> ain, std::span<float> aout, std::int32_t nxin, std::int32_t nyin,
              std::int32_t nxout, std::int32_t nyout, const Matrix2& rmat, float xcin, float ycin, float xsh, float ysh,
              float scale, std::int32_t parts, const char* routine) {
  auto refuse = [routine](const std::string& message) { throw records::ReadError(routine, message); };
  if (nxin < 0 || nyin < 0 || nxout < 0 || nyout < 0) {
    refuse("negative image size: input " + std::to_string(nxin) + " x " + std::to_string(nyin) + ", output " +
           std::to_string(nxout) + " x " + std::to_string(nyout));
  }
  const std::int64_t nin = std::int64_t{parts} * nxin * nyin;
  const std::int64_t nout = std::int64_t{parts} * nxout * nyout;
  if (static_cast<std::int64_t>(ain.size()) < nin) {
    refuse("the input array holds " + std::to_string(ain.size()) + " reals, " + std::to_string(nin) + " are needed");
  }
  if (static_cast<std::int64_t>(aout.size()) < nout) {
    refuse("the output array holds " + std::to_string(aout.size()) + " reals, " + std::to_string(nout) + " are needed");
  }
  const float r11 = rmat[0], r21 = rmat[1], r12 = rmat[2], r22 = rmat[3];
  const float det = r11 * r22 - r12 * r21;
  if (det == 0.0f || !std::isfinite(det)) {
    refuse("the matrix (" + records::free_real(r11) + ", " + records::free_real(r12) + "; " + records::free_real(r21) +
           ", " + records::free_real(r22) + ") has determinant " + records::free_real(det) + " and cannot be inverted");
  }
  // The inverse of rmat, term by term.
  const float a11 = r22 / det, a12 = -r12 / det, a21 = -r21 / det, a22 = r11 / det;
  const float xc = xcin + 1.0f, yc = ycin + 1.0f;
  const float xo = 0.5f * static_cast<float>(nxout) + xsh + 1.0f;
  const float yo = 0.5f * static_cast<float>(nyout) + ysh + 1.0f;

  auto in = [&](std::int32_t i, std::int32_t j, std::int32_t part) {
    return ain[static_cast<std::size_t>(parts) * (static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(nxin) +
                                                  static_cast<std::size_t>(i - 1)) +
               static_cast<std::size_t>(part)];
  };

  for (std::int32_t iy = 1; iy <= nyout; ++iy) {
    const float dy = static_cast<float>(iy) - yo;
    for (std::int32_t ix = 1; ix <= nxout; ++ix) {
      const float dx = static_cast<float>(ix) - xo;
      const float xp = a11 * dx + a12 * dy + xc;
      const float yp = a21 * dx + a22 * dy + yc;
      float* out = aout.data() + static_cast<std::size_t>(parts) *
                                     (static_cast<std::size_t>(iy - 1) * static_cast<std::size_t>(nxout) +
                                      static_cast<std::size_t>(ix - 1));
      for (std::int32_t part = 0; part < parts; ++part) out[part] = 0.0f;
      std::int32_t i = 0, j = 0;
      if (!nearest(xp, i) || !nearest(yp, j)) continue;
      if (i < 1 || i > nxin || j < 1 || j > nyin) continue;
      const float fx = xp - static_cast<float>(i);
      const float fy = yp - static_cast<float>(j);
      for (std::int32_t part = 0; part < parts; ++part) {
        const float c = in(i, j, part);
        const float l = in(std::max(i - 1, 1), j, part);
        const float r = in(std::min(i + 1, nxin), j, part);
        const float b = in(i, std::max(j - 1, 1), part);
        const float t = in(i, std::min(j + 1, nyin), part);
        const float value = ((r + l) / 2.0f - c) * fx * fx + ((t + b) / 2.0f - c) * fy * fy + ((r - l) / 2.0f) * fx +
                            ((t - b) / 2.0f) * fy + c;
        out[part] = value * scale;
      }
    }
  }
}

}  // namespace

void interp(std::span<const float> ain, std::span<float> aout, std::int32_t nxin, std::int32_t nyin, std::int32_t nxout,
            std::int32_t nyout, const Matrix2& rmat, float xcin, float ycin, float xsh, float ysh, float scale) {
  resample(ain, aout, nxin, nyin, nxout, nyout, rmat, xcin, ycin, xsh, ysh, scale, 1, "interp");
}

void cinterp(std::span<const float> ain, std::span<float> aout, std::int32_t nxin, std::int32_t nyin,
             std::int32_t nxout, std::int32_t nyout, const Matrix2& rmat, float xcin, float ycin, float xsh, float ysh,
             float scale) {
  resample(ain, aout, nxin, nyin, nxout, nyout, rmat, xcin, ycin, xsh, ysh, scale, 2, "cinterp");
}

}  // namespace planefilt
