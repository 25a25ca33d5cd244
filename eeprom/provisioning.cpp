// Placeholder until this subsystem lands: fails honestly, never pretends.
#include "eeprom/provisioning.h"

#include "app/exit_codes.h"
#include "app/output.h"

bool IncrementIdentity(RunSettings&) { return false; }
bool IncrementMac(MacAddress&, int) { return true; }
bool IncrementSerial(std::string&, int) { return true; }
int PatchImageIdentity(RunSettings&, ImageBuffer&, const MacAddress&, const OptText&, int) {
  return 1;
}
int ExtractImageStrings(const ImageBuffer&, RunSettings&) { return 2; }
int WriteBackIni(const std::string&, RunSettings&) { return 3; }
int RunSteppingStage(RunSettings&, ImageBuffer&) {
  PrintError("Identity stepping is not supported by this build\n");
  return kExitIdentity;
}
