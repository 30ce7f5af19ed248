// sidesplit as a program: a transform image written through the image file library, the deck
// in the working directory, near.dat and far.dat read back as point-list layer-line files.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <filesystem>
#include <fstream>
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
  RunSpec job;
  job.exe = testsupport::program_path("sidesplit");
  job.env = std::move(env);
  job.timeout_seconds = 30;
  return testsupport::run_in(dir.path(), job);
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

class WholeRun : public ::testing::TestWithParam<int> {};

// Complex reals (mode 4) and complex 16-bit integers (mode 3) give the same layer lines.
INSTANTIATE_TEST_SUITE_P(SidesplitProgram, WholeRun, ::testing::Values(4, 3));

TEST_P(WholeRun, WritesTheLayerLinesOfATransformImage) {
  TempDir dir;
  write_image(dir / "ramp.map", GetParam(), 4.0f, ramp_transform());
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
    // A section cut short: the same message.
    TempDir dir;
    write_image(dir / "cut.map", 4, 0.0f, ramp_transform());
    fs::resize_file(dir / "cut.map", 1024 + 8 * nx * ny - 8);
    dir.write("sidesplit.dek", deck);
    const RunResult r = run_sidesplit(dir, {{"IN", (dir / "cut.map").string()}});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.ends_with("\n\n\n\n\n  End of data on stream 1\n")) << r.out;
    EXPECT_FALSE(dir.exists("near.dat"));
  }
  {
    // A header claiming 2^31-1 columns and rows over a file of a header alone: the same message,
    // with nothing set aside for the claimed section.
    TempDir dir;
    write_image(dir / "huge.map", 4, 0.0f, {});
    {
      std::fstream f(dir / "huge.map", std::ios::in | std::ios::out | std::ios::binary);
      const unsigned char most[8] = {0xff, 0xff, 0xff, 0x7f, 0xff, 0xff, 0xff, 0x7f};  // NX, NY
      f.write(reinterpret_cast<const char*>(most), sizeof most);
    }
    dir.write("sidesplit.dek", deck);
    const RunResult r = run_sidesplit(dir, {{"IN", (dir / "huge.map").string()}});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(r.out.ends_with("  End of data on stream 1\n")) << r.out;
    EXPECT_FALSE(dir.exists("near.dat"));
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

// A 64 by 64 pixel image of 5 Angstrom pixels: nx = 33, ny = 64, convx = convy = 1/320.
// Column h, row k of its transform holds (h + 1) e^(i(0.5h + 0.3k)).
void write_wide_image(const fs::path& path) {
  std::vector<float> a;
  for (int k = 0; k < 64; ++k) {
    for (int h = 0; h < 33; ++h) {
      const std::complex<double> v = std::polar(h + 1.0, 0.5 * h + 0.3 * k);
      a.push_back(static_cast<float>(v.real()));
      a.push_back(static_cast<float>(v.imag()));
    }
  }
  imagefile::reset_for_tests();
  std::ostringstream quiet;
  imagefile::set_report_stream(quiet);
  imagefile::imopen(2, path.string(), "NEW");
  imagefile::icrhdr(2, imagefile::Int3{33, 64, 1}, imagefile::Int3{64, 64, 1}, 4, {}, 0);
  imagefile::iwrhdr(2, "wide synthetic transform", 0, 0.0f, 1.0f, 0.5f);
  imagefile::iwrsec(2, a);
  imagefile::imclose(2);
  imagefile::reset_for_tests();
  imagefile::set_report_stream(std::cout);
}

// Layer lines l = 1, 2, 3 at 4 l rows (a repeat of 64*5/4 = 80 Angstroms), orders 1, -2 and 0,
// sampled on every column up to 24; yshft moves the phase origin along the axis.
std::string wide_deck(const std::string& yshft) {
  return "AXIAL SHIFT " + yshft + "\n3 5.0 0 " + yshft +
         " 0.003125 0 0 0 1\n"
         "-0.1 0.1 1 1 0 0\n0 0\n\n"
         "1 1 4.0\n0 24 0 24\n"
         "2 -2 8.0\n0 24 0 24\n"
         "3 0 12.0\n0 24 0 24\n";
}

TEST(SidesplitProgram, GridscanRecoversAnAxialShiftFromSidesplitFiles) {
  const std::string gridscan = testsupport::program_path("gridscan");
  ASSERT_TRUE(fs::exists(gridscan)) << gridscan;
  // Two runs on the same transform, the second with the phase origin 2 pixels (10 Angstroms)
  // further along the axis: the test data are the reference shifted by z = 10.
  TempDir dir;
  write_wide_image(dir / "wide.map");
  for (const char* run : {"ref", "test"}) {
    fs::create_directory(dir / run);
    testsupport::write_file(dir / run / "sidesplit.dek", wide_deck(std::string(run) == "ref" ? "0" : "2"));
    RunSpec job;
    job.exe = testsupport::program_path("sidesplit");
    job.env = {{"IN", (dir / "wide.map").string()}};
    const RunResult r = testsupport::run_in(dir / run, job);
    ASSERT_EQ(r.status, 0) << run << r.out << r.err;
  }
  // gridscan: reference on unit 3, test on unit 1, control on unit 2, report on unit 7. Three
  // blocks (merid = 1: the meridional line once), equal weights, no echo, same side and polarity.
  fs::copy_file(dir / "ref" / "near.dat", dir / "fort.3");
  fs::copy_file(dir / "test" / "near.dat", dir / "fort.1");
  dir.write("fort.2", "3 0.0125 0.003125 0\n1 1 1\nsidesplit files\n0 0\n");
  RunSpec job;
  job.exe = gridscan;
  const RunResult g = testsupport::run_in(dir.path(), job);
  ASSERT_EQ(g.status, 0) << g.out << g.err;
  const std::string report = dir.read("fort.7");
  const std::size_t last = report.rfind("0PHASE MINIMUM ");
  ASSERT_NE(last, std::string::npos) << report;
  const std::string line = report.substr(last, 79);
  EXPECT_EQ(line.substr(25), " AT PHI=        0.0 Z=       10.0 RSCALE =       1.000") << report;
  EXPECT_LT(std::stof(line.substr(15, 10)), 1.0f) << report;
}

}  // namespace
