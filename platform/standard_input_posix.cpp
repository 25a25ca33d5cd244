#include "platform/standard_input.h"

namespace platform {

// Standard input is read as bytes already.
void SetStandardInputBinary() {}

}  // namespace platform
