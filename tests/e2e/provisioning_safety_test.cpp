// What a factory relies on when runs program identities: a crash or a full
// disk never tears the identity file, a run that could not store the next
// identity never programs a device, files the user may not write are never
// replaced, and the identity lock is let go as soon as the file is written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/file_lock.h"
#include "tests/e2e/eeprom_e2e_support.h"

namespace {

using e2e::Bytes;
using e2e::SimDevice;
namespace fs = std::filesystem;

std::string Text(const Bytes& b) { return std::string(b.begin(), b.end()); }

// The INI file with the identity values replaced.
std::string IniWith(const std::string& mac, const std::string& serial, const std::string& max_serial = "0000FFFF",
                    const std::string& max_mac = "00:80:0F:11:22:FF") {
  std::string text = e2e::IniText();
  const auto put = [&text](const std::string& key, const std::string& value) {
    const size_t at = text.find(key + "=");
    const size_t end = text.find('\n', at);
    text.replace(at + key.size() + 1, end - at - key.size() - 1, value);
  };
  put("CurrentMacAddress", mac);
  put("MaximumMacAddress", max_mac);
  put("CurrentSerialNumber", serial);
  put("MaximumSerialNumber", max_serial);
  return text;
}

// Names in a folder that a write-back may have left behind.
std::vector<std::string> Leftovers(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name.find(".tmp") != std::string::npos) names.push_back(name);
  }
  return names;
}

// A file the run steps: its text before and after one successful step.
struct IdentityFile {
  const char* name;
  const char* option;
  std::string before;
  std::string after;
};

std::vector<IdentityFile> IdentityFiles() {
  const Bytes image = e2e::BinaryImage(512, 0xA5, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55});
  Bytes stepped = image;
  stepped[6] = 0x56;
  return {
      {"station.ini", "-i", e2e::IniText(), IniWith("00:80:0F:11:22:31", "000000A2")},
      {"station.bin", "-b", Text(image), Text(stepped)},
  };
}

// Stops the run at every byte of its write-back, killed there (a crash) or
// with the write failing there (a full disk): the file
// holds the old identity or the new one, whole, and only a run that says it
// updated the file leaves the new one.
TEST(ProvisioningSafety, WriteBackIsOldOrNewAfterACrashOrAFullDiskAtEveryByte) {
  for (const IdentityFile& f : IdentityFiles()) {
    for (bool crash : {true, false}) {
      const long long size = static_cast<long long>(f.after.size());
      // Every byte for a crash; a full disk shows at any write, so every
      // 16th byte and the last ones are enough for it.
      for (long long limit = 0; limit <= size; ++limit) {
        if (!crash && limit % 16 != 0 && limit < size - 16) continue;
        SimDevice dev;
        const std::string path = dev.dir.File(f.name);
        test::WriteFile(path, f.before);
        dev.Save();
        const test::RunResult r = test::RunCli({"-w", f.option, f.name, "-N"}, {{"ORN5300_SIM", dev.StatePath()}}, "",
                                               dev.dir.path(), test::RunLimits{limit, !crash, false});
        const std::string now = test::ReadFile(path);
        const std::string where = std::string(f.name) + (crash ? " killed" : " failing") + " at byte " +
                                  std::to_string(limit) + ":\n" + r.out;
        ASSERT_TRUE(now == f.before || now == f.after) << where;
        if (limit < size) {
          EXPECT_EQ(now, f.before) << where;
          if (!crash) {
            EXPECT_EQ(r.exit_code, 10) << where;
            EXPECT_TRUE(Leftovers(dev.dir.path()).empty()) << where;
          }
        } else {
          EXPECT_EQ(now, f.after) << where;
        }
        if (f.option == std::string("-i")) {
          EXPECT_EQ(now == f.after, r.out.find("Updated ini file\n") != std::string::npos) << where;
        }
      }
    }
  }
}

