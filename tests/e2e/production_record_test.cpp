// The production record through the built tool: what each programming run
// writes, the duplicate guard, stations sharing one log, and a crash at
// every byte of an append.
#include <gtest/gtest.h>

#include <latch>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/sha256.h"
#include "platform/shared_log.h"
#include "provision/production_log.h"
#include "tests/e2e/eeprom_e2e_support.h"

namespace {

using e2e::Bytes;
using e2e::SimDevice;

// The whole records of a log, in order, the start lines, and the number of
// damaged lines.
struct LogContents {
  std::vector<ProductionRecord> records;
  std::vector<ProductionRecord> starts;
  int damaged = 0;
  bool header = false;
};

LogContents ReadLog(const std::string& path) {
  LogContents contents;
  uint32_t error = 0;
  auto log = platform::OpenSharedLog(path, error);
  EXPECT_TRUE(log) << path;
  if (!log) return contents;
  ForEachLogLine(*log, [&](uint64_t line, std::string_view text) {
    ProductionRecord r;
    switch (ClassifyLogLine(text, line == 1, r)) {
      case LogLineKind::kRecord: (IsStartLine(r) ? contents.starts : contents.records).push_back(r); break;
      case LogLineKind::kHeader: contents.header = contents.header || line == 1; break;
      default: ++contents.damaged; break;
    }
    return true;
  });
  return contents;
}

// A station: its own device and INI file, logging to `log`.
test::RunResult Program(SimDevice& dev, const std::string& log, std::vector<std::string> args,
                        std::map<std::string, std::string> env = {}, const test::RunLimits& limits = {}) {
  dev.Save();
  env["ORN5300_SIM"] = dev.StatePath();
  env["ORN5300_SIM_TRACE"] = dev.TracePath();
  env["ORN5300_LOG"] = log;
  std::remove(dev.TracePath().c_str());
  const test::RunResult r = test::RunCli(args, env, "", dev.dir.path(), limits);
  dev.state = nlohmann::json::parse(test::ReadFile(dev.StatePath()));
  return r;
}

std::string IniWithMac(const std::string& mac, const std::string& serial) {
  std::string text = e2e::IniText();
  text.replace(text.find("00:80:0F:11:22:30"), 17, mac);
  text.replace(text.find("000000A1"), 8, serial);
  return text;
}

TEST(ProductionRecord, EveryProgrammingRunIsRecordedWithItsOutcome) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    nlohmann::json faults;
    int exit_code;
    const char* memory;
    const char* verify;
    const char* error_start;
    std::string serial = "000000A1";
  };
  const Case cases[] = {
      {"EEPROM from the INI file", {"-w", "-i", "station.ini", "-N"}, nlohmann::json::array(), 0, "EEPROM",
       "passed", ""},
      {"OTP from the INI file", {"-O", "-w", "-i", "station.ini", "-C", "YES"}, nlohmann::json::array(), 0,
       "OTP F3", "passed", ""},
      {"verify finds a difference", {"-w", "-i", "station.ini", "-N"},
       {{{"op", "E2P_READ_BLOCK"}, {"corrupt", 7}}}, 9, "EEPROM", "failed", "Failed to verify device eeprom"},
      {"write refused", {"-w", "-i", "station.ini", "-N"}, {{{"op", "E2P_WRITE_BLOCK"}, {"status", 1}}}, 9,
       "EEPROM", "not run", "E2P_WRITE_BLOCK failed!"},
      {"refused before the device: no next serial number", {"-w", "-i", "station.ini", "-N"},
       nlohmann::json::array(), 10, "EEPROM", "not run", "The next serial number 00010000 would be greater",
       "0000FFFF"},
  };
  for (const Case& c : cases) {
    SimDevice dev;
    const std::string log = dev.dir.File("production.csv");
    test::WriteFile(dev.dir.File("station.ini"), IniWithMac("00:80:0F:11:22:30", c.serial));
    dev.state = {{"faults", c.faults}};
    const auto r = Program(dev, log, c.args);
    SKIP_IF_NOT_LANDED(r);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.name << "\n" << r.out;
    const LogContents contents = ReadLog(log);
    EXPECT_TRUE(contents.header) << c.name;
    EXPECT_EQ(contents.damaged, 0) << c.name;
    ASSERT_EQ(contents.records.size(), 1u) << c.name;
    // A run that reached the device said which unit it programs before it
    // wrote it.
    const bool reached = c.exit_code != 10;  // the device is opened only after the checks
    ASSERT_EQ(contents.starts.size(), reached ? 1u : 0u) << c.name;
    if (reached) {
      EXPECT_EQ(contents.starts[0].mac, "00:80:0F:11:22:30") << c.name;
      EXPECT_EQ(contents.starts[0].exit_code, "") << c.name;
      EXPECT_EQ(contents.starts[0].chip_model, "ORN5300") << c.name;
    }
    const ProductionRecord& rec = contents.records[0];
    EXPECT_EQ(rec.host, platform::HostName()) << c.name;
    EXPECT_EQ(rec.adapter, "0") << c.name;
    EXPECT_EQ(rec.chip_model, reached ? "ORN5300" : "") << c.name;
    EXPECT_EQ(rec.chip_id, reached ? "0x53000000" : "") << c.name;
    EXPECT_EQ(rec.memory, c.memory) << c.name;
    EXPECT_EQ(rec.source_file, "station.ini") << c.name;
    EXPECT_EQ(rec.mac, "00:80:0F:11:22:30") << c.name;
    EXPECT_EQ(rec.serial, c.serial) << c.name;
    EXPECT_EQ(rec.verify, c.verify) << c.name;
    EXPECT_EQ(rec.exit_code, std::to_string(c.exit_code)) << c.name;
    EXPECT_EQ(rec.error.rfind(c.error_start, 0), 0u) << c.name << ": " << rec.error;
    EXPECT_EQ(rec.rework, "no") << c.name;
    EXPECT_EQ(rec.tool_version, ORN_VERSION_STRING) << c.name;
    EXPECT_EQ(rec.time_utc.size(), 20u) << rec.time_utc;
    if (std::string(c.memory) == "EEPROM" && std::string(c.verify) != "not run") {
      const Bytes eeprom = dev.Memory("eeprom");
      EXPECT_EQ(rec.image_sha256, Sha256::Hex(eeprom.data(), eeprom.size())) << c.name;
      EXPECT_EQ(rec.bytes_written, "512") << c.name;
    }
    if (std::string(c.verify) == "not run") {
      EXPECT_EQ(rec.image_sha256, "") << c.name;
      EXPECT_EQ(rec.bytes_written, "0") << c.name;
    }
  }
}

