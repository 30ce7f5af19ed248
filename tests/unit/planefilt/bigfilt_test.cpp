#include "planefilt/bigfilt.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "imagefile/environment.hpp"
#include "imagefile/imageio.hpp"
#include "imagefile/state.hpp"
#include "planefilt/filter.hpp"
#include "records/error.hpp"
#include "runprog.hpp"

using planefilt::bigfilt;
using planefilt::FtBuf;

namespace {

// A mode-2 map of nx x ny (one section) with `lines` lines of data (ny when complete), in this
// machine's little-endian format.
std::string map_file(std::int32_t nx, std::int32_t ny, const std::vector<float>& values, std::int32_t lines) {
  std::string bytes(1024, '\0');
  auto word = [&](int n, std::int32_t v) { std::memcpy(&bytes[static_cast<std::size_t>(4 * (n - 1))], &v, 4); };
  word(1, nx);
  word(2, ny);
  word(3, 1);
  word(4, 2);
  word(8, nx);
  word(9, ny);
  word(10, 1);
  word(17, 1);
  word(18, 2);
  word(19, 3);
  bytes.replace(208, 4, "MAP ");
  bytes[212] = 0x44;
  bytes[213] = 0x41;
  for (std::size_t i = 224; i < 1024; ++i) bytes[i] = ' ';
  const std::size_t n = static_cast<std::size_t>(nx) * static_cast<std::size_t>(lines);
  bytes.append(reinterpret_cast<const char*>(values.data()), 4 * n);
  return bytes;
}

std::vector<float> random_values(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::uniform_real_distribution<float> dist(0.0f, 100.0f);
  std::vector<float> v(n);
  for (auto& x : v) x = dist(gen);
  return v;
}

// The same image filtered in memory: lines in slots of nx + 2 reals.
std::vector<float> filtered_in_memory(const std::vector<float>& values, std::int32_t nx, std::int32_t ny,
                                      const std::vector<float>& table, float rstep) {
  std::vector<float> image(static_cast<std::size_t>(nx + 2) * static_cast<std::size_t>(ny));
  for (std::int32_t iy = 0; iy < ny; ++iy) {
    for (std::int32_t ix = 0; ix < nx; ++ix) {
      image[static_cast<std::size_t>(iy * (nx + 2) + ix)] = values[static_cast<std::size_t>(iy * nx + ix)];
    }
  }
  planefilt::filter(image, nx, ny, table, rstep);
  std::vector<float> out(static_cast<std::size_t>(nx * ny));
  for (std::int32_t iy = 0; iy < ny; ++iy) {
    for (std::int32_t ix = 0; ix < nx; ++ix) {
      out[static_cast<std::size_t>(iy * nx + ix)] = image[static_cast<std::size_t>(iy * (nx + 2) + ix)];
    }
  }
  return out;
}

const std::vector<float> low_pass = {1.0f, 1.0f, 0.95f, 0.8f, 0.6f, 0.4f, 0.2f, 0.1f, 0.05f, 0.0f, 0.0f, 0.0f,
                                     0.0f, 0.0f, 0.0f,  0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f,  0.0f, 0.0f, 0.0f};

class Bigfilt : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::make_unique<testsupport::TempDir>();
    old_cwd_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_->path());
    ::setenv("SCRATCH", scratch_path().c_str(), 1);
    imagefile::reset_for_tests();
    imagefile::set_report_stream(report_);
  }
  void TearDown() override {
    imagefile::reset_for_tests();
    imagefile::set_report_stream(std::cout);
    ::unsetenv("SCRATCH");
    std::filesystem::current_path(old_cwd_);
  }
  std::string scratch_path() const { return (dir_->path() / "scratch.tmp").string(); }

  // Opens in.map (stream 1) and out.map (stream 2, header copied from stream 1).
  void open_streams(std::int32_t nx, std::int32_t ny, const std::vector<float>& values, std::int32_t lines) {
    dir_->write("in.map", map_file(nx, ny, values, lines));
    imagefile::imopen(1, "in.map", "RO");
    imagefile::Int3 nxyz, mxyz;
    std::int32_t mode = 0;
    float lo = 0.0f, hi = 0.0f, mean = 0.0f;
    imagefile::irdhdr(1, nxyz, mxyz, mode, lo, hi, mean);
    imagefile::imopen(2, "out.map", "NEW");
    imagefile::itrhdr(2, 1);
    imagefile::iwrhdr(2, "filtered", 0, 0.0f, 0.0f, 0.0f);
    report_.str("");
  }

  struct Result {
    std::vector<float> values;
    float dmin = 0.0f, dmax = 0.0f, dmean = 0.0f;
    std::string report;
  };
  Result run(std::int32_t nx, std::int32_t ny, const std::vector<float>& values, const std::vector<float>& table,
             float rstep, std::int32_t nbuf) {
    open_streams(nx, ny, values, ny);
    FtBuf ftbuf;
    ftbuf.nbuf = nbuf;
    Result r;
    bigfilt(1, 2, nx, ny, table, rstep, r.dmin, r.dmax, r.dmean, ftbuf);
    r.report = report_.str();
    imagefile::imclose(1);
    imagefile::imclose(2);
    const std::string bytes = dir_->read("out.map");
    EXPECT_EQ(bytes.size(), 1024 + 4 * static_cast<std::size_t>(nx * ny));
    r.values.resize(static_cast<std::size_t>(nx * ny));
    std::memcpy(r.values.data(), bytes.data() + 1024, std::min(bytes.size() - 1024, 4 * r.values.size()));
    std::filesystem::remove(dir_->path() / "out.map");
    EXPECT_FALSE(std::filesystem::exists(scratch_path())) << "the scratch file is removed";
    return r;
  }

  std::unique_ptr<testsupport::TempDir> dir_;
  std::filesystem::path old_cwd_;
  std::ostringstream report_;
};

