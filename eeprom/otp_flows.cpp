// Placeholder until this subsystem lands: fails honestly, never pretends.
#include "eeprom/otp_flows.h"

#include "app/output.h"

StageResult OtpReadAndSave(RequestChannel&, RunSettings&) {
  PrintError("OTP commands are not supported by this build\n");
  return {kExitOtpRead, false};
}
StageResult OtpWrite(RequestChannel&, RunSettings&, ImageBuffer&) {
  PrintError("OTP commands are not supported by this build\n");
  return {kExitOtpWrite, false};
}
