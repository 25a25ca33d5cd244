// Placeholder until this subsystem lands: fails honestly, never pretends.
#include "eeprom/eeprom_flows.h"

#include "app/output.h"

bool DetectEepromSize(RequestChannel&, int32_t&) { return false; }
int FixEepromSize(RequestChannel&, RunSettings&) { return kExitSuccess; }
StageResult EepromReadAndSave(RequestChannel&, RunSettings&) {
  PrintError("EEPROM commands are not supported by this build\n");
  return {kExitEepromRead, false};
}
StageResult EepromWrite(RequestChannel&, RunSettings&, ImageBuffer&) {
  PrintError("EEPROM commands are not supported by this build\n");
  return {kExitEepromWrite, false};
}
int VerifyEeprom(RequestChannel&, const uint8_t*, int) { return 5; }
