// Writing layer lines to the near-side and far-side files.
#include "sidesplit/writer.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using sidesplit::Deck;
using sidesplit::LayerLineEntry;
using sidesplit::LayerLineSamples;

// Five samples at R = -0.25, -0.125, 0, 0.125, 0.25 with amplitudes 1..5 and phases 10..50.
LayerLineSamples five() {
  return LayerLineSamples{{-0.25f, -0.125f, 0.0f, 0.125f, 0.25f}, {1, 2, 3, 4, 5}, {10, 20, 30, 40, 50}};
}

Deck deck_with(std::int32_t merid) {
  Deck d;
  d.title = "WRITER TEST";
  d.sampl = 0.5f;
  d.delr = 0.125f;
  d.merid = merid;
  d.grid = sidesplit::RadialGrid{-2, 2, 5};
  return d;
}

LayerLineEntry entry(std::int32_t llno, std::int32_t nord, float ysp, std::int32_t nl1, std::int32_t nl2,
                     std::int32_t nr1, std::int32_t nr2) {
  LayerLineEntry e;
  e.llno = llno;
  e.nord = nord;
  e.ysp = ysp;
  e.nl1 = nl1;
  e.nl2 = nl2;
  e.nr1 = nr1;
  e.nr2 = nr2;
  return e;
}

struct Files {
  std::string near;
  std::string far;
};

Files write(const Deck& d, const LayerLineEntry& e, LayerLineSamples& s, std::int32_t my = 8) {
  Files f;
  sidesplit::write_layer_line(f.near, f.far, d, e, my, s);
  return f;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) v.push_back(l);
  return v;
}

const std::string title40 = "WRITER TEST" + std::string(29, ' ');
const std::string terminator = " 0.000E+00 0.000E+00 0.000E+00";

TEST(Writer, NegativeOrderSwapsTheHalvesUnderUnchangedSideLabels) {
  LayerLineSamples s = five();
  const Files f = write(deck_with(0), entry(2, -3, 2.5f, 1, 2, 0, 2), s);
  EXPECT_EQ(f.near, " " + title40 + "LL  2 NEAR     2.500\n" +
                        "     1.000   -3    2\n"
                        " 0.000E+00 0.300E+01 0.300E+02\n"
                        " 0.125E+00 0.400E+01 0.400E+02\n"
                        " 0.250E+00 0.500E+01 0.500E+02\n" +
                        terminator + "\n");
  EXPECT_EQ(f.far, " " + title40 + "LL  2 FAR      2.500\n" +
                       "     1.000   -3    2\n"
                       " 0.125E+00 0.200E+01 0.200E+02\n"
                       " 0.250E+00 0.100E+01 0.100E+02\n" +
                       terminator + "\n");
  // A positive order keeps the negative-R half on the near side.
  const Files g = write(deck_with(0), entry(2, 3, 2.5f, 1, 2, 0, 2), s);
  EXPECT_EQ(lines(g.near)[2], " 0.125E+00 0.200E+01 0.200E+02");
  EXPECT_EQ(lines(g.far)[2], " 0.000E+00 0.300E+01 0.300E+02");
  EXPECT_EQ(lines(g.near)[0].substr(47, 4), "NEAR");
}

TEST(Writer, MeridionalLayerLinesAndTheEquator) {
  LayerLineSamples s = five();
  // merid = 0: each file gets the layer line twice at half weight, first its usual half.
  Files f = write(deck_with(0), entry(4, 0, 4.0f, 0, 1, 1, 2), s);
  const std::string near_block1 = " " + title40 + "LL  4 NEAR     4.000\n     0.500    0    4\n" +
                                  " 0.000E+00 0.300E+01 0.300E+02\n 0.125E+00 0.200E+01 0.200E+02\n" + terminator +
                                  "\n";
  const std::string near_block2 = " " + title40 + "LL  4 NEAR     4.000\n     0.500    0    4\n" +
                                  " 0.125E+00 0.400E+01 0.400E+02\n 0.250E+00 0.500E+01 0.500E+02\n" + terminator +
                                  "\n";
  EXPECT_EQ(f.near, near_block1 + near_block2);
  const std::vector<std::string> far = lines(f.far);
  ASSERT_EQ(far.size(), 10u);
  EXPECT_EQ(far[0], " " + title40 + "LL  4 FAR      4.000");
  EXPECT_EQ(far[1], "     0.500    0    4");
  EXPECT_EQ(far[2], " 0.125E+00 0.400E+01 0.400E+02");
  EXPECT_EQ(far[5], far[0]);
  EXPECT_EQ(far[6], far[1]);
  EXPECT_EQ(far[7], " 0.000E+00 0.300E+01 0.300E+02");
  EXPECT_EQ(far[9], terminator);

  // merid = 1: once, full weight.
  f = write(deck_with(1), entry(4, 0, 4.0f, 0, 1, 1, 2), s);
  EXPECT_EQ(lines(f.near).size(), 5u);
  EXPECT_EQ(lines(f.near)[1], "     1.000    0    4");
  EXPECT_EQ(lines(f.far).size(), 5u);

  // The equator is written once, full weight, whatever merid says.
  f = write(deck_with(0), entry(0, 0, 0.0f, 0, 1, 1, 2), s);
  EXPECT_EQ(lines(f.near).size(), 5u);
  EXPECT_EQ(lines(f.near)[0], " " + title40 + "LL  0 NEAR     0.000");
  EXPECT_EQ(lines(f.near)[1], "     1.000    0    0");
  EXPECT_EQ(lines(f.far).size(), 5u);
}

