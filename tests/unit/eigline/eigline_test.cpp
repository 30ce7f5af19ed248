#include "eigline/eigline.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "records/error.hpp"

namespace {

// One least-squares problem with every array of eigline, in column order.
struct Problem {
  Problem(std::int32_t iabdim_, std::int32_t nobs_, std::int32_t nparm_, std::int32_t nrhs_)
      : iabdim(iabdim_),
        nobs(nobs_),
        nparm(nparm_),
        nrhs(nrhs_),
        a(static_cast<std::size_t>(iabdim_) * nparm_, 0.0f),
        b(static_cast<std::size_t>(iabdim_) * nrhs_, 0.0f),
        c(static_cast<std::size_t>(iabdim_) * nrhs_, 0.0f),
        ata(static_cast<std::size_t>(nparm_) * nparm_),
        atb(static_cast<std::size_t>(nparm_) * nrhs_),
        vec(static_cast<std::size_t>(nparm_) * nparm_),
        val(static_cast<std::size_t>(nparm_)),
        ipoint(static_cast<std::size_t>(nparm_)) {}

  float& A(int k, int j) { return a[static_cast<std::size_t>(j - 1) * iabdim + static_cast<std::size_t>(k - 1)]; }
  float& B(int k, int nr) { return b[static_cast<std::size_t>(nr - 1) * iabdim + static_cast<std::size_t>(k - 1)]; }
  float& C(int j, int nr) { return c[static_cast<std::size_t>(nr - 1) * iabdim + static_cast<std::size_t>(j - 1)]; }
  void set_column(int j, const std::vector<float>& v) {
    for (int k = 1; k <= nobs; ++k) A(k, j) = v[static_cast<std::size_t>(k - 1)];
  }
  void set_rhs(int nr, const std::vector<float>& v) {
    for (int k = 1; k <= nobs; ++k) B(k, nr) = v[static_cast<std::size_t>(k - 1)];
  }
  void solve(float filt) {
    eigline::eigline(a, b, c, iabdim, nobs, nparm, nrhs, filt, nfilt, ata, atb, vec, val, ipoint, {});
  }

  std::int32_t iabdim, nobs, nparm, nrhs;
  std::vector<float> a, b, c, ata, atb, vec, val;
  std::vector<std::int32_t> ipoint;
  std::int32_t nfilt = -1;
};

// Solves the square system m x = r in double by Gaussian elimination with partial pivoting.
std::vector<double> solve_dense(std::vector<std::vector<double>> m, std::vector<double> r) {
  const std::size_t n = r.size();
  for (std::size_t p = 0; p < n; ++p) {
    std::size_t best = p;
    for (std::size_t i = p + 1; i < n; ++i) {
      if (std::fabs(m[i][p]) > std::fabs(m[best][p])) best = i;
    }
    std::swap(m[p], m[best]);
    std::swap(r[p], r[best]);
    for (std::size_t i = p + 1; i < n; ++i) {
      const double f = m[i][p] / m[p][p];
      for (std::size_t j = p; j < n; ++j) m[i][j] -= f * m[p][j];
      r[i] -= f * r[p];
    }
  }
  std::vector<double> x(n);
  for (std::size_t i = n; i-- > 0;) {
    double s = r[i];
    for (std::size_t j = i + 1; j < n; ++j) s -= m[i][j] * x[j];
    x[i] = s / m[i][i];
  }
  return x;
}

}  // namespace

