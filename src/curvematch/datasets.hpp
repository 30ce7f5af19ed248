// The reference and test data sets of curvematch: loading two gridded layer-line files into
// amplitudes and phases, the hand and side switches, the cut-off, and the radial rescaling of
// the test data.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "phaselanes/phaselanes.hpp"
#include "records/source.hpp"

namespace curvematch {

// degrees per radian, the single-precision value nearest to 180/pi
inline constexpr float deg = 57.29578f;

// Capacities of the files: layer lines per file, and the highest radial sample index.
inline constexpr std::int32_t max_layer_lines = 1000;
inline constexpr std::int32_t max_sample_index = 512;

// A table of reals indexed (layer line l = 1..rows, sample index j = 0..cols-1), zero when made.
class Table {
 public:
  void reset(std::int32_t rows, std::int32_t cols) {
    rows_ = rows;
    cols_ = cols;
    v_.assign(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols), 0.0f);
  }
  float& at(std::int32_t l, std::int32_t j) { return v_[index(l, j)]; }
  float at(std::int32_t l, std::int32_t j) const { return v_[index(l, j)]; }
  // The samples of layer line l, from index 0.
  const float* row(std::int32_t l) const { return v_.data() + index(l, 0); }
  float* row(std::int32_t l) { return v_.data() + index(l, 0); }
  std::int32_t rows() const { return rows_; }
  std::int32_t cols() const { return cols_; }

 private:
  std::size_t index(std::int32_t l, std::int32_t j) const {
    return static_cast<std::size_t>(l - 1) * static_cast<std::size_t>(cols_) + static_cast<std::size_t>(j);
  }
  std::int32_t rows_ = 0, cols_ = 0;
  std::vector<float> v_;
};

// The arc tangent in degrees of a sample with imaginary part i and real part r, exact on the
// axes: (0, r>0) -> 0, (0, 0) -> 0, (0, r<0) -> 180, (i>0, 0) -> 90, (i<0, 0) -> -90.
float dratan2d(float i, float r);

// The radial window: samples j < isminext or j > ismaxext are set to 0 as each layer line is read.
struct Window {
  std::int32_t isminext = 0, ismaxext = 0;
};

// How the rescaling places the test data at a radial scale rsc.
enum class RescaleRule {
  // Target k (radius (k-1)*dsr) takes the test's value at source index (k-1)/rsc + 1,
  // interpolated between its two neighbouring samples; a target whose source lies outside the
  // test samples in use is absent.
  interpolated,
  // The walk in steps of dsr/rsc from the radius value ismin: each value goes to the target of
  // its truncated source index, targets the walk skips keep 0 and are compared as such.
  truncated,
};

// What a test file that holds fewer layer lines or samples than the reference gives there.
enum class ShortTestRule {
  absent,     // nothing: those layer lines and samples are never compared
  reference,  // the reference's values left in the storage the files share
};

// Both data sets and everything derived from them. Arrays a..p2 are sized from the reference
// header: layer lines 1..llmax, sample indices 0..ismax+1 (ismax+1 holds 0, the neighbour the
// rescaling interpolates towards at the last sample).
struct DataSets {
  // the values as read from a file: (layer line, sample index), shared by both files in turn,
  // so a test file that holds less leaves the reference's values in place
  Table ltlga, ltlgb;
  std::vector<std::int32_t> in, inl;  // Bessel order N and layer-line number L, 1..1000

  // reference header
  std::string lgtitle;
  std::int32_t llmax = 0, ismin = 0, ismax = 0;
  float dsr = 0.0f;
  // test header
  std::string lgtitle2;
  std::int32_t llmax2 = 0, ismin2 = 0, ismax2 = 0;
  float dsr2 = 0.0f;  // read and not used

  Table a, p;    // reference amplitude and phase (degrees)
  Table a1, p1;  // test amplitude and phase as read, after the hand and side switches
  Table a2, p2;  // test resampled at the current radial scale

  // The window the files were read with; the interpolated rescaling uses only the test samples
  // inside it.
  Window window{1, max_sample_index};
  // Per layer line 1..llmax: the test samples the test file holds within the reference's layer
  // lines and sample range, test_first..test_last (none when first > last).
  std::vector<std::int32_t> test_first, test_last;
  // Per layer line: the targets of a2, p2 that hold a value at the current radial scale; the
  // others are absent and never compared. Until a rescaling sets them, every sample is present.
  std::vector<std::int32_t> a2_first, a2_last;
  // The present targets of layer line l within ismin..ismax (none when first2 > last2).
  std::int32_t first2(std::int32_t l) const {
    const std::int32_t f = a2_first[static_cast<std::size_t>(l)];
    return f > ismin ? f : ismin;
  }
  std::int32_t last2(std::int32_t l) const {
    const std::int32_t f = a2_last[static_cast<std::size_t>(l)];
    return f < ismax ? f : ismax;
  }

  float asum = 0.0f, a1sum = 0.0f;
  std::int32_t ncount = 0, ncount1 = 0;
  float amax = 0.0f, amin = 0.0f;

  DataSets();
};

// Reads the reference file and converts it (the two report lines are written between the two
// steps, as the run reports them). Refuses, naming the file and the header record, more than
// 1000 layer lines, sample indices outside 1..512, an empty sample range and a sampling
// interval that is not positive, before anything is stored.
void load_reference(records::LineSource& src, const std::string& refile40, Window w, float acut, DataSets& d,
                    std::ostream& out);

// Reads the test file and converts it with the reference's counts; ipole = 1 negates every
// phase, then iside = 1 adds 180*N degrees. By ShortTestRule::absent only the samples the test
// file holds (its layer lines 1..llmax2, its samples ismin2..ismax2) are converted and counted
// (test_first, test_last), the rest of a1, p1 is 0, and the "llmax =" line shows the test's
// llmax; by ShortTestRule::reference every sample of the reference's range is converted,
// reference values left in the shared storage included, and that line shows the reference's.
void load_test(records::LineSource& src, const std::string& tfile40, Window w, std::int32_t iside, std::int32_t ipole,
               DataSets& d, std::ostream& out, ShortTestRule rule = ShortTestRule::absent);

// Fills a2, p2 (and a2_first, a2_last) from a1, p1 for one radial scale rsc > 0 by the rule.
// Interpolated: for k = ismin..ismax the source s = (k-1)/rsc + 1 is used when it lies within the
// test samples held inside the window, lo <= s <= hi; with j = int(s), t = s - j, the complex
// value (1-t)*v(j) + t*v(j+1) is stored (v(j+1) is v(j) when j = hi, where t = 0); the present
// targets form one run. Truncated: the walk of the old rule (each interpolated value stored at
// the target of its integer source index; targets above ismax are not stored); the present
// targets are the samples the test file holds. Absent targets hold 0. Throws RunStop when rsc is
// not positive or the walk cannot advance.
void rescale_test(DataSets& d, float rsc, RescaleRule rule = RescaleRule::interpolated);
// The same with a1 times cos and sin of p1/deg (in double precision, rounded, then the product
// in single precision) taken from tables made by test_phase_tables: the same values, computed
// once instead of at every step, and the square roots and arc tangents by sqrt_rounded and
// atan2_rounded, side by side in the vectors of level: the same results, faster.
void rescale_test(DataSets& d, float rsc, RescaleRule rule, const Table& ac, const Table& as, phaselanes::Level level);
void test_phase_tables(const DataSets& d, Table& ac, Table& as);

// A run that must end with exit status 1 and this message (the search cannot go on).
struct RunStop {
  std::string message;
};

}  // namespace curvematch
