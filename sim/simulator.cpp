#include "sim/simulator.h"

#include <cstdio>

#include "sim/sim_device.h"
#include "sim/state_io.h"

namespace sim {

std::unique_ptr<platform::DeviceControl> OpenSimulatedDevice(const std::string& state_path,
                                                            const std::string& trace_path,
                                                            uint32_t& error) {
  auto file = std::make_unique<StateFile>();
  Json doc;
  SimState state;
  std::string problem;
  error = LoadStateFile(state_path, *file, doc, state, problem);
  if (error == platform::kErrorInvalidData) {
    std::fprintf(stderr, "%s: invalid simulator state: %s\n", state_path.c_str(),
                 problem.c_str());
  }
  if (error != 0) return nullptr;

  std::unique_ptr<TraceWriter> trace;
  if (!trace_path.empty()) {
    trace = std::make_unique<TraceWriter>();
    if (!trace->Open(trace_path, problem)) {
      std::fprintf(stderr, "%s: %s\n", trace_path.c_str(), problem.c_str());
      error = platform::kErrorAccessDenied;
      return nullptr;
    }
  }
  return std::make_unique<SimulatedDevice>(std::move(state), std::move(doc), std::move(file),
                                           std::move(trace));
}

}  // namespace sim