TEST(Eigline, NoFilterGivesTheOrdinaryLeastSquaresSolution) {
  Problem p(12, 10, 3, 2);
  std::mt19937 gen(3);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  for (int j = 1; j <= 3; ++j) {
    for (int k = 1; k <= 10; ++k) p.A(k, j) = dist(gen) + (k == j ? 2.0f : 0.0f);
  }
  for (int nr = 1; nr <= 2; ++nr) {
    for (int k = 1; k <= 10; ++k) p.B(k, nr) = dist(gen) * 3.0f;
    p.B(11, nr) = 123.0f;  // rows beyond nobs are not touched
    p.B(12, nr) = -45.0f;
  }
  const std::vector<float> b0 = p.b;
  p.solve(0.0f);
  EXPECT_EQ(p.nfilt, 3);
  EXPECT_GE(p.val[p.ipoint[0] - 1], p.val[p.ipoint[1] - 1]);
  EXPECT_GE(p.val[p.ipoint[1] - 1], p.val[p.ipoint[2] - 1]);
  for (int nr = 1; nr <= 2; ++nr) {
    std::vector<std::vector<double>> ata(3, std::vector<double>(3, 0.0));
    std::vector<double> atb(3, 0.0);
    for (int i = 0; i < 3; ++i) {
      for (int k = 1; k <= 10; ++k) {
        atb[static_cast<std::size_t>(i)] +=
            double{p.A(k, i + 1)} * double{b0[static_cast<std::size_t>(nr - 1) * 12 + static_cast<std::size_t>(k - 1)]};
        for (int j = 0; j < 3; ++j)
          ata[static_cast<std::size_t>(i)][static_cast<std::size_t>(j)] +=
              double{p.A(k, i + 1)} * double{p.A(k, j + 1)};
      }
    }
    const std::vector<double> x = solve_dense(ata, atb);
    for (int j = 1; j <= 3; ++j) EXPECT_NEAR(p.C(j, nr), x[static_cast<std::size_t>(j - 1)], 2e-5) << "rhs " << nr;
    // the residuals are b - A c and orthogonal to every column
    for (int k = 1; k <= 10; ++k) {
      double r = b0[static_cast<std::size_t>(nr - 1) * 12 + static_cast<std::size_t>(k - 1)];
      for (int j = 1; j <= 3; ++j) r -= double{p.A(k, j)} * double{p.C(j, nr)};
      EXPECT_NEAR(p.B(k, nr), r, 1e-5);
    }
    for (int j = 1; j <= 3; ++j) {
      double dot = 0.0;
      for (int k = 1; k <= 10; ++k) dot += double{p.A(k, j)} * double{p.B(k, nr)};
      EXPECT_NEAR(dot, 0.0, 1e-4) << "column " << j;
    }
    EXPECT_EQ(p.B(11, nr), 123.0f);
    EXPECT_EQ(p.B(12, nr), -45.0f);
  }
}

TEST(Eigline, TheThresholdKeepsTheLeadingEigenvectors) {
  // Orthogonal columns with A'A = diag(9, 1); A'b = (15, -1) for b = (1, 2, 3, 4).
  auto make = [] {
    Problem p(4, 4, 2, 1);
    p.set_column(1, {1.5f, 1.5f, 1.5f, 1.5f});
    p.set_column(2, {0.5f, -0.5f, 0.5f, -0.5f});
    p.set_rhs(1, {1.0f, 2.0f, 3.0f, 4.0f});
    return p;
  };
  for (float filt : {1.0f, 0.2f}) {
    // only eigenvalue 9 is kept: x = (15/9, 0), residual b - 2.5
    Problem p = make();
    p.solve(filt);
    EXPECT_EQ(p.nfilt, 1) << filt;
    EXPECT_NEAR(p.val[p.ipoint[0] - 1], 9.0f, 1e-5f);
    EXPECT_NEAR(p.C(1, 1), 15.0f / 9.0f, 1e-6f);
    EXPECT_NEAR(p.C(2, 1), 0.0f, 1e-6f);
    const float want[4] = {-1.5f, -0.5f, 0.5f, 1.5f};
    for (int k = 1; k <= 4; ++k) EXPECT_NEAR(p.B(k, 1), want[k - 1], 1e-5f);
  }
  // both kept: x = (15/9, -1), residual (-1, -1, 1, 1)
  Problem p = make();
  p.solve(0.05f);
  EXPECT_EQ(p.nfilt, 2);
  EXPECT_NEAR(p.C(1, 1), 15.0f / 9.0f, 1e-6f);
  EXPECT_NEAR(p.C(2, 1), -1.0f, 1e-6f);
  const float want[4] = {-1.0f, -1.0f, 1.0f, 1.0f};
  for (int k = 1; k <= 4; ++k) EXPECT_NEAR(p.B(k, 1), want[k - 1], 1e-5f);
}

