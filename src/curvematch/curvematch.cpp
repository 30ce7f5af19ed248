#include "curvematch/curvematch.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <optional>

#include "curvematch/report.hpp"
#include "progmain/outputs.hpp"
#include "records/error.hpp"
#include "records/forms.hpp"
#include "records/free.hpp"

namespace curvematch {

const char* const help_text =
    "usage: curvematch [--rescale interpolated|truncated] [--short-test absent|reference]\n"
    "                  [--scale-by amplitudes|phase] [--kernel fast|literal|sse2|avx2|avx512]\n"
    "                  < answers\n"
    "\n"
    "Aligns a test layer-line data set to a reference data set, both gridded layer-line files,\n"
    "by a grid search over rotation phi (degrees), axial shift z (Angstroms) and radial scale,\n"
    "refined until the phi and z steps are 0.01, and writes the test data moved to the best\n"
    "point as a new gridded layer-line file.\n"
    "\n"
    "Standard input, one record a line:\n"
    "  1  the control file name (the whole line; the report shows its first 40 characters)\n"
    "  2  the results file name; created, or overwritten at the end of the run\n"
    "  3  the fitted test file name, after the prompt \"new file : \";\n"
    "     it must not exist\n"
    "  4  irmin, irmax: the radial window, samples (irmin/2 + 1) to (irmax/2 + 1) are kept\n"
    "\n"
    "Control file, eleven records (free format where values are read):\n"
    "  1 title   2 reference file name   3 (unused), rep_dis, delr1, delr2   4 acut (percent)\n"
    "  5 llspec, wtspec (no effect)   6 test file name   7 iside, ipole\n"
    "  8 phimid, dphi, ipl   9 zmid, delz, izl   10 rscmid, drsc, irl   11 (unused)\n"
    "A rotation or radial-scale grid of more than 8 points is reduced to its first 8 points,\n"
    "with a note on standard error naming the record and the points kept.\n"
    "\n"
    "Writes the report on standard output, one record to the results file, and the fitted test\n"
    "file. Exit status 0 on success, 2 on unreadable or unusable input, 1 when the search\n"
    "cannot end or standard output cannot be written. A run that fails removes the results and\n"
    "fitted files it created (a results file that was there before is left as it was).\n"
    "\n"
    "Radial scale rscale: the test data are resampled so that the test's radius R/rscale comes\n"
    "to R. --rescale interpolated (the default) gives every sample k of the reference's range the\n"
    "test's value at index (k-1)/rscale + 1, interpolated between its two neighbouring samples\n"
    "among those the test holds inside the window; samples whose source lies outside them are\n"
    "absent, never compared, and written as 0 in the fitted test file. --rescale truncated\n"
    "restores the old rule: a walk in steps of dsr/rscale from the radius value ismin that puts\n"
    "each value at the sample of its truncated source index, leaving the samples it skips at 0\n"
    "and comparing them as such (sample 1 is never filled), for reproducing old results.\n"
    "\n"
    "A test file with fewer layer lines or samples than the reference: what it does not hold is\n"
    "absent, never compared, left out of the test's sums and written as 0 in the fitted test\n"
    "file (--short-test absent, the default); the report's second \"llmax =\" is the test's.\n"
    "--short-test reference restores the old rule, which compares the reference's values left\n"
    "in the storage the two files share there, for reproducing old results.\n"
    "\n"
    "Radial scale of the global minimum: the phase residual hardly tells neighbouring scales\n"
    "apart where the phases are flat between Bessel zeros, the amplitudes do. With --scale-by\n"
    "amplitudes (the default) each pass takes, among the radial scales whose minimum residual\n"
    "lies within 0.1 degree plus 5 percent of the lowest one, the scale with the lowest R factor\n"
    "(the lowest scale among equal R factors), with its phi, z and residual; --scale-by phase\n"
    "restores the old rule, the lowest residual alone, for reproducing old results.\n"
    "\n"
    "--kernel chooses how the trials are scored: fast (the default) with the widest vectors the\n"
    "processor runs, sse2, avx2 or avx512 with vectors of that instruction set, literal step by\n"
    "step. All write the same report and files, byte for byte; the choice is there for tests\n"
    "and timings.\n";

namespace {

std::string system_error() { return std::strerror(errno); }

// A file name typed on standard input: the whole line without its trailing blanks.
std::string typed_name(const records::Record& rec) {
  std::string s = rec.text();
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
  return s;
}

// A file descriptor closed when it goes out of scope.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  int release() {
    const int f = fd_;
    fd_ = -1;
    return f;
  }

