// The ping and loopback stages against a fake device: the device steps,
// the waits, the messages and the exit codes up to the network traffic; and
// the choice of the adapter under test from an adapter list.
#include "net/network_stages.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/capture.h"
#include "support/fake_device.h"

namespace pn = platform::net;

namespace {

using test::CaptureStdout;

class StageTest : public testing::Test {
 protected:
  fake::Device dev;
  RequestChannel ch;
  RunSettings rs;
  void SetUp() override {
    ch.device = &dev;
    // A linked gigabit PHY.
    dev.phy = {{1, 0x796D}, {16, 0x1000}, {17, 0x1000}, {18, 0x0100}};
  }

  // The stages past the link checks look for the adapter under test on this
  // host; the tests below expect that there is none.
  void RequireNoAdapterUnderTest() {
    std::array<char, 100> text{};
    uint32_t index = 0;
    if (FindAdapterAddress(text, index)) GTEST_SKIP() << "this host has an ORN53 adapter";
  }
};

TEST_F(StageTest, LoopbackRefusesOtherLinkModesBeforeTouchingTheDevice) {
  for (int mode : {1, 2, 3}) {
    rs.LinkModeGiven = 1;
    rs.LinkMode = mode;
    int code = 0;
    const std::string out = CaptureStdout([&] { code = RunLoopbackStage(ch, rs); });
    EXPECT_EQ(out, "ERROR: Please set the loopback link to 100fd or 1000fd\n");
    EXPECT_EQ(code, 8);
  }
  EXPECT_TRUE(dev.requests.empty());
  EXPECT_TRUE(dev.sleeps.empty());
}

TEST_F(StageTest, GigabitLoopbackPreparesThePhyAndGivesUpWhenTheLinkNeverComesUp) {
  dev.phy[1] = 0x7969;  // link status clear
  int code = 0;
  const std::string out = CaptureStdout([&] { code = RunLoopbackStage(ch, rs); });
  EXPECT_EQ(out, "Unable to link, please check the loopback connector\n");
  EXPECT_EQ(code, 8);
  EXPECT_EQ(rs.LinkMode, 5);  // no mode given: 1000fd
  std::vector<std::string> expected = {"SET_LINK_MODE 0", "READ_PHY 18", "WRITE_PHY 18",
                                       "WRITE_PHY 24", "READ_PHY 1"};
  for (int i = 0; i < 10; ++i) expected.push_back("READ_PHY 1");
  EXPECT_EQ(dev.Ops(), expected);
  EXPECT_EQ(dev.requests[0].data, (std::vector<uint8_t>{5, 0, 0, 0}));
  EXPECT_EQ(dev.phy[18], 0x0120);  // bit 5 added to what was there
  EXPECT_EQ(dev.phy[24], 0x0401);
  std::vector<uint32_t> sleeps = {2000};
  sleeps.insert(sleeps.end(), 10, 1000);
  EXPECT_EQ(dev.sleeps, sleeps);
}

TEST_F(StageTest, LinkComingUpAtTheLastPollIsAcceptedAndAFailedPollCountsAsDown) {
  RequireNoAdapterUnderTest();
  // The discarded read, nine polls that fail (the even reads) or show no
  // link, then link.
  dev.phy_reads[1] = {0x796D, 0x7969, 0x7969, 0x7969, 0x7969, 0x796D};
  dev.failing_phy_reads = {{1, 2}, {1, 4}, {1, 6}, {1, 8}, {1, 10}};
  int code = 0;
  const std::string out = CaptureStdout([&] { code = RunLoopbackStage(ch, rs); });
  EXPECT_EQ(out, "ERROR: READ_PHY failed !    status:Other Error\n"
                 "ERROR: READ_PHY failed !    status:Other Error\n"
                 "ERROR: READ_PHY failed !    status:Other Error\n"
                 "ERROR: READ_PHY failed !    status:Other Error\n"
                 "ERROR: READ_PHY failed !    status:Other Error\n"
                 "ERROR: Src IP not enabled\n");
  EXPECT_EQ(code, 8);
  EXPECT_TRUE(dev.phy_reads[1].empty());
  const auto ops = dev.Ops();
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "READ_PHY 1"), 11);
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "READ_PHY 17"), 1);
  EXPECT_EQ(std::count(dev.sleeps.begin(), dev.sleeps.end(), 1000u), 9 + 20);
}

