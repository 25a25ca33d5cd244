// Windows networking for the network tests: Winsock 2.2 raw sockets with
// the receive-all switch, the IP Helper adapter list, address table and ARP
// rows, the performance counter, and the ICMP libraries loaded by name.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "platform/net_host.h"

namespace platform::net {
namespace {

// WSAIoctl control code that makes a raw socket receive every IP packet of
// the interface it is bound to (mstcpip.h's SIO_RCVALL).
constexpr DWORD kSioRcvall = 0x98000001;
constexpr DWORD kRcvallOn = 1;
// MIB_IPNET_TYPE_STATIC.
constexpr DWORD kArpTypeStatic = 4;

SOCKET Sock(uintptr_t handle) { return static_cast<SOCKET>(handle); }

// The host's IPv4 address table: ask with an empty buffer, then with the
// size the answer reports.
PMIB_IPADDRTABLE LoadAddressTable() {
  ULONG size = 0;
  PMIB_IPADDRTABLE table = nullptr;
  DWORD result = GetIpAddrTable(nullptr, &size, FALSE);
  if (result == ERROR_INSUFFICIENT_BUFFER) {
    table = static_cast<PMIB_IPADDRTABLE>(std::malloc(size));
    if (table == nullptr) return nullptr;
    result = GetIpAddrTable(table, &size, FALSE);
  }
  if (result != NO_ERROR || table == nullptr || table->dwNumEntries == 0) {
    std::free(table);
    return nullptr;
  }
  return table;
}

std::string Narrow(const wchar_t* text) {
  if (text == nullptr) return {};
  char buffer[1024] = {};
  const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
  if (n <= 0) return {};
  std::string out(buffer);
  if (out.size() > 254) out.resize(254);
  return out;
}

}  // namespace

uint32_t StartSockets() {
  WSADATA data{};
  const int result = WSAStartup(MAKEWORD(2, 2), &data);
  return static_cast<uint32_t>(result);
}

void StopSockets() { WSACleanup(); }

uint32_t LastError() { return static_cast<uint32_t>(WSAGetLastError()); }
void SetLastError(uint32_t code) { WSASetLastError(static_cast<int>(code)); }

bool ParseDottedQuad(const char* text, uint32_t& address) {
  IN_ADDR a{};
  if (text == nullptr || inet_pton(AF_INET, text, &a) != 1) return false;
  address = a.s_addr;
  return true;
}

bool LookUpHost(const char* text, uint32_t& address) {
  ADDRINFOA hints{};
  hints.ai_family = AF_INET;
  ADDRINFOA* answer = nullptr;
  if (text == nullptr || getaddrinfo(text, nullptr, &hints, &answer) != 0 || answer == nullptr) {
    return false;
  }
  sockaddr_in sin{};
  std::memcpy(&sin, answer->ai_addr, sizeof sin);
  address = sin.sin_addr.s_addr;
  freeaddrinfo(answer);
  return true;
}

bool OpenRawSocket(RawProtocol protocol, RawSocket& s) {
  const int proto = protocol == RawProtocol::kIcmp ? IPPROTO_ICMP : IPPROTO_IP;
  const SOCKET sock = socket(AF_INET, SOCK_RAW, proto);
  if (sock == INVALID_SOCKET) return false;
  s.handle = static_cast<uintptr_t>(sock);
  s.capture = kNoSocket;
  return true;
}

void CloseSocket(RawSocket& s) {
  const int saved = WSAGetLastError();
  if (s.handle != kNoSocket) closesocket(Sock(s.handle));
  s.handle = kNoSocket;
  s.capture = kNoSocket;
  WSASetLastError(saved);
}

bool SetIpOption(RawSocket& s, IpOption option, int value) {
  const int name = option == IpOption::kTtl ? IP_TTL : IP_TOS;
  return setsockopt(Sock(s.handle), IPPROTO_IP, name, reinterpret_cast<const char*>(&value),
                    sizeof value) != SOCKET_ERROR;
}

bool BindSocket(RawSocket& s, uint32_t address) {
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = address;
  sin.sin_port = 0;
  return bind(Sock(s.handle), reinterpret_cast<sockaddr*>(&sin), sizeof sin) != SOCKET_ERROR;
}

bool ReceiveAllPackets(RawSocket& s) {
  DWORD on = kRcvallOn;
  DWORD returned = 0;
  return WSAIoctl(Sock(s.handle), kSioRcvall, &on, sizeof on, nullptr, 0, &returned, nullptr,
                  nullptr) != SOCKET_ERROR;
}

int SendTo(RawSocket& s, const uint8_t* data, size_t length, uint32_t address) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = address;
  const int sent = sendto(Sock(s.handle), reinterpret_cast<const char*>(data),
                          static_cast<int>(length), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  return sent == SOCKET_ERROR ? -1 : sent;
}

int WaitReadable(RawSocket& s, uint32_t timeout_ms) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(Sock(s.handle), &readable);
  timeval timeout{static_cast<long>(timeout_ms / 1000), static_cast<long>(timeout_ms % 1000) * 1000};
  const int r = select(0, &readable, nullptr, nullptr, &timeout);
  if (r == SOCKET_ERROR) return -1;
  return FD_ISSET(Sock(s.handle), &readable) ? 1 : 0;
}

