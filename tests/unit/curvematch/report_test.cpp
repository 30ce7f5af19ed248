#include "curvematch/report.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "curvematch/search.hpp"

using namespace curvematch;

namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> v;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) v.push_back(l);
  return v;
}

}  // namespace

TEST(Report, ResultsRecord) {
  const std::string r = results_record(0.25f, 3.3f, -1.25f, 1.04f, 12.3456f);
  ASSERT_EQ(r.size(), 42u);
  EXPECT_EQ(r.substr(0, 10), "    -75000");
  EXPECT_EQ(r.substr(10, 7), "   3.30");
  EXPECT_EQ(r.substr(17, 7), "  -1.25");
  EXPECT_EQ(r.substr(24, 8), "  1.0400");
  EXPECT_EQ(r.substr(32, 10), "     12345");
  // an R factor that is not a number has no integer part
  EXPECT_EQ(results_record(std::nanf(""), 0.0f, 0.0f, 1.0f, 1.0f).substr(0, 10), "**********");
}

TEST(Report, CutOffPercentageOfTenOrMoreShowsAsterisks) {
  RunInput in;
  in.refile = std::string(40, ' ');
  in.tfile = std::string(40, ' ');
  DataSets d;
  d.amin = 3.0f;
  std::ostringstream five, twentyfive;
  in.acut = 5.0f;
  write_data_summary(five, in, d);
  in.acut = 25.0f;
  write_data_summary(twentyfive, in, d);
  EXPECT_EQ(lines_of(five.str()).back(), "           cut-off amplitude :    3.00  ( 5.00% of max ref. amp)");
  EXPECT_EQ(lines_of(twentyfive.str()).back(), "           cut-off amplitude :    3.00  ( ****% of max ref. amp)");
  EXPECT_EQ(lines_of(five.str())[0], "");
}

TEST(Report, LayerLineRows) {
  LayerLineRow r{1, 3, -2, 33.3f, 40, 0, 99, 16.67f, 17.01f, 4.56f};
  const std::string row = layer_line_row(r);
  EXPECT_EQ(row, "    1:    3   -2   33.3    0.0   40 (  0- 99)  16.67  17.01     4.56");
  EXPECT_EQ(row.size(), 68u);
  // no compared sample: resl is exactly 0 and "--" stands in columns 66-67
  LayerLineRow none{12, 0, 4, 1.0f / 0.0f, 0, 0, 99, 0.0f, 0.0f, 0.0f};
  const std::string dash = layer_line_row(none);
  EXPECT_EQ(dash.size(), 67u);
  EXPECT_EQ(dash.substr(59), "      --");
  EXPECT_EQ(dash.substr(16, 7), "    Inf");  // L = 0: 1/Z is infinite
}

TEST(Report, ScaleBlockWithThreeRotations) {
  DataSets d;
  d.llmax = 1;
  d.ismin = 1;
  d.ismax = 4;
  d.dsr = 1.0f;
  for (Table* t : {&d.a, &d.p, &d.a1, &d.p1, &d.a2, &d.p2}) t->reset(1, 6);
  for (std::int32_t j = 1; j <= 4; ++j) {
    d.a.at(1, j) = 1.0f;
    d.a1.at(1, j) = 1.0f;
  }
  d.in[1] = 1;
  Search s(d, SearchGrid{-2.0f, 2.0f, 3, -1.5f, 1.0f, 4, 1.0f, 0.01f, 3}, 3.6f);
  std::ostringstream out;
  s.pass(out);
  const auto lines = lines_of(out.str());
  ASSERT_GT(lines.size(), 8u);
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], "  radial scaling factor :      1.0000");
  EXPECT_EQ(lines[3], "");
  EXPECT_EQ(lines[4], "   z phi |   -2.00   0.00   2.00");
  EXPECT_EQ(lines[5], "  " + std::string(31, '-'));
  EXPECT_EQ(lines[6].substr(0, 11), "    -1.50: ");
  EXPECT_EQ(lines[6].size(), 11u + 21u);
  EXPECT_EQ(lines[10], lines[5]);
  EXPECT_EQ(lines[11].substr(0, 22), "     minimum residual ");
  // the pass summary after the three scale blocks
  std::size_t at = 0;
  while (at < lines.size() && lines[at] != "  **** minimum locations ****") ++at;
  ASSERT_LT(at + 6, lines.size());
  EXPECT_EQ(lines[at + 2], "  " + std::string(42, '-') + std::string(13, ' ') + std::string(15, '-'));
  EXPECT_EQ(lines[at + 3].size(), 2u + 7u + 11u + 11u + 4u + 10u + 3u + 10u);
  EXPECT_EQ(lines[at + 6], lines[at + 2]);
  EXPECT_EQ(lines[at + 9], "  **** global minimum ****");
  EXPECT_EQ(lines[at + 10].substr(0, 12), "  residual =");
  EXPECT_EQ(lines[at + 12].substr(0, 28), " Minimum global R factor :  ");
}
