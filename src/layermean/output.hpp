// What layermean writes: the averages as point-list files, the per-sample statistics, the
// summary, and the files that appear only when the whole run has succeeded.
#pragma once

#include <complex>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "layermean/average.hpp"

namespace layermean {

// An output file written under a temporary name in its own folder and renamed to its name by
// commit(); if the run fails before that, the temporary file is removed, so a failed run leaves
// no output file behind and an older file of that name stays as it was.
class PendingFile {
 public:
  explicit PendingFile(std::string path);
  ~PendingFile();
  PendingFile(const PendingFile&) = delete;
  PendingFile& operator=(const PendingFile&) = delete;

  std::ostream& stream() { return out_; }
  // Closes the temporary file; throws records::ReadError when it could not be written in full.
  void close();
  // Renames the temporary file to the path; throws records::ReadError when it cannot.
  void commit();

 private:
  std::string path_, temp_;
  std::ofstream out_;
  bool committed_ = false;
};

// The average as a point-list file in sidesplit's layout, near-side phases: per layer line its
// label (the title, "LL", l, "NEAR", the height), its parameter record with the block's weight,
// the samples that some data set reached, and the terminator.
void write_average(std::ostream& out, const std::vector<LayerLineGrid>& grid,
                   const std::vector<std::complex<float>>& mean, const std::string& title);

// Per layer line and sample: block, n, l, R, amplitude, phase, figure of merit
// |sum w G| / sum w |G|, number of data sets, and the amplitude-weighted phase spread of the
// data sets about the average; tab-separated with a header line. Samples no data set reached
// are left out.
void write_stats(std::ostream& out, const Averager& avg, const std::vector<std::complex<float>>& mean);

// The CTF weights' 1/SNR when it follows the data: the shells and k at every sample (both
// empty for the one constant of the Averager).
struct Weighting {
  std::vector<WienerShell> shells;
  std::vector<double> per_sample;
};

// The summary on standard output: per data set its scale and phase residual against the
// average, per layer line its mean figure of merit, the agreement of the two halves per
// resolution shell, and the shells of k(s) when k follows the data.
void write_summary(std::ostream& out, const Averager& avg, const std::vector<std::complex<float>>& mean,
                   const Weighting& k, int left_out, int skipped, const std::string& table);

// Amplitude-weighted phase residual of `values` against `reference`, in degrees:
// sqrt(sum |ref| dphi^2 / sum |ref|) over the samples both have (NaN when there are none).
double phase_residual(const std::vector<std::complex<float>>& values,
                      const std::vector<std::complex<float>>& reference);

}  // namespace layermean
