// Fault sweep: every command of the tool is run once against a fresh
// simulated controller to record its requests, then replayed once per
// request with exactly that request failing (status 1, status 2, and a
// failed device-control call). Each replay must end in an orderly way: no
// crash, an exit code its stages may give, the failing operation's own
// message, and no file left torn or changed behind the user's back.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "support/sim_trace.h"
#include "support/tool_runner.h"

namespace {

using nlohmann::json;
namespace fs = std::filesystem;

const std::string kExampleIni = std::string(ORN_SOURCE_DIR) + "/examples/orn5300.ini";
constexpr int kIoctlError = 31;

// One command of the tool as the sweep runs it, from a folder holding the
// files of `Inputs()`.
struct SweepCommand {
  std::string name;               // test name
  std::vector<std::string> args;  // command line
  std::set<int> allowed;          // exit codes (as the shell sees them) when a request fails
  std::string input;              // standard input
  std::map<std::string, std::set<int>> by_op = {};  // narrower sets for the failure of these operations
  json device = json::object();                    // device state besides the faults
};

void PrintTo(const SweepCommand& c, std::ostream* os) { *os << c.name; }

// The files every run starts from: a copy of the example INI file, an
// EEPROM image and an OTP image generated from it, and a small firmware
// file. Built once.
const std::map<std::string, std::string>& Inputs() {
  static const std::map<std::string, std::string> files = [] {
    std::map<std::string, std::string> f;
    test::TempDir dir;
    f["board.ini"] = test::ReadFile(kExampleIni);
    test::RunCli({"-i", kExampleIni, "-z", dir.File("img.bin"), "-d", "ORN5300"});
    test::RunCli({"-O", "-i", kExampleIni, "-z", dir.File("otp.bin"), "-d", "ORN5300"});
    f["img.bin"] = test::FileExists(dir.File("img.bin")) ? test::ReadFile(dir.File("img.bin")) : "";
    f["otp.bin"] = test::FileExists(dir.File("otp.bin")) ? test::ReadFile(dir.File("otp.bin")) : "";
    f["fw.bin"] = std::string("\x02\x10\x00\x75\x81", 5);
    return f;
  }();
  return files;
}

// Every regular file of a folder with its content.
std::map<std::string, std::string> Files(const std::string& folder) {
  std::map<std::string, std::string> out;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.is_regular_file()) out[entry.path().filename().string()] = test::ReadFile(entry.path().string());
  }
  return out;
}

// One run of a command in a fresh folder against a fresh device whose only
// non-default setting is `faults`.
struct SweepRun {
  test::RunResult result;
  std::vector<json> requests;                   // the requests of the trace
  std::string state_text;                       // the state file afterwards
  std::map<std::string, std::string> files;     // the folder afterwards, without state and trace
};

SweepRun RunOnce(const SweepCommand& command, const json& faults) {
  test::TempDir dir;
  for (const auto& [name, content] : Inputs()) test::WriteFile(dir.File(name), content);
  const std::string state = dir.File("state.json");
  const std::string trace = dir.File("trace.jsonl");
  json device = command.device;
  device["faults"] = faults;
  test::WriteFile(state, device.dump());
  SweepRun run;
  run.result =
      test::RunCli(command.args, {{"ORN5300_SIM", state}, {"ORN5300_SIM_TRACE", trace}}, command.input, dir.path());
  run.requests = test::FileExists(trace) ? test::TraceRequests(trace) : std::vector<json>{};
  run.state_text = test::ReadFile(state);
  run.files = Files(dir.path());
  run.files.erase("state.json");
  run.files.erase("trace.jsonl");
  return run;
}

// The name under which an operation's status message reports it: the
// adapter queries share the driver version's message.
std::string MessageName(const std::string& op) {
  static const std::set<std::string> shared = {"GET_ADAPTER_BITS", "GET_ADAPTER_LOCATION", "GET_ADAPTER_REGISTRY_KEY",
                                               "GET_ADAPTER_PDO", "GET_ADAPTER_PORT"};
  return shared.count(op) ? "GET_DRIVER_VERSION" : op;
}

// True when `out` holds the status message of `op` with one of `wordings`.
bool HasStatusMessage(const std::string& out, const std::string& op, const std::vector<std::string>& wordings) {
  const std::string head = "ERROR: " + MessageName(op) + " failed";
  for (size_t at = out.find(head); at != std::string::npos; at = out.find(head, at + 1)) {
    const std::string line = out.substr(at, out.find('\n', at) - at);
    for (const auto& w : wordings) {
      if (line.size() >= w.size() && line.compare(line.size() - w.size(), w.size(), w) == 0) return true;
    }
  }
  return false;
}

