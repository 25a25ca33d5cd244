#include "support/tool_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace test {

int ShellExit(int code) { return code & 0xFF; }

namespace {

constexpr uid_t kNobody = 65534;

// In the child, before exec: the limits of the run. False when one cannot
// be set.
bool ApplyLimits(const RunLimits& limits) {
  if (limits.file_size_limit >= 0) {
    const rlimit rl{static_cast<rlim_t>(limits.file_size_limit), static_cast<rlim_t>(limits.file_size_limit)};
    if (setrlimit(RLIMIT_FSIZE, &rl) != 0) return false;
    if (limits.file_size_errors) std::signal(SIGXFSZ, SIG_IGN);
  }
  if (limits.unprivileged && geteuid() == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) return false;
  }
  return true;
}

}  // namespace

bool CanRunUnprivileged() {
  if (geteuid() != 0) return true;
  const RunResult r = Run("/bin/sh", {"-c", "test -x " ORN_CLI_PATH " && id -u"}, {}, "", "", RunLimits{-1, false, true});
  return r.exit_code == 0 && r.out == std::to_string(kNobody) + "\n";
}

RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::map<std::string, std::string>& env, const std::string& input,
              const std::string& cwd, const RunLimits& limits) {
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (pipe(in_pipe) != 0 || pipe(out_pipe) != 0 || pipe(err_pipe) != 0) {
    throw std::runtime_error("pipe failed");
  }
  // A program that ends without reading all its input closes the pipe:
  // the write must then fail with EPIPE, not kill the test with SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    std::signal(SIGPIPE, SIG_DFL);
    dup2(in_pipe[0], 0);
    dup2(out_pipe[1], 1);
    dup2(err_pipe[1], 2);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) {
      close(fd);
    }
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    if (!ApplyLimits(limits)) _exit(125);
    for (const auto& [key, value] : env) {
      if (value.empty()) {
        unsetenv(key.c_str());
      } else {
        setenv(key.c_str(), value.c_str(), 1);
      }
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execve(program.c_str(), argv.data(), environ);
    _exit(127);
  }
  close(in_pipe[0]);
  close(out_pipe[1]);
  close(err_pipe[1]);
  // Feed the input and read both outputs without blocking on either.
  size_t written = 0;
  int in_fd = in_pipe[1];
  if (input.empty()) {
    close(in_fd);
    in_fd = -1;
  } else {
    fcntl(in_fd, F_SETFL, O_NONBLOCK);
  }
  RunResult result;
  bool out_open = true, err_open = true;
  char buf[65536];
  while (out_open || err_open || in_fd >= 0) {
    pollfd fds[3];
    int n = 0;
    int out_i = -1, err_i = -1, in_i = -1;
    if (out_open) { fds[n] = {out_pipe[0], POLLIN, 0}; out_i = n++; }
    if (err_open) { fds[n] = {err_pipe[0], POLLIN, 0}; err_i = n++; }
    if (in_fd >= 0) { fds[n] = {in_fd, POLLOUT, 0}; in_i = n++; }
    if (poll(fds, n, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (out_i >= 0 && fds[out_i].revents) {
      ssize_t r = read(out_pipe[0], buf, sizeof buf);
      if (r > 0) result.out.append(buf, static_cast<size_t>(r)); else out_open = false;
    }
    if (err_i >= 0 && fds[err_i].revents) {
      ssize_t r = read(err_pipe[0], buf, sizeof buf);
      if (r > 0) result.err.append(buf, static_cast<size_t>(r)); else err_open = false;
    }
    if (in_i >= 0 && fds[in_i].revents) {
      ssize_t w = write(in_fd, input.data() + written, input.size() - written);
      if (w > 0) written += static_cast<size_t>(w);
      if (w < 0 || written == input.size()) {
        close(in_fd);
        in_fd = -1;
      }
    }
  }
  close(out_pipe[0]);
  close(err_pipe[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    result.exit_code = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.exit_code = -1000 - WTERMSIG(status);
  }
  return result;
}

namespace {

// Exit code of a run under valgrind that found an error or a leak; the tool
// itself never ends with it, so a test that checks the exit code fails.
constexpr int kValgrindErrorExit = 99;

// Marks of a sanitizer report on standard error.
constexpr const char* kSanitizerMarks[] = {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer",
                                           "runtime error: "};

// A sanitizer report from a tool run fails the test that ran it, whatever
// the test expects of the exit code.
void FailOnSanitizerReport(const std::string& program, const RunResult& result) {
  for (const char* mark : kSanitizerMarks) {
    if (result.err.find(mark) != std::string::npos) {
      ADD_FAILURE() << "sanitizer report from " << program << ":\n" << result.err;
      return;
    }
  }
}

std::string FindInPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    const std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

// ORN_TEST_VALGRIND set (and not "0"): every orn5300cli run goes through
// valgrind's memcheck. Its report goes to a file of its own, so the tool's
// standard error stays as the test expects; an error or a definite or
// indirect leak changes the exit code and fails the test with the report.
bool ValgrindRequested() {
  const char* value = std::getenv("ORN_TEST_VALGRIND");
  return value != nullptr && *value != '\0' && std::string(value) != "0";
}

RunResult RunUnderValgrind(const std::vector<std::string>& args,
                           const std::map<std::string, std::string>& env,
                           const std::string& input, const std::string& cwd) {
  const std::string valgrind = FindInPath("valgrind");
  if (valgrind.empty()) throw std::runtime_error("ORN_TEST_VALGRIND is set but valgrind is missing");
  TempDir log_dir;
  const std::string log = log_dir.File("memcheck.log");
  std::vector<std::string> full = {"--tool=memcheck",
                                   "--leak-check=full",
                                   "--show-leak-kinds=definite,indirect",
                                   "--errors-for-leak-kinds=definite,indirect",
                                   "--error-exitcode=" + std::to_string(kValgrindErrorExit),
                                   "--log-file=" + log,
                                   ORN_CLI_PATH};
  full.insert(full.end(), args.begin(), args.end());
  RunResult result = Run(valgrind, full, env, input, cwd);
  const std::string report = ReadFile(log);
  const size_t summary = report.find("ERROR SUMMARY: ");
  if (summary == std::string::npos) {
    ADD_FAILURE() << "valgrind wrote no summary:\n" << report;
  } else if (report.compare(summary, 17, "ERROR SUMMARY: 0 ") != 0 ||
             result.exit_code == kValgrindErrorExit) {
    ADD_FAILURE() << "valgrind found errors in orn5300cli:\n" << report;
  }
  return result;
}

}  // namespace

RunResult RunCli(const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env, const std::string& input,
                 const std::string& cwd, const RunLimits& limits) {
  const bool limited = limits.file_size_limit >= 0 || limits.unprivileged;
  if (ValgrindRequested() && !limited) return RunUnderValgrind(args, env, input, cwd);
  RunResult result = Run(ORN_CLI_PATH, args, env, input, cwd, limits);
  FailOnSanitizerReport(ORN_CLI_PATH, result);
  return result;
}

RunResult RunSim(const std::vector<std::string>& args) {
  RunResult result = Run(ORN_SIM_PATH, args);
  FailOnSanitizerReport(ORN_SIM_PATH, result);
  return result;
}

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "orn5300-test-").string() +
                     std::string(6, 'X');  // mkdtemp placeholder
  if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

std::string Banner() {
  return "\n 5300 Windows Command Line Utility v1.0.9.0 (02/22/2017)\n"
         " (Built at 16:21:09 on Feb 22 2017)\n\n\n";
}

}  // namespace test
