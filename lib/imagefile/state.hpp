// The image library's tables, kept in one place: the environment state, the disk streams and
// the image stream table. They live for the whole run of a program; tests reset them.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iosfwd>
#include <string>
#include <vector>

#include "imagefile/diskio.hpp"
#include "imagefile/header.hpp"
#include "imagefile/imageio.hpp"

namespace imagefile {

// Closes every file the library holds (without messages) and returns every table, the print
// level, the program name and the timer to their state at the start of a run.
void reset_for_tests();

namespace detail {

struct EnvironmentState {
  std::ostream* report = nullptr;  // where messages go; standard output when none is set
  int print_level = -1;            // unset until the first qprint
  bool have_program_name = false;
  std::string program_name;  // from command-line argument 0
  bool have_arguments = false;
  std::vector<std::string> arguments;
  // The file the library was last working on and the failure it last reported, for the one
  // line on standard error at a failing end of the run.
  std::string current_file;
  std::string failure;
  bool failure_on_stderr = false;  // the failure's line is on standard error already
  bool timer_started = false;
  std::chrono::steady_clock::time_point start_wall{};
  double start_user = 0.0, start_system = 0.0;
};

enum class LastOp { none, read, write };

struct DiskStream {
  std::FILE* file = nullptr;  // none when the slot is free
  std::string name;           // the file name, at most 499 characters
  int item_bytes = 4;
  int mode = 2;
  bool scratch = false;
  LastOp last = LastOp::none;
  int real_format = 0;  // conversion flags: 0 = native
  int integer_format = 0;
};

struct DiskTable {
  bool initialised = false;
  std::array<DiskStream, max_disk_streams + 1> streams{};  // 1-9 used
};

// Per open image file, keyed by its disk stream (1-9), so that every image file has its own.
struct ImageFlags {
  bool foreign = false;
  bool raw = false;
  bool unpositioned = false;
  bool old_style = false;
  bool unknown_status = false;
};

struct ImageTable {
  std::array<int, max_image_streams + 1> stream_map{};  // 1-12: the disk stream, 0 = none yet
  int open_count = 0;
  std::array<Header, max_disk_streams + 1> headers{};
  std::array<ImageFlags, max_disk_streams + 1> flags{};
  // The one conversion buffer of modes 0, 1 and 3: 8192 bytes or 4096 16-bit values a chunk.
  std::array<std::int16_t, 4096> conversion{};
};

EnvironmentState& environment();
DiskTable& disk_table();
ImageTable& image_table();

}  // namespace detail
}  // namespace imagefile
