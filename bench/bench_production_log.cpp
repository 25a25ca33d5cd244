// The duplicate guard against a production log of 1,000,000 records as a
// factory writes them: MAC addresses of one vendor prefix counting up,
// serial numbers with leading zeros, sixteen stations, an image digest per
// unit. Prints the time of one check for the next unit (which the log does
// not hold, so the whole log is read) and the memory it takes, which must
// not grow with the log.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "platform/shared_log.h"
#include "provision/production_log.h"

namespace {

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

std::string Mac(uint32_t n) {
  char text[18];
  std::snprintf(text, sizeof text, "00:80:0F:%02X:%02X:%02X", (n >> 16) & 0xFF, (n >> 8) & 0xFF, n & 0xFF);
  return text;
}

std::string Serial(uint32_t n) {
  char text[16];
  std::snprintf(text, sizeof text, "%08X", n);
  return text;
}

}  // namespace

int main() {
  constexpr int kRecords = 1000000;
  constexpr uint32_t kFirstUnit = 0x530000;
  const std::string path =
      (std::filesystem::temp_directory_path() / "orn5300-bench-production-log.csv").string();
  std::filesystem::remove(path);
  {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return 1;
    std::fputs(RecordHeaderLine().c_str(), out);
    std::mt19937_64 random(42);
    ProductionRecord r{"", "", "0", "ORN5300", "0x53000001", "EEPROM", "\\\\mes\\line3\\station.ini", "", "", "",
                       "512", "passed", "0", "", "no", "1.0.9.0"};
    const std::time_t start = 1796000000;
    for (int i = 0; i < kRecords; ++i) {
      char time_text[21];
      platform::FormatUtcTime(start + i * 4, time_text);
      r.time_utc = time_text;
      r.host = "ST" + std::to_string(1 + i % 16);
      r.mac = Mac(kFirstUnit + static_cast<uint32_t>(i));
      r.serial = Serial(0x00010000 + static_cast<uint32_t>(i));
      char digest[65];
      for (int k = 0; k < 4; ++k) std::snprintf(digest + 16 * k, 17, "%016llx", static_cast<unsigned long long>(random()));
      r.image_sha256 = digest;
      std::fputs(FormatRecordLine(r).c_str(), out);
    }
    std::fclose(out);
  }
  const auto bytes = std::filesystem::file_size(path);
  const long rss_before = PeakKilobytes();

  uint32_t error = 0;
  auto log = platform::OpenSharedLog(path, error);
  if (!log) return 1;
  IdentityHistory history;
  double best_ms = 1e9;
  const std::string next_mac = Mac(kFirstUnit + kRecords), next_serial = Serial(0x00010000 + kRecords);
  for (int round = 0; round < 5; ++round) {
    const auto start = std::chrono::steady_clock::now();
    if (!ReadIdentityHistory(*log, next_mac, next_serial, history)) return 1;
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (ms < best_ms) best_ms = ms;
    if (history.mac_programmed || history.serial_programmed) return 1;
  }
  // The last unit, found at the end of the log.
  ReadIdentityHistory(*log, Mac(kFirstUnit + kRecords - 1), Serial(0x00010000 + kRecords - 1), history);
  std::printf("production log duplicate check: %d records of one vendor prefix, %.1f MB, %.1f ms per check "
              "(best of 5), found the last unit at line %llu, peak memory growth %ld KiB\n",
              kRecords, static_cast<double>(bytes) / 1e6, best_ms,
              static_cast<unsigned long long>(history.mac_programmed ? history.mac_programmed->line : 0),
              PeakKilobytes() - rss_before);
  if (std::getenv("ORN_BENCH_KEEP") == nullptr) std::filesystem::remove(path);
  return history.mac_programmed && history.serial_programmed ? 0 : 1;
}