// A log that cannot be used stops the run before the device is touched.
TEST(ProductionRecord, LogThatCannotBeOpenedRefusesTheRun) {
  SimDevice dev;
  test::WriteFile(dev.dir.File("station.ini"), e2e::IniText());
  for (const std::string& log : {dev.dir.File("missing/production.csv"), dev.dir.path()}) {
    const auto r = Program(dev, log, {"-w", "-i", "station.ini", "-N"});
    SKIP_IF_NOT_LANDED(r);
    EXPECT_EQ(r.exit_code, 3) << r.out;
    EXPECT_NE(r.out.find("ERROR: Cannot open the production log " + log), std::string::npos) << r.out;
    EXPECT_FALSE(test::FileExists(dev.TracePath())) << "the device was opened";
    EXPECT_EQ(test::ReadFile(dev.dir.File("station.ini")), e2e::IniText());
  }
}

// An INI file restored from a copy would program a MAC address again: the
// log knows it, and only a rework of that very unit may repeat it.
TEST(ProductionRecord, DuplicateGuardRefusesAnIdentityTheLogRecords) {
  SimDevice dev;
  const std::string log = dev.dir.File("production.csv");
  const std::string ini = dev.dir.File("station.ini");
  test::WriteFile(ini, e2e::IniText());
  auto r = Program(dev, log, {"-w", "-i", "station.ini", "-N"});
  SKIP_IF_NOT_LANDED(r);
  ASSERT_EQ(r.exit_code, 0) << r.out;

  // The backup goes back in place.
  test::WriteFile(ini, e2e::IniText());
  SimDevice second;
  r = Program(second, log, {"-w", "-i", ini, "-N"});
  EXPECT_EQ(r.exit_code, 10) << r.out;
  EXPECT_NE(r.out.find("ERROR: MAC address 00:80:0F:11:22:30 was already programmed (line 3 of the log: "),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("ERROR: Serial number 000000A1 was already programmed (line 3 of the log: "),
            std::string::npos)
      << r.out;
  EXPECT_FALSE(test::FileExists(second.TracePath())) << "the device was opened";
  EXPECT_EQ(test::ReadFile(ini), e2e::IniText()) << "the identity was stepped";

  // A rework of the returned unit programs its own identity again.
  r = Program(second, log, {"-w", "-i", ini}, {{"ORN5300_REWORK", "1"}});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_NE(r.out.find("Rework of the unit programmed at line 3 of the log"), std::string::npos) << r.out;

  // But not with another unit's serial number.
  test::WriteFile(ini, IniWithMac("00:80:0F:11:22:30", "000000B7"));
  SimDevice third;
  third.state = {{"faults", nlohmann::json::array()}};
  test::WriteFile(third.dir.File("b7.ini"), IniWithMac("00:80:0F:11:22:77", "000000B7"));
  r = Program(third, log, {"-w", "-i", "b7.ini"});
  ASSERT_EQ(r.exit_code, 0) << r.out;
  r = Program(third, log, {"-w", "-i", ini}, {{"ORN5300_REWORK", "1"}});
  EXPECT_EQ(r.exit_code, 10) << r.out;

  const LogContents contents = ReadLog(log);
  ASSERT_EQ(contents.records.size(), 5u);
  EXPECT_EQ(contents.records[1].exit_code, "10");
  EXPECT_EQ(contents.records[1].verify, "not run");
  EXPECT_EQ(contents.records[2].rework, "yes");
  EXPECT_EQ(contents.records[2].verify, "passed");
  EXPECT_EQ(contents.records[4].exit_code, "10");
}

