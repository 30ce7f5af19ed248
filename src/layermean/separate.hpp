// Separation of the Bessel orders that share a layer line, by least squares over many views.
//
// On layer line l at radius R every order n that the selection rule admits ((l + T n)/U whole)
// contributes once J_n(2 pi R r) can reach a level within the particle's radius r <= RMAX. One
// view holds their sum; views at different azimuths hold it with different phases, so many
// views separate them. Write H_n for the value that order n alone puts on the near side of its
// own block (the block a single-order average of that layer line would hold: near is X < 0 for
// n >= 0 and X > 0 for n < 0, as sidesplit assigns the sides). A data set turned by phi and of
// side sign s (+1 near, -1 far), brought into the frame of its block's order m as layermean
// does (z undone, the polarity undone, the radial scale applied, and the phase of order m
// turned back by m phi, far = near + m 180), then holds
//     v = sum over n of p_n H_n exp(i (n - m) phi) s^(n - m),
// p_n = (-1)^n when order n's near side is the other half of the layer line from the data's
// near side, 1 otherwise (order n's values at -X and +X differ by (-1)^n). On the equator the
// orders n and -n are one: a real density has H_-n = (-1)^n conj(H_n), so the unknowns are the
// orders n >= 0 and each n > 0 adds (-1)^n conj(H_n) exp(-i n phi) s^n exp(-i m phi) s^m;
// their blocks hold 2 H_n, the equator block of an order n > 0 standing for n and -n together.
//
// The data set's weight w, its amplitude scale c (see separate()) and (with the CTF) its |CTF| f at the sample
// weight the equations as the plain mean does: the rows of data set d are sqrt(w) f times the
// coefficients, its right-hand side sqrt(w) c v, and the Wiener constant K adds sqrt(K) times
// every unknown = 0. With one order this is exactly the mean sum w c f v / (sum w f^2 + K).
// The real and imaginary parts of the H_n are the unknowns of eigline's filtered least squares;
// all radii of a layer line that share the unknowns and the design matrix are solved in one
// call, their data as its several right-hand sides.
#pragma once

#include <complex>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "layermean/average.hpp"

namespace layermean {

struct SeparationSettings {
  std::int32_t u = 0, t = 0;  // the selection rule: (l + t n)/u whole
  float rmax = 0.0f;          // the particle's outer radius, Angstroms
  float filter = 0.01f;       // eigline's fraction: directions below it times the best are dropped
  float level = 0.1f;         // an order counts where |J_n(2 pi R rmax)| can reach this
};

// The orders solved for on layer line l at radius R for a block of order own: own first, then
// the others the rule admits whose |J_n(2 pi R r)| exceeds the level for some r <= rmax, by |n|
// (+n before -n). On the equator only orders n >= 0 (own taken as |own|).
std::vector<std::int32_t> orders_at(const SeparationSettings& s, std::int32_t l, std::int32_t own, float r);

// One block of the separated output: order n of layer line l on the radii of an input block.
struct SeparatedLine {
  std::int32_t nn = 0, nl = 0;
  float block_weight = 1.0f, ysp = 0.0f;
  std::size_t source = 0;                  // the input block (index into the grid)
  std::vector<float> r;                    // the input block's radii
  std::vector<std::complex<float>> value;  // NaN where absent (no data, or under-determined)
  std::vector<float> fom;                  // |H|^2 / (|H|^2 + its variance), 0 where unknown
};

// The fit at one radius of one input block.
struct SampleFit {
  std::size_t source = 0;         // the input block
  std::size_t sample = 0;         // index into its radii
  std::int32_t orders = 0;        // complex unknowns
  std::int32_t directions = 0;    // real unknowns (2 per order)
  std::int32_t kept = 0;          // directions eigline kept
  std::int32_t count = 0;         // data sets with a value here
  float spread = 0.0f;            // amplitude-weighted phase spread of the data about the fit
  double rss = 0.0, total = 0.0;  // weighted sums of squares of the residual and of the data
  bool determined() const { return kept == directions; }
};

struct Separation {
  std::vector<SeparatedLine> lines;
  std::vector<SampleFit> fits;   // one per sample of the averager's grid; count 0: no data there
  std::vector<float> scales;     // the amplitude scale c of each data set used
  std::vector<float> residuals;  // each one's phase residual against the fit's prediction, degrees
};

// Separates the orders from the data sets the averager holds: half 0 all of them, 1 or 2 one
// half. The Wiener constant is the averager's, or k[j] at sample j when k is given (one a
// sample). Throws records::ReadError (naming `table`) when a block's own order breaks the rule.
Separation separate(const Averager& avg, const SeparationSettings& s, std::int32_t half, const std::string& table,
                    const std::vector<double>& k = {});

// The separated blocks in sidesplit's layout, as write_average writes the mean.
void write_separated(std::ostream& out, const Separation& sep, const std::string& title);

// Per output block and radius: block, n, l, R, amplitude, phase, fom, count, spread, orders,
// directions, kept (kept < directions: under-determined there, the sample left out of the
// blocks), tab-separated with a header line.
void write_separation_stats(std::ostream& out, const Averager& avg, const Separation& sep);

// The separation's part of the summary: per input layer line the orders solved, the samples,
// the R factor sqrt(sum of squared residuals / sum of squared data) and the radii where the
// views could not separate the orders; per data set its scale and its phase residual against
// the fit's prediction for its view; and the agreement of the halves (each separated on its
// own) per shell of R.
void write_separation_summary(std::ostream& out, const Averager& avg, const Separation& sep, const Separation& half1,
                              const Separation& half2, const SeparationSettings& s);

}  // namespace layermean
