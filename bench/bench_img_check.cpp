// orn5300img check over 10,000 EEPROM dumps of 512 bytes (ORN5300 and
// ORN5350 images, some with a wake-up filter, each with its own MAC
// address): the checking speed in files per second, in this process
// (load, check, report line) and as the built tool checking all of them in
// one run on one core. The goal is at least 20,000 files per second.
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "img/check.h"
#include "img/render.h"
#include "img/sources.h"

namespace {

constexpr int kFiles = 10000;

std::string ReadExample(const char* name) {
  std::string text;
  std::FILE* f = std::fopen((std::string(ORN_SOURCE_DIR) + "/examples/" + name).c_str(), "rb");
  if (f == nullptr) return text;
  char buf[4096];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
  std::fclose(f);
  return text;
}

std::vector<uint8_t> Image(const std::string& ini) {
  const img::Rendered r = img::RenderIniText(ini, img::RenderOptions{});
  if (!r.ok) {
    std::fprintf(stderr, "bench_img_check: the example does not render\n");
    std::exit(1);
  }
  return r.file;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main() {
  std::string with_filter = ReadExample("orn5350.ini");
  const std::string off = "PMEWUFFEnable = 0";
  with_filter.replace(with_filter.find(off), off.size(), "PMEWUFFEnable = 1");
  const std::vector<std::vector<uint8_t>> bases = {Image(ReadExample("orn5300.ini")),
                                                   Image(ReadExample("orn5350.ini")), Image(with_filter)};

  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("bench_img_check." + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::mt19937 random(5300);
  std::vector<std::string> paths;
  for (int i = 0; i < kFiles; ++i) {
    std::vector<uint8_t> dump(512, 0);
    const std::vector<uint8_t>& base = bases[static_cast<size_t>(i) % bases.size()];
    std::copy(base.begin(), base.end(), dump.begin());
    for (int b = 4; b <= 6; ++b) dump[static_cast<size_t>(b)] = static_cast<uint8_t>(random());
    paths.push_back((dir / ("dump" + std::to_string(i) + ".bin")).string());
    std::FILE* f = std::fopen(paths.back().c_str(), "wb");
    std::fwrite(dump.data(), 1, dump.size(), f);
    std::fclose(f);
  }

  // In this process: what the check command does for each file.
  auto start = std::chrono::steady_clock::now();
  size_t report_bytes = 0;
  long findings = 0;
  img::DecodeMemo memo;  // as the command keeps the decoder's verdicts for its run
  for (const std::string& path : paths) {
    img::SourceRef ref;
    std::string error;
    img::ParseSourceRef(path, ref, error);
    const img::Loaded loaded = img::LoadSource(ref, img::SourceOptions{});
    const img::CheckReport report = img::CheckImage(loaded.image, &memo);
    findings += static_cast<long>(report.findings.size());
    report_bytes += (path + ": " + report.description + ": ok\n").size();
  }
  const double in_process = Seconds(start);

  // The built tool, one run over all files, its report thrown away.
  start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    const int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, 1);
    dup2(null_fd, 2);
    std::vector<char*> argv = {const_cast<char*>(ORN_IMG_PATH), const_cast<char*>("check")};
    for (std::string& p : paths) argv.push_back(p.data());
    argv.push_back(nullptr);
    execv(ORN_IMG_PATH, argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  const double tool = Seconds(start);
  std::filesystem::remove_all(dir);

  std::printf("bench_img_check: %d files of 512 bytes, %ld findings, %zu report bytes\n", kFiles, findings,
              report_bytes);
  std::printf("  in process:   %.3f s, %.0f files/s\n", in_process, kFiles / in_process);
  std::printf("  orn5300img:   %.3f s, %.0f files/s (exit code %d)\n", tool, kFiles / tool,
              WIFEXITED(status) ? WEXITSTATUS(status) : -1);
  std::printf("  goal:         20000 files/s on one core\n");
  return 0;
}
