#include "net/ping.h"

#include <cstring>
#include <memory>
#include <new>

#include "core/output.h"

namespace pn = platform::net;

namespace {

uint16_t Load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

std::unique_ptr<uint8_t[]> TakeBuffer(size_t size) {
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[size]);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "00-aa-bb-cc-dd-ee": pairs of hexadecimal digits separated by '-'.
bool ParseDashedMac(const char* text, uint8_t (&mac)[6]) {
  for (int i = 0; i < 6; ++i) {
    const char* p = text + 3 * i;
    const int hi = HexDigit(p[0]);
    const int lo = hi < 0 ? -1 : HexDigit(p[1]);
    if (lo < 0) return false;
    mac[i] = static_cast<uint8_t>(hi * 16 + lo);
    if (i < 5 && p[2] != '-') return false;
  }
  return true;
}

// The interface an ARP row goes to: the given one, or for 0 the interface of
// the first row of the host's IPv4 address table.
bool ArpInterface(uint32_t given, uint32_t& index) {
  if (given != 0) {
    index = given;
    return true;
  }
  return pn::FirstAddressTableInterface(index);
}

// The IP header length of a received packet, from its first byte.
size_t IpHeaderLength(const uint8_t* packet) { return 4u * (packet[0] & 0x0Fu); }

// Closes the socket on every way out, keeping the error value that made the
// call give up.
struct SocketCloser {
  pn::RawSocket& socket;
  ~SocketCloser() { pn::CloseSocket(socket); }
};

// Removes the loopback peer's ARP row on every way out.
struct ArpRemover {
  const char* peer;
  uint32_t interface_index;
  ~ArpRemover() {
    const uint32_t saved = pn::LastError();
    CPing::RemoveStaticArpEntry(peer, interface_index);
    pn::SetLastError(saved);
  }
};

}  // namespace

CPing::CPing() {
  if (!pn::HasIcmpLibraries()) return;
  library_ = pn::LoadLibraryByName("Iphlpapi.dll");
  if (library_ != 0) {
    icmp_create_file_ = pn::LibraryFunction(library_, "IcmpCreateFile");
    icmp_send_echo_ = pn::LibraryFunction(library_, "IcmpSendEcho");
    icmp_close_handle_ = pn::LibraryFunction(library_, "IcmpCloseHandle");
    if (icmp_create_file_ == 0 || icmp_send_echo_ == 0 || icmp_close_handle_ == 0) {
      PrintError(
          "CPing::CPing, Could not find the required functions in the Iphlpapi dll, will try "
          "ICMP.dll\n");
      ReleaseLibrary();
    }
  }
  if (library_ != 0) return;
  PrintError("CPing::CPing, Falling back to trying ICMP DLL\n");
  library_ = pn::LoadLibraryByName("ICMP.DLL");
  if (library_ == 0) {
    PrintError("CPing::CPing, Could not load up the ICMP dll\n");
    return;
  }
  icmp_create_file_ = pn::LibraryFunction(library_, "IcmpCreateFile");
  icmp_send_echo_ = pn::LibraryFunction(library_, "IcmpSendEcho");
  icmp_close_handle_ = pn::LibraryFunction(library_, "IcmpCloseHandle");
  if (icmp_create_file_ == 0 || icmp_send_echo_ == 0 || icmp_close_handle_ == 0) {
    PrintError("CPing::CPing, Could not find the required functions in the ICMP.dll\n");
    ReleaseLibrary();
  }
}

CPing::~CPing() { ReleaseLibrary(); }

void CPing::ReleaseLibrary() {
  pn::FreeLibraryHandle(library_);
  library_ = 0;
  icmp_create_file_ = 0;
  icmp_send_echo_ = 0;
  icmp_close_handle_ = 0;
}

bool CPing::ResolveHost(const char* host, uint32_t& address) {
  if (pn::ParseDottedQuad(host, address)) return true;
  return pn::LookUpHost(host, address);
}

bool CPing::BindToLocalAddress(pn::RawSocket& socket, const char* address) {
  uint32_t local = 0;  // no text: the wildcard address
  if (address != nullptr && *address != '\0' && !ResolveHost(address, local)) return false;
  return pn::BindSocket(socket, local);
}

