// PHY link evaluation, the link-mode stage and the driver link-state command
// against a fake driver that answers the clause 22 registers.
#include "device/link.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "support/capture.h"
#include "support/fake_device.h"

namespace {

using test::CaptureStdout;
// PHY index -> the answers of its reads, the last one repeating.
using Regs = std::map<uint32_t, std::vector<uint32_t>>;

// Replaces the PHY registers of `dev` with `regs`.
void LoadPhy(fake::Device& dev, const Regs& regs) {
  dev.phy.clear();
  dev.phy_reads.clear();
  for (const auto& [index, answers] : regs) dev.PhySequence(index, answers);
}

// A gigabit partner, auto-negotiated, this side master.
Regs Gigabit() {
  return {{0, {0x1140}}, {1, {0x796D}}, {4, {0x01E1}}, {5, {0xC1E1}}, {9, {0x0200}},
          {10, {0x4800}}};
}

Regs With(Regs regs, const Regs& changes) {
  for (const auto& [reg, seq] : changes) regs[reg] = seq;
  return regs;
}

Regs Forced(uint32_t control, uint32_t reg9 = 0) {
  return {{0, {control}}, {1, {0x796D}}, {5, {0xC1E1}}, {9, {reg9}}};
}

constexpr const char* kPhyFail = "ERROR: READ_PHY failed !    status:Other Error\n";

struct LinkCase {
  const char* name;
  Regs regs;
  std::set<std::pair<uint32_t, int>> failing;
  int expected;
  std::string output;
  std::vector<uint32_t> reads;  // empty: not checked
};

TEST(LanPhyGetLinkState, ClassifiesEveryRegisterSet) {
  const LinkCase cases[] = {
      {"link down", With(Gigabit(), {{1, {0x7969}}}), {}, -1, "", {0, 1, 1}},
      {"link drops only in the second status read", With(Gigabit(), {{1, {0x796D, 0x7969}}}),
       {}, -1, "", {0, 1, 1}},
      {"latched drop in the first status read is ignored",
       With(Gigabit(), {{1, {0x7969, 0x796D}}}), {}, 5, "", {}},
      {"negotiation not complete", With(Gigabit(), {{1, {0x794D}}}), {}, 0, "", {0, 1, 1}},
      {"gigabit master", Gigabit(), {}, 5, "", {0, 1, 1, 5, 0, 4, 9, 10}},
      {"gigabit slave", With(Gigabit(), {{10, {0x0800}}}), {}, 6, "", {}},
      {"gigabit whatever the 10/100 registers say",
       With(Gigabit(), {{4, {0x0001}}, {5, {0x4000}}}), {}, 5, "", {}},
      {"master/slave configuration fault", With(Gigabit(), {{10, {0xC800}}}), {}, -1,
       "ERROR: ERROR:  LanPhyGetLinkState() bad MS_CONFIG_FAULT, PHY_1000T_STATUS=0xC800\n", {}},
      {"partner not gigabit: 100 full wins over 100 half",
       With(Gigabit(), {{4, {0x0181}}, {5, {0x4180}}, {10, {0x0000}}}), {}, 4, "", {}},
      {"this side does not advertise gigabit",
       With(Gigabit(), {{9, {0x0000}}, {5, {0x4080}}}), {}, 3, "", {}},
      {"10 full", With(Gigabit(), {{9, {0x0000}}, {5, {0x4040}}}), {}, 2, "", {}},
      {"10 half", With(Gigabit(), {{9, {0x0000}}, {5, {0x4020}}}), {}, 1, "", {}},
      {"no common 10/100 ability",
       With(Gigabit(), {{9, {0x0000}}, {4, {0x0061}}, {5, {0x0180}}}), {}, -1,
       "ERROR: ERROR:  LanPhyGetLinkState() bad 10/100 reg's, wAdv=0x0061, "
       "wLpAbility=0x0180.\n",
       {}},
      {"negotiation complete, partner announced nothing: judged as forced",
       With(Gigabit(), {{0, {0x3100}}, {5, {0x001F}}}), {}, 4, "", {0, 1, 1, 5, 0}},
      {"second control read decides", With(Gigabit(), {{0, {0x1140, 0x2100}}}), {}, 4, "", {}},
      {"forced 1000 master", Forced(0x0140, 0x1800), {}, 5, "", {0, 1, 1, 5, 0, 9}},
      {"forced 1000 slave", Forced(0x0140, 0x1000), {}, 6, "", {}},
      {"forced 1000 without manual configuration", Forced(0x0140, 0x0800), {}, -1,
       "ERROR: ERROR:  LanPhyGetLinkState() non-ANEG GbE bad PHY_1000T_CTRL=0x0800\n", {}},
      {"forced 1000 half", Forced(0x0040), {}, -1,
       "ERROR: ERROR:  LanPhyGetLinkState() BCR=0x0040, says 1000HD???\n", {0, 1, 1, 5, 0}},
      {"invalid speed bits", Forced(0x2040), {}, -1,
       "ERROR: ERROR:  LanPhyGetLinkState() invalid speed bits in BCR=0x2040.\n", {}},
      {"forced 10 half", Forced(0x0000), {}, 1, "", {}},
      {"forced 10 full", Forced(0x0100), {}, 2, "", {}},
      {"forced 100 half", Forced(0x2000), {}, 3, "", {}},
      {"forced 100 full", Forced(0x2100), {}, 4, "", {}},
  };
  for (const LinkCase& c : cases) {
    SCOPED_TRACE(c.name);
    fake::Device dev;
    LoadPhy(dev, c.regs);
    dev.failing_phy_reads = c.failing;
    RequestChannel ch;
    ch.device = &dev;
    int code = 99;
    EXPECT_EQ(CaptureStdout([&] { code = LanPhyGetLinkState(ch); }), c.output);
    EXPECT_EQ(code, c.expected);
    if (!c.reads.empty()) {
      EXPECT_EQ(dev.PhyReads(), c.reads);
    }
    for (const fake::Request& r : dev.requests) EXPECT_EQ(r.code, uint32_t{READ_PHY});
  }
}

TEST(LanPhyGetLinkState, FailedReadAtEachStepNamesTheRegister) {
  const LinkCase cases[] = {
      {"", Gigabit(), {{0, 1}}, -1, "failed reading PHY_CTRL.\n", {}},
      {"", Gigabit(), {{1, 1}}, -1, "failed 1st reading PHY_BMS_REG.\n", {}},
      {"", Gigabit(), {{1, 2}}, -1, "failed 2nd reading PHY_BMS_REG.\n", {}},
      {"", Gigabit(), {{5, 1}}, -1, "failed reading PHY_ANLPA_REG\n", {}},
      {"", Gigabit(), {{0, 2}}, -1, "failed reading PHY_BMC_REG.\n", {}},
      {"", Gigabit(), {{4, 1}}, -1, "failed reading PHY_AUTONEG_ADV.\n", {}},
      {"", Gigabit(), {{9, 1}}, -1, "failed reading PHY_1000T_CTRL.\n", {}},
      {"", Gigabit(), {{10, 1}}, -1, "failed reading PHY_1000T_STATUS.\n", {}},
      {"", Forced(0x0140, 0x1800), {{9, 1}}, -1, "failed reading PHY_1000T_CTRL for non-ANEG\n",
       {}},
  };
  for (const LinkCase& c : cases) {
    SCOPED_TRACE(c.output);
    fake::Device dev;
    LoadPhy(dev, c.regs);
    dev.failing_phy_reads = c.failing;
    RequestChannel ch;
    ch.device = &dev;
    int code = 99;
    const std::string out = CaptureStdout([&] { code = LanPhyGetLinkState(ch); });
    EXPECT_EQ(out, std::string(kPhyFail) + "ERROR: ERROR:  LanPhyGetLinkState() " + c.output);
    EXPECT_EQ(code, -1);
    // Nothing is read after the failing register.
    const auto& [reg, nth] = *c.failing.begin();
    EXPECT_EQ(dev.PhyReads().back(), reg);
    (void)nth;
  }
}

class LinkModeStage : public testing::Test {
 protected:
  fake::Device dev;
  RequestChannel ch;
  RunSettings rs;
  LinkStageResult result;
  StageResult stage;
  std::string out;