 private:
  int fd_;
};

// The results file, opened as a file of unknown status: created when missing, otherwise left as
// it is until the end of the run overwrites it with the one record.
void open_results_file(const std::string& name) {
  progmain::begin_output(name);
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT, 0666);
  if (fd < 0) throw records::ReadError(name, "cannot open the results file (" + system_error() + ")");
  ::close(fd);
}

// The fitted test file, created as a new file: an existing file of that name ends the run.
int create_new_file(const std::string& name) {
  progmain::begin_output(name);
  const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
  if (fd < 0 && errno == EEXIST)
    throw records::ReadError(name, "the fitted test file already exists; it must be a new file");
  if (fd < 0) throw records::ReadError(name, "cannot create the fitted test file (" + system_error() + ")");
  return fd;
}

std::optional<std::pair<dev_t, ino_t>> identity(const std::string& name) {
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0) return std::nullopt;
  return std::make_pair(st.st_dev, st.st_ino);
}

// The results record at the end overwrites the results file: refuse a results file that is one
// of the input files, before anything is read from them.
void check_not_input(const std::string& results, const std::string& input, const char* what) {
  const auto r = identity(results);
  const auto i = identity(input);
  if (r && i && *r == *i)
    throw records::ReadError(
        results, std::string("the results file is the ") + what + "; writing the results record would destroy it");
}

void write_all(int fd, const std::string& text, const std::string& name) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw records::ReadError(name, "cannot write the fitted test file (" + system_error() + ")");
    done += static_cast<std::size_t>(n);
  }
}

void write_results_file(const std::string& name, const std::string& record) {
  std::ofstream f(name, std::ios::out | std::ios::trunc);
  if (f) f << record << '\n';
  f.close();
  if (!f) throw records::ReadError(name, "cannot write the results file");
}

}  // namespace

SearchOptions parse_arguments(const std::vector<std::string>& args) {
  SearchOptions options;
  std::string kernel_name, rescale_name, short_name, scale_name;
  progmain::bind_options(args,
                         {{"--kernel", &kernel_name, "fast, literal, sse2, avx2 or avx512"},
                          {"--rescale", &rescale_name, "interpolated or truncated"},
                          {"--short-test", &short_name, "absent or reference"},
                          {"--scale-by", &scale_name, "amplitudes or phase"}},
                         "curvematch");
  if (!kernel_name.empty()) {
    const phaselanes::KernelOption k = phaselanes::read_kernel_option(kernel_name);
    if (!k.choice) throw records::ReadError("command line", k.problem);
    options.kernel = *k.choice;
  }
  if (rescale_name == "truncated")
    options.rescale = RescaleRule::truncated;
  else if (!rescale_name.empty() && rescale_name != "interpolated")
    throw records::ReadError("command line", "--rescale is interpolated or truncated, not \"" + rescale_name + "\"");
  if (short_name == "reference")
    options.short_test = ShortTestRule::reference;
  else if (!short_name.empty() && short_name != "absent")
    throw records::ReadError("command line", "--short-test is absent or reference, not \"" + short_name + "\"");
  if (scale_name == "phase")
    options.scale_rule = ScaleRule::phase;
  else if (!scale_name.empty() && scale_name != "amplitudes")
    throw records::ReadError("command line", "--scale-by is amplitudes or phase, not \"" + scale_name + "\"");
  return options;
}

