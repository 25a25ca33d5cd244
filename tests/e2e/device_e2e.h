// Shared set-up of the device command end-to-end tests: a temporary
// simulated controller, runs of the built orn5300cli against it, and the
// trace of each run.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "support/sim_trace.h"
#include "support/tool_runner.h"

namespace device_e2e {

using nlohmann::json;

class SimDevice {
 public:
  explicit SimDevice(const json& state = json::object()) { SetState(state); }

  void SetState(const json& state) { test::WriteFile(state_, state.dump()); }
  json State() const { return json::parse(test::ReadFile(state_)); }
  std::string File(const std::string& name) const { return dir_.File(name); }

  // Runs the CLI against this device; the trace holds this run only.
  test::RunResult Run(const std::vector<std::string>& args) {
    std::remove(trace_.c_str());
    return test::RunCli(args, {{"ORN5300_SIM", state_}, {"ORN5300_SIM_TRACE", trace_}}, "",
                        dir_.path());
  }
  std::vector<json> Trace() const { return test::ReadTrace(trace_); }
  std::vector<json> Requests() const { return test::TraceRequests(trace_); }
  std::vector<int> Sleeps() const { return test::TraceSleeps(trace_); }

  // The trace as compact words: "OP param data" for requests ("0x..." in
  // lower case), "sleep N" for sleeps.
  std::vector<std::string> Events() const {
    std::vector<std::string> out;
    for (const json& e : Trace()) {
      if (e.contains("sleep_ms")) {
        out.push_back("sleep " + std::to_string(e["sleep_ms"].get<int>()));
        continue;
      }
      std::string word = e["op"].get<std::string>() + " " + e["param"].get<std::string>();
      const std::string data = e.value("data", "");
      if (!data.empty()) word += " " + data;
      std::transform(word.begin(), word.end(), word.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      out.push_back(word);
    }
    return out;
  }

 private:
  test::TempDir dir_;
  std::string state_ = dir_.File("state.json");
  std::string trace_ = dir_.File("trace.jsonl");
};

// True when the CLI runs commands against the simulator (both landed in this
// build); checked once by running the driver-version query.
inline bool SimulatorReady() {
  static const bool ready = [] {
    SimDevice dev;
    const test::RunResult r = dev.Run({"-G", "v"});
    return r.exit_code == 0 && r.out.find("Driver Major Version 1\n") != std::string::npos;
  }();
  return ready;
}

}  // namespace device_e2e

#define SKIP_UNLESS_SIMULATOR_READY()                                                  \
  do {                                                                                 \
    if (!device_e2e::SimulatorReady()) {                                               \
      GTEST_SKIP() << "orn5300cli does not yet run commands against the simulator"; \
    }                                                                                  \
  } while (0)
