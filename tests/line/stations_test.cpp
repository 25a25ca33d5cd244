// A line of stations on one database server: orn5300cli runs as stations
// would, taking identities from a pool and recording every unit, under
// concurrency, kill -9 at random moments and a server restart; and one
// station on SQLite.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "provision/production_log.h"
#include "support/db_servers.h"
#include "support/sim_trace.h"
#include "support/tool_runner.h"
#include "tests/e2e/eeprom_e2e_support.h"

namespace {

using Env = std::map<std::string, std::string>;

// A station's INI file whose identity range holds far more units than any
// test programs.
std::string StationIni() {
  std::string text = e2e::IniText();
  text.replace(text.find("MaximumMacAddress=00:80:0F:11:22:FF"), 35, "MaximumMacAddress=00:80:0F:11:FF:FF");
  text.replace(text.find("MaximumSerialNumber=0000FFFF"), 28, "MaximumSerialNumber=FFFFFFFF");
  return text;
}

test::RunResult Db(const std::vector<std::string>& args, const Env& env) { return test::Run(ORN_DB_PATH, args, env); }

// The records of the units table, as the CSV export gives them.
std::vector<ProductionRecord> Export(const Env& env) {
  const test::RunResult r = Db({"export"}, env);
  EXPECT_EQ(r.exit_code, 0) << r.err;
  std::vector<ProductionRecord> records;
  size_t at = 0;
  bool first = true;
  for (size_t nl = r.out.find('\n'); nl != std::string::npos; nl = r.out.find('\n', at)) {
    ProductionRecord rec;
    if (ClassifyLogLine(std::string_view(r.out).substr(at, nl - at), first, rec) == LogLineKind::kRecord) {
      records.push_back(rec);
    }
    first = false;
    at = nl + 1;
  }
  return records;
}

// A line: a database with the schema and one pool made from the station's
// INI file.
class Line : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    const std::optional<std::string> connection = test::FreshPostgresDatabase(why);
    if (!connection) GTEST_SKIP() << why;
    Make(*connection);
  }

  void Make(const std::string& connection) {
    test::WriteFile(dir_.File("station.ini"), StationIni());
    env_ = {{"ORN5300_DB", connection}, {"ORN5300_SPOOL", dir_.File("spool")}};
    ASSERT_EQ(Db({"init"}, env_).exit_code, 0);
    const test::RunResult pool = Db({"pool", "create", "line3", "--from", dir_.File("station.ini")}, env_);
    ASSERT_EQ(pool.exit_code, 0) << pool.err;
  }

  // One programming run of a station with its own device, from the pool.
  test::RunResult Station(e2e::SimDevice& dev, const std::string& ini, Env extra = {}) const {
    dev.Save();
    Env env = env_;
    env["ORN5300_POOL"] = "line3";
    env["ORN5300_SIM"] = dev.StatePath();
    env["ORN5300_SIM_TRACE"] = dev.TracePath();
    for (const auto& [key, value] : extra) env[key] = value;
    std::remove(dev.TracePath().c_str());
    return test::RunCli({"-w", "-i", ini}, env, "", dev.dir.path());
  }

  // Issued, programmed and reserved counts of the pool, from `pool list --json`.
  nlohmann::json Pool() const {
    const test::RunResult r = Db({"pool", "list", "--json"}, env_);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const nlohmann::json doc = nlohmann::json::parse(r.out);
    return doc["pools"].empty() ? nlohmann::json() : doc["pools"][0];
  }

  test::TempDir dir_;
  Env env_;
};

std::string MacOf(const e2e::SimDevice& dev) {
  const e2e::Bytes eeprom = dev.Memory("eeprom");
  if (eeprom.size() < 7) return "";
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", eeprom[1], eeprom[2], eeprom[3], eeprom[4],
                eeprom[5], eeprom[6]);
  return text;
}

