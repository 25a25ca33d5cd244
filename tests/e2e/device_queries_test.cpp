// Register, PHY, information, link-state and cable diagnostics commands of
// the built tool against the simulated controller.
#include <gtest/gtest.h>

#include "tests/e2e/device_e2e.h"

namespace {

using device_e2e::json;
using device_e2e::SimDevice;

TEST(DeviceRegisterCommands, ReadWriteAndRefusedRead) {
  SKIP_UNLESS_SIMULATOR_READY();
  SimDevice dev;
  auto r = dev.Run({"-R", "0"});
  EXPECT_EQ(r.out, test::Banner() + "Register 0x0 : 0x53000000\n");
  EXPECT_EQ(r.exit_code, 0);

  r = dev.Run({"-W", "104", "-v", "5500aa"});
  EXPECT_EQ(r.out, test::Banner() + "Register 0x104 : 0x5500aa\n");
  EXPECT_EQ(dev.Events(),
            (std::vector<std::string>{"read_register 0x00000000", "write_register 0x00000104 aa005500",
                                      "read_register 0x00000104"}));
  r = dev.Run({"-R", "0x104"});
  EXPECT_EQ(r.out, test::Banner() + "Register 0x104 : 0x5500aa\n");

  // The chip ID read is the first READ_REGISTER; the second is refused.
  dev.SetState({{"faults", {{{"op", "READ_REGISTER"}, {"nth", 2}, {"status", 2}}}}});
  r = dev.Run({"-R", "18"});
  EXPECT_EQ(r.out, test::Banner() +
                       "ERROR: READ_REGISTER failed !    status:Other Error\nRegister 0x18 : 0x0\n");
  EXPECT_EQ(r.exit_code, 14);
}

TEST(DeviceRegisterCommands, PhyReadAndWrite) {
  SKIP_UNLESS_SIMULATOR_READY();
  SimDevice dev;
  auto r = dev.Run({"-y", "1"});
  EXPECT_EQ(r.out, test::Banner() + "PHY Register 0x1 : 0x796d\n");
  r = dev.Run({"-Y", "4", "-v", "1e1"});
  EXPECT_EQ(r.out, test::Banner() + "PHY Register 0x4 : 0x1e1\n");
  ASSERT_EQ(dev.Events().size(), 3u);
  EXPECT_EQ(dev.Events()[1], "write_phy 0x00000004 e101");
  EXPECT_EQ(r.exit_code, 0);
}

TEST(DeviceInfoQueries, DriverAndAdapterInformation) {
  SKIP_UNLESS_SIMULATOR_READY();
  SimDevice dev(json{{"driver_version", {2, 10, 3456, 7}},
                 {"adapter_bits", {"0x1A", 0, "0x80000000"}},
                 {"adapter_location", "Halle 3 \xE2\x80\x93 B\xC3\xBCro \xE2\x82\xAC"}});
  const struct {
    const char* letter;
    std::string out;
  } cases[] = {
      {"v", "Driver Major Version 2\nDriver Minor Version 10\nDriver Build Version 3456\n"
            "Driver QFE Version 7\n"},
      {"b", "Adapter Bits 00 to 31 1A\nAdapter Bits 32 to 63 0\nAdapter Bits 64 to 95 80000000\n"},
      {"l", "Adapter location: Halle 3 \xE2\x80\x93 B\xC3\xBCro \xE2\x82\xAC\n"},
      {"k", "Adapter registry key: {4d36e972-e325-11ce-bfc1-08002be10318}\\0001\n"},
      {"o", "Adapter PDO: \\Device\\USBPDO-7\n"},
      {"p", "Adapter port: 3\n"},
  };
  for (const auto& c : cases) {
    auto r = dev.Run({"-G", c.letter});
    EXPECT_EQ(r.out, test::Banner() + c.out) << c.letter;
    EXPECT_EQ(r.exit_code, 0);
  }
}

TEST(DeviceInfoQueries, StatisticsReports) {
  SKIP_UNLESS_SIMULATOR_READY();
  json eth = json::array();
  for (int i = 0; i < 47; ++i) eth.push_back(i == 0 ? 255 : i);
  json usb = json::array();
  for (int i = 0; i < 16; ++i) usb.push_back(i == 15 ? 4294967295u : 0u);
  SimDevice dev(json{{"eth_stats", eth}, {"usb_phy_stats", usb}});

  auto r = dev.Run({"-G", "e"});
  const std::string eth_head = test::Banner() +
                               "********* ETHERNET RX & TX STATISTICS *********\n\n"
                               "   RxCrcErrors                 = 0x000000ff\n"
                               "   RxAlignmentErrors           = 0x00000001\n";
  EXPECT_EQ(r.out.substr(0, eth_head.size()), eth_head);
  EXPECT_NE(r.out.find("   RxGoodGreater1518ByteFrames = 0x00000014\n"), std::string::npos);
  const std::string eth_tail =
      "   EeeTxLpiTime                = 0x0000002e\n"
      "\n***********************************************\n";
  EXPECT_EQ(r.out.substr(r.out.size() - eth_tail.size()), eth_tail);

  r = dev.Run({"-G", "u"});
  const std::string usb_head = test::Banner() +
                               "*********** USB PHY STATISTICS ***********\n\n"
                               "   LtssmU0U1Count        = 0x00000000\n";
  EXPECT_EQ(r.out.substr(0, usb_head.size()), usb_head);
  const std::string usb_tail =
      "   RxStatus7Count        = 0xffffffff\n"
      "\n******************************************\n";
  EXPECT_EQ(r.out.substr(r.out.size() - usb_tail.size()), usb_tail);
}

TEST(DeviceInfoQueries, McuInformationReleasesTheMcu) {
  SKIP_UNLESS_SIMULATOR_READY();
  SimDevice dev(json{{"mcu", {{"running", false}}}});  // halted by an earlier access
  auto r = dev.Run({"-G", "i"});
  EXPECT_EQ(r.out, test::Banner() +
                       "MCU Device Version:            5300\n"
                       "MCU FPGA Version:              0.0.0\n"
                       "MCU Simulation Reg:            0x00 (ERROR: Clr, Mode: Normal, EOT: Clr)\n"
                       "8051 Firmware Version:         1.0\n"
                       "8051 Firmware's PlatformFlags: 0x02 (ASIC, Normal Mode)\n");
  EXPECT_EQ(r.exit_code, 0);
  const auto events = dev.Events();
  ASSERT_GE(events.size(), 3u);
  EXPECT_EQ(events[1], "write_phy 0x00040010 8000");
  EXPECT_EQ(events.back(), "write_phy 0x00040010 0000");
  EXPECT_EQ(dev.State()["mcu"]["running"], true);
}

TEST(DeviceLinkState, SetsTheDriverLinkState) {
  SKIP_UNLESS_SIMULATOR_READY();
  SimDevice dev;
  auto r = dev.Run({"-k", "d"});
  EXPECT_EQ(r.out, test::Banner() + "Driver Link State set to DOWN successfully\n");
  EXPECT_EQ(dev.State()["link_state"], 0);
  r = dev.Run({"-k", "U"});
  EXPECT_EQ(r.out, test::Banner() + "Driver Link State set to UP successfully\n");
  EXPECT_EQ(dev.State()["link_state"], 1);

  dev.SetState({{"faults", {{{"op", "SET_LINK_STATE"}, {"status", 1}}}}});
  r = dev.Run({"-k", "u"});
  EXPECT_EQ(r.out, test::Banner() + "ERROR: SET_LINK_STATE failed !    status:Access failed\n");
  EXPECT_EQ(r.exit_code, 14);
}

TEST(DeviceCabScan, PrintsTheTable) {
  SKIP_UNLESS_SIMULATOR_READY();
  SimDevice dev(json{{"cabscan", {"0xFFC1", "0x0A05", "0x12C8"}}});
  auto r = dev.Run({"-V"});
  EXPECT_EQ(r.out, test::Banner() +
                       "CabScan command Succeded\n"
                       "CabScanCtrl1 (24E1) = 0xffc1\n"
                       "CabScanCtrl2 (25E1) = 0x0a05\n"
                       "CabScanCtrl3 (26E1) = 0x12c8\n\n"
                       "           \t PairA\t\t Pair B\t\t Pair C\t\t Pair D\n"
                       "-------------------------------------------------------------------------------\n"
                       "Term Sts   \t Open     \t Shorted  \t CPcoupleA\t CPshortA \n"
                       "Len/Dist   \t 189m\t\t  3m\t\t 30m\t\t 15m\n");
  EXPECT_EQ(r.exit_code, 0);

  dev.SetState({{"faults", {{{"op", "EXECUTE CABSCAN"}, {"ioctl_error", 31}}}}});
  r = dev.Run({"-V"});
  EXPECT_EQ(r.out, test::Banner() + "ERROR: Error in DeviceIoControl (IOCTL_ORN5300_MP_ACCESS) : 31\n");
  EXPECT_EQ(r.exit_code, 14);
}

}  // namespace
