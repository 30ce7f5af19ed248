#include "progmain/progmain.hpp"

#include <csignal>
#include <iostream>
#include <new>

#include "progmain/outputs.hpp"
#include "records/error.hpp"

#ifndef QUORVAN_PROCESSOR
#define QUORVAN_PROCESSOR "x86_64"
#endif
#ifndef QUORVAN_RELEASE
#define QUORVAN_RELEASE "1.4"
#endif

namespace progmain {

const Release& release() {
  static const Release r{QUORVAN_PROCESSOR, QUORVAN_RELEASE, "01/10/2008"};
  return r;
}

std::string release_line() {
  const Release& r = release();
  return "Quorvan " + r.processor + " " + r.release + " (" + r.date + ")";
}

void bind_options(const std::vector<std::string>& args, std::initializer_list<Option> options,
                  std::string_view program) {
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool has_value = false;
    if (const std::size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      has_value = true;
    }
    const Option* opt = nullptr;
    for (const Option& o : options)
      if (o.name == name) opt = &o;
    if (opt == nullptr)
      throw records::ReadError("command line",
                               "unknown argument \"" + args[i] + "\" (see " + std::string(program) + " --help)");
    if (!has_value && i + 1 < args.size()) {
      value = args[++i];
      has_value = true;
    }
    if (value.empty()) throw records::ReadError("command line", name + " needs " + std::string(opt->needs));
    *opt->value = value;
  }
}

int end_of_run(std::string_view name, int status) {
  // What was written stays written: flushed before anything is judged or removed.
  std::cout.flush();
  if (!std::cout) {
    std::cerr << name << ": standard output could not be written\n";
    if (status == 0) status = 1;
  }
  std::cerr.flush();
  if (status != 0) remove_unfinished_outputs();
  return status;
}

int run_main(int argc, char** argv, const ProgramInfo& info, const RunFunction& run) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
  if (args.size() == 1 && args[0] == "--help") {
    std::cout << info.help;
    return end_of_run(info.name, 0);
  }
  if (args.size() == 1 && args[0] == "--version") {
    std::cout << release_line() << '\n';
    return end_of_run(info.name, 0);
  }
  // A reader that goes away (a pipe into head) is a write failure like any other, reported
  // and ending the run with its outputs cleaned up, not a signal that kills the process.
  std::signal(SIGPIPE, SIG_IGN);
  Streams streams{std::cin, std::cout, std::cerr};
  int status = 0;
  try {
    status = run(args, streams);
  } catch (const records::ReadError& e) {
    std::cout.flush();
    std::cerr << info.name << ": " << e.what() << '\n';
    status = records::read_error_status;
  } catch (const Exit& e) {
    status = e.status;
  } catch (const std::bad_alloc&) {
    std::cout.flush();
    std::cerr << info.name << ": not enough memory for the input\n";
    status = 1;
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << info.name << ": " << e.what() << '\n';
    status = 1;
  }
  return end_of_run(info.name, status);
}

}  // namespace progmain
