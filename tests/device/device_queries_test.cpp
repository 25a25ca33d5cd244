// Register, PHY register and information commands: what is sent and what is
// printed, byte for byte.
#include "device/device_queries.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/capture.h"
#include "support/fake_device.h"

namespace {

using test::CaptureStdout;

class QueryTest : public testing::Test {
 protected:
  fake::Device dev;
  RequestChannel ch;
  RunSettings rs;
  void SetUp() override { ch.device = &dev; }
  std::string Register() { return CaptureStdout([&] { RunRegisterCommand(ch, rs); }); }
  std::string Query(char letter) {
    rs.CommandCode = kCmdInfoQuery;
    rs.InfoQueryLetter = letter;
    return CaptureStdout([&] { RunInfoQuery(ch, rs); });
  }
};

TEST_F(QueryTest, RegisterCommandsPrintTheValueReadAndZeroAfterAFailedRead) {
  rs.RegisterAddress = 0x18;
  rs.CommandCode = kCmdReadRegister;
  dev.registers[0x18] = 0xDEADBEEF;
  EXPECT_EQ(Register(), "Register 0x18 : 0xdeadbeef\n");

  dev.op_status[READ_REGISTER] = 2;
  EXPECT_EQ(Register(),
            "ERROR: READ_REGISTER failed !    status:Other Error\nRegister 0x18 : 0x0\n");
}

TEST_F(QueryTest, RefusedWriteIsStillFollowedByTheReadBack) {
  rs.CommandCode = kCmdWriteRegister;
  rs.RegisterAddress = 0x104;
  rs.Value = 0x55;
  dev.op_status[WRITE_REGISTER] = 1;
  dev.registers[0x104] = 0x11;
  EXPECT_EQ(Register(),
            "ERROR: WRITE_REGISTER failed !    status:Access failed\nRegister 0x104 : 0x11\n");
  ASSERT_EQ(dev.requests.size(), 2u);
  EXPECT_EQ(dev.requests[0].param, 0x104u);
  EXPECT_EQ(dev.requests[0].data, fake::Words32({0x55}));
  EXPECT_EQ(dev.requests[1].code, uint32_t{READ_REGISTER});
  EXPECT_EQ(dev.requests[1].param, 0x104u);
}

TEST_F(QueryTest, PhyCommandsSendIndexAndValueUnchanged) {
  rs.CommandCode = kCmdReadPhy;
  rs.RegisterAddress = 2;
  dev.phy[2] = 0xABCD1234;  // a 16-bit reply carries only the low half
  EXPECT_EQ(Register(), "PHY Register 0x2 : 0x1234\n");

  dev.phy_returned = 20;
  EXPECT_EQ(Register(), "PHY Register 0x2 : 0xabcd1234\n");

  dev.requests.clear();
  rs.CommandCode = kCmdWritePhy;
  rs.RegisterAddress = 0x80000010;
  rs.Value = 0x12345678;  // read back as the device keeps it
  EXPECT_EQ(Register(), "PHY Register 0x80000010 : 0x12345678\n");
  ASSERT_EQ(dev.requests.size(), 2u);
  EXPECT_EQ(dev.requests[0].code, uint32_t{WRITE_PHY});
  EXPECT_EQ(dev.requests[0].param, 0x80000010u);
  EXPECT_EQ(dev.requests[0].data, fake::Words32({0x12345678}));
  EXPECT_EQ(dev.requests[1].code, uint32_t{READ_PHY});
}

TEST_F(QueryTest, DriverVersionBitsAndPort) {
  dev.replies[GET_DRIVER_VERSION] = fake::Words32({2, 10, 3456, 7});
  EXPECT_EQ(Query('v'),
            "Driver Major Version 2\nDriver Minor Version 10\nDriver Build Version 3456\n"
            "Driver QFE Version 7\n");
  dev.replies[GET_ADAPTER_BITS] = fake::Words32({0x1A, 0, 0x80000000});
  EXPECT_EQ(Query('b'),
            "Adapter Bits 00 to 31 1A\nAdapter Bits 32 to 63 0\nAdapter Bits 64 to 95 80000000\n");
  dev.replies[GET_ADAPTER_PORT] = fake::Words32({3});
  EXPECT_EQ(Query('p'), "Adapter port: 3\n");
}

TEST_F(QueryTest, FailedQueryPrintsOnlyTheOperationMessage) {
  dev.op_status[GET_ADAPTER_PORT] = 2;
  EXPECT_EQ(Query('p'), "ERROR: GET_DRIVER_VERSION failed!    status:Adapter Busy\n");
  dev.op_status[READ_TXRX_STATS] = 1;
  EXPECT_EQ(Query('e'), "ERROR: READ_TXRX_STATS failed !    status:Access failed\n");
}

// UTF-16LE bytes of a text with its NUL.
std::vector<uint8_t> Utf16(const std::u16string& text) {
  std::vector<uint8_t> out;
  for (char16_t c : text + u'\0') {
    out.push_back(static_cast<uint8_t>(c));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  return out;
}

TEST_F(QueryTest, AdapterTextsPrintAsUtf8) {
  dev.replies[GET_ADAPTER_LOCATION] = Utf16(u"PCI bus 0, device 20, function 0");
  EXPECT_EQ(Query('l'), "Adapter location: PCI bus 0, device 20, function 0\n");
  dev.replies[GET_ADAPTER_REGISTRY_KEY] = Utf16(u"{4d36e972}\\0001 Büro €");
  EXPECT_EQ(Query('k'), "Adapter registry key: {4d36e972}\\0001 B\xC3\xBCro \xE2\x82\xAC\n");
  // A pair of surrogates is one character; a lone one is replaced.
  dev.replies[GET_ADAPTER_PDO] = Utf16(u"\\Device\\\xD83D\xDE00-\xD800!");
  EXPECT_EQ(Query('o'), "Adapter PDO: \\Device\\\xF0\x9F\x98\x80-\xEF\xBF\xBD!\n");
}

TEST_F(QueryTest, EthernetStatisticsReport) {
  std::vector<uint32_t> counters;
  for (uint32_t i = 0; i < 47; ++i) counters.push_back(i % 3 ? i * 0x01010101u : 255 + i);
  counters[46] = 0xFFFFFFFF;
  dev.replies[READ_TXRX_STATS] = fake::Words32(counters);
  EXPECT_EQ(Query('e'),
            "********* ETHERNET RX & TX STATISTICS *********\n\n"
            "   RxCrcErrors                 = 0x000000ff\n"
            "   RxAlignmentErrors           = 0x01010101\n"
            "   RxFragmentErrors            = 0x02020202\n"
            "   RxJabberErrors              = 0x00000102\n"
            "   RxRuntFrameErrors           = 0x04040404\n"
            "   RxFrameTooLongErrors        = 0x05050505\n"
            "   RxDroppedFrames             = 0x00000105\n"
            "   RxGoodUnicastBytes          = 0x07070707\n"
            "   RxGoodBroadcastBytes        = 0x08080808\n"
            "   RxGoodMulticastBytes        = 0x00000108\n"
            "   RxGoodUnicastFrames         = 0x0a0a0a0a\n"
            "   RxGoodBroadcastFrames       = 0x0b0b0b0b\n"
            "   RxGoodMulticastFrames       = 0x0000010b\n"
            "   RxPauseFrames               = 0x0d0d0d0d\n"
            "   RxGood64ByteFrames          = 0x0e0e0e0e\n"
            "   RxGood65To127ByteFrames     = 0x0000010e\n"
            "   RxGood128To255ByteFrames    = 0x10101010\n"
            "   RxGood256To511ByteFrames    = 0x11111111\n"
            "   RxGood512To1023ByteFrames   = 0x00000111\n"
            "   RxGood1024To1518ByteFrames  = 0x13131313\n"
            "   RxGoodGreater1518ByteFrames = 0x14141414\n"
            "   EeeRxLpiTransitions         = 0x00000114\n"
            "   EeeRxLpiTime                = 0x16161616\n"
            "   TxCrcErrors                 = 0x17171717\n"
            "   TxExcessiveDeferralErrors   = 0x00000117\n"
            "   TxCarrierErrors             = 0x19191919\n"
            "   TxBadBytes                  = 0x1a1a1a1a\n"
            "   TxSingleCollisions          = 0x0000011a\n"
            "   TxMultipleCollisions        = 0x1c1c1c1c\n"
            "   TxExcessiveCollisionErrors  = 0x1d1d1d1d\n"
            "   TxLateCollisionErrors       = 0x0000011d\n"
            "   TxGoodUnicastBytes          = 0x1f1f1f1f\n"
            "   TxGoodBroadcastBytes        = 0x20202020\n"
            "   TxGoodMulticastBytes        = 0x00000120\n"
            "   TxGoodUnicastFrames         = 0x22222222\n"
            "   TxGoodBroadcastFrames       = 0x23232323\n"
            "   TxGoodMulticastFrames       = 0x00000123\n"
            "   TxPauseFrames               = 0x25252525\n"
            "   TxGood64ByteFrames          = 0x26262626\n"
            "   TxGood65To127ByteFrames     = 0x00000126\n"
            "   TxGood128To255ByteFrames    = 0x28282828\n"
            "   TxGood256To511ByteFrames    = 0x29292929\n"
            "   TxGood512To1023ByteFrames   = 0x00000129\n"
            "   TxGood1024To1518ByteFrames  = 0x2b2b2b2b\n"
            "   TxGoodGreater1518ByteFrames = 0x2c2c2c2c\n"
            "   EeeTxLpiTransitions         = 0x0000012c\n"
            "   EeeTxLpiTime                = 0xffffffff\n"
            "\n***********************************************\n");
}

TEST_F(QueryTest, UsbPhyStatisticsReport) {
  std::vector<uint32_t> counters;
  for (uint32_t i = 0; i < 16; ++i) counters.push_back(i * 0x10001u + 1);
  dev.replies[READ_USB_PHY_STATS] = fake::Words32(counters);
  EXPECT_EQ(Query('u'),
            "*********** USB PHY STATISTICS ***********\n\n"
            "   LtssmU0U1Count        = 0x00000001\n"
            "   LtssmU0U2Count        = 0x00010002\n"
            "   LtssmU0U3Count        = 0x00020003\n"
            "   LtssmWResetCount      = 0x00030004\n"
            "   LtssmHResetCount      = 0x00040005\n"
            "   LtssmU0RecovFailCount = 0x00050006\n"
            "   LtssmU1RecovFailCount = 0x00060007\n"
            "   LtssmU2RecovFailCount = 0x00070008\n"
            "   LtssmU3RecovFailCount = 0x00080009\n"
            "   LtssmPollFailCount    = 0x0009000a\n"
            "   LtssmU0RecovOkCount   = 0x000a000b\n"
            "   RxValidZeroCount      = 0x000b000c\n"
            "   RxStatus4Count        = 0x000c000d\n"
            "   RxStatus5Count        = 0x000d000e\n"
            "   RxStatus6Count        = 0x000e000f\n"
            "   RxStatus7Count        = 0x000f0010\n"
            "\n******************************************\n");
}

TEST_F(QueryTest, McuInformationGoesThroughTheBridgeAndReleasesIt) {
  // Every MCU byte reads 0x12: device ID 0x1212, all else 0x12.
  std::fill(dev.xdata.begin(), dev.xdata.end(), 0x12);
  EXPECT_EQ(Query('i'),
            "MCU Device Version:            1212\n"
            "MCU FPGA Version:              18.18.18\n"
            "MCU Simulation Reg:            0x12 (ERROR: Clr, Mode: Simulation, EOT: Clr)\n"
            "8051 Firmware Version:         18.18\n"
            "8051 Firmware's PlatformFlags: 0x12 (ASIC, Normal Mode)\n");
  ASSERT_FALSE(dev.requests.empty());
  EXPECT_EQ(dev.requests.back().code, uint32_t{WRITE_PHY});
  EXPECT_EQ(dev.requests.back().param, 0x40010u);
  EXPECT_EQ(dev.requests.back().data, (std::vector<uint8_t>{0, 0}));
}

}  // namespace
