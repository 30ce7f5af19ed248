// Filtered least-squares solution of A x ~ b by the eigenvectors of the normal matrix.
#pragma once

#include <cstdint>
#include <span>

namespace eigline {

// Solves a(1..nobs, 1..nparm) x ~ b(1..nobs, nr) for every right-hand side nr = 1..nrhs at
// once, keeping only the well-determined directions: the eigenvectors of A'A whose eigenvalues
// form the leading run (largest first) of those at least filt times the largest. The largest is
// always kept; nfilt says how many were. With the kept eigenpairs (lambda, v),
//   x = sum of v (v' A' b) / lambda,  and b is replaced by its residual b - A x.
// Arrays are in column order, 1-based in the comments, the first index varying fastest:
//   a(iabdim, nparm)    design matrix, a(k, j) the coefficient of parameter j in observation k
//   b(iabdim, nrhs)     right-hand sides in rows 1..nobs; on return the residuals
//   c(iabdim, nrhs)     on return c(j, nr) is parameter j of right-hand side nr
//   ata(nparm, nparm)   work: the lower triangle of A'A (the upper triangle is not touched)
//   atb(nparm, nrhs)    work: A'B, then the weighted projections
//   vec(nparm, nparm)   on return the eigenvectors of A'A, column i for eigenvalue val(i)
//   val(nparm)          on return the eigenvalues of A'A
//   ipoint(nparm)       on return their order: val(ipoint(1)) is the largest
//   w                   work space of the eigen-solver (it needs none; may be empty)
// All arithmetic is in single precision, every sum accumulated from zero in ascending index
// order. An eigenvalue of exactly 0 inside the kept run (possible only when filt <= 0) gives an
// infinite weight, and then results that are not finite.
// Refused with records::ReadError (source "eigline"), before anything is changed: nparm < 1,
// nobs or nrhs < 0, iabdim below nobs or nparm, or an array shorter than its shape above; and
// before b, c or the outputs change: an A'A that is not finite (a value of a that is not
// finite or too large), or one the eigen-solver cannot diagonalise.
void eigline(std::span<const float> a, std::span<float> b, std::span<float> c, std::int32_t iabdim, std::int32_t nobs,
             std::int32_t nparm, std::int32_t nrhs, float filt, std::int32_t& nfilt, std::span<float> ata,
             std::span<float> atb, std::span<float> vec, std::span<float> val, std::span<std::int32_t> ipoint,
             std::span<float> w);

}  // namespace eigline
