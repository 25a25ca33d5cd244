// Helpers of the INI tests: read a text as an INI file and capture what the
// reader prints; a complete, valid configuration to start from.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "core/run_settings.h"
#include "config/ini_reader.h"
#include "support/capture.h"
#include "support/tool_runner.h"

namespace initest {

struct IniRead {
  int result = 0;
  std::string out;
  RunSettings rs;
};

// Writes `text` to a temporary file and reads it with ReadIniFile into a
// fresh record (after `prepare`, which may set command-line fields).
inline IniRead ReadText(const std::string& text,
                        const std::function<void(RunSettings&)>& prepare = {}) {
  test::TempDir dir;
  const std::string path = dir.File("config.ini");
  test::WriteFile(path, text);
  IniRead read;
  if (prepare) prepare(read.rs);
  read.out = test::CaptureStdout([&] { read.result = ReadIniFile(path.c_str(), read.rs); });
  return read;
}

// Every required section, every key with a value other than its default.
inline const std::string& ValidIni() {
  static const std::string text =
      "# Production configuration of one board\n"
      "[MacAddress]\n"
      "CurrentMacAddress=00:11:22:33:44:55\n"
      "MaximumMacAddress=00:11:22:33:FF:FF\n"
      "MacAddressIncrement=2\n"
      "\n"
      "[SerialNumber]\n"
      "CurrentSerialNumber=0000000000000001\n"
      "MaximumSerialNumber=00000000000000FF\n"
      "SerialNumberIncrement=3\n"
      "\n"
      "[String]\n"
      "ManufacturerString=Orion Networks\n"
      "ProductString=ORN5300 USB 3.0 Gigabit Ethernet\n"
      "ConfigurationString=Default\n"
      "InterfaceString=Ethernet\n"
      "ManufacturerEnable=1\n"
      "ProductEnable=1\n"
      "ConfigurationEnable=0\n"
      "InterfaceEnable=1\n"
      "\n"
      "[ID]\n"
      "VendorID=0x1F7C\n"
      "ProductID=0x5301\n"
      "BcdDevice=0120\n"
      "\n"
      "[Power]\n"
      "SSMaxPower=896\n"
      "HSMaxPower=498\n"
      "\n"
      "[GPIOPME0]\n"
      "GPIOPMEEnable=1\n"
      "GPIOPMEConfiguration=0\n"
      "GPIOPMELength=1\n"
      "GPIOPMEPolarity=0\n"
      "GPIOBufferType=1\n"
      "GPIOPMEWOLSelect=1\n"
      "PMEMagicPacketEnable=1\n"
      "PMEPerfectDAEnable=1\n"
      "\n"
      "[GPIOPME1]\n"
      "GPIOConnectBufferType=1\n"
      "GPIOConnectEnable=0\n"
      "GPIOConnectPolarity=1\n"
      "PMEWUFFEnable=1\n"
      "\n"
      "[LEDConfig0]\n"
      "LED3Enable=0\n"
      "LED2Enable=1\n"
      "LED1Enable=1\n"
      "LED0Enable=1\n"
      "\n"
      "[LEDConfig1]\n"
      "LED1Function=10\n"
      "LED0Function=3\n"
      "\n"
      "[LEDConfig2]\n"
      "LED3Function=15\n"
      "LED2Function=7\n"
      "\n"
      "[LEDBehaviorConfig]\n"
      "LEDBehavior=0xA5C3\n"
      "\n"
      "[GPIOConfig]\n"
      "GPIOEnable=0x00F\n"
      "GPIOBuffer=0x003\n"
      "GPIODirection=0x00C\n"
      "GPIOData=0x004\n"
      "GPIOWake=0x001\n"
      "GPIOWakePolarity=0x101\n"
      "\n"
      "[InterruptPollInterval]\n"
      "FSPollInterval=255\n"
      "HSPollInterval=16\n"
      "SSPollInterval=8\n"
      "\n"
      "[PMEWUFConfiguration]\n"
      "FilterAddressType=2\n"
      "FilterPatternOffset=12\n"
      "FilterCRC=0x3F\n"
      "FilterMaskPattern=1A 2b 3C\t4d \n"
      "\n"
      "[ConfigFlags0]\n"
      "SWModeSuspendNSelect=3\n"
      "SWModePolarity=1\n"
      "RemoteWakeupEnable=1\n"
      "SelfPower=0\n";
  return text;
}

// Every optional section with every key.
inline const std::string& OptionalSections() {
  static const std::string text =
      "[ConfigFlags1]\n"
      "ConfigFlags1Override=0x11111111\n"
      "GenCLK125Enable=1\n"
      "[ConfigFlags2]\n"
      "ConfigFlags2Override=0x22222222\n"
      "[ConfigFlags3]\n"
      "ConfigFlags3Override=0x3\n"
      "[ConfigFlags4]\n"
      "ConfigFlags4Override=0X4444\n"
      "[ConfigFlags5]\n"
      "ConfigFlags5Override=0xfFfFfFfF\n"
      "[OtpConfig]\n"
      "OtpSignature=0xF7\n"
      "[LTMBELTConfig]\n"
      "LTMBELTIdle0=0x10\n"
      "LTMBELTIdle1=0x11\n"
      "LTMBELTActive0=0x12\n"
      "LTMBELTActive1=0x13\n"
      "LTMBELTInActive0=0x14\n"
      "LTMBELTInActive1=0x15\n"
      "[CommonTestBusConfig]\n"
      "CommonTestBusIn=0xC0C0\n"
      "[USBTestConfig]\n"
      "USB3PllTestBusIn=0xABCD\n"
      "USB2AFETestBusIn=0xEF\n"
      "USB3AFETestBusIn0=0x01234567\n"
      "USB3AFETestBusIn1=0x89ABCDEF\n"
      "[USB2ExtensionConfig]\n"
      "USB2ExtAttributes=0x0000001E\n"
      "[USB3ExtensionConfig]\n"
      "SpeedsSupported=0xE\n"
      "FunctionalitySupport=0x1\n"
      "U1DevExitLatency=0xA\n"
      "U2DevExitLatency=0x7FF\n";
  return text;
}

}  // namespace initest
