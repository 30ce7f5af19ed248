// The bad-input matrix: every program fed each kind of bad input that applies to it. Each case
// asserts that the run ends by itself (no signal, no timeout) inside a memory bound, with the
// status its rules fix (any non-zero status where none is fixed), a message that names the
// file and what was wrong, and every file that was there before unchanged unless the program
// is meant to write it. A failed run leaves no file of its own behind, complete or not, and a
// run whose standard output cannot be written says so and fails.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include "runprog.hpp"

namespace fs = std::filesystem;
using namespace testsupport;

namespace {

constexpr int any_failure = -1;

struct Case {
  std::string name;
  std::string program;
  std::vector<std::string> args;
  std::optional<std::string> stdin_text;
  std::vector<std::pair<std::string, std::string>> env;
  std::map<std::string, std::string> files;  // written into the working directory first
  int status = any_failure;
  std::vector<std::string> mentions;  // each must appear in standard error or output
  std::set<std::string> writes;       // files the program may create or change
  bool stdout_full = false;           // standard output is /dev/full
};

std::string example(const std::string& rel) { return read_file(fs::path(QUORVAN_EXAMPLES) / rel); }

// The text with the first occurrence of `from` replaced by `to` (same width keeps the columns).
std::string with(std::string text, const std::string& from, const std::string& to) {
  const auto at = text.find(from);
  if (at == std::string::npos) throw std::runtime_error("example text lacks " + from);
  return text.replace(at, from.size(), to);
}

std::string first_lines(const std::string& text, int n) {
  std::size_t at = 0;
  for (int i = 0; i < n && at != std::string::npos; ++i) at = text.find('\n', at + 1);
  return at == std::string::npos ? text : text.substr(0, at + 1);
}

std::string garbage() {
  std::string g;
  for (int i = 0; i < 600; ++i) g += static_cast<char>((i * 151 + 7) % 256);
  return g;
}

void run_case(const Case& c) {
  SCOPED_TRACE(c.name);
  TempDir dir;
  for (const auto& [name, bytes] : c.files) dir.write(name, bytes);
  RunSpec job;
  // standard output that cannot be written: through the shell, which binds it to /dev/full
  const std::string to_full = c.stdout_full ? " >/dev/full" : "";
  // a memory bound of 1 GiB: through ulimit in the normal build; the sanitizer build reserves
  // shadow memory beyond any address-space limit, so there its allocator enforces the bound
#if defined(__SANITIZE_ADDRESS__)
  job.exe = "/bin/sh";
  job.args = {"-c", "exec \"$0\" \"$@\"" + to_full, program_path(c.program)};
  job.args.insert(job.args.end(), c.args.begin(), c.args.end());
  const char* asan = std::getenv("ASAN_OPTIONS");
  job.env.emplace_back("ASAN_OPTIONS",
                       std::string(asan ? asan : "") + ":max_allocation_size_mb=1024:allocator_may_return_null=0");
#else
  job.exe = "/bin/sh";
  job.args = {"-c", "ulimit -v 1048576 && exec \"$0\" \"$@\"" + to_full, program_path(c.program)};
  job.args.insert(job.args.end(), c.args.begin(), c.args.end());
#endif
  job.stdin_text = c.stdin_text;
  for (const auto& e : c.env) job.env.push_back(e);
  job.timeout_seconds = 20;
  const RunResult r = run_in(dir.path(), job);
  const std::string said = r.err + r.out;
  ASSERT_FALSE(r.timed_out) << said;
  ASSERT_EQ(r.signal, 0) << said;
  if (c.status == any_failure) {
    EXPECT_NE(r.status, 0) << said;
  } else {
    EXPECT_EQ(r.status, c.status) << said;
  }
  for (const auto& m : c.mentions) EXPECT_NE(said.find(m), std::string::npos) << "no \"" << m << "\" in:\n" << said;
  for (const auto& [name, bytes] : c.files) {
    if (!c.writes.count(name)) {
      EXPECT_EQ(dir.read(name), bytes) << name << " was changed";
    }
  }
  if (c.stdout_full) {
    EXPECT_TRUE(contains(r.err, c.program + ": standard output could not be written")) << r.err;
  } else if (r.status != 0) {
    // nothing the failed run created stays behind to block the rerun
    for (const auto& entry : fs::directory_iterator(dir.path())) {
      const std::string name = entry.path().filename().string();
      EXPECT_TRUE(c.files.count(name)) << name << " was left behind by the failed run";
    }
  }
}

// Every program run on good input with its standard output on /dev/full.
std::vector<Case> full_output_cases() {
  const std::string near = example("linerecast/near.dat");
  const std::string gctl = example("gridscan/gridscan.ctl");
  const std::map<std::string, std::string> mapsig_files = {{"m1.map", example("mapsig/mean1.map")},
                                                           {"s1.map", example("mapsig/sdev1.map")},
                                                           {"m2.map", example("mapsig/mean2.map")},
                                                           {"s2.map", example("mapsig/sdev2.map")}};
  std::vector<Case> cases = {
      {"recode", "recode", {}, near},
      {"linerecast", "linerecast", {}, near},
      {"jtable", "jtable", {}, "49 3 9 20\n"},
      {"quorvan", "quorvan", {}, std::nullopt},
      {"help", "curvematch", {"--help"}, std::nullopt},
      {"crestfind", "crestfind", {}, "in.dat\nout.txt\n", {}, {{"in.dat", example("crestfind/near.dat")}}},
      {"spotrecast", "spotrecast", {}, "in.txt\nout.txt\n", {}, {{"in.txt", example("spotrecast/spots.txt")}}},
      {"curvematch",
       "curvematch",
       {},
       "curvematch.ctl\ncurvematch.res\nfitted.dat\n2 118\n",
       {},
       {{"curvematch.ctl", example("curvematch/curvematch.ctl")},
        {"ref.dat", example("curvematch/ref.dat")},
        {"test.dat", example("curvematch/test.dat")}}},
      {"mapconvert",
       "mapconvert",
       {"in.map", "out.map"},
       std::nullopt,
       {},
       {{"in.map", example("mapconvert/bigendian.map")}}},
      {"mapflat", "mapflat", {}, "in.map\nflat.map\n", {}, {{"in.map", example("mapflat/density.map")}}},
      {"mapsig", "mapsig", {}, "t\n8\nm1.map\ns1.map\n6\nm2.map\ns2.map\n", {{"TSTAT", "t.map"}}, mapsig_files},
      {"sidesplit",
       "sidesplit",
       {},
       std::nullopt,
       {{"IN", "t.map"}},
       {{"sidesplit.dek", example("sidesplit/sidesplit.dek")}, {"t.map", example("sidesplit/transform.map")}}},
  };
  for (Case& c : cases) {
    c.name = "stdout_full." + c.name;
    c.status = any_failure;
    c.stdout_full = true;
  }
  return cases;
}

// A point-list file read from standard input by a filter (recode, linerecast).
std::vector<Case> filter_cases(const std::string& prog) {
  const std::string near = example("linerecast/near.dat");
  const std::string label = first_lines(near, 1);
  return {
      // a parameter record cut short reads blank-padded (nn = nl = 0): the block then lacks its end
      {prog + ".cut_short_parameter",
       prog,
       {},
       label + "     1.0",
       {},
       {},
       any_failure,
       {"standard input", "end of file"}},
      {prog + ".non_numeric_parameter",
       prog,
       {},
       with(near, "     1.000    0    0", "     x.000    0    0"),
       {},
       {},
       any_failure,
       {"standard input", "line 2"}},
      {prog + ".non_numeric_point",
       prog,
       {},
       with(near, " 0.120E+03", " 0.1Z0E+03"),
       {},
       {},
       any_failure,
       {"standard input", "line 3"}},
      {prog + ".nan_in_point",
       prog,
       {},
       with(near, " 0.120E+03", "       NaN"),
       {},
       {},
       any_failure,
       {"standard input", "line 3"}},
      {prog + ".infinity_in_point",
       prog,
       {},
       with(near, " 0.120E+03", "       Inf"),
       {},
       {},
       any_failure,
       {"standard input", "line 3"}},
      // nn and nl are carried, not used as counts: a layer-line number of 2^31 - 1 is copied
      {prog + ".count_2e31", prog, {}, with(near, "     1.000    0    0", "     1.0002147483647"), {}, {}, 0, {}},
      {prog + ".garbage", prog, {}, garbage(), {}, {}, any_failure, {"standard input"}},
      {prog + ".block_cut_short", prog, {}, first_lines(near, 4), {}, {}, any_failure, {"standard input"}},
  };
}

std::vector<Case> all_cases() {
  std::vector<Case> cases;
  for (const char* p : {"recode", "linerecast"})
    for (auto& c : filter_cases(p)) cases.push_back(std::move(c));

  const std::string near = example("crestfind/near.dat");
  const std::string two = "in.dat\nout.txt\n";
  cases.push_back({"crestfind.missing_input_then_end", "crestfind", {}, "nowhere.dat\n", {}, {}, any_failure, {}});
  cases.push_back({"crestfind.output_exists",
                   "crestfind",
                   {},
                   two,
                   {},
                   {{"in.dat", near}, {"out.txt", "keep\n"}},
                   any_failure,
                   {"out.txt"}});
  cases.push_back({"crestfind.non_numeric",
                   "crestfind",
                   {},
                   two,
                   {},
                   {{"in.dat", with(near, " 0.120E+03", " 0.1Z0E+03")}},
                   any_failure,
                   {"in.dat", "line 3"},
                   {"out.txt"}});
  cases.push_back(
      {"crestfind.garbage", "crestfind", {}, two, {}, {{"in.dat", garbage()}}, any_failure, {"in.dat"}, {"out.txt"}});
  cases.push_back({"crestfind.nan",
                   "crestfind",
                   {},
                   two,
                   {},
                   {{"in.dat", with(near, " 0.120E+03", "       NaN")}},
                   any_failure,
                   {"in.dat", "line 3"},
                   {"out.txt"}});

  const std::string spots = example("spotrecast/spots.txt");
  cases.push_back(
      {"spotrecast.missing_input", "spotrecast", {}, "nowhere.txt\nout.txt\n", {}, {}, any_failure, {"nowhere.txt"}});
  cases.push_back({"spotrecast.empty_input",
                   "spotrecast",
                   {},
                   "in.txt\nout.txt\n",
                   {},
                   {{"in.txt", ""}},
                   any_failure,
                   {"in.txt"},
                   {"out.txt"}});
  // spotrecast moves its fields by columns as text: a field that is not a number, or bytes that
  // are not text, are carried into the output as they stand, so the run ends normally
  cases.push_back({"spotrecast.non_numeric",
                   "spotrecast",
                   {},
                   "in.txt\nout.txt\n",
                   {},
                   {{"in.txt", with(spots, "812.3", "81x.3")}},
                   0,
                   {},
                   {"out.txt"}});
  cases.push_back(
      {"spotrecast.garbage", "spotrecast", {}, "in.txt\nout.txt\n", {}, {{"in.txt", garbage()}}, 0, {}, {"out.txt"}});

  cases.push_back({"jtable.empty", "jtable", {}, "", {}, {}, any_failure, {"standard input"}});
  cases.push_back({"jtable.non_numeric", "jtable", {}, "49 3 x 20\n", {}, {}, any_failure, {"standard input"}});
  cases.push_back({"jtable.count_2e31", "jtable", {}, "49 3 2147483647 20\n", {}, {}, any_failure, {"standard input"}});
  cases.push_back(
      {"jtable.count_beyond_int", "jtable", {}, "49 3 99999999999 20\n", {}, {}, any_failure, {"standard input"}});
  cases.push_back({"jtable.garbage", "jtable", {}, garbage(), {}, {}, any_failure, {"standard input"}});

  const std::string gctl = example("gridscan/gridscan.ctl");
  const std::string gref = example("gridscan/ref.dat"), gtest = example("gridscan/test.dat");
  const std::vector<std::string> gargs = {"--control", "c.ctl",    "--reference", "ref.dat",
                                          "--test",    "test.dat", "--report",    "report.txt"};
  const auto gfiles = [&](std::string c, std::string r, std::string t) {
    return std::map<std::string, std::string>{{"c.ctl", c}, {"ref.dat", r}, {"test.dat", t}};
  };
  cases.push_back({"gridscan.missing_control",
                   "gridscan",
                   gargs,
                   std::nullopt,
                   {},
                   gfiles("", gref, gtest),
                   any_failure,
                   {},
                   {"report.txt"}});
  cases.back().files.erase("c.ctl");
  cases.back().mentions = {"c.ctl"};
  cases.push_back({"gridscan.empty_control",
                   "gridscan",
                   gargs,
                   std::nullopt,
                   {},
                   gfiles("", gref, gtest),
                   any_failure,
                   {"c.ctl"},
                   {"report.txt"}});
  cases.push_back({"gridscan.non_numeric_control",
                   "gridscan",
                   gargs,
                   std::nullopt,
                   {},
                   gfiles(with(gctl, "0.0125", "0.0x25"), gref, gtest),
                   any_failure,
                   {"c.ctl"},
                   {"report.txt"}});
  cases.push_back({"gridscan.count_2e31",
                   "gridscan",
                   gargs,
                   std::nullopt,
                   {},
                   gfiles(with(gctl, "8 0.0125", "2147483647 0.0125"), gref, gtest),
                   any_failure,
                   {"c.ctl"},
                   {"report.txt"}});
  cases.push_back({"gridscan.negative_count",
                   "gridscan",
                   gargs,
                   std::nullopt,
                   {},
                   gfiles(with(gctl, "8 0.0125", "-8 0.0125"), gref, gtest),
                   any_failure,
                   {"c.ctl"},
                   {"report.txt"}});
  cases.push_back({"gridscan.garbage_reference",
                   "gridscan",
                   gargs,
                   std::nullopt,
                   {},
                   gfiles(gctl, garbage(), gtest),
                   any_failure,
                   {"ref.dat"},
                   {"report.txt"}});
  cases.push_back({"gridscan.reference_cut_short",
                   "gridscan",
                   gargs,
                   std::nullopt,
                   {},
                   gfiles(gctl, first_lines(gref, 5), gtest),
                   any_failure,
                   {"ref.dat"},
                   {"report.txt"}});
  // --model: a reference cut inside a block, and garbage, read as a model of several orders
  std::vector<std::string> margs = gargs;
  margs.push_back("--model");
  cases.push_back({"gridscan.model_cut_short",
                   "gridscan",
                   margs,
                   std::nullopt,
                   {},
                   gfiles(gctl, first_lines(gref, 5), gtest),
                   any_failure,
                   {"ref.dat"},
                   {"report.txt"}});
  cases.push_back({"gridscan.model_garbage",
                   "gridscan",
                   margs,
                   std::nullopt,
                   {},
                   gfiles(gctl, garbage(), gtest),
                   any_failure,
                   {"ref.dat"},
                   {"report.txt"}});
  cases.push_back({"gridscan.report_exists",
                   "gridscan",
                   gargs,
                   std::nullopt,
                   {},
                   gfiles(gctl, gref, gtest),
                   0,
                   {},
                   {"report.txt"}});
  // the report is gridscan's own output, written afresh on every run
  cases.back().files["report.txt"] = "keep\n";

  const std::string cin_text = "curvematch.ctl\ncurvematch.res\nfitted.dat\n2 118\n";
  const std::string cctl = example("curvematch/curvematch.ctl");
  const std::string cref = example("curvematch/ref.dat"), ctest = example("curvematch/test.dat");
  const auto cfiles = [&](std::string c, std::string r, std::string t) {
    return std::map<std::string, std::string>{{"curvematch.ctl", c}, {"ref.dat", r}, {"test.dat", t}};
  };
  const std::set<std::string> cwrites = {"curvematch.res", "fitted.dat"};
  cases.push_back({"curvematch.empty_stdin",
                   "curvematch",
                   {},
                   "",
                   {},
                   cfiles(cctl, cref, ctest),
                   any_failure,
                   {"standard input"},
                   cwrites});
  cases.push_back({"curvematch.missing_control",
                   "curvematch",
                   {},
                   cin_text,
                   {},
                   {{"ref.dat", cref}},
                   any_failure,
                   {"curvematch.ctl"},
                   cwrites});
  cases.push_back({"curvematch.empty_control",
                   "curvematch",
                   {},
                   cin_text,
                   {},
                   cfiles("", cref, ctest),
                   any_failure,
                   {"curvematch.ctl"},
                   cwrites});
  cases.push_back({"curvematch.reference_claims_2e31",
                   "curvematch",
                   {},
                   cin_text,
                   {},
                   cfiles(cctl, with(cref, "         8         1        60", "         8         12147483647"), ctest),
                   any_failure,
                   {"ref.dat"},
                   cwrites});
  cases.push_back({"curvematch.reference_cut_short",
                   "curvematch",
                   {},
                   cin_text,
                   {},
                   cfiles(cctl, first_lines(cref, 6), ctest),
                   any_failure,
                   {"ref.dat"},
                   cwrites});
  cases.push_back({"curvematch.garbage_test",
                   "curvematch",
                   {},
                   cin_text,
                   {},
                   cfiles(cctl, cref, garbage()),
                   any_failure,
                   {"test.dat"},
                   cwrites});
  cases.push_back({"curvematch.nan_in_reference",
                   "curvematch",
                   {},
                   cin_text,
                   {},
                   cfiles(cctl, with(cref, "    0.843897", "         NaN"), ctest),
                   any_failure,
                   {"ref.dat"},
                   cwrites});

  const std::string big = example("mapconvert/bigendian.map");
  cases.push_back({"mapconvert.missing_input",
                   "mapconvert",
                   {"nowhere.map", "out.map"},
                   std::nullopt,
                   {},
                   {},
                   any_failure,
                   {"nowhere.map"}});
  cases.push_back({"mapconvert.empty_input",
                   "mapconvert",
                   {"in.map", "out.map"},
                   std::nullopt,
                   {},
                   {{"in.map", ""}},
                   any_failure,
                   {"in.map"},
                   {"out.map"}});
  cases.push_back({"mapconvert.header_claims_more",
                   "mapconvert",
                   {"in.map", "out.map"},
                   std::nullopt,
                   {},
                   {{"in.map", big.substr(0, big.size() - 20)}},
                   any_failure,
                   {"in.map"},
                   {"out.map"}});
  cases.push_back({"mapconvert.garbage",
                   "mapconvert",
                   {"in.map", "out.map"},
                   std::nullopt,
                   {},
                   {{"in.map", garbage() + garbage()}},
                   any_failure,
                   {"in.map"},
                   {"out.map"}});
  cases.push_back({"mapconvert.output_exists",
                   "mapconvert",
                   {"in.map", "out.map"},
                   std::nullopt,
                   {},
                   {{"in.map", big}, {"out.map", "keep\n"}},
                   any_failure,
                   {"out.map"}});

  // an empty name would fall through to the image library's default name, diskio.dft
  cases.push_back({"mapconvert.empty_name",
                   "mapconvert",
                   {"in.map", ""},
                   std::nullopt,
                   {},
                   {{"in.map", big}},
                   2,
                   {"empty map name"}});

  // found by fuzzing: sizes near 2^31 in every dimension overflowed the size sum
  std::string huge = example("mapflat/density.map");
  for (int w = 0; w < 3; ++w) huge.replace(4 * w, 4, std::string("\xff\xff\xff\x7f", 4));
  cases.push_back({"mapconvert.size_2e31_cubed",
                   "mapconvert",
                   {"in.map", "out.map"},
                   std::nullopt,
                   {},
                   {{"in.map", huge}},
                   any_failure,
                   {"in.map", "2147483647 x 2147483647 x 2147483647"},
                   {"out.map"}});

  // found by fuzzing: a stamped map whose sizes, as the library reads them, ask for a section
  // far beyond the file
  cases.push_back({"mapconvert.section_beyond_file",
                   "mapconvert",
                   {"in.map", "out.map"},
                   std::nullopt,
                   {},
                   {{"in.map", read_file(fs::path(QUORVAN_BADINPUT_DATA) / "stamped_sizes_differ.map")}},
                   any_failure,
                   {"in.map"},
                   {"out.map"}});

  const std::string density = example("mapflat/density.map");
  cases.push_back(
      {"mapflat.missing_input", "mapflat", {}, "nowhere.map\nflat.map\n", {}, {}, any_failure, {"nowhere.map"}});
  cases.push_back({"mapflat.header_claims_more",
                   "mapflat",
                   {},
                   "in.map\nflat.map\n",
                   {},
                   {{"in.map", density.substr(0, density.size() - 20)}},
                   any_failure,
                   {"in.map"},
                   {"flat.map"}});
  cases.push_back({"mapflat.garbage",
                   "mapflat",
                   {},
                   "in.map\nflat.map\n",
                   {},
                   {{"in.map", garbage() + garbage()}},
                   any_failure,
                   {"in.map"},
                   {"flat.map"}});
  cases.push_back({"mapflat.empty_dialogue", "mapflat", {}, "", {}, {}, any_failure, {}});

  const std::string mean1 = example("mapsig/mean1.map"), sdev1 = example("mapsig/sdev1.map");
  const std::string mean2 = example("mapsig/mean2.map"), sdev2 = example("mapsig/sdev2.map");
  const std::string sig_in = "t\n8\nm1.map\ns1.map\n6\nm2.map\ns2.map\n";
  const std::map<std::string, std::string> sig_files = {
      {"m1.map", mean1}, {"s1.map", sdev1}, {"m2.map", mean2}, {"s2.map", sdev2}};
  cases.push_back({"mapsig.missing_map",
                   "mapsig",
                   {},
                   "t\n8\nnowhere.map\ns1.map\n6\nm2.map\ns2.map\n",
                   {{"TSTAT", "t.map"}},
                   sig_files,
                   any_failure,
                   {"nowhere.map"},
                   {"t.map"}});
  cases.push_back({"mapsig.non_numeric_count",
                   "mapsig",
                   {},
                   "t\nx\nm1.map\ns1.map\n6\nm2.map\ns2.map\n",
                   {{"TSTAT", "t.map"}},
                   sig_files,
                   any_failure,
                   {"standard input", "line 2"},
                   {"t.map"}});
  cases.push_back({"mapsig.negative_count",
                   "mapsig",
                   {},
                   "t\n-8\nm1.map\ns1.map\n6\nm2.map\ns2.map\n",
                   {{"TSTAT", "t.map"}},
                   sig_files,
                   any_failure,
                   {"standard input", "line 2"},
                   {"t.map"}});
  cases.push_back({"mapsig.empty_name",
                   "mapsig",
                   {},
                   "t\n8\nm1.map\n\n6\nm2.map\ns2.map\n",
                   {{"TSTAT", "t.map"}},
                   sig_files,
                   2,
                   {"standard input, line 4", "no file name given"}});
  auto cut = sig_files;
  cut["s1.map"] = sdev1.substr(0, sdev1.size() - 20);
  cases.push_back({"mapsig.header_claims_more",
                   "mapsig",
                   {},
                   sig_in,
                   {{"TSTAT", "t.map"}},
                   cut,
                   any_failure,
                   {"s1.map"},
                   {"t.map"}});

  const std::string deck = example("sidesplit/sidesplit.dek");
  const std::string transform = example("sidesplit/transform.map");
  const std::set<std::string> swrites = {"near.dat", "far.dat"};
  cases.push_back({"sidesplit.missing_deck",
                   "sidesplit",
                   {},
                   std::nullopt,
                   {{"IN", "t.map"}},
                   {{"t.map", transform}},
                   any_failure,
                   {"sidesplit.dek"},
                   swrites});
  cases.push_back({"sidesplit.missing_map",
                   "sidesplit",
                   {},
                   std::nullopt,
                   {{"IN", "nowhere.map"}},
                   {{"sidesplit.dek", deck}},
                   any_failure,
                   {"nowhere.map"},
                   swrites});
  cases.push_back({"sidesplit.non_numeric_deck",
                   "sidesplit",
                   {},
                   std::nullopt,
                   {{"IN", "t.map"}},
                   {{"sidesplit.dek", with(deck, "4 5.0", "x 5.0")}, {"t.map", transform}},
                   any_failure,
                   {"sidesplit.dek"},
                   swrites});
  cases.push_back({"sidesplit.count_2e31",
                   "sidesplit",
                   {},
                   std::nullopt,
                   {{"IN", "t.map"}},
                   {{"sidesplit.dek", with(deck, "4 5.0", "2147483647 5.0")}, {"t.map", transform}},
                   any_failure,
                   {"sidesplit.dek"},
                   swrites});
  cases.push_back({"sidesplit.header_claims_more",
                   "sidesplit",
                   {},
                   std::nullopt,
                   {{"IN", "t.map"}},
                   {{"sidesplit.dek", deck}, {"t.map", transform.substr(0, transform.size() / 2)}},
                   any_failure,
                   {"t.map"},
                   swrites});
  // a symmetry-record length of 2^31 - 1 bytes: the start of the data lies far beyond the file
  std::string far_data = transform;
  far_data.replace(88, 8, std::string("\x01\0\0\0\xff\xff\xff\x7f", 8));
  cases.push_back({"sidesplit.nsymbt_2e31",
                   "sidesplit",
                   {},
                   std::nullopt,
                   {{"IN", "t.map"}},
                   {{"sidesplit.dek", deck}, {"t.map", far_data}},
                   1,
                   {"End of data on stream 1"},
                   swrites});
  for (auto& c : full_output_cases()) cases.push_back(std::move(c));
  return cases;
}

class BadInput : public ::testing::TestWithParam<Case> {};

TEST_P(BadInput, EndsCleanly) { run_case(GetParam()); }

INSTANTIATE_TEST_SUITE_P(Matrix, BadInput, ::testing::ValuesIn(all_cases()),
                         [](const ::testing::TestParamInfo<Case>& p) {
                           std::string n = p.param.name;
                           for (char& ch : n)
                             if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           return n;
                         });

}  // namespace