// What would make the stepping stage fail and is known before programming
// refuses the run before the device is opened, so the next device can never
// get the identity of this one.
TEST(ProvisioningSafety, IdentityThatCannotBeSteppedOrStoredIsRefusedBeforeTheDevice) {
  struct Case {
    const char* name;
    std::string ini;
    std::vector<std::string> extra;
    std::string message;
  };
  const Case cases[] = {
      {"MAC address at its maximum", IniWith("00:80:0F:11:22:FF", "000000A1"), {},
       "ERROR: The next MAC address 00:80:0F:11:23:00 would be greater than the maximum MAC address "
       "00:80:0F:11:22:FF\n"},
      {"MAC address increment past the maximum", IniWith("00:80:0F:11:22:F0", "000000A1"), {"-m", "16"},
       "ERROR: The next MAC address 00:80:0F:11:23:00 would be greater than the maximum MAC address "
       "00:80:0F:11:22:FF\n"},
      {"serial number at its maximum", IniWith("00:80:0F:11:22:30", "0000FFFF"), {},
       "ERROR: The next serial number 00010000 would be greater than the maximum serial number 0000FFFF\n"},
      {"serial number that overflows", IniWith("00:80:0F:11:22:30", "FFFFFFFF", "FFFFFFFF"), {},
       "ERROR: The serial number FFFFFFFF cannot be increased by 1 without overflow\n"},
      {"lower-case serial number at its maximum", IniWith("00:80:0F:11:22:30", "0000ffff"), {},
       "ERROR: The next serial number 00010000 would be greater than the maximum serial number 0000FFFF\n"},
  };
  for (const Case& c : cases) {
    SimDevice dev;
    const std::string ini = dev.dir.File("station.ini");
    test::WriteFile(ini, c.ini);
    std::vector<std::string> args = {"-w", "-i", "station.ini", "-N"};
    args.insert(args.end(), c.extra.begin(), c.extra.end());
    const auto r = dev.Run(args);
    SKIP_IF_NOT_LANDED(r);
    EXPECT_EQ(r.exit_code, 10) << c.name << "\n" << r.out;
    EXPECT_EQ(r.out, test::Banner() + c.message + "ERROR: Couldn't increase any Mac or serial number.\n") << c.name;
    EXPECT_TRUE(dev.Ops().empty()) << c.name << ": the device was touched";
    EXPECT_EQ(test::ReadFile(ini), c.ini) << c.name;
  }
}

// Lower-case hexadecimal digits step as their upper-case equivalents,
// compared with the maximum in the same way.
TEST(ProvisioningSafety, LowerCaseSerialNumbersStepAsUpperCase) {
  SimDevice dev;
  const std::string ini = dev.dir.File("station.ini");
  test::WriteFile(ini, IniWith("00:80:0F:11:22:30", "0000abcf"));
  const auto r = dev.Run({"-w", "-i", "station.ini", "-N"});
  SKIP_IF_NOT_LANDED(r);
  ASSERT_EQ(r.exit_code, 0) << r.out;
  EXPECT_EQ(test::ReadFile(ini), IniWith("00:80:0F:11:22:31", "0000ABD0"));
}

