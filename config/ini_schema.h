// Checks over the whole INI configuration.
#pragma once

#include "app/run_settings.h"

// Required-sections check with the LPM rule: 0, or -1 after its messages.
int CheckIniSections(const RunSettings& rs);

// GPIO wake cross-check: every wake GPIO must be an enabled input. 0, or -1
// after the message for the first offending GPIO.
int CheckGpioWakeConfig(const RunSettings& rs);
