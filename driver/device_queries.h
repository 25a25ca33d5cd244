// Register and PHY register access (-R, -W, -y, -Y) and information queries (-G).
#pragma once

#include "app/run_settings.h"
#include "driver/request_channel.h"

void RunRegisterCommand(RequestChannel& ch, const RunSettings& rs);
void RunInfoQuery(RequestChannel& ch, const RunSettings& rs);