// The indexes of the clean run's requests to fail: all of them for a short
// run; for a long one the first 30, the last 10 and ten in between.
std::vector<size_t> Sample(size_t n) {
  std::vector<size_t> picks;
  if (n <= 60) {
    for (size_t i = 0; i < n; ++i) picks.push_back(i);
    return picks;
  }
  for (size_t i = 0; i < 30; ++i) picks.push_back(i);
  for (size_t k = 1; k <= 10; ++k) picks.push_back(30 + k * (n - 40) / 11);
  for (size_t i = n - 10; i < n; ++i) picks.push_back(i);
  std::sort(picks.begin(), picks.end());
  picks.erase(std::unique(picks.begin(), picks.end()), picks.end());
  return picks;
}

struct FaultKind {
  const char* label;
  json rule;  // without "op" and "nth"
  std::vector<std::string> wordings;
};

const std::vector<FaultKind>& FaultKinds() {
  static const std::vector<FaultKind> kinds = {
      {"status 1", {{"status", 1}}, {"status:Access failed"}},
      {"status 2", {{"status", 2}}, {"status:Adapter Busy", "status:Other Error"}},
      {"ioctl error", {{"ioctl_error", kIoctlError}}, {}},
  };
  return kinds;
}

// Failed expectations of the current test so far.
int FailureCount() {
  return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
}

class FaultSweep : public ::testing::TestWithParam<SweepCommand> {};

TEST_P(FaultSweep, EveryFailingRequestEndsTheRunInOrder) {
  const SweepCommand& command = GetParam();
  const auto& inputs = Inputs();
  ASSERT_FALSE(inputs.at("img.bin").empty()) << "the EEPROM image could not be generated";
  ASSERT_FALSE(inputs.at("otp.bin").empty()) << "the OTP image could not be generated";

  const SweepRun clean = RunOnce(command, json::array());
  ASSERT_EQ(clean.result.exit_code, 0) << clean.result.out;
  ASSERT_FALSE(clean.requests.empty());
  std::vector<std::string> ops;
  for (const json& r : clean.requests) ops.push_back(r["op"].get<std::string>());

  int failed_replays = 0;
  for (size_t index : Sample(ops.size())) {
    const std::string& op = ops[index];
    const int nth = static_cast<int>(std::count(ops.begin(), ops.begin() + static_cast<long>(index) + 1, op));
    for (const FaultKind& kind : FaultKinds()) {
      json rule = kind.rule;
      rule["op"] = op;
      rule["nth"] = nth;
      const int failures_before = FailureCount();
      const SweepRun run = RunOnce(command, json::array({rule}));
      const test::RunResult& r = run.result;
      SCOPED_TRACE("request " + std::to_string(index + 1) + " (" + op + " #" + std::to_string(nth) + ") " +
                   kind.label + "\n" + r.out);

      EXPECT_GE(r.exit_code, 0) << "killed by a signal";
      if (index == 0) {
        EXPECT_EQ(r.exit_code, 1) << "the chip ID could not be read";
      } else {
        const auto narrow = command.by_op.find(op);
        const std::set<int>& allowed = narrow != command.by_op.end() ? narrow->second : command.allowed;
        EXPECT_TRUE(allowed.count(r.exit_code)) << "exit code " << r.exit_code;
      }

      // The fault hit the request it was meant for, and the run reported it.
      ASSERT_GT(run.requests.size(), index);
      EXPECT_EQ(run.requests[index]["op"], op);
      if (kind.wordings.empty()) {
        EXPECT_EQ(run.requests[index].value("ioctl_error", 0), kIoctlError);
        EXPECT_NE(r.out.find("ERROR: Error in DeviceIoControl (IOCTL_ORN5300_MP_ACCESS) : " +
                             std::to_string(kIoctlError)),
                  std::string::npos);
      } else {
        EXPECT_EQ(run.requests[index].value("status", -1), kind.rule["status"].get<int>());
        EXPECT_TRUE(HasStatusMessage(r.out, op, kind.wordings)) << "no status message of " << op;
      }

      // Nothing torn: the state still parses, no temporary file is left,
      // and every file is as it was or as the clean run left it.
      EXPECT_TRUE(json::accept(run.state_text)) << run.state_text;
      for (const auto& [name, content] : run.files) {
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << name << " left behind";
        const auto before = inputs.find(name);
        const bool as_before = before != inputs.end() && before->second == content;
        const auto after = clean.files.find(name);
        const bool as_clean = after != clean.files.end() && after->second == content;
        EXPECT_TRUE(as_before || as_clean) << name << " is neither as before nor as a clean run leaves it";
      }
      for (const auto& [name, content] : inputs) EXPECT_TRUE(run.files.count(name)) << name << " was removed";
      const bool ini_changed = run.files.at("board.ini") != inputs.at("board.ini");
      const bool ini_updated = r.out.find("Updated ini file\n") != std::string::npos;
      EXPECT_EQ(ini_changed, ini_updated) << "INI file changed without its write-back, or the reverse";
      // A few reproducers per command are enough to read.
      if (FailureCount() > failures_before && ++failed_replays >= 3) return;
    }
  }
}

