// A station's cost of the line database on the local PostgreSQL server:
// the median of one reservation plus the record of its outcome, in an empty
// table and in one that holds 1,000,000 units already (the guard is a
// unique index, so the ratio should stay near 1).
//
// Starts its own server with tools/pg_server.sh (durable: fsync on, as a
// factory runs it) unless ORN_BENCH_PG_CONNECTION names one (a superuser's
// connection string; two databases are made on it).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "database/line_database.h"
#include "platform/odbc.h"

namespace {

constexpr int kRows = 1000000;
constexpr int kUnits = 300;
constexpr int kWarmUp = 30;
constexpr int kRuns = 40;

std::string Shell(const std::string& command) {
  return "'" + std::string(ORN_SOURCE_DIR) + "/tools/pg_server.sh' " + command;
}

// A server of our own, stopped when the benchmark ends.
class Server {
 public:
  explicit Server(std::string state) : state_(std::move(state)) {}
  ~Server() {
    if (started_) std::system((Shell("stop '" + state_ + "'") + " > /dev/null").c_str());
  }
  bool Start(std::string& connection) {
    const int code = std::system((Shell("start '" + state_ + "' --durable") + " > /dev/null").c_str());
    started_ = true;
    if (code != 0) return false;
    std::ifstream in(state_ + "/connection");
    std::getline(in, connection);
    return !connection.empty();
  }

