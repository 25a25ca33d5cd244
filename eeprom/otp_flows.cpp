// OTP commands. The OTP only moves forward: empty (0x00), first
// configuration (0xF3, OTP offsets 0 to 255), second configuration (0xF7,
// image byte k at OTP offset 256 + k), or invalidated (0xFF). Every write
// checks the device state first and asks for confirmation before the first
// programming request.
#include "eeprom/otp_flows.h"

#include <array>
#include <cstdio>
#include <memory>
#include <string>

#include "core/output.h"
#include "core/sha256.h"
#include "config/image_layout.h"
#include "config/ini_schema.h"
#include "eeprom/eeprom_flows.h"
#include "provision/provisioning.h"
#include "platform/console.h"
#include "platform/file_replace.h"

namespace {

// OTP offset of image byte 1: right behind the signature, or behind the
// first half for a second configuration.
constexpr int kFirstDataOffset = 1;
constexpr int kSecondDataOffset = 257;
// File offset of image byte 1 in a binary file of a second configuration.
constexpr long kSecondConfigFileOffset = 257;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

int DataStartOffset(const uint8_t* image) {
  return image[0] == kOtpSecondConfig ? kSecondDataOffset : kFirstDataOffset;
}

bool Confirmed(const ConfirmationReader& confirm, bool lower_case_too) {
  std::fflush(stdout);
  const int c = confirm();
  return c == 'Y' || (lower_case_too && c == 'y');
}

// Reads a binary OTP file: 0xF3 files hold the image from offset 0, 0xF7
// files the signature at 0 and image bytes 1 onward from offset 257.
int LoadOtpImageFile(RunSettings& rs, ImageBuffer& image) {
  const std::string& name = *rs.BinaryFileName;
  File f(platform::OpenForReading(name));
  if (!f) {
    PrintError("No file %s was found\n", name.c_str());
    return kExitOtpWrite;
  }
  uint8_t signature = 0;
  if (std::fread(&signature, 1, 1, f.get()) != 1) {
    PrintError("Error reading signature (first byte) from binary file\n");
    return kExitOtpWrite;
  }
  if (signature == kOtpFirstConfig) {
    std::rewind(f.get());
    rs.ImageByteCount = static_cast<int32_t>(std::fread(image.data(), 1, image.size(), f.get()));
  } else if (signature == kOtpSecondConfig) {
    image[0] = signature;
    size_t n = 0;
    if (std::fseek(f.get(), kSecondConfigFileOffset, SEEK_SET) == 0) {
      n = std::fread(image.data() + 1, 1, image.size() - 1, f.get());
    }
    rs.ImageByteCount = static_cast<int32_t>(n) + 1;
  } else {
    PrintError("Invalid signature %x in the binary file\n", signature);
    return kExitOtpWrite;
  }
  f.reset();
  if (rs.MacAddressGiven != 0 &&
      PatchImageIdentity(rs, image, rs.CurrentMacAddress, rs.CurrentSerialNumber, rs.EepromSize) != 0) {
    PrintError("Modifying OTP image failed.\n");
    return kExitIdentity;
  }
  if (CheckOtpImageSignature(rs, image) != 0) {
    PrintError("OTP Binary image validation failed\n");
    return kExitOtpWrite;
  }
  return kExitSuccess;
}

int GenerateOtpImage(RunSettings& rs, ImageBuffer& image) {
  if (CheckIniSections(rs) != 0) {
    PrintError("Validatition of ini file failed\n");
    return kExitOtpWrite;
  }
  if (ResolveOtpSignature(rs) != 0) {
    PrintError("Validation of OTP settings failed\n");
    return kExitOtpWrite;
  }
  if (GenerateImage(rs, image, kImageModeOtp) != 0) {
    PrintError("Generate OTP image failed\n");
    return kExitOtpWrite;
  }
  return kExitSuccess;
}

// Marks the OTP as no longer used. Only an upper-case 'Y' goes on, whatever
// -C said: this cannot be undone.
StageResult InvalidateOtp(RequestChannel& ch, const ConfirmationReader& confirm) {
  PrintError("The first byte of OTP will be written with 0xFF and OTP will be DEAD!!!\n");
  PrintError("Please confirm (Y/N)\n");
  if (!Confirmed(confirm, false)) {
    std::printf("Exiting.\n");
    return {kExitOtpWrite, false};
  }
  const uint8_t dead = kOtpInvalidated;
  if (!OtpWriteBlock(ch, 0, 1, &dead)) {
    std::printf("Failed to program device OTP offset 0 (Signature byte with 0xFF)\n");
    return {kExitOtpWrite, false};
  }
  return {kExitSuccess, false};
}

}  // namespace

