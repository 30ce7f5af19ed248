#include "curvematch/datasets.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "curvematch/control.hpp"
#include "layerline/gridded.hpp"
#include "records/error.hpp"

using namespace curvematch;

namespace {

// A data set of one layer line whose test samples are given directly in a1, p1.
DataSets one_line(std::int32_t ismin, std::int32_t ismax, float dsr) {
  DataSets d;
  d.llmax = 1;
  d.ismin = ismin;
  d.ismax = ismax;
  d.dsr = dsr;
  for (Table* t : {&d.a, &d.p, &d.a1, &d.p1, &d.a2, &d.p2}) t->reset(1, ismax + 2);
  return d;
}

std::string gridded(std::int32_t llmax, std::int32_t ismin, std::int32_t ismax, float dsr,
                    const std::vector<std::pair<float, float>>& samples, std::int32_t n, std::int32_t l) {
  std::ostringstream out;
  layerline::write_gridded_header(out, {"T", llmax, ismin, ismax, dsr});
  std::vector<float> re, im;
  for (auto [r, i] : samples) {
    re.push_back(r);
    im.push_back(i);
  }
  for (std::int32_t k = 0; k < llmax; ++k) {
    layerline::write_value_group(out, n, l, re);
    layerline::write_value_group(out, n, l, im);
  }
  return out.str();
}

}  // namespace

TEST(Dratan2d, AxesAreExactAndOtherPointsUseTheArcTangent) {
  EXPECT_EQ(dratan2d(0.0f, 3.0f), 0.0f);
  EXPECT_EQ(dratan2d(0.0f, 0.0f), 0.0f);
  EXPECT_EQ(dratan2d(0.0f, -5.0f), 180.0f);
  EXPECT_EQ(dratan2d(4.0f, 0.0f), 90.0f);
  EXPECT_EQ(dratan2d(-2.0f, 0.0f), -90.0f);
  EXPECT_NEAR(dratan2d(1.0f, -1.0f), 135.0f, 1e-4f);
  // the factor is 57.295776, one unit in the last place below deg
  EXPECT_EQ(dratan2d(1.0f, 1.0f), static_cast<float>(std::atan2(1.0, 1.0)) * 57.295776f);
  EXPECT_LT(57.295776f, deg);
}

TEST(Load, WindowSwitchesAndTotals) {
  // three samples 1..3 of one layer line with N = 3; the window irmin = 2, irmax = 4 keeps 2..3
  std::istringstream reft(gridded(1, 1, 3, 1.0f, {{3.0f, 4.0f}, {0.0f, 2.0f}, {-1.0f, 0.0f}}, 3, 1));
  records::LineSource ref(reft, "ref.dat");
  DataSets d;
  std::ostringstream out;
  const Window w{window_index(2), window_index(4)};
  load_reference(ref, "ref.dat", w, 50.0f, d, out);
  EXPECT_EQ(d.a.at(1, 1), 0.0f);  // outside the window: zero, and counted
  EXPECT_EQ(d.p.at(1, 1), 0.0f);
  EXPECT_EQ(d.a.at(1, 2), 2.0f);
  EXPECT_EQ(d.p.at(1, 2), 90.0f);
  EXPECT_EQ(d.p.at(1, 3), 180.0f);
  EXPECT_EQ(d.ncount, 3);
  EXPECT_EQ(d.asum, 3.0f);
  EXPECT_EQ(d.amax, 2.0f);
  EXPECT_EQ(d.amin, 1.0f);
  EXPECT_EQ(out.str(), "  --- reading in reference data : ref.dat\n llmax =  1\n");

  // test phase 10 degrees on N = 3 with ipole = 1 and iside = 1: -10 + 540 = 530
  const float c = std::cos(10.0f / deg), s = std::sin(10.0f / deg);
  std::istringstream testt(gridded(1, 1, 3, 1.0f, {{c, s}, {c, s}, {c, s}}, 3, 2));
  records::LineSource test(testt, "test.dat");
  load_test(test, "test.dat", w, 1, 1, d, out);
  EXPECT_NEAR(d.p1.at(1, 2), 530.0f, 1e-3f);
  EXPECT_EQ(d.p1.at(1, 1), 540.0f);  // windowed to 0: phase 0, turned by 180*N
  EXPECT_EQ(d.inl[1], 2);            // N and L now from the test file
  EXPECT_EQ(d.ncount1, 3);
}

