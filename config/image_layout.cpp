// The two image layouts: the ORN5300 layout (models ORN5300 and ORN5301,
// SuperSpeed and high-speed descriptors) and the ORN5350 layout (high-speed
// only). Both share the header, the slot scheme, the string area and the
// optional blocks; a LayoutModel row holds what differs.
#include "config/image_layout.h"

#include <cstddef>

#include "core/output.h"

namespace {

constexpr int kMaxSsPollInterval = 16;
constexpr int kMinSsMaxPower = 8;
constexpr int kMaxSsMaxPower = 896;

struct LayoutModel {
  bool super_speed;                // SuperSpeed descriptors, interval, power and test buses
  uint32_t config_flags0_default;  // used when ConfigFlags0Override is not given
  uint8_t flags0_byte2_base;       // base of byte 0x15 when SWModeSuspendNSelect is set
  uint32_t config_flags1_default;
  bool apply_gen_clk125;           // GenCLK125Enable drives bits 5 and 4 of byte 0x19
  uint32_t config_flags3_default;
  uint16_t hs_bcd_usb;
  int string_start;
};

constexpr LayoutModel kLayout5300{true,       0x07D18007u, 0xD1, 0x00016780u, true,
                                  0x001E000Au, 0x0210,      kStringStart5300};
constexpr LayoutModel kLayout5350{false,      0x00118007u, 0x11, 0x00010080u, false,
                                  0x0000000Au, 0x0201,      kStringStart5350};

constexpr uint32_t kConfigFlags5Default = 0x4F008031u;
constexpr uint32_t kUsb2ExtAttributesDefault = 0x0000010Eu;

constexpr int kBosOffset = 0x62;
constexpr int kDeviceDescriptorLength = 18;
constexpr int kConfigDescriptorLength = 9;
constexpr int kInterfaceDescriptorLength = 9;

void Put16(ImageBuffer& image, int at, uint32_t value) {
  image[static_cast<size_t>(at)] = static_cast<uint8_t>(value);
  image[static_cast<size_t>(at + 1)] = static_cast<uint8_t>(value >> 8);
}

void Put32(ImageBuffer& image, int at, uint32_t value) {
  Put16(image, at, value);
  Put16(image, at + 2, value >> 16);
}

uint32_t GivenOr(int32_t given, uint32_t value, uint32_t fallback) {
  return given ? value : fallback;
}

// A slot names an item by its length and its word offset; the word offset
// byte carries the bias of an 0xF7 image.
void SetSlot(ImageBuffer& image, int slot, int length, int byte_offset, int bias) {
  image[static_cast<size_t>(slot)] = static_cast<uint8_t>(length);
  image[static_cast<size_t>(slot + 1)] = static_cast<uint8_t>(bias + byte_offset / 2);
}

uint8_t Bit(int32_t flag, int bit) { return flag ? static_cast<uint8_t>(1u << bit) : 0; }

// Bytes 0x01 to 0x11: MAC address, wake and PME switches, LEDs, GPIO wake
// polarity, full- and high-speed polling intervals.
void PutHeader(const RunSettings& rs, ImageBuffer& image) {
  for (size_t i = 0; i < rs.CurrentMacAddress.size(); ++i) image[1 + i] = rs.CurrentMacAddress[i];
  Put16(image, 0x07, rs.GPIOWake);
  image[0x09] = Bit(rs.GPIOPMEEnable, 7) | Bit(rs.GPIOPMEConfiguration, 6) |
                Bit(rs.GPIOPMELength, 5) | Bit(rs.GPIOPMEPolarity, 4) | Bit(rs.GPIOBufferType, 3) |
                Bit(rs.GPIOPMEWOLSelect, 2) | Bit(rs.PMEMagicPacketEnable, 1) |
                Bit(rs.PMEPerfectDAEnable, 0);
  image[0x0A] = Bit(rs.GPIOConnectBufferType, 6) | Bit(rs.GPIOConnectEnable, 5) |
                Bit(rs.GPIOConnectPolarity, 4) | Bit(rs.PMEWUFFEnable, 0);
  image[0x0B] = Bit(rs.LED3Enable, 3) | Bit(rs.LED2Enable, 2) | Bit(rs.LED1Enable, 1) |
                Bit(rs.LED0Enable, 0);
  image[0x0C] = static_cast<uint8_t>(((rs.LED1Function & 0xF) << 4) | (rs.LED0Function & 0xF));
  image[0x0D] = static_cast<uint8_t>(((rs.LED3Function & 0xF) << 4) | (rs.LED2Function & 0xF));
  Put16(image, 0x0E, rs.GPIOWakePolarity);
  image[0x10] = static_cast<uint8_t>(rs.FSPollInterval);
  image[0x11] = static_cast<uint8_t>(rs.HSPollInterval);
}

int PutSsPollInterval(const RunSettings& rs, const LayoutModel& model, ImageBuffer& image) {
  if (!model.super_speed) {
    if (rs.SSPollInterval != 0) {
      PrintError(
          "Super speed parameter SSPollInterval specified, probably the wrong ini file for the "
          "device\n");
      return -1;
    }
    image[0x12] = 0;
    return 0;
  }
  if (rs.SSPollInterval == 0) {
    PrintError("Super speed interrupt polling interval cannot be 0.\n");
    return -1;
  }
  if (rs.SSPollInterval > kMaxSsPollInterval) {
    PrintError("Super speed interrupt polling interval cannot exceed %d.\n", kMaxSsPollInterval);
    return -1;
  }
  image[0x12] = static_cast<uint8_t>(rs.SSPollInterval);
  return 0;
}

// Configuration flags 0 to 3 (0x13 to 0x22) and the string language ID.
void PutConfigFlags(const RunSettings& rs, const LayoutModel& model, ImageBuffer& image) {
  if (rs.ConfigFlags0OverrideGiven) {
    Put32(image, 0x13, rs.ConfigFlags0Override);
  } else {
    Put32(image, 0x13, model.config_flags0_default);
    image[0x13] = rs.RemoteWakeupEnable ? 0x07 : 0x05;
    if (rs.SelfPower) {
      image[0x13] |= 0x01;
    } else {
      image[0x13] &= static_cast<uint8_t>(~0x01);
    }
    if (rs.SWModeSuspendNSelect) {
      image[0x15] =
          static_cast<uint8_t>(model.flags0_byte2_base | ((rs.SWModeSuspendNSelect & 3) << 2));
    }
    if (rs.SWModePolarity) image[0x15] |= static_cast<uint8_t>((rs.SWModePolarity & 1) << 1);
  }

  Put32(image, 0x17,
        GivenOr(rs.ConfigFlags1OverrideGiven, rs.ConfigFlags1Override, model.config_flags1_default));
  if (model.apply_gen_clk125) {
    // Applies over an override too: the clock output follows its own key.
    if (rs.GenCLK125Enable) {
      image[0x19] |= 0x30;
    } else {
      image[0x19] &= static_cast<uint8_t>(~0x30);
    }
  }
  Put32(image, 0x1B, GivenOr(rs.ConfigFlags2OverrideGiven, rs.ConfigFlags2Override, 0));
  Put32(image, 0x1F,
        GivenOr(rs.ConfigFlags3OverrideGiven, rs.ConfigFlags3Override, model.config_flags3_default));
  Put16(image, 0x23, 0x0409);
}

// USB 2.0 extension attributes: LPM (bits 1 and 2) follows the LPM bit of
// configuration flags 0 as placed in the image.
uint32_t Usb2ExtAttributes(const RunSettings& rs, const ImageBuffer& image) {
  uint32_t attributes =
      GivenOr(rs.USB2ExtAttributesGiven, rs.USB2ExtAttributes, kUsb2ExtAttributesDefault);
  if (image[0x13] & 0x04) {
    attributes |= 0x06;
  } else {
    attributes &= ~0x06u;
  }
  return attributes;
}

// BOS descriptor at 0x62: the USB 2.0 extension, and in the ORN5300 layout
// the SuperSpeed device capability. Returns the offset after it.
int PutBos(const RunSettings& rs, const LayoutModel& model, ImageBuffer& image) {
  const int total = model.super_speed ? 22 : 12;
  int at = kBosOffset;
  image[at] = 5;
  image[at + 1] = 0x0F;
  Put16(image, at + 2, static_cast<uint32_t>(total));
  image[at + 4] = model.super_speed ? 2 : 1;
  at += 5;

  image[at] = 7;
  image[at + 1] = 0x10;
  image[at + 2] = 0x02;
  Put32(image, at + 3, Usb2ExtAttributes(rs, image));
  at += 7;

  if (model.super_speed) {
    image[at] = 10;
    image[at + 1] = 0x10;
    image[at + 2] = 0x03;
    image[at + 3] = (image[0x15] & 0x40) ? 0x02 : 0x00;
    Put16(image, at + 4, GivenOr(rs.SpeedsSupportedGiven, rs.SpeedsSupported & 0x0F, 0x000E));
    image[at + 6] = static_cast<uint8_t>(
        GivenOr(rs.FunctionalitySupportGiven, rs.FunctionalitySupport & 0x0F, 1));
    image[at + 7] =
        static_cast<uint8_t>(GivenOr(rs.U1DevExitLatencyGiven, rs.U1DevExitLatency & 0x0F, 10));
    Put16(image, at + 8, GivenOr(rs.U2DevExitLatencyGiven, rs.U2DevExitLatency & 0x0FFF, 1500));
    at += 10;
  }
  return at;
}

void PutDeviceDescriptor(const RunSettings& rs, ImageBuffer& image, int at, uint16_t bcd_usb,
                         uint8_t max_packet) {
  image[at] = kDeviceDescriptorLength;
  image[at + 1] = 0x01;
  Put16(image, at + 2, bcd_usb);
  image[at + 4] = 0xFF;
  image[at + 5] = 0x00;
  image[at + 6] = 0xFF;
  image[at + 7] = max_packet;
  Put16(image, at + 8, rs.VendorID);
  Put16(image, at + 10, rs.ProductID);
  Put16(image, at + 12, static_cast<uint32_t>(rs.BcdDevice) << 8);
  image[at + 14] = rs.ManufacturerString ? 1 : 0;
  image[at + 15] = rs.ProductString ? 2 : 0;
  image[at + 16] = 3;
  image[at + 17] = 1;
}

// Configuration descriptor followed by the interface descriptor.
void PutConfiguration(const RunSettings& rs, ImageBuffer& image, int at, uint16_t total_length,
                      uint8_t max_power) {
  image[at] = kConfigDescriptorLength;
  image[at + 1] = 0x02;
  Put16(image, at + 2, total_length);
  image[at + 4] = 1;
  image[at + 5] = 1;
  image[at + 6] = rs.ConfigurationString ? 4 : 0;
  image[at + 7] = static_cast<uint8_t>(0x80 | (rs.RemoteWakeupEnable ? 0x20 : 0) |
                                       (rs.SelfPower ? 0x40 : 0));
  image[at + 8] = max_power;

  at += kConfigDescriptorLength;
  const uint8_t interface[] = {kInterfaceDescriptorLength, 0x04, 0x00, 0x00, 0x03, 0xFF, 0x00, 0xFF};
  for (size_t i = 0; i < sizeof interface; ++i) image[at + i] = interface[i];
  image[at + 8] = rs.InterfaceString ? 5 : 0;
}

// The fixed descriptors after the BOS and their slots.
void PutDescriptors(const RunSettings& rs, const LayoutModel& model, ImageBuffer& image, int at,
                    int bias) {
  const int pair_length = kConfigDescriptorLength + kInterfaceDescriptorLength;
  SetSlot(image, kSlotBos, at - kBosOffset, kBosOffset, bias);
  if (model.super_speed) {
    PutDeviceDescriptor(rs, image, at, 0x0310, 0x09);
    SetSlot(image, kSlotSsDevice, kDeviceDescriptorLength, at, bias);
    at += kDeviceDescriptorLength;
    PutConfiguration(rs, image, at, 0x0039, static_cast<uint8_t>(rs.SSMaxPower / 8));
    SetSlot(image, kSlotSsConfiguration, pair_length, at, bias);
    at += pair_length;
  } else {
    SetSlot(image, kSlotSsDevice, 0, 0, 0);
    SetSlot(image, kSlotSsConfiguration, 0, 0, 0);
  }
  PutDeviceDescriptor(rs, image, at, model.hs_bcd_usb, 0x40);
  SetSlot(image, kSlotHsDevice, kDeviceDescriptorLength, at, bias);
  SetSlot(image, kSlotDevice3, kDeviceDescriptorLength, at, bias);
  at += kDeviceDescriptorLength;
  PutConfiguration(rs, image, at, 0x0027, static_cast<uint8_t>(rs.HSMaxPower / 2));
  SetSlot(image, kSlotHsConfiguration, pair_length, at, bias);
  SetSlot(image, kSlotConfiguration3, pair_length, at, bias);
}

int CheckSsMaxPower(const RunSettings& rs, const LayoutModel& model) {
  if (rs.SSMaxPower == 0) return 0;
  if (!model.super_speed) {
    PrintError(
        "Super speed parameter SSMaxPower specified, probably wrong ini file used for this "
        "device\n");
    return -1;
  }
  if (rs.SSMaxPower < kMinSsMaxPower) {
    PrintError("SSMaxPower cannot be less than %dmA\n", kMinSsMaxPower);
    return -1;
  }
  if (rs.SSMaxPower > kMaxSsMaxPower) {
    PrintError("SSMaxPower exceed %dmA\n", kMaxSsMaxPower);
    return -1;
  }
  return 0;
}

// Bytes 0x43 to 0x61: test buses, GPIO words, LED behaviour, flags 4 and 5.
void PutGpioAndTestBus(const RunSettings& rs, const LayoutModel& model, ImageBuffer& image) {
  if (model.super_speed) {
    Put16(image, 0x43, GivenOr(rs.USB3PllTestBusInGiven, rs.USB3PllTestBusIn, 0));
    Put32(image, 0x50, GivenOr(rs.USB3AFETestBusIn0Given, rs.USB3AFETestBusIn0, 0));
    Put32(image, 0x54, GivenOr(rs.USB3AFETestBusIn1Given, rs.USB3AFETestBusIn1, 0));
  } else {
    Put16(image, 0x43, 0);
    Put32(image, 0x50, 0);
    Put32(image, 0x54, 0);
  }
  image[0x45] = static_cast<uint8_t>(GivenOr(rs.USB2AFETestBusInGiven, rs.USB2AFETestBusIn, 0));
  Put16(image, 0x46, 0);
  Put16(image, 0x48, rs.GPIOData);
  Put16(image, 0x4A, rs.GPIODirection);
  Put16(image, 0x4C, rs.GPIOBuffer);
  Put16(image, 0x4E, static_cast<uint16_t>(~rs.GPIOEnable));
  Put16(image, 0x58, rs.LEDBehavior);
  Put32(image, 0x5A, GivenOr(rs.ConfigFlags4OverrideGiven, rs.ConfigFlags4Override, 0));
  Put32(image, 0x5E, GivenOr(rs.ConfigFlags5OverrideGiven, rs.ConfigFlags5Override,
                             kConfigFlags5Default));
}

// Appends one optional block at the current end of the image, after the
// size check against the EEPROM.
template <typename Fill>
int AppendBlock(RunSettings& rs, ImageBuffer& image, int slot, int size, int bias, Fill fill) {
  const int at = rs.ImageByteCount;
  if (at + size > rs.EepromSize || at + size > kImageBufferSize) {
    PrintError("Eeprom content (%d bytes) is larger than the actual size (%d bytes) of the EEPROM\n",
               at + size, rs.EepromSize);
    PrintError("Probably you can reduce the strings sizes and try.\n");
    return -1;
  }
  SetSlot(image, slot, size, at, bias);
  fill(at);
  rs.ImageByteCount = at + size;
  return 0;
}

int AppendOptionalBlocks(RunSettings& rs, ImageBuffer& image, int bias) {
  if (rs.PMEWUFFEnable) {
    const int rc = AppendBlock(rs, image, kSlotWakeFilter, 20, bias, [&](int at) {
      const uint8_t* pattern = rs.FilterMaskPatternBytes.data();
      Put16(image, at, WakeFilterCrc16(pattern));
      image[at + 2] = static_cast<uint8_t>(rs.FilterPatternOffset);
      image[at + 3] = static_cast<uint8_t>(0x80 | (rs.FilterAddressType & 3));
      for (int i = 0; i < 128; ++i) {
        if (pattern[i] != 0) image[at + 4 + i / 8] |= static_cast<uint8_t>(1u << (i % 8));
      }
    });
    if (rc != 0) return rc;
  }
  if (rs.LTMBELTGiven) {
    const int rc = AppendBlock(rs, image, kSlotLtmBelt, 24, bias, [&](int at) {
      const uint32_t words[] = {rs.LTMBELTIdle0,   rs.LTMBELTIdle1,     rs.LTMBELTActive0,
                                rs.LTMBELTActive1, rs.LTMBELTInActive0, rs.LTMBELTInActive1};
      for (uint32_t word : words) {
        Put32(image, at, word);
        at += 4;
      }
    });
    if (rc != 0) return rc;
  }
  if (rs.CommonTestBusInGiven) {
    const int rc = AppendBlock(rs, image, kSlotCommonTestBus, 4, bias,
                               [&](int at) { Put32(image, at, rs.CommonTestBusIn); });
    if (rc != 0) return rc;
  }
  return 0;
}

int BuildImage(RunSettings& rs, ImageBuffer& image, int mode, const LayoutModel& model) {
  int bias = 0;
  if (mode == kImageModeEeprom) {
    image[0] = kSignatureEeprom;
  } else if (mode == kImageModeOtp) {
    image[0] = static_cast<uint8_t>(rs.OtpSignature);
    bias = image[0] == kSignatureOtpFirst ? 0 : 128;
  } else {
    PrintError("Invalid image mode %d\n", mode);
    return -1;
  }

  PutHeader(rs, image);
  if (PutSsPollInterval(rs, model, image) != 0) return -1;
  PutConfigFlags(rs, model, image);
  const int after_bos = PutBos(rs, model, image);
  PutDescriptors(rs, model, image, after_bos, bias);
  if (CheckSsMaxPower(rs, model) != 0) return -1;

  for (int slot : {kSlotWakeFilter, kSlotLtmBelt, kSlotCommonTestBus}) SetSlot(image, slot, 0, 0, 0);
  PutGpioAndTestBus(rs, model, image);

  if (LayoutStrings(rs, image, model.string_start) != 0) return -1;
  return AppendOptionalBlocks(rs, image, bias);
}

}  // namespace

int BuildImage5300(RunSettings& rs, ImageBuffer& image, int mode) {
  return BuildImage(rs, image, mode, kLayout5300);
}

int BuildImage5350(RunSettings& rs, ImageBuffer& image, int mode) {
  return BuildImage(rs, image, mode, kLayout5350);
}

int GenerateImage(RunSettings& rs, ImageBuffer& image, int mode) {
  switch (rs.ChipIdValue >> 16) {
    case 0x5300:
    case 0x5301:
      return BuildImage5300(rs, image, mode);
    case 0x5350:
      return BuildImage5350(rs, image, mode);
    default:
      PrintError("Invalid chip\n");
      return -1;
  }
}
