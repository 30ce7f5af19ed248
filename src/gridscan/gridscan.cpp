#include "gridscan/gridscan.hpp"

#include <cmath>
#include <filesystem>
#include <system_error>

#include "gridscan/control.hpp"
#include "gridscan/model.hpp"
#include "gridscan/reference.hpp"
#include "gridscan/report.hpp"
#include "gridscan/search.hpp"
#include "records/error.hpp"
#include "records/forms.hpp"
#include "records/numbers.hpp"
#include "records/source.hpp"

namespace gridscan {

const std::string_view help_text =
    "usage: gridscan [--control FILE] [--reference FILE] [--test FILE] [--report FILE]\n"
    "                [--flags ignored|amplitudes] [--kernel fast|literal|sse2|avx2|avx512]\n"
    "                [--resolution RES] [--around PHI Z RSCALE] [--scale-by amplitudes|phase]\n"
    "                [--model] [--fit phase|vector]\n"
    "                [--ctf VOLTAGE CS AMPCONTRAST DEFOCUS_U DEFOCUS_V ANGLE [BFACTOR]]\n"
    "\n"
    "Aligns a test point-list layer-line file to a reference one: searches the rotation phi,\n"
    "the axial shift z and the radial scale of the test data for the smallest amplitude-weighted\n"
    "phase residual, refining the grid pass by pass until the best point lies inside it.\n"
    "\n"
    "Reads   the control file (default fort.2): llmax recc delbr iprint; llmax weights; a title;\n"
    "        iside ipole\n"
    "        the reference point-list file (default fort.3), read once\n"
    "        the test point-list file (default fort.1), read once per pass\n"
    "Writes  the report file (default fort.7): with iprint = 1 every point record read, then per\n"
    "        pass the phase minimum and the mean amplitude scale\n"
    "        standard output: the radial-scale stop and the note on differing layer-line numbers\n"
    "        standard error: a note when llmax is above 40 (only the first 40 layer lines are\n"
    "        compared), and a warning when delbr differs by more than 1 percent from the radial\n"
    "        spacing of the reference's points (the median over its blocks of the mean step\n"
    "        between successive point records); recc and delbr must be positive\n"
    "Exit    0 when the search ends inside its grid; 1 when it stops on the radial-scale limit,\n"
    "        without any compared sample, or at its bound of passes; 2 on unreadable input\n"
    "\n"
    "A sample of amplitude -999.0, the flag sidesplit writes inside the band of a CTF zero,\n"
    "takes part in no sum, in the reference or the test data (--flags ignored, the default);\n"
    "its point record still marks where its layer line reaches. --flags amplitudes restores\n"
    "the old rule, which uses the flag as a negative amplitude, for reproducing old results.\n"
    "\n"
    "Radial scale of a pass's phase minimum: the phase residual hardly tells neighbouring\n"
    "scales apart where the phases are flat between Bessel zeros; the vector residual, which\n"
    "weighs the amplitudes too, does. With --scale-by amplitudes (the default) the radial scales\n"
    "whose lowest phase residual lies within 0.1 degree plus 5 percent of the pass's lowest form\n"
    "its flat valley; of these, the scale whose vector residual is lowest at its own phase\n"
    "minimum gives the pass's minimum (its residual, phi, z and scale; the lowest scale among\n"
    "equals). --scale-by phase restores the old rule, the lowest phase residual alone, for\n"
    "reproducing old results.\n"
    "\n"
    "--fit vector takes as each pass's minimum, at the radial scale settled as above, the\n"
    "rotation and shift of the lowest vector residual, the sum over the compared samples of\n"
    "|reference - moved test|^2 over the sum of their layer-line weights: it is lowest where\n"
    "the cross-correlation of reference and moved test data is highest, the best estimate of the\n"
    "motion when the test data carry noise and the reference little (the phase residual counts\n"
    "every sample's phase error alike, whatever its signal, and leaves about twice the error).\n"
    "The report's minimum then gives the phase residual at that grid point, and phi and z\n"
    "between grid points: the vertex of the quadratic surface through the squared vector\n"
    "residual there and at its eight neighbours (at most two steps away; the grid point itself on\n"
    "the border of the grid or where the surface does not curve upward). --fit phase (the\n"
    "default) takes the phase residual's minimum, as above.\n"
    "\n"
    "--ctf V CS A DU DV ANGLE [B] gives the CTF of the test data's image (as helixsim's ctf\n"
    "line and helixft's --ctf give it: kV, mm, fraction, A, A, degrees, A^2): test data whose\n"
    "phases were flipped by it still carry |CTF| in their amplitudes, so every reference sample\n"
    "is compared as |CTF| times its amplitude, the CTF taken at the sample's frequency (R on the\n"
    "test's side of the helix, l*recc). Without it the radial scale that the vector residual\n"
    "settles, and the vector fit's motion, follow the CTF's rings as well as the data. The\n"
    "factor weighs the phase residual too: each sample by |CTF|^2 with the test's amplitude.\n"
    "Not with --model.\n"
    "\n"
    "--resolution RES (Angstroms) compares the data only to that resolution: a reference sample\n"
    "at radius R on layer line l is stored only when R^2 + (l*recc)^2 <= 1/RES^2, so a layer\n"
    "line with |l|*recc > 1/RES takes no part at all, nor does it count in the mean amplitude\n"
    "scale. A test sample is compared where its scaled radius falls between two stored\n"
    "reference samples, as always; reference samples beyond the limit are neither compared nor\n"
    "counted as uncovered.\n"
    "\n"
    "--around PHI Z RSCALE starts the search from a previous answer: the first pass is then the\n"
    "grid of a later pass centred there (phi PHI-2.5..PHI+2.5 and z Z-2.5..Z+2.5 in steps of\n"
    "0.5, radial scales RSCALE-0.03..RSCALE+0.02 in steps of 0.01) instead of the wide grid\n"
    "(phi -13..13 and z -45..45 in steps of 1, scales 0.97..1.02). Later passes are as always:\n"
    "another pass, centred on the best point, while that point lies on the border of the grid\n"
    "(or on its first two radial scales).\n"
    "\n"
    "--model reads the reference as a model of several Bessel orders a layer line (as layermean\n"
    "writes it when it separates overlapping orders): consecutive blocks of one layer-line\n"
    "number form one layer line, each block one order n (at most 8 a layer line, each once), in\n"
    "the phase convention of a near-side file; llmax and the weights count layer lines, and\n"
    "test block k meets layer line k. For the view turned by phi the model predicts on layer\n"
    "line l at radius R the sum over its orders of N_nl(R) exp(i n phi), an order whose near\n"
    "half (negative R for n >= 0, positive R for n < 0) is not the test block's taking the\n"
    "factor (-1)^n, and far-side test data (iside = 1) (-1)^n more, instead of the test phases\n"
    "turned by n*180. The test data, moved by the axial shift alone, are scored against that\n"
    "prediction: the phase residual, the vector residual, the model's samples the test data do\n"
    "not reach, and the amplitude scale at the rotation of the vector minimum. The point\n"
    "weights, the penalty of a sample not reached and the mean reference amplitude take at each\n"
    "grid point the root of the sum of the orders' squared amplitudes (the mean amplitude of\n"
    "the prediction over every rotation), so that every trial weighs a sample alike. A test\n"
    "block is compared when its order is one of its layer line's. A layer line of one order is\n"
    "searched exactly as without --model, so a reference of one order a layer line gives the\n"
    "same report either way. Without --model, two successive reference blocks of one layer line\n"
    "and different orders draw a warning on standard error (they would be taken as layer lines\n"
    "of their own).\n"
    "\n"
    "--kernel chooses how the residuals are accumulated: fast (the default) with the widest\n"
    "vectors the processor runs, sse2, avx2 or avx512 with vectors of that instruction set (4, 8\n"
    "or 16 lanes), literal step by step as the search is written. All write the same report,\n"
    "byte for byte; the choice is there for tests and timings.\n";

namespace {

float option_number(const std::string& text, const std::string& what) {
  const records::Parsed<float> p = records::parse_free_real(text);
  if (!p.ok() || !std::isfinite(p.value)) throw records::ReadError("command line", what + ", not \"" + text + "\"");
  return p.value;
}

}  // namespace

Files parse_arguments(const std::vector<std::string>& args) {
  Files f;
  // --around takes three values; the rest are "--name value".
  std::vector<std::string> rest;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--model") {
      f.model = true;
      continue;
    }
    if (args[i] == "--ctf") {
      // six or seven values, the astigmatism angle possibly negative
      std::string v;
      for (int k = 0; k < 7 && i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0; ++k)
        v += (k ? " " : "") + args[++i];
      f.ctf = ctf::from_option(v);
      continue;
    }
    if (args[i] != "--around") {
      rest.push_back(args[i]);
      continue;
    }
    if (i + 3 >= args.size()) throw records::ReadError("command line", "--around needs three numbers: PHI Z RSCALE");
    Around a;
    a.phi = option_number(args[i + 1], "--around needs a number for PHI (degrees)");
    a.z = option_number(args[i + 2], "--around needs a number for Z (Angstroms)");
    a.rscale = option_number(args[i + 3], "--around needs a positive number for RSCALE");
    if (!(a.rscale > 0.0f))
      throw records::ReadError("command line",
                               "--around needs a positive number for RSCALE, not \"" + args[i + 3] + "\"");
    f.around = a;
    i += 3;
  }
  std::string kernel_name, flags, resolution, scale_by, fit;
  progmain::bind_options(rest,
                         {{"--kernel", &kernel_name, "fast, literal, sse2, avx2 or avx512"},
                          {"--flags", &flags, "ignored or amplitudes"},
                          {"--resolution", &resolution, "a resolution in Angstroms"},
                          {"--scale-by", &scale_by, "amplitudes or phase"},
                          {"--fit", &fit, "phase or vector"},
                          {"--control", &f.control, "a file name"},
                          {"--reference", &f.reference, "a file name"},
                          {"--test", &f.test, "a file name"},
                          {"--report", &f.report, "a file name"}},
                         "gridscan");
  if (!kernel_name.empty()) {
    const phaselanes::KernelOption k = phaselanes::read_kernel_option(kernel_name);
    if (!k.choice) throw records::ReadError("command line", k.problem);
    f.kernel = *k.choice;
  }
  if (flags == "amplitudes")
    f.flags_as_amplitudes = true;
  else if (!flags.empty() && flags != "ignored")
    throw records::ReadError("command line", "--flags is ignored or amplitudes, not \"" + flags + "\"");
  if (scale_by == "phase")
    f.scale_rule = ScaleRule::phase;
  else if (!scale_by.empty() && scale_by != "amplitudes")
    throw records::ReadError("command line", "--scale-by is amplitudes or phase, not \"" + scale_by + "\"");
  if (fit == "vector")
    f.fit_rule = FitRule::vector;
  else if (!fit.empty() && fit != "phase")
    throw records::ReadError("command line", "--fit is phase or vector, not \"" + fit + "\"");
  if (f.ctf && f.model)
    throw records::ReadError("command line", "--ctf is not taken with --model (a model's orders are weighed alike)");
  if (!resolution.empty()) {
    f.resolution = option_number(resolution, "--resolution needs a positive number of Angstroms");
    if (!(f.resolution > 0.0f))
      throw records::ReadError("command line",
                               "--resolution needs a positive number of Angstroms, not \"" + resolution + "\"");
  }
  return f;
}

