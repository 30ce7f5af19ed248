#include <gtest/gtest.h>

#include <sstream>

#include "layerline/listing.hpp"
#include "layerline/pointlist.hpp"
#include "records/error.hpp"

using namespace layerline;
using records::LineSource;

namespace {

const char* const kParam = "     1.000   -3    2";

std::vector<PointRead> all_points(const std::string& text, EndOfBlockRule rule) {
  std::istringstream in(text);
  LineSource src(in, "near.dat");
  PointListReader reader(src, rule);
  EXPECT_TRUE(reader.next_header().has_value());
  std::vector<PointRead> out;
  for (;;) {
    PointRead pr = reader.next_point();
    out.push_back(pr);
    if (pr.kind != PointKind::Sample) return out;
  }
}

}  // namespace

TEST(PointList, HeaderFields) {
  std::istringstream in(std::string(" a title") + "\n" + kParam + "\n");
  LineSource src(in, "near.dat");
  PointListReader reader(src, EndOfBlockRule::AllZero);
  BlockHeader h = *reader.next_header();
  EXPECT_EQ(h.label, " a title");
  EXPECT_EQ(h.label50(), std::string(" a title") + std::string(42, ' '));
  EXPECT_EQ(h.scale, 1.0f);
  EXPECT_EQ(h.nn, -3);
  EXPECT_EQ(h.nl, 2);
}

TEST(PointList, EndOfBlockRulesDifferOnARecordWithOnlyAnAmplitude) {
  // After the first point, 0.0 5.0 0.0 ends the block for the R-only rule and is a sample for
  // the all-zero rule.
  const std::string text = std::string("label\n") + kParam + "\n" +
                           " 0.100E-01 0.200E+01 0.300E+02\n"
                           " 0.000E+00 0.500E+01 0.000E+00\n"
                           " 0.000E+00 0.000E+00 0.000E+00\n";
  auto r_rule = all_points(text, EndOfBlockRule::RadiusZero);
  ASSERT_EQ(r_rule.size(), 2u);
  EXPECT_EQ(r_rule[1].kind, PointKind::EndOfBlock);
  EXPECT_EQ(r_rule[1].point.amp, 5.0f);
  auto all_rule = all_points(text, EndOfBlockRule::AllZero);
  ASSERT_EQ(all_rule.size(), 3u);
  EXPECT_EQ(all_rule[1].kind, PointKind::Sample);
  EXPECT_EQ(all_rule[1].point.amp, 5.0f);
  EXPECT_EQ(all_rule[2].kind, PointKind::EndOfBlock);
}

TEST(PointList, AFirstPointAtRadiusZeroIsASampleForBothRules) {
  for (EndOfBlockRule rule : {EndOfBlockRule::RadiusZero, EndOfBlockRule::AllZero}) {
    // even three zeros, as in a block without samples: the terminator becomes a sample
    auto pts = all_points(std::string("label\n") + kParam + "\n" + " 0.000E+00 0.000E+00 0.000E+00\n" +
                              " 0.000E+00 0.000E+00 0.000E+00\n",
                          rule);
    ASSERT_EQ(pts.size(), 2u);
    EXPECT_EQ(pts[0].kind, PointKind::Sample);
    EXPECT_EQ(pts[1].kind, PointKind::EndOfBlock);
  }
}

TEST(PointList, EndOfFileWhereItFalls) {
  // at a label: nothing; inside points: EndOfFile for the streaming reader, an error for blocks
  std::istringstream empty("");
  LineSource src0(empty, "f");
  PointListReader r0(src0, EndOfBlockRule::AllZero);
  EXPECT_FALSE(r0.next_header().has_value());

  auto pts = all_points(std::string("label\n") + kParam + "\n 0.100E-01 0.200E+01 0.300E+02\n",
                        EndOfBlockRule::RadiusZero);
  EXPECT_EQ(pts.back().kind, PointKind::EndOfFile);

  std::istringstream cut(std::string("label\n") + kParam + "\n 0.100E-01 0.200E+01 0.300E+02\n");
  LineSource src1(cut, "standard input");
  PointListReader r1(src1, EndOfBlockRule::AllZero);
  try {
    r1.read_block();
    FAIL();
  } catch (const records::ReadError& e) {
    EXPECT_STREQ(e.what(),
                 "standard input, line 4: end of file inside the layer-line block that begins at line 1 "
                 "(no terminator record)");
  }

  std::istringstream no_param("label\n");
  LineSource src2(no_param, "standard input");
  PointListReader r2(src2, EndOfBlockRule::AllZero);
  EXPECT_THROW(r2.next_header(), records::ReadError);
}

