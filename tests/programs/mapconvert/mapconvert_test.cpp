// mapconvert end to end: foreign and old-style maps in, native maps out that the image
// library reads without warnings and with the same header values and data.
#include <cstdlib>

#include "fixture.hpp"
#include "imagefile/imageio.hpp"
#include "runprog.hpp"

namespace {

using imagetest::MapBytes;
using namespace imagefile;

class MapconvertTest : public imagetest::ImageFileTest {
 protected:
  testsupport::RunResult convert(const std::string& in, const std::string& out,
                                 std::vector<std::pair<std::string, std::string>> env = {}) {
    testsupport::RunSpec job;
    job.exe = testsupport::program_path("mapconvert");
    job.args = {in, out};
    job.env = std::move(env);
    return testsupport::run_in(dir_->path(), job);
  }

  // Opens a converted map with the library in this process and reads all its numbers.
  std::vector<float> read_native(const std::string& name, const Header*& header) {
    report();
    imopen(1, name, "RO");
    Int3 n{}, m{};
    std::int32_t mode = 0;
    float a = 0, b = 0, c = 0;
    irdhdr(1, n, m, mode, a, b, c);
    header = &header_of(1);
    std::vector<float> all;
    std::vector<float> section(static_cast<std::size_t>(n[0] * n[1] * numbers_per_item(mode)));
    for (int iz = 0; iz < n[2]; ++iz) {
      EXPECT_TRUE(irdsec(1, section));
      all.insert(all.end(), section.begin(), section.end());
    }
    const std::string said = report();
    EXPECT_EQ(said.find("Warning"), std::string::npos) << said;
    EXPECT_NE(said.find("!!! New style 21st century map"), std::string::npos) << said;
    return all;
  }
};

// A 2 x 2 x 2 map in either byte order: header values that must all survive the conversion.
MapBytes sample(bool big_endian, std::int32_t mode, bool new_style) {
  MapBytes m(big_endian);
  m.standard(2, 2, 2, mode).i32(5, -1).i32(6, 2).i32(7, 3).i32(8, 10).i32(9, 20).i32(10, 30);
  m.f32(11, 25.5f).f32(12, 30.0f).f32(13, 40.0f).f32(14, 90.0f).f32(15, 100.0f).f32(16, 120.0f);
  m.i32(17, 2).i32(18, 1).i32(19, 3).f32(20, -7.0f).f32(21, 9.0f).f32(22, 1.5f).i32(25, 123).i32(49, -9);
  m.i32(56, 2).text(224, "first label").text(304, "second label");
  if (new_style) {
    m.f32(50, 1.0f).f32(51, 2.0f).f32(52, 3.0f).f32(55, 0.75f);
  } else {
    m.text(208, "    ").raw(212, {0, 0, 0, 0}).f32(54, -4.5f).f32(55, 6.25f);
  }
  return m;
}

std::vector<float> values_of(std::int32_t mode) {
  std::vector<float> v;
  const int n = 8 * numbers_per_item(mode);
  for (int i = 0; i < n; ++i)
    v.push_back(mode == 0 ? static_cast<float>(i * 30)
                          : static_cast<float>(i * 3 - 7) * (mode == 2 || mode == 4 ? 0.5f : 1.0f));
  return v;
}

MapBytes with_data(MapBytes m, std::int32_t mode) {
  for (float x : values_of(mode)) {
    if (mode == 0) m.append_bytes(std::string(1, static_cast<char>(static_cast<int>(x))));
    if (mode == 1 || mode == 3) m.append_i16(static_cast<std::int16_t>(x));
    if (mode == 2 || mode == 4) m.append_f32(x);
  }
  return m;
}

void expect_header(const Header& h, std::int32_t mode, bool new_style) {
  EXPECT_EQ(h.nxyz, (Int3{2, 2, 2}));
  EXPECT_EQ(h.mode, mode);
  EXPECT_EQ(h.nxyzstart, (Int3{-1, 2, 3}));
  EXPECT_EQ(h.mxyz, (Int3{10, 20, 30}));
  EXPECT_EQ(h.cella, (Real3{25.5f, 30.0f, 40.0f}));
  EXPECT_EQ(h.cellb, (Real3{90.0f, 100.0f, 120.0f}));
  EXPECT_EQ(h.mapcrs, (Int3{2, 1, 3}));
  EXPECT_EQ(h.dmin, -7.0f);
  EXPECT_EQ(h.dmax, 9.0f);
  EXPECT_EQ(h.dmean, 1.5f);
  EXPECT_EQ(h.extra[0], 123);
  EXPECT_EQ(h.extra[24], -9);
  EXPECT_EQ(h.nlabl, 2);
  EXPECT_EQ(h.label(1), padded("first label", 80));
  EXPECT_EQ(h.label(2), padded("second label", 80));
  if (new_style) {
    EXPECT_EQ(h.origin, (Real3{1.0f, 2.0f, 3.0f}));
    EXPECT_EQ(h.rms, 0.75f);
  } else {
    EXPECT_EQ(h.origin, (Real3{-4.5f, 6.25f, 0.0f}));
    EXPECT_EQ(h.rms, 0.0f);
  }
}

TEST_F(MapconvertTest, BigEndianMapsOfEveryModeBecomeNative) {
  for (std::int32_t mode = 0; mode <= 4; ++mode) {
    const std::string in = "be" + std::to_string(mode) + ".map";
    const std::string out = "native" + std::to_string(mode) + ".map";
    write(in, with_data(sample(true, mode, true), mode).str());
    const auto r = convert(in, out);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const Header* h = nullptr;
    EXPECT_EQ(read_native(out, h), values_of(mode)) << "mode " << mode;
    expect_header(*h, mode, true);
    EXPECT_EQ(read(out).substr(212, 4), std::string("\x44\x41\x00\x00", 4));
    imclose(1);
  }
}

TEST_F(MapconvertTest, OldStyleMapsOfEitherByteOrderBecomeNative) {
  for (bool big : {false, true}) {
    const std::string out = big ? "from_be_old.map" : "from_old.map";
    write("old.map", with_data(sample(big, 2, false), 2).str());
    const auto r = convert("old.map", out);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    const Header* h = nullptr;
    EXPECT_EQ(read_native(out, h), values_of(2));
    expect_header(*h, 2, false);
    imclose(1);
  }
  // The other byte order, new-style but without a stamp: swapped as well.
  MapBytes unstamped = with_data(sample(true, 1, true), 1);
  unstamped.raw(212, {0, 0, 0, 0});
  write("unstamped.map", unstamped.str());
  ASSERT_EQ(convert("unstamped.map", "u.map").status, 0);
  const Header* h = nullptr;
  EXPECT_EQ(read_native("u.map", h), values_of(1));
  expect_header(*h, 1, true);
}

TEST_F(MapconvertTest, SymmetryOfSpaceGroupOneIsKept) {
  MapBytes m = sample(true, 2, true);
  m.i32(23, 1).i32(24, 80).append_bytes(padded(" X,Y,Z", 80));
  write("sym.map", with_data(m, 2).str());
  ::setenv("IN", path("sym.map").c_str(), 1);  // a logical name, bound in the child too
  const auto r = convert("IN", "out.map", {{"IN", path("sym.map")}});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const Header* h = nullptr;
  EXPECT_EQ(read_native("out.map", h), values_of(2));
  EXPECT_EQ(h->ispg, 1);
  EXPECT_EQ(h->nsymbt, 80);
}

TEST_F(MapconvertTest, RefusesFilesThatAreNotMaps) {
  write("notes.txt", std::string(2000, 'x'));
  auto r = convert("notes.txt", "out.map");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err.rfind("mapconvert: notes.txt: not a map image file: the axis words 17-19 hold", 0), 0u) << r.err;
  EXPECT_FALSE(dir_->exists("out.map"));

  write("short.map", "MAP ");
  r = convert("short.map", "out.map");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "mapconvert: short.map: not a map image file: 4 bytes, shorter than the 1024-byte header\n");

  write("cut.map", sample(false, 2, true).str() + "abcd");
  r = convert("cut.map", "out.map");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err, "mapconvert: cut.map: not a map image file: its header asks for 1056 bytes, the file has 1028\n");
  EXPECT_FALSE(dir_->exists("out.map"));
}

TEST_F(MapconvertTest, AnExistingOutputIsKeptAndTheProgramNameIsReported) {
  write("in.map", with_data(sample(false, 2, true), 2).str());
  write("out.map", "precious");
  testsupport::RunSpec job;
  job.exe = testsupport::program_path("mapconvert");
  job.argv0 = "/usr/local/bin/sidesplit";
  job.args = {"in.map", "out.map"};
  const auto r = testsupport::run_in(dir_->path(), job);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, " sides:   (Q)QOPEN NEW file already exists: out.map\n");
  EXPECT_EQ(read("out.map"), "precious");
}

}  // namespace
