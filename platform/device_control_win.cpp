// The real driver's control device on Windows.
#include <windows.h>

#include "platform/device_control.h"

namespace platform {
namespace {

class WindowsDeviceControl final : public DeviceControl {
 public:
  explicit WindowsDeviceControl(HANDLE handle) : handle_(handle) {}
  ~WindowsDeviceControl() override { CloseHandle(handle_); }
  WindowsDeviceControl(const WindowsDeviceControl&) = delete;
  WindowsDeviceControl& operator=(const WindowsDeviceControl&) = delete;

  bool Control(uint32_t code, uint8_t* buffer, uint32_t in_len, uint32_t out_len,
               uint32_t& returned, uint32_t& error) override {
    DWORD bytes = 0;
    if (!DeviceIoControl(handle_, code, buffer, in_len, buffer, out_len, &bytes, nullptr)) {
      error = GetLastError();
      returned = 0;
      return false;
    }
    returned = bytes;
    return true;
  }

 private:
  HANDLE handle_;
};

}  // namespace

std::unique_ptr<DeviceControl> OpenControlDevice(uint32_t& error) {
  HANDLE handle = CreateFileA("\\\\.\\ORN5300_IOCTL", GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    error = GetLastError();
    return nullptr;
  }
  error = 0;
  return std::make_unique<WindowsDeviceControl>(handle);
}

void SleepMilliseconds(uint32_t ms) { ::Sleep(ms); }

}  // namespace platform
