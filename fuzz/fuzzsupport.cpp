#include "fuzzsupport.hpp"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "progmain/outputs.hpp"
#include "records/error.hpp"

namespace fuzzsupport {

const std::string& scratch() {
  static const std::string dir = [] {
    auto p = std::filesystem::temp_directory_path() / ("quorvan-fuzz-" + std::to_string(getpid()));
    std::filesystem::create_directories(p);
    return p.string();
  }();
  return dir;
}

std::string put_file(const std::string& name, const std::uint8_t* data, std::size_t size) {
  std::string path = scratch() + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return path;
}

std::vector<std::string> parts(const std::uint8_t* data, std::size_t size, std::size_t count) {
  const std::string all(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> out;
  std::size_t at = 0;
  for (;;) {
    const std::size_t cut = all.find("\n%%\n", at);
    if (cut == std::string::npos) break;
    out.push_back(all.substr(at, cut + 1 - at));
    at = cut + 4;
  }
  out.push_back(all.substr(at));
  while (out.size() < count) out.emplace_back();
  return out;
}

void enter_scratch() { std::filesystem::current_path(scratch()); }

void remove_file(const std::string& name) { std::remove((scratch() + "/" + name).c_str()); }

int run_program(int (*run)(const std::vector<std::string>&, progmain::Streams), const std::string& stdin_text,
                const std::vector<std::string>& args) {
  std::istringstream in(stdin_text);
  std::ostringstream out, err;
  // Each input is a run of its own: a failed one removes its unfinished outputs, as run_main does.
  progmain::forget_outputs();
  int status = 0;
  try {
    status = run(args, progmain::Streams{in, out, err});
  } catch (const records::ReadError&) {
    status = 2;
  } catch (const progmain::Exit& e) {
    status = e.status;
  }
  if (status != 0) progmain::remove_unfinished_outputs();
  return status;
}

}  // namespace fuzzsupport