// 16 stations, 100 units each, all at once from one pool: 1,600 units, no
// identity twice, every unit recorded as programmed.
TEST_F(Line, SixteenStationsProgramFromOnePool) {
  constexpr int kStations = 16, kUnits = 100;
  std::vector<std::vector<std::string>> macs(kStations);
  std::vector<int> failures(kStations, 0);
  std::vector<std::string> first_failure(kStations);
  std::vector<std::thread> stations;
  for (int s = 0; s < kStations; ++s) {
    stations.emplace_back([&, s] {
      e2e::SimDevice dev;
      test::WriteFile(dev.dir.File("station.ini"), StationIni());
      for (int u = 0; u < kUnits; ++u) {
        const test::RunResult r = Station(dev, "station.ini", {{"ORN5300_SPOOL", dev.dir.File("spool")}});
        if (r.exit_code != 0) {
          if (failures[s]++ == 0) first_failure[s] = r.out + r.err;
          continue;
        }
        dev.state = nlohmann::json::parse(test::ReadFile(dev.StatePath()));
        macs[s].push_back(MacOf(dev));
      }
    });
  }
  for (auto& t : stations) t.join();
  std::set<std::string> programmed;
  for (int s = 0; s < kStations; ++s) {
    EXPECT_EQ(failures[s], 0) << "station " << s << ":\n" << first_failure[s];
    for (const std::string& mac : macs[s]) EXPECT_TRUE(programmed.insert(mac).second) << mac << " programmed twice";
  }
  EXPECT_EQ(programmed.size(), static_cast<size_t>(kStations * kUnits));

  const std::vector<ProductionRecord> records = Export(env_);
  std::set<std::string> recorded_macs, serials;
  for (const ProductionRecord& r : records) {
    EXPECT_EQ(r.verify, "passed") << r.mac;
    EXPECT_TRUE(recorded_macs.insert(r.mac).second) << r.mac << " recorded twice";
    EXPECT_TRUE(serials.insert(SerialKey(r.serial)).second) << r.serial << " recorded twice";
  }
  EXPECT_EQ(recorded_macs, programmed);
  const nlohmann::json pool = Pool();
  EXPECT_EQ(pool["issued_count"], kStations * kUnits);
  EXPECT_EQ(pool["wasted_count"], 0);
}

