// The bridge primitives and the MCU information query.
#include "mcu/mcu_bridge.h"

#include <gtest/gtest.h>

#include "support/capture.h"
#include "support/fake_device.h"

namespace {

using namespace fake::bridge;  // kCtl, kAddr, kWdat, kRdat, W, R
using fake::BridgeOp;
using fake::Request;
using test::CaptureStdout;

class BridgeTest : public testing::Test {
 protected:
  fake::Device dev;
  RequestChannel ch;
  void SetUp() override { ch.device = &dev; }
};

// Read ops record the value answered: compare only direction, index and
// written values.
std::vector<BridgeOp> Shape(std::vector<BridgeOp> ops) {
  for (BridgeOp& op : ops) {
    if (!op.write) op.value = 0;
  }
  return ops;
}

TEST_F(BridgeTest, ReadByteIsAddressControlAndOneReadUsingTheLowByte) {
  dev.xdata[0x0950] = 0x5A;
  dev.rdat_high = 0xAB00;
  uint8_t v = 0;
  ASSERT_TRUE(McuReadByte(ch, 0x0950, v));
  EXPECT_EQ(v, 0x5A);
  EXPECT_EQ(Shape(dev.bridge_ops),
            (std::vector<BridgeOp>{W(kAddr, 0x0950), W(kCtl, 0x80), R(kRdat)}));
}

TEST_F(BridgeTest, WriteWordPutsTheHighByteFirst) {
  ASSERT_TRUE(McuWriteWord(ch, 0x0840, 0x8881));
  EXPECT_EQ(dev.xdata[0x0840], 0x88);
  EXPECT_EQ(dev.xdata[0x0841], 0x81);
  EXPECT_EQ(dev.bridge_ops, (std::vector<BridgeOp>{W(kAddr, 0x0840), W(kCtl, 0x84),
                                                   W(kWdat, 0x88), W(kWdat, 0x8881)}));
}

TEST_F(BridgeTest, EachFailingStepStopsWithItsMessage) {
  const std::string phy_w = "ERROR: WRITE_PHY failed !    status:Other Error\n";
  const std::string phy_r = "ERROR: READ_PHY failed !    status:Other Error\n";
  const struct {
    uint32_t failing_index;
    int op;  // 0 read byte, 1 write byte (SFR), 2 write word
    std::string output;
    size_t ops;
  } cases[] = {
      {kAddr, 0, phy_w + "ERROR: Failed writing SMI_VELK_VPM_BT_ADDR_REG = 0x00fa\n", 1},
      {kCtl, 0, phy_w + "ERROR: Failed writing SMI_VELK_VPM_BT_CTL_REG to 0x0080\n", 2},
      {kRdat, 0, phy_r + "ERROR: Failed reading from SMI_VELK_VPM_BT_RDAT_REG\n", 3},
      {kCtl, 1, phy_w + "ERROR: Failed writing SMI_VELK_VPM_BT_CTL_REG to 0x0081\n", 2},
      {kWdat, 1, phy_w + "ERROR: Failed writing SMI_VELK_VPM_BT_WDAT_REG with 0x23\n", 3},
      {kWdat, 2, phy_w + "ERROR: Failed writing SMI_VELK_VPM_BT_WDAT_REG with 0x12\n", 3},
  };
  for (const auto& c : cases) {
    fake::Device d;
    d.fail_when = [&](const Request& r) { return r.param == c.failing_index; };
    RequestChannel rc;
    rc.device = &d;
    bool ok = true;
    uint8_t v = 0;
    const std::string out = CaptureStdout([&] {
      if (c.op == 0) ok = McuReadByte(rc, 0xFA, v);
      if (c.op == 1) ok = McuWriteByte(rc, 0xFA, 0x23, 0x81);
      if (c.op == 2) ok = McuWriteWord(rc, 0xFA, 0x1234);
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(out, c.output);
    EXPECT_EQ(d.bridge_ops.size(), c.ops);
  }
  // The word's second byte: its own message with the low byte.
  fake::Device d;
  int wdat = 0;
  d.fail_when = [&](const Request& r) { return r.param == kWdat && ++wdat == 2; };
  RequestChannel rc;
  rc.device = &d;
  EXPECT_EQ(CaptureStdout([&] { EXPECT_FALSE(McuWriteWord(rc, 0x0840, 0x8881)); }),
            phy_w + "ERROR: Failed writing SMI_VELK_VPM_BT_WDAT_REG with 0x81\n");
}

TEST_F(BridgeTest, InformationQueryReadsInOrderReleasesAndPrints) {
  const struct {
    uint8_t sim, flags;
    const char* sim_line;
    const char* flags_line;
  } cases[] = {
      {0x83, 0x01,
       "MCU Simulation Reg:            0x83 (ERROR: Set, Mode: Simulation, EOT: Set)\n",
       "8051 Firmware's PlatformFlags: 0x01 (FPGA, Simulation Mode)\n"},
      {0x00, 0x02, "MCU Simulation Reg:            0x00 (ERROR: Clr, Mode: Normal, EOT: Clr)\n",
       "8051 Firmware's PlatformFlags: 0x02 (ASIC, Normal Mode)\n"},
  };
  for (const auto& c : cases) {
    fake::Device d;
    RequestChannel rc;
    rc.device = &d;
    d.xdata[0x080B] = 0x12;
    d.xdata[0x080C] = 0x34;
    d.xdata[0x0810] = 3;
    d.xdata[0x0811] = 14;
    d.xdata[0x0812] = 159;
    d.xdata[0x0940] = c.sim;
    d.xdata[0x0950] = 7;  // minor
    d.xdata[0x0951] = 2;  // major
    d.xdata[0x0952] = c.flags;
    McuInfo info;
    ASSERT_TRUE(McuGetInfo(rc, info));
    EXPECT_EQ(CaptureStdout([&] { PrintMcuInfo(info); }),
              std::string("MCU Device Version:            1234\n"
                          "MCU FPGA Version:              3.14.159\n") +
                  c.sim_line + "8051 Firmware Version:         2.7\n" + c.flags_line);

    std::vector<uint16_t> addresses;
    for (const BridgeOp& op : d.bridge_ops) {
      if (op.write && op.index == kAddr) addresses.push_back(op.value);
    }
    EXPECT_EQ(addresses, (std::vector<uint16_t>{0x080B, 0x080C, 0x0810, 0x0811, 0x0812, 0x0940,
                                                0x0950, 0x0951, 0x0952}));
    EXPECT_EQ(d.bridge_ops.front(), W(kCtl, 0x80));
    EXPECT_EQ(d.bridge_ops.back(), W(kCtl, 0x00));
  }
}

TEST_F(BridgeTest, InformationQueryFailingAtTheThirdReadLeavesAccessEnabled) {
  int reads = 0;
  dev.fail_when = [&](const Request& r) { return r.code == READ_PHY && ++reads == 3; };
  McuInfo info;
  EXPECT_EQ(CaptureStdout([&] { EXPECT_FALSE(McuGetInfo(ch, info)); }),
            "ERROR: READ_PHY failed !    status:Other Error\n"
            "ERROR: Failed reading from SMI_VELK_VPM_BT_RDAT_REG\n"
            "ERROR: Failed reading MCU_XDATA_FPGA_MAJOR_REV\n");
  EXPECT_EQ(dev.bridge_ctl, 0x80);
  EXPECT_EQ(dev.bridge_ops.back(), R(kRdat));
}

TEST_F(BridgeTest, InformationQueryDeviceIdFailureNamesTheHighByte) {
  int reads = 0;
  dev.fail_when = [&](const Request& r) { return r.code == READ_PHY && ++reads == 2; };
  McuInfo info;
  const std::string out = CaptureStdout([&] { EXPECT_FALSE(McuGetInfo(ch, info)); });
  EXPECT_NE(out.find("ERROR: Failed reading MCU_XDATA_DEV_ID_HI\n"), std::string::npos) << out;
}

}  // namespace
