// Chip identification and the dispatch of the one command of a run.
#pragma once

#include <cstdint>

#include "core/run_settings.h"
#include "driver/request_channel.h"

// One controller model of the family.
struct ChipModel {
  uint16_t chip_id;    // upper 16 bits of the chip ID register
  const char* name;    // "ORN5300"
  const char* prefix;  // lower-case name for default file names: "orn5300", "orn530A"
};

// The model whose chip ID stands in the upper 16 bits of `chip_id_value`;
// null for a chip outside the family.
const ChipModel* FindChipModel(uint32_t chip_id_value);

// Image generation without a device (-z): takes the chip from the -d model
// name, compared case-sensitively on its first 7 characters. 0, or 1 after
// the error message.
int SelectImageModel(RunSettings& rs);

// Fills the default save file name from the model file prefix.
void BuildDefaultFileName(RunSettings& rs);

// Runs the command of the run and returns the exit code. `ch.device` is
// null when only an image file is generated.
// `handout` (when given) is the run's identity source and production
// record; without it a -N run steps the identity file directly.
struct UnitHandout;

int DispatchCommand(RequestChannel& ch, RunSettings& rs, ImageBuffer& image, UnitHandout* handout = nullptr);

// The refusals after a successful parse and before the device is opened:
// a loopback test that cannot run (8), an identity that could not be
// handed out, or stepped and stored after programming (10). 0, or the exit
// code after the messages.
int CheckBeforeDevice(RunSettings& rs, UnitHandout& handout);

// The whole run behind main(): banner, parse, device, dispatch. Returns
// the exit code.
int RunProgram(int argc, char** argv);
