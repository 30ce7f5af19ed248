// The search passes: grid set-up, reading and accumulating the test data, the penalty for
// reference samples the test data do not reach, the evaluation, the report and the decision to
// refine the grid in a further pass.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "gridscan/control.hpp"
#include "gridscan/grids.hpp"
#include "gridscan/kernel.hpp"
#include "gridscan/model.hpp"
#include "gridscan/report.hpp"
#include "layerline/pointlist.hpp"
#include "records/source.hpp"

namespace gridscan {

// The centre carried from pass to pass, and what the run has noticed.
struct SearchState {
  float phi0 = 0.0f, z0 = 0.0f, rsc0 = 0.0f;  // phase minimum of the latest pass that found one
  std::int32_t ir20 = 0;                      // radial-scale index of the latest vector minimum
  bool illdiff = false;                       // a test block's layer-line number differed
  std::int32_t iph20 = 0;                     // rotation index of the latest vector minimum
};

// A search against a model of several orders on some layer lines (--model): the model, its
// kernel and the sums of a pass that depend on the rotation.
struct ModelPass {
  const ModelGrid& m;
  ModelKernel& kernel;
  ModelSums sums;
};

// The grid of one pass from its ranges and steps; nph, nz and nrs are int(range/step + 1.1),
// at most 50, 100 and 10.
PassGrid make_grid(float phimin, float phimax, float dphi, float zmin, float zmax, float dzed, float rscmin,
                   float rscmax, float drsc, float recc, float delbr);
// phi -13..13 and z -45..45 in steps of 1, scales 0.97..1.02 in steps of 0.01.
PassGrid first_pass_grid(float recc, float delbr);
// phi and z within 2.5 of the last centre in steps of 0.5; six scales from rsc0 - 0.03.
PassGrid later_pass_grid(const SearchState& st, float recc, float delbr);
// The first pass of a run: the wide grid, or the grid of a later pass centred on c.around.
PassGrid opening_grid(const Control& c);

// A test point of block l made ready for the accumulation: the phase negated when ipole = 1,
// then nn*180 added when iside = 1; the amplitude times the block weight and the layer line's
// weight; the test vector from both.
TestSample prepare_test_sample(const layerline::Point& p, float scale, float wt, std::int32_t nn, std::int32_t nl,
                               std::int32_t iside, std::int32_t ipole);

// The reference samples of block l that the test block (last point record at grid index
// irlast) does not reach at each radial scale: each counts in the phase residual as a phase
// difference of 8100 and in the vector residual as a test amplitude of zero.
void add_uncovered(const ReferenceGrid& ref, std::int32_t l, std::int32_t irlast, float wt, const PassGrid& g,
                   float fmean, Accumulators& acc);

// Reads the llmax blocks of the test file once, from where it stands, adding every usable
// sample to acc through kernel (a block's samples together, in file order). The end of the file inside a run of point
// records ends the reading; where a label or parameter record is expected it throws ReadError.
// With a model, test block l meets layer line l of the model: one of several orders through
// the model's kernel (compared when the test block's order is one of them; iside then turns
// the prediction to the far side instead of the test phases), one of one order as always.
void read_test_pass(records::LineSource& test, const Control& c, const ReferenceGrid& ref, const PassGrid& g,
                    float fmean, Accumulators& acc, SearchState& st, ReportWriter& report, BlockKernel& kernel,
                    ModelPass* model = nullptr);

struct PassResult {
  bool phase_found = false;   // some radial scale had points(irs) != 0
  float resmin = 1.0e20f;     // phase minimum (its grid point goes to the state)
  bool vector_found = false;  // a vector minimum was taken (its scale index goes to ir20)
  float resmn2 = 1.0e20f;
  // By FitRule::vector, the motion between grid points that the report gives (the grid point
  // itself stays the state's, the next pass's centre).
  bool fitted = false;
  float phi_fit = 0.0f, z_fit = 0.0f;
};

// Divides the accumulators into residuals and takes the minima: radial scale outermost, then
// phi, then z; ties keep the earlier grid point. By ScaleRule::phase the phase minimum is the
// lowest phase residual of the pass. By ScaleRule::amplitudes the radial scales whose lowest
// phase residual lies within valley_margin of the pass's lowest form its flat valley, and the
// one of them whose vector residual is lowest at its phase minimum gives the phase minimum
// (resmin and the grid point of that scale); the vector minimum is taken as always. By
// FitRule::vector the radial scale is settled so, and the rotation and shift are those of the
// lowest vector residual at that scale, resmin the phase residual there, and phi_fit and z_fit
// the vertex of the quadratic through the squared vector residual there and at its eight
// neighbours (at most two steps away; the grid point where that surface does not curve upward).
PassResult evaluate_pass(const PassGrid& g, Accumulators& acc, SearchState& st, ScaleRule rule = ScaleRule::amplitudes,
                         FitRule fit = FitRule::phase);

// The mean over layer lines with a positive weight of f1sum/f2sum at the scale ir20 (f2sum
// itself when it is not positive); nothing when no layer line has a positive weight. A layer
// line wholly beyond the resolution limit (ref.beyond) is left out like one of weight 0.
// With a model, a layer line of several orders takes its reference sum at the rotation of the
// vector minimum, iph20.
std::optional<float> mean_ampscale(const Control& c, const ReferenceGrid& ref, Accumulators& acc, std::int32_t ir20,
                                   ModelPass* model = nullptr, std::int32_t iph20 = 0);

// "0PHASE MINIMUM ..." (79 columns) and "0MEAN AMPSCALE = ..." (24 columns; asterisks when the
// scale has no value).
std::string phase_minimum_line(float resmin, float phi0, float z0, float rsc0);
std::string ampscale_line(std::optional<float> scale);

// Whether the best point lies on the border of the grid, or the grid is still coarse.
bool needs_another_pass(const SearchState& st, const PassGrid& g);

// Passes beyond this number are not run: the report of the last pass stands.
inline constexpr std::int32_t max_passes = 50;

// Runs the passes on an open test file and writes the report; returns the exit status.
int run_search(const Control& c, const ReferenceGrid& ref, records::LineSource& test, ReportWriter& report,
               std::ostream& out, std::ostream& err, BlockKernel& kernel, ModelPass* model = nullptr);

}  // namespace gridscan
