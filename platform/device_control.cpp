#include "platform/device_control.h"

namespace platform {

void DeviceControl::Sleep(uint32_t ms) { SleepMilliseconds(ms); }

}  // namespace platform
