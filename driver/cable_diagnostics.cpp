// Placeholder until this subsystem lands: fails honestly, never pretends.
#include "driver/cable_diagnostics.h"

#include "app/output.h"

bool RunCabScan(RequestChannel&) {
  PrintError("Cable diagnostics are not supported by this build\n");
  return false;
}
