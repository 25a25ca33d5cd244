// Cable diagnostics (-V).
#pragma once

#include "driver/request_channel.h"

bool RunCabScan(RequestChannel& ch);
