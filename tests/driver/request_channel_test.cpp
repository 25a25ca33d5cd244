// The request channel against a recording fake device: block layout, lengths,
// bracketing and failure messages.
#include "driver/request_channel.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Sent {
  uint32_t signature, code, adapter, param, in_len;
  std::vector<uint8_t> data;
};

// Answers every request with the status and reply the test sets up.
class FakeDevice : public platform::DeviceControl {
 public:
  std::vector<Sent> sent;
  std::function<uint32_t(const Sent&)> status = [](const Sent&) { return 0u; };
  std::function<void(uint8_t*)> reply = [](uint8_t*) {};
  uint32_t returned = 16;
  bool fail_call = false;
  uint32_t call_error = 31;

  bool Control(uint32_t code, uint8_t* b, uint32_t in_len, uint32_t out_len, uint32_t& ret,
               uint32_t& error) override {
    EXPECT_EQ(code, platform::IOCTL_ORN5300_MP_ACCESS);
    EXPECT_EQ(out_len, 4096u);
    auto g32 = [&](int o) { uint32_t v; std::memcpy(&v, b + o, 4); return v; };
    Sent s{g32(0), g32(4), g32(8), g32(12), in_len, {}};
    if (in_len > 16) s.data.assign(b + 16, b + in_len);
    sent.push_back(s);
    if (fail_call) { error = call_error; return false; }
    uint32_t st = status(s);
    std::memcpy(b + 8, &st, 4);
    reply(b);
    ret = returned;
    return true;
  }
  void Sleep(uint32_t) override {}
};

