// MCU firmware and parameter commands of the built tool against the
// simulated controller.
#include <gtest/gtest.h>

#include "tests/e2e/device_e2e.h"

namespace {

using device_e2e::json;
using device_e2e::SimDevice;

std::string Firmware(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 13 + 5) & 0xFF);
  return s;
}

size_t Count(const std::string& text, const std::string& word) {
  size_t n = 0;
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

TEST(DeviceMcu, DownloadVerifyThenVerifyOnly) {
  SKIP_UNLESS_SIMULATOR_READY();
  SimDevice dev(json{{"mcu", {{"running", false}}}});  // halted by an earlier access
  test::WriteFile(dev.File("fw.bin"), Firmware(1024));
  auto r = dev.Run({"-F", "fw.bin"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out.substr(0, test::Banner().size() + 30),
            test::Banner() + "\n\nWrote 00000 of 01024 (000%)\r");
  const std::string tail = "Verified 01023 of 01024 (099%)\r\nCOMPLETED!\n";
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
  EXPECT_EQ(Count(r.out, "COMPLETED!"), 2u);
  EXPECT_EQ(Count(r.out, "ERROR"), 0u) << r.out;
  const json state = dev.State();
  EXPECT_EQ(state["mcu"]["resets"], 1);
  EXPECT_EQ(state["mcu"]["running"], true);
  const auto events = dev.Events();
  ASSERT_GT(events.size(), 5u);
  EXPECT_EQ(events[1], "write_phy 0x00040010 8000");
  EXPECT_EQ(events[2], "write_phy 0x00040011 ffff");  // the reset comes first
  EXPECT_EQ(events.back(), "write_phy 0x00040010 0000");

  r = dev.Run({"-g", "fw.bin"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(Count(r.out, "COMPLETED!"), 1u);
  EXPECT_EQ(Count(r.out, "ERROR"), 0u) << r.out;
  ASSERT_GT(dev.Events().size(), 2u);
  EXPECT_EQ(dev.Events()[1], "write_phy 0x00040010 8600");
  EXPECT_EQ(dev.State()["mcu"]["resets"], 1);
}

TEST(DeviceMcu, FileProblemsAreReportedBeforeAnyDeviceAccess) {
  SKIP_UNLESS_SIMULATOR_READY();
  SimDevice dev;
  test::WriteFile(dev.File("params.bin"), Firmware(1025));
  test::WriteFile(dev.File("empty.bin"), "");
  const struct {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"-P", "params.bin"},
       "ERROR: Firmware Parameters file params.bin size must be <= 1024 bytes\n"},
      {{"-f", "empty.bin"}, "ERROR: Not enough bytes in file empty.bin\n"},
      {{"-g", "nofile.bin"}, "ERROR: No file nofile.bin is found\n"},
  };
  for (const auto& c : cases) {
    auto r = dev.Run(c.args);
    EXPECT_EQ(r.out, test::Banner() + c.out);
    EXPECT_EQ(r.exit_code, 14);
    EXPECT_EQ(dev.Events(), (std::vector<std::string>{"read_register 0x00000000"}));
  }
}

TEST(DeviceMcu, VerifyMismatchStopsWithoutReleasing) {
  SKIP_UNLESS_SIMULATOR_READY();
  SimDevice dev(json{{"mcu", {{"xdata", {{"0x5000", "00 01 02 03 04 FF"}}}, {"running", false}}}});
  test::WriteFile(dev.File("fw.bin"), std::string("\x00\x01\x02\x03\x04\x05", 6));
  auto r = dev.Run({"-g", "fw.bin"});
  EXPECT_EQ(r.exit_code, 14);  // a station script must see the mismatch
  const std::string tail =
      "Verified 00004 of 00006 (066%)\r"
      "ERROR: \nData mismatch on byte #5. Wrote = 0x05, Read (@ iProg base 0)= 0xff\n";
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
  EXPECT_EQ(dev.Events().back(), "read_phy 0x00040013");
  EXPECT_EQ(dev.State()["mcu"]["running"], false);
}

}  // namespace
