// Linux networking for the network tests: raw sockets, a packet socket for
// capturing every IP packet of an interface, the ARP table through ioctls,
// adapters from getifaddrs with the interface alias as their description.
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <net/if_arp.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "platform/net_host.h"

namespace platform::net {
namespace {

// Linux refuses raw IPv4 sockets for protocol 0, so plain datagrams go out
// with the protocol number reserved for experiments (RFC 3692).
constexpr int kPlainIpProtocol = 253;

int Fd(uintptr_t handle) { return static_cast<int>(handle); }

int64_t MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

std::string InterfaceAlias(const char* name) {
  std::string alias;
  std::ifstream file(std::string("/sys/class/net/") + name + "/ifalias");
  if (file) std::getline(file, alias);
  while (!alias.empty() && (alias.back() == '\n' || alias.back() == '\r')) alias.pop_back();
  return alias.empty() ? std::string(name) : alias;
}

// Interface index of the interface that carries the local IPv4 address.
bool InterfaceOfAddress(uint32_t address, int& index) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  bool found = false;
  for (ifaddrs* it = list; it != nullptr && !found; it = it->ifa_next) {
    if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
    sockaddr_in sin{};
    std::memcpy(&sin, it->ifa_addr, sizeof sin);
    if (sin.sin_addr.s_addr == address) {
      index = static_cast<int>(if_nametoindex(it->ifa_name));
      found = index > 0;
    }
  }
  freeifaddrs(list);
  return found;
}

// The ARP ioctls name the interface, not its index.
bool ArpRequest(unsigned long request, uint32_t interface_index, uint32_t address,
                const uint8_t* mac) {
  arpreq req{};
  char name[IF_NAMESIZE] = {};
  if (if_indextoname(interface_index, name) == nullptr) return false;
  std::memcpy(req.arp_dev, name, sizeof req.arp_dev < sizeof name ? sizeof req.arp_dev : sizeof name);
  req.arp_dev[sizeof req.arp_dev - 1] = '\0';
  sockaddr_in pa{};
  pa.sin_family = AF_INET;
  pa.sin_addr.s_addr = address;
  std::memcpy(&req.arp_pa, &pa, sizeof pa);
  if (mac != nullptr) {
    req.arp_ha.sa_family = ARPHRD_ETHER;
    std::memcpy(req.arp_ha.sa_data, mac, 6);
    req.arp_flags = ATF_PERM | ATF_COM;
  }
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool ok = ioctl(fd, request, &req) == 0;
  const int saved = errno;
  close(fd);
  errno = saved;
  return ok;
}

}  // namespace

uint32_t StartSockets() { return 0; }
void StopSockets() {}

uint32_t LastError() { return static_cast<uint32_t>(errno); }
void SetLastError(uint32_t code) { errno = static_cast<int>(code); }

bool ParseDottedQuad(const char* text, uint32_t& address) {
  in_addr a{};
  if (text == nullptr || inet_pton(AF_INET, text, &a) != 1) return false;
  address = a.s_addr;
  return true;
}

bool LookUpHost(const char* text, uint32_t& address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* answer = nullptr;
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
  const int proto = protocol == RawProtocol::kIcmp ? IPPROTO_ICMP : kPlainIpProtocol;
  const int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, proto);
  if (fd < 0) return false;
  s.handle = static_cast<uintptr_t>(fd);
  s.capture = kNoSocket;
  return true;
}

void CloseSocket(RawSocket& s) {
  const int saved = errno;
  if (s.capture != kNoSocket) close(Fd(s.capture));
  if (s.handle != kNoSocket) close(Fd(s.handle));
  s.capture = kNoSocket;
  s.handle = kNoSocket;
  errno = saved;
}

bool SetIpOption(RawSocket& s, IpOption option, int value) {
  const int name = option == IpOption::kTtl ? IP_TTL : IP_TOS;
  return setsockopt(Fd(s.handle), IPPROTO_IP, name, &value, sizeof value) == 0;
}