TEST_F(StageTest, HundredMegabitLoopbackLeavesTheGigabitRegistersAlone) {
  rs.LinkModeGiven = 1;
  rs.LinkMode = 4;
  dev.phy[16] = 0x0000;
  int code = 0;
  const std::string out = CaptureStdout([&] { code = RunLoopbackStage(ch, rs); });
  EXPECT_EQ(out, "Unable to link to 100fd, check the loopback connector\n");
  EXPECT_EQ(code, 8);
  EXPECT_EQ(dev.Ops(), (std::vector<std::string>{"SET_LINK_MODE 0", "READ_PHY 1", "READ_PHY 1",
                                                 "READ_PHY 16"}));
  EXPECT_EQ(dev.requests[0].data, (std::vector<uint8_t>{4, 0, 0, 0}));
  EXPECT_EQ(dev.sleeps, (std::vector<uint32_t>{2000}));
}

TEST_F(StageTest, GigabitSpeedIsConfirmedWithRegister17) {
  dev.phy[17] = 0xEFFF;
  int code = 0;
  const std::string out = CaptureStdout([&] { code = RunLoopbackStage(ch, rs); });
  EXPECT_EQ(out, "Unable to link to 1000fd, check the loopback connector\n");
  EXPECT_EQ(code, 8);
  dev.requests.clear();
  dev.phy[17] = 0x1000;
  dev.failing.insert({READ_PHY, 17});  // a failed read counts as 0
  const std::string out2 = CaptureStdout([&] { code = RunLoopbackStage(ch, rs); });
  EXPECT_NE(out2.find("Unable to link to 1000fd, check the loopback connector\n"),
            std::string::npos);
  EXPECT_EQ(code, 8);
}

TEST_F(StageTest, FailedSetLinkModeNamesTheRequestedMode) {
  dev.op_status[SET_LINK_MODE] = fake::kInjectedStatus;
  for (int mode : {4, 5}) {
    rs.LinkModeGiven = 1;
    rs.LinkMode = mode;
    int code = 0;
    const std::string out = CaptureStdout([&] { code = RunLoopbackStage(ch, rs); });
    EXPECT_EQ(out, std::string("ERROR: SET_LINK_MODE failed !    status:Other Error\n") +
                       "ERROR: Set link mode " + (mode == 4 ? "100fd" : "1000fd") + " failed\n");
    EXPECT_EQ(code, 8);
  }
  EXPECT_EQ(dev.requests.size(), 2u);
}

TEST_F(StageTest, UnreadablePhy18IsNotWrittenWithAGuess) {
  dev.phy[1] = 0;
  dev.failing.insert({READ_PHY, 18});
  CaptureStdout([&] { RunLoopbackStage(ch, rs); });
  const auto ops = dev.Ops();
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "WRITE_PHY 18"), 0);
  EXPECT_EQ(std::count(ops.begin(), ops.end(), "WRITE_PHY 24"), 1);
}

TEST_F(StageTest, WithoutTheAdapterBothStagesTryTwentyTimesAndNeverTouchEthRfeCtl) {
  RequireNoAdapterUnderTest();
  std::vector<uint32_t> discovery(20, 1000);

  int code = 0;
  std::string out = CaptureStdout([&] { code = RunLoopbackStage(ch, rs); });
  EXPECT_EQ(out, "ERROR: Src IP not enabled\n");
  EXPECT_EQ(code, 8);
  std::vector<uint32_t> sleeps = {2000};
  sleeps.insert(sleeps.end(), discovery.begin(), discovery.end());
  EXPECT_EQ(dev.sleeps, sleeps);
  for (const fake::Request& r : dev.requests) EXPECT_NE(r.code, READ_REGISTER);

  dev.sleeps.clear();
  dev.requests.clear();
  LinkStageResult link;
  link.link_code = 4;  // the link-mode stage found the link: no second check
  out = CaptureStdout([&] { code = RunPingStage(ch, rs, link); });
  EXPECT_EQ(out, "ERROR: Src IP not enabled\n");
  EXPECT_EQ(code, 7);
  EXPECT_EQ(dev.sleeps, discovery);
  EXPECT_TRUE(dev.requests.empty());
}

