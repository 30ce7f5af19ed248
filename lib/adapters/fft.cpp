#include "adapters/fft.hpp"

#include <fftw3.h>

#include <algorithm>
#include <cstddef>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace adapters {
namespace {

// FFTW_ESTIMATE picks a plan from the sizes alone (no timing runs), so a build always uses the
// same plan, and it leaves the arrays untouched while planning. FFTW_UNALIGNED lets one plan
// serve any array of its size, whatever its address (line slots of n + 2 reals start at odd
// offsets when n is odd).
constexpr unsigned plan_flags = FFTW_ESTIMATE | FFTW_UNALIGNED;

struct PlanDeleter {
  void operator()(fftwf_plan_s* p) const {
    if (p != nullptr) fftwf_destroy_plan(p);
  }
};
using Plan = std::unique_ptr<fftwf_plan_s, PlanDeleter>;

fftwf_complex* as_complex(float* p) { return reinterpret_cast<fftwf_complex*>(p); }

Plan checked(fftwf_plan p, const char* what) {
  if (p == nullptr) throw std::runtime_error(std::string("FFTW could not plan the ") + what);
  return Plan(p);
}

// One real line of n values: r2c into a line buffer of n/2 + 1 complex values and back.
struct RealLine {
  explicit RealLine(std::int32_t n)
      : real(static_cast<std::size_t>(n)), spectrum(2 * static_cast<std::size_t>(n / 2 + 1)) {
    forward = checked(fftwf_plan_dft_r2c_1d(n, real.data(), as_complex(spectrum.data()), plan_flags), "real line");
    inverse = checked(fftwf_plan_dft_c2r_1d(n, as_complex(spectrum.data()), real.data(), plan_flags), "real line");
  }
  std::vector<float> real;
  std::vector<float> spectrum;
  Plan forward, inverse;
};

// One sequence of n complex values, transformed in place.
struct ComplexLine {
  explicit ComplexLine(std::int32_t n) : planning(2 * static_cast<std::size_t>(n)) {
    fftwf_complex* p = as_complex(planning.data());
    forward = checked(fftwf_plan_dft_1d(n, p, p, FFTW_FORWARD, plan_flags), "complex line");
    inverse = checked(fftwf_plan_dft_1d(n, p, p, FFTW_BACKWARD, plan_flags), "complex line");
  }
  std::vector<float> planning;
  Plan forward, inverse;
};

// A real image of ny lines of nx values in slots of nx + 2 reals. For even nx the packed
// transform (nx/2 + 1 complex values per row) fills exactly the same slots, so FFTW works in
// place; for odd nx it is one real shorter per row and goes through a work array.
struct RealImage {
  RealImage(float* image, std::int32_t nx, std::int32_t ny) {
    const std::int32_t h = nx / 2 + 1;
    int n[2] = {ny, nx};
    int real_embed[2] = {ny, nx + 2};
    int complex_embed[2] = {ny, h};
    fftwf_complex* out = as_complex(image);
    if (nx % 2 != 0) {
      work.resize(2 * static_cast<std::size_t>(h) * static_cast<std::size_t>(ny));
      out = as_complex(work.data());
    }
    forward = checked(fftwf_plan_many_dft_r2c(2, n, 1, image, real_embed, 1, 0, out, complex_embed, 1, 0, plan_flags),
                      "image");
    inverse = checked(fftwf_plan_many_dft_c2r(2, n, 1, out, complex_embed, 1, 0, image, real_embed, 1, 0, plan_flags),
                      "image");
  }
  std::vector<float> work;
  Plan forward, inverse;
};

// The plans of the run, by size. They live until the program ends.
class Plans {
 public:
  Plans() = default;
  Plans(const Plans&) = delete;
  Plans& operator=(const Plans&) = delete;
  ~Plans() {
    real_lines_.clear();
    complex_lines_.clear();
    images_.clear();
    fftwf_cleanup();
  }

  RealLine& real_line(std::int32_t n) { return real_lines_.try_emplace(n, n).first->second; }
  ComplexLine& complex_line(std::int32_t n) { return complex_lines_.try_emplace(n, n).first->second; }
  RealImage& image(float* image, std::int32_t nx, std::int32_t ny) {
    return images_.try_emplace(std::pair{nx, ny}, image, nx, ny).first->second;
  }

