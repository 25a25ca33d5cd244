// Placeholder until this subsystem lands: fails honestly, never pretends.
#include "driver/link.h"

#include "app/output.h"

int LanPhyGetLinkState(RequestChannel&) { return -1; }
void RunLinkStateCommand(RequestChannel&, const RunSettings&) {
  PrintError("Link state is not supported by this build\n");
}
StageResult RunLinkModeStage(RequestChannel&, const RunSettings&, LinkStageResult&) {
  PrintError("Link mode is not supported by this build\n");
  return {kExitLinkMode, false};
}