TEST_F(StageTest, PingStageEndsWhenTheLinkStaysDown) {
  dev.phy[1] = 0x7969;  // no link
  LinkStageResult link;  // link-mode stage did not run
  int code = 0;
  const std::string out = CaptureStdout([&] { code = RunPingStage(ch, rs, link); });
  EXPECT_EQ(out, "Link is down\n");
  EXPECT_EQ(code, 7);
  EXPECT_EQ(dev.sleeps, (std::vector<uint32_t>{500, 500, 500}));
}

TEST(AdapterChoice, TakesTheFirstOrn53AdapterAndItsLastAddress) {
  using Entry = pn::AdapterEntry;
  auto addr = [](const char* t) { return pn::UnicastAddress{true, t}; };
  const pn::UnicastAddress broken{false, ""};
  struct Case {
    const char* what;
    std::vector<Entry> adapters;
    bool found;
    std::string text;
    uint32_t index;
    std::string printed;
  };
  const std::vector<Case> cases = {
      {"no adapter", {}, false, "", 0, ""},
      {"no matching description",
       {{"Intel(R) Ethernet", 3, {addr("192.168.1.4")}}},
       false, "", 0, ""},
      {"first match among others",
       {{"Loopback", 1, {addr("127.0.0.1")}},
        {"ORN5300 USB 3.0 to Gigabit Ethernet Adapter", 7, {addr("10.1.1.5")}},
        {"ORN5301 Adapter #2", 9, {addr("10.2.2.5")}}},
       true, "10.1.1.5", 7, ""},
      {"the last address of the adapter wins",
       {{"xORN53y", 4, {addr("10.0.0.1"), addr("10.0.0.2")}}},
       true, "10.0.0.2", 4, ""},
      {"only the first match is looked at",
       {{"ORN5300 #1", 4, {}}, {"ORN5300 #2", 5, {addr("10.0.0.9")}}},
       false, "", 0, ""},
      {"a failed last conversion gives false",
       {{"ORN5300", 6, {addr("10.0.0.1"), broken}}},
       false, "10.0.0.1", 6, "ERROR: can't convert network format to presentation format"},
      {"a failed first conversion is overtaken",
       {{"ORN5300", 6, {broken, addr("10.0.0.3")}}},
       true, "10.0.0.3", 6, "ERROR: can't convert network format to presentation format"},
      {"description match is case sensitive", {{"orn5300", 2, {addr("10.0.0.1")}}}, false, "", 0,
       ""},
  };
  for (const Case& c : cases) {
    std::array<char, 100> text{};
    uint32_t index = 0;
    bool found = false;
    const std::string out = CaptureStdout([&] { found = PickAdapterAddress(c.adapters, text, index); });
    EXPECT_EQ(found, c.found) << c.what;
    EXPECT_EQ(std::string(text.data()), c.text) << c.what;
    EXPECT_EQ(index, c.index) << c.what;
    EXPECT_EQ(out, c.printed) << c.what;
  }
}

TEST(AdapterChoice, AnOverlongAddressTextIsCutToTheField) {
  std::array<char, 100> text{};
  text.fill('x');
  uint32_t index = 0;
  const std::vector<pn::AdapterEntry> adapters = {
      {"ORN5300", 3, {pn::UnicastAddress{true, std::string(300, '7')}}}};
  EXPECT_TRUE(PickAdapterAddress(adapters, text, index));
  EXPECT_EQ(std::string(text.data()), std::string(99, '7'));
}

}  // namespace
