// EEPROM commands: the size probe, read and save, write and verify.
#include "eeprom/eeprom_flows.h"

#include <array>
#include <cstdio>
#include <memory>

#include "core/output.h"
#include "core/sha256.h"
#include "config/image_layout.h"
#include "config/ini_schema.h"
#include "provision/provisioning.h"
#include "platform/file_replace.h"

namespace {

constexpr int kMaxEepromSize = 512;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

bool DetectEepromSize(RequestChannel& ch, int32_t& size) {
  // A part that wraps at 256 bytes mirrors offset 256 onto offset 0: write
  // the complement of byte 0 at 256 and see whether byte 0 changed. Every
  // byte changed on the way is written back. When a request fails, the probe
  // ends, but first puts back what it may have changed (a read-only command
  // must not leave a byte inverted) and says so when that fails too.
  uint8_t a = 0;
  uint8_t t = 0;
  bool byte0_changed = false;    // byte 0 may not hold `a`
  bool byte256_changed = false;  // byte 256 may not hold `t`
  auto fail = [&]() {
    // Byte 256 first: on a 256-byte part it is byte 0, which then gets `a`.
    if (byte256_changed && !E2pWriteByte(ch, 256, t)) {
      PrintError("The EEPROM size probe could not restore byte 256 to 0x%02X\n", t);
    }
    if ((byte0_changed || byte256_changed) && !E2pWriteByte(ch, 0, a)) {
      PrintError("The EEPROM size probe could not restore byte 0 to 0x%02X\n", a);
    }
    return false;
  };
  if (!E2pReadByte(ch, 0, a)) return false;
  byte0_changed = true;
  if (!E2pWriteByte(ch, 0, 0xFF)) return fail();
  if (!E2pWriteByte(ch, 0, a)) return fail();
  byte0_changed = false;
  if (!E2pReadByte(ch, 256, t)) return false;
  byte256_changed = true;
  if (!E2pWriteByte(ch, 256, static_cast<uint8_t>(~a))) return fail();
  uint8_t r = 0;
  if (!E2pReadByte(ch, 0, r)) return fail();
  if (r != a) {
    if (!E2pWriteByte(ch, 0, a)) return fail();
    size = 256;
    return true;
  }
  if (!E2pWriteByte(ch, 256, t)) return fail();
  size = 512;
  return true;
}

int FixEepromSize(RequestChannel& ch, RunSettings& rs) {
  const bool probe = rs.OtpMode == 0 && !rs.TargetFileName &&
                     (rs.CommandCode == kCmdWrite || rs.CommandCode == kCmdRead);
  rs.EepromSize = kMaxEepromSize;
  if (!probe) return kExitSuccess;
  int32_t size = kMaxEepromSize;
  if (!DetectEepromSize(ch, size)) return kExitEepromRead;
  rs.EepromSize = size;
  return kExitSuccess;
}

std::string DefaultSaveName(const RunSettings& rs, const char* suffix) {
  return std::string(rs.ModelFilePrefix.data()) + suffix;
}

SaveOutcome SaveReadBack(const std::string& path, const uint8_t* data, size_t length) {
  // "r+b" keeps an existing file's length; only a missing file is created.
  File f(std::fopen(path.c_str(), "r+b"));
  if (!f) f.reset(std::fopen(path.c_str(), "w+b"));
  if (!f) return SaveOutcome::kOpenFailed;
  const size_t written = std::fwrite(data, 1, length, f.get());
  if (written == 0 && length != 0) return SaveOutcome::kWriteFailed;
  if (written < length) return SaveOutcome::kShortWrite;
  // Buffered data may still fail on its way to the file (a full disk shows
  // only here); that is a failed write, never a saved file.
  if (std::fflush(f.get()) != 0) return SaveOutcome::kWriteFailed;
  if (std::fclose(f.release()) != 0) return SaveOutcome::kWriteFailed;
  return SaveOutcome::kSaved;
}

StageResult EepromReadAndSave(RequestChannel& ch, RunSettings& rs) {
  ImageBuffer image{};
  const int size = rs.EepromSize;
  if (!E2pReadBlock(ch, static_cast<uint16_t>(size), image.data())) {
    return {kExitEepromRead, false};
  }
  const std::string name = rs.BinaryFileName ? *rs.BinaryFileName
                                             : DefaultSaveName(rs, size == 256 ? "-256.bin" : "-512.bin");
  switch (SaveReadBack(name, image.data(), static_cast<size_t>(size))) {
    case SaveOutcome::kOpenFailed:
      PrintError("ERROR::Failed to create/open %s\n", name.c_str());
      return {kExitEepromRead, false};
    case SaveOutcome::kWriteFailed:
      PrintError("ERROR::WriteFile Failed\n");
      return {kExitEepromRead, false};
    case SaveOutcome::kShortWrite:
      PrintError("ERROR::Write buffer has not been written to the file completely\n");
      return {kExitEepromRead, true};
    case SaveOutcome::kSaved:
      break;
  }
  std::printf("Saved Eeprom to the file %s under current folder\n", name.c_str());
  return {kExitSuccess, true};
}

namespace {

// Reads the -b image into the buffer and puts the run's identity into it.
int LoadEepromImageFile(RunSettings& rs, ImageBuffer& image) {
  const std::string& name = *rs.BinaryFileName;
  File f(platform::OpenForReading(name));
  if (!f) {
    PrintError("No file %s was found\n", name.c_str());
    return kExitEepromWrite;
  }
  rs.ImageByteCount = static_cast<int32_t>(std::fread(image.data(), 1, image.size(), f.get()));
  f.reset();
  // The command-line parse has taken the MAC address (and the serial
  // number, when there is one) from the file or its overrides.
  if (rs.MacAddressGiven != 0 &&
      PatchImageIdentity(rs, image, rs.CurrentMacAddress, rs.CurrentSerialNumber, rs.EepromSize) != 0) {
    PrintError("Modifying EEPROM image failed.\n");
    return kExitIdentity;
  }
  return kExitSuccess;
}

int GenerateEepromImage(RunSettings& rs, ImageBuffer& image) {
  if (CheckIniSections(rs) != 0) {
    PrintError("Validated ini file failed\n");
    return kExitEepromWrite;
  }
  if (GenerateImage(rs, image, kImageModeEeprom) != 0) {
    PrintError("Generated EEPROM file failed\n");
    return kExitEepromWrite;
  }
  return kExitSuccess;
}

}  // namespace

StageResult EepromWrite(RequestChannel& ch, RunSettings& rs, ImageBuffer& image) {
  rs.Programmed = {};
  rs.Programmed.memory = "EEPROM";
  image.fill(0);
  rs.ImageByteCount = 0;
  int code = kExitSuccess;
  if (rs.BinaryFileName) {
    code = LoadEepromImageFile(rs, image);
  } else if (rs.IniFileName) {
    code = GenerateEepromImage(rs, image);
  } else {
    PrintError("Either ini file(-i) or binary file(-b) should be provided\n");
    code = kExitEepromWrite;
  }
  if (code != kExitSuccess) return {code, false};

  if (rs.ImageByteCount > rs.EepromSize) {
    PrintError("The size of binary file is greater than eeprom size\n");
    return {kExitEepromWrite, false};
  }
  // The whole part is written; bytes past the image are the buffer's zeros.
  if (!E2pWriteBlock(ch, static_cast<uint16_t>(rs.EepromSize), image.data())) {
    std::printf("Failed to program device eeprom\n");
    return {kExitEepromWrite, false};
  }
  rs.Programmed.bytes_written = rs.EepromSize;
  rs.Programmed.image_sha256 = Sha256::Hex(image.data(), static_cast<size_t>(rs.EepromSize));
  if (VerifyEeprom(ch, image.data(), rs.ImageByteCount) != 0) {
    rs.Programmed.verify = RunSettings::ProgrammingOutcome::kFailed;
    PrintError("Failed to verify device eeprom\n");
    return {kExitEepromWrite, false};
  }
  rs.Programmed.verify = RunSettings::ProgrammingOutcome::kPassed;
  std::printf("The current device EEPROM was programmed with %d bytes\n", rs.ImageByteCount);
  return {kExitSuccess, true};
}

int VerifyEeprom(RequestChannel& ch, const uint8_t* image, int count) {
  if (count > kMaxEepromSize || count < 0) {
    std::printf("Invalid eeprom size\n");
    return 6;
  }
  std::array<uint8_t, kMaxEepromSize> read_back{};
  if (!E2pReadBlock(ch, static_cast<uint16_t>(count), read_back.data())) {
    std::printf("Failed to read eeprom\n");
    return 5;
  }
  for (int i = 0; i < count; ++i) {
    if (read_back[i] != image[i]) {
      std::printf("Failed to verify eeprom contents\n");
      return 1;
    }
  }
  return 0;
}
