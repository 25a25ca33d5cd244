// The test driver's bridge to the simulated controller: a DLL that the
// driver imports and that runs inside Wine's driver host (winedevice.exe).
// It keeps the sessions of the control device in a SessionQueue, each with a
// simulated device opened from the state file that the driver's settings
// name, and hands every finished request back to the driver.
#define ORN_BRIDGE_BUILD
#include "bridge.h"

#include <windows.h>

#include <memory>
#include <string>
#include <utility>

#include "session_queue.h"
#include "sim/sim_device.h"
#include "sim/simulator.h"

namespace {

constexpr uint32_t kErrorNotEnoughMemory = 8;

std::string Utf8(const wchar_t* text) {
  if (text == nullptr || text[0] == L'\0') return std::string();
  const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  out.resize(static_cast<size_t>(n - 1));
  return out;
}

std::unique_ptr<platform::DeviceControl> OpenSimulated(const wine_driver::SessionFiles& files,
                                                       uint32_t& error) {
  return sim::OpenSimulatedDevice(files.state_file, files.trace_file, error);
}

// Saved here rather than when the device is destroyed, so that a failure
// reaches the log.
bool SaveSimulated(platform::DeviceControl& device, std::string& problem) {
  auto* simulated = dynamic_cast<sim::SimulatedDevice*>(&device);
  return simulated == nullptr || simulated->Save(problem);
}

wine_driver::SessionQueue* g_queue = nullptr;
OrnBridgeCompletion g_complete = nullptr;

}  // namespace

extern "C" {

uint32_t OrnBridgeStart(OrnBridgeCompletion complete) {
  if (complete == nullptr) return wine_driver::kErrorInvalidHandle;
  try {
    auto queue = std::make_unique<wine_driver::SessionQueue>(complete, OpenSimulated, SaveSimulated);
    queue->Start();
    delete g_queue;  // the stopped queue of an earlier load, if the DLL stayed loaded
    g_queue = queue.release();
    g_complete = complete;
  } catch (...) {
    return kErrorNotEnoughMemory;
  }
  return 0;
}

// The stopped queue stays: a request that still comes in fails at once
// instead of finding no queue.
void OrnBridgeStop(void) {
  if (g_queue != nullptr) g_queue->Stop();
}

void OrnBridgeOpen(void* session, void* request, const OrnBridgeSettings* settings) {
  try {
    wine_driver::SessionFiles files;
    files.state_file = Utf8(settings->state_file);
    files.trace_file = Utf8(settings->trace_file);
    files.log_file = Utf8(settings->log_file);
    g_queue->Open(session, request, std::move(files));
  } catch (...) {
    g_complete(request, kErrorNotEnoughMemory, 0);
  }
}

void OrnBridgeControl(void* session, void* request, uint32_t code, uint8_t* buffer,
                      uint32_t in_len, uint32_t out_len) {
  try {
    g_queue->Control(session, request, code, buffer, in_len, out_len);
  } catch (...) {
    g_complete(request, kErrorNotEnoughMemory, 0);
  }
}

void OrnBridgeClose(void* session, void* request) {
  try {
    g_queue->Close(session, request);
  } catch (...) {
    g_complete(request, 0, 0);
  }
}

}  // extern "C"