namespace {

// A report that would truncate one of the inputs is refused before anything is read.
void refuse_report_over_input(const Files& f) {
  for (const std::string* input : {&f.control, &f.reference, &f.test}) {
    std::error_code ec;
    if (std::filesystem::equivalent(f.report, *input, ec) && !ec)
      throw records::ReadError(f.report,
                               "the report file is the same file as the input " + *input + "; it would be overwritten");
  }
}

// delbr is the step of the grid the samples are filed on: one that does not match the
// spacing of the data files files several samples at one grid point, or leaves grid points
// empty, and the search goes wrong without an error.
void warn_on_spacing(std::ostream& err, const Files& f, const Control& c, const ReferenceGrid& ref) {
  if (!(ref.spacing > 0.0f)) return;
  if (std::fabs(c.delbr - ref.spacing) <= 0.01f * ref.spacing) return;
  err << "gridscan: " << f.control << ", control record 1: delbr = " << records::free_real(c.delbr)
      << " differs by more than 1 percent from the radial spacing " << records::free_real(ref.spacing)
      << " of the reference's points (" << f.reference << "); samples will not fall one to a grid point\n";
}

// Two successive reference blocks of one layer line and different orders are a model of
// several orders a layer line; without --model they are taken as layer lines of their own,
// each paired with a test block by position, and the search goes wrong without an error.
void warn_on_orders(std::ostream& err, const Files& f, const Control& c, const ReferenceGrid& ref) {
  for (std::int32_t l = 2; l <= c.llmax; ++l) {
    const auto i = static_cast<std::size_t>(l - 1);
    if (ref.nl1[i] != ref.nl1[i - 1] || ref.nn1[i] == ref.nn1[i - 1]) continue;
    err << "gridscan: " << f.reference << ": blocks " << l - 1 << " and " << l << " hold orders " << ref.nn1[i - 1]
        << " and " << ref.nn1[i] << " of layer line " << ref.nl1[i]
        << "; a reference of several orders a layer line is read with --model\n";
    return;
  }
}

}  // namespace