// A file the user may not write is found out before the device is touched,
// said so plainly, and never replaced. Needs a user without root's rights.
TEST(ProvisioningSafety, FileThatCannotBeWrittenIsRefusedBeforeTheDevice) {
  if (!test::CanRunUnprivileged()) GTEST_SKIP() << "cannot run the tool as an unprivileged user here";
  struct Case {
    const char* name;
    mode_t file_mode;
    mode_t folder_mode;
    const char* why;
  };
  const Case cases[] = {
      {"read-only file", 0444, 0777, "cannot be written: Permission denied"},
      {"folder without new files", 0666, 0555, "cannot be replaced: its folder "},
  };
  for (const IdentityFile& f : IdentityFiles()) {
    for (const Case& c : cases) {
      SimDevice dev;
      test::TempDir share;
      const std::string path = share.File(f.name);
      test::WriteFile(path, f.before);
      ASSERT_EQ(chmod(path.c_str(), c.file_mode), 0);
      ASSERT_EQ(chmod(share.path().c_str(), c.folder_mode), 0);
      ASSERT_EQ(chmod(dev.dir.path().c_str(), 0777), 0);
      dev.Save();
      ASSERT_EQ(chmod(dev.StatePath().c_str(), 0666), 0);
      const test::RunResult r = test::RunCli({"-w", f.option, path, "-N"}, {{"ORN5300_SIM", dev.StatePath()},
                                             {"ORN5300_SIM_TRACE", dev.TracePath()}},
                                             "", dev.dir.path(), test::RunLimits{-1, false, true});
      chmod(share.path().c_str(), 0700);
      const std::string where = std::string(f.name) + ", " + c.name + ":\n" + r.out;
      EXPECT_EQ(r.exit_code, 10) << where;
      EXPECT_NE(r.out.find(c.why), std::string::npos) << where;
      EXPECT_EQ(r.out.find("not found"), std::string::npos) << where;
      EXPECT_FALSE(test::FileExists(dev.TracePath())) << where << "the device was opened";
      EXPECT_EQ(test::ReadFile(path), f.before) << where;
      struct stat st {};
      ASSERT_EQ(stat(path.c_str(), &st), 0);
      EXPECT_EQ(st.st_mode & 07777, c.file_mode) << where;
    }
  }
}

// A replaced file keeps its owner, group and mode.
TEST(ProvisioningSafety, ReplacedFileKeepsOwnerGroupAndMode) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a file to another owner needs root";
  for (const IdentityFile& f : IdentityFiles()) {
    SimDevice dev;
    const std::string path = dev.dir.File(f.name);
    test::WriteFile(path, f.before);
    ASSERT_EQ(chown(path.c_str(), 1234, 5678), 0);
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    const auto r = dev.Run({"-w", f.option, f.name, "-N"});
    SKIP_IF_NOT_LANDED(r);
    ASSERT_EQ(r.exit_code, 0) << r.out;
    EXPECT_EQ(test::ReadFile(path), f.after);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 1234u) << f.name;
    EXPECT_EQ(st.st_gid, 5678u) << f.name;
    EXPECT_EQ(st.st_mode & 07777, 0640u) << f.name;
  }
}

