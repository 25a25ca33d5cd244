// Loading the identity out of a binary image named with -b, and the identity
// checks of the command-line parse.
#pragma once

#include "core/run_settings.h"

// Last step of the command-line parse: 0, or -1 after its messages.
int LoadBinaryImage(RunSettings& rs);

// True when the address is not a group address and not all zero.
bool IsValidMac(const MacAddress& mac);