bool BindSocket(RawSocket& s, uint32_t address) {
  sockaddr_in sin{};
  sin.sin_family = AF_INET;
  sin.sin_addr.s_addr = address;
  sin.sin_port = 0;
  return bind(Fd(s.handle), reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0;
}

bool ReceiveAllPackets(RawSocket& s) {
  sockaddr_in local{};
  socklen_t len = sizeof local;
  if (getsockname(Fd(s.handle), reinterpret_cast<sockaddr*>(&local), &len) != 0) return false;
  int index = 0;
  if (local.sin_addr.s_addr == INADDR_ANY || !InterfaceOfAddress(local.sin_addr.s_addr, index)) {
    errno = EINVAL;  // like the receive-all switch: only on a socket bound to an interface address
    return false;
  }
  // All protocols, so that the interface's own outgoing frames are seen as
  // well; cooked (SOCK_DGRAM) so that the link header is already removed.
  const int fd = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  sockaddr_ll sll{};
  sll.sll_family = AF_PACKET;
  sll.sll_protocol = htons(ETH_P_ALL);
  sll.sll_ifindex = index;
  if (bind(fd, reinterpret_cast<sockaddr*>(&sll), sizeof sll) != 0) {
    const int saved = errno;
    close(fd);
    errno = saved;
    return false;
  }
  s.capture = static_cast<uintptr_t>(fd);
  return true;
}

int SendTo(RawSocket& s, const uint8_t* data, size_t length, uint32_t address) {
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = address;
  const ssize_t sent =
      sendto(Fd(s.handle), data, length, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  return sent < 0 ? -1 : static_cast<int>(sent);
}

int WaitReadable(RawSocket& s, uint32_t timeout_ms) {
  const bool capturing = s.capture != kNoSocket;
  pollfd p{capturing ? Fd(s.capture) : Fd(s.handle), POLLIN, 0};
  const int64_t deadline = MonotonicMs() + timeout_ms;
  for (;;) {
    const int64_t left = deadline - MonotonicMs();
    p.revents = 0;
    const int r = poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
    if (r < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (r == 0) return 0;
    if (!capturing) return 1;
    // The capture sees every protocol: drop what is not IPv4 so that
    // "readable" means an IP packet is waiting.
    sockaddr_ll from{};
    socklen_t len = sizeof from;
    uint8_t probe[1];
    const ssize_t n = recvfrom(p.fd, probe, sizeof probe, MSG_PEEK | MSG_DONTWAIT,
                               reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
      return -1;
    }
    if (from.sll_protocol == htons(ETH_P_IP)) return 1;
    recv(p.fd, probe, sizeof probe, MSG_DONTWAIT);
    if (left <= 0) return 0;
  }
}

int ReceiveFrom(RawSocket& s, uint8_t* buffer, size_t size, uint32_t& sender) {
  if (s.capture == kNoSocket) {
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = recvfrom(Fd(s.handle), buffer, size, 0, reinterpret_cast<sockaddr*>(&from),
                               &len);
    if (n < 0) return -1;
    sender = from.sin_addr.s_addr;
    return static_cast<int>(n);
  }
  for (;;) {
    sockaddr_ll from{};
    socklen_t len = sizeof from;
    const ssize_t n = recvfrom(Fd(s.capture), buffer, size, MSG_DONTWAIT,
                               reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return -1;
    if (from.sll_protocol != htons(ETH_P_IP)) continue;
    sender = 0;
    if (n >= 16) std::memcpy(&sender, buffer + 12, 4);
    return static_cast<int>(n);
  }
}

AdapterListStatus ListAdapters(std::vector<AdapterEntry>& adapters, uint32_t& error) {
  adapters.clear();
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) {
    error = static_cast<uint32_t>(errno);
    return AdapterListStatus::kFailed;
  }
  std::vector<std::string> names;
  for (ifaddrs* it = list; it != nullptr; it = it->ifa_next) {
    if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
    size_t i = 0;
    while (i < names.size() && names[i] != it->ifa_name) ++i;
    if (i == names.size()) {
      names.emplace_back(it->ifa_name);
      AdapterEntry entry;
      entry.description = InterfaceAlias(it->ifa_name).substr(0, 254);
      entry.interface_index = if_nametoindex(it->ifa_name);
      adapters.push_back(std::move(entry));
    }
    char host[NI_MAXHOST] = {};
    UnicastAddress address;
    address.converted = getnameinfo(it->ifa_addr, sizeof(sockaddr_in), host, sizeof host, nullptr,
                                    0, NI_NUMERICHOST) == 0;
    if (address.converted) address.text = host;
    adapters[i].unicast.push_back(std::move(address));
  }
  freeifaddrs(list);
  error = 0;
  return AdapterListStatus::kOk;
}

bool FirstAddressTableInterface(uint32_t& interface_index) {
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) != 0) return false;
  bool found = false;
  for (ifaddrs* it = list; it != nullptr && !found; it = it->ifa_next) {
    if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_INET) continue;
    interface_index = if_nametoindex(it->ifa_name);
    found = true;
  }
  freeifaddrs(list);
  return found;
}

bool AddStaticArp(uint32_t interface_index, uint32_t address, const uint8_t (&mac)[6]) {
  return ArpRequest(SIOCSARP, interface_index, address, mac);
}

bool DeleteArp(uint32_t interface_index, uint32_t address) {
  return ArpRequest(SIOCDARP, interface_index, address, nullptr);
}

bool PerformanceFrequency(int64_t& frequency) {
  frequency = 1000000000;  // the counter below counts nanoseconds
  return true;
}

int64_t PerformanceCounter() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

uint32_t TickCount() { return static_cast<uint32_t>(MonotonicMs()); }

uint32_t ProcessId() { return static_cast<uint32_t>(getpid()); }

bool HasIcmpLibraries() { return false; }
uintptr_t LoadLibraryByName(const char*) { return 0; }
uintptr_t LibraryFunction(uintptr_t, const char*) { return 0; }
void FreeLibraryHandle(uintptr_t) {}

}  // namespace platform::net