// Stations on one log: every record whole, none lost; two stations with
// copies of one INI file started together program the identity once.
TEST(ProductionRecord, StationsSharingOneLog) {
  constexpr int kStations = 8;
  test::TempDir share;
  const std::string log = share.File("production.csv");
  std::vector<SimDevice> devices(kStations);
  std::vector<test::RunResult> results(kStations);
  for (int i = 0; i < kStations; ++i) {
    // Stations 0 and 1 hold copies of one INI file; the others their own range.
    const int range = i == 1 ? 0 : i;
    char mac[18];
    std::snprintf(mac, sizeof mac, "00:80:0F:11:%02X:30", range);
    test::WriteFile(devices[i].dir.File("station.ini"), IniWithMac(mac, "0000" + std::to_string(10 + range) + "A1"));
  }
  std::latch start(kStations);
  std::vector<std::thread> stations;
  for (int i = 0; i < kStations; ++i) {
    stations.emplace_back([&, i] {
      start.arrive_and_wait();
      results[i] = Program(devices[i], log, {"-w", "-i", "station.ini", "-N"});
    });
  }
  for (auto& t : stations) t.join();
  SKIP_IF_NOT_LANDED(results[0]);
  EXPECT_EQ(std::min(results[0].exit_code, results[1].exit_code), 0);
  EXPECT_EQ(std::max(results[0].exit_code, results[1].exit_code), 10) << results[0].out << results[1].out;
  for (int i = 2; i < kStations; ++i) EXPECT_EQ(results[i].exit_code, 0) << results[i].out;

  const LogContents contents = ReadLog(log);
  EXPECT_TRUE(contents.header);
  EXPECT_EQ(contents.damaged, 0);
  ASSERT_EQ(contents.records.size(), static_cast<size_t>(kStations));
  std::set<std::string> programmed;
  for (const ProductionRecord& r : contents.records) {
    if (r.verify == "passed") {
      EXPECT_TRUE(programmed.insert(r.mac).second) << r.mac << " programmed twice";
    }
  }
  EXPECT_EQ(programmed.size(), static_cast<size_t>(kStations - 1));
}

