// Placeholder until this subsystem lands: fails honestly, never pretends.
#include "mcu/mcu_download.h"

#include "app/output.h"

bool RunMcuDownload(RequestChannel&, RunSettings& rs) {
  rs.McuFileName.reset();
  PrintError("MCU downloads are not supported by this build\n");
  return false;
}
