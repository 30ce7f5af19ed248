// The Fourier transforms planefilt calls, over FFTW's single-precision routines.
//
// Forward transforms (idir 0 and -1) use the kernel exp(-2 pi i jk/n) and no scaling; the
// inverse transforms (idir 1 and -2) use exp(+2 pi i jk/n) and divide by the number of points,
// so each forward/inverse pair returns its input (to single-precision rounding). Callers apply
// no normalisation of their own.
//
// Plans are made once for each size (FFTW_ESTIMATE, so the same plan, and the same bits, on
// every run of a build) and kept until the program ends; the first call for a size allocates
// the plan and its small line buffers, later calls allocate nothing.
#pragma once

#include <cstdint>

namespace adapters {

// Two-dimensional transform of a real image of ny lines of nx values, each line in a slot of
// nx + 2 reals.
//   idir 0: the image becomes its transform in place: nx/2 + 1 complex values (real part,
//           imaginary part) per row, row iy (0-based; rows above ny/2 hold the negative
//           frequencies) starting at complex position iy*(nx/2 + 1) of the array viewed as
//           complex pairs (counted from 0).
//   idir 1: such a transform back into the real image (the two reals at the end of each line
//           slot are left undefined).
// image must hold ny*(nx + 2) reals. nx or ny below 1: nothing is done.
void todfft(float* image, std::int32_t nx, std::int32_t ny, std::int32_t idir);

// m one-dimensional transforms of length n.
//   idir 0:  m lines of n real values, each in a slot of n + 2 reals (data holds m*(n + 2)
//            reals), each line turned in place into its n/2 + 1 complex values at the start of
//            its slot;
//   idir 1:  the inverse of 0 (the two reals at the end of each slot are left undefined);
//   idir -1: m contiguous sequences of n complex values (data holds 2*n*m reals), each
//            transformed in place;
//   idir -2: the inverse of -1.
// n or m below 1: nothing is done. Any other idir throws std::invalid_argument.
void odfft(float* data, std::int32_t n, std::int32_t m, std::int32_t idir);

// Three-dimensional transform of a real map of nz sections of ny lines of nx values, stored
// contiguously (column index fastest, no padding).
//   forward: spectrum receives nz*ny*(nx/2 + 1) complex values (real, imaginary), column h
//            fastest, then row, then section, each in natural order (indices above half the
//            size hold the negative frequencies); map is left unchanged.
//   inverse: such a spectrum back into the real map, divided by nx*ny*nz; the spectrum is
//            used as work space and left undefined.
// Any size below 1: nothing is done.
void rfft3d_forward(const float* map, float* spectrum, std::int32_t nx, std::int32_t ny, std::int32_t nz);
void rfft3d_inverse(float* spectrum, float* map, std::int32_t nx, std::int32_t ny, std::int32_t nz);

}  // namespace adapters
