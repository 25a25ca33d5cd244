// Register and PHY register access (-R, -W, -y, -Y) and information queries (-G).
#pragma once

#include <string>

#include "core/run_settings.h"
#include "driver/request_channel.h"

// Each prints its report and returns false when a request failed.
bool RunRegisterCommand(RequestChannel& ch, const RunSettings& rs);
bool RunInfoQuery(RequestChannel& ch, const RunSettings& rs);

// Converts a NUL-terminated UTF-16 text (the driver's adapter texts) to
// UTF-8, so that it prints the same on every host. A lone surrogate becomes
// U+FFFD.
std::string Utf16ToUtf8(const char16_t* text);
