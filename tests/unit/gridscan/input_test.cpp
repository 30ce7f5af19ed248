// Control records and the loading of the reference onto its radial grid.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "gridscan/control.hpp"
#include "gridscan/reference.hpp"
#include "layerline/pointlist.hpp"
#include "records/error.hpp"
#include "records/forms.hpp"

using namespace gridscan;
using records::LineSource;

namespace {

// A point record with R written with a decimal point, so it reads exactly as written.
std::string point(float r, float amp, float phase) {
  return records::fixed_form(r, 10, 7) + records::fixed_form(amp, 10, 3) + records::fixed_form(phase, 10, 3);
}

Control control(std::int32_t llmax, float delbr = 0.002f, std::int32_t iprint = 0) {
  Control c;
  c.llmax = llmax;
  c.recc = 0.01f;
  c.delbr = delbr;
  c.iprint = iprint;
  for (float& w : c.wtv) w = 1.0f;
  return c;
}

std::string block(float scale, std::int32_t nn, std::int32_t nl, const std::string& points, bool terminated = true) {
  return " label\n" + layerline::parameter_record(scale, nn, nl) + "\n" + points +
         (terminated ? layerline::terminator_record() + "\n" : "");
}

ReferenceGrid load(const std::string& text, const Control& c, std::string* echo = nullptr) {
  std::istringstream in(text);
  LineSource src(in, "fort.3");
  std::ostringstream out;
  ReportWriter report(out);
  ReferenceGrid ref;
  load_reference(src, c, ref, report);
  if (echo) *echo = out.str();
  return ref;
}

}  // namespace

TEST(GridscanControl, LlmaxAboveFortyReadsFortyWeights) {
  // 55 becomes 40 before the weights: the 40th weight ends record 2 and the two values after
  // it on the same line are skipped; the title is the next line.
  std::string text = "55, 0.0125 0.002 1\n";
  for (int i = 1; i <= 39; ++i) text += std::to_string(i) + ".5" + (i % 10 == 0 ? "\n" : " ");
  text += "40.5 41.5 42.5\n";
  text += "  the title, read and not used\n 1 1\n";
  std::istringstream in(text);
  LineSource src(in, "fort.2");
  Control c;
  read_control_head(src, c);
  EXPECT_EQ(c.llmax, 40);
  EXPECT_EQ(c.llmax_read, 55);  // kept for the note on standard error
  EXPECT_EQ(c.recc, 0.0125f);
  EXPECT_EQ(c.delbr, 0.002f);
  EXPECT_EQ(c.iprint, 1);
  EXPECT_EQ(c.wt(1), 1.5f);
  EXPECT_EQ(c.wt(40), 40.5f);
  read_control_tail(src, c);
  EXPECT_EQ(c.title.substr(0, 31), "  the title, read and not used ");
  EXPECT_EQ(c.title.size(), 80u);
  EXPECT_EQ(c.iside, 1);
  EXPECT_EQ(c.ipole, 1);
}

