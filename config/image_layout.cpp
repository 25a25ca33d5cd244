// Placeholder until this subsystem lands: fails honestly, never pretends.
#include "config/image_layout.h"

#include "app/output.h"

int BuildImage5300(RunSettings&, ImageBuffer&, int) { return -1; }
int BuildImage5350(RunSettings&, ImageBuffer&, int) { return -1; }
int GenerateImage(RunSettings&, ImageBuffer&, int) {
  PrintError("Image generation is not supported by this build\n");
  return -1;
}
int LayoutStrings(RunSettings&, ImageBuffer&, int) { return -1; }
uint16_t WakeFilterCrc16(const uint8_t*) { return 0; }
