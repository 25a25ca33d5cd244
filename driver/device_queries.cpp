// Placeholder until this subsystem lands: fails honestly, never pretends.
#include "driver/device_queries.h"

#include "app/output.h"

void RunRegisterCommand(RequestChannel&, const RunSettings&) {
  PrintError("Register commands are not supported by this build\n");
}
void RunInfoQuery(RequestChannel&, const RunSettings&) {
  PrintError("Information queries are not supported by this build\n");
}
