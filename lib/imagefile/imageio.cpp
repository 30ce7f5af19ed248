#include "imagefile/imageio.hpp"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <iostream>

#include "imagefile/diskio.hpp"
#include "imagefile/environment.hpp"
#include "imagefile/state.hpp"
#include "records/error.hpp"
#include "records/forms.hpp"
#include "records/free.hpp"
#include "records/source.hpp"

namespace imagefile {

namespace {

using detail::ImageFlags;

// The conversion buffer of modes 0, 1 and 3: 8192 bytes or 4096 16-bit values per chunk.
constexpr std::size_t chunk_bytes = 8192;
constexpr std::size_t chunk_values = 4096;

std::ostream& out() { return report_stream(); }

std::string trimmed_name(std::string_view name) {
  std::string s(name);
  const int n = numchars(s);
  s.resize(static_cast<std::size_t>(n));
  return s;
}

// A stop after a message of this library that has no stop text of its own.
[[noreturn]] void refuse(const std::string& message) {
  out() << message << '\n';
  note_failure(message);
  stop_run();
}

// The disk stream of image stream istream, which must have been opened.
int unit_of(const char* routine, int istream) {
  detail::ImageTable& t = detail::image_table();
  if (istream < 1 || istream > max_image_streams || t.stream_map[static_cast<std::size_t>(istream)] == 0)
    refuse(std::string(" ") + routine + ": stream " + std::to_string(istream) + " has not been opened");
  const int unit = t.stream_map[static_cast<std::size_t>(istream)];
  note_file(detail::disk_table().streams[static_cast<std::size_t>(unit)].name);
  return unit;
}

Header& hdr(int unit) { return detail::image_table().headers[static_cast<std::size_t>(unit)]; }
ImageFlags& flags(int unit) { return detail::image_table().flags[static_cast<std::size_t>(unit)]; }

// The item size of the header's data mode; other modes are refused.
int item_bytes_of(const char* routine, const Header& h) {
  const int b = bytes_per_item(h.mode);
  if (b == 0) refuse(std::string(" ") + routine + ": map mode " + std::to_string(h.mode) + " is not supported");
  return b;
}

void require_room(const char* routine, std::size_t have, std::int64_t need) {
  if (need < 0 || static_cast<std::uint64_t>(need) > have)
    refuse(std::string(" ") + routine + ": array of " + std::to_string(have) + " numbers is too small for " +
           std::to_string(need));
}

void refuse_unknown_read(int unit) {
  if (flags(unit).unknown_status) refuse("!!! Fatal error - attempted UNKNOWN status file read !!!");
}

void refuse_foreign_write(int unit) {
  if (flags(unit).old_style) {
    out() << "!!! Error - cannot overwrite old-style 20th century map.\n"
          << "    Use mapconvert program and retry.\n";
    note_failure("cannot overwrite an old-style 20th century map; use mapconvert and retry");
    stop_run();
  }
  if (flags(unit).foreign) {
    out() << "!!! Error - cannot overwrite map of different machine \n\n"
          << "architecture - use mapconvert program and retry.\n";
    note_failure("cannot overwrite a map of a different machine architecture; use mapconvert and retry");
    stop_run();
  }
}

// Reads n items of data mode h.mode from the current position into array; false on a short
// read. The caller has checked that array holds them.
bool read_items(int unit, const Header& h, float* array, std::int64_t n) {
  std::int16_t* conversion_values = detail::image_table().conversion.data();
  auto* conversion_bytes = reinterpret_cast<unsigned char*>(conversion_values);
  const int b = bytes_per_item(h.mode);
  const bool raw = flags(unit).raw;
  if (h.mode == 0) {
    qmode(unit, 0);
    if (raw) return qread(unit, array, n) == 0;
    for (std::int64_t done = 0; done < n;) {
      const std::int64_t k = std::min<std::int64_t>(n - done, static_cast<std::int64_t>(chunk_bytes));
      if (qread(unit, conversion_bytes, k) != 0) return false;
      for (std::int64_t i = 0; i < k; ++i) array[done + i] = static_cast<float>(conversion_bytes[i]);
      done += k;
    }
    return true;
  }
  if (h.mode == 1 || h.mode == 3) {
    qmode(unit, 1);
    const std::int64_t count = n * b / 2;
    if (raw) return qread(unit, array, count) == 0;
    for (std::int64_t done = 0; done < count;) {
      const std::int64_t k = std::min<std::int64_t>(count - done, static_cast<std::int64_t>(chunk_values));
      if (qread(unit, conversion_values, k) != 0) return false;
      for (std::int64_t i = 0; i < k; ++i) array[done + i] = static_cast<float>(conversion_values[i]);
      done += k;
    }
    return true;
  }
  qmode(unit, 2);
  return qread(unit, array, n * b / 4) == 0;
}

// Nearest integer of x, halves away from zero, reduced to its low `bits` bits as an unsigned
// value; non-finite values store 0.
std::uint32_t low_bits(float x, int bits) {
  if (!std::isfinite(x)) return 0;
  const float r = x >= 0.0f ? std::trunc(x + 0.5f) : std::trunc(x - 0.5f);
  const double modulus = bits == 8 ? 256.0 : 65536.0;
  double m = std::fmod(static_cast<double>(r), modulus);
  if (m < 0.0) m += modulus;
  return static_cast<std::uint32_t>(m);
}

void write_items(int unit, const Header& h, const float* array, std::int64_t n) {
  std::int16_t* conversion_values = detail::image_table().conversion.data();
  auto* conversion_bytes = reinterpret_cast<unsigned char*>(conversion_values);
  const int b = bytes_per_item(h.mode);
  const bool raw = flags(unit).raw;
  if (h.mode == 0) {
    qmode(unit, 0);
    if (raw) {
      qwrite(unit, array, n);
      return;
    }
    for (std::int64_t done = 0; done < n;) {
      const std::int64_t k = std::min<std::int64_t>(n - done, static_cast<std::int64_t>(chunk_bytes));
      for (std::int64_t i = 0; i < k; ++i)
        conversion_bytes[i] = static_cast<unsigned char>(low_bits(array[done + i], 8));
      qwrite(unit, conversion_bytes, k);
      done += k;
    }
    return;
  }
  if (h.mode == 1 || h.mode == 3) {
    qmode(unit, 1);
    const std::int64_t count = n * b / 2;
    if (raw) {
      qwrite(unit, array, count);
      return;
    }
    for (std::int64_t done = 0; done < count;) {
      const std::int64_t k = std::min<std::int64_t>(count - done, static_cast<std::int64_t>(chunk_values));
      for (std::int64_t i = 0; i < k; ++i) {
        const std::uint16_t v = static_cast<std::uint16_t>(low_bits(array[done + i], 16));
        std::memcpy(&conversion_values[i], &v, 2);
      }
      qwrite(unit, conversion_values, k);
      done += k;
    }
    return;
  }
  qmode(unit, 2);
  qwrite(unit, array, n * b / 4);
}

// Floats the caller's array must hold for n items: one or two per item, or the raw bytes.
std::int64_t floats_for(const Header& h, bool raw, std::int64_t n) {
  if (raw && h.mode != 2 && h.mode != 4) return (n * bytes_per_item(h.mode) + 3) / 4;
  return n * numbers_per_item(h.mode);
}

void move_to_data_if_unpositioned(int unit, const Header& h) {
  if (!flags(unit).unpositioned) return;
  qmode(unit, 0);
  qseek(unit, 1, header_bytes + static_cast<std::int64_t>(h.nsymbt) + 1, 1);
  flags(unit).unpositioned = false;
}

bool read_line_items(const char* routine, int istream, std::span<float> array, std::int64_t n) {
  const int unit = unit_of(routine, istream);
  refuse_unknown_read(unit);
  const Header& h = hdr(unit);
  item_bytes_of(routine, h);
  require_room(routine, array.size(), floats_for(h, flags(unit).raw, n));
  return read_items(unit, h, array.data(), n);
}

void write_line_items(const char* routine, int istream, std::span<const float> array, std::int64_t n) {
  const int unit = unit_of(routine, istream);
  refuse_foreign_write(unit);
  const Header& h = hdr(unit);
  item_bytes_of(routine, h);
  require_room(routine, array.size(), floats_for(h, flags(unit).raw, n));
  move_to_data_if_unpositioned(unit, h);
  write_items(unit, h, array.data(), n);
}

void check_line_range(const char* routine, const Header& h, int nx1, int nx2) {
  if (nx1 < 0 || nx2 < nx1 || nx2 >= h.nxyz[0])
    refuse(std::string(" ") + routine + ": items " + std::to_string(nx1) + " to " + std::to_string(nx2) +
           " are not within a line of " + std::to_string(h.nxyz[0]));
}

// The header groups in file order, each moved in its own file mode (6 integers, 2 reals,
// 0 bytes) so that foreign numbers convert per type. `move` is called once a group and says
// whether the group was moved; the walk ends after the first group if that one was not.
template <class H, class Move>
bool walk_header_groups(H& h, Move move) {
  if (!move(6, h.nxyz.data(), 3)) return false;
  bool ok = true;
  auto group = [&](int mode, auto* p, int n) { ok = move(mode, p, n) && ok; };
  group(6, &h.mode, 1);
  group(6, h.nxyzstart.data(), 3);
  group(6, h.mxyz.data(), 3);
  group(2, h.cella.data(), 3);
  group(2, h.cellb.data(), 3);
  group(6, h.mapcrs.data(), 3);
  group(2, &h.dmin, 1);
  group(2, &h.dmax, 1);
  group(2, &h.dmean, 1);
  group(6, &h.ispg, 1);
  group(6, &h.nsymbt, 1);
  group(6, h.extra.data(), extra_words);
  group(2, h.origin.data(), 3);
  group(2, h.map_stamp.data(), 2);
  group(2, &h.rms, 1);
  group(6, &h.nlabl, 1);
  group(0, h.labels.data(), label_bytes);
  return ok;
}

// False when a read meets the end of the file.
bool read_header_groups(int unit, Header& h) {
  return walk_header_groups(h, [unit](int mode, void* p, int n) {
    qmode(unit, mode);
    return qread(unit, p, n) == 0;
  });
}

void write_header_groups(int unit, const Header& h) {
  walk_header_groups(h, [unit](int mode, const void* p, int n) {
    qmode(unit, mode);
    qwrite(unit, p, n);
    return true;
  });
}

std::string caption(std::string_view text) { return "       " + padded(text, 43); }

std::string axis_letter(std::int32_t axis) {
  switch (axis) {
    case 1:
      return "     X";
    case 2:
      return "     Y";
    case 3:
      return "     Z";
    default:
      return "     ?";
  }
}

void print_header_report(const Header& h) {
  auto i6 = [](std::int32_t v) { return records::int_form(v, 6); };
  auto f10 = [](float v) { return records::fixed_form(v, 10, 2); };
  auto f25 = [](float v) { return records::fixed_form(v, 25, 12); };
  std::ostream& o = out();
  o << '\n';
  o << caption("Number of columns, rows, sections ........ ") << i6(h.nxyz[0]) << i6(h.nxyz[1]) << i6(h.nxyz[2])
    << '\n';
  o << caption("Map mode ................................. ") << i6(h.mode) << '\n';
  o << caption("Start points on columns, rows, sections .. ") << i6(h.nxyzstart[0]) << i6(h.nxyzstart[1])
    << i6(h.nxyzstart[2]) << '\n';
  o << caption("Grid sampling on x, y, z ................. ") << i6(h.mxyz[0]) << i6(h.mxyz[1]) << i6(h.mxyz[2])
    << '\n';
  o << caption("Cell axes ................................ ") << f10(h.cella[0]) << f10(h.cella[1]) << f10(h.cella[2])
    << '\n';
  o << caption("Cell angles .............................. ") << f10(h.cellb[0]) << f10(h.cellb[1]) << f10(h.cellb[2])
    << '\n';
  o << caption("Fast, medium, slow axes .................. ") << axis_letter(h.mapcrs[0]) << axis_letter(h.mapcrs[1])
    << axis_letter(h.mapcrs[2]) << '\n';
  o << caption("Minimum density .......................... ") << f25(h.dmin) << '\n';
  o << caption("Maximum density .......................... ") << f25(h.dmax) << '\n';
  o << caption("Mean density ............................. ") << f25(h.dmean) << '\n';
  o << caption("Origin ................................... ") << f10(h.origin[0]) << f10(h.origin[1])
    << f10(h.origin[2]) << '\n';
  o << caption("RMS deviation ............................ ") << f25(h.rms) << '\n';
  o << caption("Space group, # bytes symmetry ............ ") << i6(h.ispg) << i6(h.nsymbt) << '\n';
  o << caption("Number of titles ......................... ") << i6(h.nlabl) << '\n';
  o << '\n' << " Titles :\n";
  for (int i = 1; i <= std::clamp(h.nlabl, 0, max_labels); ++i) o << ' ' << h.label(i) << '\n';
  o << '\n';
}

std::string status_word(std::string_view atbute) {
  std::string status = padded(atbute, 7);
  envupc(status);
  return status;
}

}  // namespace

// ---------------------------------------------------------------------------------------

void imopen(int istream, std::string_view name, std::string_view atbute) {
  detail::ImageTable& t = detail::image_table();
  note_file(trimmed_name(name));
  if (istream < 1 || istream > max_image_streams) {
    out() << "\n\n IMOPEN: Invalid STREAM number!!!\n\n\n";
    note_failure("IMOPEN: Invalid STREAM number!!!");
    stop_run("Open Error !!!");
  }
  if (++t.open_count > max_open_images) {
    out() << "\n\n IMOPEN: No More than 5 files can be opened!!!\n\n\n";
    note_failure("IMOPEN: No More than 5 files can be opened!!!");
    stop_run("open error!!!");
  }
  const std::string status = status_word(atbute);
  const int unit = qopen(name, status);
  t.stream_map[static_cast<std::size_t>(istream)] = unit;
  ImageFlags& f = flags(unit);
  f = ImageFlags{};
  f.unpositioned = true;
  const std::string shown = trimmed_name(name);

  // The first letter decides the status, as it does for the disk layer.
  const char first = status[0];
  if (first == 'U') {
    f.unknown_status = true;
    out() << "\n!!! Warning - file : " << shown << " has UNKNOWN status !!!\n\n";
  } else if (first != 'N' && first != 'S') {
    // Classify the file: word 53 and the axis words, both as they lie in the file.
    qmode(unit, 0);
    unsigned char word53[4] = {0, 0, 0, 0};
    std::int32_t axes[3] = {0, 0, 0};
    qseek(unit, 1, 209, 1);
    const bool have_word53 = qread(unit, word53, 4) == 0;
    qseek(unit, 1, 65, 1);
    const bool have_axes = qread(unit, axes, 12) == 0;
    // A file too short to hold these words is left unclassified: its header read reports it.
    if (have_word53 && have_axes) {
      if (axes[0] != 1 && axes[1] != 1 && axes[2] != 1) {
        f.foreign = true;
        out() << "\n!!! Warning - architecture incompatibility !!! \n";
      }
      const bool map = std::memcmp(word53, "MAP ", 4) == 0;
      if (!map && !f.foreign) {
        out() << "\n!!! Warning - old style 20th century map : " << shown << '\n';
        f.old_style = true;
      } else if (!map) {
        out() << (records::FreeLine() << "(A) karch(j) is " << std::int32_t{1}).str() << '\n'
              << "!!! Fatal error - cannot read from or write to file : " << shown << '\n'
              << "!!! Use mapconvert to reformat maps correctly !!!\n";
        note_failure("cannot read from or write to a foreign old-style map; use mapconvert to reformat it");
        stop_run();
      } else {
        out() << "\n!!! New style 21st century map : " << shown << '\n';
        if (qrarch(unit, 53) == 0) out() << "\n!!! Warning - no machine stamp in file : " << shown << '\n';
      }
    }
  }

  qmode(unit, 0);
  int inquired = unit;
  std::string full_name;
  std::int64_t size = 0;
  qqinq(inquired, name, full_name, size);
  out() << "\n Filename for " << status << " image file on unit" << records::int_form(istream, 4) << " : "
        << padded(full_name, 60) << '\n';
  if (first != 'N' && first != 'S' && first != 'U')
    out() << std::string(29, ' ') << "Size= " << records::int_form(size, 10) << '\n';
  out() << '\n';
}

void imclose(int istream) {
  detail::ImageTable& t = detail::image_table();
  qclose(unit_of("IMCLOSE", istream));
  t.open_count = std::max(0, t.open_count - 1);
}

int imform(int istream) { return flags(unit_of("IMFORM", istream)).old_style ? -1 : 0; }

int imunit(int istream) { return unit_of("IMUNIT", istream); }

void irdhdr(int istream, Int3& inxyz, Int3& imxyz, std::int32_t& imode, float& dmin, float& dmax, float& dmean) {
  const int unit = unit_of("IRDHDR", istream);
  refuse_unknown_read(unit);
  ImageFlags& f = flags(unit);
  f.unpositioned = false;
  Header& h = hdr(unit);
  Header fresh;
  qmode(unit, 0);
  qseek(unit, 1, 1, 1);
  // A header cut short anywhere cannot be trusted, so every group must be there.
  if (!read_header_groups(unit, fresh)) {
    out() << " IRDHDR: End-of-File error !!!\n";
    note_failure("IRDHDR: End-of-File error !!!");
    stop_run("Error");
  }
  h = fresh;
  inxyz = h.nxyz;
  imxyz = h.mxyz;
  imode = h.mode;
  dmin = h.dmin;
  dmax = h.dmax;
  dmean = h.dmean;
  if (f.old_style) {
    // The old layout had x and y origins in words 54 and 55, no z origin, stamp or rms.
    float xorig = 0.0f;
    float yorig = h.rms;
    std::memcpy(&xorig, h.map_stamp.data() + 4, 4);
    h.origin = {xorig, yorig, 0.0f};
    h.rms = 0.0f;
  }
  if (h.ispg < 1 || h.nsymbt < 1) {
    h.ispg = 0;
    h.nsymbt = 0;
  } else {
    qmode(unit, 0);
    qskip(unit, h.nsymbt);
  }
  print_header_report(h);
  if (bytes_per_item(h.mode) == 0) refuse(" IRDHDR: map mode " + std::to_string(h.mode) + " is not supported (0-4)");
  if (h.nlabl < 0 || h.nlabl > max_labels)
    refuse(" IRDHDR: number of titles " + std::to_string(h.nlabl) + " is outside 0-10");
  if (h.nxyz[0] < 0 || h.nxyz[1] < 0 || h.nxyz[2] < 0) refuse(" IRDHDR: negative number of columns, rows or sections");
}

void iwrhdr(int istream, std::string_view title, int ntflag, float dmin, float dmax, float dmean) {
  const int unit = unit_of("IWRHDR", istream);
  refuse_foreign_write(unit);
  Header& h = hdr(unit);
  // Refused before anything is written, so an existing file keeps its header.
  if (h.ispg != 0 && !(h.ispg == 1 && h.nsymbt != 0)) stop_run("Error - IMAGE spacegroup must be 0 or 1");
  flags(unit).unpositioned = false;
  h.dmin = dmin;
  h.dmax = dmax;
  h.dmean = dmean;
  std::memcpy(h.map_stamp.data(), "MAP ", 4);
  h.nlabl = std::clamp(h.nlabl, 0, max_labels);
  if (ntflag == 1) {
    h.nlabl = std::min(h.nlabl + 1, max_labels);
    h.set_label(h.nlabl, title);
  } else if (ntflag == 2) {
    const int keep = std::min(h.nlabl, max_labels - 1);
    for (int i = keep; i >= 1; --i) h.set_label(i + 1, h.label(i));
    h.set_label(1, title);
    h.nlabl = keep + 1;
  } else if (ntflag != -1) {
    h.nlabl = 1;
    h.set_label(1, title);
  }
  // One record of symmetry for space group 1: the header word says how many bytes follow.
  const bool symmetry = h.ispg == 1 && h.nsymbt != 0;
  if (symmetry) h.nsymbt = symmetry_record_bytes;
  qmode(unit, 0);
  qseek(unit, 1, 1, 1);
  write_header_groups(unit, h);
  qwarch(unit, 53);
  qmode(unit, 0);
  if (symmetry) {
    qseek(unit, 1, header_bytes + 1, 1);
    qwritc(unit, padded(p1_symmetry_operator, symmetry_record_bytes));
  }
  qseek(unit, 1, header_bytes + static_cast<std::int64_t>(h.nsymbt) + 1, 1);
}

void itrhdr(int istream, int jstream) {
  Header& to = hdr(unit_of("ITRHDR", istream));
  const Header& from = hdr(unit_of("ITRHDR", jstream));
  to = from;
  to.ispg = 0;
  to.nsymbt = 0;
}

void itrlab(int istream, int jstream) {
  Header& to = hdr(unit_of("ITRLAB", istream));
  const Header& from = hdr(unit_of("ITRLAB", jstream));
  to.nlabl = from.nlabl;
  to.labels = from.labels;
}

void itrcel(int istream, int jstream) {
  Header& to = hdr(unit_of("ITRCEL", istream));
  const Header& from = hdr(unit_of("ITRCEL", jstream));
  to.cella = from.cella;
  to.cellb = from.cellb;
}

void icrhdr(int istream, const Int3& inxyz, const Int3& imxyz, std::int32_t imode, std::span<const std::string> labels,
            int nl) {
  Header& h = hdr(unit_of("ICRHDR", istream));
  h = Header{};
  h.nxyz = inxyz;
  h.mxyz = imxyz;
  h.cella = {static_cast<float>(imxyz[0]), static_cast<float>(imxyz[1]), static_cast<float>(imxyz[2])};
  h.cellb = {90.0f, 90.0f, 90.0f};
  h.mapcrs = {1, 2, 3};
  h.mode = imode;
  h.blank_labels();
  h.nlabl = std::min(std::clamp(nl, 0, max_labels), static_cast<int>(labels.size()));
  for (int i = 1; i <= h.nlabl; ++i) h.set_label(i, labels[static_cast<std::size_t>(i - 1)]);
}

void imposn(int istream, int iz, int iy) {
  const int unit = unit_of("IMPOSN", istream);
  flags(unit).unpositioned = false;
  const Header& h = hdr(unit);
  const std::int64_t b = item_bytes_of("IMPOSN", h);
  qmode(unit, 0);
  const std::int64_t line = h.nxyz[0] * b;
  const std::int64_t section = line * h.nxyz[1];
  qseek(unit, std::max(iz, 0) + 1, std::max(iy, 0) * line + 1 + header_bytes + h.nsymbt, section);
}

bool irdlin(int istream, std::span<float> array) {
  const Header& h = hdr(unit_of("IRDLIN", istream));
  return read_line_items("IRDLIN", istream, array, h.nxyz[0]);
}

bool irdsec(int istream, std::span<float> array) {
  const Header& h = hdr(unit_of("IRDSEC", istream));
  return read_line_items("IRDSEC", istream, array, static_cast<std::int64_t>(h.nxyz[0]) * h.nxyz[1]);
}

bool irdpal(int istream, std::span<float> array, int nx1, int nx2) {
  const int unit = unit_of("IRDPAL", istream);
  refuse_unknown_read(unit);
  const Header& h = hdr(unit);
  const int b = item_bytes_of("IRDPAL", h);
  check_line_range("IRDPAL", h, nx1, nx2);
  require_room("IRDPAL", array.size(), floats_for(h, flags(unit).raw, nx2 - nx1 + 1));
  qmode(unit, 0);
  qskip(unit, static_cast<std::int64_t>(nx1) * b);
  if (!read_items(unit, h, array.data(), nx2 - nx1 + 1)) return false;
  qmode(unit, 0);
  qskip(unit, static_cast<std::int64_t>(h.nxyz[0] - nx2 - 1) * b);
  return true;
}

bool irdpas(int istream, std::span<float> array, int mx, int my, int nx1, int nx2, int ny1, int ny2) {
  const int unit = unit_of("IRDPAS", istream);
  refuse_unknown_read(unit);
  const Header& h = hdr(unit);
  const int b = item_bytes_of("IRDPAS", h);
  check_line_range("IRDPAS", h, nx1, nx2);
  const std::int64_t per_line = floats_for(h, flags(unit).raw, nx2 - nx1 + 1);
  if (mx < 0 || my < 0 || per_line > mx || ny1 < 0 || ny2 < ny1 || ny2 - ny1 + 1 > my)
    refuse(" IRDPAS: the area does not fit an array of " + std::to_string(mx) + " by " + std::to_string(my));
  require_room("IRDPAS", array.size(), static_cast<std::int64_t>(mx) * my);
  std::fill(array.begin(), array.begin() + static_cast<std::ptrdiff_t>(mx) * my, 0.0f);
  qmode(unit, 0);
  qskip(unit, static_cast<std::int64_t>(ny1) * h.nxyz[0] * b);
  for (int k = 1; k <= ny2 - ny1 + 1; ++k) {
    if (!irdpal(istream, array.subspan(static_cast<std::size_t>(k - 1) * static_cast<std::size_t>(mx)), nx1, nx2))
      return false;
  }
  return true;
}

void iwrlin(int istream, std::span<const float> array) {
  const Header& h = hdr(unit_of("IWRLIN", istream));
  write_line_items("IWRLIN", istream, array, h.nxyz[0]);
}

void iwrsec(int istream, std::span<const float> array) {
  const Header& h = hdr(unit_of("IWRSEC", istream));
  write_line_items("IWRSEC", istream, array, static_cast<std::int64_t>(h.nxyz[0]) * h.nxyz[1]);
}

void iwrpal(int istream, std::span<const float> array, int nx1, int nx2) {
  const int unit = unit_of("IWRPAL", istream);
  refuse_foreign_write(unit);
  const Header& h = hdr(unit);
  const int b = item_bytes_of("IWRPAL", h);
  check_line_range("IWRPAL", h, nx1, nx2);
  const std::int64_t n = nx2 - nx1 + 1;
  const std::int64_t first = static_cast<std::int64_t>(nx1) * numbers_per_item(h.mode);
  if (flags(unit).raw && h.mode != 2 && h.mode != 4) refuse(" IWRPAL: partial lines of raw bytes are not supported");
  require_room("IWRPAL", array.size(), first + floats_for(h, false, n));
  move_to_data_if_unpositioned(unit, h);
  write_items(unit, h, array.data() + first, n);
  qmode(unit, 0);
  qskip(unit, (h.nxyz[0] - n) * b);
}

void iwrpas(int istream, std::span<const float> array, int mx, int my, int nx1, int nx2, int ny1, int ny2) {
  const int unit = unit_of("IWRPAS", istream);
  if (mx < 0 || my < 0 || ny1 < 0 || ny2 < ny1 || ny2 + 1 > my)
    refuse(" IWRPAS: the area does not fit an array of " + std::to_string(mx) + " by " + std::to_string(my));
  require_room("IWRPAS", array.size(), static_cast<std::int64_t>(mx) * my);
  (void)unit;
  for (int k = ny1 + 1; k <= ny2 + 1; ++k) {
    auto column =
        array.subspan(static_cast<std::size_t>(k - 1) * static_cast<std::size_t>(mx), static_cast<std::size_t>(mx));
    iwrpal(istream, column, nx1, nx2);
  }
}

namespace {

// One pair of numbers asked for on standard output and read free-format from standard input.
std::pair<std::int32_t, std::int32_t> ask_pair(const std::string& prompt) {
  out() << prompt << '\n';
  out().flush();
  records::LineSource in(std::cin, "standard input");
  records::FreeRecord rec(in);
  const std::int32_t a = rec.integer("first limit");
  const std::int32_t b = rec.integer("second limit");
  return {a, b};
}

void clamp_limits(const Header& h, Int3& ixyzmin, Int3& ixyzmax, Int3& mxyz) {
  for (std::size_t i = 0; i < 3; ++i) {
    const std::int32_t top = std::max(h.nxyz[i] - 1, 0);
    ixyzmin[i] = std::clamp(ixyzmin[i], 0, top);
    ixyzmax[i] = std::clamp(ixyzmax[i], ixyzmin[i], top);
    mxyz[i] = ixyzmax[i] - ixyzmin[i] + 1;
  }
}

constexpr const char* axis_names[3] = {"x (columns)", "y (rows)", "z (sections)"};

}  // namespace

void icllim(int istream, Int3& ixyzmin, Int3& ixyzmax, Int3& mxyz) {
  const Header& h = hdr(unit_of("ICLLIM", istream));
  for (std::size_t i = 0; i < 3; ++i) {
    const auto [lo, hi] = ask_pair(" Lower and upper limits on " + std::string(axis_names[i]) + ", 0 to " +
                                   std::to_string(std::max(h.nxyz[i] - 1, 0)) + " :");
    ixyzmin[i] = lo;
    ixyzmax[i] = hi;
  }
  clamp_limits(h, ixyzmin, ixyzmax, mxyz);
}

void ictlim(int istream, Int3& ixyzmin, Int3& ixyzmax, Int3& mxyz) {
  const Header& h = hdr(unit_of("ICTLIM", istream));
  for (std::size_t i = 0; i < 3; ++i) {
    const auto [centre, half] = ask_pair(" Centre and half width on " + std::string(axis_names[i]) + ", 0 to " +
                                         std::to_string(std::max(h.nxyz[i] - 1, 0)) + " :");
    const std::int64_t lo = static_cast<std::int64_t>(centre) - std::abs(static_cast<std::int64_t>(half));
    const std::int64_t hi = static_cast<std::int64_t>(centre) + std::abs(static_cast<std::int64_t>(half));
    ixyzmin[i] = static_cast<std::int32_t>(std::clamp<std::int64_t>(lo, 0, h.nxyz[i]));
    ixyzmax[i] = static_cast<std::int32_t>(std::clamp<std::int64_t>(hi, 0, h.nxyz[i]));
  }
  clamp_limits(h, ixyzmin, ixyzmax, mxyz);
}

namespace {

template <typename Value>
void densities(const char* routine, std::size_t have, int mx, int my, int nx1, int nx2, int ny1, int ny2,
               int per_element, Value value, float& dmin, float& dmax, float& dmean) {
  if (nx1 < 1 || ny1 < 1 || nx2 > mx || ny2 > my)
    refuse(std::string(" ") + routine + ": area outside the array of " + std::to_string(mx) + " by " +
           std::to_string(my));
  if (nx2 >= nx1 && ny2 >= ny1)
    require_room(routine, have, (static_cast<std::int64_t>(ny2 - 1) * mx + nx2) * per_element);
  dmin = 1.0e10f;
  dmax = -1.0e10f;
  float sum = 0.0f;
  std::int64_t count = 0;
  for (int j = ny1; j <= ny2; ++j) {
    for (int i = nx1; i <= nx2; ++i) {
      const float v =
          value(static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(mx) + static_cast<std::size_t>(i - 1));
      dmin = std::min(dmin, v);
      dmax = std::max(dmax, v);
      sum += v;
      ++count;
    }
  }
  dmean = count > 0 ? sum / static_cast<float>(count) : 0.0f;
}

}  // namespace

void iclden(std::span<const float> array, int mx, int my, int nx1, int nx2, int ny1, int ny2, float& dmin, float& dmax,
            float& dmean) {
  densities(
      "ICLDEN", array.size(), mx, my, nx1, nx2, ny1, ny2, 1, [&](std::size_t k) { return array[k]; }, dmin, dmax,
      dmean);
}

void iclcdn(std::span<const float> carray, int mx, int my, int nx1, int nx2, int ny1, int ny2, float& dmin, float& dmax,
            float& dmean) {
  densities(
      "ICLCDN", carray.size(), mx, my, nx1, nx2, ny1, ny2, 2,
      [&](std::size_t k) {
        const float re = carray[2 * k];
        const float im = carray[2 * k + 1];
        return std::sqrt(re * re + im * im);
      },
      dmin, dmax, dmean);
}

// --- setters and getters ----------------------------------------------------------------

void ialcel(int istream, const std::array<float, 6>& cell) {
  Header& h = hdr(unit_of("IALCEL", istream));
  h.cella = {cell[0], cell[1], cell[2]};
  h.cellb = {cell[3], cell[4], cell[5]};
}

void irtcel(int istream, std::array<float, 6>& cell) {
  const Header& h = hdr(unit_of("IRTCEL", istream));
  cell = {h.cella[0], h.cella[1], h.cella[2], h.cellb[0], h.cellb[1], h.cellb[2]};
}

void ialcon(int istream, bool convert) { flags(unit_of("IALCON", istream)).raw = !convert; }

void ialext(int istream, std::span<const std::int32_t> extra, int istart, int nextra) {
  Header& h = hdr(unit_of("IALEXT", istream));
  if (istart < 1 || istart + nextra > extra_words + 1) stop_run("IALEXT: Attempt to write out of bounds");
  require_room("IALEXT", extra.size(), nextra);
  for (int i = 0; i < nextra; ++i)
    h.extra[static_cast<std::size_t>(istart - 1 + i)] = extra[static_cast<std::size_t>(i)];
}

void irtext(int istream, std::span<std::int32_t> extra, int istart, int nextra) {
  const Header& h = hdr(unit_of("IRTEXT", istream));
  if (istart < 1 || istart > extra_words) stop_run("IRTEXT: Error in start number");
  const int n = std::min(nextra, extra_words + 1 - istart);
  require_room("IRTEXT", extra.size(), n);
  for (int i = 0; i < n; ++i) extra[static_cast<std::size_t>(i)] = h.extra[static_cast<std::size_t>(istart - 1 + i)];
}

void iallab(int istream, std::span<const std::string> labels, int nl) {
  Header& h = hdr(unit_of("IALLAB", istream));
  h.nlabl = std::min(std::clamp(nl, 0, max_labels), static_cast<int>(labels.size()));
  for (int i = 1; i <= h.nlabl; ++i) h.set_label(i, labels[static_cast<std::size_t>(i - 1)]);
  for (int i = h.nlabl + 1; i <= max_labels; ++i) h.set_label(i, "");
}

std::vector<std::string> irtlab(int istream) {
  const Header& h = hdr(unit_of("IRTLAB", istream));
  std::vector<std::string> labels;
  for (int i = 1; i <= std::clamp(h.nlabl, 0, max_labels); ++i) labels.push_back(h.label(i));
  return labels;
}

void ialmod(int istream, std::int32_t imode) { hdr(unit_of("IALMOD", istream)).mode = imode; }

void ialorg(int istream, float xorig, float yorig, float zorig) {
  hdr(unit_of("IALORG", istream)).origin = {xorig, yorig, zorig};
}

void irtorg(int istream, float& xorig, float& yorig, float& zorig) {
  const Header& h = hdr(unit_of("IRTORG", istream));
  xorig = h.origin[0];
  yorig = h.origin[1];
  zorig = h.origin[2];
}

void ialrms(int istream, float rms) { hdr(unit_of("IALRMS", istream)).rms = rms; }
void irtrms(int istream, float& rms) { rms = hdr(unit_of("IRTRMS", istream)).rms; }
void ialsam(int istream, const Int3& imxyz) { hdr(unit_of("IALSAM", istream)).mxyz = imxyz; }
void irtsam(int istream, Int3& imxyz) { imxyz = hdr(unit_of("IRTSAM", istream)).mxyz; }

void ialsiz(int istream, const Int3& inxyz, const Int3& nxyzst) {
  Header& h = hdr(unit_of("IALSIZ", istream));
  h.nxyz = inxyz;
  h.nxyzstart = nxyzst;
}

void irtsiz(int istream, Int3& inxyz, Int3& imxyz, Int3& nxyzst) {
  const Header& h = hdr(unit_of("IRTSIZ", istream));
  inxyz = h.nxyz;
  imxyz = h.mxyz;
  nxyzst = h.nxyzstart;
}

void ialsym(int istream, std::int32_t ispg, std::int32_t& nbsym) {
  Header& h = hdr(unit_of("IALSYM", istream));
  if (ispg != 0 && ispg != 1) stop_run(" IMAGE spacegroup must be 0 or 1");
  nbsym = ispg == 1 ? symmetry_record_bytes : 0;
  h.ispg = ispg;
  h.nsymbt = nbsym;
}

void irtsym(int istream, std::int32_t& ispg, std::int32_t& nbsym) {
  const Header& h = hdr(unit_of("IRTSYM", istream));
  ispg = h.ispg;
  nbsym = h.nsymbt;
}

void ialuvw(int istream, const Int3& iuvw) { hdr(unit_of("IALUVW", istream)).mapcrs = iuvw; }
void irtuvw(int istream, Int3& iuvw) { iuvw = hdr(unit_of("IRTUVW", istream)).mapcrs; }

const Header& header_of(int istream) { return hdr(unit_of("HEADER", istream)); }

void require_items(int istream, std::string_view name, std::int64_t items) {
  const Header& h = header_of(istream);
  int unit = imunit(istream);
  std::string full;
  std::int64_t length = 0;
  qqinq(unit, name, full, length);
  const std::int64_t need = header_bytes + std::int64_t{h.nsymbt} + items * bytes_per_item(h.mode);
  if (length < need)
    throw records::ReadError(std::string(name), "the file holds " + std::to_string(length) +
                                                    " bytes, its header announces " + std::to_string(need));
}

}  // namespace imagefile
