// Placeholder until this subsystem lands: fails honestly, never pretends.
#include "config/ini_reader.h"

#include "app/output.h"

int ReadIniFile(const char*, RunSettings&) {
  PrintError("INI files are not supported by this build\n");
  return -1;
}
