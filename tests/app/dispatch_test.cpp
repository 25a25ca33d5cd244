// Chip identification, the -z model choice and the default file name.
#include "app/dispatch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "support/capture.h"

namespace {

using test::CaptureStdout;

TEST(FindChipModel, UpperSixteenBitsSelectTheModel) {
  struct Case {
    uint32_t value;
    const char* name;
    const char* prefix;
  };
  const Case cases[] = {{0x53000000, "ORN5300", "orn5300"}, {0x5301ABCD, "ORN5301", "orn5301"},
                        {0x530A0001, "ORN530A", "orn530A"}, {0x5350FFFF, "ORN5350", "orn5350"}};
  for (const Case& c : cases) {
    const ChipModel* model = FindChipModel(c.value);
    ASSERT_NE(model, nullptr) << std::hex << c.value;
    EXPECT_STREQ(model->name, c.name);
    EXPECT_STREQ(model->prefix, c.prefix);
  }
  for (uint32_t value : {0u, 0x00005300u, 0x53020000u, 0x530a0000u + 0x10000u, 0xFFFFFFFFu}) {
    EXPECT_EQ(FindChipModel(value), nullptr) << std::hex << value;
  }
}

TEST(SelectImageModel, SevenCharactersCaseSensitive) {
  struct Case {
    const char* name;
    int result;
    uint32_t chip_id;
  };
  const Case cases[] = {{"ORN5300", 0, 0x53000000}, {"ORN5350", 0, 0x53500000},
                        {"ORN5350X", 0, 0x53500000}, {"ORN5300-rev2", 0, 0x53000000},
                        {"ORN5301", 1, 0},           {"orn5300", 1, 0},
                        {"ORN530", 1, 0},            {"", 1, 0}};
  for (const Case& c : cases) {
    auto owned = std::make_unique<RunSettings>();
    RunSettings& rs = *owned;
    rs.DeviceModelName.emplace(c.name);
    const std::string out =
        CaptureStdout([&] { EXPECT_EQ(SelectImageModel(rs), c.result) << c.name; });
    EXPECT_EQ(rs.ChipIdValue, c.chip_id) << c.name;
    EXPECT_EQ(out, c.result == 0 ? "" : "ERROR: Please specify ORN5300 or ORN5350 with -d option\n");
    EXPECT_EQ(rs.ModelFilePrefix[0], '\0');
  }
}

TEST(BuildDefaultFileName, StartsWithThePrefixAndLeavesRoomForTheSuffix) {
  RunSettings rs;
  std::memcpy(rs.ModelFilePrefix.data(), "orn530A", 8);
  rs.DefaultFileName.fill('x');
  BuildDefaultFileName(rs);
  EXPECT_STREQ(rs.DefaultFileName.data(), "orn530A");
  for (size_t i = 7; i < rs.DefaultFileName.size(); ++i) EXPECT_EQ(rs.DefaultFileName[i], '\0');

  RunSettings image;  // -z: no prefix, empty name
  image.DefaultFileName.fill('x');
  BuildDefaultFileName(image);
  EXPECT_STREQ(image.DefaultFileName.data(), "");
}

}  // namespace
