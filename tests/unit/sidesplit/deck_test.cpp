// Reading and checking the deck.
#include "sidesplit/deck.hpp"

#include <gtest/gtest.h>

#include <sstream>

#include "records/error.hpp"

namespace {

using sidesplit::Deck;

struct Read {
  Deck deck;
  std::string echo;
};

Read read(const std::string& text, std::int32_t ny = 64) {
  std::istringstream in(text);
  records::LineSource src(in, "sidesplit.dek");
  std::ostringstream out;
  Read r{sidesplit::read_deck(src, out, ny), ""};
  r.echo = out.str();
  return r;
}

// The message of the ReadError that reading text throws, or "" when it reads.
std::string refusal(const std::string& text, std::int32_t ny = 64) {
  try {
    read(text, ny);
  } catch (const records::ReadError& e) {
    return e.what();
  }
  return "";
}

const std::string title = "Test particle 17, near and far sides....and more past column 40\n";
const std::string rec2 = "3 4.5 1.25 -0.5 0.0025 1.5 -2 0 1\n";

TEST(Deck, RecordsInOrderWithTheEcho) {
  const Read r = read(title + rec2 +
                      "-0.05, 0.05, 1, 0, 2, 1\n"
                      "0.001 2\n"
                      "0.01\n0.02 this rest of the line is skipped\n"
                      "0 0 0.0\n1 2 3 4\n"
                      "1 -3 2.5\n 0 5\n 0 6\n"
                      "2 0 5\n1 3 2 4\n");
  const Deck& d = r.deck;
  EXPECT_EQ(d.title, "Test particle 17, near and far sides....");
  EXPECT_EQ(d.lltot, 3);
  EXPECT_EQ(d.sampl, 4.5f);
  EXPECT_EQ(d.delr, 0.0025f);
  EXPECT_EQ(d.shear, -2.0f);
  EXPECT_EQ(d.yfact, 1.0f);
  EXPECT_EQ(d.rmin, -0.05f);
  EXPECT_EQ(d.idump, 1);
  EXPECT_EQ(d.iywidth, 2);
  EXPECT_EQ(d.iphase, 1);
  EXPECT_EQ(d.izeros, 2);
  EXPECT_EQ(d.zeroarray, (std::vector<float>{0.01f, 0.02f}));
  // -0.05/0.0025 and 0.05/0.0025 truncated towards zero in single precision
  EXPECT_EQ(d.grid.n1, static_cast<std::int32_t>(-0.05f / 0.0025f));
  EXPECT_EQ(d.grid.n2, static_cast<std::int32_t>(0.05f / 0.0025f));
  EXPECT_EQ(d.grid.npts, d.grid.n2 - d.grid.n1 + 1);
  ASSERT_EQ(d.lines.size(), 3u);
  EXPECT_EQ(d.lines[0].llno, 0);
  EXPECT_EQ(d.lines[0].nr2, 4);
  EXPECT_EQ(d.lines[1].nord, -3);
  EXPECT_EQ(d.lines[1].ysp, 2.5f);
  EXPECT_EQ(d.lines[1].nl1, 0);
  EXPECT_EQ(d.lines[1].nl2, 5);
  EXPECT_EQ(d.lines[1].nr1, 0);
  EXPECT_EQ(d.lines[1].nr2, 6);  // 6b may run over lines like every free-format record
  EXPECT_EQ(d.lines[2].ysp, 5.0f);
  EXPECT_EQ(d.lines[2].nl1, 1);
  EXPECT_EQ(d.lines[2].nr2, 4);
  EXPECT_EQ(r.echo,
            " Total no of layer lines          3\n"
            " Real space sample size        4.50 Angstroms\n"
            " X phase origin shift          1.25 steps\n"
            " Y phase origin shift         -0.50 steps\n"
            " Layer line sampling       0.002500 rec. Angstroms\n"
            " Rotation angle                1.50 degrees\n"
            " Shear angle                  -2.00 degrees\n"
            " Tilt angle                    0.00 degrees\n"
            " Scale factor (yfact)          1.00\n");
}

TEST(Deck, RecordFiveTakesALineWithoutZerosAndRecordsSixBOnlyWhenDumping) {
  // izeros = 0: the empty line is record 5; idump = 0: no records 6b.
  const Read r = read(title + "2 4.5 0 0 0.0025 0 0 0 1\n-0.05 0.05 0 1 0 0\n0.001 0\n\n1 1 3.0\n2 -1 4.5\n");
  ASSERT_EQ(r.deck.lines.size(), 2u);
  EXPECT_TRUE(r.deck.zeroarray.empty());
  EXPECT_EQ(r.deck.lines[1].llno, 2);
  EXPECT_EQ(r.deck.lines[1].ysp, 4.5f);
  // Without the empty line, the first 6a record would be taken for record 5 and the deck ends
  // one record early.
  {
    const std::string msg =
        refusal(title + "2 4.5 0 0 0.0025 0 0 0 1\n-0.05 0.05 0 1 0 0\n0.001 0\n1 1 3.0\n2 -1 4.5\n");
    EXPECT_NE(msg.find("sidesplit.dek, line 7: end of file: llno (record 6a) expected"), std::string::npos) << msg;
  }
  // More than ten CTF zeros are taken as they come.
  const Read many = read(title + "0 4.5 0 0 0.0025 0 0 0 1\n0 0.05 0 1 0 0\n0.001 12\n1 2 3 4 5 6 7 8 9 10 11 12\n");
  EXPECT_EQ(many.deck.zeroarray.size(), 12u);
}

TEST(Deck, ShortDecksAndBadFieldsAreRefusedWithTheirPlace) {
  EXPECT_NE(refusal("").find("sidesplit.dek, line 1: end of file: the title (record 1) expected"), std::string::npos);
  EXPECT_NE(refusal(title + "3 4.5 1.25\n").find("line 3: end of file: yshft (record 2) expected"), std::string::npos);
  EXPECT_NE(refusal(title + rec2 + "0 0.05 1 0 2 1\n0.001 0\n").find("end of file: the CTF zeros (record 5"),
            std::string::npos);
  EXPECT_NE(refusal(title + rec2 + "0 0.05 1 0 2 1\n0.001 1\n\n").find("end of file: a CTF zero (record 5)"),
            std::string::npos);
  // Three layer lines announced, the third missing its 6b record.
  EXPECT_NE(refusal(title + rec2 + "0 0.05 1 0 2 1\n0 0\n\n0 0 0\n0 0 0 5\n1 1 1\n1 0 0 5\n2 2 2\n")
                .find("line 11: end of file: nl1 (record 6b) expected"),
            std::string::npos);
  EXPECT_NE(refusal(title + "3 4.5 1.2.5 0 0 0 0 0 0\n").find("line 2, columns 7-11: \"1.2.5\" is not a number"),
            std::string::npos);
}

TEST(Deck, ValuesTheRunCannotUseAreRefused) {
  const std::string head = title + "1 4.5 0 0 0.0025 0 0 0 1\n";
  auto tail = [](const std::string& r6b) { return std::string("0.001 0\n\n4 1 2.0\n") + r6b; };
  // Index ranges of 6b must lie within rmin/delr .. rmax/delr (here -20 .. 20).
  const std::string rec3 = "-0.05 0.05 1 0 2 1\n";
  EXPECT_EQ(refusal(head + rec3 + tail("1 20 0 20\n")), "");
  std::string msg = refusal(head + rec3 + tail("1 21 0 20\n"));
  EXPECT_NE(msg.find("sidesplit.dek, line 7: layer line 4 (entry 1 of the deck): the negative-R range nl1 = 1 to "
                     "nl2 = 21 reaches R index -21, but the sampled R indices run from -20 to 20"),
            std::string::npos)
      << msg;
  msg = refusal(head + rec3 + tail("1 20 -21 3\n"));
  EXPECT_NE(msg.find("the positive-R range nr1 = -21 to nr2 = 3 reaches R index -21"), std::string::npos) << msg;
  // An empty range writes nothing and needs no check.
  EXPECT_EQ(refusal(head + rec3 + tail("50 49 30 29\n")), "");
  // No samples at all: only empty ranges can be written.
  msg = refusal(head + "0.05 -0.05 1 0 2 1\n" + tail("0 0 0 -1\n"));
  EXPECT_NE(msg.find("no radial samples are taken"), std::string::npos) << msg;

  msg = refusal(title + "1 4.5 0 0 0 0 0 0 1\n-0.05 0.05 1 0 2 1\n");
  EXPECT_NE(msg.find("line 3: delr = 0: the radial sampling step must not be zero"), std::string::npos) << msg;
  msg = refusal(title + "1 0 0 0 0.0025 0 0 0 1\n");
  EXPECT_NE(msg.find("line 2: sampl = 0.0: the real-space pixel size must be positive"), std::string::npos) << msg;
  msg = refusal(head + "-10000 10000 1 0 2 1\n");
  EXPECT_NE(msg.find("radial samples per layer line, at most 1048576 are supported"), std::string::npos) << msg;
  msg = refusal(head + "-1e30 10 1 0 2 1\n");
  EXPECT_NE(msg.find("is not a usable radial sample index"), std::string::npos) << msg;
  msg = refusal(head + "-0.05 0.05 1 0 65 1\n", 64);
  EXPECT_NE(msg.find("iywidth = 65: the band is wider than the 64 rows of the transform"), std::string::npos) << msg;
  msg = refusal(head + rec3 + "0.001 -1\n");
  EXPECT_NE(msg.find("line 4: izeros = -1: the number of CTF zeros cannot be negative"), std::string::npos) << msg;
}

}  // namespace
