// The section handlers: every field of a valid file, every malformed form
// with its own message, the final checks of each section, the optional
// sections, the filter pattern, the required-sections check and the GPIO
// wake cross-check.
#include "config/ini_schema.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/ini_test_util.h"
#include "support/capture.h"

namespace {

using initest::ReadText;
using test::CaptureStdout;

TEST(IniSchema, ValidFileStoresEveryField) {
  const initest::IniRead r = ReadText(initest::ValidIni());
  ASSERT_EQ(r.result, 0) << r.out;
  EXPECT_EQ(r.out, "");
  const RunSettings& rs = r.rs;
  EXPECT_EQ(rs.CurrentMacAddress, (MacAddress{0x00, 0x11, 0x22, 0x33, 0x44, 0x55}));
  EXPECT_EQ(rs.MaximumMacAddress, (MacAddress{0x00, 0x11, 0x22, 0x33, 0xFF, 0xFF}));
  EXPECT_EQ(rs.MacAddressIncrement, 2);
  EXPECT_EQ(rs.MacAddressGiven, 1);
  EXPECT_EQ(rs.CurrentSerialNumber, "0000000000000001");
  EXPECT_EQ(rs.MaximumSerialNumber, "00000000000000FF");
  EXPECT_EQ(rs.SerialNumberIncrement, 3);
  EXPECT_EQ(rs.ManufacturerString, "Orion Networks");
  EXPECT_EQ(rs.ProductString, "ORN5300 USB 3.0 Gigabit Ethernet");
  EXPECT_FALSE(rs.ConfigurationString.has_value());
  EXPECT_EQ(rs.InterfaceString, "Ethernet");
  EXPECT_EQ(rs.VendorID, 0x1F7C);
  EXPECT_EQ(rs.ProductID, 0x5301);
  EXPECT_EQ(rs.BcdDevice, 0x0120);
  EXPECT_EQ(rs.SSMaxPower, 896);
  EXPECT_EQ(rs.HSMaxPower, 498);
  const int32_t pme[] = {rs.GPIOPMEEnable,    rs.GPIOPMEConfiguration, rs.GPIOPMELength,
                         rs.GPIOPMEPolarity,  rs.GPIOBufferType,       rs.GPIOPMEWOLSelect,
                         rs.PMEMagicPacketEnable, rs.PMEPerfectDAEnable, rs.GPIOConnectBufferType,
                         rs.GPIOConnectEnable, rs.GPIOConnectPolarity, rs.PMEWUFFEnable,
                         rs.LED3Enable,       rs.LED2Enable,           rs.LED1Enable,
                         rs.LED0Enable};
  EXPECT_EQ(std::vector<int32_t>(std::begin(pme), std::end(pme)),
            (std::vector<int32_t>{1, 0, 1, 0, 1, 1, 1, 1, 1, 0, 1, 1, 0, 1, 1, 1}));
  EXPECT_EQ(rs.LED1Function, 10);
  EXPECT_EQ(rs.LED0Function, 3);
  EXPECT_EQ(rs.LED3Function, 15);
  EXPECT_EQ(rs.LED2Function, 7);
  EXPECT_EQ(rs.LEDBehavior, 0xA5C3u);
  EXPECT_EQ(rs.GPIOEnable, 0x00F);
  EXPECT_EQ(rs.GPIOBuffer, 0x003);
  EXPECT_EQ(rs.GPIODirection, 0x00C);
  EXPECT_EQ(rs.GPIOData, 0x004);
  EXPECT_EQ(rs.GPIOWake, 0x001);
  EXPECT_EQ(rs.GPIOWakePolarity, 0x101);
  EXPECT_EQ(rs.FSPollInterval, 255);
  EXPECT_EQ(rs.HSPollInterval, 16);
  EXPECT_EQ(rs.SSPollInterval, 8);
  EXPECT_EQ(rs.FilterAddressType, 2);
  EXPECT_EQ(rs.FilterPatternOffset, 12);
  EXPECT_EQ(rs.FilterCRC, 0x3F);
  EXPECT_EQ(rs.FilterCRCAuto, 0);
  EXPECT_EQ(rs.FilterMaskPattern, "1A 2b 3C\t4d ");
  EXPECT_EQ(rs.FilterMaskPatternBytes[0], 0x1A);
  EXPECT_EQ(rs.FilterMaskPatternBytes[1], 0x2B);
  EXPECT_EQ(rs.FilterMaskPatternBytes[2], 0x3C);
  EXPECT_EQ(rs.FilterMaskPatternBytes[3], 0x4D);
  EXPECT_EQ(rs.FilterMaskPatternBytes[4], 0x00);
  EXPECT_EQ(rs.SWModeSuspendNSelect, 3);
  EXPECT_EQ(rs.SWModePolarity, 1);
  EXPECT_EQ(rs.RemoteWakeupEnable, 1);
  EXPECT_EQ(rs.SelfPower, 0);
  EXPECT_EQ(rs.ConfigFlags0OverrideGiven, 0);
  for (const char* key : {"CurrentMacAddress", "MaximumSerialNumber", "ProductEnable", "BcdDevice",
                          "LED0Function", "FilterMaskPattern", "SelfPower"}) {
    EXPECT_EQ(rs.markers.Get(key), kWellFormed) << key;
  }
  // No optional section: every override word and given flag stays 0.
  EXPECT_EQ(rs.ConfigFlags1OverrideGiven + rs.ConfigFlags2OverrideGiven + rs.LTMBELTGiven +
                rs.USB2ExtAttributesGiven + rs.U2DevExitLatencyGiven + rs.OtpSignature,
            0);
  EXPECT_EQ(CaptureStdout([&] {
              EXPECT_EQ(CheckIniSections(rs), 0);
              EXPECT_EQ(CheckGpioWakeConfig(rs), 0);
            }),
            "");
}

TEST(IniSchema, OptionalSectionsStoreValuesAndGivenFlags) {
  const initest::IniRead r = ReadText(initest::ValidIni() + initest::OptionalSections());
  ASSERT_EQ(r.result, 0) << r.out;
  const RunSettings& rs = r.rs;
  EXPECT_EQ(rs.ConfigFlags1Override, 0x11111111u);
  EXPECT_EQ(rs.GenCLK125Enable, 1);
  EXPECT_EQ(rs.ConfigFlags2Override, 0x22222222u);
  EXPECT_EQ(rs.ConfigFlags3Override, 0x3u);
  EXPECT_EQ(rs.ConfigFlags4Override, 0x4444u);
  EXPECT_EQ(rs.ConfigFlags5Override, 0xFFFFFFFFu);
  EXPECT_EQ(rs.OtpSignature, 0xF7);
  const uint32_t ltm[] = {rs.LTMBELTIdle0,   rs.LTMBELTIdle1,     rs.LTMBELTActive0,
                          rs.LTMBELTActive1, rs.LTMBELTInActive0, rs.LTMBELTInActive1};
  EXPECT_EQ(std::vector<uint32_t>(std::begin(ltm), std::end(ltm)),
            (std::vector<uint32_t>{0x10, 0x11, 0x12, 0x13, 0x14, 0x15}));
  EXPECT_EQ(rs.CommonTestBusIn, 0xC0C0u);
  EXPECT_EQ(rs.USB3PllTestBusIn, 0xABCDu);
  EXPECT_EQ(rs.USB2AFETestBusIn, 0xEFu);
  EXPECT_EQ(rs.USB3AFETestBusIn0, 0x01234567u);
  EXPECT_EQ(rs.USB3AFETestBusIn1, 0x89ABCDEFu);
  EXPECT_EQ(rs.USB2ExtAttributes, 0x1Eu);
  EXPECT_EQ(rs.SpeedsSupported, 0xEu);
  EXPECT_EQ(rs.FunctionalitySupport, 0x1u);
  EXPECT_EQ(rs.U1DevExitLatency, 0xAu);
  EXPECT_EQ(rs.U2DevExitLatency, 0x7FFu);
  const int32_t given[] = {
      rs.ConfigFlags1OverrideGiven, rs.ConfigFlags2OverrideGiven, rs.ConfigFlags3OverrideGiven,
      rs.ConfigFlags4OverrideGiven, rs.ConfigFlags5OverrideGiven, rs.LTMBELTGiven,
      rs.CommonTestBusInGiven,      rs.USB3PllTestBusInGiven,     rs.USB2AFETestBusInGiven,
      rs.USB3AFETestBusIn0Given,    rs.USB3AFETestBusIn1Given,    rs.USB2ExtAttributesGiven,
      rs.SpeedsSupportedGiven,      rs.FunctionalitySupportGiven, rs.U1DevExitLatencyGiven,
      rs.U2DevExitLatencyGiven};
  for (int32_t g : given) EXPECT_EQ(g, 1);
  EXPECT_EQ(CaptureStdout([&] { EXPECT_EQ(CheckIniSections(rs), 0); }), "");
}

TEST(IniSchema, OptionalValuesEdgeForms) {
  struct Case {
    std::string text;
    uint32_t RunSettings::*field;
    uint32_t value;
    int32_t RunSettings::*given;
  } cases[] = {
      {"[ConfigFlags2]\nConfigFlags2Override=0x0\n", &RunSettings::ConfigFlags2Override, 0,
       &RunSettings::ConfigFlags2OverrideGiven},
      {"[ConfigFlags2]\nConfigFlags2Override=0x\n", &RunSettings::ConfigFlags2Override, 0,
       &RunSettings::ConfigFlags2OverrideGiven},
      {"[USB2ExtensionConfig]\nUSB2ExtAttributes=0xFFFFFFFF\n", &RunSettings::USB2ExtAttributes,
       0xFFFFFFFF, &RunSettings::USB2ExtAttributesGiven},
      {"[LTMBELTConfig]\nLTMBELTActive1=0x77 ; only this one\n", &RunSettings::LTMBELTActive1,
       0x77, &RunSettings::LTMBELTGiven},
      {"[USB3ExtensionConfig]\nU2DevExitLatency=0x1FF\n", &RunSettings::U2DevExitLatency, 0x1FF,
       &RunSettings::U2DevExitLatencyGiven},
  };
  for (const Case& c : cases) {
    const initest::IniRead r = ReadText(c.text);
    EXPECT_EQ(r.result, 0) << c.text << r.out;
    EXPECT_EQ(r.rs.*c.field, c.value) << c.text;
    EXPECT_EQ(r.rs.*c.given, 1) << c.text;
  }
  const initest::IniRead ltm = ReadText("[LTMBELTConfig]\nLTMBELTActive1=0x77\n");
  EXPECT_EQ(ltm.rs.LTMBELTIdle0 | ltm.rs.LTMBELTIdle1 | ltm.rs.LTMBELTActive0 |
                ltm.rs.LTMBELTInActive0 | ltm.rs.LTMBELTInActive1,
            0u);
}

// One malformed value: its own message at once, the section fails without
// its final checks and the reading stops.
TEST(IniSchema, MalformedValuesPrintTheirOwnMessage) {
  const std::string s17(17, 'A');
  struct Case {
    std::string text;
    std::string out;
  } cases[] = {
      {"[MacAddress]\nCurrentMacAddress=00:11:22:33:44:5\n",
       "WARNING: Ini file, invalid current MAC address format\n"},
      {"[MacAddress]\nCurrentMacAddress=00:11:22:33:44:555\n",
       "WARNING: Ini file, invalid current MAC address format\n"},
      {"[MacAddress]\nCurrentMacAddress=0011:22:33:44:55\n",
       "WARNING: Ini file, invalid current MAC address format\n"},
      {"[MacAddress]\nMaximumMacAddress=00:11:22:33:44\n",
       "ERROR: Ini file, invalid maximum MAC address format\n"},
      {"[MacAddress]\nMaximumMacAddress=01:11:22:33:44:55\n", "ERROR: Invalid max mac address\n"},
      {"[MacAddress]\nMaximumMacAddress=00-00-00-00-00-00\n", "ERROR: Invalid max mac address\n"},
      {"[MacAddress]\nMacAddressIncrement=1000\n",
       "WARNING: Ini file, invalid mac address increment or out of range\n"},
      {"[MacAddress]\nMacAddressIncrement=5#five\n",
       "WARNING: Ini file, invalid mac address increment or out of range\n"},
      {"[MacAddress]\nMacAddressIncrement=256\n",
       "WARNING: Ini file, mac address increment is out of range in the ini file\n"},
      {"[MacAddress]\nMacAddressIncrement=0\n",
       "WARNING: Ini file, mac address increment is zero in the ini file\n"},
      {"[SerialNumber]\nCurrentSerialNumber=" + s17 + "\n",
       "WARNING: Ini file: Current serial number size is greater than 16\n"},
      {"[SerialNumber]\nMaximumSerialNumber=" + s17 + " x\n",
       "WARNING: Ini file, maximum serial number size is greater than 16\n"},
      {"[SerialNumber]\nSerialNumberIncrement=-1\n",
       "WARNING: Ini file, invalid serial number increment or out of range\n"},
      {"[SerialNumber]\nSerialNumberIncrement=300\n",
       "WARNING: Ini file, serial number increment is out of range\n"},
      {"[String]\nManufacturerEnable=10\n", "ERROR: Invalid ManufacturerEnable(range 0-1)\n"},
      {"[String]\nProductEnable=y\n", "ERROR: Invalid ProductEnable(range 0-1)\n"},
      {"[String]\nConfigurationEnable=-1\n", "ERROR: Invalid ConfigurationEnable(range 0-1)\n"},
      {"[String]\nInterfaceEnable=1a\n", "ERROR: Invalid InterfaceEnable(range 0-1)\n"},
      {"[String]\nInterfaceString=" + std::string(127, 'i') + "\n",
       "ERROR: InterfaceString cannot be longer than 126 characters\n"},
      {"[ID]\nVendorID=0x12345\n", "ERROR: Invalid vendor ID. Should be in the format 0x1F7B\n"},
      {"[ID]\nVendorID=1F7B\n", "ERROR: Invalid vendor ID. Should be in the format 0x1F7B\n"},
      {"[ID]\nVendorID=0x1F7B   \n", "ERROR: Invalid vendor ID. Should be in the format 0x1F7B\n"},
      {"[ID]\nVendorID=0x\n", "ERROR: Vendor ID cannot be 0\n"},
      {"[ID]\nProductID=0x53G0\n", "ERROR: Invalid product ID. Should be in the format 0x5300\n"},
      {"[ID]\nBcdDevice=12345\n", "ERROR: Invalid BcdDevice\n"},
      {"[ID]\nBcdDevice=0x10\n", "ERROR: Invalid BcdDevice\n"},
      {"[Power]\nSSMaxPower=1000\n", "ERROR: Invalid SSMaxPower or out of range (8 - 896)\n"},
      {"[Power]\nHSMaxPower=50mA\n", "ERROR: Invalid HSMaxPower or out of range (2 - 500)\n"},
      {"[LEDConfig1]\nLED0Function=100\n", "ERROR: Invalid LED0Function or out of range\n"},
      {"[LEDConfig1]\nLED1Function=a\n", "ERROR: Invalid LED1Function or out of range\n"},
      {"[LEDConfig2]\nLED3Function=-1\n", "ERROR: Invalid LED3Function or out of range\n"},
      {"[LEDConfig2]\nLED2Function=1.5\n", "ERROR: Invalid LED2Function or out of range\n"},
      {"[LEDBehaviorConfig]\nLEDBehavior=0x12345\n",
       "ERROR: Invalid LEDBehavior, should be in the form '0xFFFF'\n"},
      {"[InterruptPollInterval]\nFSPollInterval=1000\n",
       "ERROR: Invalid Full speed interrupt polling interval.\n"},
      {"[InterruptPollInterval]\nHSPollInterval=100\n",
       "ERROR: Invalid High speed interrupt polling interval.\n"},
      {"[InterruptPollInterval]\nSSPollInterval=x\n",
       "ERROR: Invalid Super speed interrupt polling interval.\n"},
      {"[PMEWUFConfiguration]\nFilterAddressType=10\n", "ERROR: Invalid FilterAddressType (0 - 2)\n"},
      {"[PMEWUFConfiguration]\nFilterPatternOffset=1000\n",
       "ERROR: Invalid FilterPatternOffset (0 - 255)\n"},
      {"[PMEWUFConfiguration]\nFilterCRC=0x100\n", "ERROR: Invalid FilterCRC.\n"},
      {"[ConfigFlags0]\nSWModeSuspendNSelect=10\n",
       "ERROR: Invalid SWModeSuspendNSelect or out of range (0-3)\n"},
      {"[ConfigFlags0]\nSWModePolarity=x\n", "ERROR: Invalid SWModePolarity (range 0-1)\n"},
      {"[ConfigFlags0]\nRemoteWakeupEnable=11\n", "ERROR: Invalid RemoteWakeupEnable (range 0-1)\n"},
      {"[ConfigFlags0]\nSelfPower=-\n", "ERROR: Invalid SelfPower (range 0-1)\n"},
      {"[ConfigFlags0]\nConfigFlags0Override=0x123456789\n",
       "ERROR: Invalid ConfigFlags0Override, should be in the form '0xFFFFFFFF'\n"},
      {"[ConfigFlags1]\nConfigFlags1Override=1234\n",
       "ERROR: Invalid ConfigFlags1Override, should be in the form '0xFFFFFFFF'\n"},
      {"[ConfigFlags1]\nGenCLK125Enable=12\n", "ERROR: Invalid GenCLK125Enable (range 0-1)\n"},
      {"[ConfigFlags1]\nGenCLK125Enable=2\n", "ERROR: GenCLK125Enable, should be 0 or 1\n"},
      {"[ConfigFlags2]\nConfigFlags2Override=0x123456789\n",
       "ERROR: Invalid ConfigFlags2Override, should be in the form '0xFFFFFFFF'\n"},
      {"[ConfigFlags3]\nConfigFlags3Override=0xZ\n",
       "ERROR: Invalid ConfigFlags3Override, should be in the form '0xFFFFFFFF'\n"},
      {"[ConfigFlags4]\nConfigFlags4Override=x1\n",
       "ERROR: Invalid ConfigFlags4Override, should be in the form '0xFFFFFFFF'\n"},
      {"[ConfigFlags5]\nConfigFlags5Override=0x-1\n",
       "ERROR: Invalid ConfigFlags5Override, should be in the form '0xFFFFFFFF'\n"},
      {"[OtpConfig]\nOtpSignature=F3\n", "ERROR: Invalid OtpSignature, should be '0xF3' or '0xF7'\n"},
      {"[OtpConfig]\nOtpSignature=0x1DEAD\n",
       "ERROR: Invalid OtpSignature, should be '0xF3' or '0xF7'\n"},
      {"[CommonTestBusConfig]\nCommonTestBusIn=0xG\n",
       "ERROR: Invalid CommonTestBusIn, should be in the '0xFFFFFFFF' format\n"},
      {"[USBTestConfig]\nUSB3PllTestBusIn=0x12345\n",
       "ERROR: Invalid USB3PllTestBusIn, should be in the '0x0000' format\n"},
      {"[USBTestConfig]\nUSB2AFETestBusIn=0x123\n",
       "ERROR: Invalid USB2AFETestBusIn, should be in the '0x00' format\n"},
      {"[USBTestConfig]\nUSB3AFETestBusIn0=0x123456789\n",
       "ERROR: Invalid USB3AFETestBusIn0, should be in the '0x00000000' format\n"},
      {"[USBTestConfig]\nUSB3AFETestBusIn1=12\n",
       "ERROR: Invalid USB3AFETestBusIn1, should be in the '0x00000000' format\n"},
      {"[USB2ExtensionConfig]\nUSB2ExtAttributes=0x123456789\n",
       "ERROR: Invalid USB2ExtAttributes, should be in the '0x00' format\n"},
      {"[USB3ExtensionConfig]\nSpeedsSupported=0x0E\n",
       "ERROR: Invalid SpeedsSupported, should be in the '0x0' format\n"},
      {"[USB3ExtensionConfig]\nFunctionalitySupport=0x10\n",
       "ERROR: Invalid FunctionalitySupport, should be in the '0x0' format\n"},
      {"[USB3ExtensionConfig]\nU1DevExitLatency=0x12\n",
       "ERROR: Invalid U1DevExitLatency, should be in the '0x0' format\n"},
      {"[USB3ExtensionConfig]\nU2DevExitLatency=0x1000\n",
       "ERROR: Invalid U2DevExitLatency, should be in the '0x000' format\n"},
  };
  for (const Case& c : cases) {
    const initest::IniRead r = ReadText(c.text + "[Power]\nHSMaxPower=100\n");
    EXPECT_EQ(r.result, -1) << c.text;
    EXPECT_EQ(r.out, c.out) << c.text;
    EXPECT_EQ(r.rs.HSMaxPower, 0) << "reading went on after " << c.text;
  }
}

// The keys of the switch and GPIO sections share their message shapes.
TEST(IniSchema, MalformedSwitchAndGpioKeys) {
  const struct {
    const char* section;
    std::vector<const char*> keys;
  } flag_sections[] = {
      {"[GPIOPME0]",
       {"GPIOPMEEnable", "GPIOPMEConfiguration", "GPIOPMELength", "GPIOPMEPolarity",
        "GPIOBufferType", "GPIOPMEWOLSelect", "PMEMagicPacketEnable", "PMEPerfectDAEnable"}},
      {"[GPIOPME1]",
       {"GPIOConnectBufferType", "GPIOConnectEnable", "GPIOConnectPolarity", "PMEWUFFEnable"}},
      {"[LEDConfig0]", {"LED3Enable", "LED2Enable", "LED1Enable", "LED0Enable"}},
  };
  for (const auto& s : flag_sections) {
    for (const char* key : s.keys) {
      const initest::IniRead r = ReadText(std::string(s.section) + "\n" + key + "=10\n");
      EXPECT_EQ(r.result, -1) << key;
      EXPECT_EQ(r.out, std::string("ERROR: Invalid ") + key + " (range 0-1)\n");
      EXPECT_EQ(r.rs.markers.Get(key), kMalformed) << key;
    }
  }
  for (const char* key :
       {"GPIOEnable", "GPIOBuffer", "GPIODirection", "GPIOData", "GPIOWake", "GPIOWakePolarity"}) {
    const initest::IniRead r = ReadText(std::string("[GPIOConfig]\n") + key + "=0x1000\n");
    EXPECT_EQ(r.result, -1) << key;
    EXPECT_EQ(r.out, std::string("ERROR: Invalid ") + key + ", should be in the form '0xFFF'\n");
  }
}

// Final checks: every failure of a section is printed, in order, and the
// section fails; a section that passes gets its completion marker.
TEST(IniSchema, FinalChecksReportEveryFailureInOrder) {
  struct Case {
    std::string text;
    std::string out;
  } cases[] = {
      {"[MacAddress]\n",
       "ERROR: Ini file,  the field CurrentMacAddress is missing\n"
       "ERROR: Ini file, the field MaximumMacAddress is missing\n"
       "ERROR: Ini file, the field MacAddressIncrement is missing\n"},
      {"[SerialNumber]\nSerialNumberIncrement=0\n",
       "ERROR: Ini file, the field CurrentSerialNumber is missing\n"
       "ERROR: Ini file, the field MaximumSerialNumber is missing\n"},
      {"[String]\n",
       "ERROR: The field ManufacturerEnable is missing\n"
       "ERROR: The field ProductEnable is missing\n"
       "ERROR: The field ConfigurationEnable is missing\n"
       "ERROR: The field InterfaceEnable is missing\n"},
      {"[String]\nManufacturerEnable=2\nProductEnable=1\nConfigurationEnable=1\n"
       "ConfigurationString=   \nInterfaceEnable=0\n",
       "ERROR: Invalid value for the field ManufacturerEnable (range 0-1)\n"
       "ERROR: The field ProductString is missing\n"
       "ERROR: The field ConfigurationString is missing\n"},
      {"[ID]\n",
       "ERROR: The field VendorID is missing\nERROR: The field ProductID is missing\n"
       "ERROR: The field BcdDevice is missing\n"},
      {"[Power]\nSSMaxPower=8\n", "ERROR: The field HSMaxPower is missing\n"},
      {"[Power]\nHSMaxPower=1\nSSMaxPower=12\n",
       "ERROR: HSMaxPower cannot be less than 2mA\nERROR: Max power should be even number\n"
       "ERROR: Max power should be divisible by 8\n"},
      {"[Power]\nHSMaxPower=502\n", "ERROR: HSMaxPower exceed 500mA\n"},
      {"[GPIOPME0]\nGPIOPMEEnable=2\nPMEPerfectDAEnable=1\nGPIOBufferType=1\n",
       "ERROR: Invalid value for GPIOPMEEnable (range 0-1)\n"
       "ERROR: The field GPIOPMEConfiguration is missing\n"
       "ERROR: The field GPIOPMELength is missing\n"
       "ERROR: The field GPIOPMEPolarity is missing\n"
       "ERROR: The field GPIOPMEWOLSelect is missing\n"
       "ERROR: The field PMEMagicPacketEnable is missing\n"},
      {"[GPIOPME1]\nPMEWUFFEnable=9\nGPIOConnectEnable=1\n",
       "ERROR: The field GPIOConnectBufferType is missing\n"
       "ERROR: The field GPIOConnectPolarity is missing\n"
       "ERROR: Invalid value for PMEWUFFEnable (range 0-1)\n"},
      {"[LEDConfig0]\nLED1Enable=5\nLED3Enable=1\nLED2Enable=0\nLED0Enable=1\n",
       "ERROR: Invalid value for LED1Enable (range 0-1)\n"},
      {"[LEDConfig1]\nLED0Function=16\n",
       "ERROR: The field LED1Function is missing\nERROR: LED0Function cannot be greater than 15\n"},
      {"[LEDConfig1]\nLED1Function=16\n",
       "ERROR: The field LED0Function is missing\nERROR: LED1Function cannot be greater than 15\n"},
      {"[LEDConfig2]\nLED3Function=20\n",
       "ERROR: The field LED2Function is missing\nERROR: LED3Function cannot be greater than 15\n"},
      {"[LEDConfig2]\nLED2Function=16\nLED3Function=99\n",
       "ERROR: LED3Function cannot be greater than 15\nERROR: LED2Function cannot be greater than 15\n"},
      {"[LEDBehaviorConfig]\n", "ERROR: The field LEDBehavior is missing\n"},
      {"[GPIOConfig]\nGPIOData=0x1\n",
       "ERROR: The field GPIOEnable is missing\nERROR: The field GPIOBuffer is missing\n"
       "ERROR: The field GPIODirection is missing\nERROR: The field GPIOWake is missing\n"
       "ERROR: The field GPIOWakePolarity is missing\n"},
      {"[InterruptPollInterval]\nSSPollInterval=5\n",
       "ERROR: The field FSPollInterval is missing\nERROR: The field HSPollInterval is missing\n"},
      {"[InterruptPollInterval]\nFSPollInterval=0\nHSPollInterval=17\n",
       "ERROR: Full speed interrupt polling interval cannot be 0.\n"
       "ERROR: High speed interrupt polling interval cannot exceed 16.\n"},
      {"[InterruptPollInterval]\nFSPollInterval=256\nHSPollInterval=0\n",
       "ERROR: Full speed interrupt polling interval cannot exceed 255.\n"
       "ERROR: High speed interrupt polling interval cannot be 0.\n"},
      {"[PMEWUFConfiguration]\nFilterCRC=0x1\n",
       "ERROR: The field FilterAddressType is missing\n"
       "ERROR: The field FilterPatternOffset is missing\n"
       "ERROR: The field FilterMaskPattern is missing\n"},
      {"[PMEWUFConfiguration]\nFilterAddressType=3\nFilterPatternOffset=256\n"
       "FilterMaskPattern=1A1B\n",
       "ERROR: The field FilterAddressType range (0 - 2).\n"
       "ERROR: The field FilterAddressType range (0 - 255).\n"
       "ERROR: The pattern should be in the format \"1A 1B 1C 1D 1E 1D 1F 2A....\"\n"
       "ERROR: FilterMaskPattern validation failed\n"},
      {"[ConfigFlags0]\n",
       "ERROR: The field SWModeSuspendNSelect is missing\n"
       "ERROR: The field SWModePolarity is missing\n"
       "ERROR: The field RemoteWakeupEnable is missing\n"
       "ERROR: The field SelfPower is missing\n"},
      {"[ConfigFlags0]\nSWModeSuspendNSelect=4\nSWModePolarity=2\nRemoteWakeupEnable=3\n"
       "SelfPower=4\n",
       "ERROR: Invalid value for PortSwap(range 0-3)\n"
       "ERROR: Invalid value for SWModePolarity(range 0-1)\n"
       "ERROR: Invalid value for RemoteWakeupEnable(range 0-1)\n"
       "ERROR: Invalid value for SelfPower(range 0-1)\n"},
      {"[OtpConfig]\nOtpSignature=0xF5\n",
       "ERROR: Invalid OtpSignature, should be '0xF3' or '0xF7'\n"},
  };
  for (const Case& c : cases) {
    const initest::IniRead r = ReadText(c.text);
    EXPECT_EQ(r.result, -1) << c.text;
    EXPECT_EQ(r.out, c.out) << c.text;
    EXPECT_TRUE(r.rs.markers.completion.empty()) << c.text;
  }
}

TEST(IniSchema, SectionsThatPassTheirFinalChecks) {
  struct Case {
    std::string text;
    const char* completed;
  } cases[] = {
      {"[ConfigFlags0]\nConfigFlags0Override=0x0\n", "[ConfigFlags0]"},
      {"[ConfigFlags0]\nConfigFlags0Override=0x4\nSWModeSuspendNSelect=9\n", "[ConfigFlags0]"},
      {"[Power]\nHSMaxPower=0\nSSMaxPower=904\n", "[Power]"},
      {"[SerialNumber]\nCurrentSerialNumber=0123456789ABCDEF extra\nMaximumSerialNumber=FFFF\n"
       "SerialNumberIncrement=0\n",
       "[SerialNumber]"},
      {"[GPIOConfig]\nGPIOWakePolarity=0x\nGPIOWake=0x0\nGPIOData=0x0\nGPIODirection=0x0\n"
       "GPIOBuffer=0x0\nGPIOEnable=0xFFF\n",
       "[GPIOConfig]"},
      {"[ID]\nVendorID = 0X1f7b\nProductID=0x\nBcdDevice=12\n", "[ID]"},
  };
  for (const Case& c : cases) {
    const initest::IniRead r = ReadText(c.text);
    EXPECT_EQ(r.result, 0) << c.text;
    EXPECT_EQ(r.out, "") << c.text;
    EXPECT_TRUE(r.rs.markers.Completed(c.completed)) << c.text;
  }
  const initest::IniRead id = ReadText(cases[5].text);
  EXPECT_EQ(id.rs.VendorID, 0x1F7B);
  EXPECT_EQ(id.rs.ProductID, 0);
  EXPECT_EQ(id.rs.BcdDevice, 0x0012);
  EXPECT_EQ(ReadText(cases[3].text).rs.CurrentSerialNumber, "0123456789ABCDEF");
}

TEST(IniSchema, StringsFollowTheirEnableKeys) {
  const initest::IniRead r = ReadText(
      "[String]\nManufacturerString=  Orion  \nManufacturerEnable=0\nProductEnable=1\n"
      "ProductString=P\nConfigurationEnable=0\nInterfaceEnable=1\nInterfaceString=" +
      std::string(126, 'i') + "\n");
  ASSERT_EQ(r.result, 0) << r.out;
  EXPECT_FALSE(r.rs.ManufacturerString.has_value());
  EXPECT_EQ(r.rs.ProductString, "P");
  EXPECT_FALSE(r.rs.ConfigurationString.has_value());
  EXPECT_EQ(r.rs.InterfaceString->size(), 126u);

  // A repeated section keeps the earlier enable values.
  const initest::IniRead again = ReadText(
      "[String]\nManufacturerEnable=1\nManufacturerString=A\nProductEnable=0\n"
      "ConfigurationEnable=0\nInterfaceEnable=0\n[String]\nManufacturerString=B  \n");
  ASSERT_EQ(again.result, 0) << again.out;
  EXPECT_EQ(again.rs.ManufacturerString, "B  ");
}

TEST(IniSchema, OtpSignatureRules) {
  auto with_target = [](RunSettings& rs) { rs.TargetFileName = "image"; };
  struct Case {
    const char* value;
    bool target;
    int result;
    std::string out;
  } cases[] = {
      {"0xF3", false, 0, ""},
      {"0xF7", true, 0, ""},
      {"0xDEAD", false, 0, ""},
      {"0xdead", true, -1, "ERROR: With -z option the OtpSignature in the ini file cannot be 0xDEAD\n"},
      {"0x0", true, 0, ""},
  };
  for (const Case& c : cases) {
    std::function<void(RunSettings&)> prepare;
    if (c.target) prepare = with_target;
    const initest::IniRead r =
        ReadText(std::string("[OtpConfig]\nOtpSignature=") + c.value + "\n", prepare);
    EXPECT_EQ(r.result, c.result) << c.value;
    EXPECT_EQ(r.out, c.out) << c.value;
  }
}

TEST(IniSchema, FilterMaskPattern) {
  std::string pairs128, pairs129;
  for (int i = 0; i < 128; ++i) pairs128 += i ? " A5" : "A5";
  pairs129 = pairs128 + " 5A";
  struct Case {
    std::string pattern;
    int result;
    std::string out;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"  1a\t\t2B  ", 0, "", {0x1A, 0x2B, 0x00}},
      {"00 ff", 0, "", {0x00, 0xFF, 0x00}},
      {pairs128, 0, "", {0xA5, 0xA5}},
      {pairs129, -1, "ERROR: FilterMaskPattern contains more than 128 bytes\n", {}},
      {"1A1B", -1, "ERROR: The pattern should be in the format \"1A 1B 1C 1D 1E 1D 1F 2A....\"\n",
       {}},
      {"1A 1", -1, "ERROR: Not hex digit for pattern\n", {0x1A}},
      {"zz 1A G0", -1, "ERROR: Not hex digit for pattern\nERROR: Not hex digit for pattern\n", {}},
      {"1A,1B", -1,
       "ERROR: The pattern should be in the format \"1A 1B 1C 1D 1E 1D 1F 2A....\"\n", {}},
  };
  for (const Case& c : cases) {
    RunSettings rs;
    rs.FilterMaskPatternBytes.fill(0xEE);
    rs.FilterMaskPattern = c.pattern;
    EXPECT_EQ(CaptureStdout([&] { EXPECT_EQ(ParseFilterMaskPattern(rs), c.result) << c.pattern; }),
              c.out)
        << c.pattern;
    for (size_t i = 0; i < c.bytes.size(); ++i) EXPECT_EQ(rs.FilterMaskPatternBytes[i], c.bytes[i]);
    if (c.result == 0) {
      EXPECT_EQ(rs.FilterMaskPatternBytes[127], c.pattern == pairs128 ? 0xA5 : 0);
    }
  }
}

