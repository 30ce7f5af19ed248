#include "runprog.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

namespace testsupport {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string templ = (fs::temp_directory_path() / "quorvan-test-XXXXXX").string();
  if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

void TempDir::write(const std::string& name, const std::string& bytes) const { write_file(path_ / name, bytes); }
std::string TempDir::read(const std::string& name) const { return read_file(path_ / name); }
bool TempDir::exists(const std::string& name) const { return fs::exists(path_ / name); }

std::string read_file(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + p.string());
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const fs::path& p, const std::string& bytes) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + p.string());
  out << bytes;
}

std::string program_path(const std::string& name) {
  const char* bin = std::getenv("QUORVAN_BIN");
  std::string dir = (bin != nullptr && *bin != '\0') ? bin : QUORVAN_BIN_DIR;
  return dir + "/" + name;
}

RunSpec run_spec(std::string exe, std::vector<std::string> args, std::optional<std::string> in,
                 std::vector<std::pair<std::string, std::string>> env) {
  RunSpec r;
  r.exe = std::move(exe);
  r.args = std::move(args);
  r.stdin_text = std::move(in);
  r.env = std::move(env);
  return r;
}

double children_cpu_seconds() {
  rusage use{};
  getrusage(RUSAGE_CHILDREN, &use);
  return double(use.ru_utime.tv_sec + use.ru_stime.tv_sec) + double(use.ru_utime.tv_usec + use.ru_stime.tv_usec) * 1e-6;
}

double children_user_seconds() {
  rusage use{};
  getrusage(RUSAGE_CHILDREN, &use);
  return double(use.ru_utime.tv_sec) + double(use.ru_utime.tv_usec) * 1e-6;
}

namespace {

double now_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::vector<std::string> child_environment(const RunSpec& job) {
  std::vector<std::string> env;
  for (const char* keep : {"PATH", "HOME", "ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS", "TMPDIR"}) {
    if (const char* v = std::getenv(keep)) env.push_back(std::string(keep) + "=" + v);
  }
  for (const auto& [k, v] : job.env) env.push_back(k + "=" + v);
  return env;
}

}  // namespace

RunResult run_in(const fs::path& dir, const RunSpec& job) {
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0 || pipe(err_pipe) != 0) throw std::runtime_error("pipe failed");

  std::vector<std::string> argv_s;
  argv_s.push_back(job.argv0 ? *job.argv0 : job.exe);
  argv_s.insert(argv_s.end(), job.args.begin(), job.args.end());
  std::vector<char*> argv;
  for (auto& a : argv_s) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_s = child_environment(job);
  std::vector<char*> envp;
  for (auto& e : env_s) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    if (job.stdin_text) {
      dup2(in_pipe[0], 0);
    } else {
      int nul = open("/dev/null", O_RDONLY);
      dup2(nul, 0);
    }
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) close(fd);
    execve(job.exe.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  signal(SIGPIPE, SIG_IGN);

  RunResult r;
  std::string to_write = job.stdin_text.value_or("");
  std::size_t written = 0;
  int in_fd = in_pipe[1];
  if (!job.stdin_text || to_write.empty()) {
    close(in_fd);
    in_fd = -1;
  } else {
    fcntl(in_fd, F_SETFL, O_NONBLOCK);
  }
  bool out_open = true, err_open = true;
  const double deadline = now_seconds() + job.timeout_seconds;
  char buf[65536];
  while (out_open || err_open) {
    pollfd fds[3];
    int n = 0;
    int io = -1, ie = -1, ii = -1;
    if (out_open) {
      fds[n] = {out_pipe[0], POLLIN, 0};
      io = n++;
    }
    if (err_open) {
      fds[n] = {err_pipe[0], POLLIN, 0};
      ie = n++;
    }
    if (in_fd >= 0) {
      fds[n] = {in_fd, POLLOUT, 0};
      ii = n++;
    }
    double left = deadline - now_seconds();
    if (left <= 0) {
      r.timed_out = true;
      kill(pid, SIGKILL);
      break;
    }
    int rc = poll(fds, static_cast<nfds_t>(n), static_cast<int>(left * 1000) + 1);
    if (rc < 0 && errno == EINTR) continue;
    auto drain = [&](int idx, int fd, std::string& dest, bool& open_flag) {
      if (idx >= 0 && (fds[idx].revents & (POLLIN | POLLHUP | POLLERR))) {
        ssize_t got = read(fd, buf, sizeof buf);
        if (got > 0)
          dest.append(buf, static_cast<std::size_t>(got));
        else
          open_flag = false;
      }
    };
    drain(io, out_pipe[0], r.out, out_open);
    drain(ie, err_pipe[0], r.err, err_open);
    if (ii >= 0 && (fds[ii].revents & (POLLOUT | POLLERR | POLLHUP))) {
      ssize_t put = write(in_fd, to_write.data() + written, to_write.size() - written);
      if (put > 0) written += static_cast<std::size_t>(put);
      if (put < 0 || written == to_write.size()) {
        close(in_fd);
        in_fd = -1;
      }
    }
  }
  if (in_fd >= 0) close(in_fd);
  close(out_pipe[0]);
  close(err_pipe[0]);
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  if (WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
  if (WIFSIGNALED(wstatus)) r.signal = WTERMSIG(wstatus);
  return r;
}

}  // namespace testsupport
