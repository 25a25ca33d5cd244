#include "device/cable_diagnostics.h"

#include <cstdio>

namespace {

// Termination status texts by the 4-bit status code, each 9 characters wide.
constexpr const char* kPairStatus[16] = {
    "OK       ", "Open     ", "Shorted  ", "Reserved ", "Abnormal ", "Reserved ",
    "Reserved ", "Reserved ", "CPshortA ", "CPshortB ", "CPshortC ", "CPshortD ",
    "CPcoupleA", "CPcoupleB", "CPcoupleC", "CPcoupleD"};

// Length fields are 6 bits; one unit is 3 metres.
int HighLength(uint16_t word) { return 3 * ((word >> 8) & 0x3F); }
int LowLength(uint16_t word) { return 3 * (word & 0x3F); }
const char* Status(uint16_t word, int shift) { return kPairStatus[(word >> shift) & 0xF]; }

}  // namespace

bool RunCabScan(RequestChannel& ch) {
  std::array<uint16_t, 3> words{};
  if (!ExecuteCabScan(ch, words)) return false;  // the operation printed why
  const uint16_t ctrl1 = words[0];
  const uint16_t ctrl2 = words[1];
  const uint16_t ctrl3 = words[2];
  std::printf("CabScan command Succeded\n");
  std::printf("CabScanCtrl1 (24E1) = 0x%04x\n", ctrl1);
  std::printf("CabScanCtrl2 (25E1) = 0x%04x\n", ctrl2);
  std::printf("CabScanCtrl3 (26E1) = 0x%04x\n\n", ctrl3);
  std::printf("           \t PairA\t\t Pair B\t\t Pair C\t\t Pair D\n");
  std::printf("-------------------------------------------------------------------------------\n");
  std::printf("Term Sts   \t %s\t %s\t %s\t %s\n", Status(ctrl3, 12), Status(ctrl3, 8),
              Status(ctrl3, 4), Status(ctrl3, 0));
  std::printf("Len/Dist   \t% 3dm\t\t% 3dm\t\t% 3dm\t\t% 3dm\n", HighLength(ctrl1),
              LowLength(ctrl1), HighLength(ctrl2), LowLength(ctrl2));
  return true;
}