StageResult OtpReadAndSave(RequestChannel& ch, RunSettings& rs) {
  ImageBuffer image{};
  if (!OtpReadBlock(ch, 0, kOtpSize, image.data())) return {kExitOtpRead, false};
  const std::string name = rs.BinaryFileName ? *rs.BinaryFileName : DefaultSaveName(rs, "-otp.bin");
  switch (SaveReadBack(name, image.data(), kOtpSize)) {
    case SaveOutcome::kOpenFailed:
      PrintError("ERROR::Failed to create/open %s\n", name.c_str());
      return {kExitOtpRead, false};
    case SaveOutcome::kWriteFailed:
      PrintError("ERROR::WriteFile Failed\n");
      return {kExitOtpRead, false};
    case SaveOutcome::kShortWrite:
      PrintError("ERROR:: Write buffer has not been written to the file completely\n");
      return {kExitOtpRead, true};
    case SaveOutcome::kSaved:
      break;
  }
  std::printf("Saved OTP content to the file %s under current folder\n", name.c_str());
  return {kExitSuccess, true};
}

StageResult OtpWrite(RequestChannel& ch, RunSettings& rs, ImageBuffer& image) {
  return OtpWrite(ch, rs, image, platform::ReadConfirmationChar);
}

StageResult OtpWrite(RequestChannel& ch, RunSettings& rs, ImageBuffer& image,
                     const ConfirmationReader& confirm) {
  rs.Programmed = {};
  rs.Programmed.memory = "OTP";
  image.fill(0);
  rs.ImageByteCount = 0;
  const int space = CheckOtpSpace(ch, rs);
  if (space != 0) return {space, false};

  // An invalidation request can only come from an INI file. It wins over any
  // image source: the space check has not vetted the OTP for a write.
  if (rs.OtpSignature == kOtpSignatureInvalidate) return InvalidateOtp(ch, confirm);

  int code = kExitSuccess;
  if (rs.BinaryFileName) {
    code = LoadOtpImageFile(rs, image);
  } else if (rs.IniFileName) {
    code = GenerateOtpImage(rs, image);
  } else {
    PrintError("Either ini file(-i) or binary file(-b) should be provided\n");
    code = kExitOtpWrite;
  }
  if (code != kExitSuccess) return {code, false};

  const int start = DataStartOffset(image.data());
  const int data_length = rs.ImageByteCount - 1;
  if (data_length > kOtpSize - start) {
    PrintError("The size of binary image is greater than available OTP size\n");
    return {kExitOtpWrite, false};
  }
  if (rs.OtpWriteConfirmed == 0) {
    PrintWarning(start == kFirstDataOffset
                     ? "OTP will be written from offset 0, Please confirm (y/n):"
                     : "OTP will be written to offset 0x101, Please confirm (y/n):");
    if (!Confirmed(confirm, true)) {
      std::printf("Exiting.\n");
      return {kExitOtpWrite, false};
    }
  }
  char memory[16];
  std::snprintf(memory, sizeof memory, "OTP %02X", static_cast<unsigned>(image[0]));
  rs.Programmed.memory = memory;
  // The signature goes first; a failure after it leaves the new signature.
  if (!OtpWriteBlock(ch, 0, 1, image.data())) {
    std::printf("Failed to program device OTP offset 0 (Signature byte)\n");
    return {kExitOtpWrite, false};
  }
  if (!OtpWriteBlock(ch, static_cast<uint16_t>(start), static_cast<uint16_t>(data_length),
                     image.data() + 1)) {
    std::printf("Failed to program device OTP offset %d, size = %d\n", start, data_length);
    rs.Programmed.bytes_written = 1;
    return {kExitOtpWrite, false};
  }
  rs.Programmed.bytes_written = rs.ImageByteCount;
  rs.Programmed.image_sha256 = Sha256::Hex(image.data(), static_cast<size_t>(rs.ImageByteCount));
  if (VerifyOTP(ch, image.data(), rs.ImageByteCount) != 0) {
    rs.Programmed.verify = RunSettings::ProgrammingOutcome::kFailed;
    PrintError("Failed to verify device OTP\n");
    return {kExitOtpWrite, false};
  }
  rs.Programmed.verify = RunSettings::ProgrammingOutcome::kPassed;
  std::printf("The current device OTP was programmed with %d bytes\n", rs.ImageByteCount);
  return {kExitSuccess, true};
}

