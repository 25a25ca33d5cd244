// The simulated driver and chip: memories, registers, PHY, link, the MCU
// bridge, and the requests a driver refuses.
#include "tests/sim/sim_fixture.h"

namespace simtest {
namespace {

using Requests = SimTest;

TEST_F(Requests, SmallEepromMirrorsUpperOffsetsOntoTheLowerHalf) {
  Start(R"({"eeprom_size": 256})");
  ASSERT_TRUE(E2pWriteByte(ch, 0x105, 0xAB));
  uint8_t value = 0;
  ASSERT_TRUE(E2pReadByte(ch, 0x005, value));
  EXPECT_EQ(value, 0xAB);
  ASSERT_TRUE(E2pReadByte(ch, 0x305, value));
  EXPECT_EQ(value, 0xAB);

  std::array<uint8_t, 512> image{};
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7);
  ASSERT_TRUE(E2pWriteBlock(ch, 512, image.data()));  // the upper half lands on the lower
  std::array<uint8_t, 512> back{};
  ASSERT_TRUE(E2pReadBlock(ch, 512, back.data()));
  for (size_t i = 0; i < 256; ++i) {
    ASSERT_EQ(back[i], image[256 + i]) << i;
    ASSERT_EQ(back[256 + i], image[256 + i]) << i;
  }
  const auto saved = Saved();
  EXPECT_EQ(saved["eeprom"].get<std::string>().size(), 512u);  // still 256 bytes
}

TEST_F(Requests, EepromWritesNeedTheWriteEnableCommand) {
  Start("{}");
  alignas(4) std::array<uint8_t, 4096> b{};
  auto write_byte = [&](uint8_t value) {
    b[16] = value;
    return Raw(b.data(), E2P_WRITE_BYTE, 0x00010003, 17);
  };
  auto command = [&](uint32_t word) { return Raw(b.data(), E2P_COMMAND, word, 17).status; };
  uint8_t value = 0;

  EXPECT_EQ(write_byte(0x11).status, 1u);
  ASSERT_TRUE(E2pReadByte(ch, 3, value));
  EXPECT_EQ(value, 0xFF);

  EXPECT_EQ(command(0x20000000), 0u);
  EXPECT_EQ(command(0x12345678), 0u);  // other words change nothing
  EXPECT_EQ(write_byte(0x22).status, 0u);
  ASSERT_TRUE(E2pReadByte(ch, 3, value));
  EXPECT_EQ(value, 0x22);

  EXPECT_EQ(command(0x10000000), 0u);
  EXPECT_EQ(write_byte(0x33).status, 1u);
  ASSERT_TRUE(E2pReadByte(ch, 3, value));
  EXPECT_EQ(value, 0x22);

  Reopen();  // the enable does not outlive the run
  EXPECT_EQ(write_byte(0x44).status, 1u);
}

TEST_F(Requests, OtpBitsCanOnlyBeSetAndOnlyWhileOpenForProgramming) {
  Start(R"({"otp": "00 00 80"})");
  const uint8_t low[] = {0x0F, 0x00};
  const uint8_t high[] = {0xF0, 0x01};
  ASSERT_TRUE(OtpWriteBlock(ch, 1, 2, low));
  ASSERT_TRUE(OtpWriteBlock(ch, 1, 2, high));
  const uint8_t zeros[] = {0x00, 0x00};
  ASSERT_TRUE(OtpWriteBlock(ch, 1, 2, zeros));  // clearing is impossible
  std::array<uint8_t, 4> back{};
  ASSERT_TRUE(OtpReadBlock(ch, 0, 4, back.data()));
  EXPECT_EQ(back, (std::array<uint8_t, 4>{0x00, 0xFF, 0x81, 0x00}));

  alignas(4) std::array<uint8_t, 4096> b{};
  auto configure = [&](uint32_t word) { Raw(b.data(), OTP_CONFIGURE, word, 17); };
  auto read = [&] { return Raw(b.data(), OTP_READ_BLOCK, 0x00040000, 4096).status; };
  auto write = [&] {
    b[16] = 0xFF;
    return Raw(b.data(), OTP_WRITE_BLOCK, 0x00010000, 17).status;
  };
  EXPECT_EQ(read(), 1u);  // closed
  EXPECT_EQ(write(), 1u);
  configure(0x02000000);
  EXPECT_EQ(read(), 0u);
  EXPECT_EQ(write(), 1u);  // open for reading only
  configure(0x06000002);
  EXPECT_EQ(read(), 0u);
  EXPECT_EQ(write(), 0u);
  configure(0x01000000);
  EXPECT_EQ(read(), 1u);
  EXPECT_EQ(Saved()["otp"].get<std::string>().substr(0, 8), "FFFF8100");
}

TEST_F(Requests, RegisterZeroIsTheReadOnlyChipId) {
  Start(R"({"chip_id": "0x530A0000"})");
  ASSERT_TRUE(WriteRegister(ch, 0, 0x12345678));
  ASSERT_TRUE(WriteRegister(ch, 0x10C, 0xCAFEF00D));
  EXPECT_EQ(Reg(0), 0x530A0000u);
  EXPECT_EQ(Reg(0x10C), 0xCAFEF00Du);
  const auto saved = Saved();
  EXPECT_EQ(saved["chip_id"], "0x530A0000");
  EXPECT_EQ(saved["registers"]["0x010C"], "0xCAFEF00D");
  EXPECT_FALSE(saved["registers"].contains("0x0000"));
}

TEST_F(Requests, PhyReadSequencesStepRepeatTheLastAndRestartEachRun) {
  Start(R"({"phy": {"1": ["0x7949", "0x796D", 5], "0x11": [1, 2]}})");
  EXPECT_EQ(Phy(1), 0x7949);
  EXPECT_EQ(Phy(0x11), 1);  // each register has its own position
  EXPECT_EQ(Phy(1), 0x796D);
  EXPECT_EQ(Phy(1), 5);
  EXPECT_EQ(Phy(1), 5);
  Reopen();
  EXPECT_EQ(Phy(1), 0x7949);
  ASSERT_TRUE(WritePhy(ch, 0x11, 0xBEEF));  // a write replaces the sequence
  EXPECT_EQ(Phy(0x11), 0xBEEF);
  EXPECT_EQ(Phy(0x11), 0xBEEF);
  const auto saved = Saved();
  EXPECT_EQ(saved["phy"]["0x0011"], "0xBEEF");
  EXPECT_EQ(saved["phy"]["0x0001"].size(), 3u);  // untouched sequences stay in the file
}

TEST_F(Requests, ReadPhyReturns20BytesForWideIndexesAnd18Otherwise) {
  Start(R"({"phy": {"0x80000002": "0x12345678", "0x20000002": "0x9ABCDEF0",
                    "0x60000002": "0x11112222", "2": "0x55556666"}})");
  alignas(4) std::array<uint8_t, 4096> b{};
  const std::vector<std::tuple<uint32_t, uint32_t, uint32_t>> cases = {
      {0x80000002, 20, 0x12345678}, {0x20000002, 20, 0x9ABCDEF0},
      {0x60000002, 18, 0x2222},     {0x00000002, 18, 0x6666},
      {0xA0000002, 20, 0},          {0x40010, 18, 0},
  };
  for (auto [index, returned, value] : cases) {
    SCOPED_TRACE(index);
    std::fill(b.begin(), b.end(), 0);
    const RawResult r = Raw(b.data(), READ_PHY, index, 4096);
    EXPECT_EQ(r.status, 0u);
    EXPECT_EQ(r.returned, returned);
    EXPECT_EQ(returned == 20 ? Get32(b.data(), 16) : Get32(b.data(), 16) & 0xFFFF, value);
  }
  // Through the channel, a 16-bit reply keeps the caller's upper half.
  uint32_t v = 0xAAAA0000;
  ASSERT_TRUE(ReadPhy(ch, 2, v));
  EXPECT_EQ(v, 0xAAAA6666u);
}

