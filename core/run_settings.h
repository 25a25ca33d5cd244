// The run settings record: everything one run knows, from the command line,
// the INI file and the identified chip. One record per run, owned by the
// entry point and passed by reference to every flow.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {
class FileLock;
}

// Presence states of one INI value.
enum Presence : int { kNotSeen = 0, kWellFormed = 1, kMalformed = 2 };

// Presence markers of the INI keys (by key name, for example
// "CurrentMacAddress") and completion markers of the required sections (by
// header text, for example "[MacAddress]"). Cleared when the parse starts,
// set by the section handlers and the command-line overrides, read by the
// required-sections check and the binary image loader.
struct IniMarkers {
  std::map<std::string, int, std::less<>> presence;
  std::map<std::string, int, std::less<>> completion;

  int Get(std::string_view key) const {
    auto it = presence.find(key);
    return it == presence.end() ? kNotSeen : it->second;
  }
  void Set(std::string_view key, int state) { presence[std::string(key)] = state; }
  bool Completed(std::string_view section) const {
    auto it = completion.find(section);
    return it != completion.end() && it->second != 0;
  }
  void Complete(std::string_view section) { completion[std::string(section)] = 1; }
  void Clear() {
    presence.clear();
    completion.clear();
  }
};

using MacAddress = std::array<uint8_t, 6>;
using OptText = std::optional<std::string>;

// Command codes.
enum CommandCode : int {
  kCmdNone = 0,
  kCmdWrite = 1,
  kCmdRead = 2,
  kCmdReadRegister = 5,
  kCmdWriteRegister = 6,
  kCmdReadPhy = 7,
  kCmdWritePhy = 8,
  kCmdInfoQuery = 9,
  kCmdLinkState = 10,
  kCmdCabScan = 11,
  kCmdMcuDownload = 12,
  kCmdMcuVerify = 13,
  kCmdMcuDownloadVerify = 14,
  kCmdMcuParameters = 15,
};

// Network tests.
enum NetworkTestKind : int { kNetNone = 0, kNetPing = 1, kNetLoopback = 3 };

struct RunSettings {
  // Where the two identity values stand in the INI file, for the write-back.
  int32_t MacWriteBackPosition = 0;
  int32_t MacWriteBackLength = 0;
  int32_t SerialWriteBackLength = 0;
  int32_t SerialWriteBackPosition = 0;
  // The value texts found at those positions when the run began; the
  // write-back refuses to overwrite anything else.
  OptText MacWriteBackText;
  OptText SerialWriteBackText;

  OptText McuFileName;      // -f, -F, -g, -P
  OptText BinaryFileName;   // -b
  OptText IniFileName;      // -i
  OptText TargetFileName;   // -z
  OptText DeviceModelName;  // -d

  int32_t CommandCode = kCmdNone;
  int32_t InfoQueryLetter = 0;   // letter after -G
  int32_t LinkStateRequest = 0;  // -k: 0 down, 1 up
  int32_t EepromSize = 512;
  int32_t ImageByteCount = 0;
  int32_t MacAddressGiven = 0;
  uint32_t ChipIdValue = 0;
  std::array<char, 8> ModelFilePrefix{};  // "orn5300" and a NUL; empty for -z
  // Default save file name: starts with the model file prefix; the read and
  // save flows write their suffix ("-512.bin", "-otp.bin", ...) from index 7.
  std::array<char, 20> DefaultFileName{};
  uint8_t LinkModeGiven = 0;
  int32_t LinkMode = 0;  // 1 10hd, 2 10fd, 3 100hd, 4 100fd, 5 1000fd
  int32_t NetworkTest = kNetNone;
  uint32_t RegisterAddress = 0;
  uint32_t Value = 0;
  uint8_t ValueGiven = 0;
  int32_t OtpMode = 0;
  int32_t OtpSignature = 0;  // from [OtpConfig]: 0, 0xF3, 0xF7 or 0xDEAD
  int32_t OtpWriteConfirmed = 0;
  int32_t OtpState = 0;  // 0 empty, 256 first configuration present
  uint8_t PingRequested = 0;
  uint8_t LoopbackRequested = 0;
  std::array<char, 100> AdapterAddressText{};
  std::array<char, 100> DestinationAddressText{};
  uint32_t AdapterInterfaceIndex = 0;
  uint8_t IncrementRequested = 0;

  // Identity fields ([MacAddress], [SerialNumber], [String], [ID], [Power]).
  MacAddress CurrentMacAddress{};
  MacAddress MaximumMacAddress{};
  int32_t MacAddressIncrement = 0;
  OptText CurrentSerialNumber;
  OptText MaximumSerialNumber;
  int32_t SerialNumberIncrement = 0;
  OptText ManufacturerString;
  OptText ProductString;
  OptText ConfigurationString;
  OptText InterfaceString;
  uint16_t VendorID = 0x1F7B;
  uint16_t ProductID = 0x5300;
  uint16_t BcdDevice = 0;
  int32_t SSMaxPower = 0;
  int32_t HSMaxPower = 0;