std::string TestName(const ::testing::TestParamInfo<SweepCommand>& info) { return info.param.name; }

// A register, information, link state, cable or MCU command whose request
// fails ends with 14, never with the 0 of success.
const std::set<int> kDeviceCommandFailed = {14};
// Only the size probe may end a write with 5: writing and reading back the
// image are the write stage.
const std::map<std::string, std::set<int>> kEepromProgramming = {{"E2P_WRITE_BLOCK", {9}}, {"E2P_READ_BLOCK", {9}}};
const std::map<std::string, std::set<int>> kOtpProgramming = {{"OTP_WRITE_BLOCK", {12}}};

INSTANTIATE_TEST_SUITE_P(
    Memory, FaultSweep,
    ::testing::Values(
        SweepCommand{"EepromRead", {"-r"}, {5}, ""},
        SweepCommand{"EepromWriteIni", {"-w", "-i", "board.ini"}, {5, 9}, "", kEepromProgramming},
        SweepCommand{"EepromWriteIniStep", {"-w", "-i", "board.ini", "-N"}, {5, 9, 10}, "", kEepromProgramming},
        SweepCommand{"EepromWriteBinary", {"-w", "-b", "img.bin"}, {5, 9}, "", kEepromProgramming},
        SweepCommand{"OtpRead", {"-O", "-r"}, {11}, ""},
        SweepCommand{"OtpWriteIni", {"-O", "-w", "-i", "board.ini", "-C", "YES"}, {11, 12, 13, 255}, "",
                     kOtpProgramming},
        SweepCommand{"OtpWriteBinary", {"-O", "-w", "-b", "otp.bin", "-C", "YES"}, {10, 11, 12, 13, 255}, "",
                     kOtpProgramming},
        // A failed read of the link state only spends one of the polls; the
        // next may still find the link up.
        SweepCommand{"LinkMode", {"-l", "100fd"}, {0, 4}, "", {{"SET_LINK_MODE", {4}}}}),
    TestName);

INSTANTIATE_TEST_SUITE_P(
    Queries, FaultSweep,
    ::testing::Values(SweepCommand{"ReadRegister", {"-R", "0"}, kDeviceCommandFailed, ""},
                      SweepCommand{"WriteRegister", {"-W", "10", "-v", "5"}, kDeviceCommandFailed, ""},
                      SweepCommand{"ReadPhy", {"-y", "1"}, kDeviceCommandFailed, ""},
                      SweepCommand{"WritePhy", {"-Y", "1", "-v", "5"}, kDeviceCommandFailed, ""},
                      SweepCommand{"DriverVersion", {"-G", "v"}, kDeviceCommandFailed, ""},
                      SweepCommand{"AdapterBits", {"-G", "b"}, kDeviceCommandFailed, ""},
                      SweepCommand{"AdapterLocation", {"-G", "l"}, kDeviceCommandFailed, ""},
                      SweepCommand{"RegistryKey", {"-G", "k"}, kDeviceCommandFailed, ""},
                      SweepCommand{"AdapterPdo", {"-G", "p"}, kDeviceCommandFailed, ""},
                      SweepCommand{"AdapterPort", {"-G", "o"}, kDeviceCommandFailed, ""},
                      SweepCommand{"EthernetStats", {"-G", "e"}, kDeviceCommandFailed, ""},
                      SweepCommand{"UsbPhyStats", {"-G", "u"}, kDeviceCommandFailed, ""},
                      SweepCommand{"McuInfo", {"-G", "i"}, kDeviceCommandFailed, ""},
                      SweepCommand{"LinkStateUp", {"-k", "u"}, kDeviceCommandFailed, ""},
                      SweepCommand{"CableDiagnostics", {"-V"}, kDeviceCommandFailed, ""}),
    TestName);

INSTANTIATE_TEST_SUITE_P(
    Mcu, FaultSweep,
    ::testing::Values(SweepCommand{"Download", {"-f", "fw.bin"}, kDeviceCommandFailed, ""},
                      SweepCommand{"DownloadVerify", {"-F", "fw.bin"}, kDeviceCommandFailed, ""},
                      // Program memory already holds the firmware, so the clean run verifies.
                      SweepCommand{"Verify", {"-g", "fw.bin"}, kDeviceCommandFailed, "", {},
                                   json{{"mcu", {{"xdata", {{"0x5000", "02 10 00 75 81"}}}}}}},
                      SweepCommand{"Parameters", {"-P", "fw.bin"}, kDeviceCommandFailed, ""}),
    TestName);

}  // namespace
