#include "mapconvert/mapconvert.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <limits>
#include <ostream>

#include "imagefile/environment.hpp"
#include "imagefile/header.hpp"
#include "imagefile/imageio.hpp"
#include "imagefile/numformat.hpp"
#include "records/error.hpp"

namespace mapconvert {

namespace {

using imagefile::Int3;

constexpr int in_stream = 1;
constexpr int out_stream = 2;

// The first 1024 bytes of the input, read as they lie in the file.
struct RawHeader {
  std::string file;        // the resolved file name, for messages
  std::string bytes;       // 1024 bytes
  std::int64_t size = 0;   // file size in bytes
  bool swapped = false;    // integers are in the other byte order
  bool new_style = false;  // "MAP " in word 53
  bool stamped = false;    // a non-zero machine stamp

  std::uint32_t word(int w) const {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
      v = (v << 8) | static_cast<unsigned char>(bytes[static_cast<std::size_t>(4 * (w - 1) + i)]);
    if (swapped) v = (v >> 24) | ((v >> 8) & 0xff00u) | ((v << 8) & 0xff0000u) | (v << 24);
    return v;
  }
  std::int32_t i32(int w) const { return static_cast<std::int32_t>(word(w)); }
  float f32(int w) const {
    const std::uint32_t v = word(w);
    float f = 0.0f;
    std::memcpy(&f, &v, 4);
    return f;
  }
};

std::string resolved_name(const std::string& logical) {
  std::string file = imagefile::ugtenv(logical);
  return file.empty() ? logical : file;
}

[[noreturn]] void not_a_map(const RawHeader& h, const std::string& why) {
  throw records::ReadError(h.file, "not a map image file: " + why);
}

RawHeader inspect(const std::string& logical) {
  RawHeader h;
  h.file = resolved_name(logical);
  std::ifstream in(h.file, std::ios::binary | std::ios::ate);
  if (!in) throw records::ReadError(h.file, "cannot open the input map");
  h.size = static_cast<std::int64_t>(in.tellg());
  if (h.size < imagefile::header_bytes)
    not_a_map(h, std::to_string(h.size) + " bytes, shorter than the 1024-byte header");
  in.seekg(0);
  h.bytes.assign(imagefile::header_bytes, '\0');
  in.read(h.bytes.data(), imagefile::header_bytes);
  if (!in) throw records::ReadError(h.file, "the header could not be read");

  // The library's rule: a map in this machine's byte order has axis 1 among MAPC, MAPR, MAPS.
  h.swapped = h.i32(17) != 1 && h.i32(18) != 1 && h.i32(19) != 1;
  h.new_style = h.bytes.compare(208, 4, "MAP ") == 0;
  h.stamped = h.bytes[212] != '\0' || h.bytes[213] != '\0';

  const Int3 axes{h.i32(17), h.i32(18), h.i32(19)};
  Int3 sorted = axes;
  std::sort(sorted.begin(), sorted.end());
  if (sorted != Int3{1, 2, 3})
    not_a_map(h, "the axis words 17-19 hold " + std::to_string(axes[0]) + " " + std::to_string(axes[1]) + " " +
                     std::to_string(axes[2]) + " in either byte order, not 1, 2 and 3");
  const std::int32_t mode = h.i32(4);
  if (imagefile::bytes_per_item(mode) == 0) not_a_map(h, "data mode " + std::to_string(mode) + " is not 0-4");
  const std::int64_t nx = h.i32(1), ny = h.i32(2), nz = h.i32(3);
  if (nx < 1 || ny < 1 || nz < 1)
    not_a_map(h, "size " + std::to_string(nx) + " x " + std::to_string(ny) + " x " + std::to_string(nz));
  const std::int32_t nlabl = h.i32(56);
  if (nlabl < 0 || nlabl > imagefile::max_labels)
    not_a_map(h, std::to_string(nlabl) + " labels in word 56, at most 10 are possible");
  const std::int64_t symmetry = h.i32(23) >= 1 && h.i32(24) >= 1 ? h.i32(24) : 0;
  // nx*ny stays below 2^62; the whole size is formed only when it fits in 64 bits (sizes near
  // 2^31 in every dimension would overflow it), and is then compared with the file
  const std::int64_t item = imagefile::bytes_per_item(mode);
  const std::int64_t room = std::numeric_limits<std::int64_t>::max() - imagefile::header_bytes - symmetry;
  if (nx * ny > room / (nz * item))
    not_a_map(h, "its header asks for " + std::to_string(nx) + " x " + std::to_string(ny) + " x " + std::to_string(nz) +
                     " items, far more than the file's " + std::to_string(h.size) + " bytes");
  const std::int64_t need = imagefile::header_bytes + symmetry + nx * ny * nz * item;
  if (need > h.size)
    not_a_map(h, "its header asks for " + std::to_string(need) + " bytes, the file has " + std::to_string(h.size));
  return h;
}

// The output header carries space group 1 with its record; any other group is written as 0.
void carry_symmetry(std::ostream& out, std::int32_t ispg, std::int32_t nsymbt) {
  std::int32_t nbsym = 0;
  if (ispg == 1 && nsymbt >= 1) {
    imagefile::ialsym(out_stream, 1, nbsym);
  } else if (ispg >= 1 && nsymbt >= 1) {
    out << " Space group " << ispg << " and its " << nsymbt
        << " bytes of symmetry records are not carried: the output has space group 0\n";
  }
}

std::int64_t section_numbers(const imagefile::Header& h) {
  return static_cast<std::int64_t>(h.nxyz[0]) * h.nxyz[1] * imagefile::numbers_per_item(h.mode);
}

// Inputs the library reads itself: native or stamped new-style maps and native old-style maps.
void convert_through_library(const RawHeader& raw, const std::string& input, const std::string& output,
                             std::ostream& out) {
  Int3 nxyz{}, mxyz{};
  std::int32_t mode = 0;
  float dmin = 0.0f, dmax = 0.0f, dmean = 0.0f;
  imagefile::imopen(in_stream, input, "RO");
  imagefile::irdhdr(in_stream, nxyz, mxyz, mode, dmin, dmax, dmean);
  const imagefile::Header& in = imagefile::header_of(in_stream);
  imagefile::imopen(out_stream, output, "NEW");
  imagefile::itrhdr(out_stream, in_stream);
  carry_symmetry(out, raw.i32(23), raw.i32(24));
  imagefile::iwrhdr(out_stream, "", -1, dmin, dmax, dmean);
  // the library's reading of the header may differ from the raw look taken first (a machine
  // stamp changes the number format): a section can never hold more numbers than the file
  // has bytes
  const std::int64_t numbers = section_numbers(in);
  if (numbers < 1 || numbers > raw.size)
    throw records::ReadError(raw.file, "its header asks for sections of " + std::to_string(numbers) +
                                           " numbers, the file has " + std::to_string(raw.size) + " bytes");
  std::vector<float> section(static_cast<std::size_t>(numbers));
  for (std::int32_t iz = 0; iz < nxyz[2]; ++iz) {
    if (!imagefile::irdsec(in_stream, section))
      throw records::ReadError(raw.file,
                               "section " + std::to_string(iz + 1) + " of " + std::to_string(nxyz[2]) + " ends early");
    imagefile::iwrsec(out_stream, section);
  }
  imagefile::imclose(out_stream);
  imagefile::imclose(in_stream);
}

// Maps of the other byte order that the library does not convert (old-style, or new-style
// without a stamp): every header word and every number is byte-reversed here.
void convert_swapped(const RawHeader& raw, const std::string& output, std::ostream& out) {
  const Int3 nxyz{raw.i32(1), raw.i32(2), raw.i32(3)};
  const std::int32_t mode = raw.i32(4);
  std::vector<std::string> labels;
  for (int i = 0; i < raw.i32(56); ++i) labels.push_back(raw.bytes.substr(224 + 80 * static_cast<std::size_t>(i), 80));

  imagefile::imopen(out_stream, output, "NEW");
  imagefile::icrhdr(out_stream, nxyz, {raw.i32(8), raw.i32(9), raw.i32(10)}, mode, labels, raw.i32(56));
  imagefile::ialsiz(out_stream, nxyz, {raw.i32(5), raw.i32(6), raw.i32(7)});
  imagefile::ialcel(out_stream, {raw.f32(11), raw.f32(12), raw.f32(13), raw.f32(14), raw.f32(15), raw.f32(16)});
  imagefile::ialuvw(out_stream, {raw.i32(17), raw.i32(18), raw.i32(19)});
  std::vector<std::int32_t> extra;
  for (int w = 25; w <= 49; ++w) extra.push_back(raw.i32(w));
  imagefile::ialext(out_stream, extra, 1, imagefile::extra_words);
  if (raw.new_style) {
    imagefile::ialorg(out_stream, raw.f32(50), raw.f32(51), raw.f32(52));
    imagefile::ialrms(out_stream, raw.f32(55));
  } else {
    // The old layout: x and y origins in words 54 and 55, no z origin and no rms.
    imagefile::ialorg(out_stream, raw.f32(54), raw.f32(55), 0.0f);
    imagefile::ialrms(out_stream, 0.0f);
  }
  carry_symmetry(out, raw.i32(23), raw.i32(24));
  imagefile::iwrhdr(out_stream, "", -1, raw.f32(20), raw.f32(21), raw.f32(22));

  const int b = imagefile::bytes_per_item(mode);
  const std::int64_t symmetry = raw.i32(23) >= 1 && raw.i32(24) >= 1 ? raw.i32(24) : 0;
  const std::size_t items = static_cast<std::size_t>(nxyz[0]) * static_cast<std::size_t>(nxyz[1]);
  std::string bytes(items * static_cast<std::size_t>(b), '\0');
  std::vector<float> section(items * static_cast<std::size_t>(imagefile::numbers_per_item(mode)));
  std::ifstream in(raw.file, std::ios::binary);
  in.seekg(imagefile::header_bytes + symmetry);
  auto* data = reinterpret_cast<unsigned char*>(bytes.data());
  for (std::int32_t iz = 0; iz < nxyz[2]; ++iz) {
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!in)
      throw records::ReadError(raw.file,
                               "section " + std::to_string(iz + 1) + " of " + std::to_string(nxyz[2]) + " ends early");
    if (mode == 0) {
      for (std::size_t i = 0; i < section.size(); ++i) section[i] = static_cast<float>(data[i]);
    } else if (mode == 1 || mode == 3) {
      imagefile::swap_bytes(data, section.size(), 2);
      for (std::size_t i = 0; i < section.size(); ++i) {
        std::int16_t v = 0;
        std::memcpy(&v, data + 2 * i, 2);
        section[i] = static_cast<float>(v);
      }
    } else {
      imagefile::swap_bytes(data, section.size(), 4);
      std::memcpy(section.data(), data, bytes.size());
    }
    imagefile::iwrsec(out_stream, section);
  }
  imagefile::imclose(out_stream);
}

}  // namespace

