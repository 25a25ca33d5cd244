// Helpers shared by the image layout tests: golden hex fixtures and run
// settings for the typical images.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/run_settings.h"
#include "config/image_layout.h"

namespace image_test {

// Reads a fixture of lines "OFFSET: BYTES  # comment". The offset of every
// line must equal the number of bytes before it, so a fixture cannot drift.
inline std::vector<uint8_t> ReadHexFixture(const std::string& name) {
  const std::string path = std::string(ORN_SOURCE_DIR) + "/tests/config/image_golden/" + name;
  std::ifstream in(path);
  EXPECT_TRUE(in.good()) << "missing fixture " << path;
  std::vector<uint8_t> bytes;
  std::string line;
  while (std::getline(in, line)) {
    line = line.substr(0, line.find('#'));
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const unsigned long offset = std::stoul(line.substr(0, colon), nullptr, 16);
    EXPECT_EQ(offset, bytes.size()) << name << ": " << line;
    std::istringstream values(line.substr(colon + 1));
    std::string byte;
    while (values >> byte) bytes.push_back(static_cast<uint8_t>(std::stoul(byte, nullptr, 16)));
  }
  return bytes;
}

inline std::vector<uint8_t> Head(const ImageBuffer& image, int count) {
  return std::vector<uint8_t>(image.begin(), image.begin() + count);
}

// The ORN5300 settings of orn5300_no_strings.hex. Values that must not reach
// the image (not given, or not used by the layout) are set to noise.
inline RunSettings Typical5300() {
  RunSettings rs;
  rs.ChipIdValue = 0x53000000;
  rs.CurrentMacAddress = {0x00, 0x80, 0x0F, 0x53, 0x00, 0x01};
  rs.GPIOWake = 0x0102;
  rs.GPIOPMEEnable = 1;
  rs.GPIOPMELength = 1;
  rs.GPIOBufferType = 1;
  rs.PMEMagicPacketEnable = 1;
  rs.GPIOConnectBufferType = 1;
  rs.GPIOConnectPolarity = 1;
  rs.LED3Enable = 1;
  rs.LED1Enable = 1;
  rs.LED0Enable = 1;
  rs.LED1Function = 3;
  rs.LED0Function = 5;
  rs.LED3Function = 10;
  rs.LED2Function = 7;
  rs.GPIOWakePolarity = 0x0304;
  rs.FSPollInterval = 200;
  rs.HSPollInterval = 4;
  rs.SSPollInterval = 9;
  rs.RemoteWakeupEnable = 1;
  rs.SelfPower = 1;
  rs.SWModeSuspendNSelect = 2;
  rs.SWModePolarity = 1;
  rs.GenCLK125Enable = 1;
  rs.ConfigFlags2Override = 0x5A5A5A5A;  // not given
  rs.USB3PllTestBusIn = 0x1234;
  rs.USB3PllTestBusInGiven = 1;
  rs.USB2AFETestBusIn = 0x56;
  rs.USB2AFETestBusInGiven = 1;
  rs.GPIOData = 0x0005;
  rs.GPIODirection = 0x0030;
  rs.GPIOBuffer = 0x0F00;
  rs.GPIOEnable = 0x0FF3;
  rs.USB3AFETestBusIn0 = 0x11111111;  // not given
  rs.USB3AFETestBusIn1 = 0x89ABCDEF;
  rs.USB3AFETestBusIn1Given = 1;
  rs.LEDBehavior = 0x0C1F;
  rs.ConfigFlags4Override = 0x22222222;  // not given
  rs.VendorID = 0x1F7B;
  rs.ProductID = 0x5300;
  rs.BcdDevice = 0x0012;
  rs.SSMaxPower = 896;
  rs.HSMaxPower = 500;
  rs.FilterAddressType = 1;  // filter disabled: must not show
  rs.FilterMaskPatternBytes[0] = 0xFF;
  rs.LTMBELTIdle0 = 0x33333333;  // LTM BELT not given
  rs.CommonTestBusIn = 0x44444444;  // not given
  return rs;
}

// The ORN5350 settings of orn5350_typical.hex.
inline RunSettings Typical5350() {
  RunSettings rs;
  rs.ChipIdValue = 0x53500000;
  rs.CurrentMacAddress = {0x00, 0x80, 0x0F, 0x53, 0x50, 0x10};
  rs.GPIOWake = 0x0001;
  rs.GPIOPMEEnable = 1;
  rs.PMEMagicPacketEnable = 1;
  rs.GPIOConnectEnable = 1;
  rs.PMEWUFFEnable = 1;
  rs.LED3Enable = rs.LED2Enable = rs.LED1Enable = rs.LED0Enable = 1;
  rs.LED1Function = 1;
  rs.LED0Function = 2;
  rs.LED3Function = 0;
  rs.LED2Function = 15;
  rs.FSPollInterval = 1;
  rs.HSPollInterval = 16;
  rs.SWModeSuspendNSelect = 3;
  rs.GenCLK125Enable = 1;  // not applied in this layout
  rs.ConfigFlags2Override = 0xA1B2C3D4;
  rs.ConfigFlags2OverrideGiven = 1;
  rs.ManufacturerString = "Orion";
  rs.CurrentSerialNumber = "0A1B";
  rs.InterfaceString = std::string("I\xE9");
  rs.FilterPatternOffset = 14;
  rs.FilterAddressType = 2;
  rs.FilterMaskPatternBytes[1] = 0x11;
  rs.FilterMaskPatternBytes[3] = 0x22;
  rs.FilterMaskPatternBytes[9] = 0x33;
  rs.FilterMaskPatternBytes[127] = 0x44;
  rs.CommonTestBusIn = 0xCAFEF00D;
  rs.CommonTestBusInGiven = 1;
  rs.USB3PllTestBusIn = 0x1234;  // given, but this layout has no place for it
  rs.USB3PllTestBusInGiven = 1;
  rs.USB3AFETestBusIn0 = 0x55555555;
  rs.USB3AFETestBusIn0Given = 1;
  rs.GPIOBuffer = 0x0001;
  rs.GPIOEnable = 0x0001;
  rs.LEDBehavior = 0x8421;
  rs.ConfigFlags4Override = 1;
  rs.ConfigFlags4OverrideGiven = 1;
  rs.ConfigFlags5Override = 0x01020304;
  rs.ConfigFlags5OverrideGiven = 1;
  rs.USB2ExtAttributes = 0x1E;
  rs.USB2ExtAttributesGiven = 1;
  rs.SpeedsSupported = 0x7;  // no SuperSpeed capability in this layout
  rs.SpeedsSupportedGiven = 1;
  rs.VendorID = 0x1F7B;
  rs.ProductID = 0x5350;
  rs.BcdDevice = 0x0003;
  rs.HSMaxPower = 100;
  return rs;
}

}  // namespace image_test
