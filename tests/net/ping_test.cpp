// The ping engine's pure parts: address checks, the neighbour rule, the
// checksum, building the echo request and judging received packets.
#include "net/ping.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace pn = platform::net;

namespace {

TEST(Ipv4AddressCheck, AcceptsOnlyStrictDottedQuads) {
  struct Case {
    const char* text;
    bool valid;
  };
  const Case cases[] = {
      {"192.168.1.10", true},
      {"1.0.0.1", true},
      {"255.255.255.255", true},
      {"10.0.0.1", true},
      {"0.1.2.3", false},           // first part 0
      {"10.0.0.0", false},          // last three parts sum to 0
      {"1.2.3", false},             // two dots
      {"1.2.3.4.5", false},         // four dots
      {"256.1.1.1", false},
      {"1.1.1.256", false},
      {"1..2.3", false},            // only three parts
      {"1.2.3.", false},
      {"1234.1.1.1", false},        // part longer than three characters
      {"001.002.003.004", true},    // fifteen characters, leading zeros
      {"0001.02.003.004", false},
      {"1.2.3.4 ", false},
      {"a.b.c.d", false},
      {"-1.2.3.4", false},
      {"", false},
      {"111.111.111.1111", false},  // sixteen characters
      {"...999999999999", false},   // a long part is refused before its value is taken
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CPing::IsValidIpv4Address(c.text), c.valid) << c.text;
  }
  EXPECT_FALSE(CPing::IsValidIpv4Address(nullptr));
}

TEST(LoopbackPeer, ReplacesTheLastOctetAndRefusesOtherShapes) {
  struct Case {
    const char* own;
    const char* peer;  // null: no peer
  };
  const Case cases[] = {
      {"192.168.1.5", "192.168.1.22"},
      {"192.168.1.22", "192.168.1.21"},
      {"10.0.0.122", "10.0.0.22"},
      {"10.0.0.21", "10.0.0.22"},
      {"010.00.0.22", "010.00.0.21"},  // the first octets are copied as text
      {"1.2.3.", "1.2.3.22"},
      {"1.2.3", nullptr},
      {"1.2.3.4.5", nullptr},
      {"host.example.com", nullptr},
      {"192.168.100.1000", nullptr},  // sixteen characters
  };
  for (const Case& c : cases) {
    const auto peer = CPing::LoopbackPeerAddress(c.own);
    if (c.peer == nullptr) {
      EXPECT_FALSE(peer.has_value()) << c.own;
    } else {
      ASSERT_TRUE(peer.has_value()) << c.own;
      EXPECT_EQ(*peer, c.peer) << c.own;
    }
  }
}

// RFC 1071 computed byte-wise in network order; returns the checksum as the
// two bytes that go on the wire.
std::array<uint8_t, 2> ReferenceChecksum(const std::vector<uint8_t>& data) {
  uint32_t sum = 0;
  for (size_t i = 0; i < data.size(); i += 2) {
    const uint32_t hi = data[i];
    const uint32_t lo = i + 1 < data.size() ? data[i + 1] : 0;
    sum += (hi << 8) | lo;
  }
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  const uint16_t c = static_cast<uint16_t>(~sum);
  return {static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c)};
}

TEST(InternetChecksum, MatchesTheWireChecksumForEveryLengthAndCarry) {
  CPing ping;
  std::mt19937 rng(5300);
  std::vector<std::vector<uint8_t>> inputs = {
      {},
      {0xAB},
      {0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7},  // RFC 1071's example
      std::vector<uint8_t>(65, 0xFF),                    // many carries, odd length
      std::vector<uint8_t>(1000, 0xFF),
  };
  for (size_t length = 1; length <= 23; ++length) {
    std::vector<uint8_t> v(length);
    for (auto& b : v) b = static_cast<uint8_t>(rng());
    inputs.push_back(v);
  }
  for (const auto& in : inputs) {
    const uint16_t sum = ping.InternetChecksum(in.data(), in.size());
    uint8_t stored[2];
    std::memcpy(stored, &sum, 2);
    const auto expected = ReferenceChecksum(in);
    EXPECT_EQ(stored[0], expected[0]) << "length " << in.size();
    EXPECT_EQ(stored[1], expected[1]) << "length " << in.size();
  }
}

TEST(InternetChecksum, ABufferWithItsChecksumInsideSumsToZero) {
  CPing ping;
  std::vector<uint8_t> packet = {8, 0, 0, 0, 0x12, 0x34, 0, 1, 0xFF, 0xFE, 0x45};
  const uint16_t sum = ping.InternetChecksum(packet.data(), packet.size());
  std::memcpy(&packet[2], &sum, 2);
  EXPECT_EQ(ping.InternetChecksum(packet.data(), packet.size()), 0);
}