int ReceiveFrom(RawSocket& s, uint8_t* buffer, size_t size, uint32_t& sender) {
  sockaddr_in from{};
  int len = sizeof from;
  const int n = recvfrom(Sock(s.handle), reinterpret_cast<char*>(buffer), static_cast<int>(size), 0,
                         reinterpret_cast<sockaddr*>(&from), &len);
  if (n == SOCKET_ERROR) return -1;
  sender = from.sin_addr.s_addr;
  return n;
}

AdapterListStatus ListAdapters(std::vector<AdapterEntry>& adapters, uint32_t& error) {
  adapters.clear();
  constexpr ULONG kFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST;
  ULONG size = 144;
  auto* list = static_cast<PIP_ADAPTER_ADDRESSES>(std::malloc(size));
  if (list == nullptr) return AdapterListStatus::kNoMemory;
  ULONG result = GetAdaptersAddresses(AF_INET, kFlags, nullptr, list, &size);
  if (result == ERROR_BUFFER_OVERFLOW) {
    std::free(list);
    list = static_cast<PIP_ADAPTER_ADDRESSES>(std::malloc(size));
    if (list == nullptr) return AdapterListStatus::kNoMemory;
  }
  // Asked a second time whatever the first answer was: the list may have
  // changed in between.
  result = GetAdaptersAddresses(AF_INET, kFlags, nullptr, list, &size);
  if (result != NO_ERROR) {
    std::free(list);
    error = result;
    return AdapterListStatus::kFailed;
  }
  for (PIP_ADAPTER_ADDRESSES a = list; a != nullptr; a = a->Next) {
    AdapterEntry entry;
    entry.description = Narrow(a->Description);
    entry.interface_index = a->IfIndex;
    for (PIP_ADAPTER_UNICAST_ADDRESS u = a->FirstUnicastAddress; u != nullptr; u = u->Next) {
      char host[NI_MAXHOST] = {};
      UnicastAddress address;
      address.converted = getnameinfo(u->Address.lpSockaddr, u->Address.iSockaddrLength, host,
                                      sizeof host, nullptr, 0, NI_NUMERICHOST) == 0;
      if (address.converted) address.text = host;
      entry.unicast.push_back(std::move(address));
    }
    adapters.push_back(std::move(entry));
  }
  std::free(list);
  error = 0;
  return AdapterListStatus::kOk;
}

bool FirstAddressTableInterface(uint32_t& interface_index) {
  PMIB_IPADDRTABLE table = LoadAddressTable();
  if (table == nullptr) return false;
  interface_index = table->table[0].dwIndex;
  std::free(table);
  return true;
}

bool AddStaticArp(uint32_t interface_index, uint32_t address, const uint8_t (&mac)[6]) {
  MIB_IPNETROW row{};
  row.dwIndex = interface_index;
  row.dwPhysAddrLen = 6;
  std::memcpy(row.bPhysAddr, mac, 6);
  row.dwAddr = address;
  row.dwType = kArpTypeStatic;
  return CreateIpNetEntry(&row) == NO_ERROR;
}

bool DeleteArp(uint32_t interface_index, uint32_t address) {
  MIB_IPNETROW row{};
  row.dwIndex = interface_index;
  row.dwAddr = address;
  return DeleteIpNetEntry(&row) == NO_ERROR;
}

bool PerformanceFrequency(int64_t& frequency) {
  LARGE_INTEGER f{};
  if (!QueryPerformanceFrequency(&f) || f.QuadPart == 0) return false;
  frequency = f.QuadPart;
  return true;
}

int64_t PerformanceCounter() {
  LARGE_INTEGER c{};
  QueryPerformanceCounter(&c);
  return c.QuadPart;
}

uint32_t TickCount() { return static_cast<uint32_t>(GetTickCount()); }

uint32_t ProcessId() { return static_cast<uint32_t>(GetCurrentProcessId()); }

bool HasIcmpLibraries() { return true; }

uintptr_t LoadLibraryByName(const char* name) {
  return reinterpret_cast<uintptr_t>(LoadLibraryA(name));
}

uintptr_t LibraryFunction(uintptr_t library, const char* name) {
  if (library == 0) return 0;
  return reinterpret_cast<uintptr_t>(GetProcAddress(reinterpret_cast<HMODULE>(library), name));
}

void FreeLibraryHandle(uintptr_t library) {
  if (library != 0) FreeLibrary(reinterpret_cast<HMODULE>(library));
}

}  // namespace platform::net