  // Device configuration fields.
  uint16_t GPIOEnable = 0;
  uint16_t GPIOBuffer = 0;
  uint16_t GPIODirection = 0;
  uint16_t GPIOData = 0;
  uint16_t GPIOWake = 0;
  uint16_t GPIOWakePolarity = 0;
  int32_t GPIOPMEEnable = 0;
  int32_t GPIOPMEConfiguration = 0;
  int32_t GPIOPMELength = 0;
  int32_t GPIOPMEPolarity = 0;
  int32_t GPIOBufferType = 0;
  int32_t GPIOPMEWOLSelect = 0;
  int32_t PMEMagicPacketEnable = 0;
  int32_t PMEPerfectDAEnable = 0;
  int32_t GPIOConnectBufferType = 0;
  int32_t GPIOConnectEnable = 0;
  int32_t GPIOConnectPolarity = 0;
  int32_t PMEWUFFEnable = 0;
  int32_t LED3Enable = 0;
  int32_t LED2Enable = 0;
  int32_t LED1Enable = 0;
  int32_t LED0Enable = 0;
  int32_t LED1Function = 0;
  int32_t LED0Function = 0;
  int32_t LED3Function = 0;
  int32_t LED2Function = 0;
  int32_t FSPollInterval = 0;
  int32_t HSPollInterval = 0;
  int32_t SSPollInterval = 0;
  int32_t FilterAddressType = 0;
  int32_t FilterPatternOffset = 0;
  uint16_t FilterCRC = 0;
  int32_t FilterCRCAuto = 0;
  OptText FilterMaskPattern;
  std::array<uint8_t, 128> FilterMaskPatternBytes{};
  uint32_t ConfigFlags0Override = 0;
  int32_t ConfigFlags0OverrideGiven = 0;
  int32_t SWModeSuspendNSelect = 0;
  int32_t SWModePolarity = 0;
  int32_t RemoteWakeupEnable = 0;
  int32_t SelfPower = 0;

  // Override and extension fields.
  uint32_t ConfigFlags1Override = 0;
  int32_t ConfigFlags1OverrideGiven = 0;
  int32_t GenCLK125Enable = 0;
  uint32_t ConfigFlags2Override = 0;
  int32_t ConfigFlags2OverrideGiven = 0;
  uint32_t ConfigFlags3Override = 0;
  int32_t ConfigFlags3OverrideGiven = 0;
  uint32_t LEDBehavior = 0;
  uint32_t ConfigFlags4Override = 0;
  int32_t ConfigFlags4OverrideGiven = 0;
  uint32_t ConfigFlags5Override = 0;
  int32_t ConfigFlags5OverrideGiven = 0;
  int32_t LTMBELTGiven = 0;
  uint32_t LTMBELTIdle0 = 0;
  uint32_t LTMBELTIdle1 = 0;
  uint32_t LTMBELTActive0 = 0;
  uint32_t LTMBELTActive1 = 0;
  uint32_t LTMBELTInActive0 = 0;
  uint32_t LTMBELTInActive1 = 0;
  uint32_t CommonTestBusIn = 0;
  int32_t CommonTestBusInGiven = 0;
  uint32_t USB3PllTestBusIn = 0;
  int32_t USB3PllTestBusInGiven = 0;
  uint32_t USB2AFETestBusIn = 0;
  int32_t USB2AFETestBusInGiven = 0;
  uint32_t USB3AFETestBusIn0 = 0;
  int32_t USB3AFETestBusIn0Given = 0;
  uint32_t USB3AFETestBusIn1 = 0;
  int32_t USB3AFETestBusIn1Given = 0;
  uint32_t USB2ExtAttributes = 0;
  int32_t USB2ExtAttributesGiven = 0;
  uint32_t SpeedsSupported = 0;
  int32_t SpeedsSupportedGiven = 0;
  uint32_t FunctionalitySupport = 0;
  int32_t FunctionalitySupportGiven = 0;
  uint32_t U1DevExitLatency = 0;
  int32_t U1DevExitLatencyGiven = 0;
  uint32_t U2DevExitLatency = 0;
  int32_t U2DevExitLatencyGiven = 0;

  // INI presence and completion markers of this run.
  IniMarkers markers;

  // What a write to the device did, for the production record: the memory
  // ("EEPROM", "OTP F3", "OTP F7"), the bytes the device accepted, the
  // SHA-256 of those bytes, and the outcome of the read-back compare.
  struct ProgrammingOutcome {
    enum Verify { kNotRun, kPassed, kFailed };
    std::string memory;
    int bytes_written = 0;
    std::string image_sha256;
    Verify verify = kNotRun;
  };
  ProgrammingOutcome Programmed;

  // The options of the command line that set the identity or its stepping,
  // in the order given, each once ("-M -N"): an identity pool refuses them.
  std::string IdentityOptions;

  // The identity file of a run that writes the stepped identity back (-w
  // with -N): the binary image when one is named, else the INI file, with
  // every link resolved, so that stations reaching one file by different
  // names lock and rewrite the same file. Absent in other runs.
  OptText IdentityFilePath;
  // Exclusive lock on the identity file itself, held from before the read of
  // the file until its write-back is done; empty otherwise.
  std::shared_ptr<platform::FileLock> IdentityLock;
};

// Image buffer size: larger than the largest EEPROM so that an oversized
// binary file shows in its byte count.
constexpr int kImageBufferSize = 546;
using ImageBuffer = std::array<uint8_t, kImageBufferSize>;