TEST_F(Requests, SetLinkModeForcesPhyRegistersAsWrites) {
  Start(R"({"phy": {"0": [1, 2], "9": ["0x0300", "0x0000"]}, "link_mode_reply": 7})");
  const uint16_t forced[] = {0x0000, 0x0100, 0x2000, 0x2100, 0x0140};
  for (uint32_t mode = 1; mode <= 5; ++mode) {
    uint8_t reply = 0;
    ASSERT_TRUE(SetLinkMode(ch, mode, reply));
    EXPECT_EQ(reply, 7);
    EXPECT_EQ(Phy(0), forced[mode - 1]);
    EXPECT_EQ(Phy(0), forced[mode - 1]);
  }
  EXPECT_EQ(Phy(9), 0x1B00);  // first element of the sequence, with 0x1800 set
  EXPECT_EQ(Phy(9), 0x1B00);  // and the sequence is gone

  alignas(4) std::array<uint8_t, 4096> b{};
  for (uint32_t bad : {0u, 6u, 0xFFFFFFFFu}) {
    Put32(b.data(), 16, bad);
    EXPECT_EQ(Raw(b.data(), SET_LINK_MODE, 0, 20).status, 2u) << bad;
  }
  ASSERT_TRUE(SetLinkState(ch, 0));
  Put32(b.data(), 16, 2);
  EXPECT_EQ(Raw(b.data(), SET_LINK_STATE, 0, 20).status, 2u);
  const auto saved = Saved();
  EXPECT_EQ(saved["link_mode"], 5);
  EXPECT_EQ(saved["link_state"], 0);
  EXPECT_EQ(saved["phy"]["0x0000"], "0x0140");
}

