// The reference and test data sets of curvematch: loading two gridded layer-line files into
// amplitudes and phases, the hand and side switches, the cut-off, and the radial rescaling of
// the test data.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

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

  float asum = 0.0f, a1sum = 0.0f;
  std::int32_t ncount = 0, ncount1 = 0;
  float amax = 0.0f, amin = 0.0f;

  DataSets();
};

// The radial window: samples j < isminext or j > ismaxext are set to 0 as each layer line is read.
struct Window {
  std::int32_t isminext = 0, ismaxext = 0;
};

// Reads the reference file and converts it (the two report lines are written between the two
// steps, as the run reports them). Refuses, naming the file and the header record, more than
// 1000 layer lines, sample indices outside 1..512, an empty sample range and a sampling
// interval that is not positive, before anything is stored.
void load_reference(records::LineSource& src, const std::string& refile40, Window w, float acut, DataSets& d,
                    std::ostream& out);

// Reads the test file and converts it with the reference's counts; ipole = 1 negates every
// phase, then iside = 1 adds 180*N degrees.
void load_test(records::LineSource& src, const std::string& tfile40, Window w, std::int32_t iside, std::int32_t ipole,
               DataSets& d, std::ostream& out);

// Fills a2, p2 from a1, p1 for one radial scale rsc > 0: the test data are walked in steps of
// dsr/rsc in radius and each interpolated value is stored at the target sample of its integer
// source index. Targets above ismax are outside every range the search and the report use and
// are not stored. Throws RunStop when rsc is not positive or the walk cannot advance.
void rescale_test(DataSets& d, float rsc);

// A run that must end with exit status 1 and this message (the search cannot go on).
struct RunStop {
  std::string message;
};

}  // namespace curvematch
