#include "fixture.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

#include "imagefile/environment.hpp"
#include "imagefile/state.hpp"

namespace imagetest {

void MapBytes::put(std::size_t at, std::uint32_t v, int width) {
  if (bytes_.size() < at + static_cast<std::size_t>(width)) bytes_.resize(at + static_cast<std::size_t>(width), '\0');
  for (int i = 0; i < width; ++i) {
    const int shift = big_ ? 8 * (width - 1 - i) : 8 * i;
    bytes_[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> shift) & 0xffu);
  }
}

MapBytes& MapBytes::i32(int word, std::int32_t v) {
  put(static_cast<std::size_t>(4 * (word - 1)), static_cast<std::uint32_t>(v), 4);
  return *this;
}

MapBytes& MapBytes::f32(int word, float v) {
  std::uint32_t bits = 0;
  std::memcpy(&bits, &v, 4);
  put(static_cast<std::size_t>(4 * (word - 1)), bits, 4);
  return *this;
}

MapBytes& MapBytes::text(int byte, const std::string& s) {
  bytes_.replace(static_cast<std::size_t>(byte), s.size(), s);
  return *this;
}

MapBytes& MapBytes::raw(int byte, std::initializer_list<unsigned char> b) {
  std::size_t at = static_cast<std::size_t>(byte);
  for (unsigned char c : b) bytes_[at++] = static_cast<char>(c);
  return *this;
}

MapBytes& MapBytes::standard(std::int32_t nx, std::int32_t ny, std::int32_t nz, std::int32_t mode) {
  i32(1, nx).i32(2, ny).i32(3, nz).i32(4, mode).i32(8, nx).i32(9, ny).i32(10, nz);
  f32(11, static_cast<float>(nx)).f32(12, static_cast<float>(ny)).f32(13, static_cast<float>(nz));
  f32(14, 90.0f).f32(15, 90.0f).f32(16, 90.0f);
  i32(17, 1).i32(18, 2).i32(19, 3);
  text(208, "MAP ");
  if (big_) {
    raw(212, {0x11, 0x11, 0, 0});
  } else {
    raw(212, {0x44, 0x41, 0, 0});
  }
  return *this;
}

MapBytes& MapBytes::append_i16(std::int16_t v) {
  put(bytes_.size(), static_cast<std::uint16_t>(v), 2);
  return *this;
}
MapBytes& MapBytes::append_i32(std::int32_t v) {
  put(bytes_.size(), static_cast<std::uint32_t>(v), 4);
  return *this;
}
MapBytes& MapBytes::append_f32(float v) {
  std::uint32_t bits = 0;
  std::memcpy(&bits, &v, 4);
  put(bytes_.size(), bits, 4);
  return *this;
}
MapBytes& MapBytes::append_bytes(const std::string& s) {
  bytes_ += s;
  return *this;
}

std::int32_t le_i32(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(bytes.at(at + static_cast<std::size_t>(i)));
  return static_cast<std::int32_t>(v);
}

float le_f32(const std::string& bytes, std::size_t at) {
  const std::int32_t v = le_i32(bytes, at);
  float f = 0.0f;
  std::memcpy(&f, &v, 4);
  return f;
}

ChildResult in_child(const std::function<void()>& body, const std::string* stdin_text) {
  std::cout.flush();
  std::cerr.flush();
  char out_name[] = "/tmp/imagefile_child_out_XXXXXX";
  char err_name[] = "/tmp/imagefile_child_err_XXXXXX";
  const int out_fd = ::mkstemp(out_name);
  const int err_fd = ::mkstemp(err_name);
  char in_name[] = "/tmp/imagefile_child_in_XXXXXX";
  const int in_fd = ::mkstemp(in_name);
  if (stdin_text != nullptr) {
    testsupport::write_file(in_name, *stdin_text);
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (stdin_text != nullptr) ::dup2(in_fd, 0);
    ::dup2(out_fd, 1);
    ::dup2(err_fd, 2);
    imagefile::set_report_stream(std::cout);
    body();
    imagefile::end_run(0);
  }
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  ChildResult r;
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1000 - WTERMSIG(wstatus);
  r.out = testsupport::read_file(out_name);
  r.err = testsupport::read_file(err_name);
  ::close(in_fd);
  ::unlink(in_name);
  ::close(out_fd);
  ::close(err_fd);
  ::unlink(out_name);
  ::unlink(err_name);
  return r;
}

void ImageFileTest::SetUp() {
  dir_ = std::make_unique<testsupport::TempDir>();
  old_cwd_ = std::filesystem::current_path();
  std::filesystem::current_path(dir_->path());
  for (const char* v : {"IN", "OUT", "IMAGE_OPEN", "NATIVEMAP", "CONVERT_FROM"}) ::unsetenv(v);
  imagefile::reset_for_tests();
  imagefile::set_arguments({"/bin/imagetest"});
  imagefile::set_report_stream(out_);
}

void ImageFileTest::TearDown() {
  imagefile::reset_for_tests();
  imagefile::set_report_stream(std::cout);
  std::filesystem::current_path(old_cwd_);
  for (const char* v : {"IN", "OUT", "IMAGE_OPEN", "NATIVEMAP", "CONVERT_FROM"}) ::unsetenv(v);
}

std::string ImageFileTest::report() {
  std::string s = out_.str();
  out_.str("");
  return s;
}

}  // namespace imagetest