std::string report_line(int l, int n1, int c, int n2) {
  char text[64];
  std::snprintf(text, sizeof text, "%8d%8d%8d%8d", l, n1, c, n2);
  return std::string("\n BIGFILT: # Lines, Loads for passes 1,2: ") + text + "\n\n";
}

}  // namespace

TEST_F(Bigfilt, GivesTheImageOfFilterForEveryLoadSize) {
  // nx = 20: line slots of 22 reals, 11 complex columns; ny = 14 rows.
  struct Case {
    std::int32_t nx, ny, nbuf;
    int l, n1, c, n2;
  };
  for (const Case& k : {Case{20, 14, 500000, 14, 1, 11, 1},  // everything in one load per pass
                        Case{20, 14, 308, 14, 1, 11, 1},     // exactly W*ny = 2*ny*H
                        Case{20, 14, 66, 3, 5, 2, 6},        // loads of 3,3,3,3,2 lines and 2,...,2,1 columns
                        Case{20, 14, 28, 1, 14, 1, 11},      // the least nbuf: one line, one column
                        Case{9, 7, 40, 3, 3, 2, 3},          // odd sizes: W = 11, H = 5
                        Case{8, 100, 300, 30, 4, 1, 5}}) {   // loads of 30, 30, 30, 10 lines
    const auto values = random_values(static_cast<std::size_t>(k.nx * k.ny), static_cast<unsigned>(k.nbuf));
    const auto want = filtered_in_memory(values, k.nx, k.ny, low_pass, 0.04f);
    const Result r = run(k.nx, k.ny, values, low_pass, 0.04f, k.nbuf);
    // the disk layer's account of the scratch open, then the load report
    const std::string want_report = report_line(k.l, k.n1, k.c, k.n2);
    ASSERT_GE(r.report.size(), want_report.size());
    EXPECT_EQ(r.report.substr(r.report.size() - want_report.size()), want_report) << "nbuf " << k.nbuf;
    EXPECT_NE(r.report.find(" Logical Name: SCRATCH\n Status: SCRATCH    Filename: " + scratch_path() + "\n"),
              std::string::npos)
        << r.report;
    double sum = 0.0;
    float lo = r.values[0], hi = r.values[0];
    for (std::size_t i = 0; i < want.size(); ++i) {
      EXPECT_NEAR(r.values[i], want[i], 2e-3f) << k.nx << "x" << k.ny << " nbuf " << k.nbuf << " value " << i;
      sum += double{r.values[i]};
      lo = std::min(lo, r.values[i]);
      hi = std::max(hi, r.values[i]);
    }
    // the densities are those of the values written
    EXPECT_EQ(r.dmin, lo);
    EXPECT_EQ(r.dmax, hi);
    EXPECT_NEAR(double{r.dmean}, sum / static_cast<double>(want.size()), 1e-3);
  }
}

TEST_F(Bigfilt, ATableOfOnesReturnsTheImageAndItsDensities) {
  const std::int32_t nx = 16, ny = 12;
  const auto values = random_values(static_cast<std::size_t>(nx * ny), 77);
  const std::vector<float> ones(30, 1.0f);
  const Result r = run(nx, ny, values, ones, 0.03f, 100);
  double sum = 0.0;
  float lo = values[0], hi = values[0];
  for (std::size_t i = 0; i < values.size(); ++i) {
    EXPECT_NEAR(r.values[i], values[i], 1e-3f);
    sum += double{values[i]};
    lo = std::min(lo, values[i]);
    hi = std::max(hi, values[i]);
  }
  EXPECT_NEAR(r.dmin, lo, 1e-3f);
  EXPECT_NEAR(r.dmax, hi, 1e-3f);
  EXPECT_NEAR(double{r.dmean}, sum / static_cast<double>(values.size()), 1e-3);
}

