// Placeholder until this subsystem lands: fails honestly, never pretends.
#include "eeprom/binary_image.h"

#include "app/output.h"

int LoadBinaryImage(RunSettings& rs) {
  if (rs.BinaryFileName && rs.CommandCode == kCmdRead) return 0;
  if (rs.BinaryFileName || rs.IniFileName) {
    PrintError("Binary images and identity checks are not supported by this build\n");
    return -1;
  }
  if (rs.CommandCode == kCmdWrite) {
    PrintError("Either ini file(-i) or binary file(-b) should be provided\n");
    return -1;
  }
  return 0;
}

bool IsValidMac(const MacAddress& mac) {
  if (mac[0] & 1) return false;
  for (uint8_t b : mac) {
    if (b != 0) return true;
  }
  return false;
}
