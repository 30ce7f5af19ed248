// A small program of a user of the suite's libraries: it smooths a synthetic 64 x 64 image with
// the radial filter in memory and out of core (through image files), and fits a straight line
// by the filtered eigenvector least squares.
#include <cmath>
#include <cstdint>
#include <iostream>
#include <span>
#include <string>
#include <vector>

#include "eigline/eigline.hpp"
#include "imagefile/imageio.hpp"
#include "planefilt/bigfilt.hpp"
#include "planefilt/filter.hpp"
#include "records/forms.hpp"
#include "sorter/shlsrt.hpp"

int main() {
  constexpr std::int32_t nx = 64, ny = 64;

  // A bright spot on a ramp, in lines of nx + 2 reals; a Gaussian low-pass table.
  std::vector<float> image(static_cast<std::size_t>((nx + 2) * ny), 0.0f);
  for (std::int32_t iy = 0; iy < ny; ++iy) {
    for (std::int32_t ix = 0; ix < nx; ++ix) {
      const float r2 = static_cast<float>((ix - 20) * (ix - 20) + (iy - 40) * (iy - 40));
      image[static_cast<std::size_t>(iy * (nx + 2) + ix)] =
          10.0f + 0.1f * static_cast<float>(ix) + 50.0f * std::exp(-r2 / 8.0f);
    }
  }
  std::vector<float> table(40);
  for (std::size_t k = 0; k < table.size(); ++k) {
    const float rho = 0.02f * static_cast<float>(k);
    table[k] = std::exp(-rho * rho / (2.0f * 0.1f * 0.1f));
  }

  // Out of core: the image written to raw.map, filtered into smooth.map.
  imagefile::imopen(1, "raw.map", "NEW");
  imagefile::icrhdr(1, {nx, ny, 1}, {nx, ny, 1}, 2, {}, 0);
  imagefile::iwrhdr(1, "synthetic spot on a ramp", 0, 0.0f, 0.0f, 0.0f);
  for (std::int32_t iy = 0; iy < ny; ++iy) {
    imagefile::iwrlin(1, std::span<const float>(image).subspan(static_cast<std::size_t>(iy * (nx + 2)), nx));
  }
  imagefile::imclose(1);
  imagefile::imopen(1, "raw.map", "RO");
  imagefile::Int3 nxyz, mxyz;
  std::int32_t mode = 0;
  float dmin = 0.0f, dmax = 0.0f, dmean = 0.0f;
  imagefile::irdhdr(1, nxyz, mxyz, mode, dmin, dmax, dmean);
  imagefile::imopen(2, "smooth.map", "NEW");
  imagefile::itrhdr(2, 1);
  imagefile::iwrhdr(2, "smoothed by bigfilt", 0, 0.0f, 0.0f, 0.0f);
  planefilt::FtBuf ftbuf;
  ftbuf.nbuf = 1000;  // a few lines or columns per load
  planefilt::bigfilt(1, 2, nx, ny, table, 0.02f, dmin, dmax, dmean, ftbuf);
  imagefile::iwrhdr(2, "smoothed by bigfilt", 0, dmin, dmax, dmean);
  imagefile::imclose(1);
  imagefile::imclose(2);

  // In memory: the same filter.
  planefilt::filter(image, nx, ny, table, 0.02f);
  float peak = 0.0f;
  for (std::int32_t iy = 0; iy < ny; ++iy) {
    for (std::int32_t ix = 0; ix < nx; ++ix)
      peak = std::fmax(peak, image[static_cast<std::size_t>(iy * (nx + 2) + ix)]);
  }
  std::cout << "smoothfit: bigfilt min, max, mean" << records::fixed_form(dmin, 10, 3)
            << records::fixed_form(dmax, 10, 3) << records::fixed_form(dmean, 10, 3) << "; filter peak"
            << records::fixed_form(peak, 10, 3) << '\n';

  // A straight line y = a + b x through five points, and the order of the residual sizes.
  constexpr std::int32_t nobs = 5, nparm = 2, nrhs = 1;
  std::vector<float> a(nobs * nparm), b(nobs), c(nobs), ata(4), atb(2), vec(4), val(2), w;
  std::vector<std::int32_t> ipoint(2);
  const float xs[nobs] = {0.0f, 1.0f, 2.0f, 3.0f, 4.0f};
  const float ys[nobs] = {2.1f, 2.4f, 3.1f, 3.4f, 4.0f};
  for (std::int32_t k = 0; k < nobs; ++k) {
    a[static_cast<std::size_t>(k)] = 1.0f;
    a[static_cast<std::size_t>(nobs + k)] = xs[k];
    b[static_cast<std::size_t>(k)] = ys[k];
  }
  std::int32_t nfilt = 0;
  eigline::eigline(a, b, c, nobs, nobs, nparm, nrhs, 0.0f, nfilt, ata, atb, vec, val, ipoint, w);
  std::cout << "smoothfit: line a =" << records::fixed_form(c[0], 8, 3) << ", b =" << records::fixed_form(c[1], 8, 3)
            << " from " << nfilt << " eigenvectors\n";
  std::vector<float> size(nobs);
  for (std::int32_t k = 0; k < nobs; ++k) size[static_cast<std::size_t>(k)] = std::fabs(b[static_cast<std::size_t>(k)]);
  std::vector<std::int32_t> order(nobs);
  sorter::shlsrt(size.data(), nobs, order.data(), -1);
  std::cout << "smoothfit: points by residual size:";
  for (std::int32_t k : order) std::cout << ' ' << k;
  std::cout << '\n';
  return 0;
}
