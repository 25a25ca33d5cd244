// Stepping of MAC addresses and serial numbers, checked against tables and
// against plain integer arithmetic on random values.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "provision/provisioning.h"
#include "provisioning_test_images.h"
#include "support/capture.h"

namespace {

using test::CaptureStdout;

uint64_t MacValue(const MacAddress& mac) {
  uint64_t v = 0;
  for (uint8_t b : mac) v = (v << 8) | b;
  return v;
}

MacAddress MacFromValue(uint64_t v) {
  MacAddress mac{};
  for (int i = 5; i >= 0; --i, v >>= 8) mac[i] = static_cast<uint8_t>(v);
  return mac;
}

TEST(IncrementMacTest, CarriesThroughAllSixBytes) {
  struct Case {
    uint64_t before;
    int increment;
    uint64_t after;
    bool overflow;
  };
  const Case cases[] = {
      {0x0011223344FF, 1, 0x001122334500, false},
      {0x001122FFFFFF, 1, 0x001123000000, false},
      {0x00FFFFFFFFFF, 1, 0x010000000000, false},
      {0x0000000000F0, 255, 0x0000000001EF, false},
      {0xFFFFFFFFFFFF, 1, 0x000000000000, true},
      {0xFFFFFFFFFF01, 255, 0x000000000000, true},
  };
  for (const Case& c : cases) {
    MacAddress mac = MacFromValue(c.before);
    EXPECT_EQ(IncrementMac(mac, c.increment), c.overflow) << std::hex << c.before;
    EXPECT_EQ(MacValue(mac), c.after) << std::hex << c.before;
  }
}

TEST(IncrementMacTest, MatchesIntegerArithmetic) {
  std::mt19937_64 rng(5300);
  for (int i = 0; i < 20000; ++i) {
    // Bias towards runs of FF so that long carries are common.
    uint64_t v = rng() & 0xFFFFFFFFFFFF;
    if (i % 3 == 0) v |= (0xFFFFFFFFFFFFull >> (rng() % 48)) & ~0xFFull;
    const int inc = 1 + static_cast<int>(rng() % 255);
    MacAddress mac = MacFromValue(v);
    const bool overflow = IncrementMac(mac, inc);
    EXPECT_EQ(overflow, v + inc > 0xFFFFFFFFFFFF);
    EXPECT_EQ(MacValue(mac), (v + inc) & 0xFFFFFFFFFFFF);
  }
}

TEST(IncrementMacTest, IncrementAbove255IsRefusedAndLeavesTheAddress) {
  MacAddress mac = MacFromValue(0x001122334455);
  std::string out = CaptureStdout([&] { EXPECT_FALSE(IncrementMac(mac, 256)); });
  EXPECT_EQ(out, "ERROR: Mac address increment cannot exceed 255\n");
  EXPECT_EQ(MacValue(mac), 0x001122334455u);
}

TEST(IncrementSerialTest, StepsInHexadecimal) {
  struct Case {
    const char* before;
    int increment;
    const char* after;
    bool overflow;
  };
  const Case cases[] = {
      {"0009", 1, "000A", false}, {"00FF", 1, "0100", false}, {"19", 1, "1A", false},
      {"FF", 1, "00", true},      {"A", 6, "0", true},        {"0F9", 7, "100", false},
      {"99", 200, "61", true},    {"FFF", 1, "000", true},    {"AB9FF", 1, "ABA00", false},
      {"SN0009", 1, "SN000A", false},
      // Lower-case digits count like upper-case ones; new digits are upper case.
      {"0fff", 1, "1000", false}, {"00ff", 1, "0100", false},
      // A one-digit sum beyond 255 still overflows.
      {"F", 255, "E", true},      {"", 5, "", false},
      {"FFFFFFFFFFFFFFFE", 1, "FFFFFFFFFFFFFFFF", false},
      {"FFFFFFFFFFFFFFFF", 1, "0000000000000000", true},
  };
  for (const Case& c : cases) {
    std::string serial = c.before;
    EXPECT_EQ(IncrementSerial(serial, c.increment), c.overflow) << c.before << " + " << c.increment;
    EXPECT_EQ(serial, c.after) << c.before << " + " << c.increment;
  }
}

TEST(IncrementSerialTest, MatchesIntegerArithmetic) {
  std::mt19937 rng(5350);
  const char* digits = "0123456789ABCDEFabcdef";
  for (int i = 0; i < 20000; ++i) {
    const int length = 1 + static_cast<int>(rng() % 15);
    std::string serial;
    uint64_t value = 0;
    for (int k = 0; k < length; ++k) {
      // Mostly F so that carries run far.
      const char c = (rng() % 2) ? 'F' : digits[rng() % 22];
      serial.push_back(c);
      value = value * 16 + static_cast<uint64_t>(std::stoi(std::string(1, c), nullptr, 16));
    }
    const uint64_t modulus = 1ull << (4 * length);
    const int inc = 1 + static_cast<int>(rng() % 255);
    const std::string before = serial;
    const bool overflow = IncrementSerial(serial, inc);
    ASSERT_EQ(overflow, value + inc >= modulus) << before << " + " << inc;
    ASSERT_EQ(serial.size(), before.size());
    ASSERT_EQ(std::stoull(serial, nullptr, 16), (value + inc) % modulus) << before << " + " << inc;
  }
}

TEST(IncrementSerialTest, NonHexadecimalDigitsAreNotCounted) {
  for (const char* text : {"SNXY", "12G", "Z"}) {
    std::string serial = text;
    EXPECT_FALSE(SerialCanStep(serial)) << text;
    EXPECT_TRUE(IncrementSerial(serial, 1)) << text;
    EXPECT_EQ(serial, text);
  }
  EXPECT_TRUE(SerialCanStep("SN12"));
  EXPECT_TRUE(SerialCanStep("a"));
}

struct IdentityCase {
  uint64_t mac, max_mac;
  int mac_inc;
  const char* serial;
  const char* max_serial;
  int serial_inc;
  bool result;
  uint64_t mac_after;
  const char* serial_after;
  const char* out;
};

TEST(IncrementIdentityTest, MaximaAreReachableButNotExceeded) {
  const IdentityCase cases[] = {
      {0x001122334454, 0x001122334455, 1, "0001", "0002", 1, true, 0x001122334455, "0002", ""},
      {0x001122334455, 0x001122334455, 1, "0001", "0002", 1, false, 0x001122334456, "0002",
       "Reach maximum MAC address\n"},
      {0x001122334400, 0x0011223344FF, 1, "0002", "0002", 1, false, 0x001122334401, "0003",
       "Reach maximum serial number\n"},
      {0xFFFFFFFFFFFF, 0xFFFFFFFFFFFF, 1, "0001", "0009", 1, false, 0, "0001",
       "MAC address overflow\n"},
      {0x001122334400, 0x0011223344FF, 1, "FF", "FF", 1, false, 0x001122334401, "00",
       "Serial number overflow\n"},
      {0x001122334400, 0x0011223344FF, 0, "0001", "0009", 0, false, 0x001122334400, "0001", ""},
      {0x001122334400, 0x0011223344FF, 5, "0001", "0009", 0, true, 0x001122334405, "0001", ""},
  };
  for (const IdentityCase& c : cases) {
    RunSettings rs;
    rs.CurrentMacAddress = MacFromValue(c.mac);
    rs.MaximumMacAddress = MacFromValue(c.max_mac);
    rs.MacAddressIncrement = c.mac_inc;
    rs.CurrentSerialNumber = c.serial;
    rs.MaximumSerialNumber = c.max_serial;
    rs.SerialNumberIncrement = c.serial_inc;
    bool result = false;
    const std::string out = CaptureStdout([&] { result = IncrementIdentity(rs); });
    EXPECT_EQ(result, c.result) << std::hex << c.mac;
    EXPECT_EQ(MacValue(rs.CurrentMacAddress), c.mac_after) << std::hex << c.mac;
    EXPECT_EQ(*rs.CurrentSerialNumber, c.serial_after) << std::hex << c.mac;
    EXPECT_EQ(out, c.out) << std::hex << c.mac;
  }
}

}  // namespace
