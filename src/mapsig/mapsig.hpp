// mapsig: the two-sample Student t statistic, times 100, of two sets of 3-D maps, voxel by
// voxel, from the mean and standard-deviation maps of each set.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "progmain/progmain.hpp"
#include "records/source.hpp"

namespace mapsig {

// What --help prints.
extern const char* const help;

// The seven records of standard input.
struct Dialogue {
  std::string title;  // 80 characters; it does not reach the output file
  std::int32_t n1 = 0;
  std::string iav1, isd1;  // mean and standard-deviation maps of set 1, 60 characters each
  std::int32_t n2 = 0;
  std::string iav2, isd2;  // the same for set 2
};

// Reads the seven records. An end of the input, a set size that is not a number or is below
// 1 throws records::ReadError naming the line.
Dialogue read_dialogue(records::LineSource& src);

// The constants of the pooled-variance statistic for sets of n1 and n2 maps.
struct Pooling {
  explicit Pooling(std::int32_t n1, std::int32_t n2);
  float n1ls1, n2ls1;  // n1 - 1, n2 - 1
  float idegf;         // degrees of freedom n1 + n2 - 2
  float btbit;         // sqrt(1/n1 + 1/n2)
};

// Running statistics of the output: voxels of zero pooled variance take no part in them.
struct Densities {
  float dmin = 1.0e7f;
  float dmax = -1.0e7f;
  float sum = 0.0f;
};

// One section: tstat(j) = 100 |aav1(j) - aav2(j)| / (sdpop sqrt(1/n1 + 1/n2)), where sdpop is
// the pooled standard deviation; 0 where the pooled sum of squares is not positive.
void tstat_section(const Pooling& p, std::span<const float> aav1, std::span<const float> ssd1,
                   std::span<const float> aav2, std::span<const float> ssd2, std::span<float> tstat, Densities& d);

// The program: no arguments; the dialogue on standard input, the report on standard output,
// the map through logical name TSTAT.
int run(const std::vector<std::string>& args, progmain::Streams streams);

}  // namespace mapsig
