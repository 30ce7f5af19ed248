// The image operations and the file format they read and write.
#include "imagefile/imageio.hpp"

#include <cstdlib>
#include <cstring>

#include "fixture.hpp"
#include "imagefile/environment.hpp"

namespace {

using imagetest::in_child;
using imagetest::le_f32;
using imagetest::le_i32;
using imagetest::MapBytes;
using ImageTest = imagetest::ImageFileTest;
using namespace imagefile;

struct Read {
  Int3 nxyz{}, mxyz{};
  std::int32_t mode = -1;
  float dmin = 0.0f, dmax = 0.0f, dmean = 0.0f;
};

Read open_and_read(int stream, const std::string& name) {
  imopen(stream, name, "RO");
  Read r;
  irdhdr(stream, r.nxyz, r.mxyz, r.mode, r.dmin, r.dmax, r.dmean);
  return r;
}

// A new file of the given size and mode with one section (or more) of data.
void write_map(const std::string& name, Int3 nxyz, std::int32_t mode, const std::vector<float>& data) {
  imopen(1, name, "NEW");
  icrhdr(1, nxyz, nxyz, mode, {}, 0);
  iwrhdr(1, "title", 0, -1.0f, 5.0f, 2.0f);
  const std::size_t section = static_cast<std::size_t>(nxyz[0] * nxyz[1]) * (mode >= 3 ? 2u : 1u);
  for (std::size_t at = 0; at < data.size(); at += section)
    iwrsec(1, std::span<const float>(data).subspan(at, section));
  imclose(1);
}

TEST_F(ImageTest, Mode2FileLayoutByteForByte) {
  write_map("out.map", {3, 2, 1}, 2, {1, 2, 3, 4, 5, 6});
  const std::string f = read("out.map");
  ASSERT_EQ(f.size(), 1048u);
  EXPECT_EQ(le_i32(f, 0), 3);
  EXPECT_EQ(le_i32(f, 4), 2);
  EXPECT_EQ(le_i32(f, 8), 1);
  EXPECT_EQ(le_i32(f, 12), 2);
  EXPECT_EQ(le_i32(f, 28), 3);     // MX = NX as given
  EXPECT_EQ(le_f32(f, 40), 3.0f);  // cell edge a = MX
  EXPECT_EQ(le_f32(f, 52), 90.0f);
  EXPECT_EQ(le_i32(f, 64), 1);
  EXPECT_EQ(le_i32(f, 68), 2);
  EXPECT_EQ(le_i32(f, 72), 3);
  EXPECT_EQ(le_f32(f, 76), -1.0f);
  EXPECT_EQ(le_f32(f, 80), 5.0f);
  EXPECT_EQ(le_f32(f, 84), 2.0f);
  EXPECT_EQ(le_i32(f, 88), 0);
  EXPECT_EQ(le_i32(f, 92), 0);
  EXPECT_EQ(f.substr(208, 4), "MAP ");
  EXPECT_EQ(f.substr(212, 4), std::string("\x44\x41\x00\x00", 4));
  EXPECT_EQ(le_i32(f, 220), 1);
  EXPECT_EQ(f.substr(224, 800), padded("title", 800));
  for (int i = 0; i < 6; ++i) EXPECT_EQ(le_f32(f, 1024 + 4 * static_cast<std::size_t>(i)), static_cast<float>(i + 1));
}

TEST_F(ImageTest, HeaderReportAndOpenReport) {
  write_map("out.map", {3, 2, 1}, 2, {1, 2, 3, 4, 5, 6});
  report();
  const Read r = open_and_read(3, "out.map");
  EXPECT_EQ(r.nxyz, (Int3{3, 2, 1}));
  EXPECT_EQ(r.mode, 2);
  EXPECT_EQ(r.dmax, 5.0f);
  const std::string expected =
      "\n!!! New style 21st century map : out.map\n"
      "\n Filename for RO      image file on unit   3 : " +
      padded("out.map", 60) + "\n" + std::string(29, ' ') +
      "Size=       1048\n\n"
      "\n"
      "       Number of columns, rows, sections ........      3     2     1\n"
      "       Map mode .................................      2\n"
      "       Start points on columns, rows, sections ..      0     0     0\n"
      "       Grid sampling on x, y, z .................      3     2     1\n"
      "       Cell axes ................................       3.00      2.00      1.00\n"
      "       Cell angles ..............................      90.00     90.00     90.00\n"
      "       Fast, medium, slow axes ..................      X     Y     Z\n"
      "       Minimum density ..........................           -1.000000000000\n"
      "       Maximum density ..........................            5.000000000000\n"
      "       Mean density .............................            2.000000000000\n"
      "       Origin ...................................       0.00      0.00      0.00\n"
      "       RMS deviation ............................            0.000000000000\n"
      "       Space group, # bytes symmetry ............      0     0\n"
      "       Number of titles .........................      1\n"
      "\n Titles :\n " +
      padded("title", 80) + "\n\n";
  // The disk layer's open lines come first (the very first open only set the print level).
  const std::string got = report();
  ASSERT_NE(got.find("\n!!! New style"), std::string::npos) << got;
  EXPECT_EQ(got.substr(got.find("\n!!! New style")), expected);
}

TEST_F(ImageTest, SymmetryRecordsPlaceTheData) {
  imopen(1, "sym.map", "NEW");
  icrhdr(1, {2, 1, 1}, {2, 1, 1}, 2, {}, 0);
  std::int32_t nbsym = -1;
  ialsym(1, 1, nbsym);
  EXPECT_EQ(nbsym, 80);
  iwrhdr(1, "", 0, 0.0f, 0.0f, 0.0f);
  iwrlin(1, std::vector<float>{7.0f, 8.0f});
  imclose(1);
  const std::string f = read("sym.map");
  ASSERT_EQ(f.size(), 1112u);
  EXPECT_EQ(le_i32(f, 88), 1);
  EXPECT_EQ(le_i32(f, 92), 80);
  EXPECT_EQ(f.substr(1024, 80), padded(" X,Y,Z", 80));
  EXPECT_EQ(le_f32(f, 1104), 7.0f);

  open_and_read(1, "sym.map");
  std::vector<float> line(2);
  ASSERT_TRUE(irdlin(1, line));
  EXPECT_EQ(line, (std::vector<float>{7.0f, 8.0f}));
  std::int32_t ispg = 0;
  irtsym(1, ispg, nbsym);
  EXPECT_EQ(ispg, 1);

  // Space group 0 with symmetry bytes: the records are not taken to be there.
  MapBytes m;
  m.standard(2, 1, 1, 2).i32(24, 80).append_f32(3.0f).append_f32(4.0f);
  write("nosym.map", m.str());
  open_and_read(2, "nosym.map");
  ASSERT_TRUE(irdlin(2, line));
  EXPECT_EQ(line, (std::vector<float>{3.0f, 4.0f}));
  irtsym(2, ispg, nbsym);
  EXPECT_EQ(ispg, 0);
  EXPECT_EQ(nbsym, 0);
}

TEST_F(ImageTest, ByteAndIntegerModesRoundHalvesAwayFromZero) {
  write_map("m0.map", {6, 1, 1}, 0, {-1.0f, 2.5f, -2.5f, 256.0f, 255.4f, 0.49f});
  EXPECT_EQ(read("m0.map").substr(1024), std::string("\xff\x03\xfd\x00\xff\x00", 6));
  open_and_read(1, "m0.map");
  std::vector<float> back(6);
  ASSERT_TRUE(irdsec(1, back));
  EXPECT_EQ(back, (std::vector<float>{255.0f, 3.0f, 253.0f, 0.0f, 255.0f, 0.0f}));
  imclose(1);

  write_map("m1.map", {2, 1, 1}, 1, {-2.5f, 40000.0f});
  EXPECT_EQ(read("m1.map").substr(1024), std::string("\xfd\xff\x40\x9c", 4));  // -3, 40000 - 65536
  open_and_read(1, "m1.map");
  ASSERT_TRUE(irdlin(1, std::span<float>(back.data(), 2)));
  EXPECT_EQ(back[0], -3.0f);
  EXPECT_EQ(back[1], -25536.0f);
}

TEST_F(ImageTest, LongLinesConvertChunkByChunk) {
  // 10000 bytes and 5000 complex 16-bit items: more than one 8192-byte chunk each.
  for (std::int32_t mode : {0, 3}) {
    const int n = mode == 0 ? 10000 : 5000;
    std::vector<float> line(static_cast<std::size_t>(n * numbers_per_item(mode)));
    for (std::size_t i = 0; i < line.size(); ++i)
      line[i] = mode == 0 ? static_cast<float>(i % 251) : static_cast<float>(static_cast<int>(i % 1000) - 500);
    const std::string name = "long" + std::to_string(mode) + ".map";
    write_map(name, {n, 1, 1}, mode, line);
    EXPECT_EQ(read(name).size(), 1024u + static_cast<std::size_t>(n * bytes_per_item(mode)));
    open_and_read(1, name);
    std::vector<float> back(line.size());
    ASSERT_TRUE(irdlin(1, back));
    EXPECT_EQ(back, line);
    imclose(1);
  }
}

TEST_F(ImageTest, LimitsDialoguesClampToTheFile) {
  write_map("l.map", {10, 8, 4}, 2, std::vector<float>(320, 0.0f));
  const std::string answers = "2 20\n-3, 5\n1 1\n5 2\n4 1\n0 9\n";
  auto r = in_child(
      [] {
        open_and_read(1, "l.map");
        Int3 lo{}, hi{}, m{};
        icllim(1, lo, hi, m);
        report_stream() << "icllim " << lo[0] << ' ' << hi[0] << ' ' << lo[1] << ' ' << hi[1] << ' ' << lo[2] << ' '
                        << hi[2] << ' ' << m[0] << ' ' << m[1] << ' ' << m[2] << '\n';
        ictlim(1, lo, hi, m);
        report_stream() << "ictlim " << lo[0] << ' ' << hi[0] << ' ' << lo[1] << ' ' << hi[1] << ' ' << lo[2] << ' '
                        << hi[2] << ' ' << m[0] << ' ' << m[1] << ' ' << m[2] << '\n';
      },
      &answers);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_NE(r.out.find(" Lower and upper limits on x (columns), 0 to 9 :\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("icllim 2 9 0 5 1 1 8 6 1\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(" Centre and half width on z (sections), 0 to 3 :\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("ictlim 3 7 3 5 0 3 5 3 4\n"), std::string::npos) << r.out;
}

TEST_F(ImageTest, RawSwitchMovesFileBytes) {
  MapBytes m;
  m.standard(4, 1, 1, 0).append_bytes("\x01\x02\x03\x04");
  write("raw.map", m.str());
  open_and_read(1, "raw.map");
  ialcon(1, false);
  float one = 0.0f;
  ASSERT_TRUE(irdlin(1, std::span<float>(&one, 1)));
  EXPECT_EQ(std::memcmp(&one, "\x01\x02\x03\x04", 4), 0);
}

TEST_F(ImageTest, BigEndianStampedFilesReadInEveryMode) {
  const std::vector<std::vector<float>> expected = {
      {200.0f, 7.0f}, {-2.0f, 300.0f}, {1.5f, -0.25f}, {-1.0f, 2.0f, 3.0f, -4.0f}, {1.5f, -2.0f, 0.5f, 8.0f}};
  for (std::int32_t mode = 0; mode <= 4; ++mode) {
    MapBytes m(true);
    m.standard(2, 1, 1, mode).f32(20, -2.0f).f32(21, 300.0f).f32(50, 1.25f).i32(25, 77);
    const auto& v = expected[static_cast<std::size_t>(mode)];
    for (float x : v) {
      if (mode == 0) m.append_bytes(std::string(1, static_cast<char>(static_cast<int>(x))));
      if (mode == 1 || mode == 3) m.append_i16(static_cast<std::int16_t>(x));
      if (mode == 2 || mode == 4) m.append_f32(x);
    }
    const std::string name = "be" + std::to_string(mode) + ".map";
    write(name, m.str());
    report();
    const Read r = open_and_read(1, name);
    EXPECT_NE(report().find("!!! Warning - architecture incompatibility !!! \n"), std::string::npos);
    EXPECT_EQ(r.nxyz, (Int3{2, 1, 1}));
    EXPECT_EQ(r.mode, mode);
    EXPECT_EQ(r.dmin, -2.0f);
    EXPECT_EQ(r.dmax, 300.0f);
    EXPECT_EQ(header_of(1).origin[0], 1.25f);
    EXPECT_EQ(header_of(1).extra[0], 77);
    EXPECT_EQ(header_of(1).mapcrs, (Int3{1, 2, 3}));
    std::vector<float> got(v.size());
    ASSERT_TRUE(irdsec(1, got));
    EXPECT_EQ(got, v) << "mode " << mode;
    imclose(1);
  }
  // A foreign map cannot be written.
  auto r = in_child([] {
    open_and_read(1, "be2.map");
    iwrhdr(1, "", -1, 0.0f, 0.0f, 0.0f);
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("!!! Error - cannot overwrite map of different machine \n\n"
                       "architecture - use mapconvert program and retry.\n"),
            std::string::npos);
}

TEST_F(ImageTest, PositioningReadsTheRightSectionAndLine) {
  std::vector<float> data(36);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<float>(i);
  write_map("p.map", {4, 3, 3}, 2, data);
  open_and_read(1, "p.map");
  std::vector<float> sec(12);
  imposn(1, 2, 0);
  ASSERT_TRUE(irdsec(1, sec));  // bytes 1024 + 96 onwards
  EXPECT_EQ(sec[0], 24.0f);
  EXPECT_EQ(sec[11], 35.0f);
  EXPECT_FALSE(irdsec(1, sec));  // end of file
  imposn(1, 1, 2);
  std::vector<float> line(4);
  ASSERT_TRUE(irdlin(1, line));
  EXPECT_EQ(line, (std::vector<float>{20, 21, 22, 23}));
  imposn(1, -1, -5);
  ASSERT_TRUE(irdlin(1, line));
  EXPECT_EQ(line[0], 0.0f);

  // Partial lines and areas: items 1..2 of lines 1..2 of section 0.
  imposn(1, 0, 0);
  std::vector<float> area(3 * 2, -1.0f);
  ASSERT_TRUE(irdpas(1, area, 3, 2, 1, 2, 1, 2));
  EXPECT_EQ(area, (std::vector<float>{5, 6, 0, 9, 10, 0}));
  imposn(1, 0, 1);
  ASSERT_TRUE(irdpal(1, std::span<float>(line.data(), 1), 3, 3));
  EXPECT_EQ(line[0], 7.0f);
  ASSERT_TRUE(irdlin(1, line));  // the next line follows the partial one
  EXPECT_EQ(line[0], 8.0f);
}

TEST_F(ImageTest, PartialWritesAndAreas) {
  write_map("w.map", {3, 2, 1}, 2, {0, 0, 0, 0, 0, 0});
  imopen(1, "w.map", "OLD");
  Int3 n{}, m{};
  std::int32_t mode = 0;
  float a = 0, b = 0, c = 0;
  irdhdr(1, n, m, mode, a, b, c);
  // Columns ny1 + 1 .. ny2 + 1 of a 3 by 2 array: items 1..2 of each go to the start of the
  // next line, the rest of that line is passed over.
  iwrpas(1, std::vector<float>{9, 1, 2, 9, 3, 4}, 3, 2, 1, 2, 0, 1);
  imclose(1);
  const std::string f = read("w.map");
  std::vector<float> got;
  for (std::size_t i = 0; i < 6; ++i) got.push_back(le_f32(f, 1024 + 4 * i));
  EXPECT_EQ(got, (std::vector<float>{1, 2, 0, 3, 4, 0}));
}

TEST_F(ImageTest, OldStyleMapsReadWithTheirOriginAndCannotBeWritten) {
  MapBytes m;
  m.i32(1, 1).i32(2, 1).i32(3, 1).i32(4, 2).i32(17, 1).i32(18, 2).i32(19, 3);
  m.f32(50, 99.0f).f32(54, 12.5f).f32(55, -3.0f).append_f32(6.0f);
  write("old.map", m.str());
  report();
  open_and_read(1, "old.map");
  EXPECT_NE(report().find("\n!!! Warning - old style 20th century map : old.map\n"), std::string::npos);
  float x = 0, y = 0, z = 1, rms = 1;
  irtorg(1, x, y, z);
  irtrms(1, rms);
  EXPECT_EQ(x, 12.5f);
  EXPECT_EQ(y, -3.0f);
  EXPECT_EQ(z, 0.0f);
  EXPECT_EQ(rms, 0.0f);
  EXPECT_EQ(imform(1), -1);
  float v = 0;
  ASSERT_TRUE(irdlin(1, std::span<float>(&v, 1)));
  EXPECT_EQ(v, 6.0f);
  imclose(1);

  auto r = in_child([] {
    imopen(1, "old.map", "OLD");
    iwrsec(1, std::vector<float>{1.0f});
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(
      r.out.find("!!! Error - cannot overwrite old-style 20th century map.\n    Use mapconvert program and retry.\n"),
      std::string::npos);
  EXPECT_EQ(read("old.map"), m.str());

  // Foreign and without "MAP ": refused at the open.
  MapBytes foreign(true);
  foreign.i32(1, 1).i32(17, 1).i32(18, 2).i32(19, 3);
  write("foreign.map", foreign.str());
  auto f = in_child([] { imopen(1, "foreign.map", "RO"); });
  EXPECT_EQ(f.status, 1);
  EXPECT_NE(f.out.find("\n!!! Warning - architecture incompatibility !!! \n (A) karch(j) is  1\n"
                       "!!! Fatal error - cannot read from or write to file : foreign.map\n"
                       "!!! Use mapconvert to reformat maps correctly !!!\n"),
            std::string::npos)
      << f.out;
}

TEST_F(ImageTest, OpenLimitsStop) {
  auto r = in_child([] {
    for (int s = 1; s <= 5; ++s) imopen(s, "f" + std::to_string(s), "SCRATCH");
    imopen(9, "f6", "SCRATCH");
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("\n\n IMOPEN: No More than 5 files can be opened!!!\n\n\n"), std::string::npos);
  EXPECT_EQ(r.err, "open error!!!\nimagetest: f6: IMOPEN: No More than 5 files can be opened!!!\n");
  auto s = in_child([] { imopen(13, "f", "NEW"); });
  EXPECT_EQ(s.status, 1);
  EXPECT_EQ(s.out, "\n\n IMOPEN: Invalid STREAM number!!!\n\n\n");
  EXPECT_EQ(s.err, "Open Error !!!\nimagetest: f: IMOPEN: Invalid STREAM number!!!\n");
  // Closing frees a place again.
  for (int i = 1; i <= 5; ++i) imopen(i, "g" + std::to_string(i), "SCRATCH");
  imclose(2);
  imopen(12, "g6", "SCRATCH");
}

TEST_F(ImageTest, TitleFlagsOnTenLabels) {
  std::vector<std::string> labels;
  for (int i = 1; i <= 10; ++i) labels.push_back("L" + std::to_string(i));
  auto labels_after = [&](int ntflag) {
    imopen(1, "t.map", "SCRATCH");
    icrhdr(1, {1, 1, 1}, {1, 1, 1}, 2, labels, 10);
    iwrhdr(1, "T", ntflag, 0.0f, 0.0f, 0.0f);
    std::vector<std::string> got;
    for (const std::string& l : irtlab(1)) got.push_back(l.substr(0, l.find(' ')));
    imclose(1);
    return got;
  };
  EXPECT_EQ(labels_after(1), (std::vector<std::string>{"L1", "L2", "L3", "L4", "L5", "L6", "L7", "L8", "L9", "T"}));
  EXPECT_EQ(labels_after(2), (std::vector<std::string>{"T", "L1", "L2", "L3", "L4", "L5", "L6", "L7", "L8", "L9"}));
  EXPECT_EQ(labels_after(0), (std::vector<std::string>{"T"}));
  EXPECT_EQ(labels_after(-1), labels);
  // Fewer labels: appended after the last one, blanks elsewhere on disk.
  imopen(1, "u.map", "NEW");
  icrhdr(1, {1, 1, 1}, {1, 1, 1}, 2, labels, 2);
  iwrhdr(1, "T", 1, 0.0f, 0.0f, 0.0f);
  imclose(1);
  EXPECT_EQ(read("u.map").substr(224, 800), padded("L1", 80) + padded("L2", 80) + padded("T", 640));
}

TEST_F(ImageTest, HeaderTransferDropsSymmetry) {
  imopen(1, "sym.map", "NEW");
  icrhdr(1, {1, 1, 1}, {4, 5, 6}, 2, {}, 0);
  std::int32_t nbsym = 0;
  ialsym(1, 1, nbsym);
  ialorg(1, 1.0f, 2.0f, 3.0f);
  iwrhdr(1, "x", 0, 0.0f, 0.0f, 0.0f);
  iwrlin(1, std::vector<float>{1.0f});
  imclose(1);
  open_and_read(1, "sym.map");
  imopen(2, "copy.map", "NEW");
  itrhdr(2, 1);
  std::int32_t ispg = -1;
  irtsym(2, ispg, nbsym);
  EXPECT_EQ(ispg, 0);
  EXPECT_EQ(nbsym, 0);
  iwrhdr(2, "", -1, 0.0f, 0.0f, 0.0f);
  iwrlin(2, std::vector<float>{1.0f});
  imclose(2);
  const std::string f = read("copy.map");
  EXPECT_EQ(f.size(), 1028u);
  EXPECT_EQ(le_i32(f, 28), 4);
  EXPECT_EQ(le_f32(f, 204), 3.0f);
  EXPECT_EQ(f.substr(224, 80), padded("x", 80));
}

TEST_F(ImageTest, UnknownStatusRefusesReads) {
  auto r = in_child([] {
    imopen(1, "u.map", "UNKNOWN");
    Int3 n{}, m{};
    std::int32_t mode = 0;
    float a = 0, b = 0, c = 0;
    irdhdr(1, n, m, mode, a, b, c);
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("\n!!! Warning - file : u.map has UNKNOWN status !!!\n\n"), std::string::npos);
  EXPECT_NE(r.out.find("\n!!! Fatal error - attempted UNKNOWN status file read !!!\n"), std::string::npos);
  // The file this failed run created is removed with it.
  EXPECT_FALSE(std::filesystem::exists("u.map"));
}

TEST_F(ImageTest, NewRefusesExistingImageUnlessImageOpenUnknown) {
  write("e.map", "data");
  auto r = in_child([] { imopen(1, "e.map", "NEW"); });
  EXPECT_EQ(r.status, 1);
  // The first message of the run only sets the print level; standard error still has it.
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, " imagetest:   (Q)QOPEN NEW file already exists: e.map\n");
  EXPECT_EQ(read("e.map"), "data");
  ::setenv("IMAGE_OPEN", "UNKNOWN", 1);
  imopen(1, "e.map", "NEW");
  imclose(1);
  EXPECT_EQ(read("e.map"), "");
}

TEST_F(ImageTest, TruncatedHeadersStop) {
  write("empty.map", "");
  auto r = in_child([] { open_and_read(1, "empty.map"); });
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find(" IRDHDR: End-of-File error !!!\n"), std::string::npos);
  EXPECT_EQ(r.err, "Error\nimagetest: empty.map: IRDHDR: End-of-File error !!!\n");
  write("short.map", MapBytes().standard(1, 1, 1, 2).str().substr(0, 500));
  auto s = in_child([] { open_and_read(1, "short.map"); });
  EXPECT_EQ(s.status, 1);
  EXPECT_NE(s.out.find(" IRDHDR: End-of-File error !!!\n"), std::string::npos);
  write("mode9.map", MapBytes().standard(1, 1, 1, 9).str());
  auto m = in_child([] { open_and_read(1, "mode9.map"); });
  EXPECT_EQ(m.status, 1);
  EXPECT_NE(m.out.find(" IRDHDR: map mode 9 is not supported (0-4)\n"), std::string::npos);
}

TEST_F(ImageTest, ArraysTooSmallAreRefused) {
  write_map("p.map", {4, 1, 1}, 2, {1, 2, 3, 4});
  auto r = in_child([] {
    open_and_read(1, "p.map");
    std::vector<float> small(3);
    (void)irdlin(1, small);
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find(" IRDLIN: array of 3 numbers is too small for 4\n"), std::string::npos);
}

TEST_F(ImageTest, SettersGettersAndTheirStops) {
  imopen(1, "s.map", "SCRATCH");
  icrhdr(1, {2, 3, 4}, {5, 6, 7}, 1, {}, 0);
  std::vector<std::int32_t> extra{11, 12, 13};
  ialext(1, extra, 23, 3);
  std::vector<std::int32_t> back(5, 0);
  irtext(1, back, 22, 5);  // at most 26 - 22 words
  EXPECT_EQ(back, (std::vector<std::int32_t>{0, 11, 12, 13, 0}));
  ialcel(1, {1, 2, 3, 60, 70, 80});
  std::array<float, 6> cell{};
  irtcel(1, cell);
  EXPECT_EQ(cell[4], 70.0f);
  ialsiz(1, {8, 9, 10}, {-1, -2, -3});
  Int3 n{}, m{}, st{};
  irtsiz(1, n, m, st);
  EXPECT_EQ(n, (Int3{8, 9, 10}));
  EXPECT_EQ(m, (Int3{5, 6, 7}));
  EXPECT_EQ(st, (Int3{-1, -2, -3}));
  ialuvw(1, {3, 1, 2});
  irtuvw(1, n);
  EXPECT_EQ(n, (Int3{3, 1, 2}));

  auto a = in_child([] {
    imopen(1, "s.map", "SCRATCH");
    ialext(1, std::vector<std::int32_t>{1, 2}, 25, 2);
  });
  EXPECT_EQ(a.status, 1);
  EXPECT_EQ(a.err,
            "IALEXT: Attempt to write out of bounds\nimagetest: s.map: IALEXT: Attempt to write out of bounds\n");
  auto b = in_child([] {
    imopen(1, "s.map", "SCRATCH");
    std::vector<std::int32_t> x(1);
    irtext(1, x, 26, 1);
  });
  EXPECT_EQ(b.err, "IRTEXT: Error in start number\nimagetest: s.map: IRTEXT: Error in start number\n");
  auto c = in_child([] {
    imopen(1, "s.map", "SCRATCH");
    std::int32_t nb = 0;
    ialsym(1, 2, nb);
  });
  EXPECT_EQ(c.err, " IMAGE spacegroup must be 0 or 1\nimagetest: s.map: IMAGE spacegroup must be 0 or 1\n");
}

TEST_F(ImageTest, DensityHelpers) {
  // A 3 by 2 array; the area is columns 2..3 of both lines.
  const std::vector<float> a{100, 1, 2, -100, 3, 6};
  float dmin = 0, dmax = 0, dmean = 0;
  iclden(a, 3, 2, 2, 3, 1, 2, dmin, dmax, dmean);
  EXPECT_EQ(dmin, 1.0f);
  EXPECT_EQ(dmax, 6.0f);
  EXPECT_EQ(dmean, 3.0f);
  const std::vector<float> c{3, 4, 0, 1};  // moduli 5 and 1
  iclcdn(c, 2, 1, 1, 2, 1, 1, dmin, dmax, dmean);
  EXPECT_EQ(dmin, 1.0f);
  EXPECT_EQ(dmax, 5.0f);
  EXPECT_EQ(dmean, 3.0f);
}

}  // namespace
