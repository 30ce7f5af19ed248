#include "imagefile/environment.hpp"

#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>

#include "imagefile/state.hpp"
#include "progmain/outputs.hpp"
#include "records/forms.hpp"

namespace imagefile {

namespace {

std::string_view trim_right(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.remove_suffix(1);
  return s;
}

// The command line of this process, argument 0 first.
std::vector<std::string> process_arguments() {
  std::vector<std::string> args;
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::size_t start = 0;
  while (start < all.size()) {
    std::size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    args.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return args;
}

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; }

}  // namespace

std::ostream& report_stream() {
  std::ostream* out = detail::environment().report;
  return out != nullptr ? *out : std::cout;
}
void set_report_stream(std::ostream& out) { detail::environment().report = &out; }

std::string ugtenv(std::string_view name) {
  std::string key(trim_right(name));
  if (key.empty()) return {};
  const char* value = std::getenv(key.c_str());
  if (value == nullptr) return {};
  return std::string(trim_right(value));
}

void set_arguments(std::vector<std::string> args) {
  detail::EnvironmentState& env = detail::environment();
  env.arguments = std::move(args);
  env.have_arguments = true;
}

std::string ugtarg(int i) {
  detail::EnvironmentState& env = detail::environment();
  if (!env.have_arguments) {
    env.arguments = process_arguments();
    env.have_arguments = true;
  }
  if (i < 0 || static_cast<std::size_t>(i) >= env.arguments.size()) return {};
  return env.arguments[static_cast<std::size_t>(i)];
}

std::string ugtuid() {
  std::string user = ugtenv("USER");
  if (user.empty()) user = ugtenv("LOGNAME");
  return user;
}

bool envexs(std::string_view name) {
  std::string file = ugtenv(name);
  if (file.empty()) file = std::string(trim_right(name));
  struct stat st {};
  return !file.empty() && ::stat(file.c_str(), &st) == 0;
}

int lenstr(std::string_view s) { return static_cast<int>(trim_right(s).size()); }

int numchars(std::string& s) {
  for (std::size_t i = s.size(); i > 0 && (s[i - 1] == '\0' || s[i - 1] == ' '); --i) s[i - 1] = ' ';
  return lenstr(s);
}

void envupc(std::string& s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
}

void envlwc(std::string& s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

void qprint(int level, std::string_view message) {
  detail::EnvironmentState& env = detail::environment();
  if (env.print_level < 0) {
    env.print_level = level;
    return;
  }
  if (level > env.print_level) return;
  std::ostream& out = report_stream();
  std::string_view text = trim_right(message);
  if (text.empty()) {
    out << '\n';
    return;
  }
  std::size_t piece = 131;
  while (!text.empty()) {
    const std::size_t n = std::min(piece, text.size());
    out << ' ' << text.substr(0, n) << '\n';
    text.remove_prefix(n);
    piece = 130;
  }
}

int qprlvl() { return detail::environment().print_level; }

std::string envpnm() {
  detail::EnvironmentState& env = detail::environment();
  if (!env.have_program_name) {
    std::string name = ugtarg(0).substr(0, 20);
    name = std::string(trim_right(name));
    if (const std::size_t slash = name.rfind('/'); slash != std::string::npos) name.erase(0, slash + 1);
    if (const std::size_t dot = name.rfind('.'); dot != std::string::npos) name.erase(dot);
    env.program_name = name;
    env.have_program_name = true;
  }
  return env.program_name;
}

void getelapsed() {
  detail::EnvironmentState& env = detail::environment();
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  const double user = seconds(usage.ru_utime);
  const double system = seconds(usage.ru_stime);
  const auto now = std::chrono::steady_clock::now();
  if (env.timer_started) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - env.start_wall).count();
    const std::string secs = records::int_form(elapsed % 60, 2);
    report_stream() << " Times: User: " << records::fixed_form(static_cast<float>(user - env.start_user), 9, 1)
                    << "s System: " << records::fixed_form(static_cast<float>(system - env.start_system), 6, 1)
                    << "s Elapsed:" << records::int_form(elapsed / 60, 5) << ':' << (secs[0] == ' ' ? "0" : "")
                    << (secs[0] == ' ' ? secs.substr(1) : secs) << '\n';
  }
  env.start_wall = now;
  env.start_user = user;
  env.start_system = system;
  env.timer_started = true;
}

