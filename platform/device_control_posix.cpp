// Other platforms have no driver: the control device never exists there.
#include <time.h>

#include <cerrno>

#include "platform/device_control.h"

namespace platform {

std::unique_ptr<DeviceControl> OpenControlDevice(uint32_t& error) {
  error = kErrorFileNotFound;
  return nullptr;
}

void SleepMilliseconds(uint32_t ms) {
  timespec req{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&req, &req) != 0 && errno == EINTR) {
  }
}

}  // namespace platform