 private:
  std::map<std::int32_t, RealLine> real_lines_;
  std::map<std::int32_t, ComplexLine> complex_lines_;
  std::map<std::pair<std::int32_t, std::int32_t>, RealImage> images_;
};

Plans& plans() {
  static Plans p;
  return p;
}

void divide(float* v, std::size_t count, float points) {
  for (std::size_t i = 0; i < count; ++i) v[i] = v[i] / points;
}

}  // namespace

void todfft(float* image, std::int32_t nx, std::int32_t ny, std::int32_t idir) {
  if (nx < 1 || ny < 1) return;
  if (idir != 0 && idir != 1) throw std::invalid_argument("todfft: idir must be 0 or 1, not " + std::to_string(idir));
  RealImage& p = plans().image(image, nx, ny);
  const auto slot = static_cast<std::size_t>(nx) + 2;
  const auto rows = static_cast<std::size_t>(ny);
  const std::size_t packed = 2 * static_cast<std::size_t>(nx / 2 + 1) * rows;
  if (idir == 0) {
    if (p.work.empty()) {
      fftwf_execute_dft_r2c(p.forward.get(), image, as_complex(image));
    } else {
      fftwf_execute_dft_r2c(p.forward.get(), image, as_complex(p.work.data()));
      std::copy_n(p.work.data(), packed, image);
    }
    return;
  }
  if (p.work.empty()) {
    fftwf_execute_dft_c2r(p.inverse.get(), as_complex(image), image);
  } else {
    std::copy_n(image, packed, p.work.data());
    fftwf_execute_dft_c2r(p.inverse.get(), as_complex(p.work.data()), image);
  }
  const auto points = static_cast<float>(static_cast<std::int64_t>(nx) * ny);
  for (std::size_t iy = 0; iy < rows; ++iy) divide(image + iy * slot, static_cast<std::size_t>(nx), points);
}

void odfft(float* data, std::int32_t n, std::int32_t m, std::int32_t idir) {
  if (n < 1 || m < 1) return;
  const auto lines = static_cast<std::size_t>(m);
  const auto points = static_cast<float>(n);
  switch (idir) {
    case 0:
    case 1: {
      RealLine& p = plans().real_line(n);
      const auto slot = static_cast<std::size_t>(n) + 2;
      const std::size_t spectrum = p.spectrum.size();
      for (std::size_t s = 0; s < lines; ++s) {
        float* line = data + s * slot;
        if (idir == 0) {
          fftwf_execute_dft_r2c(p.forward.get(), line, as_complex(p.spectrum.data()));
          std::copy_n(p.spectrum.data(), spectrum, line);
        } else {
          std::copy_n(line, spectrum, p.spectrum.data());
          fftwf_execute_dft_c2r(p.inverse.get(), as_complex(p.spectrum.data()), line);
          divide(line, static_cast<std::size_t>(n), points);
        }
      }
      return;
    }
    case -1:
    case -2: {
      ComplexLine& p = plans().complex_line(n);
      const std::size_t sequence = 2 * static_cast<std::size_t>(n);
      for (std::size_t s = 0; s < lines; ++s) {
        fftwf_complex* c = as_complex(data + s * sequence);
        if (idir == -1) {
          fftwf_execute_dft(p.forward.get(), c, c);
        } else {
          fftwf_execute_dft(p.inverse.get(), c, c);
          divide(data + s * sequence, sequence, points);
        }
      }
      return;
    }
    default:
      throw std::invalid_argument("odfft: idir must be 0, 1, -1 or -2, not " + std::to_string(idir));
  }
}

std::int32_t fast_size(std::int32_t n, bool even) {
  const std::int64_t start = std::max<std::int64_t>(n, even ? 2 : 1);
  for (std::int64_t m = start; m <= 2147483647; ++m) {
    if (even && m % 2 != 0) continue;
    std::int64_t r = m;
    for (const std::int64_t f : {2, 3, 5, 7})
      while (r % f == 0) r /= f;
    if (r == 1) return static_cast<std::int32_t>(m);
  }
  return 0;
}

}  // namespace adapters