void CPing::BuildEchoRequest(uint8_t* buffer, size_t size, uint16_t sequence,
                             uint32_t identifier) {
  if (size < 12) return;  // not even the header and the time stamp fit
  const uint32_t first_word = 8;  // type 8 echo request, code 0, checksum 0
  std::memcpy(buffer, &first_word, 4);
  const uint16_t id = static_cast<uint16_t>(identifier);
  std::memcpy(buffer + 4, &id, 2);
  std::memcpy(buffer + 6, &sequence, 2);
  const uint32_t ticks = pn::TickCount();
  std::memcpy(buffer + 8, &ticks, 4);
  std::memset(buffer + 12, kPayloadByte, size - 12);
  const uint16_t sum = InternetChecksum(buffer, size);
  std::memcpy(buffer + 2, &sum, 2);
}

bool CPing::DecodeEchoReply(const uint8_t* packet, size_t length, uint32_t /*sender*/,
                            uint16_t sequence, bool& keep_waiting) {
  keep_waiting = true;
  // An empty packet has no header length byte to read.
  if (length == 0 || length < IpHeaderLength(packet) + 12) {
    pn::SetLastError(pn::kErrorUnexpectedNet);
    return false;
  }
  const size_t h = IpHeaderLength(packet);
  if (Load16(packet + h + 4) != static_cast<uint16_t>(pn::ProcessId())) return false;
  if (Load16(packet + h + 6) != sequence) return false;
  keep_waiting = false;
  if (packet[h] != 0) {
    pn::SetLastError(pn::kErrorUnexpectedNet);
    return false;
  }
  return true;
}

bool CPing::ComparePayload(const uint8_t* packet, size_t length, const uint8_t* data,
                           size_t count) {
  if (length == 0 || length < count + IpHeaderLength(packet)) {
    pn::SetLastError(pn::kErrorUnexpectedNet);
    return false;
  }
  return std::memcmp(packet + IpHeaderLength(packet), data, count) == 0;
}

uint16_t CPing::InternetChecksum(const uint8_t* buffer, size_t length) {
  uint32_t sum = 0;
  size_t i = 0;
  for (; i + 1 < length; i += 2) sum += Load16(buffer + i);
  if (i < length) {
    // The odd byte is padded with a zero byte behind it, as a word in memory.
    const uint8_t last[2] = {buffer[i], 0};
    sum += Load16(last);
  }
  sum = (sum >> 16) + (sum & 0xFFFFu);
  sum += sum >> 16;
  return static_cast<uint16_t>(~sum);
}

void CPing::FillPayload(uint8_t* buffer, size_t size) {
  if (size > 20) std::memset(buffer + 20, kPayloadByte, size - 20);
}

bool CPing::PingUsingWinsock(const char* host, EchoResult& result, uint32_t identifier) {
  int64_t frequency = 0;
  if (!pn::PerformanceFrequency(frequency)) {
    PrintError("CPing::PingUsingWinsock, Failed to get the high performance counter frequency\n");
    return false;
  }
  uint32_t destination = 0;
  if (!ResolveHost(host, destination)) return false;

  pn::RawSocket socket;
  if (!pn::OpenRawSocket(pn::RawProtocol::kIcmp, socket)) return false;
  SocketCloser closer{socket};
  if (!pn::SetIpOption(socket, pn::IpOption::kTtl, kEchoTtl) ||
      !pn::SetIpOption(socket, pn::IpOption::kTos, kEchoTos)) {
    return false;
  }
  auto request = TakeBuffer(kEchoRequestSize);
  auto receive = TakeBuffer(kPingReceiveSize);
  if (!request || !receive) return false;
  BuildEchoRequest(request.get(), kEchoRequestSize, 0, identifier);

  const int64_t start = pn::PerformanceCounter();
  if (pn::SendTo(socket, request.get(), kEchoRequestSize, destination) < 0) return false;

  bool accepted = false;
  bool keep_waiting = true;
  uint32_t sender = 0;
  while (keep_waiting) {
    const WaitResult wait = WaitReadable(socket);
    if (!wait.ok) return false;
    if (!wait.readable) {
      pn::SetLastError(pn::kErrorTimedOut);
      return false;
    }
    const int length = pn::ReceiveFrom(socket, receive.get(), kPingReceiveSize, sender);
    if (length < 0) return false;
    accepted = DecodeEchoReply(receive.get(), static_cast<size_t>(length), sender, 0, keep_waiting);
  }
  const int64_t end = pn::PerformanceCounter();
  if (accepted) {
    result.replying_address = sender;
    result.round_trip_ms = static_cast<uint32_t>((end - start) * 1000 / frequency);
  }
  return accepted;
}