int run(const std::vector<std::string>& args, progmain::Streams streams) {
  if (args.size() != 2) {
    streams.err << "mapconvert: expected two arguments, the input and the output map (see --help)\n";
    return 2;
  }
  // An empty name would fall through to the image library's default name.
  for (const std::string& a : args)
    if (a.find_first_not_of(' ') == std::string::npos)
      throw records::ReadError("command line", "an empty map name: both the input and the output map must be named");
  const RawHeader raw = inspect(args[0]);
  // A map of the other byte order without "MAP " or without a stamp is one the library would
  // refuse or read unconverted; everything else goes through the library's own conversion.
  const bool own_swap = raw.swapped && (!raw.new_style || (!raw.stamped && imagefile::ugtenv("CONVERT_FROM").empty() &&
                                                           imagefile::ugtenv("NATIVEMAP").empty()));
  std::string kind;
  if (own_swap) {
    convert_swapped(raw, args[1], streams.out);
    kind = raw.new_style ? "new-style map of the other byte order without a machine stamp"
                         : "old-style map of the other byte order";
  } else {
    convert_through_library(raw, args[0], args[1], streams.out);
    kind = !raw.new_style ? "old-style map" : raw.swapped ? "map of another machine" : "native map";
  }
  streams.out << " mapconvert: " << raw.file << " (" << kind << ") written as native map " << resolved_name(args[1])
              << '\n';
  return 0;
}

}  // namespace mapconvert
