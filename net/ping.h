// The ping engine: one ICMP echo round trip through a raw socket, and the
// external loopback check that sends one raw datagram to a neighbour address
// mapped to a fixed MAC address and captures it when it comes back.
//
// Sockets must have been started by the caller (platform::net::StartSockets).
// Failures return false silently and leave the reason in the thread's last
// error value (platform::net::LastError), 10060 on a timeout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/net_host.h"

// What an accepted echo reply tells.
struct EchoResult {
  uint32_t replying_address = 0;  // network byte order
  uint32_t round_trip_ms = 0;
};

class CPing {
 public:
  static constexpr int kEchoTtl = 10;
  static constexpr int kEchoTos = 0;
  static constexpr size_t kEchoRequestSize = 44;
  static constexpr size_t kPingReceiveSize = 65532;
  static constexpr size_t kLoopbackReceiveSize = 65540;
  static constexpr size_t kLoopbackPayloadSize = 32;
  static constexpr uint32_t kWaitMs = 1000;
  static constexpr uint8_t kPayloadByte = 0x45;  // 'E'
  static constexpr const char* kLoopbackPeerMac = "00-aa-bb-cc-dd-ee";

  // Loads the ICMP helper library where the host has one; reports when it
  // cannot, but the engine stays usable (no operation calls into it).
  CPing();
  virtual ~CPing();
  CPing(const CPing&) = delete;
  CPing& operator=(const CPing&) = delete;

  virtual bool BindToLocalAddress(platform::net::RawSocket& socket, const char* address);
  // Fills an ICMP echo request of `size` bytes (at least 12).
  virtual void BuildEchoRequest(uint8_t* buffer, size_t size, uint16_t sequence,
                                uint32_t identifier);
  // Judges one received IP packet. `keep_waiting` stays set for packets that
  // are ignored (too short, another identifier or sequence number).
  virtual bool DecodeEchoReply(const uint8_t* packet, size_t length, uint32_t sender,
                               uint16_t sequence, bool& keep_waiting);
  // Compares the bytes behind the packet's IP header with `data`.
  virtual bool ComparePayload(const uint8_t* packet, size_t length, const uint8_t* data,
                              size_t count);
  virtual uint16_t InternetChecksum(const uint8_t* buffer, size_t length);
  // Writes 0x45 into every byte from offset 20 to the end.
  virtual void FillPayload(uint8_t* buffer, size_t size);

  // One echo request to `host` (dotted quad or host name) and its reply.
  bool PingUsingWinsock(const char* host, EchoResult& result, uint32_t identifier);
  // One loopback datagram from `own_address` through the interface (0: the
  // interface of the first row of the host's IPv4 address table).
  bool loopbackTest(uint32_t interface_index, const char* own_address);

  static bool IsValidIpv4Address(const char* text);
  // The neighbour address of the loopback test: the own address with the
  // last octet "22" (or "21" when the own one is "22").
  static std::optional<std::string> LoopbackPeerAddress(const char* own_address);
  static void AddStaticArpEntry(const char* address, uint32_t interface_index);
  static void RemoveStaticArpEntry(const char* address, uint32_t interface_index);

  struct WaitResult {
    bool ok;
    bool readable;
  };
  // Waits at most 1 second for a packet on the socket.
  static WaitResult WaitReadable(platform::net::RawSocket& socket);

 private:
  bool ResolveHost(const char* host, uint32_t& address);
  void ReleaseLibrary();

  uintptr_t library_ = 0;
  uintptr_t icmp_create_file_ = 0;
  uintptr_t icmp_send_echo_ = 0;
  uintptr_t icmp_close_handle_ = 0;
};
