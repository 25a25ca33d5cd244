// OTP commands and image file generation.
#pragma once

#include "app/exit_codes.h"
#include "app/run_settings.h"
#include "driver/request_channel.h"

StageResult OtpReadAndSave(RequestChannel& ch, RunSettings& rs);
StageResult OtpWrite(RequestChannel& ch, RunSettings& rs, ImageBuffer& image);