// The identity lock is let go once the file is written: a second station
// can take it while the first still waits for its link.
TEST(ProvisioningSafety, IdentityLockIsReleasedBeforeTheLinkStage) {
  SimDevice dev;
  dev.state = {{"virtual_time", false}};  // the link stage really waits
  const std::string ini = dev.dir.File("station.ini");
  test::WriteFile(ini, e2e::IniText());
  std::atomic<bool> done{false};
  test::RunResult r;
  std::thread run([&] {
    r = dev.Run({"-w", "-i", "station.ini", "-N", "-l", "100fd"});
    done = true;
  });
  bool updated = false;
  bool lock_taken_during_the_run = false;
  for (int i = 0; i < 1000 && !done; ++i) {
    if (!updated) updated = test::ReadFile(ini) != e2e::IniText();
    if (updated) {
      const int fd = open(ini.c_str(), O_RDWR | O_CLOEXEC);
      if (fd >= 0) {
        struct flock region {};
        region.l_type = F_WRLCK;
        region.l_whence = SEEK_SET;
        region.l_start = static_cast<off_t>(platform::kFileLockOffset);
        region.l_len = 1;
        const bool free = fcntl(fd, F_OFD_SETLK, &region) == 0;
        close(fd);
        lock_taken_during_the_run = free && !done;
        if (free) break;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  run.join();
  SKIP_IF_NOT_LANDED(r);
  EXPECT_NE(r.out.find("Updated ini file\n"), std::string::npos) << r.out;
  EXPECT_TRUE(lock_taken_during_the_run) << "the lock was held through the link stage";
}

// A read-only command never corrupts the EEPROM: a size probe that fails
// after its inverting write puts the byte back, and says so when it cannot.
TEST(ProvisioningSafety, FailedSizeProbeRestoresTheEeprom) {
  struct Case {
    const char* name;
    nlohmann::json faults;
    bool restored;
  };
  const Case cases[] = {
      {"read after the inverting write fails", {{{"op", "E2P_READ_BYTE"}, {"nth", 3}, {"status", 1}}}, true},
      {"restore fails too",
       {{{"op", "E2P_READ_BYTE"}, {"nth", 3}, {"status", 1}}, {{"op", "E2P_WRITE_BYTE"}, {"from_nth", 4}, {"status", 1}}},
       false},
  };
  for (const Case& c : cases) {
    SimDevice dev;
    Bytes eeprom(512);
    for (size_t i = 0; i < eeprom.size(); ++i) eeprom[i] = static_cast<uint8_t>(i * 3 + 7);
    dev.state = {{"eeprom", e2e::Hex(eeprom)}, {"faults", c.faults}};
    const auto r = dev.Run({"-r"});
    SKIP_IF_NOT_LANDED(r);
    EXPECT_EQ(r.exit_code, 5) << c.name << "\n" << r.out;
    const bool reported = r.out.find("ERROR: The EEPROM size probe could not restore byte 256 to 0x") != std::string::npos;
    EXPECT_EQ(dev.Memory("eeprom") == eeprom, c.restored) << c.name;
    EXPECT_EQ(reported, !c.restored) << c.name << "\n" << r.out;
  }
}

// Mistakes on the command line that used to be found only after the device
// was programmed, or that chose another device, are refused before any
// device access.
TEST(ProvisioningSafety, CommandLineMistakesAreRefusedBeforeTheDevice) {
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    std::string out;
  };
  const Case cases[] = {
      {{"-X", "abc", "-w", "-i", "station.ini", "-N"}, 3,
       "ERROR: Invalid adapter index abc: it must be a decimal number from 0 to 2147483647\n"
       "ERROR: Parameter Error (use -h for help)\n"},
      {{"-X", "99999999999", "-r"}, 3,
       "ERROR: Invalid adapter index 99999999999: it must be a decimal number from 0 to 2147483647\n"
       "ERROR: Parameter Error (use -h for help)\n"},
      {{"-X", "1x", "-r"}, 3,
       "ERROR: Invalid adapter index 1x: it must be a decimal number from 0 to 2147483647\n"
       "ERROR: Parameter Error (use -h for help)\n"},
      {{"-w", "-i", "station.ini", "-N", "-L", "-l", "10hd"}, 8,
       "ERROR: Please set the loopback link to 100fd or 1000fd\n"},
  };
  for (const Case& c : cases) {
    SimDevice dev;
    dev.state = {{"adapters", 2}};
    const std::string ini = dev.dir.File("station.ini");
    test::WriteFile(ini, e2e::IniText());
    const auto r = dev.Run(c.args);
    SKIP_IF_NOT_LANDED(r);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.args[1];
    EXPECT_EQ(r.out, test::Banner() + c.out) << c.args[1];
    EXPECT_TRUE(dev.Ops().empty()) << c.args[1] << ": the device was touched";
    EXPECT_EQ(test::ReadFile(ini), e2e::IniText()) << c.args[1];
  }
  // A valid index still selects its adapter.
  SimDevice dev;
  dev.state = {{"adapters", 8}};
  const auto r = dev.Run({"-X", "007", "-R", "0"});
  EXPECT_EQ(r.exit_code, 0) << r.out;
  const auto requests = dev.Requests("READ_REGISTER");
  ASSERT_FALSE(requests.empty());
  EXPECT_EQ(requests.back()["adapter"], 7);
}

}  // namespace
