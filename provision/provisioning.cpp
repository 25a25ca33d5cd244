// MAC address and serial number provisioning: stepping the identity for the
// next device, patching it into an image, and storing it where it came from.
#include "provision/provisioning.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <vector>

#include "core/exit_codes.h"
#include "core/output.h"
#include "config/image_layout.h"
#include "platform/file_lock.h"
#include "platform/file_replace.h"
#include "config/image_slots.h"

namespace {

constexpr int kMaxIncrement = 255;
constexpr int kOtpBytes = 512;
constexpr int kOtpSecondFileOffset = 257;
constexpr int kOtpSecondImageBytes = 256;  // the second configuration fills OTP 256..511

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

char HexDigit(int value) { return "0123456789ABCDEF"[value & 15]; }

// Start of the string area of an image, by chip; -1 when the chip has no
// layout this system knows.
int StringAreaStart(uint32_t chip_id_value) {
  switch (chip_id_value >> 16) {
    case 0x5300:
    case 0x5301:
      return 192;
    case 0x5350:
      return 146;
    default:
      return -1;
  }
}

bool Overlaps(int a_begin, int a_end, int b_begin, int b_end) {
  return a_begin < b_end && b_begin < a_end;
}

// An optional block that follows the strings, with its bytes.
struct OptionalBlock {
  int slot;
  SlotSpan span;
  std::vector<uint8_t> bytes;
};

const char* BlockName(int slot) {
  switch (slot) {
    case slots::kWakeFilter:
      return "wake-up filter block";
    case slots::kLtmBelt:
      return "LTM BELT block";
    default:
      return "test bus block";
  }
}

// Rebuilds the string area with a serial number of another length, moving
// the optional blocks behind the new strings when the strings would run
// into them. Works on a copy: the image changes only on success.
int RebuildStringArea(RunSettings& rs, ImageBuffer& image, const std::string& serial,
                      int eeprom_size) {
  const int start = StringAreaStart(rs.ChipIdValue);
  if (start < 0) {
    if ((rs.ChipIdValue >> 16) == 0x530A) {
      PrintError("The serial number of an ORN530A image cannot change its length\n");
    } else {
      PrintError("The serial number of an image for chip 0x%04X cannot change its length\n",
                 rs.ChipIdValue >> 16);
    }
    return 1;
  }
  const int byte_count = std::clamp(rs.ImageByteCount, 0, kImageBufferSize);
  const int bias = ImageBias(image);
  int limit = std::clamp(eeprom_size, 0, kOtpBytes);
  if (image[0] == kOtpSecondSignature) limit = std::min(limit, kOtpSecondImageBytes);

  RunSettings scratch;
  scratch.EepromSize = limit;
  const int extracted = ExtractImageStrings(image, scratch, byte_count);
  if (extracted == 2) {
    PrintWarning("No enough memory");
    return 2;
  }
  if (extracted != 0) return 1;
  scratch.CurrentSerialNumber = serial;

  std::vector<OptionalBlock> blocks;
  for (int slot : {slots::kWakeFilter, slots::kLtmBelt, slots::kTestBus}) {
    const SlotSpan span = LocateSlot(image, slot, byte_count, false);
    if (span.state == SlotState::kAbsent) continue;
    if (span.state != SlotState::kValid) {
      ReportBadSlot(BlockName(slot), image, slot, span, byte_count);
      return 1;
    }
    blocks.push_back({slot, span,
                      std::vector<uint8_t>(image.begin() + span.offset,
                                           image.begin() + span.offset + span.length)});
  }

  ImageBuffer work = image;
  if (LayoutStrings(scratch, work, start) != 0) return 1;
  const int strings_end = scratch.ImageByteCount;

  // The fixed descriptors must stay out of the new string area.
  for (int slot = slots::kFirstFixed; slot <= slots::kLastFixed; slot += 2) {
    const SlotSpan span = LocateSlot(image, slot, byte_count, false);
    if (span.state == SlotState::kValid &&
        Overlaps(span.offset, span.offset + span.length, start, strings_end)) {
      PrintError("The new strings would overwrite the descriptor at image offset %d\n", span.offset);
      return 1;
    }
  }

  int end = strings_end;
  const bool collide = std::any_of(blocks.begin(), blocks.end(), [&](const OptionalBlock& b) {
    return Overlaps(b.span.offset, b.span.offset + b.span.length, start, strings_end);
  });
  if (collide) {
    int pos = strings_end;
    for (const OptionalBlock& block : blocks) {
      pos = (pos + 1) & ~1;  // slots address whole words
      if (pos + block.span.length > limit) {
        PrintError("Eeprom content (%d bytes) is larger than the actual size (%d bytes) of the EEPROM\n",
                   pos + block.span.length, limit);
        return 1;
      }
      std::copy(block.bytes.begin(), block.bytes.end(), work.begin() + pos);
      work[block.slot + 1] = static_cast<uint8_t>(bias + pos / 2);
      pos += block.span.length;
    }
    end = pos;
  }

  image = work;
  rs.ImageByteCount = std::max(rs.ImageByteCount, end);
  return 0;
}

// Stores the stepped image in the binary file it came from, in the form the
// loader reads: a second OTP configuration keeps its bytes from offset 257.
bool WriteSteppedImageFile(const RunSettings& rs, const ImageBuffer& image) {
  std::vector<uint8_t> file;
  if (rs.OtpMode && image[0] == kOtpSecondSignature) {
    file.assign(kOtpBytes, 0);
    file[0] = image[0];
    std::copy(image.begin() + 1, image.begin() + kOtpSecondImageBytes,
              file.begin() + kOtpSecondFileOffset);
  } else {
    const int size = std::clamp(rs.EepromSize, 0, kImageBufferSize);
    file.assign(image.begin(), image.begin() + size);
  }
  const std::string& path = rs.IdentityFilePath ? *rs.IdentityFilePath : *rs.BinaryFileName;
  uint32_t error = 0;
  if (platform::ReplaceFileContents(path, file.data(), file.size(), &error)) return true;
  PrintError("The binary file %s could not be rewritten (error %u); it still holds the previous image\n",
             rs.BinaryFileName->c_str(), static_cast<unsigned>(error));
  return false;
}

}  // namespace

