// Helpers of the database tests: a database per test on each engine,
// station INI files with a given identity range, and records.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "database/line_database.h"
#include "provision/production_log.h"
#include "support/db_servers.h"
#include "support/tool_runner.h"

namespace dbtest {

enum class Kind { kPostgres, kSqlite };

inline void PrintTo(Kind kind, std::ostream* os) { *os << (kind == Kind::kPostgres ? "PostgreSQL" : "SQLite"); }

inline std::string KindName(const testing::TestParamInfo<Kind>& info) {
  return info.param == Kind::kPostgres ? "PostgreSQL" : "SQLite";
}

// A fresh database of `kind` (SQLite: a file in `dir`); nullopt with `why`.
inline std::optional<std::string> FreshDatabase(Kind kind, const test::TempDir& dir, std::string& why) {
  return kind == Kind::kPostgres ? test::FreshPostgresDatabase(why)
                                 : test::SqliteConnection(dir.File("line.db"), why);
}

// The example station INI file with its identity keys replaced.
struct IdentityKeys {
  std::string mac, max_mac, mac_increment, serial, max_serial, serial_increment;
};
inline std::string IniWithIdentity(const IdentityKeys& keys) {
  std::string text = test::ReadFile(std::string(ORN_SOURCE_DIR) + "/examples/orn5300.ini");
  const std::map<std::string, std::string> values = {
      {"CurrentMacAddress", keys.mac},         {"MaximumMacAddress", keys.max_mac},
      {"MacAddressIncrement", keys.mac_increment}, {"CurrentSerialNumber", keys.serial},
      {"MaximumSerialNumber", keys.max_serial},    {"SerialNumberIncrement", keys.serial_increment}};
  for (const auto& [key, value] : values) {
    const size_t at = text.find("\n" + key + " = ");
    const size_t end = text.find('\n', at + 1);
    text.replace(at + 1, end - at - 1, key + " = " + value);
  }
  return text;
}

// What a run knows when it reserves: station, adapter, memory, file.
inline ProductionRecord Seed(const std::string& host = "station1") {
  ProductionRecord r;
  r.host = host;
  r.adapter = "0";
  r.memory = "EEPROM";
  r.source_file = "station.ini";
  r.verify = "not run";
  r.tool_version = "1.0.9.0";
  return r;
}

// The record of a run that ended: verify passed (exit code 0) or failed.
inline ProductionRecord Finished(ProductionRecord r, bool passed) {
  r.time_utc = "2026-12-08T10:00:59Z";
  r.chip_model = "ORN5300";
  r.chip_id = "0x53000001";
  r.image_sha256 = std::string(64, 'a');
  r.bytes_written = "512";
  r.verify = passed ? "passed" : "failed";
  r.exit_code = passed ? "0" : "9";
  r.error = passed ? "" : "Verify failed at 0x0010, \"read\" 0x00";
  return r;
}

// An opened database with the schema.
inline std::unique_ptr<db::LineDatabase> OpenWithSchema(const std::string& connection) {
  auto database = std::make_unique<db::LineDatabase>();
  EXPECT_TRUE(database->Connect(connection).ok());
  const db::Result init = database->Init();
  EXPECT_TRUE(init.ok()) << init.message;
  const db::Result open = database->Open(connection);
  EXPECT_TRUE(open.ok()) << open.message;
  return database;
}

}  // namespace dbtest
