// The arithmetic of identity pools: MAC addresses as numbers, serial
// numbers stepped as fixed-width hexadecimal numbers, pool specs and the
// identities left.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "database/identity_pool.h"

namespace {

using db::PoolSpec;

TEST(PoolArithmetic, MacTextRoundTrip) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 200; ++i) {
    const uint64_t mac = random() & db::kMacLimit;
    uint64_t back = 0;
    ASSERT_TRUE(db::ParseMacText(db::MacText(mac), back));
    EXPECT_EQ(back, mac);
    EXPECT_EQ(db::MacNumber(db::MacFromNumber(mac)), mac);
  }
  EXPECT_EQ(db::MacText(0x00800F112230), "00:80:0F:11:22:30");
  uint64_t v = 0;
  EXPECT_TRUE(db::ParseMacText("00-80-0f-11-22-30", v));
  EXPECT_EQ(v, 0x00800F112230u);
  for (const char* bad : {"", "00:80:0F:11:22", "00:80:0F:11:22:3G", "00800F112230", "00:80:0F:11:22:30:"}) {
    EXPECT_FALSE(db::ParseMacText(bad, v)) << bad;
  }
}

// Against a plain number of the same width: every step, including the
// ones that would carry out of the width, for widths 1 to 16.
TEST(PoolArithmetic, SerialStepsAsAHexNumberOfItsWidth) {
  std::mt19937_64 random(11);
  for (int trial = 0; trial < 2000; ++trial) {
    const size_t width = 1 + random() % 16;
    const uint64_t limit = width == 16 ? UINT64_MAX : (uint64_t{1} << (4 * width)) - 1;
    // Values near the top of the width half of the time.
    uint64_t value = random() & limit;
    if (trial % 2 == 0) value = limit - std::min<uint64_t>(random() % 300, limit);
    const uint64_t increment = 1 + random() % 255;
    std::string serial(width, '0');
    for (size_t i = 0; i < width; ++i) {
      const int digit = static_cast<int>((value >> (4 * (width - 1 - i))) & 15);
      serial[i] = (random() % 2 ? "0123456789abcdef" : "0123456789ABCDEF")[digit];
    }
    ASSERT_TRUE(db::IsPoolSerial(serial));
    ASSERT_EQ(db::SerialValue(serial), value);
    std::string stepped = serial;
    const bool fits = increment <= limit - value;
    ASSERT_EQ(db::StepSerial(stepped, increment), fits) << serial << " + " << increment;
    if (!fits) {
      EXPECT_EQ(stepped, serial);
      continue;
    }
    EXPECT_EQ(stepped.size(), width);
    EXPECT_EQ(db::SerialValue(stepped), value + increment);
    EXPECT_EQ(stepped, db::SerialKey(stepped)) << "upper-case digits";
  }
  EXPECT_EQ(db::SerialKey("00a1-x"), "00A1-X");
  for (const char* bad : {"", "12G4", "00000000000000001", " 1"}) EXPECT_FALSE(db::IsPoolSerial(bad)) << bad;
}

TEST(PoolArithmetic, PoolSpecChecks) {
  const PoolSpec good{"line3", 0x00800F530001, 0x00800F53FFFF, 1, "000000000001", "00000000FFFF", 1};
  EXPECT_EQ(db::CheckPoolSpec(good), "");
  struct Case {
    const char* what;
    void (*change)(PoolSpec&);
    const char* why;  // empty: accepted
  } cases[] = {
      {"no serials", [](PoolSpec& s) { s.first_serial = s.last_serial = ""; }, ""},
      {"lower-case serials", [](PoolSpec& s) { s.first_serial = "00000000000a"; s.last_serial = "00000000ffff"; }, ""},
      {"one identity", [](PoolSpec& s) { s.last_mac = s.first_mac; }, ""},
      {"empty name", [](PoolSpec& s) { s.name = ""; }, "a pool name has"},
      {"name with a blank", [](PoolSpec& s) { s.name = "line 3"; }, "a pool name has"},
      {"long name", [](PoolSpec& s) { s.name = std::string(65, 'a'); }, "a pool name has"},
      {"MAC increment 0", [](PoolSpec& s) { s.mac_increment = 0; }, "MAC address increment"},
      {"MAC increment 256", [](PoolSpec& s) { s.mac_increment = 256; }, "MAC address increment"},
      {"MAC range backwards", [](PoolSpec& s) { s.last_mac = s.first_mac - 1; }, "is above the last"},
      {"serial increment 0", [](PoolSpec& s) { s.serial_increment = 0; }, "serial number increment"},
      {"serial widths differ", [](PoolSpec& s) { s.last_serial = "FFFF"; }, "same number of digits"},
      {"serial not hex", [](PoolSpec& s) { s.first_serial = "SN0000000001"; }, "hexadecimal digits"},
      {"only a last serial", [](PoolSpec& s) { s.first_serial = ""; }, "hexadecimal digits"},
      {"serial range backwards", [](PoolSpec& s) { s.first_serial = "00000001FFFF"; }, "is above the last"},
  };
  for (const Case& c : cases) {
    PoolSpec spec = good;
    c.change(spec);
    const std::string why = db::CheckPoolSpec(spec);
    if (*c.why == '\0') {
      EXPECT_EQ(why, "") << c.what;
    } else {
      EXPECT_NE(why.find(c.why), std::string::npos) << c.what << ": " << why;
    }
  }
}

TEST(PoolArithmetic, RemainingIdentities) {
  struct Case {
    PoolSpec spec;
    uint64_t next_mac;
    std::optional<std::string> next_serial;
    uint64_t remaining;
  } cases[] = {
      {{"p", 0x10, 0x1F, 1, "", "", 1}, 0x10, std::nullopt, 16},
      {{"p", 0x10, 0x1F, 3, "", "", 1}, 0x10, std::nullopt, 6},     // 10 13 16 19 1C 1F
      {{"p", 0x10, 0x1F, 3, "", "", 1}, 0x20, std::nullopt, 0},
      {{"p", 0x10, 0x1F, 1, "F0", "FF", 1}, 0x10, "F8", 8},         // the serials end first
      {{"p", 0x10, 0x1F, 1, "00", "FF", 2}, 0x1E, "10", 2},         // the MAC addresses end first
      {{"p", 0x10, 0x1F, 1, "00", "FF", 1}, 0x10, std::nullopt, 0},  // stepped beyond the width
      {{"p", 0x10, 0x1F, 1, "0000", "ffff", 1}, 0x10, "fffe", 2},
      {{"p", db::kMacLimit - 1, db::kMacLimit, 1, "", "", 1}, db::kMacLimit, std::nullopt, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(db::RemainingIdentities(c.spec, c.next_mac, c.next_serial), c.remaining)
        << std::hex << c.next_mac << " " << c.next_serial.value_or("-");
  }
}

}  // namespace