// What a station refuses before it writes its device, and that it never
// shows the password of the connection string.
TEST_F(Line, RefusalsBeforeTheDeviceNameNoPassword) {
  const std::string connection = env_["ORN5300_DB"];
  const std::string password = connection.substr(connection.find("Pwd=") + 4, connection.find(';', connection.find("Pwd=")) -
                                                                              connection.find("Pwd=") - 4);
  ASSERT_GT(password.size(), 3u);
  // A second database without the schema, and a pool with one identity left.
  std::string why;
  const std::optional<std::string> bare = test::FreshPostgresDatabase(why);
  ASSERT_TRUE(bare) << why;
  std::string last_one = StationIni();
  last_one.replace(last_one.find("MaximumMacAddress=00:80:0F:11:FF:FF"), 35, "MaximumMacAddress=00:80:0F:11:22:30");
  test::WriteFile(dir_.File("last.ini"), last_one);
  ASSERT_EQ(Db({"pool", "create", "last", "--from", dir_.File("last.ini")}, env_).exit_code, 0);
  struct Case {
    const char* name;
    std::vector<std::string> args;
    Env env;
    int exit_code;
    const char* message;
  } cases[] = {
      {"-N with a pool", {"-N"}, {}, 3, "-N cannot be used with an identity pool"},
      {"-M and -m with a pool", {"-M", "00:11:22:33:44:55", "-N", "-m", "2"}, {}, 3, "-M -N -m cannot be used"},
      {"a pool without a database", {}, {{"ORN5300_DB", ""}}, 3, "ORN5300_DB names no line database"},
      {"an unknown pool", {}, {{"ORN5300_POOL", "line9"}}, 3, "no identity pool line9"},
      {"server not reachable", {}, {{"ORN5300_DB", test::WithAttribute(connection, "Port", "1")}}, 3,
       "Cannot use the line database"},
      {"login refused", {}, {{"ORN5300_DB", test::WithAttribute(connection, "Pwd", password + "x")}}, 3,
       "Cannot use the line database"},
      {"no schema", {}, {{"ORN5300_DB", *bare}}, 3, "orn5300db init"},
      {"the pool's last identity", {}, {{"ORN5300_POOL", "last"}}, 0, "Identity from the pool last"},
      {"an exhausted pool", {}, {{"ORN5300_POOL", "last"}}, 10, "The identity pool last is exhausted"},
      {"an identity from the INI file that a pool unit holds", {}, {{"ORN5300_POOL", ""}}, 10, "00:80:0F:11:22:30"},
  };
  for (const Case& c : cases) {
    e2e::SimDevice dev;
    test::WriteFile(dev.dir.File("station.ini"), StationIni());
    dev.Save();
    Env env = env_;
    env["ORN5300_POOL"] = "line3";
    env["ORN5300_SIM"] = dev.StatePath();
    env["ORN5300_SIM_TRACE"] = dev.TracePath();
    for (const auto& [key, value] : c.env) env[key] = value;
    std::vector<std::string> args = {"-w", "-i", "station.ini"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const test::RunResult r = test::RunCli(args, env, "", dev.dir.path());
    EXPECT_EQ(r.exit_code, c.exit_code) << c.name << "\n" << r.out;
    EXPECT_NE(r.out.find(c.message), std::string::npos) << c.name << "\n" << r.out;
    EXPECT_EQ((r.out + r.err).find(password), std::string::npos) << c.name << ": the password was shown";
    const bool written = test::FileExists(dev.TracePath()) && dev.Count("E2P_WRITE_BLOCK") > 0;
    EXPECT_EQ(written, c.exit_code == 0) << c.name;
  }
}

// 200 runs, each killed with SIGKILL at a random moment: no identity twice,
// at most one identity wasted per kill, and every run that wrote its device
// has its unit in the table.
TEST_F(Line, RunsKilledAtRandomMomentsLoseNoUnit) {
  constexpr int kRuns = 200;
  std::mt19937 random(20261208);
  // The kill points are spread over the run's progress, not over time, so
  // that a slow or loaded machine tests the same moments: before the
  // device, and after each of the requests a run sends (the reservation
  // comes after the chip is identified, the outcome after the verify).
  e2e::SimDevice timing;
  test::WriteFile(timing.dir.File("station.ini"), StationIni());
  ASSERT_EQ(Station(timing, "station.ini").exit_code, 0);
  const size_t requests = test::TraceOps(timing.TracePath()).size();
  ASSERT_GT(requests, 3u);
  auto lines_of = [](const std::string& path) {
    const std::string text = test::ReadFile(path);
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
  };

  int killed = 0, completed = 1;
  std::vector<std::pair<std::string, bool>> wrote;  // INI file of the run, its device written
  for (int i = 0; i < kRuns; ++i) {
    e2e::SimDevice dev;
    const std::string ini = "run" + std::to_string(i) + ".ini";  // names the run in its record
    test::WriteFile(dev.dir.File(ini), StationIni());
    dev.Save();
    Env env = env_;
    env["ORN5300_POOL"] = "line3";
    env["ORN5300_SIM"] = dev.StatePath();
    env["ORN5300_SIM_TRACE"] = dev.TracePath();
    const std::string pid_file = dev.dir.File("pid");
    test::RunResult result;
    std::thread run([&] {
      result = test::Run("/bin/sh", {"-c", "echo $$ > \"$0\"; exec \"$@\"", pid_file, ORN_CLI_PATH, "-w", "-i", ini},
                         env, "", dev.dir.path());
    });
    while (test::ReadFile(pid_file).size() < 2) std::this_thread::sleep_for(std::chrono::microseconds(200));
    const pid_t pid = static_cast<pid_t>(std::stol(test::ReadFile(pid_file)));
    // 0: while it connects and opens the device; k: once its k-th request
    // is in the trace; past the last one: after its outcome.
    const size_t point = random() % (requests + 2);
    if (point == 0) {
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
    } else {
      const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (lines_of(dev.TracePath()) < std::min(point, requests) && std::chrono::steady_clock::now() < give_up &&
             kill(pid, 0) == 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(100));
      }
      if (point > requests) std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
    }
    kill(pid, SIGKILL);
    run.join();
    if (result.exit_code == -1000 - SIGKILL) {
      ++killed;
    } else {
      ASSERT_EQ(result.exit_code, 0) << result.out << result.err;
      ++completed;
    }
    const bool written = test::FileExists(dev.TracePath()) && dev.Count("E2P_WRITE_BLOCK") > 0;
    wrote.emplace_back(ini, written);
  }
  const std::vector<ProductionRecord> records = Export(env_);
  std::set<std::string> macs, serials, sources;
  for (const ProductionRecord& r : records) {
    EXPECT_TRUE(macs.insert(r.mac).second) << r.mac << " handed out twice";
    EXPECT_TRUE(serials.insert(SerialKey(r.serial)).second) << r.serial << " handed out twice";
    sources.insert(r.source_file);
  }
  for (const auto& [ini, written] : wrote) {
    if (written) {
      EXPECT_TRUE(sources.count(ini)) << ini << " wrote its device and is not in the table";
    }
  }
  const nlohmann::json pool = Pool();
  // A run killed after its outcome reached the table counts as programmed.
  const int issued = pool["issued_count"].get<int>(), programmed = pool["programmed_count"].get<int>();
  EXPECT_LE(issued, completed + killed);
  EXPECT_GE(programmed, completed);
  EXPECT_LE(issued - programmed, killed) << "more than one identity wasted per kill";
  EXPECT_EQ(pool["wasted_count"].get<int>(), issued - programmed);
  EXPECT_GT(killed, kRuns / 2) << "the kills came too late to test anything";
  RecordProperty("killed", killed);
}

