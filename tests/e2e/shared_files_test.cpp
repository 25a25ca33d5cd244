// A line of stations on one shared folder: the ways one identity could
// reach two devices, or a programmed unit leave no record, and what the
// tool does instead. Each case runs real stations against simulated
// devices and checks their exit codes and the MAC addresses they programmed.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_lock.h"
#include "platform/shared_log.h"
#include "provision/production_log.h"
#include "tests/e2e/eeprom_e2e_support.h"

namespace {

using e2e::SimDevice;
using Env = std::map<std::string, std::string>;

std::string Ini(const std::string& mac) {
  std::string text = e2e::IniText();
  text.replace(text.find("00:80:0F:11:22:30"), 17, mac);
  return text;
}

// The MAC address a device holds, or "" when it was not programmed. A
// simulated device keeps its state only when the run closes it: for a run
// stopped from outside, "written" says the trace shows the EEPROM write.
std::string ProgrammedMac(const SimDevice& dev) {
  const e2e::Bytes eeprom = dev.Memory("eeprom");
  if (eeprom.size() < 7 || eeprom[0] != 0xA5) return dev.Count("E2P_WRITE_BLOCK") > 0 ? "written" : "";
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", eeprom[1], eeprom[2], eeprom[3], eeprom[4],
                eeprom[5], eeprom[6]);
  return text;
}

bool WaitFor(const std::function<bool()>& done, int ms = 10000) {
  for (int waited = 0; waited < ms; waited += 10) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// A station's run in the background, whose process ID is known as soon as
// it starts: a shell writes it, then becomes the tool.
class Station {
 public:
  Station(SimDevice& dev, std::vector<std::string> args, Env env) : dev_(dev) {
    dev.Save();
    env["ORN5300_SIM"] = dev.StatePath();
    env["ORN5300_SIM_TRACE"] = dev.TracePath();
    std::vector<std::string> shell = {"-c", "echo $$ > \"$0\"; exec \"$@\"", dev.dir.File("pid"), ORN_CLI_PATH};
    shell.insert(shell.end(), args.begin(), args.end());
    thread_ = std::thread([this, shell, env] { result_ = test::Run("/bin/sh", shell, env, "", dev_.dir.path()); });
  }
  ~Station() {
    if (thread_.joinable()) thread_.join();
  }
  pid_t Pid() const {
    WaitFor([this] { return test::ReadFile(dev_.dir.File("pid")).size() > 1; });
    return static_cast<pid_t>(std::stol(test::ReadFile(dev_.dir.File("pid"))));
  }
  bool TouchedTheDevice() const { return test::FileExists(dev_.TracePath()); }
  // Waits until the run has `path` open (it opens the identity file to lock
  // it, before it reads it): from then on it waits for the holder.
  bool WaitUntilOpen(const std::string& path) const {
    const pid_t pid = Pid();
    const std::string wanted = std::filesystem::canonical(path).string();
    return WaitFor([&] {
      std::error_code ec;
      for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        if (std::filesystem::read_symlink(fd.path(), ec) == wanted) return true;
      }
      return false;
    });
  }
  test::RunResult Wait() {
    thread_.join();
    dev_.state = nlohmann::json::parse(test::ReadFile(dev_.StatePath()));
    return result_;
  }

 private:
  SimDevice& dev_;
  test::RunResult result_;
  std::thread thread_;
};

// One shared folder: the INI file, the log, and two stations' devices.
struct Line {
  test::TempDir share;
  std::string ini = share.File("station.ini");
  std::string log = share.File("production.csv");
  SimDevice a, b;
  std::vector<test::RunResult> runs;

  Env LogEnv() const { return {{"ORN5300_LOG", log}}; }
  // Another station holding the identity file, as a run holds it.
  std::unique_ptr<platform::FileLock> Hold() const {
    uint32_t error = 0;
    return platform::LockSharedFile(ini, 0, nullptr, error);
  }
};

// The last record of `mac` that is no start line, or nothing.
std::optional<ProductionRecord> EndRecord(const std::string& log, const std::string& mac) {
  std::optional<ProductionRecord> found;
  uint32_t error = 0;
  auto file = platform::OpenSharedLog(log, error);
  if (!file) return found;
  ForEachLogLine(*file, [&](uint64_t n, std::string_view text) {
    ProductionRecord r;
    if (ClassifyLogLine(text, n == 1, r) == LogLineKind::kRecord && !IsStartLine(r) && r.mac == mac) found = r;
    return true;
  });
  return found;
}

// A station stopped from outside after it programmed its unit, while it
// waits for the link; then a second station whose INI file was restored
// from a backup tries the same identity.
void StopInTheLinkStage(Line& line, int sig) {
  test::WriteFile(line.ini, Ini("00:80:0F:11:22:30"));
  line.a.state = {{"virtual_time", false}};  // the link stage really waits
  Station station(line.a, {"-w", "-i", line.ini, "-N", "-l", "100fd"}, line.LogEnv());
  const pid_t pid = station.Pid();
  EXPECT_TRUE(WaitFor([&] { return test::ReadFile(line.ini) != Ini("00:80:0F:11:22:30"); }));
  Pause(100);
  kill(pid, sig);
  line.runs.push_back(station.Wait());
  const std::optional<ProductionRecord> record = EndRecord(line.log, "00:80:0F:11:22:30");
  if (sig == SIGKILL) {
    EXPECT_FALSE(record) << "a killed run wrote its record";
  } else {
    ASSERT_TRUE(record) << "a stopped run wrote no record";
    EXPECT_EQ(record->exit_code, std::to_string(128 + sig));
    EXPECT_EQ(record->verify, "passed");
    EXPECT_EQ(record->error.rfind("The run was stopped by ", 0), 0u) << record->error;
  }
  test::WriteFile(line.ini, Ini("00:80:0F:11:22:30"));
  line.b.Save();
  line.runs.push_back(test::RunCli({"-w", "-i", line.ini, "-N"},
                                   {{"ORN5300_SIM", line.b.StatePath()}, {"ORN5300_LOG", line.log}}));
  line.b.state = nlohmann::json::parse(test::ReadFile(line.b.StatePath()));
}

