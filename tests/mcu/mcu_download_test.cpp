// Firmware and parameter download and verify, checked on the bridge accesses
// it makes and on what it prints.
#include "mcu/mcu_download.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <utility>

#include "mcu/mcu_bridge.h"
#include "support/capture.h"
#include "support/fake_device.h"
#include "support/tool_runner.h"

namespace {

using namespace fake::bridge;  // kCtl, kAddr, kWdat, kRdat, W, R
using fake::BridgeOp;
using fake::Request;
using fake::ToBridgeOp;
using test::CaptureStdout;

constexpr uint16_t kTableA[20] = {0x8800, 0x8881, 0x8902, 0x8983, 0x8A04, 0x8A85, 0x8B06,
                                  0x8B87, 0x8C08, 0x8C89, 0x8D0A, 0x8D8B, 0x8E0C, 0x8E8D,
                                  0x8F0E, 0x8F8F, 0x9010, 0x9091, 0x9112, 0x9193};
constexpr uint16_t kTableB[20] = {0x8800, 0x8881, 0x8902, 0x8983, 0x0004, 0x0085, 0x0106,
                                  0x0187, 0x0208, 0x0289, 0x030A, 0x038B, 0x040C, 0x048D,
                                  0x050E, 0x058F, 0x0610, 0x0691, 0x0712, 0x0793};

std::string Bytes(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + 3) & 0xFF);
  return s;
}

class DownloadTest : public testing::Test {
 protected:
  fake::Device dev;
  RequestChannel ch;
  RunSettings rs;
  test::TempDir dir;
  std::string file;
  std::string out;
  bool ok = false;

  void SetUp() override { ch.device = &dev; }

  void Run(int command, const std::string& content) {
    file = dir.File("image.bin");
    test::WriteFile(file, content);
    RunNamed(command, file);
  }
  void RunNamed(int command, const std::string& name) {
    rs.CommandCode = command;
    rs.McuFileName = name;
    out = CaptureStdout([&] { ok = RunMcuDownload(ch, rs); });
    EXPECT_FALSE(rs.McuFileName.has_value()) << "the file name is released on every path";
  }

  // The overlay-table words written, in order, and how many were written
  // before the load started (the address write of the load area).
  std::pair<std::vector<uint16_t>, size_t> OverlayWrites(uint16_t load_address) const {
    std::vector<uint16_t> words;
    size_t before_load = 0;
    for (size_t i = 0; i + 3 < dev.bridge_ops.size(); ++i) {
      const BridgeOp& a = dev.bridge_ops[i];
      if (a.write && a.index == kAddr && a.value == load_address) before_load = words.size();
      if (a.write && a.index == kAddr && a.value >= 0x0840 && a.value < 0x0868 &&
          dev.bridge_ops[i + 1] == W(kCtl, 0x84)) {
        words.push_back(dev.bridge_ops[i + 3].value);
      }
    }
    return {words, before_load};
  }
};

