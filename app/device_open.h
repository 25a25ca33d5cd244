// Opening the controller: the driver's control device, or the simulated
// controller when ORN5300_SIM names a state file.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/device_control.h"

// Opens the device of this run. Returns null and the Windows error number
// of the failed open.
std::unique_ptr<platform::DeviceControl> OpenDevice(uint32_t& error);

// Prints the message for a failed open (file not found, access denied or
// any other error number).
void ReportOpenFailure(uint32_t error);
