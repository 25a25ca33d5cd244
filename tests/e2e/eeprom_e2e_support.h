// Shared pieces of the EEPROM and OTP end-to-end tests: a simulated device
// in a temporary folder, runs of the built tool against it, the state and
// trace afterwards, and an INI configuration and binary images to program.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/sim_trace.h"
#include "support/tool_runner.h"

namespace e2e {

using Bytes = std::vector<uint8_t>;

// A complete configuration for an ORN5300: every required section, two of
// the four strings. Its EEPROM image is 254 bytes, so it fits a 256-byte
// part and either half of the OTP.
inline std::string IniText() {
  return "# Production configuration used by the memory tests\n"
         "[MacAddress]\n"
         "CurrentMacAddress=00:80:0F:11:22:30\n"
         "MaximumMacAddress=00:80:0F:11:22:FF\n"
         "MacAddressIncrement=1\n"
         "\n"
         "[SerialNumber]\n"
         "CurrentSerialNumber=000000A1\n"
         "MaximumSerialNumber=0000FFFF\n"
         "SerialNumberIncrement=1\n"
         "\n"
         "[String]\n"
         "ManufacturerString=Orion\n"
         "ProductString=ORN5300 Adapter\n"
         "ConfigurationString=Config\n"
         "InterfaceString=Ethernet\n"
         "ManufacturerEnable=1\n"
         "ProductEnable=1\n"
         "ConfigurationEnable=0\n"
         "InterfaceEnable=0\n"
         "\n"
         "[ID]\n"
         "VendorID=0x1F7B\n"
         "ProductID=0x5300\n"
         "BcdDevice=0100\n"
         "\n"
         "[Power]\n"
         "SSMaxPower=896\n"
         "HSMaxPower=500\n"
         "\n"
         "[GPIOPME0]\n"
         "GPIOPMEEnable=0\n"
         "GPIOPMEConfiguration=0\n"
         "GPIOPMELength=0\n"
         "GPIOPMEPolarity=0\n"
         "GPIOBufferType=0\n"
         "GPIOPMEWOLSelect=0\n"
         "PMEMagicPacketEnable=0\n"
         "PMEPerfectDAEnable=0\n"
         "\n"
         "[GPIOPME1]\n"
         "GPIOConnectBufferType=0\n"
         "GPIOConnectEnable=0\n"
         "GPIOConnectPolarity=0\n"
         "PMEWUFFEnable=0\n"
         "\n"
         "[LEDConfig0]\n"
         "LED3Enable=0\n"
         "LED2Enable=0\n"
         "LED1Enable=1\n"
         "LED0Enable=1\n"
         "\n"
         "[LEDConfig1]\n"
         "LED1Function=1\n"
         "LED0Function=2\n"
         "\n"
         "[LEDConfig2]\n"
         "LED3Function=0\n"
         "LED2Function=0\n"
         "\n"
         "[LEDBehaviorConfig]\n"
         "LEDBehavior=0x0000\n"
         "\n"
         "[GPIOConfig]\n"
         "GPIOEnable=0x000\n"
         "GPIOBuffer=0x000\n"
         "GPIODirection=0x000\n"
         "GPIOData=0x000\n"
         "GPIOWake=0x000\n"
         "GPIOWakePolarity=0x000\n"
         "\n"
         "[InterruptPollInterval]\n"
         "FSPollInterval=1\n"
         "HSPollInterval=4\n"
         "SSPollInterval=3\n"
         "\n"
         "[PMEWUFConfiguration]\n"
         "FilterAddressType=0\n"
         "FilterPatternOffset=0\n"
         "FilterMaskPattern=00\n"
         "\n"
         "[ConfigFlags0]\n"
         "SWModeSuspendNSelect=0\n"
         "SWModePolarity=0\n"
         "RemoteWakeupEnable=1\n"
         "SelfPower=0\n";
}

inline std::string Hex(const Bytes& b) {
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  for (uint8_t v : b) {
    s += digits[v >> 4];
    s += digits[v & 15];
  }
  return s;
}

inline Bytes Unhex(const std::string& text) {
  std::string digits;
  for (char c : text) {
    if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
  }
  Bytes out;
  for (size_t i = 0; i + 1 < digits.size(); i += 2) {
    out.push_back(static_cast<uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  }
  return out;
}

// A binary EEPROM or OTP image of `size` bytes: `first` at 0, the MAC
// address at 1 to 6, no serial string (slot 0x29 cleared), a pattern
// elsewhere.
inline Bytes BinaryImage(size_t size, uint8_t first, const Bytes& mac = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55}) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>(i * 5 + 3);
  b[0] = first;
  for (size_t i = 0; i < 6 && i + 1 < size; ++i) b[i + 1] = mac[i];
  if (size > 0x2A) b[0x29] = b[0x2A] = 0;
  return b;
}

