// Resampling of real and complex images through a 2 x 2 matrix, a shift and a scale factor,
// by 5-point quadratic interpolation.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace planefilt {

// rmat in column order: (1,1), (2,1), (1,2), (2,2).
using Matrix2 = std::array<float, 4>;

// Fills aout (nxout x nyout, column index fastest) from ain (nxin x nyin). Output pixel
// (ix, iy), counted from 1, lies at dx = ix - (nxout/2 + xsh + 1), dy = iy - (nyout/2 + ysh + 1)
// from the shifted output centre, and is taken from the input point
//   (xp, yp) = rmat^-1 (dx, dy) + (xcin + 1, ycin + 1),
// so the output centre lands on input pixel (xcin, ycin) counted from 0. The value is the
// quadratic through the nearest input pixel (i, j) and its four neighbours, at offset
// (xp - i, yp - j), times scale; a neighbour beyond the edge is replaced by the centre pixel.
// A point whose nearest pixel lies outside the input gives 0. The nearest pixel is the nearest
// integer, a value exactly halfway going to the integer farther from zero.
// Refused with records::ReadError (source "interp"), before aout is touched: a matrix whose
// determinant is 0 or not finite, a negative size, or an array shorter than its size.
void interp(std::span<const float> ain, std::span<float> aout, std::int32_t nxin, std::int32_t nyin, std::int32_t nxout,
            std::int32_t nyout, const Matrix2& rmat, float xcin, float ycin, float xsh, float ysh, float scale);

// The same for complex images: ain and aout hold pairs of reals (real part, imaginary part),
// 2*nxin*nyin and 2*nxout*nyout reals; both parts go through the same interpolation.
// Refusals as interp, with source "cinterp".
void cinterp(std::span<const float> ain, std::span<float> aout, std::int32_t nxin, std::int32_t nyin,
             std::int32_t nxout, std::int32_t nyout, const Matrix2& rmat, float xcin, float ycin, float xsh, float ysh,
             float scale);

}  // namespace planefilt
