// The request channel against the fake device: block layout, lengths,
// bracketing and failure messages.
#include "driver/request_channel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/capture.h"
#include "support/fake_device.h"

namespace {

using test::CaptureStdout;

class ChannelTest : public testing::Test {
 protected:
  fake::Device dev;
  RequestChannel ch;
  void SetUp() override { ch.device = &dev; }
};

TEST_F(ChannelTest, AdapterSelectionGoesIntoEveryRequestButAdapterBitsKeepsItsSignature) {
  uint32_t v = 0;
  std::array<uint32_t, 3> bits{};
  ASSERT_TRUE(ReadRegister(ch, 0, v));
  ASSERT_TRUE(GetAdapterBits(ch, bits));
  SelectAdapter(ch, 2);
  ASSERT_TRUE(ReadRegister(ch, 0, v));
  ASSERT_TRUE(GetAdapterBits(ch, bits));
  ASSERT_EQ(dev.requests.size(), 4u);
  EXPECT_EQ(dev.requests[0].signature, 0x00010002u);
  EXPECT_EQ(dev.requests[0].adapter, 0u);
  EXPECT_EQ(dev.requests[1].signature, 0x00020001u);
  EXPECT_EQ(dev.requests[1].adapter, 0u);
  EXPECT_EQ(dev.requests[2].signature, 0x00020001u);
  EXPECT_EQ(dev.requests[2].adapter, 2u);
  EXPECT_EQ(dev.requests[3].signature, 0x00020001u);
  EXPECT_EQ(dev.requests[3].adapter, 2u);
}

TEST_F(ChannelTest, WritePhyWidthFollowsTheIndexFlags) {
  struct { uint32_t index; uint32_t in_len; } cases[] = {
      {0x40010, 18}, {0x20000010, 20}, {0x80000010, 20}, {0x60000010, 18}, {0xA0000010, 20}};
  for (auto c : cases) {
    dev.requests.clear();
    ASSERT_TRUE(WritePhy(ch, c.index, 0x12345678));
    ASSERT_EQ(dev.requests.size(), 1u);
    EXPECT_EQ(dev.requests[0].in_len, c.in_len) << std::hex << c.index;
    EXPECT_EQ(dev.requests[0].param, c.index);
    EXPECT_EQ(dev.requests[0].data[0], 0x78);
    EXPECT_EQ(dev.requests[0].data[1], 0x56);
  }
}

TEST_F(ChannelTest, ReadPhyWidthFollowsTheReturnedLength) {
  dev.phy[1] = 0xAABBCCDD;
  dev.phy_returned = 18;
  uint32_t v = 0x11110000;
  ASSERT_TRUE(ReadPhy(ch, 1, v));
  EXPECT_EQ(v, 0x1111CCDDu);  // upper half as the caller set it
  uint16_t v16 = 0;
  ASSERT_TRUE(ReadPhy16(ch, 1, v16));
  EXPECT_EQ(v16, 0xCCDD);
  dev.phy_returned = 20;
  ASSERT_TRUE(ReadPhy(ch, 1, v));
  EXPECT_EQ(v, 0xAABBCCDDu);
}

TEST_F(ChannelTest, BlockWriteIsBracketedAndSendsLengthPlusHeader) {
  std::vector<uint8_t> image(512, 0x5A);
  ASSERT_TRUE(E2pWriteBlock(ch, 512, image.data()));
  ASSERT_EQ(dev.requests.size(), 3u);
  EXPECT_EQ(dev.requests[0].code, uint32_t{E2P_COMMAND});
  EXPECT_EQ(dev.requests[0].param, 0x20000000u);
  EXPECT_EQ(dev.requests[0].in_len, 17u);
  EXPECT_EQ(dev.requests[1].code, uint32_t{E2P_WRITE_BLOCK});
  EXPECT_EQ(dev.requests[1].in_len, 528u);
  EXPECT_EQ(dev.requests[1].param, 512u << 16);
  EXPECT_EQ(dev.requests[1].data, image);
  EXPECT_EQ(dev.requests[2].param, 0x10000000u);
}

TEST_F(ChannelTest, FailedOwnRequestStillClosesButFailedOpeningSendsNothingMore) {
  dev.op_status[E2P_WRITE_BLOCK] = 2;
  uint8_t byte = 1;
  std::string out = CaptureStdout([&] { EXPECT_FALSE(E2pWriteBlock(ch, 1, &byte)); });
  EXPECT_EQ(out, "ERROR: E2P_WRITE_BLOCK failed!    status:Adapter Busy\n");
  ASSERT_EQ(dev.requests.size(), 3u);
  EXPECT_EQ(dev.requests[2].param, 0x10000000u);

  dev.requests.clear();
  dev.op_status = {{OTP_CONFIGURE, 1}};
  out = CaptureStdout([&] { EXPECT_FALSE(OtpWriteBlock(ch, 0, 1, &byte)); });
  EXPECT_EQ(out, "ERROR: OTP_CONFIGURE failed! status:Access failed\n");
  EXPECT_EQ(dev.requests.size(), 1u);
}

TEST_F(ChannelTest, StatusWordingDependsOnTheOperation) {
  uint32_t v = 0;
  uint8_t buf[4];
  dev.op_status = {{READ_REGISTER, 2}, {E2P_READ_BLOCK, 2}, {GET_ADAPTER_BITS, 2}};
  EXPECT_EQ(CaptureStdout([&] { ReadRegister(ch, 0, v); }),
            "ERROR: READ_REGISTER failed !    status:Other Error\n");
  EXPECT_EQ(CaptureStdout([&] { E2pReadBlock(ch, 4, buf); }),
            "ERROR: E2P_READ_BLOCK failed!    status:Adapter Busy\n");
  std::array<uint32_t, 3> bits{};
  EXPECT_EQ(CaptureStdout([&] { GetAdapterBits(ch, bits); }),
            "ERROR: GET_DRIVER_VERSION failed!    status:Adapter Busy\n");
  dev.op_status = {{READ_REGISTER, 1}, {E2P_READ_BLOCK, 1}};
  EXPECT_EQ(CaptureStdout([&] { ReadRegister(ch, 0, v); }),
            "ERROR: READ_REGISTER failed !    status:Access failed\n");
  EXPECT_EQ(CaptureStdout([&] { E2pReadBlock(ch, 4, buf); }),
            "ERROR: E2P_READ_BLOCK failed!    status:Access failed\n");
  dev.fail_call = true;
  EXPECT_EQ(CaptureStdout([&] { ReadRegister(ch, 0, v); }),
            "ERROR: Error in DeviceIoControl (IOCTL_ORN5300_MP_ACCESS) : 31\n");
}

TEST_F(ChannelTest, ResultsAreLeftAloneOnFailure) {
  // What a failed request leaves after the header is not a reply.
  ch.block[16] = 0x77;
  dev.op_status[READ_REGISTER] = 1;
  uint32_t v = 0xDEADBEEF;
  CaptureStdout([&] { EXPECT_FALSE(ReadRegister(ch, 4, v)); });
  EXPECT_EQ(v, 0xDEADBEEFu);
}

TEST_F(ChannelTest, LongReplyTextIsCutAndTerminated) {
  std::vector<uint8_t> reply;
  for (int i = 0; i < 300; ++i) reply.insert(reply.end(), {'a', 0});
  // A surrogate pair straddling the cut must not be split.
  reply[2 * 126] = 0x3D; reply[2 * 126 + 1] = 0xD8;
  reply[2 * 127] = 0x00; reply[2 * 127 + 1] = 0xDE;
  dev.replies[GET_ADAPTER_PDO] = reply;
  AdapterText text{};
  ASSERT_TRUE(GetAdapterText(ch, GET_ADAPTER_PDO, text));
  EXPECT_EQ(text[126], 0);
  EXPECT_EQ(text[125], u'a');
}

TEST_F(ChannelTest, OperationParametersAndLengths) {
  uint8_t b = 0;
  ASSERT_TRUE(E2pReadByte(ch, 256, b));
  EXPECT_EQ(dev.requests.back().param & 0xFFFF, 256u);
  EXPECT_EQ(dev.requests.back().in_len, 4096u);
  dev.requests.clear();
  ASSERT_TRUE(E2pWriteByte(ch, 256, 0xA5));
  ASSERT_EQ(dev.requests.size(), 3u);
  EXPECT_EQ(dev.requests[1].param, 256u | (1u << 16));
  EXPECT_EQ(dev.requests[1].in_len, 17u);
  EXPECT_EQ(dev.requests[1].data[0], 0xA5);
  uint8_t reply = 9;
  dev.replies[SET_LINK_MODE] = {1};
  ASSERT_TRUE(SetLinkMode(ch, 5, reply));
  EXPECT_EQ(reply, 1);
  EXPECT_EQ(dev.requests.back().in_len, 20u);
  EXPECT_EQ(dev.requests.back().data[0], 5);
  ASSERT_TRUE(OtpReadBlock(ch, 257, 255, std::vector<uint8_t>(255).data()));
  EXPECT_EQ(dev.requests[dev.requests.size() - 2].param, 257u | (255u << 16));
}

}  // namespace
