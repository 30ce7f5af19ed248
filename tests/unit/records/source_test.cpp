#include <gtest/gtest.h>

#include <sstream>

#include "records/error.hpp"
#include "records/free.hpp"
#include "records/source.hpp"
#include "runprog.hpp"

using records::FreeRecord;
using records::LineSource;
using records::ReadError;

TEST(Record, ColumnsOfAShortRecordReadAsBlanks) {
  std::istringstream in("  1.5\n");
  LineSource src(in, "standard input");
  records::Record r = *src.next();
  EXPECT_EQ(r.columns(1, 8), "  1.5   ");
  EXPECT_EQ(r.columns(20, 3), "   ");
  EXPECT_EQ(r.real(1, 10, 3), 1.5f);
  EXPECT_EQ(r.real(11, 10, 3), 0.0f);
  EXPECT_EQ(r.integer(30, 5), 0);
}

TEST(Record, BadFieldNamesSourceLineAndColumns) {
  std::istringstream in("ok\n           1.2.3\n");
  LineSource src(in, "standard input");
  src.next();
  records::Record r = *src.next();
  try {
    r.real(11, 10, 3);
    FAIL();
  } catch (const ReadError& e) {
    EXPECT_STREQ(e.what(), "standard input, line 2, columns 11-20: \" 1.2.3    \" is not a number");
    EXPECT_EQ(e.line(), 2);
  }
}

TEST(LineSource, LinesEndOfFileCarriageReturnsAndRewind) {
  testsupport::TempDir dir;
  dir.write("f.dat", "one\r\ntwo\nthree");
  LineSource src = LineSource::open_file((dir / "f.dat").string());
  EXPECT_EQ(src.next()->text(), "one");
  EXPECT_EQ(src.next()->text(), "two");
  records::Record third = *src.next();
  EXPECT_EQ(third.text(), "three");
  EXPECT_EQ(third.line(), 3);
  EXPECT_FALSE(src.next().has_value());
  try {
    src.expect("a label record");
    FAIL();
  } catch (const ReadError& e) {
    EXPECT_EQ(std::string(e.what()), (dir / "f.dat").string() + ", line 4: end of file: a label record expected");
  }
  src.rewind();
  EXPECT_EQ(src.next()->text(), "one");
  EXPECT_EQ(src.line(), 1);
}

TEST(LineSource, MissingFileNamesTheReason) {
  try {
    LineSource::open_file("/nonexistent/ref.dat");
    FAIL();
  } catch (const ReadError& e) {
    EXPECT_STREQ(e.what(), "/nonexistent/ref.dat: cannot open (No such file or directory)");
  }
}

TEST(FreeRecord, ValuesContinueOverLinesAndTheRestOfTheLastLineIsSkipped) {
  std::istringstream in("1 2\n\n  3,4   5 6 ignored\n7\n");
  LineSource src(in, "ctl");
  {
    FreeRecord rec(src);
    EXPECT_EQ(rec.integers(5, "a weight"), (std::vector<std::int32_t>{1, 2, 3, 4, 5}));
  }
  FreeRecord next(src);
  EXPECT_EQ(next.real("x"), 7.0f);
}

TEST(FreeRecord, SeparatorsRepeatsAndQuotes) {
  std::istringstream in("1.5, 2 ,3\n3*0.5 'a b' \"it\"\"s\" word\n");
  LineSource src(in, "ctl");
  FreeRecord a(src);
  EXPECT_EQ(a.reals(3, "v"), (std::vector<float>{1.5f, 2.0f, 3.0f}));
  FreeRecord b(src);
  EXPECT_EQ(b.reals(3, "v"), (std::vector<float>{0.5f, 0.5f, 0.5f}));
  EXPECT_EQ(b.text("t"), "a b");
  EXPECT_EQ(b.text("t"), "it\"s");
  EXPECT_EQ(b.text("t"), "word");
}

TEST(FreeRecord, ErrorsNameTheValue) {
  std::istringstream in("40 x\n");
  LineSource src(in, "ctl.dat");
  FreeRecord rec(src);
  EXPECT_EQ(rec.integer("llmax"), 40);
  try {
    rec.real("the first weight");
    FAIL();
  } catch (const ReadError& e) {
    EXPECT_STREQ(e.what(), "ctl.dat, line 1, column 4: \"x\" is not a number (the first weight)");
  }
  std::istringstream in2("1\n");
  LineSource src2(in2, "ctl.dat");
  FreeRecord rec2(src2);
  rec2.real("a");
  try {
    rec2.real("dphi");
    FAIL();
  } catch (const ReadError& e) {
    EXPECT_STREQ(e.what(), "ctl.dat, line 2: end of file: dphi expected");
  }
}
