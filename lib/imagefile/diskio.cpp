#include "imagefile/diskio.hpp"

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "imagefile/environment.hpp"
#include "imagefile/header.hpp"
#include "imagefile/numformat.hpp"
#include "imagefile/state.hpp"
#include "progmain/outputs.hpp"
#include "records/forms.hpp"

namespace imagefile {

namespace {

using detail::DiskStream;
using detail::LastOp;

// This machine's number formats: little-endian IEEE reals and little-endian integers.
constexpr int native_real_format = 4;
constexpr int native_integer_format = 4;
constexpr unsigned char native_stamp[4] = {0x44, 0x41, 0x00, 0x00};

constexpr const char* status_words[] = {"", "UNKNOWN", "SCRATCH", "OLD", "NEW", "READONLY"};

std::string trimmed(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
  return std::string(s);
}

std::string cut(std::string s, std::size_t n) {
  if (s.size() > n) s.resize(n);
  return s;
}

int item_size(int mode) {
  // mode 6 is the disk layer's own 4-byte integer item; 0-4 are the data modes
  return mode == 6 ? 4 : bytes_per_item(mode);
}

// The open stream iunit for routine `routine` (upper-case name for the messages).
DiskStream& open_stream(const char* routine, int iunit) {
  detail::DiskTable& table = detail::disk_table();
  if (!table.initialised) {
    errno = 0;
    fatal(std::string(routine) + ": qopen/qqopen not yet called");
  }
  if (iunit < 1 || iunit > max_disk_streams || table.streams[static_cast<std::size_t>(iunit)].file == nullptr) {
    errno = 0;
    fatal(std::string(routine) + ": disk stream " + std::to_string(iunit) + " is not open");
  }
  note_file(table.streams[static_cast<std::size_t>(iunit)].name);
  return table.streams[static_cast<std::size_t>(iunit)];
}

void check_initialised(const char* routine) {
  if (detail::disk_table().initialised) return;
  errno = 0;  // no system error lies behind this one
  fatal(std::string(routine) + ": qopen/qqopen not yet called");
}

// Seeks to an absolute byte position; false when the system refuses it.
bool seek_to(DiskStream& s, std::int64_t byte) {
  return byte >= 0 && ::fseeko(s.file, static_cast<off_t>(byte), SEEK_SET) == 0;
}

void convert_reals(const DiskStream& s, unsigned char* data, std::size_t n) {
  if (s.real_format == 0) return;
  for (std::size_t i = 0; i < n; ++i) {
    unsigned char* w = data + 4 * i;
    switch (s.real_format) {
      case 1:
        break;
      case 2:
        vax_to_ieee_be(w);
        break;
      case 4:
        swap_bytes(w, 1, 4);
        break;
      case 5:
        convex_to_ieee_be(w);
        break;
      default:
        errno = 0;
        fatal("QREAD: bad file real type in conversion");
    }
  }
  // Big-endian IEEE to this machine's little-endian IEEE.
  swap_bytes(data, n, 4);
}

void convert_after_read(const DiskStream& s, unsigned char* data, std::size_t nitems) {
  errno = 0;
  switch (s.mode) {
    case 0:
      return;
    case 1:
    case 6: {
      const int width = s.mode == 1 ? 2 : 4;
      if (s.integer_format == 0) return;
      if (s.integer_format != 1) fatal("QREAD: bad file integer type in conversion");
      swap_bytes(data, nitems, width);
      return;
    }
    case 3:
      if (s.real_format == 0) return;
      if (s.integer_format != 1) fatal("QREAD: bad file integer type in conversion");
      swap_bytes(data, 2 * nitems, 2);
      return;
    case 2:
      convert_reals(s, data, nitems);
      return;
    case 4:
      convert_reals(s, data, 2 * nitems);
      return;
    default:
      fatal("QREAD: Bad mode");
  }
}

}  // namespace

int qqopen(std::string_view lognam, int istat) {
  if (istat < 1 || istat > 5) {
    errno = 0;
    fatal_level1(" (Q)QOPEN: bad mode: " + records::int_form(istat, 2));
  }
  int jstat = istat;
  std::string logical = trimmed(lognam);
  if (logical.empty()) logical = "diskio.dft";
  logical = cut(logical, 500);
  if (istat == status_new) {
    std::string image_open = ugtenv("IMAGE_OPEN");
    envupc(image_open);
    if (image_open == "UNKNOWN") {
      jstat = status_unknown;
      qprint(2, "(Q)QOPEN status changed from NEW to UNKNOWN for " + logical);
    }
  }
  std::string filename = ugtenv(logical);
  if (filename == "/dev/null") jstat = status_unknown;
  if (filename.empty()) filename = logical;
  filename = cut(filename, 499);
  note_file(filename);
  if (jstat == status_new && ::access(filename.c_str(), F_OK) == 0) {
    errno = 0;
    fatal_level1(" (Q)QOPEN NEW file already exists: " + filename);
  }

  detail::DiskTable& table = detail::disk_table();
  if (!table.initialised) {
    table = detail::DiskTable{};
    table.initialised = true;
  }
  int unit = 0;
  for (int i = 1; i <= max_disk_streams && unit == 0; ++i)
    if (table.streams[static_cast<std::size_t>(i)].file == nullptr) unit = i;
  if (unit == 0) {
    errno = 0;
    fatal_level1(" (Q)QOPEN failed - no streams left");
  }

  DiskStream& s = table.streams[static_cast<std::size_t>(unit)];
  s = DiskStream{};
  s.name = filename;
  s.scratch = jstat == status_scratch;
  const char* how = jstat == status_old ? "r+b" : jstat == status_readonly ? "rb" : "w+b";
  // A file this open creates is the run's own output until it is closed without error.
  if ((jstat == status_new || jstat == status_unknown) && filename != "/dev/null")
    progmain::begin_output(filename, progmain::FinishedBy::close);
  errno = 0;
  std::FILE* f = std::fopen(filename.c_str(), how);
  if (f == nullptr) fatal("(Q)QOPEN: can't open " + filename);
  s.file = f;
  if (s.scratch && ::unlink(filename.c_str()) != 0) fatal("(Q)QOPEN: error unlinking " + filename);
  if (!seek_to(s, 0)) fatal("(Q)QOPEN: fseek failed on" + filename);

  qprint(1, cut(" (Q)QOPEN allocated # " + records::int_form(unit, 2), 255));
  qprint(1, cut("User:   " + padded(ugtuid(), 20) + " Logical Name: " + logical, 255));
  qprint(1, cut("Status: " + padded(status_words[jstat], 10) + " Filename: " + filename, 255));
  return unit;
}

int qopen(std::string_view lognam, std::string_view atbute) {
  std::string attribute(atbute);
  envupc(attribute);
  const char first = attribute.empty() ? ' ' : attribute[0];
  int status = 0;
  switch (first) {
    case 'U':
      status = status_unknown;
      break;
    case 'S':
      status = status_scratch;
      break;
    case 'O':
      status = status_old;
      break;
    case 'N':
      status = status_new;
      break;
    case 'R':
      status = status_readonly;
      break;
    default:
      errno = 0;
      attribute.resize(80, ' ');
      fatal_level1("Bad attribute in QOPEN: " + attribute);
  }
  return qqopen(lognam, status);
}

void qqinq(int& iunit, std::string_view lognam, std::string& filnam, std::int64_t& length) {
  check_initialised("QQINQ");
  detail::DiskTable& table = detail::disk_table();
  std::string logical = trimmed(lognam);
  if (logical.empty()) logical = "diskio.dft";
  std::string filename = ugtenv(logical);
  if (filename.empty()) filename = logical;
  filnam = filename;
  const bool open_here =
      iunit >= 1 && iunit <= max_disk_streams && table.streams[static_cast<std::size_t>(iunit)].file != nullptr;
  if (!open_here) {
    int found = 0;
    for (int i = 1; i <= max_disk_streams && found == 0; ++i) {
      const DiskStream& s = table.streams[static_cast<std::size_t>(i)];
      if (s.file != nullptr && s.name == filename) found = i;
    }
    if (found == 0) {
      length = -1;
      return;
    }
    iunit = found;
  }
  DiskStream& s = table.streams[static_cast<std::size_t>(iunit)];
  note_file(s.name);
  std::fflush(s.file);
  const off_t here = ::ftello(s.file);
  if (here < 0 || ::fseeko(s.file, 0, SEEK_END) != 0) fatal("QQINQ: seek failed on " + s.name);
  length = static_cast<std::int64_t>(::ftello(s.file));
  if (::fseeko(s.file, here, SEEK_SET) != 0) fatal("QQINQ: seek failed on " + s.name);
  s.last = LastOp::none;
}

int qmode(int iunit, int mode) {
  DiskStream& s = open_stream("QMODE", iunit);
  if (item_size(mode) == 0) {
    errno = 0;
    fatal("QMODE: bad mode");
  }
  s.mode = mode;
  s.item_bytes = item_size(mode);
  return s.item_bytes;
}

void qseek(int iunit, std::int64_t irec, std::int64_t iel, std::int64_t lrecl) {
  DiskStream& s = open_stream("QSEEK", iunit);
  const std::int64_t byte = ((irec - 1) * lrecl + iel - 1) * s.item_bytes;
  errno = 0;
  if (!seek_to(s, byte)) fatal("QSEEK failed -- maybe corrupt file: " + s.name);
  s.last = LastOp::none;
}

void qskip(int iunit, std::int64_t n) {
  DiskStream& s = open_stream("QSKIP", iunit);
  errno = 0;
  const off_t here = ::ftello(s.file);
  if (here < 0 || !seek_to(s, static_cast<std::int64_t>(here) + n * s.item_bytes)) fatal("QSKIP failed on " + s.name);
  s.last = LastOp::none;
}

void qback(int iunit, std::int64_t n) {
  DiskStream& s = open_stream("QBACK", iunit);
  errno = 0;
  const off_t here = ::ftello(s.file);
  if (here < 0 || !seek_to(s, static_cast<std::int64_t>(here) - n * s.item_bytes)) fatal("QBACK failed on " + s.name);
  s.last = LastOp::none;
}

std::int64_t qlocate(int iunit) {
  check_initialised("QLOCATE");
  detail::DiskTable& table = detail::disk_table();
  if (iunit < 1 || iunit > max_disk_streams) return -1;
  const DiskStream& s = table.streams[static_cast<std::size_t>(iunit)];
  if (s.file == nullptr) return -1;
  return static_cast<std::int64_t>(::ftello(s.file)) / s.item_bytes;
}

int qread(int iunit, void* buffer, std::int64_t nitems) {
  DiskStream& s = open_stream("QREAD", iunit);
  if (s.last == LastOp::write && ::fseeko(s.file, 0, SEEK_CUR) != 0) fatal("QREAD: seek error on file " + s.name);
  s.last = LastOp::read;
  if (nitems <= 0) return 0;
  const std::size_t want = static_cast<std::size_t>(nitems) * static_cast<std::size_t>(s.item_bytes);
  errno = 0;
  const std::size_t got = std::fread(buffer, 1, want, s.file);
  if (got < want) {
    if (std::feof(s.file)) {
      std::clearerr(s.file);
      return -1;
    }
    fatal("QREAD: i/o error on " + s.name);
  }
  convert_after_read(s, static_cast<unsigned char*>(buffer), static_cast<std::size_t>(nitems));
  return 0;
}

void qwrite(int iunit, const void* buffer, std::int64_t nitems) {
  DiskStream& s = open_stream("QWRITE", iunit);
  if (s.last == LastOp::read && ::fseeko(s.file, 0, SEEK_CUR) != 0) fatal("QWRITE: seek failed on " + s.name);
  s.last = LastOp::write;
  if (nitems <= 0) return;
  const std::size_t want = static_cast<std::size_t>(nitems) * static_cast<std::size_t>(s.item_bytes);
  errno = 0;
  if (std::fwrite(buffer, 1, want, s.file) != want) fatal("QWRITE: i/o error (may be out of disc space): " + s.name);
}

int qreadc(int iunit, std::string& text) {
  DiskStream& s = open_stream("QREAD", iunit);
  if (s.last == LastOp::write && ::fseeko(s.file, 0, SEEK_CUR) != 0) fatal("QREAD: seek error on file " + s.name);
  s.last = LastOp::read;
  if (text.empty()) return 0;
  errno = 0;
  const std::size_t got = std::fread(text.data(), 1, text.size(), s.file);
  if (got == text.size()) return 0;
  if (!std::feof(s.file)) fatal("QREAD: i/o error on " + s.name);
  std::clearerr(s.file);
  return got == 0 ? -1 : static_cast<int>(got);
}

void qwritc(int iunit, std::string_view text) {
  DiskStream& s = open_stream("QWRITC", iunit);
  if (s.last == LastOp::read && ::fseeko(s.file, 0, SEEK_CUR) != 0) fatal("QWRITC: seek failed on " + s.name);
  s.last = LastOp::write;
  errno = 0;
  if (!text.empty() && std::fwrite(text.data(), 1, text.size(), s.file) != text.size())
    fatal("QWRITC: i/o error (may be out of disc space): " + s.name);
}

int qrarch(int iunit, int ipos) {
  if (!ugtenv("NATIVEMAP").empty()) return 0;
  detail::DiskTable& table = detail::disk_table();
  if (!table.initialised || iunit < 1 || iunit > max_disk_streams ||
      table.streams[static_cast<std::size_t>(iunit)].file == nullptr) {
    errno = 0;
    fatal("QRARCH: disk stream " + std::to_string(iunit) + " is not open");
  }
  DiskStream& s = table.streams[static_cast<std::size_t>(iunit)];
  note_file(s.name);
  unsigned char stamp[4] = {0, 0, 0, 0};
  const std::string convert_from = ugtenv("CONVERT_FROM");
  if (!convert_from.empty()) {
    if (convert_from == "BEIEEE") {
      stamp[0] = 0x11, stamp[1] = 0x11;
    } else if (convert_from == "LEIEEE") {
      stamp[0] = 0x44, stamp[1] = 0x41;
    } else if (convert_from == "VAX") {
      stamp[0] = 0x22, stamp[1] = 0x41;
    } else if (convert_from == "CONVEXNATIVE") {
      stamp[0] = 0x55, stamp[1] = 0x11;
    }
  } else {
    errno = 0;
    if (!seek_to(s, 4 * static_cast<std::int64_t>(ipos))) fatal("QRARCH: seek failed on " + s.name);
    if (std::fread(stamp, 1, 4, s.file) != 4) {
      std::clearerr(s.file);
      fatal("QRARCH: can't read machine stamp in " + s.name);
    }
    s.last = LastOp::read;
  }
  const int f = stamp[0] >> 4;
  const int i = stamp[1] >> 4;
  if (f != 0 && f != native_real_format) s.real_format = f;
  if (i != 0 && i != native_integer_format) s.integer_format = i;
  return (stamp[1] & 0xf0) + f;
}

void qwarch(int iunit, int ipos) {
  detail::DiskTable& table = detail::disk_table();
  if (!table.initialised || iunit < 1 || iunit > max_disk_streams ||
      table.streams[static_cast<std::size_t>(iunit)].file == nullptr) {
    errno = 0;
    fatal("QWARCH: disk stream " + std::to_string(iunit) + " is not open");
  }
  DiskStream& s = table.streams[static_cast<std::size_t>(iunit)];
  note_file(s.name);
  errno = 0;
  if (!seek_to(s, 4 * static_cast<std::int64_t>(ipos))) fatal("QWARCH: seek failed on " + s.name);
  if (std::fwrite(native_stamp, 1, 4, s.file) != 4) fatal("QWARCH: can't write machine stamp to " + s.name);
  s.last = LastOp::write;
}

void qclose(int iunit) {
  check_initialised("QCLOSE");
  detail::DiskTable& table = detail::disk_table();
  if (iunit < 1 || iunit > max_disk_streams) return;
  DiskStream& s = table.streams[static_cast<std::size_t>(iunit)];
  if (s.file != nullptr) {
    note_file(s.name);
    errno = 0;
    std::FILE* f = s.file;
    s.file = nullptr;
    if (std::fclose(f) != 0) fatal("QCLOSE: failed on " + s.name);
    progmain::output_closed(s.name);
  }
  s = DiskStream{};
}

}  // namespace imagefile