TEST_F(Bigfilt, RefusesWhatItCannotServeBeforeOpeningTheScratchFile) {
  const std::int32_t nx = 20, ny = 14;
  const auto values = random_values(static_cast<std::size_t>(nx * ny), 3);
  open_streams(nx, ny, values, ny);
  auto refused = [&](std::int32_t call_nx, std::int32_t nbuf, std::size_t buffer, const std::vector<float>& table,
                     float rstep, const std::string& what) {
    FtBuf ftbuf;
    ftbuf.nbuf = nbuf;
    ftbuf.buffer.resize(buffer);
    float lo = 0.0f, hi = 0.0f, mean = 0.0f;
    try {
      bigfilt(1, 2, call_nx, ny, table, rstep, lo, hi, mean, ftbuf);
      ADD_FAILURE() << "not refused: " << what;
    } catch (const records::ReadError& e) {
      EXPECT_EQ(e.source(), "bigfilt");
      EXPECT_NE(std::string(e.what()).find(what), std::string::npos) << e.what();
    }
    EXPECT_EQ(report_.str(), "") << what;
    EXPECT_FALSE(std::filesystem::exists(scratch_path()));
  };
  refused(nx, 21, 500000, low_pass, 0.04f, "nbuf = 21 cannot hold one line slot of nx + 2 = 22 reals");
  refused(nx, 27, 500000, low_pass, 0.04f, "nbuf = 27 cannot hold one column of 2*ny = 28 reals");
  refused(nx, 1000, 999, low_pass, 0.04f, "nbuf = 1000 is larger than the work buffer of 999 reals");
  // the corner radius 0.7071 needs entry INT(0.7071/0.1 + 1.5) = 8
  refused(nx, 1000, 1000, std::vector<float>(7, 1.0f), 0.1f, "the filter table has 7 entries");
  refused(nx, 1000, 1000, low_pass, 0.0f, "rstep must be positive");
  refused(18, 1000, 1000, low_pass, 0.04f, "the image on stream 1 has 20 columns, not nx = 18");
  imagefile::imclose(1);
  imagefile::imclose(2);

  // 8192 columns: 4097 complex columns per line; nbuf = 2*ny*4097 would load them all at once.
  const std::int32_t wide = 8192;
  std::vector<float> one_line(static_cast<std::size_t>(wide), 1.0f);
  std::filesystem::remove(dir_->path() / "out.map");
  dir_->write("in.map", map_file(wide, 1, one_line, 1));
  imagefile::reset_for_tests();
  imagefile::set_report_stream(report_);
  imagefile::imopen(1, "in.map", "RO");
  imagefile::Int3 nxyz, mxyz;
  std::int32_t mode = 0;
  float lo = 0.0f, hi = 0.0f, mean = 0.0f;
  imagefile::irdhdr(1, nxyz, mxyz, mode, lo, hi, mean);
  imagefile::imopen(2, "out.map", "NEW");
  imagefile::itrhdr(2, 1);
  report_.str("");
  FtBuf ftbuf;
  ftbuf.nbuf = 2 * 4097;
  try {
    bigfilt(1, 2, wide, 1, std::vector<float>(100, 1.0f), 0.01f, lo, hi, mean, ftbuf);
    ADD_FAILURE() << "a load beyond the row chunk is not refused";
  } catch (const records::ReadError& e) {
    EXPECT_NE(std::string(e.what()).find("loads of 4097 columns, beyond the row chunk of 4096 complex values"),
              std::string::npos)
        << e.what();
  }
  EXPECT_FALSE(std::filesystem::exists(scratch_path()));
}

TEST_F(Bigfilt, AFailedReadReportsClosesEverythingAndStops) {
  const std::int32_t nx = 10, ny = 8;
  const auto values = random_values(static_cast<std::size_t>(nx * ny), 5);
  auto body = [&] {
    imagefile::set_report_stream(std::cerr);
    open_streams(nx, ny, values, 5);  // three lines short
    std::atexit([] {
      const auto& t = imagefile::detail::image_table();
      bool all_closed = t.open_count == 0;
      for (const auto& s : imagefile::detail::disk_table().streams) all_closed = all_closed && s.file == nullptr;
      std::cerr << (all_closed ? "[all closed]" : "[still open]") << std::endl;
    });
    FtBuf ftbuf;
    ftbuf.nbuf = 16;  // one line per load: the failure comes in the sixth load
    float lo = 0.0f, hi = 0.0f, mean = 0.0f;
    bigfilt(1, 2, nx, ny, low_pass, 0.04f, lo, hi, mean, ftbuf);
  };
  EXPECT_EXIT(body(), ::testing::ExitedWithCode(1),
              "Status: SCRATCH    Filename: [^\n]*scratch.tmp\n"
              "\n BIGFILT: # Lines, Loads for passes 1,2:        1       8       1       6\n\n"
              "\n\n \\*\\*\\*\\*\\*\\*\\* BIGFILT:   ERROR ON READ  \\*\\*\\*\\*\\*\\*\\*\\*\n\n\n"
              "\\*\\*\\* ERROR \\*\\*\\*\\*\n[^\n]*: \\*\\*\\* ERROR \\*\\*\\*\\*\n\\[all closed\\]");
}
