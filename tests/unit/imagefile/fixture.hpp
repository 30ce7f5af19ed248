// Shared pieces of the image library tests: a fresh working directory and library state per
// test, map files built byte by byte, and a child process for the paths that end the run.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "runprog.hpp"

namespace imagetest {

// A map file assembled word by word in either byte order (word numbers from 1).
class MapBytes {
 public:
  explicit MapBytes(bool big_endian = false) : big_(big_endian), bytes_(1024, '\0') {
    for (int i = 224; i < 1024; ++i) bytes_[static_cast<std::size_t>(i)] = ' ';
  }
  MapBytes& i32(int word, std::int32_t v);
  MapBytes& f32(int word, float v);
  MapBytes& text(int byte, const std::string& s);
  MapBytes& raw(int byte, std::initializer_list<unsigned char> b);
  // A header of a new-style map: sizes, mode, axes 1 2 3, "MAP " and the stamp of its order.
  MapBytes& standard(std::int32_t nx, std::int32_t ny, std::int32_t nz, std::int32_t mode);
  MapBytes& append_i16(std::int16_t v);
  MapBytes& append_i32(std::int32_t v);
  MapBytes& append_f32(float v);
  MapBytes& append_bytes(const std::string& s);
  const std::string& str() const { return bytes_; }

 private:
  void put(std::size_t at, std::uint32_t v, int width);
  bool big_;
  std::string bytes_;
};

// Little-endian decoding of file bytes.
std::int32_t le_i32(const std::string& bytes, std::size_t at);
float le_f32(const std::string& bytes, std::size_t at);

struct ChildResult {
  int status = -1;
  std::string out;
  std::string err;
};
// Runs body in a child process with standard output and error captured; a body that returns
// ends the child with status 0.
// stdin_text, when given, is the child's standard input.
ChildResult in_child(const std::function<void()>& body, const std::string* stdin_text = nullptr);

class ImageFileTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  std::string path(const std::string& name) const { return (dir_->path() / name).string(); }
  void write(const std::string& name, const std::string& bytes) const { dir_->write(name, bytes); }
  std::string read(const std::string& name) const { return dir_->read(name); }
  // The library's report since the last call.
  std::string report();

  std::unique_ptr<testsupport::TempDir> dir_;
  std::filesystem::path old_cwd_;
  std::ostringstream out_;
};

}  // namespace imagetest
