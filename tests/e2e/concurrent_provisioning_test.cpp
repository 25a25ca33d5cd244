// Runs that share one INI file: stations stepping the identity in the
// same file must never program the same MAC address, and a run that has to
// wait for another says so.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <latch>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include <filesystem>

#include "platform/file_lock.h"
#include "tests/e2e/eeprom_e2e_support.h"

namespace {

using e2e::Bytes;
using e2e::SimDevice;
namespace fs = std::filesystem;

std::string MacText(const Bytes& eeprom) {
  if (eeprom.size() < 7) return "";
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", eeprom[1], eeprom[2], eeprom[3], eeprom[4],
                eeprom[5], eeprom[6]);
  return text;
}

// The INI text after the identity has been stepped `steps` times (the
// series in IniText() stays within one hexadecimal digit).
std::string SteppedIni(int steps) {
  std::string text = e2e::IniText();
  const auto bump = [&text](const std::string& key, const std::string& from, const std::string& to) {
    const size_t at = text.find(key + "=" + from);
    ASSERT_NE(at, std::string::npos) << key;
    text.replace(at + key.size() + 1, from.size(), to);
  };
  bump("CurrentMacAddress", "00:80:0F:11:22:30", "00:80:0F:11:22:3" + std::to_string(steps));
  bump("CurrentSerialNumber", "000000A1", "000000A" + std::to_string(1 + steps));
  return text;
}

const char* kWaitWarning = "WARNING: Waiting for another run that is using the ini file ";

// Holds the INI lock the way a run does, from the test process.
std::unique_ptr<platform::FileLock> HoldLock(const std::string& ini) {
  uint32_t error = 0;
  auto lock = platform::LockSharedFile(ini, 0, nullptr, error);
  EXPECT_TRUE(lock) << "error " << error;
  return lock;
}

// How stations reach the one file they share.
struct SharedFile {
  const char* name;
  bool binary;     // a binary image (-b) instead of an INI file (-i)
  bool via_links;  // each station names the file through its own symbolic link
};

// Several stations started at the same moment on one shared file: every
// station programs its own MAC address and the file moves on by one step
// per station, whichever name a station uses for it.
TEST(ConcurrentProvisioning, StationsSharingOneFileProgramDifferentIdentities) {
  constexpr int kStations = 6;
  const SharedFile kinds[] = {{"ini file", false, false},
                              {"binary image", true, false},
                              {"ini file through links", false, true},
                              {"binary image through links", true, true}};
  const Bytes first_mac = {0x00, 0x11, 0x22, 0x33, 0x44, 0x50};
  const Bytes image = e2e::BinaryImage(512, 0xA5, first_mac);
  for (const SharedFile& kind : kinds) {
    for (int round = 0; round < 3; ++round) {
      test::TempDir share;
      const std::string real = share.File(kind.binary ? "station.bin" : "station.ini");
      test::WriteFile(real, kind.binary ? std::string(image.begin(), image.end()) : e2e::IniText());
      std::vector<std::string> names(kStations, real);
      if (kind.via_links) {
        for (int i = 0; i < kStations; ++i) {
          names[i] = share.File("link" + std::to_string(i));
          ASSERT_EQ(symlink(real.c_str(), names[i].c_str()), 0);
        }
      }
      std::vector<SimDevice> devices(kStations);
      std::vector<test::RunResult> results(kStations);
      std::latch start(kStations);
      std::vector<std::thread> stations;
      for (int i = 0; i < kStations; ++i) {
        stations.emplace_back([&, i] {
          start.arrive_and_wait();
          results[i] = devices[i].Run({"-w", kind.binary ? "-b" : "-i", names[i], "-N"});
        });
      }
      for (auto& t : stations) t.join();
      SKIP_IF_NOT_LANDED(results[0]);
      std::set<std::string> macs;
      for (int i = 0; i < kStations; ++i) {
        ASSERT_EQ(results[i].exit_code, 0) << kind.name << ": " << results[i].out;
        macs.insert(MacText(devices[i].Memory("eeprom")));
      }
      EXPECT_EQ(macs.size(), static_cast<size_t>(kStations))
          << kind.name << ", round " << round << ": two stations programmed the same address";
      if (kind.binary) {
        Bytes expected = image;
        expected[6] = static_cast<uint8_t>(first_mac[5] + kStations);
        const std::string after = test::ReadFile(real);
        EXPECT_EQ(after, std::string(expected.begin(), expected.end())) << kind.name << ": a step was lost";
      } else {
        EXPECT_EQ(test::ReadFile(real), SteppedIni(kStations)) << kind.name << ": a step was lost";
      }
      for (const std::string& name : names) {
        if (kind.via_links) {
          EXPECT_EQ(fs::read_symlink(name), real) << "a link was replaced by a copy";
        }
      }
      EXPECT_FALSE(test::FileExists(real + ".lock")) << "the file itself is locked: no lock file is made";
      for (const auto& entry : fs::directory_iterator(share.path())) {
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos)
            << entry.path() << " left behind";
      }
    }
  }
}

