// Link mode, driver link state and the PHY link evaluation.
#pragma once

#include <cstdint>

#include "core/exit_codes.h"
#include "core/run_settings.h"
#include "driver/request_channel.h"

// Link code from the clause 22 PHY registers: -1 no link or error, 0
// negotiation incomplete, 1..4 as the link modes, 5/6 1000FD master/slave.
int LanPhyGetLinkState(RequestChannel& ch);

// -k: SET_LINK_STATE and its success line; false when the request failed.
bool RunLinkStateCommand(RequestChannel& ch, const RunSettings& rs);

// What the link-mode stage hands to the network stages.
struct LinkStageResult {
  int link_code = -1;
  uint8_t reply_byte = 0;
};

// Link-mode stage (only with -l and without -L): exit code 0 or 4;
// continue_run is false when SET_LINK_MODE failed.
StageResult RunLinkModeStage(RequestChannel& ch, const RunSettings& rs, LinkStageResult& result);