// The server stopped and started again while a station programs unit after
// unit, on a server of this test's own: every run either is refused before
// it writes its device, or completes; nothing it completed is lost (an
// outcome the server could not take waits in the spool and is delivered).
TEST(LineRestart, RunsAreRefusedCleanlyOrCompleteAndNothingIsLost) {
  test::TempDir dir;
  const std::string server = dir.File("server");
  const std::string script = std::string(ORN_SOURCE_DIR) + "/tools/pg_server.sh";
  const test::RunResult started = test::Run("/bin/bash", {script, "start", server});
  if (started.exit_code == 77) GTEST_SKIP() << test::ReadFile(server + "/skipped");
  ASSERT_EQ(started.exit_code, 0) << started.out << started.err;
  struct Stop {
    std::string script, server;
    ~Stop() { test::Run("/bin/bash", {script, "stop", server}); }
  } stop{script, server};

  test::WriteFile(dir.File("station.ini"), StationIni());
  const Env env = {{"ORN5300_DB", test::ReadFile(server + "/connection")}, {"ORN5300_SPOOL", dir.File("spool")}};
  ASSERT_EQ(Db({"init"}, env).exit_code, 0);
  ASSERT_EQ(Db({"pool", "create", "line3", "--from", dir.File("station.ini")}, env).exit_code, 0);

  constexpr int kRuns = 60;
  std::vector<int> codes(kRuns, -1);
  std::vector<bool> written(kRuns, false);
  std::atomic<int> done{0};
  std::thread station([&] {
    for (int i = 0; i < kRuns; ++i) {
      e2e::SimDevice dev;
      const std::string ini = "run" + std::to_string(i) + ".ini";
      test::WriteFile(dev.dir.File(ini), StationIni());
      dev.Save();
      Env run = env;
      run["ORN5300_POOL"] = "line3";
      run["ORN5300_SIM"] = dev.StatePath();
      run["ORN5300_SIM_TRACE"] = dev.TracePath();
      codes[i] = test::RunCli({"-w", "-i", ini}, run, "", dev.dir.path()).exit_code;
      written[i] = test::FileExists(dev.TracePath()) && dev.Count("E2P_WRITE_BLOCK") > 0;
      ++done;
    }
  });
  while (done < kRuns / 4) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(test::Run("/bin/bash", {script, "down", server}).exit_code, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_EQ(test::Run("/bin/bash", {script, "up", server}).exit_code, 0);
  station.join();

  // Outcomes still in the spool are delivered now.
  const test::RunResult flushed = Db({"flush"}, env);
  EXPECT_EQ(flushed.exit_code, 0) << flushed.out << flushed.err;
  std::map<std::string, ProductionRecord> by_run;
  std::set<std::string> macs;
  for (const ProductionRecord& r : Export(env)) {
    by_run[r.source_file] = r;
    EXPECT_TRUE(macs.insert(r.mac).second) << r.mac << " handed out twice";
  }
  int refused = 0;
  for (int i = 0; i < kRuns; ++i) {
    const std::string ini = "run" + std::to_string(i) + ".ini";
    if (codes[i] == 3) {
      ++refused;
      EXPECT_FALSE(written[i]) << ini << " was refused after it wrote its device";
      continue;
    }
    ASSERT_EQ(codes[i], 0) << ini;
    ASSERT_TRUE(by_run.count(ini)) << ini << " completed and is not in the table";
    EXPECT_EQ(by_run[ini].verify, "passed") << ini;
    EXPECT_EQ(by_run[ini].exit_code, "0") << ini;
  }
  EXPECT_GT(refused, 0) << "the restart came too late to refuse any run";
  EXPECT_LT(refused, kRuns);
}

// SQLite through its ODBC driver, for a one-station trial: pool runs and a
// unit from the INI file, recorded and exported.
TEST(LineOnSqlite, OneStation) {
  test::TempDir dir;
  std::string why;
  const std::optional<std::string> connection = test::SqliteConnection(dir.File("line.db"), why);
  if (!connection) GTEST_SKIP() << why;
  test::WriteFile(dir.File("station.ini"), StationIni());
  const Env env = {{"ORN5300_DB", *connection}, {"ORN5300_SPOOL", dir.File("spool")}};
  ASSERT_EQ(Db({"init"}, env).exit_code, 0);
  ASSERT_EQ(Db({"pool", "create", "trial", "--from", dir.File("station.ini")}, env).exit_code, 0);
  e2e::SimDevice dev;
  Env run = env;
  run["ORN5300_SIM"] = dev.StatePath();
  for (int i = 0; i < 3; ++i) {
    dev.Save();
    run["ORN5300_POOL"] = "trial";
    const test::RunResult r = test::RunCli({"-w", "-i", dir.File("station.ini")}, run);
    ASSERT_EQ(r.exit_code, 0) << r.out;
  }
  // A unit from the INI file itself takes the pool's first identity, which
  // the pool handed out already: the table's guard refuses it.
  run.erase("ORN5300_POOL");
  const test::RunResult again = test::RunCli({"-w", "-i", dir.File("station.ini")}, run);
  EXPECT_EQ(again.exit_code, 10) << again.out;
  const std::vector<ProductionRecord> records = Export(env);
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].mac, "00:80:0F:11:22:30");
  EXPECT_EQ(records[2].mac, "00:80:0F:11:22:32");
  EXPECT_EQ(records[2].serial, "000000A3");
}

}  // namespace
