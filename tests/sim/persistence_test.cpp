// Saving the state: only on change, keeping the file's form, atomically even
// when killed, serialised between processes; and the orn5300sim program.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "tests/sim/sim_fixture.h"

namespace simtest {
namespace {

using Persistence = SimTest;

TEST_F(Persistence, ARunThatChangesNothingLeavesTheFileAlone) {
  const std::string doc = "{ \"phy\": {\"1\": [1, 2]},  \"registers\": {\"16\": 3} }";
  Start(doc);
  EXPECT_EQ(Phy(1), 1);
  EXPECT_EQ(Reg(16), 3u);
  ASSERT_TRUE(WriteRegister(ch, 16, 3));  // the same value again
  ASSERT_TRUE(E2pCommand(ch, kE2pWriteEnable));
  device.reset();
  EXPECT_EQ(test::ReadFile(state_path), doc);
}

TEST_F(Persistence, ChangedKeysAreWrittenAndTheOthersKeepTheirForm) {
  Start(R"({"chip_id": "0x53010000", "eth_stats": [1], "link_state": 1,
            "mcu": {"xdata": {"0x0950": "05"}}})");
  ASSERT_TRUE(SetLinkState(ch, 0));
  ASSERT_TRUE(WriteRegister(ch, 0x20, 9));
  const uint8_t image[] = {0xA5, 0x00};
  ASSERT_TRUE(E2pWriteBlock(ch, 2, image));
  SleepMs(ch, 1500);
  const auto saved = Saved();
  EXPECT_EQ(saved["chip_id"], "0x53010000");
  EXPECT_EQ(saved["eth_stats"], nlohmann::json::array({1}));
  EXPECT_EQ(saved["mcu"]["xdata"]["0x0950"], "05");
  EXPECT_EQ(saved["link_state"], 0);
  EXPECT_EQ(saved["clock_ms"], 1500);
  EXPECT_EQ(saved["eeprom"].get<std::string>().substr(0, 6), "A500FF");

  Reopen();  // and the next run sees it all
  EXPECT_EQ(Reg(0x20), 9u);
  uint8_t v = 0;
  ASSERT_TRUE(E2pReadByte(ch, 0, v));
  EXPECT_EQ(v, 0xA5);
  EXPECT_EQ(McuRead(0x0950), 0x05);
}

// A child saves over and over, changing a register and the EEPROM together;
// it is killed at some moment. The file must always be a whole state.
TEST_F(Persistence, KillDuringSavingLeavesAWholeState) {
  test::WriteFile(state_path, "{}");
  for (int round = 0; round < 6; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (uint32_t i = 1;; ++i) {
        uint32_t error = 0;
        auto dev = sim::OpenSimulatedDevice(state_path, "", error);
        if (!dev) _exit(1);
        RequestChannel c;
        c.device = dev.get();
        std::array<uint8_t, 512> image;
        image.fill(static_cast<uint8_t>(i));
        if (!WriteRegister(c, 0x10, i) || !E2pWriteBlock(c, 512, image.data())) _exit(2);
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(40 + 37 * round));
    kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child stopped by itself: " << status;

    uint32_t error = 0;
    auto dev = sim::OpenSimulatedDevice(state_path, "", error);
    ASSERT_NE(dev, nullptr) << "round " << round << " error " << error;
    device = std::move(dev);
    ch.device = device.get();
    const uint32_t counter = Reg(0x10);
    uint8_t first = 0;
    ASSERT_TRUE(E2pReadByte(ch, 0, first));
    EXPECT_EQ(first, counter == 0 ? 0xFF : static_cast<uint8_t>(counter));
    device.reset();
  }
}

TEST_F(Persistence, TwoProcessesOnOneStateFileTakeTurns) {
  test::WriteFile(state_path, "{}");
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(ready[0]);
    uint32_t error = 0;
    auto dev = sim::OpenSimulatedDevice(state_path, "", error);
    if (!dev) _exit(1);
    RequestChannel c;
    c.device = dev.get();
    if (write(ready[1], "x", 1) != 1) _exit(2);
    WriteRegister(c, 0x20, 0xBEEF);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    dev.reset();  // saves, then releases the lock
    _exit(0);
  }
  close(ready[1]);
  char x = 0;
  ASSERT_EQ(read(ready[0], &x, 1), 1);  // the child holds the lock now
  close(ready[0]);
  const auto start = std::chrono::steady_clock::now();
  Reopen();
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(200));
  EXPECT_EQ(Reg(0x20), 0xBEEFu);  // the state the child saved, not the old file
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(Persistence, InitWritesEveryDefaultForEachChip) {
  const std::vector<std::pair<std::string, uint32_t>> chips = {
      {"ORN5300", 0x53000000}, {"ORN5301", 0x53010000},
      {"ORN530A", 0x530A0000}, {"ORN5350", 0x53500000}};
  for (const auto& [name, id] : chips) {
    const test::RunResult r = test::RunSim({"init", state_path, "--chip", name});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    const auto doc = nlohmann::json::parse(test::ReadFile(state_path));
    for (const char* key : {"chip_id", "adapters", "registers", "eeprom_size", "eeprom", "otp",
                            "phy", "link_mode_reply", "link_mode", "link_state",
                            "driver_version", "adapter_bits", "adapter_location",
                            "adapter_registry_key", "adapter_pdo", "adapter_port", "eth_stats",
                            "usb_phy_stats", "cabscan", "mcu", "virtual_time", "faults",
                            "clock_ms"}) {
      EXPECT_TRUE(doc.contains(key)) << key;
    }
    EXPECT_EQ(doc["phy"].size(), 10u);
    EXPECT_EQ(doc["eth_stats"].size(), 47u);
    EXPECT_EQ(doc["mcu"]["xdata"]["0x080B"], "5300");
    Reopen();
    EXPECT_EQ(Reg(0), id) << name;
    device.reset();
  }
  ASSERT_EQ(test::RunSim({"init", state_path, "--eeprom-size", "256"}).exit_code, 0);
  EXPECT_EQ(SavedState().eeprom.size(), 256u);
  EXPECT_EQ(nlohmann::json::parse(test::ReadFile(state_path))["eeprom"].get<std::string>().size(),
            512u);
}

