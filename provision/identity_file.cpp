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

// The lock is taken on the identity file itself, by its identity rather
// than its name: stations that reach it through different links or names
// exclude each other, and no companion file can be removed from under a
// station that holds it. A write-back replaces the file by a new one; a
// station that waited on the old one finds that out once it has the lock
// and locks the new one (LockSharedFile).
int LockIdentityFile(RunSettings& rs) {
  if (!WritesIdentityBack(rs)) return 0;
  const std::string& name = GivenName(rs);
  const char* kind = Kind(rs);
  const std::string real = platform::RealFilePath(name);
  auto refuse = [&](const std::string& why) {
    PrintError("The %s %s %s\n", kind, name.c_str(), why.c_str());
    PrintError("The next MAC address and serial number could not be stored: no device is programmed\n");
    return kExitIdentity;
  };

  auto on_long_wait = [&name, kind] {
    PrintWarning("Waiting for another run that is using the %s %s\n", kind, name.c_str());
    std::fflush(stdout);
  };
  uint32_t error = 0;
  std::unique_ptr<platform::FileLock> lock =
      platform::LockSharedFile(real, kLockWarnMs, on_long_wait, error);
  if (!lock) {
    // A missing file is reported by its reader, which fails on it; a file
    // this user may not write is refused with the reason.
    if (platform::IsMissingFileError(error)) return 0;
    if (platform::IsAccessError(error)) {
      const std::string why = platform::WhyNotReplaceable(real);
      return refuse(why.empty() ? "cannot be written (error " + std::to_string(error) + ")" : why);
    }
    PrintError("Cannot lock the %s %s (error %u)\n", kind, name.c_str(), static_cast<unsigned>(error));
    return kExitInvalidCommandLine;
  }
  // A file the run could not rewrite is refused before anything else: the
  // device would be programmed and the next one would get the same identity.
  const std::string why = platform::WhyNotReplaceable(real);
  if (!why.empty()) return refuse(why);
  // The write-back puts a new file in place of one of the names; the
  // others would keep the old identity for ever.
  const uint32_t links = lock->LinkCount();
  if (links > 1) {
    return refuse("has " + std::to_string(links) +
                  " hard links: the next identity would reach only one of its names (give each name a file of its "
                  "own, or use a symbolic link)");
  }
  rs.IdentityFilePath = real;
  rs.IdentityLock = std::move(lock);
  return 0;
}

int CheckIdentityFileLocked(const RunSettings& rs) {
  if (!WritesIdentityBack(rs) || rs.IdentityLock) return 0;
  // The file was missing when the lock was tried and is there now: nothing
  // kept another station out while it was read.
  PrintError("The %s %s appeared while this run started: run it again\n", Kind(rs), GivenName(rs).c_str());
  return kExitInvalidCommandLine;
}

void ReleaseIdentityFile(RunSettings& rs) { rs.IdentityLock.reset(); }

int CheckIdentityCanBeStored(RunSettings& rs) {
  if (!WritesIdentityBack(rs) || !rs.IdentityLock) return 0;
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
