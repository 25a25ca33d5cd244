// The ping and external loopback stages that end a memory command.
#pragma once

#include "app/run_settings.h"
#include "driver/link.h"
#include "driver/request_channel.h"

// Ping stage (-p): exit code 0 or 7.
int RunPingStage(RequestChannel& ch, RunSettings& rs, const LinkStageResult& link);
// External loopback stage (-L): exit code 0 or 8.
int RunLoopbackStage(RequestChannel& ch, RunSettings& rs);