TEST_F(Requests, StatisticsAndCabScanReplyTheirValues) {
  Start(R"({"usb_phy_stats": [9, 8, 7], "cabscan": ["0x1234", 5, 6], "adapter_port": 11,
            "adapter_bits": [1, 2, "0x80000000"]})");
  std::array<uint32_t, 16> usb{};
  ASSERT_TRUE(ReadUsbPhyStats(ch, usb));
  EXPECT_EQ(usb[0], 9u);
  EXPECT_EQ(usb[2], 7u);
  EXPECT_EQ(usb[15], 0u);
  std::array<uint16_t, 3> cab{};
  ASSERT_TRUE(ExecuteCabScan(ch, cab));
  EXPECT_EQ(cab, (std::array<uint16_t, 3>{0x1234, 5, 6}));
  uint32_t port = 0;
  ASSERT_TRUE(GetAdapterPort(ch, port));
  EXPECT_EQ(port, 11u);
  std::array<uint32_t, 3> bits{};
  ASSERT_TRUE(GetAdapterBits(ch, bits));
  EXPECT_EQ(bits, (std::array<uint32_t, 3>{1, 2, 0x80000000}));
}

TEST_F(Requests, McuBridgeAccessesXdataSfrAndProgramMemory) {
  Start("{}");
  auto write = [&](uint32_t index, uint32_t value) { ASSERT_TRUE(WritePhy(ch, index, value)); };
  // XDATA with auto-increment: a word high byte first.
  write(0x40011, 0x0840);
  write(0x40010, 0x84);
  write(0x40012, 0x88);
  write(0x40012, 0x8881);  // only the low byte counts
  write(0x40011, 0x0840);
  EXPECT_EQ(Phy(0x40013), 0x88);
  EXPECT_EQ(Phy(0x40013), 0x81);
  EXPECT_EQ(Phy(0x40011), 0x0842);  // the address moved on with each access
  // A single-byte access does not move the address.
  EXPECT_EQ(McuRead(0x0840), 0x88);
  EXPECT_EQ(Phy(0x40013), 0x88);
  // SFR space.
  write(0x40011, 0xF9);
  write(0x40010, 0x81);
  write(0x40012, 0x10);
  EXPECT_EQ(McuRead(0xF9), 0x00);  // XDATA 0xF9 is another byte
  EXPECT_EQ(McuRead(0xF9, 0x81), 0x10);
  // Program memory is the firmware load area at XDATA 0x5000.
  write(0x40011, 0x0000);
  write(0x40010, 0x86);
  for (uint32_t v : {0x02u, 0x01u, 0x23u}) write(0x40012, v);
  EXPECT_EQ(McuRead(0x5000), 0x02);
  EXPECT_EQ(McuRead(0x5002), 0x23);
  write(0x40011, 0x3FFF);
  write(0x40010, 0x86);
  write(0x40012, 0x5A);
  write(0x40012, 0x77);  // program address 0x4000: outside, ignored
  write(0x40011, 0x3FFF);
  EXPECT_EQ(Phy(0x40013), 0x5A);
  EXPECT_EQ(Phy(0x40013), 0xFF);
  EXPECT_EQ(McuRead(0x9000), 0x00);

  const auto saved = Saved();
  EXPECT_EQ(saved["mcu"]["running"], false);  // access still enabled
  EXPECT_EQ(saved["mcu"]["sfr"]["0xF9"], "10");
  EXPECT_EQ(saved["mcu"]["xdata"]["0x0840"], "8881");
  EXPECT_EQ(saved["mcu"]["xdata"]["0x5000"], "020123");
}

TEST_F(Requests, McuResetIsCountedAndReleaseStartsTheMcu) {
  Start(R"({"mcu": {"resets": 2}})");
  ASSERT_TRUE(WritePhy(ch, 0x40011, 0xFFFF));
  ASSERT_TRUE(WritePhy(ch, 0x40010, 0x80));
  ASSERT_TRUE(WritePhy(ch, 0x40012, 0x01));
  EXPECT_EQ(McuRead(0xFFFF), 0x00);  // the reset bit clears itself
  ASSERT_TRUE(WritePhy(ch, 0x40010, 0x00));
  EXPECT_EQ(Phy(0x40013), 0);  // released: no access
  const sim::SimState saved = SavedState();
  EXPECT_EQ(saved.mcu.resets, 3u);
  EXPECT_TRUE(saved.mcu.running);
}