TEST(Writer, EmptyAndSignedRanges) {
  LayerLineSamples s = five();
  // nl2 < nl1: the header, then the terminator at once.
  Files f = write(deck_with(0), entry(1, 1, 1.0f, 2, 1, 0, 0), s);
  EXPECT_EQ(lines(f.near),
            (std::vector<std::string>{" " + title40 + "LL  1 NEAR     1.000", "     1.000    1    1", terminator}));
  EXPECT_EQ(lines(f.far).size(), 4u);
  // A positive-R range that starts below zero writes negative R as it is; the negative-R half
  // starting above zero writes |R|.
  f = write(deck_with(0), entry(1, 1, 1.0f, -1, 0, -1, 0), s);
  EXPECT_EQ(lines(f.far)[2], "-0.125E+00 0.200E+01 0.200E+02");
  EXPECT_EQ(lines(f.far)[3], " 0.000E+00 0.300E+01 0.300E+02");
  EXPECT_EQ(lines(f.near)[2], " 0.125E+00 0.400E+01 0.400E+02");
  EXPECT_EQ(lines(f.near)[3], " 0.000E+00 0.300E+01 0.300E+02");
}

TEST(Writer, SamplesNearACtfZeroAreFlagged) {
  // ysp = 0: the frequency is |R|. The band 0.25 +- 0.125 takes |R| = 0.125 and 0.25, both ends
  // included; R = 0 stays.
  Deck d = deck_with(1);
  d.zeroarray = {0.25f};
  d.exclusion = 0.125f;
  LayerLineSamples s = five();
  Files f = write(d, entry(0, 0, 0.0f, 0, 2, 0, 2), s);
  EXPECT_EQ(lines(f.near)[2], " 0.000E+00 0.300E+01 0.300E+02");
  EXPECT_EQ(lines(f.near)[3], " 0.125E+00-0.999E+03 0.200E+02");
  EXPECT_EQ(lines(f.near)[4], " 0.250E+00-0.999E+03 0.100E+02");
  EXPECT_EQ(lines(f.far)[3], " 0.125E+00-0.999E+03 0.400E+02");
  // The flag is stored in the samples themselves.
  EXPECT_EQ(s.arrf, (std::vector<float>{-999.0f, -999.0f, 3.0f, -999.0f, -999.0f}));

  // A narrower band misses 0.125.
  d.exclusion = 0.1f;
  s = five();
  f = write(d, entry(0, 0, 0.0f, 0, 2, 0, 2), s);
  EXPECT_EQ(s.arrf, (std::vector<float>{-999.0f, 2.0f, 3.0f, 4.0f, -999.0f}));

  // The height counts: ysp = 2 rows of 1/(my*sampl) = 1/4 is a frequency of 0.5 at R = 0.
  d.zeroarray = {0.7f, 0.5f};
  d.exclusion = 0.0f;
  s = five();
  f = write(d, entry(3, 1, 2.0f, 0, 2, 0, 2), s, 8);
  EXPECT_EQ(s.arrf, (std::vector<float>{1.0f, 2.0f, -999.0f, 4.0f, 5.0f}));
  // Nothing written, nothing flagged: the flag follows the writing.
  s = five();
  f = write(d, entry(3, 1, 2.0f, 1, 0, 1, 0), s, 8);
  EXPECT_EQ(s.arrf[2], 3.0f);
}

}  // namespace
