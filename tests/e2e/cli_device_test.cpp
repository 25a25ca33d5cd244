// The built orn5300cli against the simulated controller: opening the
// device, identifying the chip, the adapter selection, and commands that
// end with 0 whatever the device answers. Image generation (-z) opens no
// device at all.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "sim/simulator.h"
#include "support/sim_trace.h"
#include "support/tool_runner.h"

namespace {

// True when this build's simulator opens a plain state file.
bool SimulatorAvailable() {
  test::TempDir dir;
  const std::string state = dir.File("probe.json");
  test::WriteFile(state, "{}");
  uint32_t error = 0;
  return sim::OpenSimulatedDevice(state, "", error) != nullptr;
}

#define REQUIRE_SIMULATOR()                                                   \
  do {                                                                        \
    if (!SimulatorAvailable()) GTEST_SKIP() << "no simulated controller in this build"; \
  } while (0)

// A simulated device in a temporary folder, with its trace.
class SimDevice {
 public:
  explicit SimDevice(const std::string& state) {
    test::WriteFile(StatePath(), state);
  }
  std::string StatePath() const { return dir_.File("state.json"); }
  std::string TracePath() const { return dir_.File("trace.jsonl"); }
  const std::string& Folder() const { return dir_.path(); }
  std::map<std::string, std::string> Env() const {
    return {{"ORN5300_SIM", StatePath()}, {"ORN5300_SIM_TRACE", TracePath()}};
  }
  test::RunResult Run(const std::vector<std::string>& args) const {
    return test::RunCli(args, Env(), "", dir_.path());
  }

