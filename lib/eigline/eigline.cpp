#include "eigline/eigline.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <stdexcept>
#include <string>

#include "adapters/ea06c.hpp"
#include "records/error.hpp"
#include "sorter/shlsrt.hpp"

namespace eigline {
namespace {

[[noreturn]] void refuse(const std::string& message) { throw records::ReadError("eigline", message); }

void need(std::size_t have, std::int64_t rows, std::int64_t cols, const char* name, const char* shape) {
  const std::int64_t want = rows * cols;
  if (static_cast<std::int64_t>(have) < want) {
    refuse(std::string(name) + " must hold " + shape + " = " + std::to_string(want) + " values, it holds " +
           std::to_string(have));
  }
}

// Column-order 1-based element (i, j) of an array with leading dimension ld.
std::size_t at(std::int32_t ld, std::int32_t i, std::int32_t j) {
  return static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(ld) + static_cast<std::size_t>(i - 1);
}

}  // namespace

void eigline(std::span<const float> a, std::span<float> b, std::span<float> c, std::int32_t iabdim, std::int32_t nobs,
             std::int32_t nparm, std::int32_t nrhs, float filt, std::int32_t& nfilt, std::span<float> ata,
             std::span<float> atb, std::span<float> vec, std::span<float> val, std::span<std::int32_t> ipoint,
             std::span<float> w) {
  if (nparm < 1) refuse("nparm is " + std::to_string(nparm) + ", at least 1 parameter is needed");
  if (nobs < 0) refuse("nobs is " + std::to_string(nobs) + ", it cannot be negative");
  if (nrhs < 0) refuse("nrhs is " + std::to_string(nrhs) + ", it cannot be negative");
  if (iabdim < std::max(nobs, nparm)) {
    refuse("iabdim is " + std::to_string(iabdim) + ", it must be at least nobs (" + std::to_string(nobs) +
           ") and nparm (" + std::to_string(nparm) + ")");
  }
  need(a.size(), iabdim, nparm, "a", "iabdim*nparm");
  need(b.size(), iabdim, nrhs, "b", "iabdim*nrhs");
  need(c.size(), iabdim, nrhs, "c", "iabdim*nrhs");
  need(ata.size(), nparm, nparm, "ata", "nparm*nparm");
  need(atb.size(), nparm, nrhs, "atb", "nparm*nrhs");
  need(vec.size(), nparm, nparm, "vec", "nparm*nparm");
  need(val.size(), nparm, 1, "val", "nparm");
  need(ipoint.size(), nparm, 1, "ipoint", "nparm");

  auto A = [&](std::int32_t k, std::int32_t j) { return a[at(iabdim, k, j)]; };
  auto B = [&](std::int32_t k, std::int32_t nr) -> float& { return b[at(iabdim, k, nr)]; };
  auto C = [&](std::int32_t j, std::int32_t nr) -> float& { return c[at(iabdim, j, nr)]; };
  auto ATA = [&](std::int32_t i, std::int32_t j) -> float& { return ata[at(nparm, i, j)]; };
  auto ATB = [&](std::int32_t i, std::int32_t nr) -> float& { return atb[at(nparm, i, nr)]; };
  auto VEC = [&](std::int32_t i, std::int32_t j) { return vec[at(nparm, i, j)]; };
  auto VAL = [&](std::int32_t i) { return val[static_cast<std::size_t>(i - 1)]; };
  auto IP = [&](std::int32_t n) { return ipoint[static_cast<std::size_t>(n - 1)]; };

  // 1. The lower triangle of the normal matrix A'A.
  for (std::int32_t j = 1; j <= nparm; ++j) {
    for (std::int32_t i = j; i <= nparm; ++i) {
      float sum = 0.0f;
      for (std::int32_t k = 1; k <= nobs; ++k) sum += A(k, i) * A(k, j);
      ATA(i, j) = sum;
      if (!std::isfinite(sum)) {
        refuse("A'A(" + std::to_string(i) + ", " + std::to_string(j) + ") is not finite: column " + std::to_string(i) +
               " or " + std::to_string(j) + " of a holds a value that is not finite or too large");
      }
    }
  }
  // 2. A'B.
  for (std::int32_t nr = 1; nr <= nrhs; ++nr) {
    for (std::int32_t i = 1; i <= nparm; ++i) {
      float sum = 0.0f;
      for (std::int32_t k = 1; k <= nobs; ++k) sum += A(k, i) * B(k, nr);
      ATB(i, nr) = sum;
    }
  }
  // 3-4. Eigenpairs, and their order from the largest eigenvalue down.
  try {
    adapters::ea06c(ata.data(), val.data(), vec.data(), nparm, nparm, nparm, w.data());
  } catch (const std::runtime_error&) {
    refuse("the eigen-solver found no eigenvalues of A'A");
  }
  sorter::shlsrt(val.data(), nparm, ipoint.data(), -1);

  // 5. Keep the leading run of eigenvalues at least filt times the largest.
  nfilt = 1;
  for (std::int32_t n = 2; n <= nparm; ++n) {
    if (filt * VAL(IP(1)) > VAL(IP(n))) break;
    ++nfilt;
  }
  // 6. Projections of A'b on the kept eigenvectors (rows 1..nfilt of c as scratch).
  for (std::int32_t nr = 1; nr <= nrhs; ++nr) {
    for (std::int32_t n = 1; n <= nfilt; ++n) {
      const std::int32_t i = IP(n);
      float sum = 0.0f;
      for (std::int32_t j = 1; j <= nparm; ++j) sum += VEC(j, i) * ATB(j, nr);
      C(n, nr) = sum;
    }
  }
  // 7. Each projection divided by its eigenvalue.
  for (std::int32_t n = 1; n <= nfilt; ++n) {
    const float wt = 1.0f / VAL(IP(n));
    for (std::int32_t nr = 1; nr <= nrhs; ++nr) ATB(n, nr) = C(n, nr) * wt;
  }
  // 8. The solution from the kept eigenvectors.
  for (std::int32_t nr = 1; nr <= nrhs; ++nr) {
    for (std::int32_t j = 1; j <= nparm; ++j) {
      float sum = 0.0f;
      for (std::int32_t n = 1; n <= nfilt; ++n) sum += VEC(j, IP(n)) * ATB(n, nr);
      C(j, nr) = sum;
    }
  }
  // 9. Residuals, one term at a time.
  for (std::int32_t nr = 1; nr <= nrhs; ++nr) {
    for (std::int32_t k = 1; k <= nobs; ++k) {
      for (std::int32_t j = 1; j <= nparm; ++j) B(k, nr) = B(k, nr) - A(k, j) * C(j, nr);
    }
  }
}

}  // namespace eigline
