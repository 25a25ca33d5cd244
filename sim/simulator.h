// The simulated controller: a stand-in for the driver and the chip behind
// it, whose whole state lives in one JSON file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/device_control.h"

namespace sim {

// Opens the simulated device whose state file is `state_path`: loads and
// locks the state. Trace lines are appended to `trace_path` when it is not
// empty. Returns null and a Windows error number on failure (2 missing file,
// 5 access denied, 13 invalid data). Destroying the device saves the state
// atomically and releases the lock.
std::unique_ptr<platform::DeviceControl> OpenSimulatedDevice(const std::string& state_path,
                                                            const std::string& trace_path,
                                                            uint32_t& error);

}  // namespace sim