// Captures what a call prints on standard output.
std::string Capture(const std::function<void()>& fn) {
  std::fflush(stdout);
  testing::internal::CaptureStdout();
  fn();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

class ChannelTest : public testing::Test {
 protected:
  FakeDevice dev;
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
  ASSERT_EQ(dev.sent.size(), 4u);
  EXPECT_EQ(dev.sent[0].signature, 0x00010002u);
  EXPECT_EQ(dev.sent[0].adapter, 0u);
  EXPECT_EQ(dev.sent[1].signature, 0x00020001u);
  EXPECT_EQ(dev.sent[1].adapter, 0u);
  EXPECT_EQ(dev.sent[2].signature, 0x00020001u);
  EXPECT_EQ(dev.sent[2].adapter, 2u);
  EXPECT_EQ(dev.sent[3].signature, 0x00020001u);
  EXPECT_EQ(dev.sent[3].adapter, 2u);
}

TEST_F(ChannelTest, WritePhyWidthFollowsTheIndexFlags) {
  struct { uint32_t index; uint32_t in_len; } cases[] = {
      {0x40010, 18}, {0x20000010, 20}, {0x80000010, 20}, {0x60000010, 18}, {0xA0000010, 20}};
  for (auto c : cases) {
    dev.sent.clear();
    ASSERT_TRUE(WritePhy(ch, c.index, 0x12345678));
    ASSERT_EQ(dev.sent.size(), 1u);
    EXPECT_EQ(dev.sent[0].in_len, c.in_len) << std::hex << c.index;
    EXPECT_EQ(dev.sent[0].param, c.index);
    EXPECT_EQ(dev.sent[0].data[0], 0x78);
    EXPECT_EQ(dev.sent[0].data[1], 0x56);
  }
}

TEST_F(ChannelTest, ReadPhyWidthFollowsTheReturnedLength) {
  dev.reply = [](uint8_t* b) { uint32_t v = 0xAABBCCDD; std::memcpy(b + 16, &v, 4); };
  dev.returned = 18;
  uint32_t v = 0x11110000;
  ASSERT_TRUE(ReadPhy(ch, 1, v));
  EXPECT_EQ(v, 0x1111CCDDu);  // upper half as the caller set it
  uint16_t v16 = 0;
  ASSERT_TRUE(ReadPhy16(ch, 1, v16));
  EXPECT_EQ(v16, 0xCCDD);
  dev.returned = 20;
  ASSERT_TRUE(ReadPhy(ch, 1, v));
  EXPECT_EQ(v, 0xAABBCCDDu);
}

TEST_F(ChannelTest, BlockWriteIsBracketedAndSendsLengthPlusHeader) {
  std::vector<uint8_t> image(512, 0x5A);
  ASSERT_TRUE(E2pWriteBlock(ch, 512, image.data()));
  ASSERT_EQ(dev.sent.size(), 3u);
  EXPECT_EQ(dev.sent[0].code, uint32_t{E2P_COMMAND});
  EXPECT_EQ(dev.sent[0].param, 0x20000000u);
  EXPECT_EQ(dev.sent[0].in_len, 17u);
  EXPECT_EQ(dev.sent[1].code, uint32_t{E2P_WRITE_BLOCK});
  EXPECT_EQ(dev.sent[1].in_len, 528u);
  EXPECT_EQ(dev.sent[1].param, 512u << 16);
  EXPECT_EQ(dev.sent[1].data, image);
  EXPECT_EQ(dev.sent[2].param, 0x10000000u);
}

TEST_F(ChannelTest, FailedOwnRequestStillClosesButFailedOpeningSendsNothingMore) {
  dev.status = [](const Sent& s) { return s.code == E2P_WRITE_BLOCK ? 2u : 0u; };
  uint8_t byte = 1;
  std::string out = Capture([&] { EXPECT_FALSE(E2pWriteBlock(ch, 1, &byte)); });
  EXPECT_EQ(out, "ERROR: E2P_WRITE_BLOCK failed!    status:Adapter Busy\n");
  ASSERT_EQ(dev.sent.size(), 3u);
  EXPECT_EQ(dev.sent[2].param, 0x10000000u);

  dev.sent.clear();
  dev.status = [](const Sent& s) { return s.code == OTP_CONFIGURE ? 1u : 0u; };
  out = Capture([&] { EXPECT_FALSE(OtpWriteBlock(ch, 0, 1, &byte)); });
  EXPECT_EQ(out, "ERROR: OTP_CONFIGURE failed! status:Access failed\n");
  EXPECT_EQ(dev.sent.size(), 1u);
}

TEST_F(ChannelTest, StatusWordingDependsOnTheOperation) {
  uint32_t v = 0;
  uint8_t buf[4];
  dev.status = [](const Sent&) { return 2u; };
  EXPECT_EQ(Capture([&] { ReadRegister(ch, 0, v); }),
            "ERROR: READ_REGISTER failed !    status:Other Error\n");
  EXPECT_EQ(Capture([&] { E2pReadBlock(ch, 4, buf); }),
            "ERROR: E2P_READ_BLOCK failed!    status:Adapter Busy\n");
  std::array<uint32_t, 3> bits{};
  EXPECT_EQ(Capture([&] { GetAdapterBits(ch, bits); }),
            "ERROR: GET_DRIVER_VERSION failed!    status:Adapter Busy\n");
  dev.status = [](const Sent&) { return 1u; };
  EXPECT_EQ(Capture([&] { ReadRegister(ch, 0, v); }),
            "ERROR: READ_REGISTER failed !    status:Access failed\n");
  EXPECT_EQ(Capture([&] { E2pReadBlock(ch, 4, buf); }),
            "ERROR: E2P_READ_BLOCK failed!    status:Access failed\n");
  dev.fail_call = true;
  EXPECT_EQ(Capture([&] { ReadRegister(ch, 0, v); }),
            "ERROR: Error in DeviceIoControl (IOCTL_ORN5300_MP_ACCESS) : 31\n");
}

TEST_F(ChannelTest, ResultsAreLeftAloneOnFailure) {
  dev.reply = [](uint8_t* b) { b[16] = 0x77; };
  dev.status = [](const Sent&) { return 1u; };
  uint32_t v = 0xDEADBEEF;
  Capture([&] { EXPECT_FALSE(ReadRegister(ch, 4, v)); });
  EXPECT_EQ(v, 0xDEADBEEFu);
}

TEST_F(ChannelTest, LongReplyTextIsCutAndTerminated) {
  dev.reply = [](uint8_t* b) {
    for (int i = 0; i < 300; ++i) { b[16 + 2 * i] = 'a'; b[17 + 2 * i] = 0; }
    // A surrogate pair straddling the cut must not be split.
    b[16 + 2 * 126] = 0x3D; b[17 + 2 * 126] = 0xD8;
    b[16 + 2 * 127] = 0x00; b[17 + 2 * 127] = 0xDE;
  };
  AdapterText text{};
  ASSERT_TRUE(GetAdapterText(ch, GET_ADAPTER_PDO, text));
  EXPECT_EQ(text[126], 0);
  EXPECT_EQ(text[125], u'a');
}

TEST_F(ChannelTest, OperationParametersAndLengths) {
  uint8_t b = 0;
  ASSERT_TRUE(E2pReadByte(ch, 256, b));
  EXPECT_EQ(dev.sent.back().param & 0xFFFF, 256u);
  EXPECT_EQ(dev.sent.back().in_len, 4096u);
  dev.sent.clear();
  ASSERT_TRUE(E2pWriteByte(ch, 256, 0xA5));
  ASSERT_EQ(dev.sent.size(), 3u);
  EXPECT_EQ(dev.sent[1].param, 256u | (1u << 16));
  EXPECT_EQ(dev.sent[1].in_len, 17u);
  EXPECT_EQ(dev.sent[1].data[0], 0xA5);
  uint8_t reply = 9;
  dev.reply = [](uint8_t* blk) { blk[16] = 1; };
  ASSERT_TRUE(SetLinkMode(ch, 5, reply));
  EXPECT_EQ(reply, 1);
  EXPECT_EQ(dev.sent.back().in_len, 20u);
  EXPECT_EQ(dev.sent.back().data[0], 5);
  ASSERT_TRUE(OtpReadBlock(ch, 257, 255, std::vector<uint8_t>(255).data()));
  EXPECT_EQ(dev.sent[dev.sent.size() - 2].param, 257u | (255u << 16));
}

}  // namespace