TEST_F(DownloadTest, FileSizeLimitsAreCheckedBeforeAnyDeviceAccess) {
  const struct {
    int command;
    size_t size;
    const char* error;  // null: accepted
  } cases[] = {
      {kCmdMcuParameters, 1024, nullptr},
      {kCmdMcuParameters, 1025, "ERROR: Firmware Parameters file %s size must be <= 1024 bytes\n"},
      {kCmdMcuParameters, 2000, "ERROR: Firmware Parameters file %s size must be <= 1024 bytes\n"},
      {kCmdMcuParameters, 20000,
       "ERROR: Firmware Parameters file %s size must be <= 1024 bytes\n"},
      {kCmdMcuDownload, 2000, nullptr},
      {kCmdMcuDownload, 16384, nullptr},
      {kCmdMcuDownload, 16385, "ERROR: Firmware image file %s size must be <= 16384 bytes\n"},
      {kCmdMcuDownloadVerify, 16385, "ERROR: Firmware image file %s size must be <= 16384 bytes\n"},
      {kCmdMcuVerify, 40000, "ERROR: Firmware image file %s size must be <= 16384 bytes\n"},
      {kCmdMcuDownload, 0, "ERROR: Not enough bytes in file %s\n"},
      {kCmdMcuDownloadVerify, 0, "ERROR: Not enough bytes in file %s\n"},
      {kCmdMcuVerify, 0, "ERROR: Not enough bytes in file %s\n"},
      {kCmdMcuParameters, 0, "ERROR: Not enough bytes in file %s\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.command) + " " + std::to_string(c.size));
    dev.bridge_ops.clear();
    Run(c.command, Bytes(c.size));
    if (c.error == nullptr) {
      EXPECT_TRUE(ok);
      EXPECT_FALSE(dev.bridge_ops.empty());
      EXPECT_EQ(out.substr(0, 2), "\n\n");
    } else {
      char expected[512];
      std::snprintf(expected, sizeof expected, c.error, file.c_str());
      EXPECT_FALSE(ok);
      EXPECT_EQ(out, expected);
      EXPECT_TRUE(dev.bridge_ops.empty());
    }
  }
  dev.bridge_ops.clear();
  RunNamed(kCmdMcuDownload, dir.File("missing.bin"));
  EXPECT_EQ(out, "ERROR: No file " + dir.File("missing.bin") + " is found\n");
  EXPECT_TRUE(dev.bridge_ops.empty());
  EXPECT_FALSE(ok);
}

TEST_F(DownloadTest, ThreeByteDownloadPrintsThreeProgressLines) {
  Run(kCmdMcuDownload, "\x01\x02\x03");
  EXPECT_TRUE(ok);
  EXPECT_EQ(out,
            "\n\nWrote 00000 of 00003 (000%)\rWrote 00001 of 00003 (033%)\r"
            "Wrote 00002 of 00003 (066%)\r\nCOMPLETED!\n");
  EXPECT_EQ(dev.xdata[0x5000], 1);
  EXPECT_EQ(dev.xdata[0x5002], 3);
  EXPECT_EQ(dev.mcu_resets, 0);  // only -F resets
  EXPECT_EQ(dev.bridge_ops.back(), W(kCtl, 0x00));
}

TEST_F(DownloadTest, DownloadAndVerifyResetsFirstAndWrapsTheLoadInBothTables) {
  const std::string image = Bytes(300);
  Run(kCmdMcuDownloadVerify, image);
  EXPECT_TRUE(ok) << out;

  // Access enable, then the reset through MCU_XDATA_DEV_CTRL, then the set-up.
  const std::vector<BridgeOp> head(dev.bridge_ops.begin(), dev.bridge_ops.begin() + 13);
  EXPECT_EQ(head, (std::vector<BridgeOp>{W(kCtl, 0x80), W(kAddr, 0xFFFF), W(kCtl, 0x80),
                                         W(kWdat, 1), W(kAddr, 0x0802), W(kCtl, 0x80),
                                         W(kWdat, 0), W(kAddr, 0xF9), W(kCtl, 0x81),
                                         W(kWdat, 0x10), W(kAddr, 0xFA), W(kCtl, 0x81),
                                         W(kWdat, 0x23)}));
  EXPECT_EQ(dev.mcu_resets, 1);
  EXPECT_EQ(dev.sfr[0xF9], 0x10);
  EXPECT_EQ(dev.sfr[0xFA], 0x23);

  auto [words, before_load] = OverlayWrites(0x5000);
  std::vector<uint16_t> expected(std::begin(kTableA), std::end(kTableA));
  expected.insert(expected.end(), std::begin(kTableB), std::end(kTableB));
  EXPECT_EQ(words, expected);
  EXPECT_EQ(before_load, 20u);
  EXPECT_EQ(dev.xdata[0x0848], 0x00);  // table B entry 4 is what stays
  EXPECT_EQ(dev.xdata[0x0849], 0x04);

  // Program memory verify from address 0, then the release.
  EXPECT_EQ(std::string(dev.xdata.begin() + 0x5000, dev.xdata.begin() + 0x5000 + 300), image);
  const size_t n = dev.bridge_ops.size();
  EXPECT_EQ(dev.bridge_ops[n - 303], W(kCtl, 0x86));
  EXPECT_EQ(dev.bridge_ops[n - 302], W(kAddr, 0x0000));
  EXPECT_EQ(dev.bridge_ops[n - 1], W(kCtl, 0x00));
  EXPECT_NE(out.find("Verified 00299 of 00300 (099%)\r\nCOMPLETED!\n"), std::string::npos);
}

TEST_F(DownloadTest, VerifyOnlyStartsWithProgramMemoryAccessAndWritesNothing) {
  const std::string image = "\xAA\xBB\xCC";
  for (size_t i = 0; i < image.size(); ++i) dev.xdata[0x5000 + i] = static_cast<uint8_t>(image[i]);
  Run(kCmdMcuVerify, image);
  EXPECT_TRUE(ok);
  EXPECT_EQ(dev.bridge_ops.front(), W(kCtl, 0x86));
  EXPECT_EQ(dev.bridge_ops[1], W(kAddr, 0x0000));
  for (const BridgeOp& op : dev.bridge_ops) EXPECT_NE(op.index, kWdat);
  EXPECT_EQ(dev.bridge_ops.back(), W(kCtl, 0x00));
  EXPECT_EQ(out,
            "\n\nVerified 00000 of 00003 (000%)\rVerified 00001 of 00003 (033%)\r"
            "Verified 00002 of 00003 (066%)\r\nCOMPLETED!\n");
}

TEST_F(DownloadTest, ParametersLoadAt4C00AndCompareTheLowByte) {
  const std::string params = Bytes(64);
  dev.rdat_high = 0x5500;  // the read-back compares only the low byte
  Run(kCmdMcuParameters, params);
  EXPECT_TRUE(ok) << out;
  EXPECT_EQ(std::string(dev.xdata.begin() + 0x4C00, dev.xdata.begin() + 0x4C00 + 64), params);
  auto [words, before_load] = OverlayWrites(0x4C00);
  ASSERT_EQ(words.size(), 40u);
  EXPECT_EQ(before_load, 20u);
  EXPECT_EQ(words[4], 0x8A04);
  EXPECT_EQ(words[24], 0x0004);
  EXPECT_EQ(dev.mcu_resets, 0);
  // Load, then the read-back from 0x4C00 with the control register left at
  // auto-increment XDATA.
  int addr_writes = 0;
  for (const BridgeOp& op : dev.bridge_ops) {
    if (op == W(kAddr, 0x4C00)) ++addr_writes;
    EXPECT_NE(op, W(kCtl, 0x86));  // no program memory verify
  }
  EXPECT_EQ(addr_writes, 2);
  EXPECT_NE(out.find("Wrote 00063 of 00064 (098%)\r\nCOMPLETED!\nVerified 00000 of 00064 (000%)\r"),
            std::string::npos);
  EXPECT_EQ(dev.bridge_ops.back(), W(kCtl, 0x00));
}

TEST_F(DownloadTest, MismatchAtByteFiveStopsThereWithoutReleasing) {
  const struct {
    int command;
    const char* where;
  } cases[] = {{kCmdMcuDownloadVerify, "iProg base 0"},
               {kCmdMcuParameters, "XDATA base 0x4C00 "}};
  for (const auto& c : cases) {
    fake::Device d;
    d.corrupt_prog.insert(5);
    d.corrupt_xdata.insert(0x4C05);
    ch.device = &d;
    const std::string image = Bytes(10);
    Run(c.command, image);
    EXPECT_FALSE(ok);
    char expected[160];
    std::snprintf(expected, sizeof expected,
                  "Verified 00004 of 00010 (040%%)\r"
                  "ERROR: \nData mismatch on byte #5. Wrote = 0x%02x, Read (@ %s)= 0x%02x\n",
                  static_cast<uint8_t>(image[5]), c.where, static_cast<uint8_t>(~image[5]));
    ASSERT_GE(out.size(), std::strlen(expected));
    EXPECT_EQ(out.substr(out.size() - std::strlen(expected)), expected);
    EXPECT_FALSE(d.bridge_ops.back().write);  // nothing after the differing read
    EXPECT_EQ(d.bridge_ops.back().index, kRdat);
    EXPECT_NE(d.bridge_ctl, 0) << "the MCU is not released after a mismatch";
    int table_b = 0;
    for (const BridgeOp& op : d.bridge_ops) table_b += op == W(kWdat, 0x0793) ? 1 : 0;
    EXPECT_EQ(table_b, c.command == kCmdMcuParameters ? 0 : 1);
  }
}

TEST_F(DownloadTest, FailedOverlayEntryIsReportedAndSkipped) {
  dev.fail_when = [](const Request& r) { return ToBridgeOp(r) == W(kAddr, 0x0848); };
  Run(kCmdMcuDownload, "\x01");
  EXPECT_FALSE(ok);  // the download goes on and releases the MCU, but has not succeeded
  EXPECT_NE(out.find("ERROR: WRITE_PHY failed !    status:Other Error\n"
                     "ERROR: Failed writing SMI_VELK_VPM_BT_ADDR_REG = 0x0848\n"
                     "ERROR: Failed writing 0x8a04 to MCU_XDATA_SRAM_OVRLAY_TABLE(4)-0x0848\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("ERROR: \nFailed writing 0x0004 to MCU_XDATA_SRAM_OVRLAY_TABLE(4)-0x0848\n"),
            std::string::npos)
      << out;
  EXPECT_EQ(dev.xdata[0x084A], 0x00);  // entry 5 written
  EXPECT_EQ(dev.xdata[0x084B], 0x85);
  EXPECT_EQ(dev.bridge_ops.back(), W(kCtl, 0x00));
}

TEST_F(DownloadTest, FailedByteWriteStopsTheLoad) {
  bool loading = false;
  int written = 0;
  dev.fail_when = [&](const Request& r) {
    const BridgeOp op = ToBridgeOp(r);
    if (op == W(kAddr, 0x5000)) loading = true;
    return loading && op.index == kWdat && ++written == 2;
  };
  Run(kCmdMcuDownload, "\x11\x22\x33");
  EXPECT_FALSE(ok);
  EXPECT_EQ(out,
            "\n\nWrote 00000 of 00003 (000%)\r"
            "ERROR: WRITE_PHY failed !    status:Other Error\n"
            "ERROR: \nFailed writing byte #1 with value 0x22 to VELK_VPM_BT_WDAT_REG\n");
  EXPECT_EQ(dev.bridge_ops.back(), W(kWdat, 0x22));
  EXPECT_EQ(dev.bridge_ctl, 0x84);
}

TEST_F(DownloadTest, FailedReleaseIsReported) {
  int ctl_writes = 0;
  dev.fail_when = [&](const Request& r) {
    return ToBridgeOp(r) == W(kCtl, 0x00) && ++ctl_writes == 1;
  };
  Run(kCmdMcuDownload, "\x01");
  EXPECT_FALSE(ok);
  EXPECT_NE(out.find("ERROR: Failed clearing VELK_VPM_BT_CTL_REG_ACCESS_EN_ to start execution\n"),
            std::string::npos);
}

}  // namespace