bool CPing::loopbackTest(uint32_t interface_index, const char* own_address) {
  const std::optional<std::string> peer_text = LoopbackPeerAddress(own_address);
  if (!peer_text) return false;
  char peer[20] = {};
  std::strncpy(peer, peer_text->c_str(), sizeof peer - 1);

  AddStaticArpEntry(peer, interface_index);
  ArpRemover remover{peer, interface_index};

  int64_t frequency = 0;
  if (!pn::PerformanceFrequency(frequency)) {
    PrintError("CPing::loopbackTest, Failed to get the high performance counter frequency\n");
    return false;
  }
  uint32_t destination = 0;
  if (!ResolveHost(peer, destination)) return false;

  pn::RawSocket socket;
  if (!pn::OpenRawSocket(pn::RawProtocol::kIp, socket)) return false;
  SocketCloser closer{socket};
  if (own_address != nullptr && *own_address != '\0' && !BindToLocalAddress(socket, own_address)) {
    return false;
  }
  if (!pn::ReceiveAllPackets(socket)) return false;

  uint8_t payload[kLoopbackPayloadSize];
  std::memset(payload, kPayloadByte, sizeof payload);
  auto receive = TakeBuffer(kLoopbackReceiveSize);
  if (!receive) return false;
  (void)pn::PerformanceCounter();

  const int sent = pn::SendTo(socket, payload, sizeof payload, destination);
  if (sent < 0) return false;

  // The capture sees the datagram twice: leaving the interface, then coming
  // back through the plug. Only the second one tells.
  for (int packets = 0;;) {
    const WaitResult wait = WaitReadable(socket);
    if (!wait.ok) return false;
    std::memset(receive.get(), 0, kLoopbackReceiveSize);
    if (!wait.readable) {
      pn::SetLastError(pn::kErrorTimedOut);
      return false;
    }
    uint32_t sender = 0;
    const int length = pn::ReceiveFrom(socket, receive.get(), kLoopbackReceiveSize, sender);
    if (length < 0) return false;
    const bool match = ComparePayload(receive.get(), static_cast<size_t>(length), payload,
                                      static_cast<size_t>(sent));
    if (++packets == 2) return match;
  }
}

bool CPing::IsValidIpv4Address(const char* text) {
  if (text == nullptr) return false;
  const size_t length = std::strlen(text);
  if (length > 15) return false;
  int dots = 0;
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == '.') {
      ++dots;
    } else if (text[i] < '0' || text[i] > '9') {
      return false;
    }
  }
  if (dots != 3) return false;

  int parts[4] = {};
  int count = 0;
  for (size_t i = 0; i < length;) {
    if (text[i] == '.') {  // empty parts are skipped
      ++i;
      continue;
    }
    size_t end = i;
    while (end < length && text[end] != '.') ++end;
    if (end - i > 3) return false;
    int value = 0;
    for (size_t k = i; k < end; ++k) value = value * 10 + (text[k] - '0');
    if (value > 255) return false;
    if (count == 0 && value < 1) return false;
    if (count == 4) return false;
    parts[count++] = value;
    i = end;
  }
  return count == 4 && parts[1] + parts[2] + parts[3] != 0;
}

std::optional<std::string> CPing::LoopbackPeerAddress(const char* own_address) {
  if (own_address == nullptr) return std::nullopt;
  const std::string own(own_address);
  if (own.size() > 15) return std::nullopt;
  int dots = 0;
  for (char c : own) {
    if (c == '.') {
      ++dots;
    } else if (c < '0' || c > '9') {
      return std::nullopt;
    }
  }
  if (dots != 3) return std::nullopt;
  const size_t last_dot = own.rfind('.');
  const std::string last = own.substr(last_dot + 1);
  return own.substr(0, last_dot + 1) + (last == "22" ? "21" : "22");
}

void CPing::AddStaticArpEntry(const char* address, uint32_t interface_index) {
  uint32_t ip = 0;
  if (!pn::ParseDottedQuad(address, ip)) return;
  uint8_t mac[6] = {};
  if (!ParseDashedMac(kLoopbackPeerMac, mac)) return;
  uint32_t index = 0;
  if (!ArpInterface(interface_index, index)) return;
  (void)pn::AddStaticArp(index, ip, mac);
}

void CPing::RemoveStaticArpEntry(const char* address, uint32_t interface_index) {
  uint32_t ip = 0;
  if (!pn::ParseDottedQuad(address, ip)) return;
  uint32_t index = 0;
  if (!ArpInterface(interface_index, index)) return;
  (void)pn::DeleteArp(index, ip);
}

CPing::WaitResult CPing::WaitReadable(pn::RawSocket& socket) {
  const int r = pn::WaitReadable(socket, kWaitMs);
  return {r >= 0, r > 0};
}
