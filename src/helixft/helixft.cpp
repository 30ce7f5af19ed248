#include "helixft/helixft.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <filesystem>
#include <ostream>
#include <span>
#include <string>
#include <vector>

#include "adapters/fft.hpp"
#include "imagefile/diskio.hpp"
#include "imagefile/header.hpp"
#include "imagefile/imageio.hpp"
#include "records/error.hpp"
#include "records/forms.hpp"
#include "records/numbers.hpp"

namespace helixft {

const char* const help =
    "usage: helixft --image FILE [--transform FILE] [--axis COLUMN] [--box X0,Y0,W,H]\n"
    "               [--size N[xM]] [--taper PIXELS] [--repeat C] [--pixel P]\n"
    "\n"
    "Transforms the image of a helical particle (its axis vertical, along the image's rows) into\n"
    "the transform image that sidesplit reads (IN=transform.map sidesplit).\n"
    "\n"
    "  --image FILE      the particle image: a real 2-D map (mode 0, 1 or 2)\n"
    "  --transform FILE  the transform written (default transform.map; it must not exist)\n"
    "  --axis COLUMN     column of the helix axis in the image, from 0, may be fractional\n"
    "                    (default the box's centre column X0 + W/2)\n"
    "  --box X0,Y0,W,H   the area used: first column and row (from 0), width and height\n"
    "                    (default the whole image)\n"
    "  --size N[xM]      padded size, N even (default: the next sizes at least the box's that\n"
    "                    FFTW transforms fast, 2^a 3^b 5^c 7^d, N even); the box sits at the\n"
    "                    phase origin and the rest is 0\n"
    "  --taper PIXELS    edges of the box tapered over this width, weight\n"
    "                    0.5 - 0.5 cos(pi (d + 0.5) / PIXELS) at d pixels from the edge\n"
    "                    (default 0: none)\n"
    "  --repeat C        repeat distance in Angstroms: prints the transform rows per 1/c\n"
    "  --pixel P         pixel size in Angstroms (default the header's cell edge / sampling)\n"
    "\n"
    "The box is floated (its mean becomes 0), tapered, padded and transformed with the kernel\n"
    "exp(-2 pi i (h x / N + k z / M)), unscaled (sums over pixels), the phase origin x = 0 on\n"
    "the axis column and z = 0 on the box's row H/2. The transform is a complex map (mode 4)\n"
    "of N/2 + 1 columns of X = h/(N P) and M rows, row M/2 + k at Z = k/(M P); its sampling\n"
    "counts are N and M, its cell N*P, M*P, P and its origin 0, so that sidesplit adds no\n"
    "shift of its own. A layer line l lies k = l*M*P/C rows from row M/2.\n"
    "\n"
    "Standard output: the image library's report and the transform's sampling (reciprocal\n"
    "Angstroms per column and per row, rows per 1/c).\n"
    "Exit status 0, or 2 on unusable input or an output file that exists.\n";

namespace {

using records::ReadError;

float real_of(const std::string& name, const std::string& text) {
  const auto v = records::parse_free_real(text);
  if (!v.ok() || !std::isfinite(v.value)) throw ReadError("command line", name + ": \"" + text + "\" is not a number");
  return v.value;
}

std::int32_t int_of(const std::string& name, const std::string& text) {
  const auto v = records::parse_free_int(text);
  if (!v.ok()) throw ReadError("command line", name + ": \"" + text + "\" is not an integer");
  return v.value;
}

// Splits "a,b,c" (or "axb") at the separators.
std::vector<std::string> split(const std::string& s, const std::string& separators) {
  std::vector<std::string> out(1);
  for (const char c : s) {
    if (separators.find(c) != std::string::npos)
      out.emplace_back();
    else
      out.back() += c;
  }
  return out;
}

// The weights of the taper along one edge direction of n pixels.
std::vector<float> taper_weights(std::int32_t n, std::int32_t width) {
  std::vector<float> w(static_cast<std::size_t>(n), 1.0f);
  if (width <= 0) return w;
  for (std::int32_t j = 0; j < n; ++j) {
    const std::int32_t d = std::min(j, n - 1 - j);
    if (d < width)
      w[static_cast<std::size_t>(j)] =
          0.5f - 0.5f * static_cast<float>(std::cos(3.14159265358979323846 * (double(d) + 0.5) / double(width)));
  }
  return w;
}

}  // namespace

Options parse_arguments(const std::vector<std::string>& args) {
  std::string image, transform, axis, box, size, taper, repeat, pixel;
  progmain::bind_options(args,
                         {{"--image", &image, "a file name"},
                          {"--transform", &transform, "a file name"},
                          {"--axis", &axis, "a column"},
                          {"--box", &box, "X0,Y0,W,H"},
                          {"--size", &size, "N or NxM"},
                          {"--taper", &taper, "a width in pixels"},
                          {"--repeat", &repeat, "a repeat distance"},
                          {"--pixel", &pixel, "a pixel size"}},
                         "helixft");
  Options o;
  if (image.empty()) throw ReadError("command line", "no --image FILE: the particle image is needed");
  o.image = image;
  if (!transform.empty()) o.transform = transform;
  if (!axis.empty()) {
    o.have_axis = true;
    o.axis = double(real_of("--axis", axis));
  }
  if (!box.empty()) {
    const auto v = split(box, ",");
    if (v.size() != 4) throw ReadError("command line", "--box takes X0,Y0,W,H, not \"" + box + "\"");
    o.x0 = int_of("--box", v[0]);
    o.y0 = int_of("--box", v[1]);
    o.bw = int_of("--box", v[2]);
    o.bh = int_of("--box", v[3]);
    if (o.x0 < 0 || o.y0 < 0 || o.bw < 2 || o.bh < 1)
      throw ReadError("command line", "--box " + box + ": X0 and Y0 from 0, a width of 2 and a height of 1 at least");
  }
  if (!size.empty()) {
    const auto v = split(size, "xX");
    if (v.size() > 2) throw ReadError("command line", "--size takes N or NxM, not \"" + size + "\"");
    o.nx = int_of("--size", v[0]);
    o.ny = v.size() == 2 ? int_of("--size", v[1]) : o.nx;
    if (o.nx < 2 || o.nx % 2 != 0 || o.ny < 1)
      throw ReadError("command line", "--size " + size + ": N must be even and at least 2, M at least 1");
  }
  if (!taper.empty()) {
    o.taper = int_of("--taper", taper);
    if (o.taper < 0) throw ReadError("command line", "--taper must not be negative");
  }
  if (!repeat.empty()) {
    o.repeat = real_of("--repeat", repeat);
    if (!(o.repeat > 0.0f)) throw ReadError("command line", "--repeat must be above 0");
  }
  if (!pixel.empty()) {
    o.pixel = real_of("--pixel", pixel);
    if (!(o.pixel > 0.0f)) throw ReadError("command line", "--pixel must be above 0");
  }
  return o;
}

Image prepare(const Image& in, std::int32_t x0, std::int32_t y0, std::int32_t bw, std::int32_t bh, std::int32_t taper) {
  Image b;
  b.nx = bw;
  b.ny = bh;
  b.data.resize(static_cast<std::size_t>(bw) * static_cast<std::size_t>(bh));
  double sum = 0.0;
  for (std::int32_t y = 0; y < bh; ++y)
    for (std::int32_t x = 0; x < bw; ++x) {
      const float v = in.data[static_cast<std::size_t>(y0 + y) * static_cast<std::size_t>(in.nx) +
                              static_cast<std::size_t>(x0 + x)];
      b.data[static_cast<std::size_t>(y) * static_cast<std::size_t>(bw) + static_cast<std::size_t>(x)] = v;
      sum += double(v);
    }
  const auto mean = static_cast<float>(sum / double(b.data.size()));
  const std::vector<float> wx = taper_weights(bw, taper), wy = taper_weights(bh, taper);
  for (std::int32_t y = 0; y < bh; ++y)
    for (std::int32_t x = 0; x < bw; ++x) {
      float& v = b.data[static_cast<std::size_t>(y) * static_cast<std::size_t>(bw) + static_cast<std::size_t>(x)];
      v = (v - mean) * (wx[static_cast<std::size_t>(x)] * wy[static_cast<std::size_t>(y)]);
    }
  return b;
}

std::vector<float> transform(const Image& box, double axis, std::int32_t n, std::int32_t m) {
  const auto slot = static_cast<std::size_t>(n) + 2;
  const auto h = static_cast<std::size_t>(n / 2 + 1);
  std::vector<float> work(slot * static_cast<std::size_t>(m), 0.0f);
  // The box goes in cyclically, its pixel (axis, bh/2) at (0, 0): the phase origin of the
  // transform, but for the fraction of a column left over.
  const double whole = std::floor(axis);
  const double frac = axis - whole;
  const auto ax = static_cast<std::int64_t>(whole);
  const std::int64_t zc = box.ny / 2;
  for (std::int64_t z = 0; z < box.ny; ++z) {
    const std::int64_t row = ((z - zc) % m + m) % m;
    for (std::int64_t x = 0; x < box.nx; ++x) {
      const std::int64_t col = ((x - ax) % n + n) % n;
      work[static_cast<std::size_t>(row) * slot + static_cast<std::size_t>(col)] =
          box.data[static_cast<std::size_t>(z) * static_cast<std::size_t>(box.nx) + static_cast<std::size_t>(x)];
    }
  }
  adapters::todfft(work.data(), n, m, 0);
  // Column h is turned by 2 pi h frac / n, the rest of the move onto the axis.
  std::vector<std::complex<float>> turn(h, {1.0f, 0.0f});
  if (frac != 0.0)
    for (std::size_t c = 0; c < h; ++c) {
      const double a = 2.0 * 3.14159265358979323846 * double(c) * frac / double(n);
      turn[c] = {static_cast<float>(std::cos(a)), static_cast<float>(std::sin(a))};
    }
  // Row m/2 + k of the output is frequency row k (k < 0 stored at m + k).
  std::vector<float> out(2 * h * static_cast<std::size_t>(m));
  const std::int64_t ky = m / 2;
  for (std::int64_t r = 0; r < m; ++r) {
    const std::int64_t k = ((r - ky) % m + m) % m;
    const float* src = work.data() + static_cast<std::size_t>(k) * 2 * h;
    float* dst = out.data() + static_cast<std::size_t>(r) * 2 * h;
    for (std::size_t c = 0; c < h; ++c) {
      const std::complex<float> v = std::complex<float>(src[2 * c], src[2 * c + 1]) * turn[c];
      dst[2 * c] = frac != 0.0 ? v.real() : src[2 * c];
      dst[2 * c + 1] = frac != 0.0 ? v.imag() : src[2 * c + 1];
    }
  }
  return out;
}

int run(const std::vector<std::string>& args, progmain::Streams streams) {
  const Options o = parse_arguments(args);
  if (std::filesystem::exists(o.transform))
    throw ReadError(o.transform, "exists already; helixft never overwrites a file");
  if (!std::filesystem::exists(o.image)) throw ReadError(o.image, "cannot open: no such file");

  constexpr int in = 1, out = 2;
  imagefile::imopen(in, o.image, "RO");
  imagefile::Int3 nxyz{}, mxyz{};
  std::int32_t mode = 0;
  float dmin = 0.0f, dmax = 0.0f, dmean = 0.0f;
  imagefile::irdhdr(in, nxyz, mxyz, mode, dmin, dmax, dmean);
  std::array<float, 6> cell{};
  imagefile::irtcel(in, cell);
  if (mode == 3 || mode == 4)
    throw ReadError(o.image,
                    "data mode " + std::to_string(mode) + " is complex: helixft takes a real image (mode 0, 1 or 2)");
  if (mode < 0 || mode > 4) throw ReadError(o.image, "data mode " + std::to_string(mode) + " is not supported");
  if (nxyz[2] != 1)
    throw ReadError(o.image, std::to_string(nxyz[2]) + " sections: helixft takes a 2-D image (1 section)");
  if (nxyz[0] < 2 || nxyz[1] < 1)
    throw ReadError(o.image, std::to_string(nxyz[0]) + " columns and " + std::to_string(nxyz[1]) +
                                 " rows: an image of 2 columns and 1 row at least is needed");
  const std::int64_t items = std::int64_t{nxyz[0]} * nxyz[1];
  {
    std::string filename;
    std::int64_t length = -1;
    int unit = imagefile::imunit(in);
    imagefile::qqinq(unit, o.image, filename, length);
    const std::int64_t data_start = imagefile::header_bytes + imagefile::header_of(in).nsymbt;
    if (length >= 0 && (length < data_start || items > (length - data_start) / imagefile::bytes_per_item(mode)))
      throw ReadError(o.image, "the file ends before its " + std::to_string(items) + " pixels");
  }
  Image image;
  image.nx = nxyz[0];
  image.ny = nxyz[1];
  image.data.assign(static_cast<std::size_t>(items), 0.0f);
  if (!imagefile::irdsec(in, image.data)) throw ReadError(o.image, "the file ends inside the image");
  imagefile::imclose(in);

  // The box, the axis and the padded size.
  const std::int32_t bw = o.bw > 0 ? o.bw : image.nx, bh = o.bh > 0 ? o.bh : image.ny;
  if (std::int64_t{o.x0} + bw > image.nx || std::int64_t{o.y0} + bh > image.ny)
    throw ReadError("command line", "the box " + std::to_string(o.x0) + "," + std::to_string(o.y0) + "," +
                                        std::to_string(bw) + "," + std::to_string(bh) + " reaches beyond the " +
                                        std::to_string(image.nx) + " x " + std::to_string(image.ny) + " image");
  const double axis = o.have_axis ? o.axis : double(o.x0 + bw / 2);
  if (!(axis >= double(o.x0)) || !(axis <= double(o.x0 + bw - 1)))
    throw ReadError("command line", "the axis column " + records::fixed_form(static_cast<float>(axis), 10, 2) +
                                        " lies outside the box's columns " + std::to_string(o.x0) + " to " +
                                        std::to_string(o.x0 + bw - 1));
  const std::int32_t n = o.nx > 0 ? o.nx : adapters::fast_size(bw, true);
  const std::int32_t m = o.ny > 0 ? o.ny : adapters::fast_size(bh);
  if (n < bw || m < bh)
    throw ReadError("command line", "the padded size " + std::to_string(n) + " x " + std::to_string(m) +
                                        " is smaller than the box's " + std::to_string(bw) + " x " +
                                        std::to_string(bh));
  const std::int64_t values = (std::int64_t{n} / 2 + 1) * m;
  if (n == 0 || m == 0 || values > max_complex_values)
    throw ReadError("command line", "the transform would hold " + std::to_string(values) +
                                        " complex values, sidesplit holds at most " +
                                        std::to_string(max_complex_values));
  if (std::int64_t{o.taper} * 2 > std::min(bw, bh))
    throw ReadError("command line", "the taper of " + std::to_string(o.taper) + " pixels is more than half the box");
  float pixel = o.pixel;
  if (pixel == 0.0f && mxyz[0] > 0) pixel = cell[0] / static_cast<float>(mxyz[0]);
  if (!(pixel > 0.0f) || !std::isfinite(pixel))
    throw ReadError(o.image, "the header gives no pixel size (cell edge / sampling along x); give --pixel P");

  const Image box = prepare(image, o.x0, o.y0, bw, bh, o.taper);
  const std::vector<float> t = transform(box, axis - double(o.x0), n, m);

  imagefile::imopen(out, o.transform, "NEW");
  imagefile::icrhdr(out, imagefile::Int3{n / 2 + 1, m, 1}, imagefile::Int3{n, m, 1}, 4, {}, 0);
  imagefile::ialcel(out, {static_cast<float>(n) * pixel, static_cast<float>(m) * pixel, pixel, 90.0f, 90.0f, 90.0f});
  imagefile::iclcdn(t, n / 2 + 1, m, 1, n / 2 + 1, 1, m, dmin, dmax, dmean);
  imagefile::iwrhdr(out, "helixft: transform of " + o.image.substr(0, std::min<std::size_t>(o.image.size(), 58)), 0,
                    dmin, dmax, dmean);
  imagefile::iwrsec(out, t);
  imagefile::imclose(out);

  std::ostream& os = streams.out;
  os << " helixft: " << o.transform << ": " << n / 2 + 1 << " x " << m << " complex values of the " << n << " x " << m
     << " padded box " << o.x0 << "," << o.y0 << "," << bw << "," << bh << ", axis column "
     << records::fixed_form(static_cast<float>(axis), 10, 2) << ", equator row " << m / 2 << "\n";
  os << " pixel " << records::fixed_form(pixel, 10, 4) << " A; per column "
     << records::fixed_form(1.0f / (static_cast<float>(n) * pixel), 12, 8) << " and per row "
     << records::fixed_form(1.0f / (static_cast<float>(m) * pixel), 12, 8) << " rec. Angstroms\n";
  if (o.repeat > 0.0f)
    os << " repeat " << records::fixed_form(o.repeat, 10, 2)
       << " A: " << records::fixed_form(static_cast<float>(m) * pixel / o.repeat, 12, 4) << " rows per 1/c\n";
  return 0;
}

}  // namespace helixft