TEST_F(Requests, RefusedRequestsGetStatus2AndChangeNothing) {
  Start(R"({"adapters": 2})");
  alignas(4) std::array<uint8_t, 4096> b{};
  ASSERT_TRUE(E2pCommand(ch, kE2pWriteEnable));
  ASSERT_TRUE(WriteRegister(ch, 0x10, 5));
  struct Case {
    const char* what;
    uint32_t signature, code, adapter, param, in_len, status;
  };
  const Case cases[] = {
      {"unknown code 6", kSignatureDefault, 6, 0, 0, 4096, 2},
      {"unknown code 99", kSignatureDefault, 99, 0, 0, 4096, 2},
      {"bad signature", 0x00010001, READ_REGISTER, 0, 0x10, 4096, 2},
      {"adapter past the count", kSignatureAdapter, READ_REGISTER, 2, 0x10, 4096, 1},
      {"second adapter", kSignatureAdapter, READ_REGISTER, 1, 0x10, 4096, 0},
      {"header cut short", kSignatureDefault, READ_REGISTER, 0, 0x10, 15, 2},
      {"register value missing", kSignatureDefault, WRITE_REGISTER, 0, 0x10, 19, 2},
      {"PHY value missing", kSignatureDefault, WRITE_PHY, 0, 0x1, 17, 2},
      {"wide PHY value cut", kSignatureDefault, WRITE_PHY, 0, 0x80000001, 18, 2},
      {"byte missing", kSignatureDefault, E2P_WRITE_BYTE, 0, 0x00010000, 16, 2},
      {"block data cut short", kSignatureDefault, E2P_WRITE_BLOCK, 0, 0x00100000, 31, 2},
      {"EEPROM block too long", kSignatureDefault, E2P_WRITE_BLOCK, 0, 0x02010000, 4096, 2},
      {"EEPROM read too long", kSignatureDefault, E2P_READ_BLOCK, 0, 0x02010000, 4096, 2},
      {"OTP past the end", kSignatureDefault, OTP_READ_BLOCK, 0, 0x000D01F4, 4096, 2},
      {"OTP write past the end", kSignatureDefault, OTP_WRITE_BLOCK, 0, 0x00020200, 4096, 2},
      {"link mode missing", kSignatureDefault, SET_LINK_MODE, 0, 0, 16, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::fill(b.begin() + 16, b.end(), 0xEE);
    Put32(b.data(), 16, 0x0BAD0BAD);
    const RawResult r = Raw(b.data(), c.code, c.param, c.in_len, c.signature, c.adapter);
    EXPECT_TRUE(r.call_ok);
    EXPECT_EQ(r.status, c.status);
    if (c.status != 0) {
      EXPECT_EQ(r.returned, 16u);
    }
  }
  EXPECT_EQ(Reg(0x10), 5u);
  EXPECT_EQ(Phy(1), 0x796D);
  std::array<uint8_t, 512> eeprom{};
  ASSERT_TRUE(E2pReadBlock(ch, 512, eeprom.data()));
  for (uint8_t v : eeprom) ASSERT_EQ(v, 0xFF);
}

TEST_F(Requests, NothingOutsideTheRequestBlockIsEverTouched) {
  // A text longer than the data area, ending in characters of two UTF-16 units.
  std::string long_text(2030, 'x');
  for (int i = 0; i < 10; ++i) long_text += "\xF0\x9F\x98\x80";
  Start(R"({"adapter_location": ")" + long_text + R"("})");
  std::vector<uint8_t> memory(4096 + 256, 0xC3);  // the block, then guard bytes
  uint8_t* b = memory.data();
  const uint32_t lengths[] = {0, 3, 15, 16, 17, 20, 528, 4095, 4096, 4097, 8192, 0xFFFFFFFF};
  for (uint32_t code = 0; code <= 30; ++code) {
    for (uint32_t in_len : lengths) {
      for (uint32_t param : {0u, 0x02000000u, 0xFFFFFFFFu, 0x0FF001F0u}) {
        Raw(b, code, param, in_len);
      }
    }
  }
  for (size_t i = 4096; i < memory.size(); ++i) ASSERT_EQ(memory[i], 0xC3) << i;

  // The long text is cut at a character boundary, NUL-terminated, in the block.
  const RawResult r = Raw(b, GET_ADAPTER_LOCATION, 0, 4096);
  EXPECT_EQ(r.status, 0u);
  EXPECT_LE(r.returned, 4096u);
  const uint32_t units = (r.returned - 16) / 2 - 1;
  EXPECT_EQ(b[16 + 2 * units] | b[17 + 2 * units], 0);
  const uint16_t last = static_cast<uint16_t>(b[16 + 2 * units - 2] | b[17 + 2 * units - 2] << 8);
  EXPECT_FALSE(last >= 0xD800 && last <= 0xDBFF);

  // An output buffer shorter than the block is refused by the call itself.
  const RawResult small = Raw(b, READ_REGISTER, 0, 4096, kSignatureDefault, 0, 64);
  EXPECT_FALSE(small.call_ok);
  EXPECT_EQ(small.error, 122u);
}

}  // namespace
}  // namespace simtest
