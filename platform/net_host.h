// The host's IPv4 networking as the network tests need it: the sockets
// subsystem, raw sockets, the adapter list, the ARP table, the clocks and the
// process identity. One implementation per operating system; nothing here
// knows about the controller.
//
// Addresses are IPv4 addresses in network byte order, as they travel.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform::net {

// Error numbers the network code leaves behind. They use the Windows
// numbering on every system, so callers see one set of values.
constexpr uint32_t kErrorTimedOut = 10060;       // WSAETIMEDOUT: nothing arrived in time
constexpr uint32_t kErrorUnexpectedNet = 59;     // ERROR_UNEXP_NET_ERR: unusable packet
constexpr uint32_t kErrorBufferOverflow = 111;   // ERROR_BUFFER_OVERFLOW
constexpr uint32_t kErrorInsufficientBuffer = 122;

// Starts the sockets subsystem (Winsock 2.2 on Windows). Returns 0 or the
// error number of the start-up.
uint32_t StartSockets();
// Stops it again; one call per successful start.
void StopSockets();

// The calling thread's last socket or system error number.
uint32_t LastError();
void SetLastError(uint32_t code);

// Strict dotted-quad conversion ("a.b.c.d").
bool ParseDottedQuad(const char* text, uint32_t& address);
// Host name lookup: the first IPv4 address of the answer.
bool LookUpHost(const char* text, uint32_t& address);

// What a raw socket carries.
enum class RawProtocol {
  kIcmp,  // ICMP: replies are received with their IP header
  kIp,    // plain IP datagrams; the stack adds the IP header when sending
};

enum class IpOption { kTtl, kTos };

constexpr uintptr_t kNoSocket = ~uintptr_t{0};

// A raw IPv4 socket. `capture` is used by systems whose "receive every IP
// packet of the interface" needs a second, link-level socket.
struct RawSocket {
  uintptr_t handle = kNoSocket;
  uintptr_t capture = kNoSocket;
};

bool OpenRawSocket(RawProtocol protocol, RawSocket& socket);
// Closes whatever is open; safe to call on a closed socket.
void CloseSocket(RawSocket& socket);
bool SetIpOption(RawSocket& socket, IpOption option, int value);
// Binds to a local IPv4 address, port 0 (0 = the wildcard address).
bool BindSocket(RawSocket& socket, uint32_t address);
// Switches a bound socket to receive every IP packet of its interface, both
// the ones the interface sends and the ones it receives.
bool ReceiveAllPackets(RawSocket& socket);
// Sends a datagram to `address`, port 0. Returns the bytes sent or -1.
int SendTo(RawSocket& socket, const uint8_t* data, size_t length, uint32_t address);
// Waits up to `timeout_ms` for a packet: -1 the wait failed, 0 nothing
// arrived, 1 a packet is waiting.
int WaitReadable(RawSocket& socket, uint32_t timeout_ms);
// Receives one IP packet, IP header first. Returns its length or -1; `sender`
// is the packet's source address.
int ReceiveFrom(RawSocket& socket, uint8_t* buffer, size_t size, uint32_t& sender);

// One unicast address of an adapter, as numeric host text.
struct UnicastAddress {
  bool converted = false;  // false: the numeric conversion failed
  std::string text;
};

// One network adapter with IPv4 addresses, in the host's list order.
struct AdapterEntry {
  std::string description;  // at most 254 characters
  uint32_t interface_index = 0;
  std::vector<UnicastAddress> unicast;
};

enum class AdapterListStatus { kOk, kNoMemory, kFailed };

// The host's adapters with their IPv4 unicast addresses (anycast and
// multicast skipped). On kFailed `error` holds the system's error number.
AdapterListStatus ListAdapters(std::vector<AdapterEntry>& adapters, uint32_t& error);

// The interface index of the first row of the host's IPv4 address table.
bool FirstAddressTableInterface(uint32_t& interface_index);

// Static ARP rows. Results are reported but callers may ignore them.
bool AddStaticArp(uint32_t interface_index, uint32_t address, const uint8_t (&mac)[6]);
bool DeleteArp(uint32_t interface_index, uint32_t address);

// High-resolution counter and its frequency (counts per second).
bool PerformanceFrequency(int64_t& frequency);
int64_t PerformanceCounter();
// Milliseconds since the system started (wraps).
uint32_t TickCount();
uint32_t ProcessId();

// The ICMP helper libraries loaded by name at run time. Systems without such
// libraries report false here and the loader steps are skipped.
bool HasIcmpLibraries();
uintptr_t LoadLibraryByName(const char* name);  // 0 when it cannot be loaded
uintptr_t LibraryFunction(uintptr_t library, const char* name);  // 0 when missing
void FreeLibraryHandle(uintptr_t library);

}  // namespace platform::net
