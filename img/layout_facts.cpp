#include "img/layout_facts.h"

#include "config/image_layout.h"

namespace img {

namespace {

constexpr LayoutFacts k5300{Layout::k5300, true,  0x07D18007u, 0xD1, 0x00016780u, true,
                            0x001E000Au,  0x0210, 22,          0x78, 0x8A,        0x9C,
                            0xAE,         192};
constexpr LayoutFacts k5350{Layout::k5350, false, 0x00118007u, 0x11, 0x00010080u, false,
                            0x0000000Au,  0x0201, 12,          0,    0,           0x6E,
                            0x80,         146};

}  // namespace

const StringSlot kStringSlots[5] = {
    {kSlotManufacturer, "ManufacturerString", "ManufacturerEnable", 1},
    {kSlotProduct, "ProductString", "ProductEnable", 2},
    {kSlotSerial, "CurrentSerialNumber", nullptr, 3},
    {kSlotConfiguration, "ConfigurationString", "ConfigurationEnable", 4},
    {kSlotInterface, "InterfaceString", "InterfaceEnable", 5},
};

const LayoutFacts* FactsOf(Layout layout) {
  switch (layout) {
    case Layout::k5300: return &k5300;
    case Layout::k5350: return &k5350;
    case Layout::kUnknown: break;
  }
  return nullptr;
}

uint16_t FilterCrc(const uint8_t* pattern) { return WakeFilterCrc16(pattern); }

}  // namespace img
