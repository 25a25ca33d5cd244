// Loading the identity (MAC address and serial number) out of a binary image
// named with -b, and the identity checks that end the command-line parse.
#include "provision/binary_image.h"

#include <cstdio>
#include <memory>
#include <string>

#include "core/output.h"
#include "config/image_slots.h"
#include "provision/provisioning.h"
#include "platform/file_replace.h"

namespace {

constexpr int kMinimumImageBytes = 192;  // header and fixed descriptors of both layouts
constexpr int kOtpBytes = 512;
constexpr int kOtpSecondFileOffset = 257;  // file offset of byte 1 of a second configuration
constexpr size_t kMaxSerialChars = 16;
constexpr uint8_t kOtpFirstSignature = 0xF3;

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Reads the image file into `image`; `count` becomes the number of image bytes
// (for a second OTP configuration: the bytes from offset 257 plus the
// signature). 0, or -1 after the message.
int ReadImageFile(const RunSettings& rs, const std::string& name, ImageBuffer& image, int& count) {
  FilePtr file(platform::OpenForReading(name));
  if (!file) {
    PrintError("No file %s is found\n", name.c_str());
    return -1;
  }
  if (!rs.OtpMode) {
    count = static_cast<int>(std::fread(image.data(), 1, image.size(), file.get()));
    return 0;
  }
  int first = std::fgetc(file.get());
  if (first == EOF) {
    PrintError("The signature byte (first byte) could not be read from binary file\n");
    return -1;
  }
  if (first == kOtpFirstSignature) {
    std::rewind(file.get());
    count = static_cast<int>(std::fread(image.data(), 1, image.size(), file.get()));
    if (count > kOtpBytes) {
      PrintError("Binary image is too large to fit in the OTP, max size: %d \n", kOtpBytes);
      return -1;
    }
    return 0;
  }
  if (first == kOtpSecondSignature) {
    image[0] = kOtpSecondSignature;
    if (std::fseek(file.get(), kOtpSecondFileOffset, SEEK_SET) != 0) {
      count = 1;
      return 0;
    }
    count = 1 + static_cast<int>(std::fread(image.data() + 1, 1, image.size() - 1, file.get()));
    if (count + 256 > kOtpBytes) {
      PrintError("Binary image is too large to fit in the OTP, max size: %d \n", kOtpBytes);
      return -1;
    }
    return 0;
  }
  PrintError("Invalid signature %x in the binary file, cannot use the binary file for OTP\n",
             static_cast<unsigned>(first));
  return -1;
}

// Takes the MAC address and, unless one is already set, the serial number
// out of the binary image. 0, or -1 after the message.
int LoadIdentityFromImage(RunSettings& rs) {
  const std::string& name = *rs.BinaryFileName;
  ImageBuffer image{};
  int count = 0;
  if (ReadImageFile(rs, name, image, count) != 0) return -1;
  if (count < kMinimumImageBytes) {
    PrintError("No enough %d bytes in file %s\n", count, name.c_str());
    return -1;
  }

  if (!rs.MacAddressGiven) {
    std::copy(image.begin() + 1, image.begin() + 7, rs.CurrentMacAddress.begin());
    rs.markers.Set("CurrentMacAddress", kWellFormed);
    rs.MacAddressGiven = 1;
  }
  rs.MaximumMacAddress = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE};
  rs.markers.Set("MaximumMacAddress", kWellFormed);

  if (!rs.CurrentSerialNumber && image[slots::kSerial] != 0) {
    const int chars = StringCharCount(image[slots::kSerial]);
    if (chars > static_cast<int>(kMaxSerialChars)) {
      PrintError("Current serial number size is greater than %d\n", static_cast<int>(kMaxSerialChars));
      return -1;
    }
    const SlotSpan span = LocateSlot(image, slots::kSerial, count, true);
    if (span.state != SlotState::kValid) {
      ReportBadSlot("serial number string", image, slots::kSerial, span, count);
      return -1;
    }
    std::string serial;
    for (int i = 0; i < chars; ++i) {
      serial.push_back(static_cast<char>(image[span.offset + 2 + 2 * i]));
    }
    rs.CurrentSerialNumber = std::move(serial);
    rs.markers.Set("CurrentSerialNumber", kWellFormed);
  }
  return 0;
}

bool IsHexText(const std::string& text) {
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// The identity checks, whichever source the values came from. 0 or -1.
int CheckIdentity(RunSettings& rs) {
  const int mac_marker = rs.markers.Get("CurrentMacAddress");
  if (mac_marker == kMalformed) {
    PrintError("Invalid current mac address\n");
    return -1;
  }
  if (mac_marker == kNotSeen) {
    PrintError("Current mac address is missing\n");
    return -1;
  }
  if (!IsValidMac(rs.CurrentMacAddress)) {
    PrintError("Not valid current mac address\n");
    return -1;
  }
  if (rs.CurrentMacAddress > rs.MaximumMacAddress) {
    PrintError("Current MAC address is greater than maximum MAC address\n");
    return -1;
  }
  if (rs.markers.Get("MacAddressIncrement") == kMalformed) {
    PrintError(" Invalid mac address increment or out of range\n");
    return -1;
  }
  if (rs.CurrentSerialNumber) {
    std::string& current = *rs.CurrentSerialNumber;
    if (rs.MaximumSerialNumber) {
      std::string& maximum = *rs.MaximumSerialNumber;
      if (current.size() < maximum.size()) current.insert(0, maximum.size() - current.size(), '0');
      if (maximum.size() < current.size()) maximum.insert(0, current.size() - maximum.size(), '0');
      if (IsHexText(current) && SerialGreater(current, maximum)) {
        PrintError("Current serial number is greater than maximum serial number\n");
        return -1;
      }
    }
  }
  if (rs.markers.Get("SerialNumberIncrement") == kMalformed) {
    PrintError(" Invalid serial number increment or out of range\n");
    return -1;
  }
  // A serial number that -N will step must have digits the stepping can
  // count with; find out now, before any device is programmed.
  if (rs.CommandCode == kCmdWrite && rs.IncrementRequested && rs.SerialNumberIncrement > 0 &&
      rs.CurrentSerialNumber && !SerialCanStep(*rs.CurrentSerialNumber)) {
    PrintError(
        "Serial number %s cannot be increased: its last two characters must be hexadecimal "
        "digits (0-9, A-F)\n",
        rs.CurrentSerialNumber->c_str());
    return -1;
  }
  return 0;
}

}  // namespace

int LoadBinaryImage(RunSettings& rs) {
  if (rs.BinaryFileName) {
    if (rs.CommandCode == kCmdRead) return 0;
    if (rs.CommandCode == kCmdWrite && LoadIdentityFromImage(rs) != 0) return -1;
    return CheckIdentity(rs);
  }
  if (rs.IniFileName) {
    if (rs.CommandCode == kCmdWrite && rs.markers.Get("CurrentSerialNumber") == kMalformed) {
      PrintError(" Invalid current serial number\n");
      return -1;
    }
    if (CheckIdentity(rs) != 0) return -1;
    if (rs.CommandCode == kCmdWrite && rs.IncrementRequested) RecordIniWriteBackTexts(rs);
    return 0;
  }
  if (rs.CommandCode == kCmdWrite) {
    PrintError("Either ini file(-i) or binary file(-b) should be provided\n");
    return -1;
  }
  return 0;
}

bool IsValidMac(const MacAddress& mac) {
  if (mac[0] & 1) return false;
  for (uint8_t b : mac) {
    if (b != 0) return true;
  }
  return false;
}