bool IncrementMac(MacAddress& mac, int increment) {
  if (increment > kMaxIncrement) {
    PrintError("Mac address increment cannot exceed %d\n", kMaxIncrement);
    return false;
  }
  if (increment <= 0) return false;
  const int sum = mac[5] + increment;
  mac[5] = static_cast<uint8_t>(sum);
  if (sum < 256) return false;
  for (int i = 4; i >= 0; --i) {
    if (++mac[i] != 0) return false;
  }
  return true;
}

bool SerialCanStep(const std::string& serial) {
  const size_t n = serial.size();
  if (n == 0) return true;
  if (n == 1) return HexDigitValue(serial[0]) >= 0;
  return HexDigitValue(serial[n - 2]) >= 0 && HexDigitValue(serial[n - 1]) >= 0;
}

bool IncrementSerial(std::string& serial, int increment) {
  if (increment > kMaxIncrement) {
    PrintError("Serial number increment cannot exceed %d\n", kMaxIncrement);
    return false;
  }
  if (increment <= 0 || serial.empty()) return false;
  // Characters without a digit value cannot be counted with: report it as
  // an overflow so that nothing is programmed or stored with them.
  if (!SerialCanStep(serial)) return true;
  for (char& c : serial) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  }

  const size_t n = serial.size();
  if (n == 1) {
    const int v = HexDigitValue(serial[0]) + increment;
    serial[0] = HexDigit(v);
    return v > 15;
  }
  const int v = HexDigitValue(serial[n - 2]) * 16 + HexDigitValue(serial[n - 1]);
  const int w = (v + increment) & 0xFF;
  serial[n - 2] = HexDigit(w >> 4);
  serial[n - 1] = HexDigit(w);
  if (v + increment <= 0xFF) return false;
  for (size_t i = n - 2; i-- > 0;) {
    char& c = serial[i];
    if (c == '9') {
      c = 'A';
      return false;
    }
    if (c == 'F') {
      c = '0';
      continue;
    }
    ++c;
    return false;
  }
  return true;
}

bool IncrementIdentity(RunSettings& rs) {
  if (rs.MacAddressIncrement == 0 && rs.SerialNumberIncrement == 0) return false;
  bool result = true;
  if (rs.MacAddressIncrement != 0) {
    if (IncrementMac(rs.CurrentMacAddress, rs.MacAddressIncrement)) {
      std::printf("MAC address overflow\n");
      return false;
    }
    if (rs.CurrentMacAddress > rs.MaximumMacAddress) {
      std::printf("Reach maximum MAC address\n");
      result = false;
    }
  }
  if (rs.SerialNumberIncrement != 0 && rs.CurrentSerialNumber) {
    if (IncrementSerial(*rs.CurrentSerialNumber, rs.SerialNumberIncrement)) {
      std::printf("Serial number overflow\n");
      return false;
    }
    if (rs.MaximumSerialNumber && SerialGreater(*rs.CurrentSerialNumber, *rs.MaximumSerialNumber)) {
      std::printf("Reach maximum serial number\n");
      result = false;
    }
  }
  return result;
}

bool StepIdentity(const RunSettings& rs, IdentityStep& step) {
  step = IdentityStep{};
  step.mac = rs.CurrentMacAddress;
  step.serial = rs.CurrentSerialNumber;
  if (rs.MacAddressIncrement == 0 && rs.SerialNumberIncrement == 0) {
    step.failure = IdentityStep::kNothingToStep;
    return false;
  }
  if (rs.MacAddressIncrement != 0) {
    if (IncrementMac(step.mac, rs.MacAddressIncrement)) {
      step.failure = IdentityStep::kMacOverflow;
      return false;
    }
    if (step.mac > rs.MaximumMacAddress) {
      step.failure = IdentityStep::kMacAboveMaximum;
      return false;
    }
  }
  if (rs.SerialNumberIncrement != 0 && step.serial) {
    if (IncrementSerial(*step.serial, rs.SerialNumberIncrement)) {
      step.failure = IdentityStep::kSerialOverflow;
      return false;
    }
    if (rs.MaximumSerialNumber && SerialGreater(*step.serial, *rs.MaximumSerialNumber)) {
      step.failure = IdentityStep::kSerialAboveMaximum;
      return false;
    }
  }
  return true;
}

