#include "progmain/progmain.hpp"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

#include "records/error.hpp"

namespace {

struct Captured {
  int status;
  std::string out, err;
};

Captured call(std::vector<std::string> args, const progmain::RunFunction& run) {
  std::vector<char*> argv;
  static char name[] = "prog";
  argv.push_back(name);
  for (auto& a : args) argv.push_back(a.data());
  std::ostringstream out, err;
  auto* old_out = std::cout.rdbuf(out.rdbuf());
  auto* old_err = std::cerr.rdbuf(err.rdbuf());
  const progmain::ProgramInfo info{"prog", "prog reads standard input.\n"};
  const int status = progmain::run_main(static_cast<int>(argv.size()), argv.data(), info, run);
  std::cout.rdbuf(old_out);
  std::cerr.rdbuf(old_err);
  return {status, out.str(), err.str()};
}

int never_called(const std::vector<std::string>&, progmain::Streams) {
  ADD_FAILURE() << "run was called";
  return 0;
}

}  // namespace

TEST(RunMain, HelpAndVersionAnswerALoneOption) {
  Captured h = call({"--help"}, never_called);
  EXPECT_EQ(h.status, 0);
  EXPECT_EQ(h.out, "prog reads standard input.\n");
  Captured v = call({"--version"}, never_called);
  EXPECT_EQ(v.status, 0);
  EXPECT_EQ(v.out, progmain::release_line() + "\n");
  EXPECT_EQ(progmain::release().release, "1.4");
  EXPECT_EQ(progmain::release().date, "01/10/2008");
}

TEST(RunMain, ArgumentsReachTheProgramAndStatusesComeBack) {
  Captured c = call({"-c", "ctl"}, [](const std::vector<std::string>& args, progmain::Streams s) {
    EXPECT_EQ(args, (std::vector<std::string>{"-c", "ctl"}));
    s.out << "report\n";
    return 3;
  });
  EXPECT_EQ(c.status, 3);
  EXPECT_EQ(c.out, "report\n");
}

TEST(RunMain, ReadErrorsEndWithTheProgramNameAndStatusTwo) {
  Captured c = call({}, [](const std::vector<std::string>&, progmain::Streams s) -> int {
    s.out << "written before the failure\n";
    throw records::ReadError("standard input", 7, 11, 20, "\"1.2.3\" is not a number");
  });
  EXPECT_EQ(c.status, 2);
  EXPECT_EQ(c.out, "written before the failure\n");
  EXPECT_EQ(c.err, "prog: standard input, line 7, columns 11-20: \"1.2.3\" is not a number\n");
  Captured e = call({}, [](const std::vector<std::string>&, progmain::Streams) -> int { throw progmain::Exit{1}; });
  EXPECT_EQ(e.status, 1);
}

TEST(BindOptions, BothFormsUnknownArgumentsAndMissingValues) {
  std::string control, report;
  progmain::bind_options({"--control", "ctl.dat", "--report=out.txt"},
                         {{"--control", &control, "a file name"}, {"--report", &report, "a file name"}}, "prog");
  EXPECT_EQ(control, "ctl.dat");
  EXPECT_EQ(report, "out.txt");
  auto message = [&](std::vector<std::string> args) {
    try {
      progmain::bind_options(args, {{"--control", &control, "a file name"}}, "prog");
    } catch (const records::ReadError& e) {
      return std::string(e.what());
    }
    return std::string("no error");
  };
  EXPECT_EQ(message({"ctl.dat"}), "command line: unknown argument \"ctl.dat\" (see prog --help)");
  EXPECT_EQ(message({"--control"}), "command line: --control needs a file name");
  EXPECT_EQ(message({"--control="}), "command line: --control needs a file name");
}
