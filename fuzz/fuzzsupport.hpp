// Shared pieces of the fuzz targets.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "progmain/progmain.hpp"

namespace fuzzsupport {

// A scratch folder of this process, made once; files written into it live until the next input.
const std::string& scratch();

// Writes bytes to scratch()/name and returns the path.
std::string put_file(const std::string& name, const std::uint8_t* data, std::size_t size);

// Removes scratch()/name if it exists.
void remove_file(const std::string& name);

// The input cut at each line "%%" into parts (at least `count`, the missing ones empty).
std::vector<std::string> parts(const std::uint8_t* data, std::size_t size, std::size_t count);

// Makes scratch() the working directory (for programs that open files by name).
void enter_scratch();

// Runs a program's run() on the given standard input, swallowing the two ways a run may end on
// bad input (ReadError and progmain::Exit); anything else escapes and is a finding.
int run_program(int (*run)(const std::vector<std::string>&, progmain::Streams), const std::string& stdin_text,
                const std::vector<std::string>& args = {});

}  // namespace fuzzsupport