TEST(IniSchema, RequiredSectionsAreAllReported) {
  RunSettings rs;
  const std::string out = CaptureStdout([&] { EXPECT_EQ(CheckIniSections(rs), -1); });
  std::string expected;
  for (const char* s : {"MacAddress", "SerialNumber", "String", "ID", "Power", "GPIOPME0",
                        "GPIOPME1", "LEDConfig0", "LEDConfig1", "LEDConfig2", "LEDBehaviorConfig",
                        "GPIOConfig", "ConfigFlags0", "PMEWUFConfiguration",
                        "InterruptPollInterval"}) {
    expected += std::string("ERROR: Missing [") + s + "] section in the ini file\n";
  }
  EXPECT_EQ(out, expected);

  // A file without [Power] and [GPIOConfig] reads, and the check names both.
  std::string text = initest::ValidIni();
  text.replace(text.find("[Power]"), 7, "[Power ]");
  text.replace(text.find("[GPIOConfig]"), 12, "[GpioConfig]");
  const initest::IniRead r = ReadText(text);
  ASSERT_EQ(r.result, 0) << r.out;
  EXPECT_EQ(CaptureStdout([&] { EXPECT_EQ(CheckIniSections(r.rs), -1); }),
            "ERROR: Missing [Power] section in the ini file\n"
            "ERROR: Missing [GPIOConfig] section in the ini file\n");
}