 private:
  test::TempDir dir_;
};

std::string NotSupported(const test::RunResult& r) {
  return r.out.find("not supported by this build") != std::string::npos ? r.out : "";
}

TEST(CliDeviceOpen, MissingStateFileIsDeviceNotFound) {
  test::TempDir dir;
  const test::RunResult r =
      test::RunCli({"-R", "0"}, {{"ORN5300_SIM", dir.File("absent.json")}, {"ORN5300_SIM_TRACE", ""}});
  EXPECT_EQ(r.out, test::Banner() + "ERROR: CreateFile failed!  Device Not Found\n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_FALSE(test::FileExists(dir.File("absent.json")));
}

TEST(CliDeviceOpen, UnreadableStateFileIsAccessDenied) {
  REQUIRE_SIMULATOR();
  test::TempDir dir;
  const std::string state = dir.File("locked.json");
  test::WriteFile(state, "{}");
  ASSERT_EQ(chmod(state.c_str(), 0), 0);
  // Root reads any file whatever its mode; an immutable file still refuses
  // to be written.
  struct Immutable {
    std::string path;
    bool set = false;
    ~Immutable() {
      if (set) (void)std::system(("chattr -i '" + path + "' 2>/dev/null").c_str());
    }
  } immutable{state};
  if (access(state.c_str(), R_OK | W_OK) == 0) {
    immutable.set = std::system(("chattr +i '" + state + "' 2>/dev/null").c_str()) == 0;
    if (!immutable.set || access(state.c_str(), W_OK) == 0) {
      GTEST_SKIP() << "cannot make a file unwritable for this user";
    }
  }
  const test::RunResult r = test::RunCli({"-R", "0"}, {{"ORN5300_SIM", state}});
  EXPECT_EQ(r.out, test::Banner() +
                       "Open File ORN5300_IOCTL Failed! You don't have enough access right, try to "
                       "run this application as Administrator");
  EXPECT_EQ(r.exit_code, 1);
}

TEST(CliDeviceOpen, InvalidStateIsErrorNumber13) {
  REQUIRE_SIMULATOR();
  SimDevice dev("{\"chip_id\": ");
  const test::RunResult r = dev.Run({"-R", "0"});
  EXPECT_EQ(r.out, test::Banner() + "CreateFile failed!  errNum = 13\n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("state.json"), std::string::npos) << r.err;
}

TEST(CliChipId, UnknownChipIsRefused) {
  REQUIRE_SIMULATOR();
  SimDevice dev(R"({"chip_id":"0x53020000"})");
  const test::RunResult r = dev.Run({"-R", "0"});
  EXPECT_EQ(r.out, test::Banner() + "ERROR: This is not ORN53xx device\n");
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(test::TraceOps(dev.TracePath()), std::vector<std::string>{"READ_REGISTER"});
}

TEST(CliChipId, FailedChipIdReadEndsWithOne) {
  REQUIRE_SIMULATOR();
  SimDevice refused(R"({"faults":[{"op":"READ_REGISTER","param":0,"status":1}]})");
  test::RunResult r = refused.Run({"-l", "10hd"});
  EXPECT_EQ(r.out, test::Banner() + "ERROR: READ_REGISTER failed !    status:Access failed\n");
  EXPECT_EQ(r.exit_code, 1);

  SimDevice broken(R"({"faults":[{"op":"READ_REGISTER","ioctl_error":31}]})");
  r = broken.Run({"-l", "10hd"});
  EXPECT_EQ(r.out,
            test::Banner() + "ERROR: Error in DeviceIoControl (IOCTL_ORN5300_MP_ACCESS) : 31\n");
  EXPECT_EQ(r.exit_code, 1);
}

TEST(CliChipId, AdapterIndexAtTheEndSelectsTheAdapter) {
  REQUIRE_SIMULATOR();
  // One adapter: index 1 is refused by the driver, so even the chip ID fails.
  SimDevice one("{}");
  test::RunResult r = one.Run({"-R", "0", "-X", "1"});
  EXPECT_EQ(r.out, test::Banner() + "ERROR: READ_REGISTER failed !    status:Access failed\n");
  EXPECT_EQ(r.exit_code, 1);

  SimDevice two(R"({"adapters":2})");
  r = two.Run({"-R", "0", "-X", "1"});
  const auto requests = test::TraceRequests(two.TracePath());
  ASSERT_FALSE(requests.empty()) << r.out;
  EXPECT_EQ(requests[0]["op"], "READ_REGISTER");
  EXPECT_EQ(requests[0]["signature"], "0x00020001");
  EXPECT_EQ(requests[0]["adapter"], 1);

  SimDevice plain("{}");
  plain.Run({"-R", "0"});
  const auto defaults = test::TraceRequests(plain.TracePath());
  ASSERT_FALSE(defaults.empty());
  EXPECT_EQ(defaults[0]["signature"], "0x00010002");
  EXPECT_EQ(defaults[0]["adapter"], 0);
}

TEST(CliChipId, Model530AKeepsItsCapitalInFileNames) {
  REQUIRE_SIMULATOR();
  SimDevice dev(R"({"chip_id":"0x530A0000","eeprom_size":512})");
  const test::RunResult r = dev.Run({"-r"});
  if (!NotSupported(r).empty()) GTEST_SKIP() << "EEPROM flows not in this build";
  EXPECT_EQ(r.exit_code, 0) << r.out;
  EXPECT_TRUE(test::FileExists(dev.Folder() + "/orn530A-512.bin")) << r.out;
  EXPECT_NE(r.out.find("Saved Eeprom to the file orn530A-512.bin under current folder\n"),
            std::string::npos)
      << r.out;
}

TEST(CliCommands, RefusedRegisterReadEndsWithTheDeviceCommandCode) {
  REQUIRE_SIMULATOR();
  SimDevice dev(R"({"faults":[{"op":"READ_REGISTER","param":"0x10","status":1}]})");
  const test::RunResult r = dev.Run({"-R", "10"});
  EXPECT_EQ(r.exit_code, 14);
  if (!NotSupported(r).empty()) GTEST_SKIP() << "register commands not in this build";
  EXPECT_EQ(r.out, test::Banner() + "ERROR: READ_REGISTER failed !    status:Access failed\n" +
                       "Register 0x10 : 0x0\n");
}

TEST(CliCommands, GetEndsTheParse) {
  REQUIRE_SIMULATOR();
  SimDevice dev(R"({"driver_version":[2,3,4,5]})");
  const test::RunResult r = dev.Run({"-G", "v", "-w"});
  EXPECT_EQ(r.exit_code, 0);
  if (!NotSupported(r).empty()) GTEST_SKIP() << "information queries not in this build";
  EXPECT_EQ(r.out, test::Banner() +
                       "Driver Major Version 2\nDriver Minor Version 3\n"
                       "Driver Build Version 4\nDriver QFE Version 5\n");
}

// Memory commands run in stages: EEPROM size, the memory flow, then the
// link mode; a link mode that cannot be set ends the run before any
// network test.
TEST(CliStages, ReadThenLinkMode) {
  REQUIRE_SIMULATOR();
  SimDevice dev("{}");
  const test::RunResult r = dev.Run({"-r", "-l", "1000fd"});
  if (!NotSupported(r).empty()) GTEST_SKIP() << "memory or link flows not in this build";
  EXPECT_EQ(r.exit_code, 0) << r.out;
  const std::vector<std::string> ops = test::TraceOps(dev.TracePath());
  ASSERT_GE(ops.size(), 3u);
  EXPECT_EQ(ops.front(), "READ_REGISTER");
  EXPECT_EQ(ops[1], "E2P_READ_BYTE");  // the size probe comes first
  size_t read_block = 0, link_mode = 0;
  for (size_t i = 0; i < ops.size(); ++i) {
    if (ops[i] == "E2P_READ_BLOCK" && read_block == 0) read_block = i;
    if (ops[i] == "SET_LINK_MODE" && link_mode == 0) link_mode = i;
  }
  EXPECT_GT(read_block, 1u);
  EXPECT_GT(link_mode, read_block);
}

TEST(CliStages, FailedLinkModeEndsTheRunBeforeThePing) {
  REQUIRE_SIMULATOR();
  SimDevice dev(R"({"faults":[{"op":"SET_LINK_MODE","status":1}]})");
  const test::RunResult r = dev.Run({"-l", "100fd", "-p", "192.0.2.1"});
  if (!NotSupported(r).empty()) GTEST_SKIP() << "link flows not in this build";
  EXPECT_EQ(r.out, test::Banner() + "ERROR: SET_LINK_MODE failed !    status:Access failed\n" +
                       "ERROR: Set link mode failed\n");
  EXPECT_EQ(r.exit_code, 4);
  EXPECT_EQ(test::TraceOps(dev.TracePath()),
            (std::vector<std::string>{"READ_REGISTER", "SET_LINK_MODE"}));
}

// -z: the model name picks the layout; no device is opened (the state file
// named here does not exist, so an open would fail).
class CliImageModel : public testing::Test {
 protected:
  test::RunResult Generate(const std::string& model) {
    test::WriteFile(dir_.File("board.ini"),
                    "[MacAddress]\n"
                    "CurrentMacAddress = 02:00:00:00:00:01\n"
                    "MaximumMacAddress = 02:00:00:00:FF:FF\n"
                    "MacAddressIncrement = 1\n");
    return test::RunCli({"-i", "board.ini", "-z", "out.bin", "-d", model},
                        {{"ORN5300_SIM", dir_.File("absent.json")}}, "", dir_.path());
  }
  // The INI reader and the identity checks must accept the file before the
  // model is looked at.
  static bool NoIniReader(const test::RunResult& r) {
    return r.out.find("Parameter Error") != std::string::npos && !NotSupported(r).empty();
  }
  test::TempDir dir_;
};

TEST_F(CliImageModel, OnlyTheTwoLayoutModelsAreAccepted) {
  for (const char* model : {"ORN5301", "orn5300", "ORN530"}) {
    const test::RunResult r = Generate(model);
    if (NoIniReader(r)) GTEST_SKIP() << "no INI reader in this build";
    EXPECT_EQ(r.out, test::Banner() + "ERROR: Please specify ORN5300 or ORN5350 with -d option\n")
        << model;
    EXPECT_EQ(r.exit_code, 1) << model;
  }
}

TEST_F(CliImageModel, FirstSevenCharactersCount) {
  const test::RunResult r = Generate("ORN5350X");
  if (NoIniReader(r)) GTEST_SKIP() << "no INI reader in this build";
  EXPECT_EQ(r.out.find("Please specify ORN5300 or ORN5350"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("CreateFile failed"), std::string::npos) << r.out;
  EXPECT_NE(r.exit_code, 1) << r.out;
}

}  // namespace
