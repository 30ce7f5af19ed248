// The disk layer: logical names, statuses, addressing, conversion, its fatal paths.
#include "imagefile/diskio.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "fixture.hpp"
#include "imagefile/environment.hpp"
#include "imagefile/header.hpp"

namespace {

using imagetest::in_child;
using DiskTest = imagetest::ImageFileTest;
using namespace imagefile;

TEST_F(DiskTest, LogicalNamesBindThroughTheEnvironment) {
  write("IN", "abcd");
  int unit = qopen("IN", "RO");
  std::string name;
  std::int64_t length = 0;
  qqinq(unit, "IN", name, length);
  EXPECT_EQ(name, "IN");
  EXPECT_EQ(length, 4);
  qclose(unit);

  write("elsewhere.map", "abcdefgh");
  ::setenv("IN", path("elsewhere.map").c_str(), 1);
  unit = qopen("IN", "readonly");
  int other = 0;  // not open: found by its file name
  qqinq(other, "IN", name, length);
  EXPECT_EQ(other, unit);
  EXPECT_EQ(name, path("elsewhere.map"));
  EXPECT_EQ(length, 8);
  qclose(unit);
  other = 0;
  qqinq(other, "IN", name, length);
  EXPECT_EQ(length, -1);

  const int blank = qopen("   ", "NEW");
  qclose(blank);
  EXPECT_TRUE(std::filesystem::exists(path("diskio.dft")));
}

TEST_F(DiskTest, OpenReportLinesAndDevNullBecomesUnknown) {
  ::setenv("USER", "tester", 1);
  ::setenv("OUT", "/dev/null", 1);
  qopen("first", "SCRATCH");  // its first line only sets the print level
  report();
  const int unit = qopen("OUT", "NEW");
  EXPECT_EQ(unit, 2);
  EXPECT_EQ(report(),
            "  (Q)QOPEN allocated #  2\n User:   tester               Logical Name: OUT\n"
            " Status: UNKNOWN    Filename: /dev/null\n");
}

TEST_F(DiskTest, ScratchFilesLeaveNoName) {
  const int unit = qopen("SCRATCH", "SCRATCH");
  EXPECT_FALSE(std::filesystem::exists(path("SCRATCH")));
  qmode(unit, 0);
  qwritc(unit, "hello");
  qseek(unit, 1, 2, 1);
  std::string got(3, ' ');
  EXPECT_EQ(qreadc(unit, got), 0);
  EXPECT_EQ(got, "ell");
  qclose(unit);
}

TEST_F(DiskTest, AddressingInItemsAndRecords) {
  write("f", std::string(8192, 'x'));
  const int unit = qopen("f", "OLD");
  EXPECT_EQ(qmode(unit, 0), 1);
  qseek(unit, 2, 1, 1024);
  EXPECT_EQ(qlocate(unit), 1024);
  EXPECT_EQ(qmode(unit, 2), 4);
  qseek(unit, 2, 1, 1024);
  EXPECT_EQ(qlocate(unit), 1024);  // item 1024 of 4 bytes: byte 4096
  qmode(unit, 0);
  EXPECT_EQ(qlocate(unit), 4096);
  qskip(unit, 10);
  qback(unit, 4);
  EXPECT_EQ(qlocate(unit), 4102);
  EXPECT_EQ(qmode(unit, 4), 8);
  EXPECT_EQ(qmode(unit, 6), 4);
  EXPECT_EQ(qmode(unit, 1), 2);
  EXPECT_EQ(qmode(unit, 3), 4);
  qclose(unit);
  EXPECT_EQ(qlocate(unit), -1);
}

TEST_F(DiskTest, WritesThenReadsOnOneStreamAndShortReads) {
  const int unit = qopen("f", "NEW");
  qmode(unit, 6);
  const std::int32_t values[4] = {1, -2, 3, 70000};
  qwrite(unit, values, 4);
  qseek(unit, 1, 2, 1);
  std::int32_t back[10] = {};
  EXPECT_EQ(qread(unit, back, 2), 0);
  EXPECT_EQ(back[0], -2);
  EXPECT_EQ(back[1], 3);
  qwrite(unit, values, 1);  // changes direction after a read
  qseek(unit, 1, 1, 1);
  EXPECT_EQ(qread(unit, back, 10), -1);
  EXPECT_EQ(back[0], 1);
  EXPECT_EQ(back[3], 1);
  EXPECT_EQ(read("f").size(), 16u);
  qclose(unit);
}

TEST_F(DiskTest, BigEndianStampConvertsEveryNumberType) {
  // Stamp at word 54 (byte 212), then a 16-bit value, a 32-bit integer, a real.
  std::string bytes(212, '\0');
  bytes += std::string("\x11\x11\0\0", 4);
  bytes += std::string("\x01\x02", 2);
  bytes += std::string("\x00\x01\x00\x02", 4);
  bytes += std::string("\x3f\xc0\x00\x00", 4);  // 1.5
  write("be", bytes);
  const int unit = qopen("be", "RO");
  EXPECT_EQ(qrarch(unit, 53), 0x11);
  qmode(unit, 1);
  qseek(unit, 1, 109, 1);
  std::uint16_t v16 = 0;
  ASSERT_EQ(qread(unit, &v16, 1), 0);
  EXPECT_EQ(v16, 0x0102);  // bytes 01 02 read as big-endian
  qmode(unit, 6);          // now at byte 218
  std::int32_t v32 = 0;
  ASSERT_EQ(qread(unit, &v32, 1), 0);
  EXPECT_EQ(v32, 0x00010002);
  qmode(unit, 2);
  float r = 0.0f;
  ASSERT_EQ(qread(unit, &r, 1), 0);
  EXPECT_EQ(r, 1.5f);
  qclose(unit);
}

TEST_F(DiskTest, StampOverridesAndForeignRealFormats) {
  // VAX F 1.0 is 0x4080 0x0000 as 16-bit words, stored low byte first: 80 40 00 00;
  // -0.75 is sign, exponent 128, fraction 0.1 -> words 0xC040 0x0000: 40 C0 00 00.
  std::string bytes(212, '\0');
  bytes += std::string("\x22\x41\0\0", 4);
  bytes += std::string("\x80\x40\x00\x00\x40\xc0\x00\x00", 8);
  write("vax", bytes);
  int unit = qopen("vax", "RO");
  EXPECT_EQ(qrarch(unit, 53), 0x42);
  float r[2] = {};
  ASSERT_EQ(qread(unit, r, 2), 0);
  EXPECT_EQ(r[0], 1.0f);
  EXPECT_EQ(r[1], -0.75f);
  qclose(unit);

  // Convex native: the same layout in big-endian order.
  ::setenv("CONVERT_FROM", "CONVEXNATIVE", 1);
  write("cvx", std::string("\x40\x80\x00\x00", 4));
  unit = qopen("cvx", "RO");
  EXPECT_EQ(qrarch(unit, 53), 0x15);
  ASSERT_EQ(qread(unit, r, 1), 0);
  EXPECT_EQ(r[0], 1.0f);
  qclose(unit);

  ::setenv("NATIVEMAP", "1", 1);
  unit = qopen("vax", "RO");
  EXPECT_EQ(qrarch(unit, 53), 0);
  qseek(unit, 1, 55, 1);
  ASSERT_EQ(qread(unit, r, 1), 0);
  const float unconverted[1] = {r[0]};
  EXPECT_EQ(std::memcmp(unconverted, "\x80\x40\x00\x00", 4), 0);
  qclose(unit);
}

TEST_F(DiskTest, NewRefusesAnExistingFileUnlessImageOpenIsUnknown) {
  write("old.map", "keep me");
  auto r = in_child([] {
    qopen("first", "SCRATCH");
    qopen("old.map", "NEW");
  });
  EXPECT_EQ(r.status, 1);
  // The first open's own lines: the first one only set the print level.
  EXPECT_EQ(r.out, " User:   " + padded(ugtuid(), 20) +
                       " Logical Name: first\n Status: SCRATCH    Filename: first\n"
                       " imagetest:   (Q)QOPEN NEW file already exists: old.map\n");
  EXPECT_EQ(r.err, " imagetest:   (Q)QOPEN NEW file already exists: old.map\n");
  EXPECT_EQ(read("old.map"), "keep me");

  ::setenv("IMAGE_OPEN", "unknown", 1);
  const int unit = qopen("old.map", "NEW");
  qclose(unit);
  EXPECT_EQ(read("old.map"), "");
}

TEST_F(DiskTest, MissingReadOnlyFileIsFatal) {
  auto r = in_child([] {
    qopen("first", "SCRATCH");
    qopen("absent.map", "RO");
  });
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out.substr(r.out.find(" Last")), std::string(" Last system error message:\n ") + std::strerror(ENOENT) +
                                                   "\n imagetest:  (Q)QOPEN: can't open absent.map\n");
}