TEST(Eigline, OneParameterIsAlwaysKept) {
  // a = (1, 2, 2), b = (3, 0, 3): x = a.b / a.a = 9/9, residual (2, -2, 1)
  for (float filt : {5.0f, 1.0f, 0.0f, -1.0f}) {
    Problem p(3, 3, 1, 1);
    p.set_column(1, {1.0f, 2.0f, 2.0f});
    p.set_rhs(1, {3.0f, 0.0f, 3.0f});
    p.solve(filt);
    EXPECT_EQ(p.nfilt, 1) << filt;
    EXPECT_EQ(p.ipoint[0], 1);
    EXPECT_NEAR(p.C(1, 1), 1.0f, 1e-6f);
    EXPECT_NEAR(p.B(1, 1), 2.0f, 1e-6f);
    EXPECT_NEAR(p.B(2, 1), -2.0f, 1e-6f);
    EXPECT_NEAR(p.B(3, 1), 1.0f, 1e-6f);
  }
}

TEST(Eigline, AnEigenvalueBelowTheThresholdEndsTheRun) {
  // Columns 1 and 2 are equal, so A'A = [[2,2,0],[2,2,0],[0,0,5]] is exactly singular: its
  // eigenvalues are 5, 4 and 0 (as computed: 0 or a rounding error of either sign, the sign
  // that a positive threshold must also drop). With filt > 0 the run ends there and the
  // solution is the minimum-norm one: x = (1, 1, 0.8) for b = (1, 3, 2, 1).
  Problem p(4, 4, 3, 1);
  p.set_column(1, {1.0f, 1.0f, 0.0f, 0.0f});
  p.set_column(2, {1.0f, 1.0f, 0.0f, 0.0f});
  p.set_column(3, {0.0f, 0.0f, 1.0f, 2.0f});
  p.set_rhs(1, {1.0f, 3.0f, 2.0f, 1.0f});
  p.solve(1.0e-3f);
  EXPECT_EQ(p.nfilt, 2);
  EXPECT_NEAR(p.val[p.ipoint[0] - 1], 5.0f, 1e-5f);
  EXPECT_NEAR(p.val[p.ipoint[1] - 1], 4.0f, 1e-5f);
  EXPECT_NEAR(p.val[p.ipoint[2] - 1], 0.0f, 1e-5f);
  const float x[3] = {1.0f, 1.0f, 0.8f};
  for (int j = 1; j <= 3; ++j) EXPECT_NEAR(p.C(j, 1), x[j - 1], 1e-5f);
  const float r[4] = {-1.0f, 1.0f, 1.2f, -0.6f};
  for (int k = 1; k <= 4; ++k) EXPECT_NEAR(p.B(k, 1), r[k - 1], 1e-5f);
}

TEST(Eigline, RefusesCallsItCannotServeBeforeChangingAnything) {
  Problem p(3, 3, 2, 1);
  p.set_column(1, {1.0f, 2.0f, 3.0f});
  p.set_column(2, {0.0f, 1.0f, 0.0f});
  p.set_rhs(1, {1.0f, 1.0f, 1.0f});
  const std::vector<float> b0 = p.b;
  auto expect_refused = [&](auto call, const char* what) {
    try {
      call();
      ADD_FAILURE() << "not refused: " << what;
    } catch (const records::ReadError& e) {
      EXPECT_EQ(e.source(), "eigline");
      EXPECT_NE(std::string(e.what()).find(what), std::string::npos) << e.what();
    }
    EXPECT_EQ(p.b, b0);
  };
  std::int32_t nfilt = 0;
  expect_refused(
      [&] { eigline::eigline(p.a, p.b, p.c, 3, 3, 0, 1, 0.0f, nfilt, p.ata, p.atb, p.vec, p.val, p.ipoint, {}); },
      "nparm is 0");
  expect_refused(
      [&] { eigline::eigline(p.a, p.b, p.c, 2, 3, 2, 1, 0.0f, nfilt, p.ata, p.atb, p.vec, p.val, p.ipoint, {}); },
      "iabdim is 2");
  expect_refused(
      [&] { eigline::eigline(p.a, p.b, p.c, 3, -1, 2, 1, 0.0f, nfilt, p.ata, p.atb, p.vec, p.val, p.ipoint, {}); },
      "nobs is -1");
  expect_refused(
      [&] {
        eigline::eigline(p.a, p.b, p.c, 3, 3, 2, 1, 0.0f, nfilt, std::span<float>(p.ata).first(3), p.atb, p.vec, p.val,
                         p.ipoint, {});
      },
      "ata must hold nparm*nparm = 4 values, it holds 3");
  expect_refused(
      [&] { eigline::eigline(p.a, p.b, p.c, 3, 3, 2, 2, 0.0f, nfilt, p.ata, p.atb, p.vec, p.val, p.ipoint, {}); },
      "b must hold");
}