TEST(ConcurrentProvisioning, RunWaitsForTheLockAndWarnsOnlyAfterTwoSeconds) {
  struct Case {
    int hold_ms;
    bool warns;
  };
  for (const Case c : {Case{500, false}, Case{3000, true}}) {
    SimDevice dev;
    const std::string ini = dev.dir.File("config.ini");
    test::WriteFile(ini, e2e::IniText());
    auto lock = HoldLock(ini);
    test::RunResult r;
    std::thread run([&] { r = dev.Run({"-w", "-i", "config.ini", "-N"}); });
    std::this_thread::sleep_for(std::chrono::milliseconds(c.hold_ms));
    EXPECT_EQ(test::ReadFile(ini), e2e::IniText()) << c.hold_ms << " ms: the run did not wait for the lock";
    lock.reset();
    run.join();
    SKIP_IF_NOT_LANDED(r);
    EXPECT_EQ(r.exit_code, 0) << r.out;
    const size_t warning = r.out.find(std::string(kWaitWarning) + "config.ini\n");
    if (c.warns) {
      ASSERT_NE(warning, std::string::npos) << r.out;
      EXPECT_EQ(r.out.find(kWaitWarning, warning + 1), std::string::npos) << "warned more than once";
    } else {
      EXPECT_EQ(r.out.find(kWaitWarning), std::string::npos) << r.out;
    }
    EXPECT_EQ(MacText(dev.Memory("eeprom")), "00:80:0F:11:22:30");
    EXPECT_EQ(test::ReadFile(ini), SteppedIni(1));
  }
}

TEST(ConcurrentProvisioning, RunsThatDoNotWriteTheIniFileBackDoNotWait) {
  const std::vector<std::vector<std::string>> commands = {
      {"-w", "-i", "config.ini"},
      {"-z", "image.bin", "-i", "config.ini", "-d", "ORN5300"},
  };
  for (const auto& args : commands) {
    SimDevice dev;
    const std::string ini = dev.dir.File("config.ini");
    test::WriteFile(ini, e2e::IniText());
    auto lock = HoldLock(ini);
    test::RunResult r;
    std::atomic<bool> done{false};
    std::chrono::steady_clock::duration took{};
    std::thread run([&] {
      const auto start = std::chrono::steady_clock::now();
      r = dev.Run(args);
      took = std::chrono::steady_clock::now() - start;
      done = true;
    });
    // A run that waits for the lock is let go after a while, so that the
    // fault shows as a slow run instead of a hung test.
    for (int i = 0; i < 100 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    lock.reset();
    run.join();
    SKIP_IF_NOT_LANDED(r);
    EXPECT_EQ(r.exit_code, 0) << args[0] << ": " << r.out;
    EXPECT_EQ(r.out.find("WARNING"), std::string::npos) << r.out;
    EXPECT_LT(took, std::chrono::seconds(2)) << args[0];
    EXPECT_EQ(test::ReadFile(ini), e2e::IniText()) << args[0];
  }
}

TEST(ConcurrentProvisioning, MissingIniFileLeavesNoLockFileBehind) {
  SimDevice dev;
  const auto r = dev.Run({"-w", "-i", "absent.ini", "-N"});
  SKIP_IF_NOT_LANDED(r);
  EXPECT_NE(r.exit_code, 0);
  EXPECT_FALSE(test::FileExists(dev.dir.File("absent.ini.lock")));
}

}  // namespace
