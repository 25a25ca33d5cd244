// Device control: the one way to the controller's driver. The request
// channel sends each request block through a DeviceControl; the Windows
// implementation talks to \\.\ORN5300_IOCTL, the simulator stands in for it
// elsewhere.
#pragma once

#include <cstdint>
#include <memory>

namespace platform {

// The single device-control code of the driver: device type 0x12 (network),
// function 0x900, buffered transfer, any access.
constexpr uint32_t IOCTL_ORN5300_MP_ACCESS = 0x122400;

// Windows error numbers that the open of the control device reports.
constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorInvalidData = 13;

class DeviceControl {
 public:
  virtual ~DeviceControl() = default;

  // Sends one synchronous device-control request. `buffer` serves as input
  // (its first `in_len` bytes) and output (`out_len` bytes). On success
  // `returned` holds the number of bytes the driver returned. When the call
  // itself fails it returns false and sets `error` to the system error number.
  virtual bool Control(uint32_t code, uint8_t* buffer, uint32_t in_len, uint32_t out_len,
                       uint32_t& returned, uint32_t& error) = 0;

  // Sleeps for `ms` milliseconds. A simulated device may make this virtual.
  virtual void Sleep(uint32_t ms);
};

// Opens the driver's control device \\.\ORN5300_IOCTL for reading and
// writing, shared for reading and writing, existing device only. Returns
// null and the system error number on failure. Platforms without the driver
// fail with error 2 (file not found).
std::unique_ptr<DeviceControl> OpenControlDevice(uint32_t& error);

// Really sleeps the calling thread.
void SleepMilliseconds(uint32_t ms);

}  // namespace platform