namespace {
EndRunHandler end_run_handler = nullptr;
}

void set_end_run_handler(EndRunHandler handler) { end_run_handler = handler; }

void note_file(std::string_view file) { detail::environment().current_file = trim_right(file); }

void note_failure(std::string_view message) {
  detail::EnvironmentState& env = detail::environment();
  std::string_view m = trim_right(message);
  while (!m.empty() && (m.front() == ' ' || m.front() == '\n')) m.remove_prefix(1);
  env.failure = m;
  env.failure_on_stderr = false;
}

namespace {

// The program as invoked, without its directory: the name scripts know it by.
std::string invoked_name() {
  std::string name = ugtarg(0);
  if (const std::size_t slash = name.rfind('/'); slash != std::string::npos) name.erase(0, slash + 1);
  return name.empty() ? envpnm() : name;
}

// "<program>: <file>: <failure>", the file left out when the failure names it already.
void failure_line(int status) {
  detail::EnvironmentState& env = detail::environment();
  if (env.failure_on_stderr) return;
  std::string line = invoked_name() + ": ";
  if (!env.current_file.empty() && env.failure.find(env.current_file) == std::string::npos)
    line += env.current_file + ": ";
  line += env.failure.empty() ? "the image library ended the run with status " + std::to_string(status) : env.failure;
  std::cerr << line << '\n';
}

}  // namespace

void end_run(int status) {
  report_stream().flush();
  std::cout.flush();
  if (status != 0) {
    failure_line(status);
    progmain::remove_unfinished_outputs();
  }
  detail::EnvironmentState& env = detail::environment();
  env.failure.clear();
  env.failure_on_stderr = false;
  std::cerr.flush();
  if (end_run_handler) end_run_handler(status);
  std::exit(status);
}

void stop_run(std::string_view stop_text) {
  report_stream().flush();
  std::cout.flush();
  if (!stop_text.empty()) {
    std::cerr << stop_text << '\n';
    if (detail::environment().failure.empty()) note_failure(stop_text);
  }
  end_run(1);
}

void enverr(int istat, std::string_view message) {
  const int saved_errno = errno;
  if (istat < 0) {
    const std::string text = saved_errno == 0 ? std::string() : std::string(std::strerror(saved_errno));
    if (lenstr(text) > 0 && text != "Message number 00000000") {
      qprint(0, "Last system error message:");
      qprint(0, text);
    }
  }
  std::string line;
  if (istat >= -1 && istat <= 1) {
    line = envpnm() + ":  " + std::string(message);
  } else if (istat == 2) {
    line = " WARNING: " + std::string(message);
  } else {
    line = std::string(message);
  }
  if (line.size() > 100) line.resize(100);
  if (istat >= -1 && istat <= 1) {
    note_failure(message);
    if (istat < 0 && saved_errno != 0)
      detail::environment().failure += std::string(" (") + std::strerror(saved_errno) + ")";
  }
  if (istat == 2) {
    qprint(0, "");
    qprint(0, " $TEXT:Warning: $$ comment $$ ");
    qprint(0, line);
    qprint(0, " $$");
    return;
  }
  qprint(0, line);
  if (istat < -1 || istat > 1) return;
  if (istat == 1) {
    report_stream().flush();
    std::cout.flush();
    std::cerr << ' ' << trim_right(line) << '\n';
    // That line names the program; with the file in it, it is the one line scripts need.
    const std::string& file = detail::environment().current_file;
    detail::environment().failure_on_stderr = file.empty() || line.find(file) != std::string::npos;
  }
  getelapsed();
  // Status 255 for fatal errors; an error end never reports success, so istat 0 gives 1.
  end_run(istat == -1 ? 255 : 1);
}

void fatal(std::string_view message) {
  enverr(-1, message);
  end_run(255);
}

void fatal_level1(std::string_view message) {
  enverr(1, message);
  end_run(1);
}

}  // namespace imagefile