TEST_F(Persistence, SetChangesOneKeyAndRefusesInvalidValues) {
  test::WriteFile(state_path, R"({"registers": {"0x10": 1}})");
  EXPECT_EQ(test::RunSim({"set", state_path, "adapters", "3"}).exit_code, 0);
  EXPECT_EQ(test::RunSim({"set", state_path, "chip_id", "0x53500000"}).exit_code, 0);
  EXPECT_EQ(test::RunSim({"set", state_path, "adapter_pdo", "\\Device\\X"}).exit_code, 0);
  EXPECT_EQ(test::RunSim({"set", state_path, "faults", R"([{"op":"READ_PHY","nth":2}])"})
                .exit_code,
            0);
  const auto doc = nlohmann::json::parse(test::ReadFile(state_path));
  EXPECT_EQ(doc["adapters"], 3);
  EXPECT_EQ(doc["chip_id"], "0x53500000");  // not JSON: kept as the text
  EXPECT_EQ(doc["adapter_pdo"], "\\Device\\X");
  EXPECT_EQ(doc["registers"]["0x10"], 1);
  EXPECT_EQ(doc["faults"][0]["nth"], 2);

  const std::string before = test::ReadFile(state_path);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"set", state_path, "eeprom_size", "300"},
        {"set", state_path, "colour", "1"},
        {"set", dir.File("absent.json"), "adapters", "1"}}) {
    const test::RunResult r = test::RunSim(args);
    EXPECT_EQ(r.exit_code, 1) << args[2];
    EXPECT_FALSE(r.err.empty());
  }
  EXPECT_EQ(test::ReadFile(state_path), before);
}

TEST_F(Persistence, ShowPrintsTheStateAndHexDumps) {
  test::WriteFile(state_path, R"({"eeprom_size": 256, "eeprom": "A5 01", "otp": "F3",
                                  "mcu": {"xdata": {"0x5010": "AA BB"}}})");
  const test::RunResult eeprom = test::RunSim({"show", state_path, "eeprom"});
  ASSERT_EQ(eeprom.exit_code, 0) << eeprom.err;
  EXPECT_EQ(eeprom.out.substr(0, 54), "0000: A5 01 FF FF FF FF FF FF FF FF FF FF FF FF FF FF\n");
  EXPECT_EQ(std::count(eeprom.out.begin(), eeprom.out.end(), '\n'), 16);
  EXPECT_NE(eeprom.out.find("00F0: FF"), std::string::npos);

  const test::RunResult mcu = test::RunSim({"show", state_path, "mcu"});
  ASSERT_EQ(mcu.exit_code, 0);
  EXPECT_NE(mcu.out.find("5010: AA BB 00"), std::string::npos) << mcu.out;
  EXPECT_NE(mcu.out.find("0800: 00 00 00 00 00 00 00 00 00 00 00 53 00"), std::string::npos);

  const test::RunResult all = test::RunSim({"show", state_path});
  ASSERT_EQ(all.exit_code, 0);
  EXPECT_NE(all.out.find("chip_id              0x53000000 (ORN5300)"), std::string::npos);
  EXPECT_NE(all.out.find("otp (512 bytes):\n0000: F3 00"), std::string::npos) << all.out;
}

TEST_F(Persistence, BadArgumentsPrintTheUsage) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"frobnicate", state_path},
      {"init"},
      {"init", state_path, "--chip", "ORN9999"},
      {"init", state_path, "--eeprom-size", "1024"},
      {"init", state_path, "--chip"},
      {"show", state_path, "flash"},
      {"set", state_path, "adapters"},
  };
  for (const auto& args : cases) {
    const test::RunResult r = test::RunSim(args);
    EXPECT_NE(r.exit_code, 0);
    EXPECT_NE(r.err.find("Usage: orn5300sim init FILE"), std::string::npos);
  }
  EXPECT_FALSE(test::FileExists(state_path));
}

}  // namespace
}  // namespace simtest
