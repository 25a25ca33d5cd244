#include "sim/simulator.h"

namespace sim {

std::unique_ptr<platform::DeviceControl> OpenSimulatedDevice(const std::string&,
                                                            const std::string&, uint32_t& error) {
  error = platform::kErrorFileNotFound;
  return nullptr;
}

}  // namespace sim