// A run killed at any byte of its start line or its record, or whose
// append fails there, leaves a log that the next run appends to and every
// reader reads: the earlier records whole, the cut line alone on its line,
// the next record whole. A unit whose device was written is in the log
// either way, so the guard refuses its identity. A run that cannot write
// its start line does not program; one that cannot write its record fails.
TEST(ProductionRecord, CrashOrFullDiskAtEveryByteOfAnAppend) {
  // Earlier records make the log larger than any other file a run writes,
  // so the limit cuts only the appends.
  std::string earlier = RecordHeaderLine();
  for (int i = 0; i < 120; ++i) {
    char mac[18], serial[16];
    std::snprintf(mac, sizeof mac, "02:00:00:00:00:%02d", 10 + i % 90);
    std::snprintf(serial, sizeof serial, "C%d", i);
    ProductionRecord r{"2026-12-01T08:00:00Z", "station-0", "0", "ORN5300", "0x53000000", "EEPROM", "old.ini",
                       std::string(64, 'b'), mac, serial, "512", "passed", "0", "", "no", "1.0.9.0"};
    earlier += FormatRecordLine(r);
  }
  const long long base = static_cast<long long>(earlier.size());
  constexpr long long kLongestAppends = 420;  // a start line and a record
  const Bytes blank(512, 0xFF);
  for (bool crash : {true, false}) {
    for (long long limit = base; limit <= base + kLongestAppends; ++limit) {
      if (!crash && limit % 8 != 0) continue;
      SimDevice dev;
      const std::string log = dev.dir.File("production.csv");
      test::WriteFile(log, earlier);
      test::WriteFile(dev.dir.File("station.ini"), e2e::IniText());
      const auto cut = Program(dev, log, {"-w", "-i", "station.ini", "-N"}, {}, test::RunLimits{limit, !crash, false});
      const std::string where = std::string(crash ? "killed" : "failing") + " at byte " + std::to_string(limit);
      const LogContents after_cut = ReadLog(log);
      const bool programmed = dev.Memory("eeprom") != blank && !dev.Memory("eeprom").empty();
      const bool recorded = after_cut.records.size() == 121u;
      // Cut inside its last field or just before its LF, the record holds
      // every column; the next append ends its line.
      const std::string text = test::ReadFile(log);
      ProductionRecord last;
      const bool all_but_the_end = !recorded && !text.empty() && text.back() != '\n' &&
                                   ParseRecordLine(text.substr(text.rfind('\n') + 1), last) && !IsStartLine(last);
      if (!crash) {
        EXPECT_EQ(cut.exit_code, recorded ? 0 : programmed ? 15 : 3) << where << "\n" << cut.out;
      }
      if (programmed) {
        uint32_t error = 0;
        auto opened = platform::OpenSharedLog(log, error);
        ASSERT_TRUE(opened);
        IdentityHistory history;
        ASSERT_TRUE(ReadIdentityHistory(*opened, "00:80:0F:11:22:30", "000000A1", history));
        EXPECT_TRUE(history.mac_programmed || !history.unfinished.empty())
            << where << ": the unit was written and the log does not guard its identity";
      }
      // The next station's run appends behind whatever was left.
      test::WriteFile(dev.dir.File("next.ini"), IniWithMac("00:80:0F:11:22:90", "000000F1"));
      const auto next = Program(dev, log, {"-w", "-i", "next.ini"});
      ASSERT_EQ(next.exit_code, 0) << where << "\n" << next.out;
      const LogContents contents = ReadLog(log);
      ASSERT_EQ(contents.records.size(), recorded || all_but_the_end ? 122u : 121u) << where;
      EXPECT_LE(contents.damaged, 1) << where;
      EXPECT_EQ(contents.records.back().mac, "00:80:0F:11:22:90") << where;
      EXPECT_EQ(contents.records[119].serial, "C119") << where;
    }
  }
}

}  // namespace
