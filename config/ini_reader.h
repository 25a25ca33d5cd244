// The INI reader (module `user`): reads the configuration file named with -i
// section by section into the run settings record.
#pragma once

#include "app/run_settings.h"

// Reads the whole INI file: 0 when every recognised section succeeded, -1
// when the file cannot be opened or a section handler failed (after its
// messages).
int ReadIniFile(const char* path, RunSettings& rs);
