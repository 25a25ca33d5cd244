// Entry point of every fuzz program, in place of libFuzzer's own main.
// Before handing the command line to libFuzzer it
// - sends crash, leak, timeout and out-of-memory inputs into the build
//   folder, <folder of the program>/artifacts/<program>-..., unless the
//   command line names an -artifact_prefix itself: libFuzzer's default is
//   the current folder, and a program run by hand from the repository root
//   leaves its findings there;
// - makes the run's scratch folder, so a folder that cannot be made ends the
//   run with a message instead of aborting on the first input, which
//   libFuzzer would save as a crash of the empty input.
#include <errno.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerRunDriver(int* argc, char*** argv,
                                   int (*callback)(const uint8_t* data, size_t size));

int main(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  std::string prefix_flag;
  bool has_prefix = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]).rfind("-artifact_prefix=", 0) == 0) has_prefix = true;
  }
  if (!has_prefix) {
    char exe[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (length <= 0) {
      std::perror("/proc/self/exe");
      return 1;
    }
    const std::string path(exe, static_cast<size_t>(length));
    const size_t slash = path.rfind('/');
    const std::string artifacts = path.substr(0, slash) + "/artifacts";
    if (mkdir(artifacts.c_str(), 0755) != 0 && errno != EEXIST) {
      std::perror(artifacts.c_str());
      return 1;
    }
    prefix_flag = "-artifact_prefix=" + artifacts + "/" + path.substr(slash + 1) + "-";
    args.insert(args.begin() + 1, prefix_flag.data());
  }
  fuzz::ScratchDir();

  int count = static_cast<int>(args.size());
  args.push_back(nullptr);
  char** vector = args.data();
  return LLVMFuzzerRunDriver(&count, &vector, LLVMFuzzerTestOneInput);
}