TEST(GridscanControl, RefusesRecordsThatCannotDriveASearch) {
  auto head_error = [](const std::string& text) {
    std::istringstream in(text);
    LineSource src(in, "fort.2");
    Control c;
    try {
      read_control_head(src, c);
    } catch (const records::ReadError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_NE(head_error("0 0.01 0.002 0\n\n").find("llmax = 0"), std::string::npos);
  EXPECT_NE(head_error("2 0.01 0 0\n1 1\n").find("delbr = 0.0"), std::string::npos);
  EXPECT_NE(head_error("2 0.01 -0.002 0\n1 1\n").find("must be positive"), std::string::npos);
  // recc = 0 would make every axial shift score alike: refused, as is a negative one
  EXPECT_EQ(head_error("2 0 0.002 0\n1 1\n"),
            "fort.2, line 1: recc = 0.0: the reciprocal of the helical repeat must be positive; the axial shift of "
            "every trial is measured in it");
  EXPECT_NE(head_error("2 -0.01 0.002 0\n1 1\n").find("recc = -0.01"), std::string::npos);
  // A record that ends before all its values: the file, the line and the value expected.
  const std::string shortrec = head_error("3 0.01 0.002 0\n1.0 1.0\n");
  EXPECT_NE(shortrec.find("fort.2, line 3: end of file: weight 3 of 3"), std::string::npos) << shortrec;
  EXPECT_NE(head_error("3 0.01\n").find("delbr"), std::string::npos);
  EXPECT_NE(head_error("3 x 0.002 0\n").find("\"x\" is not a number"), std::string::npos);
}

TEST(GridscanReference, FilingOnTheRadialGrid) {
  const Control c = control(1);
  // 0.95*delbr goes to grid point 2, 0.85*delbr to grid point 1; a first record at R = 0 is a
  // sample; two samples at one grid point: the second is stored, both count in the sums.
  const std::string pts = point(0.0f, 7.0f, 5.0f) + "\n" + point(0.95f * 0.002f, 10.0f, 20.0f) + "\n" +
                          point(0.85f * 0.002f, 30.0f, 40.0f) + "\n" + point(0.0041f, 50.0f, 60.0f) + "\n" +
                          point(0.0039f, 70.0f, 80.0f) + "\n";
  const ReferenceGrid ref = load(block(2.0f, -3, 4, pts), c);
  EXPECT_EQ(ref.f1(1, 1), 60.0f);  // 7 replaced by 30, times the weight 2
  EXPECT_EQ(ref.psi1(1, 1), 40.0f);
  EXPECT_EQ(ref.f1(1, 2), 20.0f);
  EXPECT_EQ(ref.psi1(1, 2), 20.0f);
  EXPECT_EQ(ref.f1(1, 3), 140.0f);  // 0.0041 -> 3.15, 0.0039 -> 3.05: both at 3, the second kept
  EXPECT_EQ(ref.psi1(1, 3), 80.0f);
  EXPECT_EQ(ref.nn1[0], -3);
  EXPECT_EQ(ref.nl1[0], 4);
  EXPECT_EQ(ref.irmax[0], 3);
  EXPECT_EQ(ref.sumf1, 14.0f + 20.0f + 60.0f + 100.0f + 140.0f);
  EXPECT_EQ(ref.allpts, 5.0f);
  EXPECT_EQ(ref.f0sum[0], ref.sumf1 / 5.0f);
}

TEST(GridscanReference, PointsBeyondTheGridAndFlaggedAmplitudes) {
  Control c = control(2);
  c.wtv[1] = 0.5f;
  // Block 1 ends with a point at 149.9*delbr (grid index 151): not stored, but it is the
  // block's last point record. Block 2: a -999.0 amplitude (a flagged sample) is not stored and
  // counts in no sum, while its record still counts as the block's last one.
  const std::string b1 = point(0.002f, 10.0f, 0.0f) + "\n" + point(149.9f * 0.002f, 99.0f, 0.0f) + "\n";
  const std::string b2 = point(0.002f, -999.0f, 12.0f) + "\n" + point(0.004f, 4.0f, 0.0f) + "\n" +
                         point(0.006f, 4.0f, 0.0f) + "\n" + point(0.006f, -999.0f, 0.0f) + "\n";
  const ReferenceGrid flagged = load(block(1.0f, 0, 0, b1) + block(1.0f, 2, 1, b2), c);
  EXPECT_EQ(flagged.f1(2, 2), 0.0f);
  EXPECT_EQ(flagged.f1(2, 4), 2.0f);  // the flag does not replace the sample before it
  EXPECT_EQ(flagged.irmax[1], 4);
  EXPECT_EQ(flagged.sumf1, 10.0f + (2.0f + 2.0f));
  EXPECT_EQ(flagged.allpts, 1.0f + 2.0f * 0.5f);

  // --flags amplitudes: the old rule stores the flag as a negative amplitude.
  c.flags_as_amplitudes = true;
  std::string echo;
  c.iprint = 1;
  const ReferenceGrid ref = load(block(1.0f, 0, 0, b1) + block(1.0f, 2, 1, b2.substr(0, 62)), c, &echo);
  EXPECT_EQ(ref.irmax[0], 151);
  EXPECT_EQ(ref.f1(1, 150), 0.0f);
  EXPECT_EQ(ref.f1(2, 2), -499.5f);
  EXPECT_EQ(ref.sumf1, 10.0f + (-499.5f + 2.0f));
  EXPECT_EQ(ref.allpts, 1.0f + 2.0f * 0.5f);
  // Every point record is echoed (the one beyond the grid too), the terminators are not.
  EXPECT_EQ(echo,
            "  0.200E-02 0.100E+02 0.000E+00\n"
            "  0.300E+00 0.990E+02 0.000E+00\n"
            "  0.200E-02-0.999E+03 0.120E+02\n"
            "  0.400E-02 0.400E+01 0.000E+00\n");
}

TEST(GridscanReference, RadialSpacingOfThePoints) {
  // Points every 0.0005 written with three digits, as sidesplit writes them (0.105E-01 for
  // 0.0105 but 0.101E+00 for 0.1005): single differences range from 0 to 0.001, the mean step
  // of a block is the spacing. One block with a gap and one of a single point do not move the
  // median over the blocks.
  const auto block_of = [](float step, std::int32_t first, std::int32_t last, std::int32_t gap) {
    std::string pts;
    for (std::int32_t k = first; k <= last; ++k)
      if (k != gap)
        pts += records::exp_form(step * static_cast<float>(k), 10, 3) + records::exp_form(5.0f, 10, 3) +
               records::exp_form(0.0f, 10, 3) + "\n";
    return block(1.0f, 0, 0, pts);
  };
  const Control c = control(4, 0.0005f);
  const ReferenceGrid ref = load(block_of(0.0005f, 1, 140, 0) + block_of(0.0005f, 3, 120, 0) +
                                     block_of(0.0005f, 1, 9, 5) + block_of(0.0005f, 7, 7, 0),
                                 c);
  EXPECT_NEAR(ref.spacing, 0.0005f, 0.000005f);
  // no block of two points: no spacing
  EXPECT_EQ(load(block_of(0.001f, 4, 4, 0), control(1)).spacing, 0.0f);
}

TEST(GridscanReference, EndsOfTheFile) {
  const Control c = control(2);
  // The last block lacks its terminator: its samples are stored, but count in neither sum and
  // its irmax stays 0.
  const std::string b1 = point(0.002f, 10.0f, 0.0f) + "\n";
  const std::string b2 = point(0.002f, 6.0f, 30.0f) + "\n" + point(0.004f, 8.0f, 0.0f) + "\n";
  const ReferenceGrid ref = load(block(1.0f, 0, 0, b1) + block(1.0f, 1, 2, b2, false), c);
  EXPECT_EQ(ref.f1(2, 2), 6.0f);
  EXPECT_EQ(ref.f1(2, 3), 8.0f);
  EXPECT_EQ(ref.irmax[1], 0);
  EXPECT_EQ(ref.sumf1, 10.0f);
  EXPECT_EQ(ref.allpts, 1.0f);
  EXPECT_EQ(ref.nl1[1], 2);

  // Fewer blocks than llmax, the shortfall on a label record: a read error naming the block.
  try {
    load(block(1.0f, 0, 0, b1), c);
    FAIL() << "no error";
  } catch (const records::ReadError& e) {
    EXPECT_EQ(std::string(e.what()),
              "fort.3, line 5: end of file: the label record of reference block 2 of 2 expected");
  }
  // ... and on a parameter record.
  EXPECT_THROW(load(block(1.0f, 0, 0, b1) + " label\n", c), records::ReadError);
}
