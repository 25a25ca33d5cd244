// State files that once brought the simulator down (found by fuzzing the
// state loader): each must be refused as invalid data, with one line naming
// the file, and the file left as it was.
#include <algorithm>

#include "tests/sim/sim_fixture.h"

namespace simtest {
namespace {

using HostileState = SimTest;

TEST_F(HostileState, NumbersBeyondEveryJsonNumberTypeAreInvalidData) {
  const std::vector<std::string> docs = {
      R"({"eeprom_size": 25e10318})",
      R"({"chip_id": 1e400})",
      R"({"registers": {"0x10": -1e999}})",
      R"({"faults": [{"op": "READ_PHY", "nth": 9e9999}]})",
      R"({"mcu": {"resets": 1E+500}})",
  };
  for (const std::string& doc : docs) {
    SCOPED_TRACE(doc);
    test::WriteFile(state_path, doc);
    uint32_t error = 0;
    testing::internal::CaptureStderr();
    auto dev = sim::OpenSimulatedDevice(state_path, "", error);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(dev, nullptr);
    EXPECT_EQ(error, 13u);
    EXPECT_EQ(err.find(state_path), 0u) << err;
    EXPECT_NE(err.find("not valid JSON"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(test::ReadFile(state_path), doc);
  }
}

TEST_F(HostileState, Orn5300simSetRefusesOverflowingNumbersWithoutCrashing) {
  // A value too large for any number is taken as text and refused by the
  // key's check; a file holding one is refused as invalid JSON.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"{}", "1e400"},
      {R"({"chip_id": 1e400})", "1"},
  };
  for (const auto& [doc, value] : cases) {
    SCOPED_TRACE(doc + " set adapters " + value);
    test::WriteFile(state_path, doc);
    const test::RunResult r = test::RunSim({"set", state_path, "adapters", value});
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_NE(r.err.find(state_path), std::string::npos) << r.err;
    EXPECT_EQ(test::ReadFile(state_path), doc);
  }
}

}  // namespace
}  // namespace simtest
