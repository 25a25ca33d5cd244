#include "net/network_stages.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/exit_codes.h"
#include "core/output.h"
#include "net/ping.h"

namespace pn = platform::net;

namespace {

constexpr uint32_t kEthRfeCtl = 0xB0;
constexpr uint32_t kRfeLoopbackBits = 0x0700;  // bits 8 to 10, set while the loopback runs

constexpr uint16_t kPhyStatusLink = 0x0004;  // PHY 1 bit 2
constexpr uint16_t kPhySpeedConfirmed = 0x1000;  // PHY 16 / 17 bit 12

constexpr int kDiscoveryAttempts = 20;

// The sockets subsystem for one stage: stopped on every way out once it has
// started.
class SocketsSession {
 public:
  SocketsSession() = default;
  SocketsSession(const SocketsSession&) = delete;
  SocketsSession& operator=(const SocketsSession&) = delete;
  ~SocketsSession() {
    if (started_) pn::StopSockets();
  }
  // Returns 0 or the start-up's error number.
  uint32_t Start() {
    const uint32_t error = pn::StartSockets();
    started_ = error == 0;
    return error;
  }

 private:
  bool started_ = false;
};

// A fixed-size text field read up to its NUL (or its end, whichever first).
std::string TextOf(const std::array<char, 100>& field) {
  return std::string(field.data(), strnlen(field.data(), field.size()));
}

// Up to twenty discovery attempts one second apart.
bool DiscoverAdapter(RequestChannel& ch, RunSettings& rs) {
  for (int attempt = 0; attempt < kDiscoveryAttempts; ++attempt) {
    if (FindAdapterAddress(rs.AdapterAddressText, rs.AdapterInterfaceIndex)) return true;
    SleepMs(ch, 1000);
  }
  return false;
}

// Wait before the first run: longer when the driver asked for it.
void SettleBeforeFirstRun(RequestChannel& ch, uint8_t reply_byte) {
  SleepMs(ch, reply_byte == 1 ? 5000 : 3000);
}

}  // namespace

bool PickAdapterAddress(const std::vector<pn::AdapterEntry>& adapters,
                        std::array<char, 100>& address_text, uint32_t& interface_index) {
  for (const pn::AdapterEntry& adapter : adapters) {
    if (adapter.description.find(kAdapterDescriptionMatch) == std::string::npos) continue;
    std::string converted;
    for (const pn::UnicastAddress& address : adapter.unicast) {
      if (address.converted) {
        converted = address.text;
        address_text.fill('\0');
        std::memcpy(address_text.data(), converted.data(),
                    std::min(converted.size(), address_text.size() - 1));
        interface_index = adapter.interface_index;
      } else {
        PrintError("can't convert network format to presentation format");
        converted.clear();
      }
    }
    return !converted.empty();  // only the first matching adapter is looked at
  }
  return false;
}

bool FindAdapterAddress(std::array<char, 100>& address_text, uint32_t& interface_index) {
  std::vector<pn::AdapterEntry> adapters;
  uint32_t error = 0;
  switch (pn::ListAdapters(adapters, error)) {
    case pn::AdapterListStatus::kNoMemory:
      PrintError("Memory allocation failed for IP_ADAPTER_ADDRESSES struct\n");
      return false;
    case pn::AdapterListStatus::kFailed:
      PrintError("Call to GetAdaptersAddresses failed with error: %d\n", static_cast<int>(error));
      return false;
    case pn::AdapterListStatus::kOk:
      break;
  }
  return PickAdapterAddress(adapters, address_text, interface_index);
}

bool RunEchoTest(RequestChannel& ch, const char* address, uint32_t interface_index, bool loopback) {
  CPing ping;
  bool ok = false;
  if (loopback) {
    for (int attempt = 0; attempt < 3 && !ok; ++attempt) {
      ok = ping.loopbackTest(interface_index, address);
    }
    return ok;
  }
  if (!CPing::IsValidIpv4Address(address)) {
    PrintError("***Invalid IP address.***");
    return false;
  }
  for (int attempt = 0; attempt < 5 && !ok; ++attempt) {
    EchoResult result;
    if (ping.PingUsingWinsock(address, result, pn::ProcessId())) {
      std::printf("Pinged %s successfully.\n", address);
      ok = true;
    } else {
      SleepMs(ch, 1000);
    }
  }
  if (!ok) PrintError("There was no reply to pings \n");
  return ok;
}

int RunPingStage(RequestChannel& ch, RunSettings& rs, const LinkStageResult& link) {
  if (link.link_code <= 0) {
    bool up = false;
    for (int attempt = 0; attempt < 3 && !up; ++attempt) {
      up = LanPhyGetLinkState(ch) > 0;
      if (!up) SleepMs(ch, 500);
    }
    if (!up) {
      std::printf("Link is down\n");
      return kExitPing;
    }
  }

  SocketsSession sockets;
  if (const uint32_t error = sockets.Start(); error != 0) {
    PrintError("WSAStartup failed with error: %d\n", static_cast<int>(error));
    return kExitPing;
  }
  if (!DiscoverAdapter(ch, rs)) {
    PrintError("Src IP not enabled\n");
    return kExitPing;
  }
  SettleBeforeFirstRun(ch, link.reply_byte);

  const std::string destination = TextOf(rs.DestinationAddressText);
  bool passed = false;
  for (int run = 0; run < 3; ++run) {
    SleepMs(ch, 500);
    passed = RunEchoTest(ch, destination.c_str(), rs.AdapterInterfaceIndex, false);
  }
  return passed ? kExitSuccess : kExitPing;
}

