// The duplicate guard against a production log of 1,000,000 records: the
// time of one check for an identity the log does not hold (the whole log is
// read), and the memory it takes, which must not grow with the log.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "platform/shared_log.h"
#include "provision/production_log.h"

namespace {

long PeakKilobytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

}  // namespace

int main() {
  constexpr int kRecords = 1000000;
  const std::string path =
      (std::filesystem::temp_directory_path() / "orn5300-bench-production-log.csv").string();
  std::filesystem::remove(path);
  {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) return 1;
    std::fputs(RecordHeaderLine().c_str(), out);
    ProductionRecord r{"2026-12-08T10:00:00Z", "station-07", "0", "ORN5300", "0x53000001", "EEPROM",
                       "line3/station.ini",
                       "00f137c92036901b5f92cf5e1d5ad14acd92aaad1135d43e9cdecaecef1498f0", "", "", "512",
                       "passed", "0", "", "no", "1.0.9.0"};
    char mac[18], serial[13];
    for (int i = 0; i < kRecords; ++i) {
      std::snprintf(mac, sizeof mac, "00:80:0F:%02X:%02X:%02X", (i >> 16) & 0xFF, (i >> 8) & 0xFF, i & 0xFF);
      std::snprintf(serial, sizeof serial, "%012X", i);
      r.mac = mac;
      r.serial = serial;
      std::fputs(FormatRecordLine(r).c_str(), out);
    }
    std::fclose(out);
  }
  const auto bytes = std::filesystem::file_size(path);
  const long rss_before = PeakKilobytes();

  uint32_t error = 0;
  auto log = platform::OpenSharedLog(path, error);
  if (!log) return 1;
  EarlierRecord mac_match, serial_match;
  double best_ms = 1e9;
  for (int round = 0; round < 5; ++round) {
    const auto start = std::chrono::steady_clock::now();
    if (!FindProgrammedIdentity(*log, "02:00:00:00:00:01", "FFFFFFFFFFFF", mac_match, serial_match)) return 1;
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (ms < best_ms) best_ms = ms;
  }
  // The last record, found at the end of the log.
  FindProgrammedIdentity(*log, "00:80:0F:0F:42:3F", "0000000F423F", mac_match, serial_match);
  std::printf("production log duplicate check: %d records, %.1f MB, %.1f ms per check (best of 5), "
              "found the last record at line %llu, peak memory growth %ld KiB\n",
              kRecords, static_cast<double>(bytes) / 1e6, best_ms,
              static_cast<unsigned long long>(mac_match.line), PeakKilobytes() - rss_before);
  std::filesystem::remove(path);
  return mac_match.found && serial_match.found ? 0 : 1;
}