TEST(SharedFiles, NoIdentityReachesTwoDevicesAndNoProgrammedUnitGoesUnrecorded) {
  struct Case {
    const char* name;
    std::function<void(Line&)> act;
    std::vector<int> exit_codes;
    std::string mac_a, mac_b;  // programmed by the stations' devices, "" for none
    std::string ini_after;     // the CurrentMacAddress the INI file ends with
  };
  const Case cases[] = {
      {"two names through hard links",
       [](Line& line) {
         test::WriteFile(line.ini, Ini("00:80:0F:11:22:30"));
         ASSERT_EQ(link(line.ini.c_str(), line.share.File("other.ini").c_str()), 0);
         line.runs.push_back(line.a.Run({"-w", "-i", line.share.File("other.ini"), "-N"}));
         EXPECT_NE(line.runs.back().out.find("has 2 hard links"), std::string::npos) << line.runs.back().out;
       },
       {10}, "", "", "00:80:0F:11:22:30"},
      {"the file is locked before its first read",
       [](Line& line) {
         test::WriteFile(line.ini, Ini("00:80:0F:11:22:30"));
         auto held = line.Hold();
         Station station(line.a, {"-w", "-i", line.ini, "-N"}, {});
         ASSERT_TRUE(station.WaitUntilOpen(line.ini));
         Pause(100);
         // The holder's write-back, in place: the waiting run must read it.
         test::WriteFile(line.ini, Ini("00:80:0F:11:22:40"));
         held.reset();
         line.runs.push_back(station.Wait());
       },
       {0}, "00:80:0F:11:22:40", "", "00:80:0F:11:22:41"},
      {"lock files removed while another station holds the file",
       [](Line& line) {
         test::WriteFile(line.ini, Ini("00:80:0F:11:22:30"));
         test::WriteFile(line.ini + ".lock", "");  // left by an older version
         auto held = line.Hold();
         Station station(line.a, {"-w", "-i", line.ini, "-N"}, {});
         ASSERT_TRUE(station.WaitUntilOpen(line.ini));
         std::remove((line.ini + ".lock").c_str());
         Pause(500);
         EXPECT_FALSE(station.TouchedTheDevice()) << "the station did not wait";
         held.reset();
         line.runs.push_back(station.Wait());
       },
       {0}, "00:80:0F:11:22:30", "", "00:80:0F:11:22:31"},
      {"the file replaced while a station waits for it",
       [](Line& line) {
         test::WriteFile(line.ini, Ini("00:80:0F:11:22:30"));
         auto held = line.Hold();
         Station station(line.a, {"-w", "-i", line.ini, "-N"}, {});
         ASSERT_TRUE(station.WaitUntilOpen(line.ini));
         Pause(100);
         test::WriteFile(line.share.File("new.ini"), Ini("00:80:0F:11:22:50"));
         ASSERT_EQ(rename(line.share.File("new.ini").c_str(), line.ini.c_str()), 0);
         Pause(300);
         EXPECT_FALSE(station.TouchedTheDevice()) << "the station did not wait";
         held.reset();
         line.runs.push_back(station.Wait());
       },
       {0}, "00:80:0F:11:22:50", "", "00:80:0F:11:22:51"},
      {"SIGTERM in the link stage", [](Line& line) { StopInTheLinkStage(line, SIGTERM); }, {-1000 - SIGTERM, 10},
       "written", "", "00:80:0F:11:22:30"},
      {"Ctrl+C in the link stage", [](Line& line) { StopInTheLinkStage(line, SIGINT); }, {-1000 - SIGINT, 10},
       "written", "", "00:80:0F:11:22:30"},
      {"terminal closed in the link stage", [](Line& line) { StopInTheLinkStage(line, SIGHUP); },
       {-1000 - SIGHUP, 10}, "written", "", "00:80:0F:11:22:30"},
      {"killed in the link stage",
       [](Line& line) {
         StopInTheLinkStage(line, SIGKILL);
         const test::RunResult summary = test::Run(ORN_LOG_PATH, {"summary", line.log});
         EXPECT_NE(summary.out.find("Unfinished runs    1: line 2 00:80:0F:11:22:30"), std::string::npos)
             << summary.out;
         EXPECT_NE(line.runs.back().out.find("never finished"), std::string::npos) << line.runs.back().out;
       },
       {-1000 - SIGKILL, 10}, "written", "", "00:80:0F:11:22:30"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Line line;
    c.act(line);
    ASSERT_EQ(line.runs.size(), c.exit_codes.size());
    SKIP_IF_NOT_LANDED(line.runs[0]);
    for (size_t i = 0; i < c.exit_codes.size(); ++i) {
      EXPECT_EQ(line.runs[i].exit_code, c.exit_codes[i]) << "run " << i + 1 << "\n" << line.runs[i].out;
    }
    EXPECT_EQ(ProgrammedMac(line.a), c.mac_a);
    EXPECT_EQ(ProgrammedMac(line.b), c.mac_b);
    EXPECT_NE(test::ReadFile(line.ini).find("CurrentMacAddress=" + c.ini_after + "\n"), std::string::npos);
    EXPECT_FALSE(test::FileExists(line.ini + ".lock"));
  }
}

}  // namespace