int run(progmain::Streams streams, SearchOptions options) {
  std::ostream& out = streams.out;
  records::LineSource input(streams.in, "standard input");
  RunInput in;

  // 1-2: control file and results file
  // The names are used whole; the report shows them in their 40-character fields.
  const records::Record cntrec = input.expect("the control file name");
  in.cntfile = name_field(cntrec, "control file name");
  records::LineSource control = records::LineSource::open_file(typed_name(cntrec));
  const records::Record rdlrec = input.expect("the results file name");
  in.rdlfile = name_field(rdlrec, "results file name");
  const std::string results_name = typed_name(rdlrec);
  open_results_file(results_name);

  // 3: the eleven control records; a grid the refinement could never finish is refused here
  read_control(control, in);
  const Grid grid = normalised_grid(in);
  write_grid_reductions(streams.err, in, grid);

  // 4: the data files
  const std::string refile = file_name(in.refile);
  const std::string tfile = file_name(in.tfile);
  check_not_input(results_name, typed_name(cntrec), "control file");
  records::LineSource ref = records::LineSource::open_file(refile);
  check_not_input(results_name, refile, "reference file");
  records::LineSource test = records::LineSource::open_file(tfile);
  check_not_input(results_name, tfile, "test file");

  // 5: the fitted test file, created new before any data are read
  out << "  new file : " << std::endl;
  const records::Record newrec = input.expect("the fitted test file name");
  in.newfile = name_field(newrec, "fitted test file name");
  const std::string newname = typed_name(newrec);
  Fd fitted(create_new_file(newname));

  // 6-7: the radial window and the start echo
  {
    records::FreeRecord r(input);
    in.irmin = r.integer("irmin");
    in.irmax = r.integer("irmax");
  }
  const Window window{window_index(in.irmin), window_index(in.irmax)};
  write_start(out, in);

  // 8: derived values and the normalised grid
  const float convd = 360.0f / in.rep_dis;
  SearchGrid g;
  g.phimin = grid.phi.first;
  g.dphi = grid.phi.step;
  g.ipl = grid.phi.count;
  g.zmin = grid.z.first;
  g.delz = grid.z.step;
  g.izl = grid.z.count;
  g.rscmin = grid.rsc.first;
  g.drsc = grid.rsc.step;
  g.irl = grid.rsc.count;

  // 9: both data sets and their summary
  DataSets d;
  load_reference(ref, in.refile, window, in.acut, d, out);
  load_test(test, in.tfile, window, in.iside, in.ipole, d, out, options.short_test);
  write_data_summary(out, in, d);

  try {
    // With no reference amplitude compared, or only zero ones, every residual is 0/0 and no
    // pass could ever find a minimum.
    float compared = 0.0f;
    for (std::int32_t l = 1; l <= d.llmax; ++l)
      for (std::int32_t ir = d.ismin; ir <= d.ismax; ++ir)
        if (d.a.at(l, ir) >= d.amin) compared += d.a.at(l, ir);
    if (!(compared > 0.0f))
      throw RunStop{"no reference amplitude above zero reaches the cut-off amplitude (acut = " +
                    records::free_real(in.acut) + " percent, window " + std::to_string(window.isminext) + " to " +
                    std::to_string(window.ismaxext) + "): every residual would be undefined"};

    // 10-11: search passes, then the final pass at the radial scale of the global minimum
    Search search(d, g, convd, options);
    search.run(out);
    const SearchGrid& best = search.grid();
    write_final_report(out, d, search, convd, in.rep_dis);
    write_results_file(results_name,
                       results_record(search.rfmin(), best.phimin, best.zmin, best.rscmin, search.gmin()));
    progmain::finish_output(results_name);
    out << "  --- now writing fitted test file: " << in.newfile << '\n';
    out << (records::FreeLine() << search.gmin() << best.phimin << best.zmin << best.rscmin << search.rfmin()).str()
        << '\n';
    fit_test_data(d, best.phimin, best.zmin, convd);
    write_all(fitted.get(), fitted_file_text(d), newname);
    if (::close(fitted.release()) != 0)
      throw records::ReadError(newname, "cannot write the fitted test file (" + system_error() + ")");
    progmain::finish_output(newname);
  } catch (const RunStop& stop) {
    out.flush();
    streams.err << "curvematch: " << stop.message << '\n';
    return 1;
  }
  return 0;
}

}  // namespace curvematch
