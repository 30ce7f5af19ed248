// Averaging aligned layer-line data sets in the frame of their common reference.
//
// A data set aligned with rotation phi, axial shift z and radial scale s (gridscan's and
// curvematch's values against the reference) is brought into the reference frame by undoing
// exactly what the search programs apply to a trial: the phase of layer line (n, l) becomes
// psi - n*phi + 360*l*z/c, a far side first gets n*180 added (far = near + n*180), a data set
// of the opposite polarity has its phases negated before all of this (as the search programs'
// ipole does, so phi and z are those they found for the negated data), and the
// sample at R stands for the reference at s*R. A particle larger by s in real space has its
// transform G(s R) times s^2, so the values are divided by s^2. The complex values are then
// interpolated linearly in R onto one radial grid per layer line, scaled by least squares to
// the running average of the data sets before them, and averaged with the data sets' weights.
//
// Data sets are matched block by block, by position, as the suite pairs layer-line files: the
// k-th block must have the same (n, l) in every data set. A data set with fewer blocks has no
// data on the layer lines it lacks; samples flagged -999.0 (CTF zero bands) and radii outside
// a data set's samples are absent there and enter no sum. sidesplit's meridional layer lines
// written twice at half weight are two blocks like any others: each is averaged on its own
// and written again with its weight, so the average keeps the layout of its inputs.
//
// With the CTF of each data set (its image phase-flipped, so that its values are |CTF| F plus
// noise), the mean is the Wiener-type sum w c |CTF| G / (sum w CTF^2 + k), k the constant
// 1/SNR: samples near a data set's CTF zeros count for nothing there, and the amplitudes that
// the CTF damped are restored. The CTF of a sample on layer line l at the data set's own
// radius R is taken at the frequency (X, l/c) of its image, X = -R on the near side of a
// layer line of n >= 0 and +R on its far side (the other way round for n < 0, and for the
// second block of a meridional layer line written twice), the helix axis along the image's y
// axis.
//
// The constant k may instead follow the data, shell by shell of spatial frequency s =
// sqrt(R^2 + (l/c)^2): k(s) = 1/snr(s), snr the signal-to-noise ratio of one data set of weight
// 1 at |CTF| = 1, estimated from the two halves (wiener_shells). A half's CTF-weighted sum at a
// sample, N = sum w c |CTF| G, holds the signal S G with S = sum w CTF^2 (the sum's weight) and,
// a data set of weight w taken to carry the noise power sigma^2/w, noise of power sigma^2 S.
// Over a shell's samples that both halves carry
//     P     = sum Re N1 conj(N2) / sum S1 S2                        (the signal power, <|G|^2>)
//     sigma^2 = (sum |N1|^2 + |N2|^2 - P sum (S1^2 + S2^2)) / sum (S1 + S2)
// and snr = P / sigma^2. With every S the same this is the familiar FSC/(1 - FSC) = S snr, the
// SNR of a half's sum. Then sum w c |CTF| G / (sum w CTF^2 + 1/snr) is the least-squares
// (Wiener) estimate of G in each shell: where the data sets carry the shell well it is the
// particle with its amplitudes restored, where they hardly carry it the noise is held down
// instead of amplified, and no single constant has to serve both.
#pragma once

#include <complex>
#include <cstdint>
#include <string>
#include <vector>

#include "ctf/ctf.hpp"
#include "layerline/pointlist.hpp"

namespace layermean {

// Where a data set lies against the reference, and how much it counts.
struct Placement {
  float phi = 0.0f;
  float z = 0.0f;
  float rscale = 1.0f;
  bool far = false;
  float weight = 1.0f;
  std::int32_t half = 1;  // 1 or 2
  bool opposite = false;  // opposite polarity: phases negated before the side and the motion
  bool has_ctf = false;   // its image's CTF, for the Wiener-type mean
  ctf::Params ctf{};
};

// One layer line of the average: the block's identity and the radial grid of its samples.
struct LayerLineGrid {
  std::int32_t nn = 0, nl = 0;
  float block_weight = 1.0f;  // the amplitude weight of its parameter record, as read
  float ysp = 0.0f;           // the height of the first data set's label, 0 when unreadable
  std::vector<float> r;       // radii of the samples, increasing
  std::size_t offset = 0;     // index of its first sample in the flat sample arrays
  bool other_half = false;    // the second block of a meridional layer line: the other half of R
};

// Sums at one sample of the grid.
struct SampleSums {
  std::complex<double> sum{0.0, 0.0};  // sum of w c G (with the CTF: w c |CTF| G)
  double weight = 0.0;                 // sum of w (with the CTF: w CTF^2)
  double amp = 0.0;                    // sum of w c |G| (with the CTF: w c |CTF| |G|)
  std::int32_t count = 0;              // data sets with a value here
};

// The constant k of the Wiener-type mean when none is given.
constexpr float default_wiener = 0.1f;

// What each data set contributed.
struct Contribution {
  std::string name;
  Placement place;
  float scale = 1.0f;                      // c, the amplitude scale
  std::vector<std::complex<float>> value;  // its value at each sample (c not applied); NaN: absent
  std::vector<float> ctf;                  // |CTF| at each sample; empty without the CTF
};

class Averager {
 public:
  // repeat: the repeat distance c in Angstroms; delr > 0 puts every layer line on the grid
  // R = k*delr within the first data set's radii, 0 takes the first data set's radii.
  // wiener: the constant k = 1/SNR of the Wiener-type mean (0 without the CTF).
  // from_halves: k is to follow the data (wiener_shells); the amplitude scales are then fitted
  // by fit_scales_from_halves once every data set is in (each added with scale 1).
  Averager(float repeat, float delr, float wiener = 0.0f, bool from_halves = false);

