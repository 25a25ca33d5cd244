// Firmware and parameter download and verify (-f, -F, -g, -P).
#pragma once

#include "core/run_settings.h"
#include "driver/request_channel.h"

// Releases the MCU file name in the record on every path.
bool RunMcuDownload(RequestChannel& ch, RunSettings& rs);