TEST_F(DiskTest, TenthStreamAndBadAttributeFailAtLevelOne) {
  auto r = in_child([] {
    for (int i = 1; i <= 9; ++i) qopen("s" + std::to_string(i), "SCRATCH");
    report_stream() << "nine open\n";
    qopen("s10", "SCRATCH");
  });
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.substr(r.out.find("nine open\n")), "nine open\n imagetest:   (Q)QOPEN failed - no streams left\n");
  auto bad = in_child([] { qopen("x", "xyz"); });
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.err, " imagetest:  Bad attribute in QOPEN: XYZ\n");
  auto mode = in_child([] { qqopen("x", 7); });
  EXPECT_EQ(mode.status, 1);
  EXPECT_EQ(mode.err, " imagetest:   (Q)QOPEN: bad mode:  7\n");
}

TEST_F(DiskTest, RoutinesBeforeTheFirstOpenAndBadModesAreFatal) {
  auto r = in_child([] { qseek(1, 1, 1, 1); });
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "");  // the first level-0 message only sets the print level
  auto shown = in_child([] {
    qprint(1, "");
    qclose(3);
  });
  EXPECT_EQ(shown.out, " imagetest:  QCLOSE: qopen/qqopen not yet called\n");
  auto mode = in_child([] {
    const int unit = qopen("x", "SCRATCH");
    qmode(unit, 5);
  });
  EXPECT_EQ(mode.status, 255);
  EXPECT_EQ(mode.out.substr(mode.out.rfind(" imagetest")), " imagetest:  QMODE: bad mode\n");
}

}  // namespace