// A binary file of a second OTP configuration, `size` bytes long: the
// signature 0xF7 at 0, zeros up to 256, image bytes 1 onward from file
// offset 257 with the MAC address first and no serial string.
inline Bytes SecondConfigFile(size_t size, const Bytes& mac = {0x00, 0x11, 0x22, 0x33, 0x44, 0x66}) {
  Bytes b(size, 0);
  b[0] = 0xF7;
  for (size_t i = 257; i < size; ++i) b[i] = static_cast<uint8_t>(i * 3 + 1);
  for (size_t i = 0; i < 6; ++i) b[257 + i] = mac[i];
  b[256 + 0x29] = b[256 + 0x2A] = 0;  // image bytes 0x29 and 0x2A
  return b;
}

// The OTP holding a first configuration whose descriptor slots end at
// `end` bytes (the fixed descriptors alone end at 192).
inline Bytes OtpWithFirstConfig(int end) {
  Bytes otp(512, 0);
  otp[0] = 0xF3;
  const uint8_t slots[][3] = {{0x2F, 22, 0x31}, {0x31, 18, 0x3C}, {0x33, 18, 0x45}, {0x35, 18, 0x4E},
                              {0x37, 18, 0x57}, {0x39, 18, 0x4E}, {0x3B, 18, 0x57}};
  for (const auto& s : slots) {
    otp[s[0]] = s[1];
    otp[s[0] + 1] = s[2];
  }
  if (end > 192) {
    otp[0x25] = static_cast<uint8_t>(end - 192);
    otp[0x26] = 0x60;
  }
  for (int i = 0xC0; i < end; ++i) otp[i] = static_cast<uint8_t>(i);
  return otp;
}

// One simulated device in its own temporary folder, which is also the
// working folder of the runs.
class SimDevice {
 public:
  test::TempDir dir;
  nlohmann::json state = nlohmann::json::object();

  std::string StatePath() const { return dir.File("device.json"); }
  std::string TracePath() const { return dir.File("trace.jsonl"); }

  void Save() const { test::WriteFile(StatePath(), state.dump(2)); }

  // Runs the tool against the device, with a fresh trace.
  test::RunResult Run(const std::vector<std::string>& args, const std::string& input = "") {
    Save();
    std::remove(TracePath().c_str());
    test::RunResult r =
        test::RunCli(args, {{"ORN5300_SIM", StatePath()}, {"ORN5300_SIM_TRACE", TracePath()}}, input, dir.path());
    state = nlohmann::json::parse(test::ReadFile(StatePath()));
    return r;
  }

  Bytes Memory(const char* key) const {
    if (!state.contains(key)) return {};
    return Unhex(state[key].get<std::string>());
  }
  std::vector<std::string> Ops() const { return test::TraceOps(TracePath()); }
  int Count(const std::string& op) const {
    int n = 0;
    for (const auto& o : Ops()) n += o == op ? 1 : 0;
    return n;
  }
  std::vector<nlohmann::json> Requests(const std::string& op) const {
    std::vector<nlohmann::json> out;
    for (const auto& r : test::TraceRequests(TracePath())) {
      if (r["op"] == op) out.push_back(r);
    }
    return out;
  }
};

// Parameter word of a block request as the trace shows it: offset, length.
inline std::pair<int, int> OffsetLength(const nlohmann::json& request) {
  const uint32_t param = static_cast<uint32_t>(std::stoul(request["param"].get<std::string>(), nullptr, 16));
  return {static_cast<int>(param & 0xFFFF), static_cast<int>(param >> 16)};
}

// Why an end-to-end run cannot show this subsystem yet, or empty when it
// can: the command line or a subsystem it needs is still a placeholder.
inline std::string NotLandedReason(const test::RunResult& r) {
  static const bool cli_ready = test::RunCli({"-h"}).out.find("Usage") != std::string::npos;
  if (!cli_ready) return "the command line has not landed yet";
  const size_t placeholder = r.out.find("is not supported by this build");
  if (placeholder != std::string::npos) {
    const size_t line = r.out.rfind('\n', placeholder);
    return "a subsystem this run needs is still a placeholder:" +
           r.out.substr(line == std::string::npos ? 0 : line + 1);
  }
  if (r.out.find("Device Not Found") != std::string::npos) return "the simulated device is not wired in yet";
  return "";
}

}  // namespace e2e

// Skips the current test with a reason while a piece it runs through is
// still missing from this build.
#define SKIP_IF_NOT_LANDED(result)                               \
  do {                                                           \
    const std::string reason_ = e2e::NotLandedReason(result);    \
    if (!reason_.empty()) GTEST_SKIP() << reason_;               \
  } while (0)
