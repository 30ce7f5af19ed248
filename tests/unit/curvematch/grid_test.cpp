#include <gtest/gtest.h>

#include <sstream>

#include "curvematch/control.hpp"
#include "records/error.hpp"

using namespace curvematch;

namespace {

RunInput input_with(float phimid, float dphi, std::int32_t ipl, float zmid, float delz, std::int32_t izl, float rscmid,
                    float drsc, std::int32_t irl) {
  RunInput in;
  in.cntfile = "ctl.dat";
  in.rep_dis = 100.0f;
  in.grid.phi = rotation_axis(phimid, dphi, ipl);
  in.grid.z = halved_axis(zmid, delz, izl);
  in.grid.rsc = halved_axis(rscmid, drsc, irl);
  return in;
}

std::string refusal(const RunInput& in) {
  try {
    normalised_grid(in);
  } catch (const records::ReadError& e) {
    return e.what();
  }
  return "";
}

}  // namespace

TEST(Grid, RotationHalvesWithIntegerDivisionZAndScaleWithRealDivision) {
  const Grid g = normalised_grid(input_with(0.0f, 2.0f, 3, 0.0f, 1.0f, 3, 1.0f, 0.01f, 4));
  // 3 points of 2 degrees: -2, 0, 2
  EXPECT_EQ(g.phi.first, -2.0f);
  EXPECT_EQ(g.phi.count, 3);
  // izl = 3, delz = 1: zmin = -3*1/2.0 = -1.5, zmax = 1, four points -1.5 .. 1.5
  EXPECT_EQ(g.z.first, -1.5f);
  EXPECT_EQ(g.z.count, 4);
  // irl = 4, drsc = 0.01 about 1: 0.98, 0.99, 1.00, 1.01
  EXPECT_FLOAT_EQ(g.rsc.first, 0.98f);
  EXPECT_EQ(g.rsc.count, 4);
}

TEST(Grid, MoreThanEightRotationPointsAreReducedToEightFromTheSameStart) {
  const Grid g = normalised_grid(input_with(10.0f, 1.5f, 12, 0.0f, 1.0f, 5, 1.0f, 0.01f, 12));
  EXPECT_EQ(g.phi.count, 8);
  EXPECT_EQ(g.phi.first, 10.0f - 6.0f * 1.5f);
  EXPECT_EQ(g.rsc.count, 8);
  EXPECT_EQ(g.z.count, 6);  // z is not limited: 5 points about 0 become 6
  // and each reduction is said once, with the record and the points kept
  std::ostringstream err;
  write_grid_reductions(err, input_with(10.0f, 1.5f, 12, 0.0f, 1.0f, 5, 1.0f, 0.01f, 12), g);
  EXPECT_EQ(err.str(),
            "curvematch: ctl.dat, control record 8: the rotation grid from 1.0 to 17.5 in steps of 1.5 has more than 8 "
            "points; only the first 8 (1.0 to 11.5) are searched\n"
            "curvematch: ctl.dat, control record 10: the radial-scale grid from 0.94 to 1.05 in steps of 0.01 has more "
            "than 8 points; only the first 8 (0.94 to 1.01) are searched\n");
  // a grid of exactly 8 points is not reduced
  const RunInput eight = input_with(0.0f, 2.0f, 8, 0.0f, 1.0f, 5, 1.0f, 0.01f, 4);
  std::ostringstream none;
  write_grid_reductions(none, eight, normalised_grid(eight));
  EXPECT_EQ(none.str(), "");
}

TEST(Grid, ANegativeStepExchangesTheEndsAndLeavesAnEmptyGrid) {
  Axis a = rotation_axis(0.0f, -2.0f, 3);
  EXPECT_EQ(a.first, 2.0f);
  EXPECT_EQ(a.last, -2.0f);
  // exchanged to -2 .. 2; the count 4/(-2) + 1.5 would be 0: such a grid is never formed
  EXPECT_FALSE(normalise_axis(a, 8, 8));
  const std::string why = refusal(input_with(0.0f, -2.0f, 3, 0.0f, 1.0f, 5, 1.0f, 0.01f, 4));
  EXPECT_NE(why.find("ctl.dat: control record 8"), std::string::npos) << why;
  EXPECT_NE(why.find("not positive"), std::string::npos) << why;
}