  void SetUp() override {
    ch.device = &dev;
    LoadPhy(dev, Gigabit());
    rs.LinkModeGiven = 1;
    rs.LinkMode = 4;
  }
  void Run() { out = CaptureStdout([&] { stage = RunLinkModeStage(ch, rs, result); }); }
};

TEST_F(LinkModeStage, LinkUpAtTheTenthPollIsAccepted) {
  // Each evaluation reads the status register twice: reads 19 and 20 belong
  // to the tenth poll.
  std::vector<uint32_t> status(19, 0x7969);
  status.push_back(0x796D);
  dev.PhySequence(1, status);
  Run();
  EXPECT_EQ(out, "\nLink mode: 1000 FD\n");
  EXPECT_EQ(stage.exit_code, 0);
  EXPECT_TRUE(stage.continue_run);
  EXPECT_EQ(result.link_code, 5);
  std::vector<uint32_t> sleeps{2000};
  sleeps.insert(sleeps.end(), 9, 500);
  EXPECT_EQ(dev.sleeps, sleeps);
  ASSERT_FALSE(dev.requests.empty());
  EXPECT_EQ(dev.requests[0].code, uint32_t{SET_LINK_MODE});
  EXPECT_EQ(dev.requests[0].in_len, 20u);
  EXPECT_EQ(dev.requests[0].data, (std::vector<uint8_t>{4, 0, 0, 0}));
}

TEST_F(LinkModeStage, LinkThatNeverComesUpCostsTenPollsAndTenWaits) {
  dev.phy[1] = 0x7969;
  Run();
  EXPECT_EQ(out, "\nLink mode: LINK DOWN\n");
  EXPECT_EQ(stage.exit_code, 4);
  EXPECT_TRUE(stage.continue_run);  // the network stages still run
  EXPECT_EQ(result.link_code, -1);
  std::vector<std::string> expected{"SET_LINK_MODE 0", "sleep 2000"};
  for (int i = 0; i < 10; ++i) {
    expected.insert(expected.end(), {"READ_PHY 0", "READ_PHY 1", "READ_PHY 1", "sleep 500"});
  }
  EXPECT_EQ(dev.events, expected);
}

TEST_F(LinkModeStage, ReplyByteOneWaitsLongerAndIsHandedOn) {
  dev.replies[SET_LINK_MODE] = {1};
  Run();
  EXPECT_EQ(dev.sleeps, (std::vector<uint32_t>{2000, 2000}));
  EXPECT_EQ(result.reply_byte, 1);
  EXPECT_EQ(result.link_code, 5);

  dev.sleeps.clear();
  dev.replies[SET_LINK_MODE] = {2};
  Run();
  EXPECT_EQ(dev.sleeps, (std::vector<uint32_t>{2000}));
  EXPECT_EQ(result.reply_byte, 2);
}

TEST_F(LinkModeStage, PrintsTheModeThePhyReportsNotTheOneRequested) {
  const std::pair<uint32_t, const char*> cases[] = {
      {0x0000, "\nLink mode: 10 HD\n"},  {0x0100, "\nLink mode: 10 FD\n"},
      {0x2000, "\nLink mode: 100 HD\n"}, {0x2100, "\nLink mode: 100 FD\n"},
      {0x0140, "\nLink mode: 1000 FD\n"}};
  for (const auto& [control, text] : cases) {
    LoadPhy(dev, Forced(control, 0x1000));  // forced gigabit as slave: code 6
    rs.LinkMode = 5;
    Run();
    EXPECT_EQ(out, text);
    EXPECT_EQ(stage.exit_code, 0);
  }
}

TEST_F(LinkModeStage, FailedSetLinkModeEndsTheRun) {
  dev.op_status[SET_LINK_MODE] = 2;
  Run();
  EXPECT_EQ(out, "ERROR: SET_LINK_MODE failed !    status:Other Error\nERROR: Set link mode failed\n");
  EXPECT_EQ(stage.exit_code, 4);
  EXPECT_FALSE(stage.continue_run);
  EXPECT_EQ(result.link_code, -1);
  EXPECT_EQ(dev.requests.size(), 1u);
  EXPECT_TRUE(dev.sleeps.empty());
}

TEST_F(LinkModeStage, DoesNotRunWithoutModeOrWithTheLoopbackTest) {
  RunSettings cases[3];
  cases[0].LinkModeGiven = 0;
  cases[0].LinkMode = 4;
  cases[1].LinkModeGiven = 1;
  cases[1].LinkMode = 0;
  cases[2].LinkModeGiven = 1;
  cases[2].LinkMode = 4;
  cases[2].NetworkTest = kNetLoopback;
  for (const RunSettings& c : cases) {
    rs = c;
    result.link_code = 3;
    Run();
    EXPECT_EQ(out, "");
    EXPECT_EQ(stage.exit_code, 0);
    EXPECT_TRUE(stage.continue_run);
    EXPECT_EQ(result.link_code, -1);
  }
  EXPECT_TRUE(dev.requests.empty());
}

TEST(LinkStateCommand, ReportsUpDownAndLeavesFailuresToTheOperation) {
  const struct {
    int request;
    uint32_t status;
    const char* output;
  } cases[] = {
      {1, 0, "Driver Link State set to UP successfully\n"},
      {0, 0, "Driver Link State set to DOWN successfully\n"},
      {1, 1, "ERROR: SET_LINK_STATE failed !    status:Access failed\n"},
  };
  for (const auto& c : cases) {
    fake::Device dev;
    dev.op_status[SET_LINK_STATE] = c.status;
    RequestChannel ch;
    ch.device = &dev;
    RunSettings rs;
    rs.LinkStateRequest = c.request;
    EXPECT_EQ(CaptureStdout([&] { RunLinkStateCommand(ch, rs); }), c.output);
    ASSERT_EQ(dev.requests.size(), 1u);
    EXPECT_EQ(dev.requests[0].code, uint32_t{SET_LINK_STATE});
    EXPECT_EQ(dev.requests[0].data,
              (std::vector<uint8_t>{static_cast<uint8_t>(c.request), 0, 0, 0}));
  }
}

}  // namespace
