// Runs the built tools as a user would and captures what they print.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace test {

struct RunResult {
  int exit_code = 0;      // as the shell sees it (0..255); -1000 - signal when killed
  std::string out;        // standard output
  std::string err;        // standard error
};

// How a run is confined, for tests of crashes, full disks and permissions.
struct RunLimits {
  long long file_size_limit = -1;  // bytes a file may grow to (RLIMIT_FSIZE); -1: no limit
  bool file_size_errors = false;   // a write past the limit fails (a full disk) instead of
                                   // killing the run (a crash at that byte)
  bool unprivileged = false;       // run as the user and group nobody when the tests run as root
};

// True when runs with `unprivileged` set really run without root's rights.
bool CanRunUnprivileged();

// Exit code of the program as the C++ `main` returned it, as the shell
// reports it: for example -1 becomes 255.
int ShellExit(int code);

// Runs `program` with `args` in the working folder `cwd` (empty: current),
// with the extra environment `env` on top of the current one (an empty
// value removes the variable), feeding `input` to standard input (closed
// right after).
RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::map<std::string, std::string>& env = {}, const std::string& input = "",
              const std::string& cwd = "", const RunLimits& limits = {});

// Shorthands for the two tools of this project.
RunResult RunCli(const std::vector<std::string>& args,
                 const std::map<std::string, std::string>& env = {}, const std::string& input = "",
                 const std::string& cwd = "", const RunLimits& limits = {});
RunResult RunSim(const std::vector<std::string>& args);

// A fresh temporary folder, removed with everything in it on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);

// The banner that every run of orn5300cli prints first.
std::string Banner();

}  // namespace test
