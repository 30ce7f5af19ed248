#include "adapters/ea06c.hpp"

#include <Eigen/Eigenvalues>
#include <cmath>
#include <cstddef>
#include <stdexcept>

namespace adapters {

void ea06c(const float* a, float* value, float* vec, std::int32_t m, std::int32_t ia, std::int32_t iq, float* w) {
  static_cast<void>(w);
  if (m < 1) return;
  if (ia < m || iq < m) throw std::invalid_argument("ea06c: leading dimensions must be at least the order");
  const auto n = static_cast<Eigen::Index>(m);
  auto at = [](std::int32_t ld, Eigen::Index i, Eigen::Index j) {
    return static_cast<std::size_t>(j) * static_cast<std::size_t>(ld) + static_cast<std::size_t>(i);
  };

  // The full symmetric matrix from the lower triangle alone.
  Eigen::MatrixXf s(n, n);
  for (Eigen::Index j = 0; j < n; ++j) {
    for (Eigen::Index i = j; i < n; ++i) {
      s(i, j) = a[at(ia, i, j)];
      s(j, i) = s(i, j);
    }
  }
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXf> solver(s, Eigen::ComputeEigenvectors);
  if (solver.info() != Eigen::Success) throw std::runtime_error("ea06c: the eigen-solver did not converge");

  const Eigen::VectorXf& values = solver.eigenvalues();
  const Eigen::MatrixXf& vectors = solver.eigenvectors();
  for (Eigen::Index k = 0; k < n; ++k) {
    value[k] = values(k);
    // Sign: the entry of largest magnitude (the first of equal ones) is made positive.
    Eigen::Index big = 0;
    for (Eigen::Index i = 1; i < n; ++i) {
      if (std::fabs(vectors(i, k)) > std::fabs(vectors(big, k))) big = i;
    }
    const float sign = vectors(big, k) < 0.0f ? -1.0f : 1.0f;
    for (Eigen::Index i = 0; i < n; ++i) vec[at(iq, i, k)] = sign * vectors(i, k);
  }
}

}  // namespace adapters
