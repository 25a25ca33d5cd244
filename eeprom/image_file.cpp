// Placeholder until this subsystem lands: fails honestly, never pretends.
#include "eeprom/image_file.h"

#include "app/exit_codes.h"
#include "app/output.h"

int GenerateImageFile(RunSettings&, ImageBuffer&) {
  PrintError("Image file generation is not supported by this build\n");
  return kExitEepromWrite;
}
