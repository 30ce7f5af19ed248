#include "imagefile/state.hpp"

#include "progmain/outputs.hpp"

namespace imagefile {
namespace detail {

EnvironmentState& environment() {
  static EnvironmentState state;
  return state;
}

DiskTable& disk_table() {
  static DiskTable table;
  return table;
}

ImageTable& image_table() {
  static ImageTable table;
  return table;
}

}  // namespace detail

void reset_for_tests() {
  for (detail::DiskStream& s : detail::disk_table().streams) {
    if (s.file != nullptr) std::fclose(s.file);
  }
  detail::disk_table() = detail::DiskTable{};
  detail::image_table() = detail::ImageTable{};
  detail::environment() = detail::EnvironmentState{};
  progmain::forget_outputs();
}

}  // namespace imagefile
