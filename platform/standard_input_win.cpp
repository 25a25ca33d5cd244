#include "platform/standard_input.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace platform {

void SetStandardInputBinary() { _setmode(_fileno(stdin), _O_BINARY); }

}  // namespace platform
