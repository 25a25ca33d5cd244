// The link-mode stage of a run that asks only for a link mode, against the
// simulated controller: polls, waits and exit codes.
#include <gtest/gtest.h>

#include "tests/e2e/device_e2e.h"

namespace {

using device_e2e::json;
using device_e2e::SimDevice;

// The events from SET_LINK_MODE on (the run reads the chip ID first).
std::vector<std::string> FromSetLinkMode(const std::vector<std::string>& events) {
  auto it = std::find_if(events.begin(), events.end(),
                         [](const std::string& e) { return e.rfind("set_link_mode", 0) == 0; });
  return {it, events.end()};
}

TEST(DeviceLinkMode, LinkUpAtTheTenthPollIsAccepted) {
  SKIP_UNLESS_SIMULATOR_READY();
  // Each poll reads the status register twice: reads 19 and 20 are the
  // tenth poll's.
  json status = json::array();
  for (int i = 0; i < 19; ++i) status.push_back("0x7969");
  status.push_back("0x796D");
  SimDevice dev(json{{"phy", {{"1", status}}}});
  auto r = dev.Run({"-l", "100fd"});
  EXPECT_EQ(r.out, test::Banner() + "\nLink mode: 100 FD\n");
  EXPECT_EQ(r.exit_code, 0);
  std::vector<int> sleeps{2000};
  sleeps.insert(sleeps.end(), 9, 500);
  EXPECT_EQ(dev.Sleeps(), sleeps);
  EXPECT_EQ(dev.State()["link_mode"], 4);
}

TEST(DeviceLinkMode, LinkThatNeverComesUpEndsWithExitCodeFour) {
  SKIP_UNLESS_SIMULATOR_READY();
  SimDevice dev(json{{"phy", {{"1", "0x7969"}}}});
  auto r = dev.Run({"-l", "100fd"});
  EXPECT_EQ(r.out, test::Banner() + "\nLink mode: LINK DOWN\n");
  EXPECT_EQ(r.exit_code, 4);
  std::vector<std::string> expected{"set_link_mode 0x00000000 04000000", "sleep 2000"};
  for (int i = 0; i < 10; ++i) {
    expected.insert(expected.end(), {"read_phy 0x00000000", "read_phy 0x00000001",
                                     "read_phy 0x00000001", "sleep 500"});
  }
  EXPECT_EQ(FromSetLinkMode(dev.Events()), expected);
}

TEST(DeviceLinkMode, ReplyByteOneWaitsTwoSecondsMore) {
  SKIP_UNLESS_SIMULATOR_READY();
  SimDevice dev(json{{"link_mode_reply", 1}});
  auto r = dev.Run({"-l", "1000fd"});
  EXPECT_EQ(r.out, test::Banner() + "\nLink mode: 1000 FD\n");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(dev.Sleeps(), (std::vector<int>{2000, 2000}));

  dev.SetState({{"link_mode_reply", 0}});
  r = dev.Run({"-l", "10hd"});
  EXPECT_EQ(r.out, test::Banner() + "\nLink mode: 10 HD\n");
  EXPECT_EQ(dev.Sleeps(), (std::vector<int>{2000}));
}

TEST(DeviceLinkMode, FailedSetLinkModeEndsTheRun) {
  SKIP_UNLESS_SIMULATOR_READY();
  SimDevice dev(json{{"faults", {{{"op", "SET_LINK_MODE"}, {"status", 2}}}}});
  auto r = dev.Run({"-l", "100fd"});
  EXPECT_EQ(r.out, test::Banner() +
                       "ERROR: SET_LINK_MODE failed !    status:Other Error\n"
                       "ERROR: Set link mode failed\n");
  EXPECT_EQ(r.exit_code, 4);
  EXPECT_TRUE(dev.Sleeps().empty());
  EXPECT_EQ(FromSetLinkMode(dev.Events()).size(), 1u);
}

}  // namespace
