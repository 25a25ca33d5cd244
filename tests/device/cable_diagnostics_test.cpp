// Cable diagnostics: decoding of the three result words and the table.
#include "device/cable_diagnostics.h"

#include <gtest/gtest.h>

#include "support/capture.h"
#include "support/fake_device.h"

namespace {

using test::CaptureStdout;

std::vector<uint8_t> Words16(uint16_t a, uint16_t b, uint16_t c) {
  return {static_cast<uint8_t>(a), static_cast<uint8_t>(a >> 8), static_cast<uint8_t>(b),
          static_cast<uint8_t>(b >> 8), static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8)};
}

constexpr const char* kHead =
    "CabScan command Succeded\n";
constexpr const char* kTableHead =
    "           \t PairA\t\t Pair B\t\t Pair C\t\t Pair D\n"
    "-------------------------------------------------------------------------------\n";

TEST(CabScan, PrintsRegistersStatusesAndLengths) {
  const struct {
    uint16_t ctrl1, ctrl2, ctrl3;
    std::string body;
  } cases[] = {
      {0x0000, 0x0000, 0x0000,
       "CabScanCtrl1 (24E1) = 0x0000\nCabScanCtrl2 (25E1) = 0x0000\n"
       "CabScanCtrl3 (26E1) = 0x0000\n\n" + std::string(kTableHead) +
           "Term Sts   \t OK       \t OK       \t OK       \t OK       \n"
           "Len/Dist   \t  0m\t\t  0m\t\t  0m\t\t  0m\n"},
      // Lengths 63 and 1 with the unused bits 15, 14, 7 and 6 set; statuses
      // 1, 2, 12, 8 from the top nibble down.
      {0xFFC1, 0x0A05, 0x12C8,
       "CabScanCtrl1 (24E1) = 0xffc1\nCabScanCtrl2 (25E1) = 0x0a05\n"
       "CabScanCtrl3 (26E1) = 0x12c8\n\n" + std::string(kTableHead) +
           "Term Sts   \t Open     \t Shorted  \t CPcoupleA\t CPshortA \n"
           "Len/Dist   \t 189m\t\t  3m\t\t 30m\t\t 15m\n"},
      {0x3F3F, 0x0000, 0x357F,
       "CabScanCtrl1 (24E1) = 0x3f3f\nCabScanCtrl2 (25E1) = 0x0000\n"
       "CabScanCtrl3 (26E1) = 0x357f\n\n" + std::string(kTableHead) +
           "Term Sts   \t Reserved \t Reserved \t Reserved \t CPcoupleD\n"
           "Len/Dist   \t 189m\t\t 189m\t\t  0m\t\t  0m\n"},
  };
  for (const auto& c : cases) {
    fake::Device dev;
    dev.replies[EXECUTE_CABSCAN] = Words16(c.ctrl1, c.ctrl2, c.ctrl3);
    RequestChannel ch;
    ch.device = &dev;
    bool ok = false;
    EXPECT_EQ(CaptureStdout([&] { ok = RunCabScan(ch); }), kHead + c.body);
    EXPECT_TRUE(ok);
    ASSERT_EQ(dev.requests.size(), 1u);
    EXPECT_EQ(dev.requests[0].code, uint32_t{EXECUTE_CABSCAN});
    EXPECT_EQ(dev.requests[0].in_len, 20u);
  }
}

TEST(CabScan, FailedRequestPrintsOnlyItsMessage) {
  fake::Device dev;
  dev.op_status[EXECUTE_CABSCAN] = 1;
  RequestChannel ch;
  ch.device = &dev;
  bool ok = true;
  EXPECT_EQ(CaptureStdout([&] { ok = RunCabScan(ch); }),
            "ERROR: EXECUTE CABSCAN failed !    status:Access failed\n");
  EXPECT_FALSE(ok);
}

}  // namespace
