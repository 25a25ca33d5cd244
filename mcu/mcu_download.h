// Firmware and parameter download and verify (-f, -F, -g, -P).
#pragma once

#include "core/run_settings.h"
#include "driver/request_channel.h"

// Releases the MCU file name in the record on every path. false when the
// file could not be used or any request failed (an overlay table entry that
// could not be written included), or the verify found a difference.
bool RunMcuDownload(RequestChannel& ch, RunSettings& rs);