int run(const std::vector<std::string>& args, progmain::Streams streams) {
  const Files files = parse_arguments(args);
  refuse_report_over_input(files);
  records::LineSource control = records::LineSource::open_file(files.control);
  records::LineSource refsrc = records::LineSource::open_file(files.reference);
  records::LineSource test = records::LineSource::open_file(files.test);
  ReportWriter report(files.report);

  Control c;
  c.flags_as_amplitudes = files.flags_as_amplitudes;
  if (files.resolution > 0.0f) c.smax = 1.0f / files.resolution;
  c.around = files.around;
  c.scale_rule = files.scale_rule;
  c.fit_rule = files.fit_rule;
  c.ctf = files.ctf;
  read_control_head(control, c);
  // The CTF weighs the reference on the test's side, which the control's last record gives.
  if (c.ctf) read_control_tail(control, c);
  if (c.llmax_read > c.llmax)
    streams.err << "gridscan: " << files.control << ", control record 1: llmax = " << c.llmax_read
                << "; only the first " << c.llmax << " layer lines are compared, at most " << llcap
                << " are supported\n";
  ReferenceGrid ref;
  const std::unique_ptr<ModelGrid> model = files.model ? std::make_unique<ModelGrid>() : nullptr;
  if (model)
    load_model(refsrc, c, ref, *model, report);
  else
    load_reference(refsrc, c, ref, report);
  warn_on_spacing(streams.err, files, c, ref);
  if (!model) warn_on_orders(streams.err, files, c, ref);
  // The point weights of the search are relative to the mean reference amplitude.
  if (ref.allpts == 0.0f && c.smax > 0.0f)
    throw records::ReadError(files.reference, "no reference sample of the " + std::to_string(c.llmax) +
                                                  " blocks used lies within --resolution " +
                                                  records::free_real(files.resolution) +
                                                  " A: nothing to compare the test data with");
  if (ref.allpts == 0.0f)
    throw records::ReadError(files.reference, "no reference sample was stored in the " + std::to_string(c.llmax) +
                                                  " blocks used (their layer-line weights sum to 0): nothing to "
                                                  "compare the test data with");
  const float fmean = ref.sumf1 / ref.allpts;
  if (!std::isfinite(fmean) || fmean == 0.0f)
    throw records::ReadError(files.reference, "the mean weighted reference amplitude is " + records::free_real(fmean) +
                                                  ": the point weights of the search are undefined");
  if (!c.ctf) read_control_tail(control, c);
  const std::unique_ptr<BlockKernel> kernel = make_kernel(files.kernel);
  if (!model) return run_search(c, ref, test, report, streams.out, streams.err, *kernel);
  const std::unique_ptr<ModelKernel> model_kernel = make_model_kernel(files.kernel);
  ModelPass pass{*model, *model_kernel, {}};
  return run_search(c, ref, test, report, streams.out, streams.err, *kernel, &pass);
}

}  // namespace gridscan
