#include "planefilt/bigfilt.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <ostream>
#include <string>

#include "adapters/fft.hpp"
#include "imagefile/diskio.hpp"
#include "imagefile/environment.hpp"
#include "imagefile/imageio.hpp"
#include "planefilt/radial.hpp"
#include "records/error.hpp"
#include "records/forms.hpp"

namespace planefilt {
namespace {

constexpr std::int32_t chunk_values = 4096;  // complex values of the row chunk

[[noreturn]] void refuse(const std::string& message) { throw records::ReadError("bigfilt", message); }

[[noreturn]] void read_failed(int instream, int outstream, int scratch) {
  imagefile::report_stream() << "\n\n ******* BIGFILT:   ERROR ON READ  ********\n\n\n";
  imagefile::imclose(instream);
  imagefile::imclose(outstream);
  imagefile::qclose(scratch);
  imagefile::stop_run("*** ERROR ****");
}

// Loads of `per_load` items out of `total`: the number of loads, and the size of load n (from 1).
std::int32_t loads(std::int32_t total, std::int32_t per_load) {
  return total / per_load + (total % per_load != 0 ? 1 : 0);
}
std::int32_t load_size(std::int32_t n, std::int32_t count, std::int32_t total, std::int32_t per_load) {
  if (n < count || total % per_load == 0) return per_load;
  return total % per_load;
}

}  // namespace

void bigfilt(int instream, int outstream, std::int32_t nx, std::int32_t ny, std::span<const float> rfilt, float rstep,
             float& dmin, float& dmax, float& dmean, FtBuf& ftbuf) {
  // Every refusal comes before the scratch file is opened or a line is read.
  if (nx < 1 || ny < 1) {
    refuse("the image is " + std::to_string(nx) + " x " + std::to_string(ny) + ", at least 1 x 1 is needed");
  }
  for (int stream : {instream, outstream}) {
    const std::int32_t columns = imagefile::header_of(stream).nxyz[0];
    if (columns != nx) {
      refuse("the image on stream " + std::to_string(stream) + " has " + std::to_string(columns) +
             " columns, not nx = " + std::to_string(nx));
    }
  }
  const std::int64_t nbuf = ftbuf.nbuf;
  const std::int64_t w = std::int64_t{nx} + 2;              // reals per line slot
  const std::int32_t h = static_cast<std::int32_t>(w / 2);  // complex values per transformed line
  if (nbuf > static_cast<std::int64_t>(ftbuf.buffer.size())) {
    refuse("nbuf = " + std::to_string(nbuf) + " is larger than the work buffer of " +
           std::to_string(ftbuf.buffer.size()) + " reals");
  }
  if (nbuf < w) {
    refuse("nbuf = " + std::to_string(nbuf) + " cannot hold one line slot of nx + 2 = " + std::to_string(w) + " reals");
  }
  if (nbuf < 2 * std::int64_t{ny}) {
    refuse("nbuf = " + std::to_string(nbuf) +
           " cannot hold one column of 2*ny = " + std::to_string(2 * std::int64_t{ny}) + " reals");
  }
  const auto l = static_cast<std::int32_t>(std::min<std::int64_t>(nbuf / w, ny));
  const auto c = static_cast<std::int32_t>(std::min<std::int64_t>(nbuf / (2 * std::int64_t{ny}), h));
  if (c > chunk_values) {
    refuse("nbuf = " + std::to_string(nbuf) + " gives loads of " + std::to_string(c) +
           " columns, beyond the row chunk of " + std::to_string(chunk_values) + " complex values; nbuf below " +
           std::to_string(2 * std::int64_t{ny} * (chunk_values + 1)) + " is needed");
  }
  // The column frequency is counted up by 1/nx per column; the last column has the largest.
  const float dx = 1.0f / static_cast<float>(nx);
  float xlast = 0.0f;
  for (std::int32_t col = 1; col < h; ++col) xlast += dx;
  check_filter_table(rfilt, rstep, xlast, nx, ny, "bigfilt");

  const int scratch = imagefile::qopen("SCRATCH", "SCRATCH");
  imagefile::qmode(scratch, 0);  // the scratch file is counted in bytes
  dmin = 1.0e20f;
  dmax = -1.0e20f;
  dmean = 0.0f;

  const std::int32_t n1 = loads(ny, l);
  const std::int32_t n2 = loads(h, c);
  imagefile::report_stream() << "\n BIGFILT: # Lines, Loads for passes 1,2: " << records::int_form(l, 8)
                             << records::int_form(n1, 8) << records::int_form(c, 8) << records::int_form(n2, 8)
                             << "\n\n";

  float* buf = ftbuf.buffer.data();
  const auto slot = static_cast<std::size_t>(w);
  const std::int64_t record = 4 * w;  // bytes of one scratch record: one transformed line

  // Pass 1: x-transforms of whole lines, appended to the scratch file.
  for (std::int32_t load = 1; load <= n1; ++load) {
    const std::int32_t lines = load_size(load, n1, ny, l);
    for (std::int32_t line = 0; line < lines; ++line) {
      if (!imagefile::irdlin(instream, std::span<float>(buf + static_cast<std::size_t>(line) * slot, slot))) {
        read_failed(instream, outstream, scratch);
      }
    }
    adapters::odfft(buf, nx, lines, 0);
    imagefile::qwrite(scratch, buf, 4 * std::int64_t{lines} * w);
  }

  // Pass 2: loads of c columns, each column a contiguous run of ny complex values.
  std::array<float, 2 * chunk_values> chunk{};
  std::int64_t p = 1;  // byte of the load's first column within every record
  float x = 0.0f;
  for (std::int32_t load = 1; load <= n2; ++load) {
    const std::int32_t cols = load_size(load, n2, h, c);
    const std::size_t bytes = 8 * static_cast<std::size_t>(cols);
    for (std::int32_t iy = 1; iy <= ny; ++iy) {
      imagefile::qseek(scratch, iy, p, record);
      if (imagefile::qread(scratch, chunk.data(), static_cast<std::int64_t>(bytes)) != 0) {
        read_failed(instream, outstream, scratch);
      }
      for (std::int32_t col = 0; col < cols; ++col) {
        const std::size_t at = 2 * (static_cast<std::size_t>(iy - 1) + static_cast<std::size_t>(col) * ny);
        buf[at] = chunk[2 * static_cast<std::size_t>(col)];
        buf[at + 1] = chunk[2 * static_cast<std::size_t>(col) + 1];
      }
    }
    adapters::odfft(buf, ny, cols, -1);
    for (std::int32_t col = 0; col < cols; ++col) {
      float* column = buf + 2 * static_cast<std::size_t>(col) * static_cast<std::size_t>(ny);
      for (std::int32_t iy = 1; iy <= ny; ++iy) {
        const float f = rfilt[static_cast<std::size_t>(filter_entry(x, row_frequency(iy - 1, ny), rstep) - 1)];
        column[2 * (iy - 1)] *= f;
        column[2 * (iy - 1) + 1] *= f;
      }
      x += dx;
    }
    adapters::odfft(buf, ny, cols, -2);
    for (std::int32_t iy = 1; iy <= ny; ++iy) {
      for (std::int32_t col = 0; col < cols; ++col) {
        const std::size_t at = 2 * (static_cast<std::size_t>(iy - 1) + static_cast<std::size_t>(col) * ny);
        chunk[2 * static_cast<std::size_t>(col)] = buf[at];
        chunk[2 * static_cast<std::size_t>(col) + 1] = buf[at + 1];
      }
      imagefile::qseek(scratch, iy, p, record);
      imagefile::qwrite(scratch, chunk.data(), static_cast<std::int64_t>(bytes));
    }
    p += static_cast<std::int64_t>(bytes);
  }

  // Pass 3: inverse x-transforms of whole lines, written out, with the densities.
  imagefile::qseek(scratch, 1, 1, 1);
  float sum = 0.0f;
  for (std::int32_t load = 1; load <= n1; ++load) {
    const std::int32_t lines = load_size(load, n1, ny, l);
    if (imagefile::qread(scratch, buf, 4 * std::int64_t{lines} * w) != 0) read_failed(instream, outstream, scratch);
    adapters::odfft(buf, nx, lines, 1);
    for (std::int32_t line = 0; line < lines; ++line) {
      const float* values = buf + static_cast<std::size_t>(line) * slot;
      imagefile::iwrlin(outstream, std::span<const float>(values, slot));
      for (std::int32_t ix = 0; ix < nx; ++ix) {
        const float v = values[ix];
        if (v < dmin) dmin = v;
        if (v > dmax) dmax = v;
        sum += v;
      }
    }
  }
  dmean = sum / static_cast<float>(std::int64_t{nx} * ny);
  imagefile::qclose(scratch);
}

}  // namespace planefilt
