// Times filter and bigfilt on a 1024 x 1024 image of random values with a low-pass table.
// usage: planefilt_timing [runs]   (in a scratch directory: writes in.map, out.map, SCRATCH)
// The first call of each routine also makes the FFT plans for the size; it is shown apart from
// the median of the later runs.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "imagefile/environment.hpp"
#include "imagefile/imageio.hpp"
#include "planefilt/bigfilt.hpp"
#include "planefilt/filter.hpp"

namespace {

constexpr std::int32_t n = 1024;

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void show(const std::string& what, std::vector<double> times) {
  std::printf("%-36s first %8.4f s", what.c_str(), times.front());
  times.erase(times.begin());
  if (!times.empty()) {
    std::sort(times.begin(), times.end());
    std::printf("   median of %zu later runs %8.4f s (min %.4f, max %.4f)", times.size(), times[times.size() / 2],
                times.front(), times.back());
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(2, std::atoi(argv[1])) : 7;
  std::mt19937 gen(1);
  std::uniform_real_distribution<float> dist(0.0f, 255.0f);
  std::vector<float> values(static_cast<std::size_t>(n) * n);
  for (auto& v : values) v = dist(gen);
  std::vector<float> table(120);
  for (std::size_t k = 0; k < table.size(); ++k) table[k] = k < 40 ? 1.0f : k < 60 ? 0.5f : 0.0f;
  const float rstep = 0.006f;  // 0.71/0.006 + 1.5 = 119.8 entries in use

  std::vector<double> times;
  std::vector<float> image(static_cast<std::size_t>(n + 2) * n);
  for (int run = 0; run < runs; ++run) {
    for (std::int32_t iy = 0; iy < n; ++iy) {
      std::copy_n(values.begin() + static_cast<std::ptrdiff_t>(iy) * n, n,
                  image.begin() + static_cast<std::ptrdiff_t>(iy) * (n + 2));
    }
    const auto start = std::chrono::steady_clock::now();
    planefilt::filter(image, n, n, table, rstep);
    times.push_back(seconds_since(start));
  }
  show("filter 1024 x 1024", times);

  std::ostringstream report;  // the library's account of every open, not shown
  imagefile::set_report_stream(report);
  imagefile::imopen(1, "in.map", "NEW");
  imagefile::icrhdr(1, {n, n, 1}, {n, n, 1}, 2, {}, 0);
  imagefile::iwrhdr(1, "random", 0, 0.0f, 255.0f, 127.5f);
  for (std::int32_t iy = 0; iy < n; ++iy) {
    imagefile::iwrlin(1, std::span<const float>(values).subspan(static_cast<std::size_t>(iy) * n, n));
  }
  imagefile::imclose(1);

  for (std::int32_t nbuf : {500000, 2200000}) {
    times.clear();
    for (int run = 0; run < runs; ++run) {
      std::filesystem::remove("out.map");
      imagefile::imopen(1, "in.map", "RO");
      imagefile::Int3 nxyz, mxyz;
      std::int32_t mode = 0;
      float dmin = 0.0f, dmax = 0.0f, dmean = 0.0f;
      imagefile::irdhdr(1, nxyz, mxyz, mode, dmin, dmax, dmean);
      imagefile::imopen(2, "out.map", "NEW");
      imagefile::itrhdr(2, 1);
      imagefile::iwrhdr(2, "filtered", 0, 0.0f, 0.0f, 0.0f);
      planefilt::FtBuf ftbuf;
      ftbuf.buffer.resize(static_cast<std::size_t>(std::max(nbuf, planefilt::ftbuf_reals)));
      ftbuf.nbuf = nbuf;
      const auto start = std::chrono::steady_clock::now();
      planefilt::bigfilt(1, 2, n, n, table, rstep, dmin, dmax, dmean, ftbuf);
      times.push_back(seconds_since(start));
      imagefile::imclose(1);
      imagefile::imclose(2);
    }
    const std::string r = report.str();
    const auto at = r.rfind("BIGFILT:");
    show("bigfilt 1024 x 1024, nbuf " + std::to_string(nbuf), times);
    std::printf("    %s\n", r.substr(at, r.find('\n', at) - at).c_str());
  }
  return 0;
}