TEST(IniSchema, LpmRule) {
  const std::string mismatch =
      "ERROR: The LPM setting in the ConfigFlags0Override and LPM setting in USB2ExtAttributes do "
      "not match\n";
  const std::string by_default =
      "ERROR: By default LPM is set. This LMP setting do not match with the USB2ExtAttributes LPM "
      "setting\n";
  struct Case {
    bool ext_given;
    uint32_t ext;
    bool flags_given;
    uint32_t flags;
    std::string out;
  } cases[] = {
      {false, 0x0, true, 0x0, ""},        {true, 0x2, false, 0x0, ""},
      {true, 0x2, true, 0x0, mismatch},   {true, 0x2, true, 0x4, ""},
      {true, 0x0, false, 0x0, by_default}, {true, 0x0, true, 0x4, mismatch},
      {true, 0xFD, true, 0xFFFFFFFB, ""},
  };
  const initest::IniRead valid = ReadText(initest::ValidIni());
  for (const Case& c : cases) {
    RunSettings rs = valid.rs;
    rs.USB2ExtAttributesGiven = c.ext_given;
    rs.USB2ExtAttributes = c.ext;
    rs.ConfigFlags0OverrideGiven = c.flags_given;
    rs.ConfigFlags0Override = c.flags;
    EXPECT_EQ(CaptureStdout([&] { EXPECT_EQ(CheckIniSections(rs), c.out.empty() ? 0 : -1); }),
              c.out);
  }
}

