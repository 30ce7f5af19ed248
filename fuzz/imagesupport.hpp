// Running a program that works through the image file library inside a fuzz target.
#pragma once
#include <string>
#include <vector>

#include "fuzzsupport.hpp"
#include "imagefile/environment.hpp"
#include "imagefile/state.hpp"

namespace fuzzsupport {

// The library's end of a run, thrown back to the target instead of ending the process.
struct RunEnded {
  int status;
};

// Like run_program, with the library's tables reset first and its ends of a run (stops on errors
// included) caught here.
inline void run_image_program(int (*run)(const std::vector<std::string>&, progmain::Streams),
                              const std::string& stdin_text, const std::vector<std::string>& args = {}) {
  imagefile::reset_for_tests();
  imagefile::set_end_run_handler([](int status) -> void { throw RunEnded{status}; });
  try {
    run_program(run, stdin_text, args);
  } catch (const RunEnded&) {
  }
}

}  // namespace fuzzsupport
