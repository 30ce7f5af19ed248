// sidesplit as a program: a transform image written through the image file library, the deck
// in the working directory, near.dat and far.dat read back as point-list layer-line files.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <filesystem>
#include <sstream>

#include "imagefile/environment.hpp"
#include "imagefile/imageio.hpp"
#include "imagefile/state.hpp"
#include "layerline/pointlist.hpp"
#include "records/source.hpp"
#include "runprog.hpp"

namespace {

namespace fs = std::filesystem;
using testsupport::RunResult;
using testsupport::RunSpec;
using testsupport::TempDir;

constexpr int nx = 9;  // a real-space image 16 pixels wide
constexpr int ny = 8;  // origin row 4
constexpr double pi = 3.14159265358979323846;

// Writes an image of nx by ny items, mode `mode`, one section of `data` (or none), with the
// x origin xorig, through the image file library.
void write_image(const fs::path& path, int mode, float xorig, const std::vector<float>& data) {
  imagefile::reset_for_tests();
  std::ostringstream quiet;
  imagefile::set_report_stream(quiet);
  imagefile::imopen(2, path.string(), "NEW");
  imagefile::icrhdr(2, imagefile::Int3{nx, ny, 1}, imagefile::Int3{nx, ny, 1}, mode, {}, 0);
  imagefile::ialorg(2, xorig, 0.0f, 0.0f);
  imagefile::iwrhdr(2, "synthetic transform", 0, 0.0f, 1.0f, 0.5f);
  if (!data.empty()) imagefile::iwrsec(2, data);
  imagefile::imclose(2);
  imagefile::reset_for_tests();
  imagefile::set_report_stream(std::cout);
}

// The transform of a real-space image with its origin at x = 4 pixels: after the phase origin
// is moved back by 4 pixels, column h holds h + 1, whatever the row.
std::vector<float> ramp_transform() {
  std::vector<float> a;
  for (int k = 0; k < ny; ++k) {
    for (int h = 0; h < nx; ++h) {
      const std::complex<double> v = std::polar(h + 1.0, h * pi / 2.0);  // undone by delpx = -pi/2
      a.push_back(static_cast<float>(v.real()));
      a.push_back(static_cast<float>(v.imag()));
    }
  }
  return a;
}

// Pixels of 0.5 Angstroms (convx = 1/8), R sampled every 1/8 from -1 to 1: sample index n sits
// on column |n|. Layer lines: the equator, order 2 at row 1, order -1 at row 2, and the
// meridional line 3 at row 3 (written twice, merid = 0).
const std::string deck =
    "PROGRAM TEST\n"
    "4 0.5 0 0 0.125 0 0 0 1\n"
    "-1.0 1.0 1 0 0 0\n"
    "0 0\n"
    "\n"
    "0 0 0.0\n0 8 0 8\n"
    "1 2 1.0\n1 8 1 8\n"
    "2 -1 2.0\n0 5 0 6\n"
    "3 0 3.0\n0 4 1 4\n";

RunResult run_sidesplit(const TempDir& dir, std::vector<std::pair<std::string, std::string>> env) {
  RunSpec spec;
  spec.exe = testsupport::program_path("sidesplit");
  spec.env = std::move(env);
  spec.timeout_seconds = 30;
  return testsupport::run_in(dir.path(), spec);
}

std::vector<layerline::Block> blocks_of(const fs::path& path) {
  records::LineSource src = records::LineSource::open_file(path.string());
  layerline::PointListReader reader(src, layerline::EndOfBlockRule::RadiusZero);
  std::vector<layerline::Block> v;
  while (auto b = reader.read_block()) v.push_back(*b);
  return v;
}

// Checks that a block holds |R| index first..last (in that order, step +-1) with amplitude
// |index| + 1 and phase 0.
void expect_ramp(const layerline::Block& b, int first, int last, const std::string& what) {
  const int step = last >= first ? 1 : -1;
  ASSERT_EQ(b.points.size(), static_cast<std::size_t>(std::abs(last - first) + 1)) << what;
  for (std::size_t i = 0; i < b.points.size(); ++i) {
    const int n = first + step * static_cast<int>(i);
    EXPECT_FLOAT_EQ(b.points[i].r, static_cast<float>(n) * 0.125f) << what << " point " << i;
    EXPECT_NEAR(b.points[i].amp, std::abs(n) + 1.0, 1e-4) << what << " point " << i;
    EXPECT_NEAR(b.points[i].phase, 0.0, 1e-3) << what << " point " << i;
  }
}

TEST(SidesplitProgram, WritesTheLayerLinesOfATransformImage) {
  TempDir dir;
  write_image(dir / "ramp.map", 4, 4.0f, ramp_transform());
  dir.write("sidesplit.dek", deck);
  const RunResult r = run_sidesplit(dir, {{"IN", (dir / "ramp.map").string()}});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(r.err, "");
  // The library's report of the open and the header, then the echo.
  const std::size_t report = r.out.find("Number of columns, rows, sections ........      9     8     1");
  const std::size_t echo =
      r.out.find(" Total no of layer lines          4\n Real space sample size        0.50 Angstroms\n");
  EXPECT_NE(report, std::string::npos) << r.out;
  EXPECT_NE(echo, std::string::npos) << r.out;
  EXPECT_LT(report, echo);
  const std::string last = " Scale factor (yfact)          1.00\n";
  EXPECT_TRUE(r.out.ends_with(last)) << r.out;

  const std::vector<layerline::Block> near = blocks_of(dir / "near.dat");
  const std::vector<layerline::Block> far = blocks_of(dir / "far.dat");
  ASSERT_EQ(near.size(), 5u);
  ASSERT_EQ(far.size(), 5u);
  // Equator: negative half on the near side as |R| rising, positive half on the far side.
  expect_ramp(near[0], 0, 8, "near equator");
  expect_ramp(far[0], 0, 8, "far equator");
  EXPECT_EQ(near[0].header.label, " PROGRAM TEST                            LL  0 NEAR     0.000");
  EXPECT_EQ(far[0].header.label, " PROGRAM TEST                            LL  0 FAR      0.000");
  EXPECT_EQ(near[0].header.scale, 1.0f);
  expect_ramp(near[1], 1, 8, "near order 2");
  EXPECT_EQ(near[1].header.nn, 2);
  EXPECT_EQ(near[1].header.nl, 1);
  // Order -1: the positive half (R 0..6) is on the near side, the negative (|R| 0..5) far.
  expect_ramp(near[2], 0, 6, "near order -1");
  expect_ramp(far[2], 0, 5, "far order -1");
  EXPECT_EQ(near[2].header.label.substr(47, 4), "NEAR");
  // The meridional line 3: twice in each file at half weight, the halves exchanged.
  for (std::size_t i : {3u, 4u}) {
    EXPECT_EQ(near[i].header.scale, 0.5f);
    EXPECT_EQ(far[i].header.scale, 0.5f);
    EXPECT_EQ(near[i].header.nl, 3);
  }
  expect_ramp(near[3], 0, 4, "near meridional, first");
  expect_ramp(far[3], 1, 4, "far meridional, first");
  expect_ramp(near[4], 1, 4, "near meridional, second");
  expect_ramp(far[4], 0, 4, "far meridional, second");
}

TEST(SidesplitProgram, TheLogicalNameInDefaultsToTheFileIn) {
  TempDir dir;
  write_image(dir / "IN", 4, 4.0f, ramp_transform());
  dir.write("sidesplit.dek", deck);
  const RunResult r = run_sidesplit(dir, {});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(blocks_of(dir / "near.dat").size(), 5u);
}

TEST(SidesplitProgram, TransformsThatCannotBeUsed) {
  {
    // A header without its section: the end-of-data message, status 1, the deck not read.
    TempDir dir;
    write_image(dir / "short.map", 4, 0.0f, {});
    const RunResult r = run_sidesplit(dir, {{"IN", (dir / "short.map").string()}});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.ends_with(" Titles :\n synthetic transform" + std::string(61, ' ') +
                                "\n\n\n\n\n\n  End of data on stream 1\n"))
        << r.out;
    EXPECT_EQ(r.err, "");
  }
  {
    // Real values are no transform.
    TempDir dir;
    write_image(dir / "real.map", 2, 0.0f, std::vector<float>(nx * ny, 1.0f));
    dir.write("sidesplit.dek", deck);
    const RunResult r = run_sidesplit(dir, {{"IN", (dir / "real.map").string()}});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("sidesplit: " + (dir / "real.map").string() +
                         ": data mode 2 holds real values; the transform must be complex (mode 3 or 4)"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(dir.exists("near.dat"));
  }
  {
    // No image at all: the library's own stop.
    TempDir dir;
    dir.write("sidesplit.dek", deck);
    const RunResult r = run_sidesplit(dir, {{"IN", (dir / "missing.map").string()}});
    EXPECT_NE(r.status, 0);
    EXPECT_FALSE(dir.exists("near.dat"));
  }
}

TEST(SidesplitProgram, ExistingFilesMissingAndShortDecks) {
  for (const std::string existing : {"near.dat", "far.dat"}) {
    TempDir dir;
    write_image(dir / "ramp.map", 4, 4.0f, ramp_transform());
    dir.write("sidesplit.dek", deck);
    dir.write(existing, "keep me\n");
    const RunResult r = run_sidesplit(dir, {{"IN", (dir / "ramp.map").string()}});
    EXPECT_EQ(r.status, 2) << existing;
    EXPECT_EQ(r.err, "sidesplit: " + existing + ": the output file exists already; it is left as it is\n");
    EXPECT_EQ(dir.read(existing), "keep me\n");
    EXPECT_FALSE(dir.exists(existing == "near.dat" ? "far.dat" : "near.dat")) << existing;
  }
  {
    TempDir dir;
    write_image(dir / "ramp.map", 4, 4.0f, ramp_transform());
    const RunResult r = run_sidesplit(dir, {{"IN", (dir / "ramp.map").string()}});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err.rfind("sidesplit: sidesplit.dek: cannot open", 0), 0u) << r.err;
  }
  {
    // The deck ends inside the last layer line: nothing is written.
    TempDir dir;
    write_image(dir / "ramp.map", 4, 4.0f, ramp_transform());
    dir.write("sidesplit.dek", deck.substr(0, deck.size() - 8));
    const RunResult r = run_sidesplit(dir, {{"IN", (dir / "ramp.map").string()}});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "sidesplit: sidesplit.dek, line 13: end of file: nl1 (record 6b) expected\n");
    EXPECT_FALSE(dir.exists("near.dat"));
    EXPECT_FALSE(dir.exists("far.dat"));
  }
}

}  // namespace