bool SerialGreater(const std::string& a, const std::string& b) {
  auto upper = [](std::string text) {
    for (char& c : text) {
      if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
  };
  return upper(a) > upper(b);
}

int ExtractImageStrings(const ImageBuffer& image, RunSettings& scratch, int byte_count) {
  struct StringSlot {
    int slot;
    OptText RunSettings::*field;
    const char* name;
  };
  static constexpr StringSlot kSlots[] = {
      {slots::kManufacturer, &RunSettings::ManufacturerString, "manufacturer string"},
      {slots::kProduct, &RunSettings::ProductString, "product string"},
      {slots::kSerial, &RunSettings::CurrentSerialNumber, "serial number string"},
      {slots::kConfiguration, &RunSettings::ConfigurationString, "configuration string"},
      {slots::kInterface, &RunSettings::InterfaceString, "interface string"},
  };
  try {
    for (const StringSlot& s : kSlots) {
      OptText& field = scratch.*(s.field);
      const SlotSpan span = LocateSlot(image, s.slot, byte_count, true);
      if (span.state == SlotState::kAbsent) {
        field.reset();
        continue;
      }
      if (span.state != SlotState::kValid) {
        ReportBadSlot(s.name, image, s.slot, span, byte_count);
        return -1;
      }
      std::string text;
      for (int i = 0; i < StringCharCount(image[s.slot]); ++i) {
        text.push_back(static_cast<char>(image[span.offset + 2 + 2 * i]));
      }
      field = std::move(text);
    }
  } catch (const std::bad_alloc&) {
    return 2;
  }
  return 0;
}

int PatchImageIdentity(RunSettings& rs, ImageBuffer& image, const MacAddress& mac,
                       const OptText& serial, int eeprom_size) {
  std::copy(mac.begin(), mac.end(), image.begin() + 1);
  if (!serial) {
    image[slots::kSerial] = 0;
    image[slots::kSerial + 1] = 0;
    return 0;
  }
  const int chars = static_cast<int>(serial->size());
  if (StringCharCount(image[slots::kSerial]) == chars) {
    const int byte_count = std::clamp(rs.ImageByteCount, 0, kImageBufferSize);
    const SlotSpan span = LocateSlot(image, slots::kSerial, byte_count, true);
    if (span.state != SlotState::kValid) {
      ReportBadSlot("serial number string", image, slots::kSerial, span, byte_count);
      return 1;
    }
    for (int i = 0; i < chars; ++i) {
      const auto c = static_cast<uint8_t>((*serial)[i]);
      image[span.offset + 2 + 2 * i] = c;
      image[span.offset + 3 + 2 * i] = (c & 0x80) ? 0xFF : 0x00;
    }
    return 0;
  }
  try {
    return RebuildStringArea(rs, image, *serial, eeprom_size);
  } catch (const std::bad_alloc&) {
    PrintWarning("No enough memory");
    return 2;
  }
}

int RunSteppingStage(RunSettings& rs, ImageBuffer& image) {
  if (!rs.IncrementRequested) return kExitSuccess;
  // What the files hold now; restored on failure so that memory and files
  // keep telling the same identity.
  const MacAddress old_mac = rs.CurrentMacAddress;
  const OptText old_serial = rs.CurrentSerialNumber;
  auto fail = [&]() {
    rs.CurrentMacAddress = old_mac;
    rs.CurrentSerialNumber = old_serial;
    return kExitIdentity;
  };

  if (!IncrementIdentity(rs)) {
    PrintError("Couldn't increase any Mac or serial number.\n");
    return fail();
  }
  if (PatchImageIdentity(rs, image, rs.CurrentMacAddress, rs.CurrentSerialNumber, rs.EepromSize) != 0) {
    PrintError("Modified EEPROM image failed.\n");
    return fail();
  }
  // A file replaced or removed while this run held its lock was changed by
  // something else meanwhile: it is not this run's to overwrite.
  const bool still_named = !rs.IdentityLock || rs.IdentityLock->StillNamed();
  if (!still_named) {
    PrintError("The %s %s was replaced or removed while this run held it; the next identity is not stored\n",
               rs.BinaryFileName ? "binary file" : "ini file",
               (rs.BinaryFileName ? *rs.BinaryFileName : rs.IniFileName.value_or("")).c_str());
  }
  if (rs.BinaryFileName) {
    if (!still_named || !WriteSteppedImageFile(rs, image)) {
      PrintError("Couldn't create file %s\n", rs.BinaryFileName->c_str());
      return fail();
    }
  } else if (rs.IniFileName) {
    if (!still_named || WriteBackIni(*rs.IniFileName, rs) != 0) {
      PrintError("Failed to update ini file\n");
      return fail();
    }
    std::printf("Updated ini file\n");
  }
  return kExitSuccess;
}