TEST(IniSchema, GpioWakeCrossCheck) {
  const std::string not_enabled =
      "ERROR: When GPIOWake is enabled for perticular GPIO the GPIOEnable need to be set for that "
      "GPIO\n";
  const std::string not_input =
      "ERROR: When GPIOWake is enabled for perticular GPIO the GPIODirection need to be set as "
      "Input for that GPIO\n";
  struct Case {
    uint16_t wake, enable, direction;
    std::string out;
  } cases[] = {
      {0x001, 0x000, 0x000, not_enabled},  {0x001, 0x001, 0x001, not_input},
      {0x001, 0x001, 0x000, ""},           {0x000, 0x000, 0xFFF, ""},
      {0x006, 0x006, 0x002, not_input},    {0x006, 0x002, 0x002, not_input},
      {0xF000, 0x000, 0x000, ""},          {0x800, 0x7FF, 0x000, not_enabled},
  };
  for (const Case& c : cases) {
    RunSettings rs;
    rs.GPIOWake = c.wake;
    rs.GPIOEnable = c.enable;
    rs.GPIODirection = c.direction;
    EXPECT_EQ(CaptureStdout([&] { EXPECT_EQ(CheckGpioWakeConfig(rs), c.out.empty() ? 0 : -1); }),
              c.out);
  }
}

}  // namespace
