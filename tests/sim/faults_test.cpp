// Fault injection rules: matching, counting, and their effects.
#include "support/capture.h"
#include "tests/sim/sim_fixture.h"

namespace simtest {
namespace {

using Faults = SimTest;
using test::CaptureStdout;

TEST_F(Faults, NthFiresOnceOnTheNthMatchingRequest) {
  Start(R"({"registers": {"0x10": 1},
            "faults": [{"op": "READ_REGISTER", "param": "0x10", "nth": 2, "status": 2}]})");
  uint32_t v = 0;
  EXPECT_TRUE(ReadRegister(ch, 0x14, v));  // another parameter: not counted
  EXPECT_TRUE(ReadRegister(ch, 0x10, v));
  EXPECT_EQ(CaptureStdout([&] { EXPECT_FALSE(ReadRegister(ch, 0x10, v)); }),
            "ERROR: READ_REGISTER failed !    status:Other Error\n");
  EXPECT_TRUE(ReadRegister(ch, 0x10, v));
  EXPECT_EQ(v, 1u);
  Reopen();  // counting restarts with every run
  EXPECT_TRUE(ReadRegister(ch, 0x10, v));
  EXPECT_FALSE(ReadRegister(ch, 0x10, v));
  EXPECT_EQ(Saved()["faults"].size(), 1u);  // rules stay in the file
}

TEST_F(Faults, FromNthFiresOnEveryLaterMatchWithTheCallError) {
  Start(R"({"faults": [{"op": "READ_PHY", "from_nth": 3, "ioctl_error": 31}]})");
  alignas(4) std::array<uint8_t, 4096> b{};
  std::vector<bool> ok;
  for (int i = 0; i < 5; ++i) {
    const RawResult r = Raw(b.data(), READ_PHY, 1, 4096);
    ok.push_back(r.call_ok);
    if (!r.call_ok) {
      EXPECT_EQ(r.error, 31u);
    }
  }
  EXPECT_EQ(ok, (std::vector<bool>{true, true, false, false, false}));
  uint16_t v = 0;
  EXPECT_EQ(CaptureStdout([&] { EXPECT_FALSE(ReadPhy16(ch, 1, v)); }),
            "ERROR: Error in DeviceIoControl (IOCTL_ORN5300_MP_ACCESS) : 31\n");
}

TEST_F(Faults, StatusFaultLeavesTheRequestWithoutEffect) {
  Start(R"({"faults": [{"op": "WRITE_REGISTER", "status": 1},
                       {"op": "E2P_WRITE_BLOCK", "status": 5}]})");
  const uint8_t data[] = {1, 2, 3};
  EXPECT_EQ(CaptureStdout([&] {
              EXPECT_FALSE(WriteRegister(ch, 0x20, 7));
              EXPECT_FALSE(E2pWriteBlock(ch, 3, data));  // the closing command is still sent
            }),
            "ERROR: WRITE_REGISTER failed !    status:Access failed\n"
            "ERROR: E2P_WRITE_BLOCK failed!    status:Adapter Busy\n");
  EXPECT_EQ(Reg(0x20), 0u);
  uint8_t v = 0;
  ASSERT_TRUE(E2pReadByte(ch, 0, v));
  EXPECT_EQ(v, 0xFF);
}

TEST_F(Faults, CorruptInvertsOneReplyByte) {
  Start(R"({"eeprom": "00 11 22 33", "faults": [{"op": "E2P_READ_BLOCK", "corrupt": 1},
                                                {"op": "READ_REGISTER", "corrupt": 3}]})");
  std::array<uint8_t, 4> data{};
  ASSERT_TRUE(E2pReadBlock(ch, 4, data.data()));
  EXPECT_EQ(data, (std::array<uint8_t, 4>{0x00, 0xEE, 0x22, 0x33}));
  EXPECT_EQ(Reg(0), 0xAC000000u);
  ASSERT_TRUE(E2pReadBlock(ch, 1, data.data()));  // offset past the reply: no change
  EXPECT_EQ(data[0], 0x00);
  EXPECT_EQ(SavedState().eeprom[1], 0x11);  // the memory itself is intact
}

TEST_F(Faults, TheFirstFiringRuleDecidesAndEveryRuleCounts) {
  Start(R"({"faults": [{"op": "READ_PHY", "nth": 2, "status": 5},
                       {"op": "READ_PHY", "param": 1, "status": 3},
                       {"op": "READ_PHY", "nth": 3, "ioctl_error": 21}]})");
  alignas(4) std::array<uint8_t, 4096> b{};
  auto outcome = [&](uint32_t index) {
    const RawResult r = Raw(b.data(), READ_PHY, index, 4096);
    return r.call_ok ? static_cast<int>(r.status) : -static_cast<int>(r.error);
  };
  EXPECT_EQ(outcome(1), 3);    // rule 2
  EXPECT_EQ(outcome(1), 5);    // rules 1 and 2 fire; rule 1 decides
  EXPECT_EQ(outcome(1), 3);    // rules 2 and 3 fire; rule 2 decides
  EXPECT_EQ(outcome(2), 0);    // no rule fires: rule 3 already had its 3rd match
  EXPECT_EQ(outcome(1), 3);
}

}  // namespace
}  // namespace simtest