 private:
  std::string state_;
  bool started_ = false;
};

std::string WithDatabase(const std::string& connection, const std::string& name) {
  const size_t at = connection.find("Database=");
  if (at == std::string::npos) return connection + ";Database=" + name + ";";
  const size_t end = connection.find(';', at);
  return connection.substr(0, at) + "Database=" + name +
         (end == std::string::npos ? "" : connection.substr(end));
}

bool Exec(platform::odbc::Connection& c, const std::string& sql) {
  if (c.Execute(sql)) return true;
  std::fprintf(stderr, "%s\n", c.error().message.c_str());
  return false;
}

// A database with the schema and a pool; `rows` units already recorded,
// inserted by the server in one statement.
bool Prepare(const std::string& server, const std::string& name, int rows, std::string& connection) {
  platform::odbc::Connection admin;
  if (!admin.Connect(server, 10)) {
    std::fprintf(stderr, "%s\n", admin.error().message.c_str());
    return false;
  }
  admin.Execute("DROP DATABASE IF EXISTS " + name);
  if (!Exec(admin, "CREATE DATABASE " + name)) return false;
  connection = WithDatabase(server, name);
  db::LineDatabase d;
  db::Result r = d.Connect(connection);
  if (r.ok()) r = d.Init();
  if (r.ok()) r = d.CreatePool({"line", 0x00800F000000, 0x00800FFFFFFF, 1, "000000000000", "00000FFFFFFF", 1});
  if (!r.ok()) {
    std::fprintf(stderr, "%s\n", r.message.c_str());
    return false;
  }
  if (rows == 0) return true;
  const std::string insert =
      "INSERT INTO orn_units (unit_id, pool, outcome, guarded, mac_key, serial_key, ordered_at, "
      "client_us, time_utc, host, adapter, chip_model, chip_id, memory, source_file, image_sha256, "
      "mac, serial, bytes_written, verify, exit_code, error, rework, tool_version) "
      "SELECT md5(i::text), 'old', 'programmed', 1, 2199023255552 + i, 'A' || lpad(upper(to_hex(i)), 11, '0'), "
      "now(), i, '2026-12-08T10:00:59Z', 'station' || (i % 16), '0', 'ORN5300', '0x53000001', "
      "'EEPROM', 'line3/station.ini', md5(i::text) || md5(i::text), to_hex(2199023255552 + i), "
      "'A' || lpad(upper(to_hex(i)), 11, '0'), '512', 'passed', '0', '', 'no', '1.0.9.0' "
      "FROM generate_series(1, " + std::to_string(rows) + ") AS i";
  return Exec(d.connection(), insert) && Exec(d.connection(), "VACUUM ANALYZE orn_units");
}

// Median of reserve + finish, in milliseconds; negative on a failure.
double MedianUnit(const std::string& connection) {
  db::LineDatabase d;
  const db::Result open = d.Open(connection);
  if (!open.ok()) {
    std::fprintf(stderr, "%s\n", open.message.c_str());
    return -1;
  }
  std::vector<double> times;
  for (int i = 0; i < kWarmUp + kUnits; ++i) {
    // Made whole, as GCC 12 at -O3 warns falsely about assignments of
    // literals to the fields one by one.
    ProductionRecord record{"", "bench", "0", "", "", "EEPROM", "station.ini", "", "", "", "", "not run", "", "", "",
                            "1.0.9.0"};
    const auto start = std::chrono::steady_clock::now();
    db::Reservation reservation;
    db::Result r = d.Reserve("line", record, reservation);
    if (r.ok()) {
      ProductionRecord done{"2026-12-08T10:00:59Z", record.host, record.adapter, "", "", record.memory,
                            record.source_file, "", record.mac, record.serial, "512", "passed", "0", "", "no",
                            record.tool_version};
      r = d.Finish(reservation.unit_id, done);
    }
    if (!r.ok()) {
      std::fprintf(stderr, "%s\n", r.message.c_str());
      return -1;
    }
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (i >= kWarmUp) times.push_back(ms);
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// Median time of a whole station run against the simulator, in
// milliseconds: `setup` (environment assignments for the shell) in front of
// orn5300cli and its arguments.
double MedianRun(const std::filesystem::path& folder, const std::string& setup, const std::string& args) {
  std::vector<double> times;
  for (int i = 0; i < 5 + kRuns; ++i) {
    const std::string command = "cd '" + folder.string() + "' && ORN5300_SIM=device.json " + setup + " '" +
                                ORN_CLI_PATH + "' " + args + " > /dev/null";
    const auto start = std::chrono::steady_clock::now();
    if (std::system(command.c_str()) != 0) return -1;
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (i >= 5) times.push_back(ms);
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// Whole runs: the file-based station (INI file stepped with -N, the CSV
// production log) against a station on the line database (identity from
// the pool, unit in the table).
bool CompareRuns(const std::string& connection) {
  const std::filesystem::path folder = std::filesystem::temp_directory_path() / "orn5300-bench-line-runs";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(std::string(ORN_SOURCE_DIR) + "/examples/orn5300.ini", folder / "station.ini");
  std::ofstream(folder / "device.json") << "{}";
  const double file_ms = MedianRun(folder, "ORN5300_LOG=production.csv", "-w -i station.ini -N");
  const double pool_ms = MedianRun(folder, "ORN5300_DB='" + connection + "' ORN5300_POOL=line ORN5300_SPOOL=spool",
                                   "-w -i station.ini");
  std::filesystem::remove_all(folder);
  if (file_ms < 0 || pool_ms < 0) return false;
  std::printf("whole station runs on the simulator, median of %d:\n", kRuns);
  std::printf("  INI file with -N and the CSV log: %.2f ms\n", file_ms);
  std::printf("  pool and units table:             %.2f ms (%+.2f ms, goal under +5 ms)\n", pool_ms,
              pool_ms - file_ms);
  return true;
}

}  // namespace

int main() {
  std::string server;
  const std::filesystem::path state =
      std::filesystem::temp_directory_path() / "orn5300-bench-line-database";
  Server own(state.string());
  if (const char* given = std::getenv("ORN_BENCH_PG_CONNECTION"); given != nullptr && *given != '\0') {
    server = given;
  } else if (!own.Start(server)) {
    std::printf("bench_line_database: skipped, no PostgreSQL server could be started\n");
    return 0;
  }
  std::string empty, full;
  const auto fill_start = std::chrono::steady_clock::now();
  if (!Prepare(server, "orn_bench_empty", 0, empty) || !Prepare(server, "orn_bench_full", kRows, full)) {
    return 1;
  }
  const double fill_s =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - fill_start).count();
  const double empty_ms = MedianUnit(empty);
  const double full_ms = MedianUnit(full);
  if (empty_ms < 0 || full_ms < 0) return 1;
  std::printf("line database (PostgreSQL, local, durable), reserve + finish per unit, median of %d:\n", kUnits);
  std::printf("  empty table:                %.3f ms\n", empty_ms);
  std::printf("  with %d units (%.1f s to fill): %.3f ms\n", kRows, fill_s, full_ms);
  std::printf("  ratio:                      %.2f (goal <= 1.2)\n", full_ms / empty_ms);
  return CompareRuns(empty) ? 0 : 1;
}
