#include "app/device_open.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/output.h"
#include "sim/simulator.h"

std::unique_ptr<platform::DeviceControl> OpenDevice(uint32_t& error) {
  const char* state = std::getenv("ORN5300_SIM");
  if (state != nullptr && state[0] != '\0') {
    const char* trace = std::getenv("ORN5300_SIM_TRACE");
    return sim::OpenSimulatedDevice(state, trace != nullptr ? trace : "", error);
  }
  return platform::OpenControlDevice(error);
}

void ReportOpenFailure(uint32_t error) {
  if (error == platform::kErrorFileNotFound) {
    PrintError("CreateFile failed!  Device Not Found\n");
  } else if (error == platform::kErrorAccessDenied) {
    std::printf(
        "Open File ORN5300_IOCTL Failed! You don't have enough access right, try to run this "
        "application as Administrator");
  } else {
    std::printf("CreateFile failed!  errNum = %d\n", static_cast<int>(error));
  }
}
