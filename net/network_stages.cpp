// Placeholder until this subsystem lands: fails honestly, never pretends.
#include "net/network_stages.h"

#include "app/exit_codes.h"
#include "app/output.h"

int RunPingStage(RequestChannel&, RunSettings&, const LinkStageResult&) {
  PrintError("Network tests are not supported by this build\n");
  return kExitPing;
}
int RunLoopbackStage(RequestChannel&, RunSettings&) {
  PrintError("Network tests are not supported by this build\n");
  return kExitLoopback;
}
