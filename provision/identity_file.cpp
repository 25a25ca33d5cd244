#include "provision/identity_file.h"

#include <cstdio>
#include <memory>
#include <string>

#include "core/exit_codes.h"
#include "core/output.h"
#include "platform/file_lock.h"
#include "platform/file_replace.h"
#include "provision/provisioning.h"

namespace {

// How long a run waits for the identity file lock before it says so.
constexpr uint32_t kLockWarnMs = 2000;

const char* Kind(const RunSettings& rs) { return rs.BinaryFileName ? "binary file" : "ini file"; }
const std::string& GivenName(const RunSettings& rs) {
  return rs.BinaryFileName ? *rs.BinaryFileName : *rs.IniFileName;
}

std::string MacText(const MacAddress& mac) {
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3],
                mac[4], mac[5]);
  return text;
}

}  // namespace

bool WritesIdentityBack(const RunSettings& rs) {
  return rs.CommandCode == kCmdWrite && rs.IncrementRequested &&
         (rs.BinaryFileName.has_value() || rs.IniFileName.has_value());
}

// The lock is taken on a companion file, created beside the real file and
// never deleted, not on the file itself: the write-back replaces the file
// by a new one, and a lock on the old one would not exclude a run that
// opens the new one. Naming it after the real file makes stations that
// reach the file through different links or names exclude each other.
int LockIdentityFile(RunSettings& rs) {
  if (!WritesIdentityBack(rs)) return 0;
  const std::string& name = GivenName(rs);
  std::FILE* probe = std::fopen(name.c_str(), "rb");
  if (probe == nullptr) return 0;
  std::fclose(probe);

  rs.IdentityFilePath = platform::RealFilePath(name);
  const char* kind = Kind(rs);
  // A file the run could not rewrite is refused before anything else: the
  // device would be programmed and the next one would get the same identity.
  const std::string why = platform::WhyNotReplaceable(*rs.IdentityFilePath);
  if (!why.empty()) {
    PrintError("The %s %s %s\n", kind, name.c_str(), why.c_str());
    PrintError("The next MAC address and serial number could not be stored: no device is programmed\n");
    return kExitIdentity;
  }

  const std::string lock_path = *rs.IdentityFilePath + ".lock";
  auto on_long_wait = [&name, kind] {
    PrintWarning("Waiting for another run that is using the %s %s\n", kind, name.c_str());
    std::fflush(stdout);
  };
  uint32_t error = 0;
  std::unique_ptr<platform::FileLock> lock =
      platform::AcquireFileLock(lock_path, kLockWarnMs, on_long_wait, error);
  if (!lock) {
    PrintError("Cannot lock the %s %s through %s (error %u)\n", kind, name.c_str(), lock_path.c_str(),
               static_cast<unsigned>(error));
    return kExitInvalidCommandLine;
  }
  rs.IdentityLock = std::move(lock);
  return 0;
}

void ReleaseIdentityFile(RunSettings& rs) { rs.IdentityLock.reset(); }

int CheckIdentityCanBeStored(RunSettings& rs) {
  if (!WritesIdentityBack(rs) || !rs.IdentityFilePath) return 0;
  const std::string& name = GivenName(rs);

  // The INI write-back overwrites the value texts read at the start; a
  // value the file does not hold (given only on the command line) has no
  // place to go.
  if (!rs.BinaryFileName) {
    const char* missing = nullptr;
    if (!rs.MacWriteBackText) {
      missing = "CurrentMacAddress";
    } else if (rs.CurrentSerialNumber && rs.SerialNumberIncrement > 0 && !rs.SerialWriteBackText) {
      missing = "CurrentSerialNumber";
    }
    if (missing != nullptr) {
      PrintError("The ini file %s holds no %s value to write the next one into\n", name.c_str(), missing);
      PrintError("Couldn't increase any Mac or serial number.\n");
      return kExitIdentity;
    }
  }

  IdentityStep step;
  if (!StepIdentity(rs, step)) {
    switch (step.failure) {
      case IdentityStep::kMacOverflow:
        PrintError("The MAC address %s cannot be increased by %d without overflow\n",
                   MacText(rs.CurrentMacAddress).c_str(), static_cast<int>(rs.MacAddressIncrement));
        break;
      case IdentityStep::kMacAboveMaximum:
        PrintError("The next MAC address %s would be greater than the maximum MAC address %s\n",
                   MacText(step.mac).c_str(), MacText(rs.MaximumMacAddress).c_str());
        break;
      case IdentityStep::kSerialOverflow:
        PrintError("The serial number %s cannot be increased by %d without overflow\n",
                   rs.CurrentSerialNumber->c_str(), static_cast<int>(rs.SerialNumberIncrement));
        break;
      case IdentityStep::kSerialAboveMaximum:
        PrintError("The next serial number %s would be greater than the maximum serial number %s\n",
                   step.serial->c_str(), rs.MaximumSerialNumber->c_str());
        break;
      default:
        break;
    }
    PrintError("Couldn't increase any Mac or serial number.\n");
    return kExitIdentity;
  }
  return 0;
}
