// What the two image layouts fix: where the descriptors stand and the
// values the image builder uses when the INI file gives none. The decoder
// reads an image back with these facts; every decode is proven against the
// library's own builder, so a fact that disagrees with it shows at once.
#pragma once

#include <cstdint>

#include "img/image.h"

namespace img {

struct LayoutFacts {
  Layout layout;
  bool super_speed;                // SuperSpeed descriptors, interval, power and test buses
  uint32_t config_flags0_default;  // configuration flags 0 without an override
  uint8_t flags0_byte2_base;       // base of byte 0x15 when SWModeSuspendNSelect is set
  uint32_t config_flags1_default;
  bool gen_clk125;                 // GenCLK125Enable drives bits 5 and 4 of byte 0x19
  uint32_t config_flags3_default;
  uint16_t hs_bcd_usb;
  int bos_length;
  int ss_device;  // byte offsets of the fixed descriptors (0 when absent)
  int ss_config;
  int hs_device;
  int hs_config;
  int string_start;
};

// The facts of a layout; null for Layout::kUnknown.
const LayoutFacts* FactsOf(Layout layout);

// Values shared by both layouts.
constexpr uint32_t kConfigFlags5Default = 0x4F008031u;
constexpr uint32_t kUsb2ExtAttributesDefault = 0x0000010Eu;
constexpr uint16_t kLanguageId = 0x0409;
constexpr int kBosOffset = 0x62;
constexpr uint16_t kSpeedsSupportedDefault = 0x000E;
constexpr uint8_t kFunctionalitySupportDefault = 1;
constexpr uint8_t kU1DevExitLatencyDefault = 10;
constexpr uint16_t kU2DevExitLatencyDefault = 1500;
constexpr uint16_t kSsConfigTotalLength = 0x0039;
constexpr uint16_t kHsConfigTotalLength = 0x0027;

// Descriptor slots (length byte, then word offset byte).
constexpr int kSlotManufacturer = 0x25;
constexpr int kSlotProduct = 0x27;
constexpr int kSlotSerial = 0x29;
constexpr int kSlotConfiguration = 0x2B;
constexpr int kSlotInterface = 0x2D;
constexpr int kSlotBos = 0x2F;
constexpr int kSlotSsDevice = 0x31;
constexpr int kSlotSsConfig = 0x33;
constexpr int kSlotHsDevice = 0x35;
constexpr int kSlotHsConfig = 0x37;
constexpr int kSlotDevice3 = 0x39;
constexpr int kSlotConfig3 = 0x3B;
constexpr int kSlotWakeFilter = 0x3D;
constexpr int kSlotLtmBelt = 0x3F;
constexpr int kSlotTestBus = 0x41;

constexpr int kWakeFilterBytes = 20;
constexpr int kLtmBeltBytes = 24;
constexpr int kTestBusBytes = 4;
constexpr int kDeviceDescriptorBytes = 18;
constexpr int kConfigPairBytes = 18;  // configuration and interface descriptors

// The five USB strings in layout order.
struct StringSlot {
  int slot;
  const char* key;         // INI key of the text
  const char* enable_key;  // INI key of its enable switch, null for the serial number
  int index;               // string index in the descriptors
};
extern const StringSlot kStringSlots[5];

// Checksum of the 128 wake-up filter pattern bytes, as the builder computes it.
uint16_t FilterCrc(const uint8_t* pattern);

}  // namespace img