int OtpBytesUsed(const uint8_t* otp) {
  // (length, word offset) slot pairs, examined in this order; the slot with
  // the highest word offset ends the configuration (the first one wins a
  // tie). The pair at 0x46 opens the scan.
  static constexpr int kSlots[] = {0x3F, 0x41, 0x3D, 0x2D, 0x2B, 0x29, 0x27, 0x25,
                                   0x3B, 0x39, 0x37, 0x35, 0x33, 0x31, 0x2F};
  int highest = otp[0x47];
  int used = otp[0x46] + 2 * otp[0x47];
  for (int slot : kSlots) {
    const int offset = otp[slot + 1];
    if (offset > highest) {
      highest = offset;
      used = otp[slot] + 2 * offset;
    }
  }
  return used;
}

int CheckOtpSpace(RequestChannel& ch, RunSettings& rs) {
  std::array<uint8_t, kOtpSize> otp{};
  if (!OtpReadBlock(ch, 0, kOtpSize, otp.data())) {
    PrintError("Failed to read OTP\n");
    return kExitOtpRead;
  }
  const bool invalidate = rs.OtpSignature == kOtpSignatureInvalidate;
  const uint8_t s = otp[0];
  rs.OtpState = 0;
  if (s == kOtpEmpty) {
    if (invalidate) {
      PrintError("Signature ( %x )found in OTP is 0, Hence device is not using OTP. No need to write 0xFF\n",
                 0u);
      return kExitOtpWrite;
    }
    return 0;
  }
  if (invalidate) return 0;
  if (s == kOtpSecondConfig) {
    PrintError("Device OTP full (Signature 0xF7), cannot write OTP\n");
    return kExitOtpFull;
  }
  if (s == kOtpFirstConfig) {
    const int used = OtpBytesUsed(otp.data());
    if (used > 256) {
      std::printf("OTP already using %d bytes. Cannot write OTP\n", used);
      return kExitCheckFailed;
    }
    rs.OtpState = 256;
    return 0;
  }
  PrintError("Invalid Signature ( %x )found in OTP, cannot write OTP\n", static_cast<unsigned>(s));
  return kExitOtpWrite;
}

int ResolveOtpSignature(RunSettings& rs) {
  if (rs.OtpSignature == 0) {
    rs.OtpSignature = rs.OtpState == 256 ? kOtpSecondConfig : kOtpFirstConfig;
    return 0;
  }
  if (rs.OtpSignature == kOtpFirstConfig && rs.OtpState != 0) {
    PrintError("OTP Signature provided through ini file is 0xF3 but OTP is not empty\n");
    return -1;
  }
  if (rs.OtpSignature == kOtpSecondConfig && rs.OtpState == 0) {
    PrintError("OTP empty, The Signature provided through ini file is 0xF7 hence skipping first 256 bytes\n");
  }
  return 0;
}

int CheckOtpImageSignature(const RunSettings& rs, const ImageBuffer& image) {
  if (rs.OtpState == 0 && image[0] != kOtpFirstConfig) {
    PrintError("OTP is empty and the Signature byte should be 0xF3\n");
    return -1;
  }
  if (rs.OtpState == 256 && image[0] != kOtpSecondConfig) {
    PrintError("Upper 256 bytes of OTP is empty and the Signature byte should be 0xF7\n");
    return kExitOtpWrite;
  }
  return 0;
}

int VerifyOTP(RequestChannel& ch, const uint8_t* image, int count) {
  const int start = DataStartOffset(image);
  // Besides the size limit, never read before the signature or past the end
  // of the OTP, whatever count the caller passes.
  if (count > kOtpSize || count < 1 || start + count - 1 > kOtpSize) {
    std::printf("Invalid eeprom size\n");
    return 1;
  }
  uint8_t signature = 0;
  if (!OtpReadBlock(ch, 0, 1, &signature)) {
    PrintError("VerifyOTP: Failed to read offset 0\n");
    return kExitOtpRead;
  }
  std::array<uint8_t, kOtpSize> otp{};
  if (!OtpReadBlock(ch, static_cast<uint16_t>(start), static_cast<uint16_t>(count - 1), otp.data())) {
    PrintError("VerifyOTP: Failed to read OTP\n");
    return kExitOtpRead;
  }
  if (signature != image[0]) {
    PrintError("Failed to verify signature\n");
    return 1;
  }
  for (int i = 1; i < count; ++i) {
    if (image[i] != otp[i - 1]) {
      PrintError("Failed to verify OTP contents: offset %d, memory: %x  device: %x\n", i,
                 static_cast<unsigned>(image[i]), static_cast<unsigned>(otp[i - 1]));
      return 1;
    }
  }
  return 0;
}