TEST(PointList, CrestfindParameterLayoutSkipsColumnOne) {
  std::istringstream in("label\nx    1.000   -3    2\n");
  LineSource src(in, "f");
  PointListReader reader(src, EndOfBlockRule::AllZero, ParameterLayout::SkipFirstColumn);
  BlockHeader h = *reader.next_header();
  EXPECT_EQ(h.nn, -3);
  EXPECT_EQ(h.nl, 2);
  std::istringstream in2("label\nx    1.000   -3    2\n");
  LineSource src2(in2, "f");
  PointListReader standard(src2, EndOfBlockRule::AllZero);
  EXPECT_THROW(standard.next_header(), records::ReadError);
}

TEST(PointList, HandWrittenFieldsWithAndWithoutAPoint) {
  auto pts = all_points(std::string("label\n") + kParam + "\n       1.5        15       -90\n" +
                            " 0.000E+00 0.000E+00 0.000E+00\n",
                        EndOfBlockRule::AllZero);
  EXPECT_EQ(pts[0].point.r, 1.5f);
  EXPECT_EQ(pts[0].point.amp, 0.015f);
  EXPECT_EQ(pts[0].point.phase, -0.09f);
}

TEST(PointList, WrittenBlocksHaveTheirLayoutAndReadBack) {
  EXPECT_EQ(point_record({0.0125f, -999.0f, 180.0f}), " 0.125E-01-0.999E+03 0.180E+03");
  EXPECT_EQ(terminator_record(), " 0.000E+00 0.000E+00 0.000E+00");
  EXPECT_EQ(parameter_record(0.5f, -3, 12), "     0.500   -3   12");
  const std::string label = sidesplit_label("HELIX", 4, false, 12.5f);
  EXPECT_EQ(label.size(), 61u);
  EXPECT_EQ(label, " HELIX" + std::string(35, ' ') + "LL  4 FAR     12.500");

  std::ostringstream out;
  write_block(out, label, 1.0f, 3, 4, {{0.01f, 2.0f, 30.0f}, {0.02f, 3.0f, -40.0f}});
  std::istringstream in(out.str());
  LineSource src(in, "far.dat");
  PointListReader reader(src, EndOfBlockRule::AllZero);
  std::optional<Block> b = reader.read_block();
  ASSERT_TRUE(b.has_value());
  EXPECT_EQ(b->header.label, label);
  EXPECT_EQ(b->header.nn, 3);
  ASSERT_EQ(b->points.size(), 2u);
  EXPECT_EQ(b->points[1].r, 0.02f);
  EXPECT_EQ(b->points[1].phase, -40.0f);
  EXPECT_FALSE(reader.read_block().has_value());
}

TEST(Listing, HeaderAndPointLines) {
  const std::string h = listing_header(0, 1.0f, -3, 2);
  ASSERT_EQ(h.size(), 121u);
  EXPECT_EQ(h.substr(0, 14), "LAYER LINE   0");
  EXPECT_EQ(h.substr(14, 79), std::string(79, ' '));
  EXPECT_EQ(h[93], '\0');
  EXPECT_EQ(h.substr(94), "      0.10000E+01   -3    2");
  const std::string p = listing_point({0.0f, 0.0f, 0.0f});
  EXPECT_EQ(p, " 0.00000E+00 0.00000E+00 0.00000E+00     0.000      0.00");
}
