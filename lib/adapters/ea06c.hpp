// The symmetric eigen-solver eigline calls, over Eigen's SelfAdjointEigenSolver in single
// precision.
#pragma once

#include <cstdint>

namespace adapters {

// Eigenvalues and eigenvectors of the symmetric m x m matrix whose lower triangle (entries
// (i, j) with i >= j, 1-based, column order with leading dimension ia) is in a; the upper
// triangle is never read.
// On return, for i = 1..m, value(i) is an eigenvalue (in ascending order) and column i of vec
// (leading dimension iq) the matching eigenvector. The columns are orthonormal, and each is
// signed so that its entry of largest magnitude (the first of equal ones) is positive, so the
// result is the same on every run.
// a must hold ia*(m - 1) + m reals, value m reals, vec iq*(m - 1) + m reals, with ia, iq >= m.
// w is the work space of the calling convention; this solver needs none and never touches it
// (it may be null). m below 1: nothing is done.
void ea06c(const float* a, float* value, float* vec, std::int32_t m, std::int32_t ia, std::int32_t iq, float* w);

}  // namespace adapters
