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

// The smallest size at least n that FFTW transforms fast: 2^a 3^b 5^c 7^d (with a >= 1 when
// `even`, for a real image whose transform sidesplit reads). 0 when there is none below 2^31.
std::int32_t fast_size(std::int32_t n, bool even = false);

}  // namespace adapters