TEST(Grid, GridsTheRefinementCouldNeverFinishAreRefused) {
  // two rotation points: the best point would always lie on the border
  std::string why = refusal(input_with(0.0f, 2.0f, 2, 0.0f, 1.0f, 5, 1.0f, 0.01f, 4));
  EXPECT_NE(why.find("control record 8: the rotation grid has 2 point(s)"), std::string::npos) << why;
  why = refusal(input_with(0.0f, 2.0f, 3, 0.0f, 1.0f, 1, 1.0f, 0.01f, 4));
  EXPECT_NE(why.find("control record 9"), std::string::npos) << why;
  why = refusal(input_with(0.0f, 2.0f, 3, 0.0f, 1.0f, 3, 1.0f, 0.0f, 4));
  EXPECT_NE(why.find("control record 10"), std::string::npos) << why;
  // a radial-scale grid that starts at or below zero
  why = refusal(input_with(0.0f, 2.0f, 3, 0.0f, 1.0f, 3, 0.1f, 0.1f, 4));
  EXPECT_NE(why.find("radial scales must be positive"), std::string::npos) << why;
  // an absurd number of z points
  why = refusal(input_with(0.0f, 2.0f, 3, 0.0f, 1e-6f, 1000000, 1.0f, 0.01f, 4));
  EXPECT_NE(why.find("more than 100000 points"), std::string::npos) << why;
  RunInput zero = input_with(0.0f, 2.0f, 3, 0.0f, 1.0f, 3, 1.0f, 0.01f, 4);
  zero.rep_dis = 0.0f;
  EXPECT_NE(refusal(zero).find("rep_dis is 0"), std::string::npos);
}

TEST(Grid, RadialWindowIndices) {
  EXPECT_EQ(window_index(0), 1);
  EXPECT_EQ(window_index(20), 11);
  EXPECT_EQ(window_index(3), 2);  // integer part of 2.5
}

TEST(Control, ElevenRecordsWithACountOnTheFollowingLine) {
  std::istringstream text(
      "a title\nref.dat\n1 100.0 0.002 0.003\n5.0\n1 1.0\ntest.dat\n1 0\n"
      "0.0 2.0\n3\n0.0 1.0 3\n1.0 0.01 4\n0\n");
  records::LineSource src(text, "ctl.dat");
  RunInput in;
  read_control(src, in);
  EXPECT_EQ(in.refile, "ref.dat" + std::string(33, ' '));
  EXPECT_EQ(file_name(in.tfile), "test.dat");
  EXPECT_EQ(in.rep_dis, 100.0f);
  EXPECT_EQ(in.delr2, 0.003f);
  EXPECT_EQ(in.acut, 5.0f);
  EXPECT_EQ(in.iside, 1);
  EXPECT_EQ(in.ipole, 0);
  EXPECT_EQ(in.ipl, 3);  // record 8 continues on the next line
  EXPECT_EQ(in.grid.phi.first, -2.0f);
  EXPECT_EQ(in.izl, 3);
  EXPECT_EQ(in.irl, 4);
}

TEST(Control, ABlankFileNameIsRefusedWithItsRecord) {
  std::istringstream text("a title\n   \n1 100.0 0.002 0.003\n");
  records::LineSource src(text, "ctl.dat");
  RunInput in;
  try {
    read_control(src, in);
    FAIL();
  } catch (const records::ReadError& e) {
    EXPECT_STREQ(e.what(), "ctl.dat, line 2, columns 1-40: no reference file name given");
  }
}