TEST(EchoRequest, IsFortyFourBytesWithZeroSumAndTheLowIdentifierBits) {
  CPing ping;
  std::vector<uint8_t> buffer(64, 0xCC);
  ping.BuildEchoRequest(buffer.data(), CPing::kEchoRequestSize, 0, 0x12345678);
  EXPECT_EQ(buffer[0], 8);  // echo request
  EXPECT_EQ(buffer[1], 0);
  uint16_t id = 0, seq = 0xFFFF;
  std::memcpy(&id, &buffer[4], 2);
  std::memcpy(&seq, &buffer[6], 2);
  EXPECT_EQ(id, 0x5678);
  EXPECT_EQ(seq, 0);
  for (size_t i = 12; i < 44; ++i) EXPECT_EQ(buffer[i], 0x45) << i;
  for (size_t i = 44; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xCC) << "written past the end";
  EXPECT_EQ(ping.InternetChecksum(buffer.data(), 44), 0);
  EXPECT_EQ(ReferenceChecksum({buffer.begin(), buffer.begin() + 44}),
            (std::array<uint8_t, 2>{0, 0}));
}

TEST(EchoRequest, FillPayloadStartsBehindTheIpHeader) {
  CPing ping;
  std::vector<uint8_t> buffer(30, 0);
  ping.FillPayload(buffer.data(), buffer.size());
  for (size_t i = 0; i < 20; ++i) EXPECT_EQ(buffer[i], 0) << i;
  for (size_t i = 20; i < 30; ++i) EXPECT_EQ(buffer[i], 0x45) << i;
}

// An IPv4 packet with `header_words` 32-bit words of header and an ICMP
// message of `icmp_length` bytes.
std::vector<uint8_t> Reply(uint8_t type, uint16_t id, uint16_t seq, int header_words = 5,
                           size_t icmp_length = 40) {
  std::vector<uint8_t> p(4 * header_words + icmp_length, 0);
  p[0] = static_cast<uint8_t>(0x40 | header_words);
  const size_t h = 4 * header_words;
  p[h] = type;
  std::memcpy(&p[h + 4], &id, 2);
  std::memcpy(&p[h + 6], &seq, 2);
  return p;
}

TEST(EchoReplyDecoding, AcceptsSkipsOrEndsAsTheReplyDeserves) {
  CPing ping;
  const uint16_t me = static_cast<uint16_t>(pn::ProcessId());
  const uint16_t other = static_cast<uint16_t>(me + 1);
  struct Case {
    const char* what;
    std::vector<uint8_t> packet;
    size_t length;  // bytes handed over (may be less than the packet)
    bool accepted;
    bool keep_waiting;
    uint32_t error;  // expected last error, 0: not checked
  };
  std::vector<Case> cases;
  auto add = [&](const char* what, std::vector<uint8_t> p, bool acc, bool keep, uint32_t err,
                 size_t length = SIZE_MAX) {
    const size_t n = length == SIZE_MAX ? p.size() : length;
    cases.push_back({what, std::move(p), n, acc, keep, err});
  };
  add("matching echo reply", Reply(0, me, 0), true, false, 0);
  add("matching reply behind IP options", Reply(0, me, 0, 6), true, false, 0);
  add("someone else's reply", Reply(0, other, 0), false, true, 0);
  add("another sequence number", Reply(0, me, 1), false, true, 0);
  add("our own request echoed", Reply(8, me, 0), false, false, pn::kErrorUnexpectedNet);
  add("unreachable error with our identifier", Reply(3, me, 0), false, false,
      pn::kErrorUnexpectedNet);
  add("one byte short", Reply(0, me, 0), false, true, pn::kErrorUnexpectedNet, 20 + 11);
  add("exactly header and twelve bytes", Reply(0, me, 0), true, false, 0, 20 + 12);
  add("options make it short", Reply(0, me, 0, 15, 8), false, true, pn::kErrorUnexpectedNet,
      60 + 4);
  add("empty", Reply(0, me, 0), false, true, pn::kErrorUnexpectedNet, 0);
  for (const Case& c : cases) {
    pn::SetLastError(0);
    bool keep = !c.keep_waiting;
    EXPECT_EQ(ping.DecodeEchoReply(c.packet.data(), c.length, 0, 0, keep), c.accepted) << c.what;
    EXPECT_EQ(keep, c.keep_waiting) << c.what;
    if (c.error != 0) {
      EXPECT_EQ(pn::LastError(), c.error) << c.what;
    }
  }
}

TEST(PayloadComparison, ComparesBehindTheHeaderAndRefusesShortPackets) {
  CPing ping;
  const std::vector<uint8_t> data(32, 0x45);
  std::vector<uint8_t> packet(20 + 32, 0x45);
  packet[0] = 0x45;
  EXPECT_TRUE(ping.ComparePayload(packet.data(), packet.size(), data.data(), data.size()));
  packet[20 + 31] = 0x46;
  EXPECT_FALSE(ping.ComparePayload(packet.data(), packet.size(), data.data(), data.size()));
  packet[20 + 31] = 0x45;
  packet[0] = 0x46;  // 24-byte header: the payload would run past the end
  pn::SetLastError(0);
  EXPECT_FALSE(ping.ComparePayload(packet.data(), packet.size(), data.data(), data.size()));
  EXPECT_EQ(pn::LastError(), pn::kErrorUnexpectedNet);
  EXPECT_FALSE(ping.ComparePayload(packet.data(), 0, data.data(), data.size()));
}

}  // namespace