namespace {

// The loopback runs at 100fd or 1000fd (the default); 0, or 8 after the
// message for any other mode given with -l.
int LoopbackLinkMode(const RunSettings& rs) {
  if (rs.LinkModeGiven && rs.LinkMode != 4 && rs.LinkMode != 5) {
    PrintError("Please set the loopback link to 100fd or 1000fd\n");
    return kExitLoopback;
  }
  return kExitSuccess;
}

}  // namespace

int CheckLoopbackLinkMode(const RunSettings& rs) {
  return rs.NetworkTest == kNetLoopback ? LoopbackLinkMode(rs) : kExitSuccess;
}

int RunLoopbackStage(RequestChannel& ch, RunSettings& rs) {
  if (rs.LinkModeGiven) {
    const int refused = LoopbackLinkMode(rs);
    if (refused != kExitSuccess) return refused;
  } else {
    rs.LinkMode = 5;
  }
  const bool gigabit = rs.LinkMode == 5;

  uint8_t reply_byte = 0;
  if (!SetLinkMode(ch, static_cast<uint32_t>(rs.LinkMode), reply_byte)) {
    PrintError(gigabit ? "Set link mode 1000fd failed\n" : "Set link mode 100fd failed\n");
    return kExitLoopback;
  }

  if (gigabit) {
    // The PHY's gigabit loopback settings. A value that could not be read is
    // not written back: that would put guessed bits into the register.
    uint16_t reg18 = 0;
    if (ReadPhy16(ch, 18, reg18)) WritePhy(ch, 18, reg18 | 0x0020u);
    WritePhy(ch, 24, 0x0401);
  }
  SleepMs(ch, 2000);

  uint16_t status = 0;
  (void)ReadPhy16(ch, 1, status);  // latched value, discarded
  bool linked = false;
  for (int poll = 0; poll < 10 && !linked; ++poll) {
    status = 0;
    linked = ReadPhy16(ch, 1, status) && (status & kPhyStatusLink) != 0;
    if (!linked) SleepMs(ch, 1000);
  }
  if (!linked) {
    std::printf("Unable to link, please check the loopback connector\n");
    return kExitLoopback;
  }

  uint16_t speed = 0;
  if (!ReadPhy16(ch, gigabit ? 17 : 16, speed)) speed = 0;
  if ((speed & kPhySpeedConfirmed) == 0) {
    std::printf(gigabit ? "Unable to link to 1000fd, check the loopback connector\n"
                        : "Unable to link to 100fd, check the loopback connector\n");
    return kExitLoopback;
  }

  SocketsSession sockets;
  if (const uint32_t error = sockets.Start(); error != 0) {
    PrintError("WSAStartup failed with error: %d\n", static_cast<int>(error));
    return kExitLoopback;
  }
  if (!DiscoverAdapter(ch, rs)) {
    PrintError("Src IP not enabled\n");
    return kExitLoopback;
  }
  SettleBeforeFirstRun(ch, reply_byte);

  uint32_t found = 0;
  if (!ReadRegister(ch, kEthRfeCtl, found)) {
    PrintError("Failed to read  ETH_RFE_CTL register\n");
    return kExitLoopback;
  }
  if (!WriteRegister(ch, kEthRfeCtl, found | kRfeLoopbackBits)) {
    PrintError("Failed to write  ETH_RFE_CTL register\n");
    return kExitLoopback;
  }

  const std::string own = TextOf(rs.AdapterAddressText);
  int exit_code = kExitLoopback;
  for (int run = 0; run < 3; ++run) {
    SleepMs(ch, 500);
    if (RunEchoTest(ch, own.c_str(), rs.AdapterInterfaceIndex, true)) {
      std::printf("Loopback Test Passed\n");
      exit_code = kExitSuccess;
    } else {
      PrintError("Loopback Test Failed\n");
      exit_code = kExitLoopback;
    }
  }

  uint32_t now = 0;
  if (!ReadRegister(ch, kEthRfeCtl, now)) {
    PrintError("Failed to read  ETH_RFE_CTL register\n");
    return kExitLoopback;
  }
  // Back to the bits as they were found: bits the driver had set itself
  // (broadcast, multicast, unicast reception) stay set.
  const uint32_t restored = (now & ~kRfeLoopbackBits) | (found & kRfeLoopbackBits);
  if (!WriteRegister(ch, kEthRfeCtl, restored)) {
    PrintError("Failed to write  ETH_RFE_CTL register\n");
    return kExitLoopback;
  }
  return exit_code;
}