TEST(Load, ATestFileWithFewerLayerLinesLeavesTheReferenceValues) {
  std::istringstream reft(gridded(2, 1, 2, 1.0f, {{1.0f, 1.0f}, {2.0f, 0.0f}}, -1, 4));
  std::istringstream testt(gridded(1, 1, 2, 1.0f, {{0.0f, 3.0f}, {0.0f, 3.0f}}, 2, 5));
  records::LineSource ref(reft, "ref.dat"), test(testt, "test.dat");
  DataSets d;
  std::ostringstream out;
  load_reference(ref, "ref.dat", {1, 2}, 0.0f, d, out);
  load_test(test, "test.dat", {1, 2}, 0, 0, d, out);
  EXPECT_EQ(d.a1.at(1, 1), 3.0f);
  EXPECT_EQ(d.a1.at(2, 2), 2.0f);  // layer line 2 of the test is a copy of the reference
  EXPECT_EQ(d.in[1], 2);
  EXPECT_EQ(d.in[2], -1);
  EXPECT_EQ(d.inl[2], 4);
}

TEST(Load, HeadersBeyondTheCapacitiesAreRefusedBeforeStoring) {
  const auto refusal = [](const std::string& header) {
    std::istringstream t("TITLE\n" + header + "\n");
    records::LineSource src(t, "ref.dat");
    DataSets d;
    std::ostringstream out;
    try {
      load_reference(src, "ref.dat", {1, 512}, 5.0f, d, out);
    } catch (const records::ReadError& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  EXPECT_EQ(refusal("      1200         1        10       1.0"),
            "ref.dat, line 2, columns 1-10: 1200 layer lines, at most 1000 are supported");
  EXPECT_EQ(refusal("        10         0        10       1.0"),
            "ref.dat, line 2, columns 11-20: first sample index 0, sample indices 1 to 512 are supported");
  EXPECT_EQ(refusal("        10         1       513       1.0"),
            "ref.dat, line 2, columns 21-30: last sample index 513, sample indices 1 to 512 are supported");
  EXPECT_NE(refusal("        10        20        10       1.0").find("hold no samples"), std::string::npos);
  EXPECT_NE(refusal("        10         1        10       0.0").find("not positive"), std::string::npos);
}

TEST(RescaleTruncated, UnitScaleAndUnitSamplingCopiesTheSamplesFromTheSecond) {
  DataSets d = one_line(1, 6, 1.0f);
  for (std::int32_t j = 1; j <= 6; ++j) {
    d.a1.at(1, j) = static_cast<float>(j);
    d.p1.at(1, j) = 100.0f * static_cast<float>(j);  // 400, 500, 600 come back as 40, 140, -120
  }
  rescale_test(d, 1.0f, RescaleRule::truncated);
  EXPECT_EQ(d.a2.at(1, 1), 0.0f);
  EXPECT_EQ(d.p2.at(1, 1), 0.0f);
  for (std::int32_t j = 2; j <= 6; ++j) {
    EXPECT_NEAR(d.a2.at(1, j), d.a1.at(1, j), 1e-5f) << j;
    float want = d.p1.at(1, j);
    while (want > 180.0f) want -= 360.0f;
    EXPECT_NEAR(d.p2.at(1, j), want, 1e-3f) << j;
  }
}

TEST(RescaleTruncated, UnitScaleWithSamplingTwoTakesTheMidpoints) {
  DataSets d = one_line(1, 6, 2.0f);
  for (std::int32_t j = 1; j <= 6; ++j) d.a1.at(1, j) = static_cast<float>(j * j);  // phases 0
  rescale_test(d, 1.0f, RescaleRule::truncated);
  // the walk visits 1.5, 2.5, ...: target k gets the value half way between samples k and k + 1
  for (std::int32_t k = 1; k <= 5; ++k)
    EXPECT_NEAR(d.a2.at(1, k), 0.5f * static_cast<float>(k * k + (k + 1) * (k + 1)), 1e-4f) << k;
  EXPECT_NEAR(d.a2.at(1, 6), 0.5f * 36.0f, 1e-4f);  // sample 7 counts as 0
}

TEST(RescaleTruncated, HalfScaleTakesEveryOtherSampleAndLeavesTheRestZero) {
  DataSets d = one_line(1, 12, 1.0f);
  for (std::int32_t j = 1; j <= 12; ++j) d.a1.at(1, j) = static_cast<float>(j);
  rescale_test(d, 0.5f, RescaleRule::truncated);
  // steps of 2 from index 2: sources 2, 4, ..., 12 go to targets 1, 2, ..., 6
  for (std::int32_t k = 1; k <= 6; ++k) EXPECT_EQ(d.a2.at(1, k), static_cast<float>(2 * k)) << k;
  for (std::int32_t k = 7; k <= 12; ++k) EXPECT_EQ(d.a2.at(1, k), 0.0f) << k;
}

TEST(RescaleTruncated, TargetsBeyondTheSamplesAndImpossibleScalesAreSafe) {
  DataSets d = one_line(1, 10, 1.0f);
  for (std::int32_t j = 1; j <= 10; ++j) d.a1.at(1, j) = 1.0f;
  rescale_test(d, 3.0f, RescaleRule::truncated);  // sources 2, 3, 4 go to targets 4, 7, 10; skipped targets keep 0
  EXPECT_EQ(d.a2.at(1, 2), 0.0f);
  EXPECT_NEAR(d.a2.at(1, 4), 1.0f, 1e-6f);
  EXPECT_THROW(rescale_test(d, 0.0f, RescaleRule::truncated), RunStop);
  EXPECT_THROW(rescale_test(d, -1.0f, RescaleRule::truncated), RunStop);
  // a huge scale sends the first target far beyond the samples: nothing is stored, nothing hangs
  rescale_test(d, 1e9f, RescaleRule::truncated);
  for (std::int32_t k = 1; k <= 10; ++k) EXPECT_EQ(d.a2.at(1, k), 0.0f) << k;
}

TEST(RescaleInterpolated, EveryTargetInsideTheTestDataTakesItsValueAtRadiusOverScale) {
  // A test that is linear in radius as a complex value, v(j) = (j, j) at phase 45: target k
  // must come out as the value at source index s = (k-1)/rsc + 1, amplitude sqrt(2)*s, phase 45.
  const auto linear = [](std::int32_t ismin, std::int32_t ismax, float dsr) {
    DataSets d = one_line(ismin, ismax, dsr);
    for (std::int32_t j = ismin; j <= ismax; ++j) {
      d.a1.at(1, j) = std::sqrt(2.0f) * static_cast<float>(j);
      d.p1.at(1, j) = 45.0f + 360.0f * static_cast<float>(j % 3);  // whole turns change nothing
    }
    return d;
  };
  for (const float dsr : {1.0f, 2.0f, 0.5f})
    for (const float rsc : {1.0f, 1.02f, 1.25f, 0.8f, 0.5f, 3.0f}) {
      DataSets d = linear(1, 40, dsr);
      rescale_test(d, rsc);
      std::int32_t present = 0;
      for (std::int32_t k = 1; k <= 40; ++k) {
        const float s = static_cast<float>(k - 1) / rsc + 1.0f;
        if (s <= 40.0f) {
          // present, and no target inside the data is skipped or left 0
          ASSERT_TRUE(k >= d.first2(1) && k <= d.last2(1)) << rsc << " " << k;
          EXPECT_NEAR(d.a2.at(1, k), std::sqrt(2.0f) * s, 2e-4f * s) << rsc << " " << k;
          EXPECT_NEAR(d.p2.at(1, k), 45.0f, 1e-3f) << rsc << " " << k;
          ++present;
        } else {
          EXPECT_FALSE(k >= d.first2(1) && k <= d.last2(1)) << rsc << " " << k;
          EXPECT_EQ(d.a2.at(1, k), 0.0f);
        }
      }
      EXPECT_EQ(present, d.last2(1) - d.first2(1) + 1);  // one run of present targets
      EXPECT_EQ(d.first2(1), 1);                         // sample 1, at radius 0, is itself at every scale
    }

  // The window and the test's own sample range bound the sources: sources below sample 3 or
  // above sample 9 make their targets absent (never the zeros outside the window).
  DataSets d = linear(1, 12, 1.0f);
  d.window = {3, 12};
  d.test_last[1] = 9;
  rescale_test(d, 1.25f);  // s = 1 + 0.8(k-1): 3 <= s <= 9 for k = 4..11
  EXPECT_EQ(d.first2(1), 4);
  EXPECT_EQ(d.last2(1), 11);
  EXPECT_NEAR(d.a2.at(1, 11), std::sqrt(2.0f) * 9.0f, 1e-4f);  // exactly on the last sample
  EXPECT_EQ(d.a2.at(1, 3), 0.0f);
  EXPECT_EQ(d.a2.at(1, 12), 0.0f);
  // a layer line the test does not hold has no present target
  d.test_first[1] = 1;
  d.test_last[1] = 0;
  rescale_test(d, 1.0f);
  EXPECT_GT(d.first2(1), d.last2(1));
  // nothing to walk: no scale hangs, a scale that is not positive is refused
  rescale_test(d, 1e9f);
  EXPECT_THROW(rescale_test(d, 0.0f), RunStop);
  EXPECT_THROW(rescale_test(d, -1.0f), RunStop);
}

TEST(Load, AnAmplitudeBeyondSinglePrecisionIsRefused) {
  std::istringstream t(
      "T\n         1         1         2       1.0\n         0         0\n     1.0E+30    1.000000\n"
      "         0         0\n     1.0E+30    1.000000\n");
  records::LineSource src(t, "ref.dat");
  DataSets d;
  std::ostringstream out;
  try {
    load_reference(src, "ref.dat", {1, 2}, 5.0f, d, out);
    FAIL();
  } catch (const records::ReadError& e) {
    EXPECT_STREQ(e.what(),
                 "ref.dat: layer line 1, sample 1: the amplitude of the sample is beyond the "
                 "single-precision range");
  }
}