  // Adds one data set (the blocks of its file, named `name` in messages). Throws
  // records::ReadError when its layer lines differ from those seen before, or when --delr
  // would give a layer line more than 100000 radii.
  void add(const std::string& name, const std::vector<layerline::Block>& blocks, const Placement& p);

  // With k from the halves, once every data set is in: fits every data set's amplitude scale
  // against the two halves, free of its own noise, and makes the sums again.
  void fit_scales_from_halves();

  const std::vector<LayerLineGrid>& grid() const { return grid_; }
  std::size_t samples() const { return total_; }
  const std::vector<Contribution>& contributions() const { return sets_; }
  // Sums over every data set, and over the data sets of half 1 or 2.
  const std::vector<SampleSums>& sums() const { return all_; }
  const std::vector<SampleSums>& half_sums(std::int32_t half) const { return half == 1 ? half1_ : half2_; }
  double wiener() const { return wiener_; }
  float repeat() const { return repeat_; }

 private:
  void extend_grid(const std::string& name, const std::vector<layerline::Block>& blocks);
  std::vector<std::complex<float>> in_frame(const std::vector<layerline::Block>& blocks, const Placement& p) const;
  std::vector<float> ctf_at_samples(const Placement& p) const;
  void accumulate(const Contribution& c);

  float repeat_;
  float delr_;
  double wiener_;
  bool from_halves_;
  std::string first_name_;
  std::vector<LayerLineGrid> grid_;
  std::size_t total_ = 0;
  std::vector<SampleSums> all_, half1_, half2_;
  std::vector<Contribution> sets_;
};

// The average of some sums at each sample (NaN where no data set has a value): sum / (weight +
// wiener), or with k per sample sum / (weight + k[j]).
std::vector<std::complex<float>> mean_of(const std::vector<SampleSums>& sums, double wiener = 0.0);
std::vector<std::complex<float>> mean_of(const std::vector<SampleSums>& sums, const std::vector<double>& k);

// One shell of spatial frequency and what the two halves say of its signal and noise.
struct WienerShell {
  double s_lo = 0.0, s_hi = 0.0;  // reciprocal Angstroms
  std::int32_t samples = 0;       // samples that both halves carry
  double fsc = 0.0;               // correlation of the halves' CTF-weighted sums
  double snr = 0.0;               // of one data set of weight 1 at |CTF| 1; 0 when no signal shows
  double k = 0.0;                 // 1/snr within [wiener_least, wiener_most]
};

// Bounds of k(s): a shell without noise, and a shell without signal, whose samples come out
// near 0 (the CTF-weighted sums divided by 1e6).
constexpr double wiener_least = 1e-6, wiener_most = 1e6;

// The shells of equal width from 0 to the largest frequency that both halves carry, one for
// every 100 such samples (4 to 24), with the estimate above. Throws records::ReadError (named
// `name`) when the halves share no sample.
std::vector<WienerShell> wiener_shells(const Averager& avg, const std::string& name);

// k at every sample: log k interpolated linearly in s between the centres of the shells that
// hold samples, the nearest such shell's k beyond them.
std::vector<double> wiener_at_samples(const Averager& avg, const std::vector<WienerShell>& shells);

// A sample's spatial frequency sqrt(R^2 + (l/c)^2).
double frequency(const LayerLineGrid& g, std::size_t j, float repeat);

// Phase difference a - b in degrees, reduced to -180..180.
double phase_difference(std::complex<double> a, std::complex<double> b);

// |v|, without the care for overflow that std::abs takes (the values are far from it).
double magnitude(std::complex<double> v);

}  // namespace layermean
